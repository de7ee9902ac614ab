// The operator's commands: the database and its schema, and the accounts.
#include "server/PushHub.h"
#include "server/SchemaMigrations.h"
#include "server/ServerOptions.h"

#include <pqxx/connection>
#include <pqxx/nontransaction>
#include <pqxx/result>
#include <pqxx/transaction>

#include <termios.h>
#include <unistd.h>

#include <iostream>
#include <regex>

namespace snipjar::server {

namespace {

// The password from the terminal with echo off, or the first line of standard input: never from
// the command line, where `ps` would show it.
std::string readPassword() {
    std::string password;
    termios saved{};
    const bool terminal = ::isatty(STDIN_FILENO) && ::tcgetattr(STDIN_FILENO, &saved) == 0;
    if (terminal) {
        std::cerr << "Password: " << std::flush;
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    std::getline(std::cin, password);
    if (terminal) {
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        std::cerr << '\n';
    }
    return password;
}

int fail(const std::string& message) {
    std::cerr << "snipjar-server: " << message << '\n';
    return 1;
}

std::unique_ptr<pqxx::connection> open(const ServerOptions& options) {
    return ConnectionPool::connect(options.database);
}

} // namespace

int initDatabase(const ServerOptions& options) {
    try {
        std::unique_ptr<pqxx::connection> connection;
        try {
            connection = std::make_unique<pqxx::connection>(options.database);
        } catch (const pqxx::broken_connection&) {
            // The database may not exist yet: make it from the maintenance database.
            static const std::regex name(R"(dbname\s*=\s*(\w+))");
            std::smatch match;
            if (!std::regex_search(options.database, match, name)) {
                throw;
            }
            pqxx::connection maintenance(std::regex_replace(options.database, name, "dbname=postgres"));
            pqxx::nontransaction create(maintenance);
            create.exec("CREATE DATABASE " + create.quote_name(match[1].str()));
            connection = std::make_unique<pqxx::connection>(options.database);
        }
        std::cout << migrateSchema(*connection) << '\n';
    } catch (const std::exception& e) {
        return fail(std::string("init failed: ") + e.what());
    }
    if (!options.selfSignedDir.empty()) {
        std::string certificate, key;
        if (!makeSelfSignedCertificate(options.selfSignedDir, certificate, key)) {
            return 1;
        }
        std::cout << "certificate = " << certificate << "\nkey = " << key << '\n';
    }
    return 0;
}

int addUser(const ServerOptions& options) {
    if (options.arguments.size() != 1) {
        return fail("add-user NAME (the password from the terminal or standard input)");
    }
    const std::string password = readPassword();
    if (password.size() < 8) {
        return fail("the password needs at least 8 characters");
    }
    try {
        auto connection = open(options);
        pqxx::work tx(*connection);
        if (!tx.exec_params("SELECT 1 FROM accounts WHERE user_name = $1", options.arguments[0]).empty()) {
            return fail("the user exists already");
        }
        const auto id = tx.exec_params1("INSERT INTO accounts (user_name, password_hash) VALUES ($1, $2) "
                                        "RETURNING account_id",
                                        options.arguments[0], hashPassword(password))[0]
                            .as<std::int64_t>();
        tx.commit();
        std::cout << "account " << id << '\n';
    } catch (const std::exception&) {
        // The statement held the password hash: never print what the database said about it.
        return fail("add-user failed");
    }
    return 0;
}

int removeUser(const ServerOptions& options) {
    if (options.arguments.size() != 1) {
        return fail("remove-user NAME");
    }
    try {
        auto connection = open(options);
        pqxx::work tx(*connection);
        const pqxx::result row =
            tx.exec_params("SELECT account_id FROM accounts WHERE user_name = $1", options.arguments[0]);
        if (row.empty()) {
            return fail("no such user");
        }
        const auto id = row[0][0].as<std::int64_t>();
        // Zones take the records, references and spans with them; devices and assets go with the
        // account.
        tx.exec_params0("DELETE FROM zones WHERE account_id = $1", id);
        tx.exec_params0("DELETE FROM accounts WHERE account_id = $1", id);
        tx.exec_params("SELECT pg_notify('snipjar_changed', $1)", PushHub::revocationPayload(id));
        tx.commit();
    } catch (const std::exception& e) {
        return fail(std::string("remove-user failed: ") + e.what());
    }
    return 0;
}

int listUsers(const ServerOptions& options) {
    try {
        auto connection = open(options);
        pqxx::read_transaction tx(*connection);
        for (const auto& row : tx.exec("SELECT account_id, user_name, used_bytes, quota_bytes, "
                                       "(SELECT count(*) FROM devices d WHERE d.account_id = a.account_id) "
                                       "FROM accounts a ORDER BY user_name")) {
            std::cout << row[1].as<std::string>() << "\taccount " << row[0].as<std::int64_t>() << "\tused "
                      << row[2].as<std::int64_t>() << "\tquota " << row[3].as<std::int64_t>() << "\tdevices "
                      << row[4].as<std::int64_t>() << '\n';
        }
    } catch (const std::exception& e) {
        return fail(std::string("list-users failed: ") + e.what());
    }
    return 0;
}

int setQuota(const ServerOptions& options) {
    if (options.arguments.size() != 2) {
        return fail("set-quota NAME BYTES");
    }
    try {
        const long long bytes = std::stoll(options.arguments[1]);
        auto connection = open(options);
        pqxx::work tx(*connection);
        if (tx.exec_params("UPDATE accounts SET quota_bytes = $2 WHERE user_name = $1 RETURNING 1",
                           options.arguments[0], bytes)
                .empty()) {
            return fail("no such user");
        }
        tx.commit();
    } catch (const std::exception& e) {
        return fail(std::string("set-quota failed: ") + e.what());
    }
    return 0;
}

} // namespace snipjar::server
