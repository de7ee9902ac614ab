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

// SIGINT and SIGTERM end the watch at once with status 0, also while it waits for a command or
// for a reader of its output: each row is flushed as it is written, so nothing is left half done
// but the row being written. A command running is left to finish on its own.
void endWatch(int) {
    ::_exit(0);
}

void endOnSignals() {
    struct sigaction action {};
    action.sa_handler = endWatch;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

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
// environment. A command that fails is reported on standard error.
class ClipCommand {
public:
    explicit ClipCommand(const QString& command)
        : command(command.toLocal8Bit()) {}

    void run(const QJsonObject& row) {
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
        char shell[] = "/bin/sh";
        char dashC[] = "-c";
        char* const arguments[] = {shell, dashC, command.data(), nullptr};
        pid_t child = -1;
        const int spawned = ::posix_spawn(&child, shell, &actions, nullptr, arguments, environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(input);
        if (spawned != 0) {
            fail(QStringLiteral("cannot run /bin/sh for clip %1").arg(id));
            return;
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
    endOnSignals();
    if (!socket.writeAll(InstanceClient::requestLine(request), 5000)) {
        return ended();
    }
    std::optional<ClipCommand> clipCommand;
    if (commandLine.exec) {
        clipCommand.emplace(*commandLine.exec);
    }
    QByteArray buffer;
    bool acknowledged = false;
    while (true) {
        pollfd watched{socket.descriptor(), POLLIN, 0};
        if (::poll(&watched, 1, -1) < 0) {
            continue;
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
                clipCommand->run(QJsonDocument::fromJson(line).object());
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
