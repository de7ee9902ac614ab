#include "CliRunner.h"

#include "ClipStoreTestSupport.h"
#include "app/SingleInstance.h"
#include "platform/AppPaths.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <functional>
#include <pwd.h>
#include <sys/fsuid.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace snipjar;
using namespace snipjar::test;

namespace {

// Runs the body (system calls only) in a child whose effective user is `nobody`, with this user's
// file access so that it reaches the private runtime folder.
pid_t forkAsUser(uid_t user, const std::function<int()>& body) {
    const pid_t child = ::fork();
    if (child == 0) {
        ::_exit(::seteuid(user) == 0 && ::setfsuid(::getuid()) >= 0 ? body() : 90);
    }
    return child;
}

sockaddr_un unixAddress(const QByteArray& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.constData(), sizeof address.sun_path - 1);
    return address;
}

} // namespace

// Copies are captured into the history that list shows; a second copy asks the first for the panel,
// exits at once and leaves the first running.
TEST(AppProcess, CapturesListsAndStaysSingle) {
    TestEnvironment environment;
    QProcess app;
    app.start(QStringLiteral(SNIPJAR_EXECUTABLE), {});
    ASSERT_TRUE(app.waitForStarted());

    SelectionOwners owners;
    QProcess* xclip = owners.xclip("copied from xclip \xE2\x9C\x93\nsecond line");
    ASSERT_TRUE(waitUntil([] { return listed().size() == 1; }, 10000))
        << "the copy did not reach the history";
    const QJsonValue row = listed()[0];
    EXPECT_EQ(row["title"].toString(), "copied from xclip \u2713\nsecond line");
    EXPECT_TRUE(listed({"--limit", "0"}).isEmpty());
    // The plain listing keeps one row per line, even for a title with a line break.
    EXPECT_EQ(runCli({"list"}).out.count('\n'), 1);
    xclip->kill();

    QByteArray log;
    const CliRun second = runCli({});
    EXPECT_EQ(second.exitCode, 0) << second.err.constData();
    EXPECT_TRUE(waitUntil([&] { return (log += app.readAllStandardError()).contains("Panel requested"); }))
        << log.constData();

    // The first run shows the welcome window. Run from the build folder, it never makes the build's
    // program start at every login (an installed Snipjar may be named instead).
    EXPECT_TRUE(waitUntil([] { return windowShown(QStringLiteral("^Welcome to Snipjar$")); }));
    EXPECT_FALSE(fileContents(environment.path("config/autostart/app.snipjar.Snipjar.desktop"))
                     .contains(QFileInfo(QStringLiteral(SNIPJAR_EXECUTABLE)).path().toUtf8()));
    app.terminate();
    EXPECT_TRUE(app.waitForFinished(10000));
    // Quitting with the welcome window open leaves onboarding for the next start.
    EXPECT_FALSE(UserSettings::didOnboard());
}

