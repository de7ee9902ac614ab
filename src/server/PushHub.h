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
// commits of every process (the NOTIFY payload is the account id only) and wakes that account's
// sockets; each socket then re-checks its device and sends "changed".
class PushHub {
public:
    using Wake = std::function<void()>;

    explicit PushHub(std::string connectionString);
    ~PushHub();

    // Most push sockets one account may hold open on one process.
    static constexpr size_t socketsPerAccount = 20;

    // Registers a socket's wake-up; the returned handle unregisters it when destroyed. None when
    // the account holds its most sockets already.
    std::shared_ptr<void> add(std::int64_t account, Wake wake);
    void notify(std::int64_t account);
    void notifyAll();

    void start();
    void stop();

private:
    void listen();

    std::string connectionString;
    std::mutex mutex;
    std::unordered_multimap<std::int64_t, std::pair<std::uint64_t, Wake>> sockets;
    std::uint64_t nextId = 0;
    std::atomic<bool> running = false;
    std::thread listener;
};

} // namespace snipjar::server
