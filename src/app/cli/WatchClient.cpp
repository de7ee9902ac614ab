#include "app/cli/WatchClient.h"

#include "app/SingleInstance.h"
#include "app/cli/CommandOutcome.h"
#include "app/cli/InstanceClient.h"
#include "app/cli/TerminalText.h"

#include <QDeadlineTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <poll.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/signalfd.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace snipjar {

namespace {

// A row is a title of at most 5,000 characters and a few fields; anything longer is no row.
constexpr qsizetype largestRowBytes = 1 << 20;
constexpr qsizetype readChunkBytes = 64 * 1024;
// After the connection ends, how long the lock is watched to tell a Snipjar that quit from one
// that dropped this watch.
constexpr int quitWaitMilliseconds = 2000;
constexpr int quitPollMilliseconds = 20;

int fail(const QString& message) {
    return CommandOutcome::failure(message).print();
}

// SIGINT and SIGTERM arrive on a descriptor that poll() watches with the socket, so that one
// coming at any moment ends the watch cleanly; the commands run get the usual signals back.
class Signals {
public:
    Signals() {
        sigemptyset(&handled);
        sigaddset(&handled, SIGINT);
        sigaddset(&handled, SIGTERM);
        sigprocmask(SIG_BLOCK, &handled, &previous);
        descriptor = ::signalfd(-1, &handled, SFD_CLOEXEC | SFD_NONBLOCK);
    }
    ~Signals() {
        ::close(descriptor);
        sigprocmask(SIG_SETMASK, &previous, nullptr);
    }
    int fd() const { return descriptor; }
    const sigset_t& mask() const { return previous; }

private:
    sigset_t handled{};
    sigset_t previous{};
    int descriptor = -1;
};

// Why the connection ended: Snipjar quit when its lock is let go soon after; otherwise it dropped
// this watch, which fell behind.
int ended() {
    const QDeadlineTimer deadline(quitWaitMilliseconds);
    while (!deadline.hasExpired()) {
        if (!SingleInstance().isHeldElsewhere()) {
            return fail(QStringLiteral("Snipjar quit; the watch ends"));
        }
        QThread::msleep(quitPollMilliseconds);
    }
    return fail(QStringLiteral("Snipjar ended this watch: it fell more than 4 MB behind"));
}

// Runs the command for one clip, with what show prints for it on its standard input (a memory
// file, so that a command that reads nothing never blocks this process) and its fields in the
// environment. True when it ran to the end with status 0, or a signal asked the watch to end
// (`interrupted` then set).
class ClipCommand {
public:
    ClipCommand(const QString& command, const Signals& signalsWatched)
        : command(command.toLocal8Bit())
        , signalsWatched(signalsWatched) {}

    void run(const QJsonObject& row, bool& interrupted) {
        const QString id = row.value(QStringLiteral("id")).toString();
        CommandLine show;
        show.command = CommandLine::Command::show;
        show.ids = QStringList{id};
        // A clip deleted meanwhile (or one that cannot be read) gives the command no input.
        const std::optional<CommandOutcome> content = InstanceClient::send(show);
        const int input = ::memfd_create("snipjar-watch-clip", MFD_CLOEXEC);
        if (input < 0) {
            fail(QStringLiteral("no memory file for the content of clip %1").arg(id));
            return;
        }
        if (content && content->status == 0) {
            const QByteArray& bytes = content->output;
            for (qsizetype done = 0; done < bytes.size();) {
                const ssize_t wrote = ::write(input, bytes.constData() + done, size_t(bytes.size() - done));
                if (wrote <= 0 && errno != EINTR) {
                    break;
                }
                done += std::max<ssize_t>(wrote, 0);
            }
            ::lseek(input, 0, SEEK_SET);
        }
        const QString deviceName = row.value(QStringLiteral("deviceName")).toString();
        const std::pair<const char*, QString> fields[] = {
            {"SNIPJAR_ID", id},
            {"SNIPJAR_KIND", row.value(QStringLiteral("kind")).toString()},
            {"SNIPJAR_TITLE", row.value(QStringLiteral("title")).toString()},
            {"SNIPJAR_DEVICE",
             deviceName.isEmpty() ? row.value(QStringLiteral("device")).toString() : deviceName},
            {"SNIPJAR_SOURCE", row.value(QStringLiteral("source")).toString()},
            {"SNIPJAR_CREATED_AT", row.value(QStringLiteral("createdAt")).toString()},
        };
        for (const auto& [name, value] : fields) {
            ::setenv(name, value.toLocal8Bit().constData(), 1);
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, input, STDIN_FILENO);
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
        posix_spawnattr_setsigmask(&attributes, &signalsWatched.mask());
        char shell[] = "/bin/sh";
        char dashC[] = "-c";
        char* const arguments[] = {shell, dashC, command.data(), nullptr};
        pid_t child = -1;
        const int spawned = ::posix_spawn(&child, shell, &actions, &attributes, arguments, environ);
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
        ::close(input);
        if (spawned != 0) {
            fail(QStringLiteral("cannot run /bin/sh for clip %1").arg(id));
            return;
        }
        // A signal ends the watch at once; the command is left to finish on its own.
        if (const int childFd = int(::syscall(SYS_pidfd_open, child, 0)); childFd >= 0) {
            while (true) {
                pollfd watched[] = {{childFd, POLLIN, 0}, {signalsWatched.fd(), POLLIN, 0}};
                if (::poll(watched, 2, -1) < 0) {
                    continue;
                }
                if (watched[1].revents != 0) {
                    interrupted = true;
                    ::close(childFd);
                    return;
                }
                if (watched[0].revents != 0) {
                    break;
                }
            }
            ::close(childFd);
        }
        int status = 0;
        while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
        if (WIFEXITED(status) && WEXITSTATUS(status) != 0) {
            fail(QStringLiteral("the command for clip %1 ended with status %2")
                     .arg(id)
                     .arg(WEXITSTATUS(status)));
        } else if (WIFSIGNALED(status)) {
            fail(QStringLiteral("the command for clip %1 was ended by signal %2")
                     .arg(id)
                     .arg(WTERMSIG(status)));
        }
    }

private:
    QByteArray command;
    const Signals& signalsWatched;
};

} // namespace

