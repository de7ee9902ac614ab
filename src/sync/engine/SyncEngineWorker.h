#pragma once

#include "sync/cloud/CloudDatabase.h"

#include <QObject>
#include <QThread>

#include <memory>

namespace snipjar::sync {

// The thread on which the engine's blocking cloud calls run. Each call's result is handed back to
// a receiver on its own thread as a queued call, which Qt drops when the receiver is gone; the
// receiver must outlive the worker (stop() joins the thread).
class SyncEngineWorker {
public:
    explicit SyncEngineWorker(std::shared_ptr<cloud::CloudDatabase> database);
    ~SyncEngineWorker();
    SyncEngineWorker(const SyncEngineWorker&) = delete;
    SyncEngineWorker& operator=(const SyncEngineWorker&) = delete;

    // Runs call(database) on the worker thread, then then(result) on the receiver's thread.
    template <typename Call, typename Then> void run(QObject* receiver, Call call, Then then) {
        auto database = this->database;
        QMetaObject::invokeMethod(
            context.get(),
            [database, receiver, call = std::move(call), then = std::move(then)]() mutable {
                auto result = std::make_shared<decltype(call(*database))>(call(*database));
                QMetaObject::invokeMethod(
                    receiver, [then = std::move(then), result]() mutable { then(std::move(*result)); },
                    Qt::QueuedConnection);
            },
            Qt::QueuedConnection);
    }

    // Cancels the call in progress (again and again, so that one just starting is caught too)
    // until the thread has ended; later run() calls do nothing.
    void stop();

private:
    std::shared_ptr<cloud::CloudDatabase> database;
    QThread thread;
    std::unique_ptr<QObject> context;
};

} // namespace snipjar::sync
