#pragma once

#include "sync/cloud/CloudDatabase.h"

#include <atomic>
#include <functional>
#include <string>
#include <thread>

namespace snipjar::cloud {

// Listens on the owner's notice channel on a connection and thread of its own. Calls onNotice
// for every notice, once when it first listens (a change made while it was connecting is not
// missed) and after every reconnect; reconnects after 0.5 s, doubling up to 30 s, while the
// server is away. Destruction stops the thread at once.
class PostgresPushSubscription : public PushSubscription {
public:
    PostgresPushSubscription(std::string connectionString, std::function<void()> onNotice);
    ~PostgresPushSubscription() override;

    PostgresPushSubscription(const PostgresPushSubscription&) = delete;
    PostgresPushSubscription& operator=(const PostgresPushSubscription&) = delete;

    static constexpr int firstRetryMilliseconds = 500;
    static constexpr int longestRetryMilliseconds = 30000;

private:
    void listen();
    // Waits for the stop pipe or the socket (-1: none) for at most timeoutMs (-1: no limit); false
    // when asked to stop.
    bool wait(int socket, int timeoutMs);
    bool listenOnce(bool& wasDown);

    std::string connectionString;
    std::function<void()> onNotice;
    std::atomic<bool> stopping = false;
    int stopPipe[2] = {-1, -1};
    std::thread thread;
};

} // namespace snipjar::cloud
