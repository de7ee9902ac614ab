#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

namespace snipjar::server {

// The push sockets of this process by account. One connection per process LISTENs for the
// commits of every process and wakes that account's sockets, which send "changed". The NOTIFY
// payload is the account id, followed by ":devices" when a device of the account was revoked: only
// then do the sockets re-check their devices, so that an ordinary change costs no query per socket.
class PushHub {
public:
    // Called with true when the socket's device may have been revoked.
    using Wake = std::function<void(bool checkDevice)>;

    // The NOTIFY payload of a change of the account, and of a revocation of one of its devices.
    static std::string changePayload(std::int64_t account);
    static std::string revocationPayload(std::int64_t account);

    explicit PushHub(std::string connectionString);
    ~PushHub();

    // Most push sockets one account may hold open on one process.
    static constexpr size_t socketsPerAccount = 20;

    // Registers a socket's wake-up; the returned handle unregisters it when destroyed. None when
    // the account holds its most sockets already.
    std::shared_ptr<void> add(std::int64_t account, Wake wake);
    void notify(std::int64_t account, bool checkDevice = false);
    // Every socket, devices re-checked: after the listener was away, revocations may have been missed.
    void notifyAll();
    // Wakes the sockets a payload names; false for a payload of another form.
    bool notifyPayload(const std::string& payload);
    // Registers a request waiting for the account's pairing mailboxes to change (by a request to
    // any process: the channel snipjar_pairing, whose payload is the account id), likewise
    // unregistered when the handle goes.
    std::shared_ptr<void> awaitMailboxes(std::int64_t account, Wake wake);
    void notifyMailboxes(std::int64_t account);

    void start();
    void stop();

private:
    using Registry = std::unordered_multimap<std::int64_t, std::pair<std::uint64_t, Wake>>;
    std::shared_ptr<void> add(Registry& registry, std::int64_t account, Wake wake, size_t most);
    void listen();

    std::string connectionString;
    std::mutex mutex;
    Registry sockets;
    Registry mailboxWaiters;
    std::uint64_t nextId = 0;
    std::atomic<bool> running = false;
    std::thread listener;
};

} // namespace snipjar::server
