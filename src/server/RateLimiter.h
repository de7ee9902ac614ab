#pragma once

#include <chrono>
#include <deque>
#include <mutex>
#include <string>
#include <unordered_map>

namespace snipjar::server {

// Counts events per key in a sliding window: wrong passwords per account and per address, and
// requests per account. In memory, per service process.
class RateLimiter {
public:
    RateLimiter(int allowed, std::chrono::seconds window)
        : allowed(allowed)
        , window(window) {}

    // Whether the key has used up its events in the current window.
    bool exhausted(const std::string& key);
    void record(const std::string& key);
    // Records the event and tells whether it was still allowed.
    bool take(const std::string& key) {
        const bool over = exhausted(key);
        if (!over) {
            record(key);
        }
        return !over;
    }

private:
    void expire(std::deque<std::chrono::steady_clock::time_point>& events,
                std::chrono::steady_clock::time_point now) const;

    int allowed;
    std::chrono::seconds window;
    std::mutex mutex;
    std::unordered_map<std::string, std::deque<std::chrono::steady_clock::time_point>> events;
};

} // namespace snipjar::server