// A store that cannot be opened on disk keeps the history in memory and says so in an alert.
TEST(AppProcess, AStoreThatCannotBeOpenedIsReported) {
    TestEnvironment environment;
    UserSettings::setValue(UserSettings::didOnboardKey, true);
    // A file where the store's folder belongs: no folder can be made there, not even by root.
    QFile blocker(environment.path("data/Snipjar"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QProcess app;
    app.start(QStringLiteral(SNIPJAR_EXECUTABLE), {});
    ASSERT_TRUE(app.waitForStarted());
    EXPECT_TRUE(waitUntil([] { return windowShown(QStringLiteral("save your history")); }, 10000));
    EXPECT_EQ(app.state(), QProcess::Running);
    app.terminate();
    EXPECT_TRUE(app.waitForFinished(10000));
}

// A copy that has just started holds the lock a moment before it listens. A second copy started in
// that moment waits for the socket and reaches the first; it looks at no display before.
TEST(AppSingleInstance, SecondCopyReachesAFirstThatListensLate) {
    TestEnvironment environment;
    SingleInstance first;
    ASSERT_TRUE(AppPaths::ensurePrivateFolder(AppPaths::runtimeFolder()) && first.lock());
    int activations = 0;
    QObject::connect(&first, &SingleInstance::activationRequested, [&] { ++activations; });

    QProcess second;
    second.setProcessEnvironment(withoutDisplay());
    second.start(QStringLiteral(SNIPJAR_EXECUTABLE), {});
    ASSERT_TRUE(second.waitForStarted());
    QThread::msleep(300);
    first.listen();
    EXPECT_EQ(modeOf(first.socketPath()), 0600u);
    EXPECT_TRUE(waitUntil([&] { return activations == 1 && second.state() == QProcess::NotRunning; }));
    EXPECT_EQ(second.exitCode(), 0) << second.readAllStandardError().constData();
}

// Without XDG_RUNTIME_DIR another user can make the runtime folder first: one open to others, owned
// by another user or a symbolic link is refused by the application and the commands, named.
TEST(AppSingleInstance, RefusesARuntimeFolderOthersCanReach) {
    TestEnvironment environment;
    const uid_t nobody = ::getpwnam("nobody")->pw_uid;
    const std::function<void(const QByteArray&)> prepare[] = {
        [](const QByteArray& folder) {
            ::mkdir(folder.constData(), 0777);
            ::chmod(folder.constData(), 0777);
        },
        [nobody](const QByteArray& folder) {
            ::mkdir(folder.constData(), 0700);
            ::chown(folder.constData(), nobody, ::getgid());
        },
        [&](const QByteArray& folder) {
            ::mkdir(QFile::encodeName(environment.path("elsewhere")).constData(), 0700);
            ::symlink(QFile::encodeName(environment.path("elsewhere")).constData(), folder.constData());
        },
    };
    for (size_t index = 0; index < std::size(prepare); ++index) {
        QProcessEnvironment shared = withoutDisplay();
        shared.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        shared.insert(QStringLiteral("TMPDIR"), environment.path(QString::number(index)));
        QDir().mkpath(environment.path(QString::number(index)));
        const QString folder = environment.path(QStringLiteral("%1/Snipjar-%2").arg(index).arg(::getuid()));
        prepare[index](QFile::encodeName(folder));
        for (const QStringList& arguments : {QStringList{}, QStringList{"list"}}) {
            const CliRun refused = runCli(arguments, {}, shared);
            EXPECT_EQ(refused.exitCode, 1) << index << arguments.join(' ').toStdString();
            EXPECT_TRUE(refused.err.contains(QFile::encodeName(folder))) << refused.err.constData();
        }
    }
}

// Only processes of the same user talk over the instance socket, in either direction.
TEST(AppSingleInstance, TalksOnlyToProcessesOfTheSameUser) {
    TestEnvironment environment;
    UserSettings::setValue(UserSettings::didOnboardKey, true);
    const uid_t nobody = ::getpwnam("nobody")->pw_uid;
    auto paths = std::make_unique<SingleInstance>();
    ASSERT_TRUE(AppPaths::ensurePrivateFolder(AppPaths::runtimeFolder()) && paths->lock());
    const QByteArray socketPath = QFile::encodeName(paths->socketPath());
    const pid_t forger = forkAsUser(nobody, [&] {
        const sockaddr_un address = unixAddress(socketPath);
        const int server = ::socket(AF_UNIX, SOCK_STREAM, 0);
        ::bind(server, reinterpret_cast<const sockaddr*>(&address), sizeof address);
        ::listen(server, 4);
        for (int client; (client = ::accept(server, nullptr, nullptr)) >= 0; ::close(client)) {
            char request[4096];
            [[maybe_unused]] ssize_t ignored = ::read(client, request, sizeof request);
            const char forged[] = "{\"status\":0,\"output\":\"Zm9yZ2VkCg==\",\"error\":\"\"}\n";
            ignored = ::send(client, forged, sizeof forged - 1, MSG_NOSIGNAL);
        }
        return 0;
    });
    for (const QStringList& arguments :
         {QStringList{"list"}, QStringList{"add", "--text", "secret"}, QStringList{}}) {
        const CliRun refused = runCli(arguments, {}, withoutDisplay());
        EXPECT_EQ(refused.exitCode, 1) << arguments.join(' ').toStdString();
        EXPECT_TRUE(refused.err.contains("served by another user")) << refused.err.constData();
        EXPECT_FALSE(refused.out.contains("forged"));
    }
    ::kill(forger, SIGKILL);
    ::waitpid(forger, nullptr, 0);
    QFile::remove(paths->socketPath());
    paths.reset();

    QProcess app;
    app.start(QStringLiteral(SNIPJAR_EXECUTABLE), {});
    ASSERT_TRUE(snipjarIsReady());
    const pid_t asker = forkAsUser(nobody, [&] {
        const sockaddr_un address = unixAddress(socketPath);
        const int connection = ::socket(AF_UNIX, SOCK_STREAM, 0);
        char answer[256];
        // The answer to a request the running copy understands, or the end of the connection.
        const bool answered =
            ::connect(connection, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
            ::write(connection, "{}\n", 3) == 3 && ::read(connection, answer, sizeof answer) > 0;
        return answered ? 1 : 0;
    });
    int status = -1;
    ::waitpid(asker, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(runCli({"list"}).exitCode, 0);
    app.terminate();
    EXPECT_TRUE(app.waitForFinished(10000));
}
