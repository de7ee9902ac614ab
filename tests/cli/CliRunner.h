#pragma once

#include "TestEnvironment.h"
#include "X11TestClients.h"
#include "platform/UserSettings.h"

#include <QByteArray>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <gtest/gtest.h>

namespace snipjar::test {

// One finished run of the snipjar binary.
struct CliRun {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

inline QProcessEnvironment withoutDisplay() {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    return environment;
}

// Runs snipjar (or a copy of it) with the arguments, standard input closed after `input`.
inline CliRun runCli(const QStringList& arguments, const QByteArray& input = {},
                     const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment(),
                     const QString& program = QStringLiteral(SNIPJAR_EXECUTABLE)) {
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    process.waitForStarted(30000);
    if (!input.isEmpty()) {
        process.write(input);
    }
    process.closeWriteChannel();
    process.waitForFinished(120000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput(), process.readAllStandardError()};
}

inline QJsonArray listed(const QStringList& extra = {},
                         const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment()) {
    return QJsonDocument::fromJson(runCli(QStringList{"list", "--json"} + extra, {}, environment).out)
        .array();
}

// Writes the bytes to the file, replacing it.
inline bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

// The id `add` printed.
inline QString addedId(const CliRun& run) {
    return QString::fromLatin1(run.out.trimmed());
}

// A running Snipjar in this test's X session, past its welcome window, with its log collected.
class RunningSnipjar : public ::testing::Test {
protected:
    void startSnipjar() {
        UserSettings::setValue(UserSettings::didOnboardKey, true);
        app.start(QStringLiteral(SNIPJAR_EXECUTABLE), {});
        ASSERT_TRUE(app.waitForStarted());
        ASSERT_TRUE(snipjarIsReady(20000));
    }
    void TearDown() override {
        if (app.state() == QProcess::Running) {
            app.terminate();
            app.waitForFinished(20000);
        }
    }
    QByteArray readLog() { return log += app.readAllStandardError(); }
    // Waits until the log holds the line `times` times.
    bool logged(const QByteArray& line, int times = 1) {
        return waitUntil([&] { return readLog().count(line) >= times; }, 20000);
    }

    TestEnvironment environment;
    QProcess app;
    QByteArray log;
};

} // namespace snipjar::test
