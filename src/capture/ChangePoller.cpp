#include "capture/ChangePoller.h"

namespace snipjar {

ChangePoller::ChangePoller(std::chrono::milliseconds interval, std::function<long long()> count,
                           std::function<void()> onChange)
    : interval(interval)
    , count(std::move(count))
    , onChange(std::move(onChange)) {
    thread = std::thread([this] { run(); });
}

ChangePoller::~ChangePoller() {
    {
        std::lock_guard lock(mutex);
        stopping = true;
    }
    stopRequested.notify_one();
    thread.join();
}

void ChangePoller::run() {
    long long seen = count();
    std::unique_lock lock(mutex);
    while (!stopRequested.wait_for(lock, interval, [this] { return stopping; })) {
        lock.unlock();
        const long long now = count();
        if (now != seen) {
            seen = now;
            onChange();
        }
        lock.lock();
    }
}

} // namespace snipjar
