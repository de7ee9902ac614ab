#include "server/RateLimiter.h"

namespace snipjar::server {

void RateLimiter::expire(std::deque<std::chrono::steady_clock::time_point>& list,
                         std::chrono::steady_clock::time_point now) const {
    while (!list.empty() && now - list.front() > window) {
        list.pop_front();
    }
}

bool RateLimiter::exhausted(const std::string& key) {
    std::lock_guard lock(mutex);
    const auto found = events.find(key);
    if (found == events.end()) {
        return false;
    }
    expire(found->second, std::chrono::steady_clock::now());
    if (found->second.empty()) {
        events.erase(found);
        return false;
    }
    return static_cast<int>(found->second.size()) >= allowed;
}

void RateLimiter::record(const std::string& key) {
    std::lock_guard lock(mutex);
    const auto now = std::chrono::steady_clock::now();
    auto& list = events[key];
    expire(list, now);
    list.push_back(now);
    // Bounded memory whatever a client sends: a key never holds more than it is allowed.
    while (static_cast<int>(list.size()) > allowed) {
        list.pop_front();
    }
}

} // namespace snipjar::server
