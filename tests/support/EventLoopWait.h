#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

#include <chrono>
#include <utility>

namespace snipjar::test {

// Runs the event loop until the condition holds or the time is up; true when it holds.
template <typename Condition>
bool waitUntil(Condition condition, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    QDeadlineTimer deadline(timeout);
    while (!condition()) {
        if (deadline.hasExpired()) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    return true;
}

template <typename Condition> bool waitUntil(Condition condition, int timeoutMilliseconds) {
    return waitUntil(std::move(condition), std::chrono::milliseconds(timeoutMilliseconds));
}

// Runs the event loop for a while, so that timers and queued work that should not happen get their
// chance to.
inline void settle(std::chrono::milliseconds duration) {
    QDeadlineTimer deadline(duration);
    while (!deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
}

} // namespace snipjar::test
