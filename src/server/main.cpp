// snipjar-server: the sync service in front of PostgreSQL, and its admin commands.
#include "server/SchemaMigrations.h"
#include "server/ServerOptions.h"

#include <sodium.h>

#include <condition_variable>
#include <iostream>
#include <mutex>
#include <thread>

using namespace snipjar::server;

namespace {

const char* const usage =
    "usage: snipjar-server [--config FILE] [--database CONNINFO] COMMAND\n"
    "  init [--self-signed DIR]   create the database and schema (and a self-signed certificate)\n"
    "  add-user NAME              password from the terminal or standard input\n"
    "  remove-user NAME           delete the account and all its data\n"
    "  list-users                 with storage used\n"
    "  set-quota NAME BYTES\n"
    "  prune [--retention-seconds N]  remove old tombstones now\n"
    "  serve [--listen ADDR:PORT] [--certificate FILE --key FILE] [--max-request-bytes N]\n"
    "        [--max-asset-bytes N] [--max-connections N] [--prune-interval-seconds N]\n";

int serve(const ServerOptions& options) {
    // A database made by an older version is brought up to date before the first request.
    try {
        pqxx::connection connection(options.database);
        const std::string outcome = migrateSchema(connection);
        if (outcome != "schema present") {
            std::cerr << "snipjar-server: " << outcome << '\n';
        }
    } catch (const std::exception& e) {
        std::cerr << "snipjar-server: the schema cannot be brought up to date: " << e.what() << '\n';
        return 1;
    }
    ConnectionPool pool(options.database, options.listen.databaseThreads + 1);
    Service service(pool, options.limits);
    PushHub hub(options.database);
    hub.onRevocation([&service](std::optional<std::int64_t> account) { service.forgetDevices(account); });
    // Tombstone maintenance runs beside the requests, one account per transaction.
    std::mutex mutex;
    std::condition_variable stopping;
    bool stopped = false;
    std::thread pruner([&] {
        std::unique_lock lock(mutex);
        while (!stopping.wait_for(lock, options.pruneInterval, [&] { return stopped; })) {
            lock.unlock();
            try {
                service.prune(options.retention);
            } catch (const std::exception& e) {
                std::cerr << "prune failed: " << e.what() << '\n';
            }
            lock.lock();
        }
    });
    const int status = serveHttp(options.listen, service, hub);
    {
        std::lock_guard lock(mutex);
        stopped = true;
    }
    stopping.notify_all();
    pruner.join();
    return status;
}

} // namespace

int main(int argc, char** argv) {
    if (sodium_init() < 0) {
        std::cerr << "snipjar-server: libsodium cannot start\n";
        return 1;
    }
    const ServerOptions options = ServerOptions::parse(argc, argv);
    if (!options.error.empty()) {
        std::cerr << "snipjar-server: " << options.error << '\n' << usage;
        return 2;
    }
    const std::string& command = options.command;
    if (command == "init") {
        return initDatabase(options);
    }
    if (command == "add-user") {
        return addUser(options);
    }
    if (command == "remove-user") {
        return removeUser(options);
    }
    if (command == "list-users") {
        return listUsers(options);
    }
    if (command == "set-quota") {
        return setQuota(options);
    }
    if (command == "prune") {
        try {
            ConnectionPool pool(options.database, 1);
            Service service(pool, options.limits);
            std::cout << service.prune(options.retention) << '\n';
            return 0;
        } catch (const std::exception& e) {
            std::cerr << "snipjar-server: prune failed: " << e.what() << '\n';
            return 1;
        }
    }
    if (command == "serve") {
        return serve(options);
    }
    std::cerr << usage;
    return 2;
}
