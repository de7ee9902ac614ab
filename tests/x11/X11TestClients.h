#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QStringList>
#include <QThread>

#include <functional>
#include <memory>

namespace snipjar::test {

// Runs the event loop until the condition holds or the time is up; true when it holds.
inline bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 5000) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
    }
    return true;
}

// Lets the event loop run for a while (to see that something does not happen).
inline void spinEventLoop(int milliseconds) {
    waitUntil([] { return false; }, milliseconds);
}

// xdotool with arguments; true when it succeeded.
inline bool xdotool(const QStringList& arguments) {
    return QProcess::execute(QStringLiteral("xdotool"), arguments) == 0;
}

// A real xterm, ended when the object goes.
class Xterm {
public:
    explicit Xterm(const QStringList& arguments) {
        process.setProgram(QStringLiteral("xterm"));
        process.setArguments(arguments);
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        process.start();
        process.waitForStarted(5000);
    }
    ~Xterm() {
        process.kill();
        process.waitForFinished(5000);
    }
    Xterm(const Xterm&) = delete;
    Xterm& operator=(const Xterm&) = delete;

    qint64 processID() const { return process.processId(); }
    QProcess& qprocess() { return process; }

private:
    QProcess process;
};

} // namespace snipjar::test

#include <ostream>

// Readable QStrings in test failure messages.
inline void PrintTo(const QString& string, std::ostream* stream) {
    *stream << '"' << string.toStdString() << '"';
}
