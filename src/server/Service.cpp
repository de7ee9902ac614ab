#include "server/Service.h"
#include "server/PushHub.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QUrl>
#include <QUrlQuery>

#include <pqxx/binarystring>
#include <pqxx/except>
#include <pqxx/result>
#include <pqxx/transaction>

#include <sodium.h>

#include <iostream>

namespace snipjar::server {

namespace {

unsigned statusOf(ErrorCode code) {
    switch (code) {
    case ErrorCode::notAuthenticated:
        return 401;
    case ErrorCode::permissionFailure:
        return 403;
    case ErrorCode::unknownItem:
    case ErrorCode::zoneNotFound:
        return 404;
    case ErrorCode::invalidArguments:
        return 400;
    case ErrorCode::serverRecordChanged:
        return 409;
    case ErrorCode::changeTokenExpired:
        return 410;
    case ErrorCode::incompatibleVersion:
        return 426;
    case ErrorCode::limitExceeded:
        return 429;
    case ErrorCode::serviceUnavailable:
        return 503;
    case ErrorCode::internalError:
        break;
    }
    return 500;
}

std::string hex(const unsigned char* bytes, size_t size) {
    std::string out(size * 2 + 1, '\0');
    sodium_bin2hex(out.data(), out.size(), bytes, size);
    out.pop_back();
    return out;
}

pqxx::binarystring tokenHash(const std::string& secret) {
    unsigned char digest[crypto_hash_sha256_BYTES];
    crypto_hash_sha256(digest, reinterpret_cast<const unsigned char*>(secret.data()), secret.size());
    return pqxx::binarystring(digest, sizeof(digest));
}

// The part of a path after a prefix, percent-decoded; none when the path does not start so or the
// rest is empty or holds another slash.
std::optional<std::string> tail(const std::string& path, const std::string& prefix,
                                const std::string& suffix = {}) {
    if (path.size() <= prefix.size() + suffix.size() || path.compare(0, prefix.size(), prefix) != 0 ||
        path.compare(path.size() - suffix.size(), suffix.size(), suffix) != 0) {
        return std::nullopt;
    }
    const std::string raw = path.substr(prefix.size(), path.size() - prefix.size() - suffix.size());
    if (raw.find('/') != std::string::npos) {
        return std::nullopt;
    }
    return QUrl::fromPercentEncoding(QByteArray::fromStdString(raw)).toStdString();
}

} // namespace

QJsonObject errorObject(ErrorCode code, const char* description) {
    return {{"code", static_cast<int>(code)}, {"description", QString::fromUtf8(description)}};
}

Reply jsonReply(const QJsonObject& object, unsigned status) {
    return {status, QJsonDocument(object).toJson(QJsonDocument::Compact), {}};
}

Reply errorReply(ErrorCode code, const char* description, bool historyWentBack) {
    QJsonObject error = errorObject(code, description);
    error.insert("historyWentBack", historyWentBack);
    unsigned status = statusOf(code);
    if (code == ErrorCode::limitExceeded && std::string_view(description) == "quota exceeded") {
        status = 507;
    } else if (code == ErrorCode::limitExceeded &&
               std::string_view(description).find("too large") != std::string_view::npos) {
        status = 413;
    }
    return jsonReply({{"error", error}}, status);
}

std::string hashPassword(const std::string& password) {
    char hash[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str(hash, password.data(), password.size(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                          crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0) {
        throw std::runtime_error("out of memory hashing a password");
    }
    return hash;
}

bool verifyPassword(const std::string& hash, const std::string& password) {
    return crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) == 0;
}

namespace {

// A revocation reaches every process at once through the database's notices; the lifetime only
// bounds how long a missed notice could leave a revoked token working.
constexpr std::chrono::seconds knownTokenLifetime{60};
constexpr size_t mostKnownTokens = 100000;

} // namespace

Service::Service(ConnectionPool& pool, Limits limits)
    : pool(pool)
    , bounds(limits) {}

std::optional<Caller> Service::authenticate(const std::string& authorization) {
    static const std::string scheme = "Bearer ";
    if (authorization.compare(0, scheme.size(), scheme) != 0) {
        return std::nullopt;
    }
    const std::string token = authorization.substr(scheme.size());
    const auto dot = token.find('.');
    if (dot == std::string::npos || dot == 0 || dot > 19 || token.size() - dot - 1 != 64) {
        return std::nullopt;
    }
    std::int64_t account = 0;
    try {
        account = std::stoll(token.substr(0, dot));
    } catch (const std::exception&) {
        return std::nullopt;
    }
    const pqxx::binarystring hash = tokenHash(token.substr(dot + 1));
    const auto now = std::chrono::steady_clock::now();
    {
        std::lock_guard lock(knownTokensLock);
        if (const auto known = knownTokens.find(hash.str());
            known != knownTokens.end() && known->second.caller.account == account &&
            now - known->second.checked < knownTokenLifetime) {
            return known->second.caller;
        }
    }
    auto lease = pool.acquire();
    pqxx::read_transaction tx(*lease);
    const pqxx::result row = tx.exec_params(
        "SELECT device_id FROM devices WHERE account_id = $1 AND token_hash = $2", account, hash);
    if (row.empty()) {
        return std::nullopt;
    }
    const Caller caller{account, row[0][0].as<std::int64_t>()};
    std::lock_guard lock(knownTokensLock);
    if (knownTokens.size() >= mostKnownTokens) {
        knownTokens.clear();
    }
    knownTokens.insert_or_assign(hash.str(), KnownToken{caller, now});
    return caller;
}

void Service::forgetDevices(std::optional<std::int64_t> account) {
    std::lock_guard lock(knownTokensLock);
    if (!account) {
        knownTokens.clear();
        return;
    }
    std::erase_if(knownTokens, [&](const auto& entry) { return entry.second.caller.account == *account; });
}

bool Service::deviceAlive(const Caller& caller) {
    auto lease = pool.acquire();
    pqxx::read_transaction tx(*lease);
    return !tx.exec_params("SELECT 1 FROM devices WHERE account_id = $1 AND device_id = $2", caller.account,
                           caller.device)
                .empty();
}

Reply Service::handle(const Request& request) {
    try {
        const QUrl url(QString::fromStdString("http://h" + request.target));
        const std::string path = url.path(QUrl::FullyEncoded).toStdString();
        if (path.compare(0, 4, "/v1/") != 0) {
            return path.compare(0, 2, "/v") == 0
                       ? errorReply(ErrorCode::incompatibleVersion, "unknown protocol version")
                       : errorReply(ErrorCode::unknownItem, "no such call");
        }
        if (request.method == "POST" && path == "/v1/sign-in") {
            return signIn(request);
        }
        const auto caller = authenticate(request.authorization);
        if (!caller) {
            return errorReply(ErrorCode::notAuthenticated, "the device token is not valid");
        }
        if (!requestsPerAccount.take(std::to_string(caller->account))) {
            // A client over the rate is to come back later, not to give up: a transient refusal.
            return errorReply(ErrorCode::serviceUnavailable, "too many requests; slow down");
        }
        auto lease = pool.acquire();
        const std::string& method = request.method;
        if (method == "GET" && path == "/v1/account") {
            return account(*lease, *caller);
        }
        if (method == "GET" && path == "/v1/devices") {
            return devices(*lease, *caller);
        }
        if (const auto id = tail(path, "/v1/devices/"); method == "DELETE" && id) {
            return revokeDevice(*lease, *caller, *id);
        }
        if (const auto zone = tail(path, "/v1/zones/"); method == "PUT" && zone) {
            return saveZone(*lease, *caller, *zone);
        }
        if (method == "POST" && path == "/v1/assets") {
            return uploadAsset(*lease, *caller, request);
        }
        if (const auto id = tail(path, "/v1/assets/"); method == "GET" && id) {
            return downloadAsset(*lease, *caller, *id);
        }
        if (method == "POST" && path == "/v1/records/modify") {
            QJsonParseError error{};
            const QJsonDocument body = QJsonDocument::fromJson(request.body, &error);
            if (error.error != QJsonParseError::NoError || !body.isObject()) {
                return errorReply(ErrorCode::invalidArguments, "the request is not a JSON object");
            }
            return modify(*lease, *caller, body.object());
        }
        if (auto reply = handleAccountCall(*lease, *caller, request, path, url)) {
            return *reply;
        }
        if (const auto zone = tail(path, "/v1/zones/", "/changes"); method == "GET" && zone) {
            const QUrlQuery query(url);
            std::optional<std::int64_t> since;
            if (query.hasQueryItem("since")) {
                bool ok = false;
                since = query.queryItemValue("since").toLongLong(&ok);
                if (!ok) {
                    return errorReply(ErrorCode::invalidArguments, "the change token is not a number");
                }
            }
            return changes(*lease, *caller, *zone, since);
        }
        return errorReply(ErrorCode::unknownItem, "no such call");
    } catch (const pqxx::broken_connection& e) {
        std::cerr << "database unreachable: " << e.what() << '\n';
        return errorReply(ErrorCode::serviceUnavailable, "the database is unreachable");
    } catch (const pqxx::sql_error& e) {
        std::cerr << "database error: " << e.what() << '\n';
        // A database shutting down or restarting (class 57), a lost connection (08), a lack of
        // resources (53), a conflict between transactions (40) and a lock wait (55P03) pass: the
        // client is to send again later, not to give its change up.
        const std::string state = e.sqlstate();
        const std::string stateClass = state.substr(0, 2);
        const bool passes = stateClass == "57" || stateClass == "08" || stateClass == "53" ||
                            stateClass == "40" || state == "55P03";
        return errorReply(passes ? ErrorCode::serviceUnavailable : ErrorCode::internalError,
                          "the database refused the request");
    } catch (const std::exception& e) {
        std::cerr << "request failed: " << e.what() << '\n';
        return errorReply(ErrorCode::internalError, "the request failed");
    }
}

Reply Service::signIn(const Request& request) {
    const QJsonObject body = QJsonDocument::fromJson(request.body).object();
    const std::string user = body.value("user").toString().toStdString();
    const std::string password = body.value("password").toString().toStdString();
    const QString device = body.value("device").toString().left(200);
    if (user.empty() || user.size() > 200 || password.size() > 4096 || device.isEmpty()) {
        return errorReply(ErrorCode::invalidArguments, "user, password and device are needed");
    }
    const std::string accountKey = "user:" + user;
    const std::string addressKey = "address:" + request.address;
    if (wrongPasswordsPerAccount.exhausted(accountKey) || wrongPasswordsPerAddress.exhausted(addressKey)) {
        return errorReply(ErrorCode::limitExceeded, "too many wrong passwords; try again later");
    }
    auto lease = pool.acquire();
    pqxx::work tx(*lease);
    const pqxx::result row =
        tx.exec_params("SELECT account_id, password_hash FROM accounts WHERE user_name = $1", user);
    // An unknown user costs the same hashing as a wrong password, so that timing tells no names.
    static const std::string unknownUserHash = hashPassword("no such user");
    const std::string storedHash = row.empty() ? unknownUserHash : row[0][1].as<std::string>();
    if (!verifyPassword(storedHash, password) || row.empty()) {
        wrongPasswordsPerAccount.record(accountKey);
        wrongPasswordsPerAddress.record(addressKey);
        return errorReply(ErrorCode::notAuthenticated, "wrong user name or password");
    }
    const auto account = row[0][0].as<std::int64_t>();
    unsigned char secret[32];
    randombytes_buf(secret, sizeof(secret));
    const std::string secretHex = hex(secret, sizeof(secret));
    tx.exec_params0("INSERT INTO devices (account_id, name, token_hash) VALUES ($1, $2, $3)", account,
                    device.toStdString(), tokenHash(secretHex));
    const std::string epoch = tx.exec1("SELECT epoch FROM server")[0].as<std::string>();
    tx.commit();
    return jsonReply({{"token", QString::fromStdString(std::to_string(account) + "." + secretHex)},
                      {"account", QString::number(account)},
                      {"epoch", QString::fromStdString(epoch)}});
}

Reply Service::account(pqxx::connection& db, const Caller& caller) {
    pqxx::read_transaction tx(db);
    const pqxx::row row =
        tx.exec_params1("SELECT user_name, used_bytes, quota_bytes, (SELECT epoch FROM server) FROM accounts "
                        "WHERE account_id = $1",
                        caller.account);
    return jsonReply({{"account", QString::number(caller.account)},
                      {"user", QString::fromStdString(row[0].as<std::string>())},
                      {"used", static_cast<double>(row[1].as<std::int64_t>())},
                      {"quota", static_cast<double>(row[2].as<std::int64_t>())},
                      {"epoch", QString::fromStdString(row[3].as<std::string>())}});
}

Reply Service::devices(pqxx::connection& db, const Caller& caller) {
    pqxx::read_transaction tx(db);
    QJsonArray list;
    for (const auto& row : tx.exec_params("SELECT device_id, name, created_at::text FROM devices "
                                          "WHERE account_id = $1 ORDER BY device_id",
                                          caller.account)) {
        const auto id = row[0].as<std::int64_t>();
        list.append(QJsonObject{{"id", QString::number(id)},
                                {"name", QString::fromStdString(row[1].as<std::string>())},
                                {"created", QString::fromStdString(row[2].as<std::string>())},
                                {"current", id == caller.device}});
    }
    return jsonReply({{"devices", list}});
}

Reply Service::revokeDevice(pqxx::connection& db, const Caller& caller, const std::string& id) {
    std::int64_t device = 0;
    try {
        device = std::stoll(id);
    } catch (const std::exception&) {
        return errorReply(ErrorCode::unknownItem, "no such device");
    }
    pqxx::work tx(db);
    if (tx.exec_params("DELETE FROM devices WHERE account_id = $1 AND device_id = $2 RETURNING 1",
                       caller.account, device)
            .empty()) {
        return errorReply(ErrorCode::unknownItem, "no such device");
    }
    // The account's push sockets re-check their devices on this notice.
    tx.exec_params("SELECT pg_notify('snipjar_changed', $1)", PushHub::revocationPayload(caller.account));
    tx.commit();
    // Refused at once here; other processes hear the notice.
    forgetDevices(caller.account);
    return {204, {}, {}};
}

} // namespace snipjar::server
