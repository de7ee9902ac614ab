#pragma once

#include "server/ConnectionPool.h"
#include "server/RateLimiter.h"
#include "server/ServiceTypes.h"

#include <QJsonObject>

class QUrl;

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace snipjar::server {

// The protocol's calls (docs/sync-service.md) over the database. Runs on the database threads;
// every call is one or a few short transactions on a pooled connection, and every row it reads
// or writes is keyed by the caller's account id.
class Service {
public:
    struct Limits {
        std::int64_t maxRequestBytes = 96LL * 1024 * 1024;
        std::int64_t maxAssetBytes = 256LL * 1024 * 1024;
    };

    Service(ConnectionPool& pool, Limits limits);

    Reply handle(const Request& request);
    // The caller a bearer token names, when the token is valid now.
    std::optional<Caller> authenticate(const std::string& authorization);
    // Whether the device still exists (a push socket re-checks after every notice).
    bool deviceAlive(const Caller& caller);
    // Removes tombstones older than the retention, one account per transaction; how many went.
    std::int64_t prune(std::optional<std::chrono::seconds> retention);

    const Limits& limits() const { return bounds; }

private:
    Reply signIn(const Request& request);
    Reply account(pqxx::connection& db, const Caller& caller);
    Reply devices(pqxx::connection& db, const Caller& caller);
    Reply revokeDevice(pqxx::connection& db, const Caller& caller, const std::string& id);
    Reply saveZone(pqxx::connection& db, const Caller& caller, const std::string& zone);
    Reply uploadAsset(pqxx::connection& db, const Caller& caller, const Request& request);
    Reply downloadAsset(pqxx::connection& db, const Caller& caller, const std::string& id);
    Reply modify(pqxx::connection& db, const Caller& caller, const QJsonObject& body);
    Reply changes(pqxx::connection& db, const Caller& caller, const std::string& zone,
                  std::optional<std::int64_t> since);
    // The account's encryption state, the password check and pairing mailboxes; none when the
    // request is not one of these calls.
    std::optional<Reply> handleAccountCall(pqxx::connection& db, const Caller& caller, const Request& request,
                                           const std::string& path, const QUrl& url);
    Reply encryptionState(pqxx::connection& db, const Caller& caller);
    Reply changeEncryption(pqxx::connection& db, const Caller& caller, const QByteArray& body);
    Reply clearEncryption(pqxx::connection& db, const Caller& caller, const std::string& keyId);
    Reply checkPassword(pqxx::connection& db, const Caller& caller, const Request& request);
    Reply openMailbox(pqxx::connection& db, const Caller& caller, const std::string& mailbox);
    Reply closeMailbox(pqxx::connection& db, const Caller& caller, const std::string& mailbox);
    Reply writeSlot(pqxx::connection& db, const Caller& caller, const std::string& mailbox,
                    const std::string& slot, const QByteArray& body);
    Reply readSlot(pqxx::connection& db, const Caller& caller, const std::string& mailbox,
                   const std::string& slot, std::chrono::steady_clock::time_point waitUntil);
    // A pairing call that named no live mailbox: counted, as guessing names is what it may be.
    Reply mailboxMiss(const Caller& caller);

    ConnectionPool& pool;
    Limits bounds;
    RateLimiter wrongPasswordsPerAccount{5, std::chrono::minutes(15)};
    RateLimiter wrongPasswordsPerAddress{20, std::chrono::minutes(15)};
    RateLimiter requestsPerAccount{400, std::chrono::seconds(4)};
    RateLimiter mailboxesOpened{10, std::chrono::minutes(10)};
    RateLimiter mailboxMisses{20, std::chrono::minutes(10)};
};

// Admin commands and sign-in share these.
std::string hashPassword(const std::string& password);
bool verifyPassword(const std::string& hash, const std::string& password);

} // namespace snipjar::server
