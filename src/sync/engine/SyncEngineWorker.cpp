#include "sync/engine/SyncEngineWorker.h"

#include <pthread.h>

#include <thread>

namespace snipjar::sync {

namespace {

std::atomic<int> abandoned = 0;

void serve(const std::shared_ptr<SyncEngineWorker::Shared>& shared) {
    for (;;) {
        std::function<void()> task;
        {
            std::unique_lock lock(shared->mutex);
            shared->wake.wait(lock, [&] { return *shared->stopped || !shared->tasks.empty(); });
            if (*shared->stopped) {
                return;
            }
            task = std::move(shared->tasks.front());
            shared->tasks.pop_front();
        }
        task();
    }
}

} // namespace

SyncEngineWorker::SyncEngineWorker(std::shared_ptr<cloud::CloudDatabase> database)
    : shared(std::make_shared<Shared>()) {
    shared->database = std::move(database);
    std::thread([shared = shared] {
        pthread_setname_np(pthread_self(), "sync-engine");
        serve(shared);
        if (*shared->stopped) {
            --abandoned;
        }
    }).detach();
}

SyncEngineWorker::~SyncEngineWorker() {
    stop();
}

void SyncEngineWorker::post(std::function<void()> task) {
    {
        std::lock_guard lock(shared->mutex);
        if (*shared->stopped) {
            return;
        }
        shared->tasks.push_back(std::move(task));
    }
    shared->wake.notify_one();
}

void SyncEngineWorker::deliver(Shared& shared, const std::function<void()>& post) {
    // Under the lock, so that stop() either comes first (nothing is posted) or after the result is
    // in the receiver's queue, where the receiver's destruction removes it.
    std::lock_guard lock(shared.mutex);
    if (!*shared.stopped) {
        post();
    }
}

void SyncEngineWorker::stop() {
    std::deque<std::function<void()>> dropped;
    {
        std::lock_guard lock(shared->mutex);
        if (*shared->stopped) {
            return;
        }
        *shared->stopped = true;
        ++abandoned;
        dropped.swap(shared->tasks);
    }
    shared->wake.notify_one();
    shared->database->cancel();
}

std::shared_ptr<const std::atomic<bool>> SyncEngineWorker::stopFlag() const {
    return shared->stopped;
}

int SyncEngineWorker::abandonedThreads() {
    return abandoned;
}

} // namespace snipjar::sync