int WatchClient::run(const CommandLine& commandLine) {
    LocalSocket socket;
    if (const std::optional<CommandOutcome> failure = InstanceClient::connect(socket)) {
        return failure->print();
    }
    if (!socket.isValid()) {
        return fail(QStringLiteral("Snipjar is not running; watch needs it"));
    }
    CommandLine request = commandLine;
    // The command gets the fields one by one, so it is sent the rows as JSON.
    request.json = commandLine.json || commandLine.exec.has_value();
    request.exec.reset();
    const Signals signalsWatched;
    if (!socket.writeAll(InstanceClient::requestLine(request), 5000)) {
        return ended();
    }
    std::optional<ClipCommand> clipCommand;
    if (commandLine.exec) {
        clipCommand.emplace(*commandLine.exec, signalsWatched);
    }
    QByteArray buffer;
    bool acknowledged = false;
    while (true) {
        pollfd watched[] = {{socket.descriptor(), POLLIN, 0}, {signalsWatched.fd(), POLLIN, 0}};
        if (::poll(watched, 2, -1) < 0) {
            continue;
        }
        if (watched[1].revents != 0) {
            return 0;
        }
        const qsizetype before = buffer.size();
        buffer.resize(before + readChunkBytes);
        const ssize_t got = ::read(socket.descriptor(), buffer.data() + before, size_t(readChunkBytes));
        buffer.resize(before + std::max<ssize_t>(got, 0));
        if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) {
            return acknowledged ? ended() : fail(QStringLiteral("the running Snipjar did not answer"));
        }
        qsizetype start = 0;
        for (qsizetype end = buffer.indexOf('\n', before); end >= 0; end = buffer.indexOf('\n', start)) {
            const QByteArray line = buffer.sliced(start, end - start + 1);
            start = end + 1;
            if (!acknowledged) {
                // The first line answers the request, as every command's answer does.
                const QJsonDocument answer = QJsonDocument::fromJson(line);
                const CommandOutcome outcome =
                    answer.isObject() ? CommandOutcome::fromJson(answer.object())
                                      : CommandOutcome::failure(QStringLiteral(
                                            "the running Snipjar gave an answer that cannot be read"));
                if (outcome.status != 0) {
                    return outcome.print();
                }
                acknowledged = true;
            } else if (clipCommand) {
                bool interrupted = false;
                clipCommand->run(QJsonDocument::fromJson(line).object(), interrupted);
                if (interrupted) {
                    return 0;
                }
            } else {
                TerminalText::write(stdout, line);
            }
        }
        buffer.remove(0, start);
        if (buffer.size() > largestRowBytes) {
            return fail(QStringLiteral("the running Snipjar sent a row that is too long"));
        }
    }
}

} // namespace snipjar
