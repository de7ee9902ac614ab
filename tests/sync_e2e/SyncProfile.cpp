#include "SyncProfile.h"

#include "EventLoopWait.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QStandardPaths>

using namespace std::chrono_literals;

namespace snipjar::test {

namespace {

// Where each thread of a process that hangs is, when gdb is at hand; empty otherwise.
QString stacksOf(qint64 processID) {
    if (processID <= 0 || QStandardPaths::findExecutable(QStringLiteral("gdb")).isEmpty()) {
        return {};
    }
    QProcess gdb;
    gdb.start(QStringLiteral("gdb"),
              {"-p", QString::number(processID), "-batch", "-ex", "thread apply all bt 25"});
    gdb.waitForFinished(60000);
    return QStringLiteral("; its threads:\n") +
           QString::fromLocal8Bit(gdb.readAllStandardOutput().right(20000));
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

} // namespace

SyncProfile::SyncProfile(const QString& name, const QString& deviceID)
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
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        environment.insert(QString::fromLatin1(variable), path);
    }
    environment.insert(QStringLiteral("SNIPJAR_DEVICE_ID"), deviceID);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    // No keyring: the device token is kept in the private file. The bus address names a socket
    // that does not exist, so connecting fails at once; without any address, libdbus would start a
    // bus of its own through the X display (autolaunch), which can hang the application's start.
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                       QStringLiteral("unix:path=") + folder.filePath(QStringLiteral("no-bus")));
}

SyncProfile::~SyncProfile() {
    stopProcess(snipjar);
    for (const std::unique_ptr<QProcess>& client : clients) {
        client->kill();
        client->waitForFinished(5000);
    }
    stopProcess(xvfb);
}

bool SyncProfile::startDisplay() {
    // Xvfb writes the display number it chose to the descriptor it is given: here its stdout.
    xvfb.setProcessChannelMode(QProcess::SeparateChannels);
    xvfb.start(QStringLiteral("Xvfb"),
               {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                QStringLiteral("0"), QStringLiteral("1280x800x24"), QStringLiteral("-nolisten"),
                QStringLiteral("tcp"), QStringLiteral("-noreset")});
    QByteArray number;
    const bool started = waitUntil(
        [&] {
            number += xvfb.readAllStandardOutput();
            return number.contains('\n') || xvfb.state() == QProcess::NotRunning;
        },
        60s);
    if (!started || !number.contains('\n')) {
        lastError =
            QStringLiteral("Xvfb did not start: ") + QString::fromLocal8Bit(xvfb.readAllStandardError());
        return false;
    }
    displayName = QLatin1Char(':') + QString::fromLatin1(number.trimmed());
    environment.insert(QStringLiteral("DISPLAY"), displayName);
    return true;
}

int SyncProfile::signIn(const QString& server, const QString& user, const QString& password) {
    const QString configFolder = folder.filePath(QStringLiteral("config/Snipjar"));
    QDir().mkpath(configFolder);
    {
        QSettings settings(configFolder + QStringLiteral("/Snipjar.conf"), QSettings::IniFormat);
        settings.setValue(QStringLiteral("didOnboard"), true);
        settings.setValue(QStringLiteral("syncEnabled"), true);
    }
    int exitCode = -1;
    run({QStringLiteral("sync"), QStringLiteral("sign-in"), server, user}, &exitCode,
        password.toUtf8() + '\n');
    return exitCode;
}

bool SyncProfile::startSnipjar() {
    snipjar.setProcessEnvironment(environment);
    snipjar.start(QStringLiteral(SNIPJAR_EXECUTABLE), QStringList{});
    if (!snipjar.waitForStarted(10000)) {
        lastError = QStringLiteral("snipjar did not start");
        return false;
    }
    const QString socket = folder.filePath(QStringLiteral("runtime/Snipjar/instance.socket"));
    if (!waitUntil([&] { return QFile::exists(socket) || snipjar.state() == QProcess::NotRunning; }, 60s) ||
        !QFile::exists(socket)) {
        lastError = QStringLiteral("snipjar did not get ready") + stacksOf(snipjar.processId());
        return false;
    }
    return true;
}

QByteArray SyncProfile::run(const QStringList& arguments, int* exitCode, const QByteArray& input) {
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

QJsonArray SyncProfile::list() {
    return QJsonDocument::fromJson(run({QStringLiteral("list"), QStringLiteral("--json")})).array();
}

QJsonObject SyncProfile::rowTitled(const QString& title) {
    for (const QJsonValue& row : list()) {
        if (row.toObject().value(QStringLiteral("title")).toString() == title) {
            return row.toObject();
        }
    }
    return {};
}

QProcess* SyncProfile::startClient(const QString& program, const QStringList& arguments) {
    auto process = std::make_unique<QProcess>();
    process->setProcessEnvironment(environment);
    process->start(program, arguments);
    process->waitForStarted(10000);
    clients.push_back(std::move(process));
    return clients.back().get();
}

void SyncProfile::copyWithXclip(const QByteArray& bytes, const QString& target) {
    QProcess* xclip =
        startClient(QStringLiteral("xclip"), {QStringLiteral("-quiet"), QStringLiteral("-selection"),
                                              QStringLiteral("clipboard"), QStringLiteral("-t"), target});
    xclip->write(bytes);
    xclip->closeWriteChannel();
}

QProcess* SyncProfile::copyWithOwner(const QStringList& targetsAndValues) {
    return startClient(QStringLiteral(SNIPJAR_OWNER_HELPER), targetsAndValues);
}

QByteArray SyncProfile::log() {
    logged += snipjar.readAllStandardError();
    return "---- " + name.toUtf8() + " (" + displayName.toUtf8() + ") ----\n" + logged;
}

} // namespace snipjar::test
