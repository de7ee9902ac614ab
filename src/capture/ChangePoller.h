#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace snipjar {

// Looks at a change count at a fixed interval on a small thread of its own and calls onChange (on
// that thread) when it moved since the last look. A poll that finds nothing costs a thread wake-up
// of a few microseconds; the GUI thread's event loop is woken only for a change.
class ChangePoller {
public:
    // `count` must be safe to call from the poller's thread.
    ChangePoller(std::chrono::milliseconds interval, std::function<long long()> count,
                 std::function<void()> onChange);
    // Stops the thread; onChange is not called after this returns.
    ~ChangePoller();
    ChangePoller(const ChangePoller&) = delete;
    ChangePoller& operator=(const ChangePoller&) = delete;

private:
    void run();

    std::chrono::milliseconds interval;
    std::function<long long()> count;
    std::function<void()> onChange;
    std::mutex mutex;
    std::condition_variable stopRequested;
    bool stopping = false;
    std::thread thread;
};

} // namespace snipjar
