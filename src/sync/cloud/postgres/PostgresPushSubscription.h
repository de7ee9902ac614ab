#pragma once

#include "sync/cloud/CloudDatabase.h"

#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace snipjar::cloud {

// Listens on the owner's notice channel on a connection and thread of its own. Calls onNotice
// for every notice, once when it first listens (a change made while it was connecting is not
// missed) and after every reconnect; reconnects after 0.5 s, doubling up to 30 s, while the
// server is away. After destruction onNotice is never called again; the thread is woken at once
// and left to end by itself (a connection attempt to an unreachable host ends at its timeout).
class PostgresPushSubscription : public PushSubscription {
public:
    PostgresPushSubscription(std::string connectionString, std::function<void()> onNotice);
    ~PostgresPushSubscription() override;

    PostgresPushSubscription(const PostgresPushSubscription&) = delete;
    PostgresPushSubscription& operator=(const PostgresPushSubscription&) = delete;

    static constexpr int firstRetryMilliseconds = 500;
    static constexpr int longestRetryMilliseconds = 30000;

    struct State;

private:
    std::shared_ptr<State> state;
    std::thread thread;
};

} // namespace snipjar::cloud
