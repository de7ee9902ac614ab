#include "EventLoopWait.h"
#include "PostgresCluster.h"
#include "ServiceServer.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>
#include <gtest/gtest.h>

#include <iostream>
#include <memory>
#include <vector>

using namespace snipjar::test;
using namespace std::chrono_literals;

namespace {

// Where each thread of a process that hangs is, when gdb is at hand; empty otherwise.
QString stacksOf(qint64 processID) {
    if (processID <= 0 || QStandardPaths::findExecutable("gdb").isEmpty()) {
        return {};
    }
    QProcess gdb;
    gdb.start("gdb", {"-p", QString::number(processID), "-batch", "-ex", "thread apply all bt 25"});
    gdb.waitForFinished(60000);
    return "; its threads:\n" + QString::fromLocal8Bit(gdb.readAllStandardOutput().right(20000));
}

void stopProcess(QProcess& process) {
    if (process.state() == QProcess::NotRunning) {
        return;
    }
    process.terminate();
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}

// One computer of a sync user: its own Xvfb display, its own XDG folders with a Snipjar.conf that
// switches sync on, no keyring (the device token goes to the private file), its own device id, and
// the running snipjar. Everything it started is stopped on destruction.
class SyncProfile {
public:
    SyncProfile(const QString& name, const QString& deviceID)
        : name(name)
        , device(deviceID)
        , environment(QProcessEnvironment::systemEnvironment()) {
        const std::pair<const char*, const char*> folders[] = {{"runtime", "XDG_RUNTIME_DIR"},
                                                               {"data", "XDG_DATA_HOME"},
                                                               {"cache", "XDG_CACHE_HOME"},
                                                               {"config", "XDG_CONFIG_HOME"}};
        for (const auto& [sub, variable] : folders) {
            const QString path = folder.filePath(QString::fromLatin1(sub));
            QDir().mkpath(path);
            QFile::setPermissions(path,
                                  QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
            environment.insert(QString::fromLatin1(variable), path);
        }
        environment.insert("SNIPJAR_DEVICE_ID", deviceID);
        environment.insert("QT_QPA_PLATFORM", "xcb");
        // No keyring: the device token is kept in the private file. The bus address names a socket
        // that does not exist, so connecting fails at once; without any address, libdbus would start a
        // bus of its own through the X display (autolaunch), which can hang the application's start.
        environment.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + folder.filePath("no-bus"));
    }
    ~SyncProfile() {
        stopProcess(snipjar);
        for (const std::unique_ptr<QProcess>& client : clients) {
            client->kill();
            client->waitForFinished(5000);
        }
        stopProcess(xvfb);
    }

    // Starts the display; false (with error()) when Xvfb does not come up.
    bool startDisplay() {
        // Xvfb writes the display number it chose to the descriptor it is given: here its stdout.
        xvfb.setProcessChannelMode(QProcess::SeparateChannels);
        xvfb.start("Xvfb",
                   {"-displayfd", "1", "-screen", "0", "1280x800x24", "-nolisten", "tcp", "-noreset"});
        QByteArray number;
        const bool started = waitUntil(
            [&] {
                number += xvfb.readAllStandardOutput();
                return number.contains('\n') || xvfb.state() == QProcess::NotRunning;
            },
            60s);
        if (!started || !number.contains('\n')) {
            lastError = "Xvfb did not start: " + QString::fromLocal8Bit(xvfb.readAllStandardError());
            return false;
        }
        displayName = QLatin1Char(':') + QString::fromLatin1(number.trimmed());
        environment.insert("DISPLAY", displayName);
        return true;
    }
    // Switches sync on in the settings and signs in with `snipjar sync sign-in`, the password on
    // standard input; its exit status.
    int signIn(const QString& server, const QString& user, const QString& password) {
        const QString configFolder = folder.filePath(QStringLiteral("config/Snipjar"));
        QDir().mkpath(configFolder);
        {
            QSettings settings(configFolder + "/Snipjar.conf", QSettings::IniFormat);
            settings.setValue("didOnboard", true);
            settings.setValue("syncEnabled", true);
        }
        int exitCode = -1;
        run({"sync", "sign-in", server, user}, &exitCode, password.toUtf8() + '\n');
        return exitCode;
    }
    // Starts snipjar and waits for its instance socket.
    bool startSnipjar() {
        snipjar.setProcessEnvironment(environment);
        snipjar.start(QStringLiteral(SNIPJAR_EXECUTABLE), QStringList{});
        if (!snipjar.waitForStarted(10000)) {
            lastError = "snipjar did not start";
            return false;
        }
        const QString socket = folder.filePath(QStringLiteral("runtime/Snipjar/instance.socket"));
        if (!waitUntil([&] { return QFile::exists(socket) || snipjar.state() == QProcess::NotRunning; },
                       60s) ||
            !QFile::exists(socket)) {
            lastError = "snipjar did not get ready" + stacksOf(snipjar.processId());
            return false;
        }
        return true;
    }

