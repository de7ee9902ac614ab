#pragma once

#include <pqxx/connection>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace snipjar::server {

// A handful of connections of the service role, handed out one per request on the database
// threads. A connection whose server went away is replaced before it is handed out, and one whose
// lease ended in an exception is not reused: the next lease makes a new one.
class ConnectionPool {
public:
    ConnectionPool(std::string connectionString, int size);

    class Lease {
    public:
        Lease(ConnectionPool& pool, std::unique_ptr<pqxx::connection> connection);
        ~Lease();
        Lease(const Lease&) = delete;
        Lease& operator=(const Lease&) = delete;
        pqxx::connection& operator*() { return *connection; }

    private:
        ConnectionPool& pool;
        std::unique_ptr<pqxx::connection> connection;
        int exceptionsAtStart;
    };

    // Waits for a free connection; throws pqxx::broken_connection when none can be made.
    Lease acquire();

    // A new connection with the service's session settings (schema, statement and idle timeouts).
    static std::unique_ptr<pqxx::connection> connect(const std::string& connectionString);

private:
    std::string connectionString;
    std::mutex mutex;
    std::condition_variable available;
    std::vector<std::unique_ptr<pqxx::connection>> idle;
    int free;
};

} // namespace snipjar::server
