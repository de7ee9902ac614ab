#include "server/PushHub.h"

#include <pqxx/connection>
#include <pqxx/notification>
#include <pqxx/result>

#include <charconv>
#include <chrono>
#include <iostream>
#include <limits>
#include <optional>

namespace snipjar::server {

namespace {

const std::string revocationSuffix = ":devices";

class Receiver : public pqxx::notification_receiver {
public:
    Receiver(pqxx::connection& connection, const std::string& channel,
             std::function<void(const std::string&)> handle)
        : pqxx::notification_receiver(connection, channel)
        , handle(std::move(handle)) {}

    void operator()(const std::string& payload, int) override { handle(payload); }

private:
    std::function<void(const std::string&)> handle;
};

std::optional<std::int64_t> accountOf(const std::string& number) {
    std::int64_t account = 0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), account);
    if (number.empty() || error != std::errc() || end != number.data() + number.size()) {
        return std::nullopt;
    }
    return account;
}

} // namespace

PushHub::PushHub(std::string connectionString)
    : connectionString(std::move(connectionString)) {}

PushHub::~PushHub() {
    stop();
}

std::shared_ptr<void> PushHub::add(std::int64_t account, Wake wake) {
    return add(sockets, account, std::move(wake), socketsPerAccount);
}

std::shared_ptr<void> PushHub::awaitMailboxes(std::int64_t account, Wake wake) {
    // The waiting requests themselves are bounded by the account's request rate.
    return add(mailboxWaiters, account, std::move(wake), std::numeric_limits<size_t>::max());
}

std::shared_ptr<void> PushHub::add(Registry& registry, std::int64_t account, Wake wake, size_t most) {
    std::lock_guard lock(mutex);
    if (registry.count(account) >= most) {
        return nullptr;
    }
    const std::uint64_t id = ++nextId;
    registry.emplace(account, std::make_pair(id, std::move(wake)));
    // A handle that is not empty, so that callers can tell it from a refusal.
    return std::shared_ptr<void>(new char(0), [this, &registry, account, id](char* handle) {
        delete handle;
        std::lock_guard relock(mutex);
        auto [first, last] = registry.equal_range(account);
        for (auto it = first; it != last; ++it) {
            if (it->second.first == id) {
                registry.erase(it);
                break;
            }
        }
    });
}

void PushHub::notifyMailboxes(std::int64_t account) {
    std::vector<Wake> wakes;
    {
        std::lock_guard lock(mutex);
        auto [first, last] = mailboxWaiters.equal_range(account);
        for (auto it = first; it != last; ++it) {
            wakes.push_back(it->second.second);
        }
    }
    for (const auto& wake : wakes) {
        wake(false);
    }
}

std::string PushHub::changePayload(std::int64_t account) {
    return std::to_string(account);
}

std::string PushHub::revocationPayload(std::int64_t account) {
    return std::to_string(account) + revocationSuffix;
}

bool PushHub::notifyPayload(const std::string& payload) {
    const bool revocation =
        payload.size() > revocationSuffix.size() &&
        payload.compare(payload.size() - revocationSuffix.size(), std::string::npos, revocationSuffix) == 0;
    const auto account =
        accountOf(payload.substr(0, payload.size() - (revocation ? revocationSuffix.size() : 0)));
    if (!account) {
        return false;
    }
    notify(*account, revocation);
    return true;
}

void PushHub::notify(std::int64_t account, bool checkDevice) {
    std::vector<Wake> wakes;
    {
        std::lock_guard lock(mutex);
        auto [first, last] = sockets.equal_range(account);
        for (auto it = first; it != last; ++it) {
            wakes.push_back(it->second.second);
        }
    }
    for (const auto& wake : wakes) {
        wake(checkDevice);
    }
}

void PushHub::notifyAll() {
    std::vector<Wake> wakes;
    {
        std::lock_guard lock(mutex);
        for (const auto& entry : sockets) {
            wakes.push_back(entry.second.second);
        }
    }
    for (const auto& wake : wakes) {
        wake(true);
    }
}

void PushHub::start() {
    running = true;
    listener = std::thread([this] { listen(); });
}

void PushHub::stop() {
    running = false;
    if (listener.joinable()) {
        listener.join();
    }
}

void PushHub::listen() {
    bool first = true;
    while (running) {
        try {
            pqxx::connection connection(connectionString);
            Receiver changes(connection, "snipjar_changed",
                             [this](const std::string& payload) { notifyPayload(payload); });
            Receiver mailboxes(connection, "snipjar_pairing", [this](const std::string& payload) {
                if (const auto account = accountOf(payload)) {
                    notifyMailboxes(*account);
                }
            });
            // Commits may have been missed while the listener was away: every socket hears.
            if (!first) {
                notifyAll();
            }
            first = false;
            while (running) {
                connection.await_notification(0, 500000);
            }
        } catch (const std::exception& e) {
            std::cerr << "push listener: " << e.what() << '\n';
            std::this_thread::sleep_for(std::chrono::seconds(1));
        }
    }
}

} // namespace snipjar::server