    const QString& deviceID() const { return device; }
    const QString& error() const { return lastError; }

    // A command-line run of snipjar in this profile; its standard output, empty on failure.
    QByteArray run(const QStringList& arguments, int* exitCode = nullptr, const QByteArray& input = {}) {
        QProcess command;
        command.setProcessEnvironment(environment);
        command.start(QStringLiteral(SNIPJAR_EXECUTABLE), arguments);
        command.write(input);
        command.closeWriteChannel();
        if (!command.waitForFinished(60000)) {
            command.kill();
            command.waitForFinished();
            return {};
        }
        if (exitCode != nullptr) {
            *exitCode = command.exitCode();
        }
        return command.readAllStandardOutput();
    }
    // `snipjar list --json`; empty on failure.
    QJsonArray list() { return QJsonDocument::fromJson(run({"list", "--json"})).array(); }
    // The first listed row whose field has the value, or an empty object.
    QJsonObject row(const QString& field, const QString& value) {
        for (const QJsonValue& row : list()) {
            if (row.toObject().value(field).toString() == value) {
                return row.toObject();
            }
        }
        return {};
    }

    // xclip owns the clipboard of this display with the text.
    void copyWithXclip(const QByteArray& bytes) {
        QProcess* xclip = startClient("xclip", {"-quiet", "-selection", "clipboard", "-t", "UTF8_STRING"});
        xclip->write(bytes);
        xclip->closeWriteChannel();
    }
    // A program that offers the targets and values (pairs) on the clipboard; it prints "ready" and
    // then "request TARGET" for every request it answers.
    QProcess* copyWithOwner(const QStringList& targetsAndValues) {
        return startClient(QStringLiteral(SNIPJAR_OWNER_HELPER), targetsAndValues);
    }

    // What snipjar wrote to stderr so far, with the profile's name.
    QByteArray log() {
        logged += snipjar.readAllStandardError();
        return "---- " + name.toUtf8() + " (" + displayName.toUtf8() + ") ----\n" + logged;
    }

private:
    QProcess* startClient(const QString& program, const QStringList& arguments) {
        auto process = std::make_unique<QProcess>();
        process->setProcessEnvironment(environment);
        process->start(program, arguments);
        process->waitForStarted(10000);
        clients.push_back(std::move(process));
        return clients.back().get();
    }

    QString name;
    QString device;
    QTemporaryDir folder;
    QProcessEnvironment environment;
    QString displayName;
    QString lastError;
    QProcess xvfb;
    QProcess snipjar;
    QByteArray logged;
    std::vector<std::unique_ptr<QProcess>> clients;
};

constexpr auto syncTimeout = 90s;

const QString password = QStringLiteral("password-1");

// Two computers of one sync user and their snipjar-server, each signed in through the command line.
class SyncEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(cluster.isReady()) << cluster.error().toStdString();
        ASSERT_TRUE(server.start());
        // The test's own device of the account gives the server's address.
        const snipjar::cloud::ServiceAccount account = server.newAccount("e2e");
        address = account.server.toString();
        user = server.userOf(account);
        for (SyncProfile* profile : {&first, &second}) {
            ASSERT_TRUE(profile->startDisplay()) << profile->error().toStdString();
            // A wrong password signs nothing in; the right one does.
            ASSERT_EQ(profile->signIn(address, user, "wrong"), 1);
            ASSERT_EQ(profile->signIn(address, user, password), 0);
            ASSERT_TRUE(profile->startSnipjar()) << profile->error().toStdString();
        }
    }

    void TearDown() override {
        if (HasFailure()) {
            std::cerr << first.log().constData() << '\n' << second.log().constData() << std::endl;
        }
    }

    // How many server rows (records, or assets) hold the text among their bytes.
    int serverRowsHolding(const QString& text) {
        QString literal = text;
        literal.replace(QLatin1Char('\''), "''");
        const std::optional<QString> count = cluster.adminSQL(
            QStringLiteral(
                "SELECT (SELECT count(*) FROM snipjar_service.records WHERE position(convert_to('%1', "
                "'UTF8') in fields) > 0) + (SELECT count(*) FROM snipjar_service.asset_chunks WHERE "
                "position(convert_to('%1', 'UTF8') in data) > 0)")
                .arg(literal));
        return count ? count->toInt() : -1;
    }

    int devices() {
        return cluster.adminSQL("SELECT count(*) FROM snipjar_service.devices").value_or("-1").toInt();
    }

    PostgresCluster cluster;
    ServiceServer server{cluster};
    QString address;
    QString user;
    SyncProfile first{"first computer", "1E2E0001-0000-4000-8000-000000000001"};
    SyncProfile second{"second computer", "1E2E0002-0000-4000-8000-000000000002"};
};

} // namespace

