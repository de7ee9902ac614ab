#include "server/ConnectionPool.h"

#include <pqxx/nontransaction>

#include <exception>

#include <poll.h>

namespace snipjar::server {

ConnectionPool::ConnectionPool(std::string connectionString, int size)
    : connectionString(std::move(connectionString))
    , free(size) {}

std::unique_ptr<pqxx::connection> ConnectionPool::connect(const std::string& connectionString) {
    auto connection = std::make_unique<pqxx::connection>(connectionString);
    // A statement or a transaction left open by a stuck request must not hold rows for long.
    pqxx::nontransaction setup(*connection);
    setup.exec("SET search_path = snipjar_service; SET statement_timeout = '60s'; "
               "SET idle_in_transaction_session_timeout = '60s'; SET lock_timeout = '30s'");
    return connection;
}

ConnectionPool::Lease ConnectionPool::acquire() {
    std::unique_lock lock(mutex);
    available.wait(lock, [this] { return free > 0; });
    --free;
    std::unique_ptr<pqxx::connection> connection;
    if (!idle.empty()) {
        connection = std::move(idle.back());
        idle.pop_back();
    }
    lock.unlock();
    if (connection) {
        // An idle connection has nothing to read: anything there is its server saying goodbye (a
        // shutdown or restart), or the socket closing. Such a connection still reports itself open
        // until a query on it fails, so it is replaced now rather than failing a request.
        pollfd socket{connection->sock(), POLLIN, 0};
        if (::poll(&socket, 1, 0) != 0) {
            connection.reset();
        }
    }
    if (!connection || !connection->is_open()) {
        try {
            connection = connect(connectionString);
        } catch (...) {
            std::lock_guard relock(mutex);
            ++free;
            available.notify_one();
            throw;
        }
    }
    return Lease(*this, std::move(connection));
}

ConnectionPool::Lease::Lease(ConnectionPool& pool, std::unique_ptr<pqxx::connection> connection)
    : pool(pool)
    , connection(std::move(connection))
    , exceptionsAtStart(std::uncaught_exceptions()) {}

ConnectionPool::Lease::~Lease() {
    std::lock_guard lock(pool.mutex);
    // Whatever failed may have been the connection itself: it is not trusted again.
    const bool failed = std::uncaught_exceptions() > exceptionsAtStart;
    if (!failed && connection && connection->is_open()) {
        pool.idle.push_back(std::move(connection));
    }
    ++pool.free;
    pool.available.notify_one();
}

} // namespace snipjar::server
