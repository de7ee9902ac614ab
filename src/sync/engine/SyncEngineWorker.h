#pragma once

#include "sync/cloud/CloudDatabase.h"

#include <QObject>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace snipjar::sync {

// The thread on which the engine's blocking work runs: the cloud calls and the building of the
// records to send. Each call's result is handed back to a receiver on its own thread as a queued
// call, posted only until stop(); the receiver calls stop() before it goes (the destructor does).
//
// The thread's life is its own: stop() cancels the call in progress and returns at once, and the
// thread ends by itself once that call has come back. A connection attempt to a server that never
// answers cannot be cut short and ends at its own timeout, so switching sync off, changing the
// server or quitting never waits on the network; at the end of the process a thread still waiting
// is simply abandoned (everything it could have changed here was saved before).
class SyncEngineWorker {
public:
    // What the worker thread shares with its owner; the thread keeps it alive after the owner is gone.
    struct Shared {
        std::shared_ptr<cloud::CloudDatabase> database;
        std::shared_ptr<std::atomic<bool>> stopped = std::make_shared<std::atomic<bool>>(false);
        // Guards the tasks, and the posting of results against stop().
        std::mutex mutex;
        std::condition_variable wake;
        std::deque<std::function<void()>> tasks;
    };

    explicit SyncEngineWorker(std::shared_ptr<cloud::CloudDatabase> database);
    ~SyncEngineWorker();
    SyncEngineWorker(const SyncEngineWorker&) = delete;
    SyncEngineWorker& operator=(const SyncEngineWorker&) = delete;

    // Runs call(database) on the worker thread, then then(result) on the receiver's thread. What
    // call captures must be its own (values, shared pointers): it may run after the receiver is gone.
    template <typename Call, typename Then> void run(QObject* receiver, Call call, Then then) {
        auto shared = this->shared;
        post([shared, receiver, call = std::move(call), then = std::move(then)]() mutable {
            auto result = std::make_shared<decltype(call(*shared->database))>(call(*shared->database));
            deliver(*shared, [receiver, then = std::move(then), result]() mutable {
                QMetaObject::invokeMethod(
                    receiver, [then = std::move(then), result]() mutable { then(std::move(*result)); },
                    Qt::QueuedConnection);
            });
        });
    }

    // Drops the calls not yet started, cancels the one in progress and returns without waiting;
    // no result is delivered after it.
    void stop();
    // Set by stop(), for long work inside a call to look at between its steps; any thread.
    std::shared_ptr<const std::atomic<bool>> stopFlag() const;

    // Worker threads of the process that were stopped and have not ended yet (tests).
    static int abandonedThreads();

private:
    void post(std::function<void()> task);
    static void deliver(Shared& shared, const std::function<void()>& post);

    std::shared_ptr<Shared> shared;
};

} // namespace snipjar::sync