// A secret and a file copy stay on the computer they were made on: the server never holds their
// bytes, while the ordinary copy made after them reaches it and the other computer. A copy on either
// computer shows up on the other with the id of the computer it was made on, and a deletion on the
// second removes it from the first. Signing out revokes the computer's token on the server.
TEST_F(SyncEndToEnd, CopiesTravelWithTheirComputersIdSecretsAndFilesNeverAndDeletionsComeBack) {
    const QString secret = QStringLiteral("hunter2-e2e-secret");
    QProcess* secretOwner =
        first.copyWithOwner({"UTF8_STRING", secret, "x-kde-passwordManagerHint", "secret"});
    // The first computer has looked at the copy (its hint, or its text were it not a secret) before
    // anything else is copied.
    QByteArray requests;
    ASSERT_TRUE(waitUntil(
        [&] {
            requests += secretOwner->readAllStandardOutput();
            return requests.contains("request x-kde-passwordManagerHint") ||
                   requests.contains("request UTF8_STRING");
        },
        syncTimeout));
    QTemporaryDir files;
    const QString path = files.filePath(QStringLiteral("quarterly-e2e-report.pdf"));
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("%PDF-1.4");
    }
    const QString uri = QUrl::fromLocalFile(path).toString();
    first.copyWithOwner({"text/uri-list", uri + "\r\n", "x-special/gnome-copied-files", "copy\n" + uri});
    ASSERT_TRUE(waitUntil([&] { return !first.row("kind", "file").isEmpty(); }, syncTimeout));
    EXPECT_EQ(first.row("kind", "file").value("store").toString(), "local-only");
    const QString text = QStringLiteral("copied on the first computer");
    first.copyWithXclip(text.toUtf8());
    ASSERT_TRUE(waitUntil([&] { return serverRowsHolding(text) > 0; }, syncTimeout));
    ASSERT_TRUE(waitUntil([&] { return !second.row("title", text).isEmpty(); }, syncTimeout));
    // Anything sent from the first computer has been sent by now, in order.
    EXPECT_EQ(serverRowsHolding(secret), 0);
    EXPECT_EQ(serverRowsHolding("quarterly-e2e-report"), 0);
    EXPECT_EQ(second.list().size(), 1);
    const QJsonObject arrived = second.row("title", text);
    EXPECT_EQ(arrived.value("device").toString(), first.deviceID());
    EXPECT_EQ(arrived.value("store").toString(), "synced");
    // And the other way, with the second computer's own id.
    const QString reply = QStringLiteral("copied on the second computer");
    second.copyWithXclip(reply.toUtf8());
    ASSERT_TRUE(waitUntil([&] { return !first.row("title", reply).isEmpty(); }, syncTimeout));
    EXPECT_EQ(first.row("title", reply).value("device").toString(), second.deviceID());
    second.run({"delete", arrived.value("id").toString()});
    EXPECT_TRUE(second.row("title", text).isEmpty());
    EXPECT_TRUE(waitUntil([&] { return first.row("title", text).isEmpty(); }, syncTimeout));
    const int signedIn = devices();
    int exitCode = -1;
    second.run({"sync", "sign-out"}, &exitCode);
    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(devices(), signedIn - 1);
    EXPECT_EQ(second.run({"config", "syncServer"}).trimmed(), address.toUtf8());
    EXPECT_TRUE(waitUntil([&] { return second.run({"status"}).contains("sync: off"); }, syncTimeout))
        << second.run({"status"}).constData();
}
