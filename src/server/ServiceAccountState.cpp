// The calls end-to-end encryption needs of the server: the account's encryption state (the key's
// public id and verifier, never the key), a check of the account's password, and the mailboxes
// through which two computers of the account pair.
#include "server/AccountRequests.h"
#include "server/PushHub.h"
#include "server/Service.h"

#include <QUrl>
#include <QUrlQuery>

#include <pqxx/binarystring>
#include <pqxx/result>
#include <pqxx/transaction>

namespace snipjar::server {

namespace {

using namespace account_requests;

constexpr auto mailboxLifetime = "10 minutes";
constexpr int mailboxesPerAccount = 3;
constexpr int slotsPerMailbox = 4;
constexpr auto longestWait = std::chrono::seconds(25);

Reply noContent() {
    return {204, {}, {}};
}

Reply refused(const char* description) {
    return errorReply(ErrorCode::invalidArguments, description);
}

void notify(pqxx::work& tx, const char* channel, std::int64_t account) {
    // Both channels' payloads are the account id (an ordinary change on snipjar_changed).
    tx.exec_params("SELECT pg_notify($1, $2)", std::string(channel), PushHub::changePayload(account));
}

// "/v1/pairing/MAILBOX" or "/v1/pairing/MAILBOX/SLOT" as its names; none for any other path or
// names out of their rules.
std::optional<std::pair<std::string, std::string>> pairingPath(const std::string& path) {
    static const std::string prefix = "/v1/pairing/";
    if (path.compare(0, prefix.size(), prefix) != 0) {
        return std::nullopt;
    }
    const std::string rest = path.substr(prefix.size());
    const auto slash = rest.find('/');
    const std::string mailbox = rest.substr(0, slash);
    const std::string slot = slash == std::string::npos ? std::string() : rest.substr(slash + 1);
    if (!isMailboxName(mailbox) || (slash != std::string::npos && !isSlotName(slot))) {
        return std::nullopt;
    }
    return std::make_pair(mailbox, slot);
}

} // namespace

std::optional<Reply> Service::handleAccountCall(pqxx::connection& db, const Caller& caller,
                                                const Request& request, const std::string& path,
                                                const QUrl& url) {
    const std::string& method = request.method;
    if (path == "/v1/account/encryption") {
        if (method == "GET") {
            return encryptionState(db, caller);
        }
        if (method == "PUT") {
            return changeEncryption(db, caller, request.body);
        }
        if (method == "DELETE") {
            return clearEncryption(db, caller, QUrlQuery(url).queryItemValue("keyId").toStdString());
        }
        return std::nullopt;
    }
    if (method == "POST" && path == "/v1/account/verify-password") {
        return checkPassword(db, caller, request);
    }
    if (path.compare(0, 12, "/v1/pairing/") != 0) {
        return std::nullopt;
    }
    const auto names = pairingPath(path);
    if (!names) {
        return refused("a mailbox is named by 16 to 64 letters, digits, - or _, a slot by 1 to 16 letters");
    }
    const auto& [mailbox, slot] = *names;
    if (slot.empty() && method == "POST") {
        return openMailbox(db, caller, mailbox);
    }
    if (slot.empty() && method == "DELETE") {
        return closeMailbox(db, caller, mailbox);
    }
    if (!slot.empty() && method == "PUT") {
        return writeSlot(db, caller, mailbox, slot, request.body);
    }
    if (!slot.empty() && method == "GET") {
        const int wait =
            std::clamp(QUrlQuery(url).queryItemValue("wait").toInt(), 0, int(longestWait.count()));
        return readSlot(db, caller, mailbox, slot, request.received + std::chrono::seconds(wait));
    }
    return std::nullopt;
}

Reply Service::encryptionState(pqxx::connection& db, const Caller& caller) {
    pqxx::read_transaction tx(db);
    const pqxx::result row = tx.exec_params(
        "SELECT key_id, verifier FROM account_encryption WHERE account_id = $1", caller.account);
    if (row.empty()) {
        return jsonReply({});
    }
    const pqxx::binarystring verifier(row[0][1]);
    return jsonReply(
        {{"keyId", QString::fromStdString(row[0][0].as<std::string>())},
         {"verifier", QString::fromLatin1(QByteArray(verifier.get(), int(verifier.size())).toBase64())}});
}

Reply Service::changeEncryption(pqxx::connection& db, const Caller& caller, const QByteArray& body) {
    const char* refusal = nullptr;
    const auto change = parseEncryptionChange(body, refusal);
    if (!change) {
        return refused(refusal);
    }
    const pqxx::binarystring verifier(change->verifier.constData(), size_t(change->verifier.size()));
    pqxx::work tx(db);
    // Either statement waits for a concurrent change of the same account and then sees its outcome,
    // so that of two computers turning encryption on at once, exactly one wins.
    const pqxx::result changed =
        change->previous
            ? tx.exec_params("UPDATE account_encryption SET key_id = $2, verifier = $3, changed_at = now() "
                             "WHERE account_id = $1 AND key_id = $4 RETURNING 1",
                             caller.account, change->keyId, verifier, *change->previous)
            : tx.exec_params(
                  "INSERT INTO account_encryption (account_id, key_id, verifier) VALUES ($1, $2, $3) "
                  "ON CONFLICT (account_id) DO NOTHING RETURNING 1",
                  caller.account, change->keyId, verifier);
    if (changed.empty()) {
        return errorReply(ErrorCode::serverRecordChanged, "the account's encryption changed meanwhile");
    }
    notify(tx, "snipjar_changed", caller.account);
    tx.commit();
    return noContent();
}

Reply Service::clearEncryption(pqxx::connection& db, const Caller& caller, const std::string& keyId) {
    if (!isKeyId(keyId)) {
        return refused("the key id must be 1 to 64 printable characters");
    }
    pqxx::work tx(db);
    if (tx.exec_params("DELETE FROM account_encryption WHERE account_id = $1 AND key_id = $2 RETURNING 1",
                       caller.account, keyId)
            .empty()) {
        return errorReply(ErrorCode::serverRecordChanged, "the account's encryption changed meanwhile");
    }
    notify(tx, "snipjar_changed", caller.account);
    tx.commit();
    return noContent();
}

Reply Service::checkPassword(pqxx::connection& db, const Caller& caller, const Request& request) {
    const char* refusal = nullptr;
    const auto password = parsePassword(request.body, refusal);
    if (!password) {
        return refused(refusal);
    }
    std::string user;
    std::string hash;
    {
        pqxx::read_transaction tx(db);
        const pqxx::row row = tx.exec_params1(
            "SELECT user_name, password_hash FROM accounts WHERE account_id = $1", caller.account);
        user = row[0].as<std::string>();
        hash = row[1].as<std::string>();
    }
    // The same counts as sign-in: a stolen device token must not give a way around them.
    const std::string accountKey = "user:" + user;
    const std::string addressKey = "address:" + request.address;
    if (wrongPasswordsPerAccount.exhausted(accountKey) || wrongPasswordsPerAddress.exhausted(addressKey)) {
        return errorReply(ErrorCode::limitExceeded, "too many wrong passwords; try again later");
    }
    if (!verifyPassword(hash, *password)) {
        wrongPasswordsPerAccount.record(accountKey);
        wrongPasswordsPerAddress.record(addressKey);
        return errorReply(ErrorCode::permissionFailure, "wrong password");
    }
    return noContent();
}

Reply Service::mailboxMiss(const Caller& caller) {
    mailboxMisses.record(std::to_string(caller.account));
    return errorReply(ErrorCode::unknownItem, "no such pairing: another code, or it expired");
}

Reply Service::openMailbox(pqxx::connection& db, const Caller& caller, const std::string& mailbox) {
    if (!mailboxesOpened.take(std::to_string(caller.account))) {
        return errorReply(ErrorCode::limitExceeded, "too many pairings begun; try again later");
    }
    pqxx::work tx(db);
    tx.exec_params("SELECT 1 FROM accounts WHERE account_id = $1 FOR UPDATE", caller.account);
    tx.exec_params0("DELETE FROM pairing_mailboxes WHERE account_id = $1 AND expires_at < now()",
                    caller.account);
    if (tx.exec_params1("SELECT count(*) FROM pairing_mailboxes WHERE account_id = $1", caller.account)[0]
            .as<int>() >= mailboxesPerAccount) {
        return errorReply(ErrorCode::limitExceeded, "too many pairings in progress");
    }
    if (tx.exec_params(
              "INSERT INTO pairing_mailboxes (account_id, mailbox, expires_at) VALUES ($1, $2, now() + "
              "$3::interval) ON CONFLICT DO NOTHING RETURNING 1",
              caller.account, mailbox, std::string(mailboxLifetime))
            .empty()) {
        return refused("the mailbox exists already");
    }
    tx.commit();
    return noContent();
}

Reply Service::closeMailbox(pqxx::connection& db, const Caller& caller, const std::string& mailbox) {
    if (mailboxMisses.exhausted(std::to_string(caller.account))) {
        return errorReply(ErrorCode::limitExceeded, "too many pairing attempts; try again later");
    }
    pqxx::work tx(db);
    if (tx.exec_params("DELETE FROM pairing_mailboxes WHERE account_id = $1 AND mailbox = $2 RETURNING 1",
                       caller.account, mailbox)
            .empty()) {
        return mailboxMiss(caller);
    }
    notify(tx, "snipjar_pairing", caller.account);
    tx.commit();
    return noContent();
}

Reply Service::writeSlot(pqxx::connection& db, const Caller& caller, const std::string& mailbox,
                         const std::string& slot, const QByteArray& body) {
    if (mailboxMisses.exhausted(std::to_string(caller.account))) {
        return errorReply(ErrorCode::limitExceeded, "too many pairing attempts; try again later");
    }
    const char* refusal = nullptr;
    const auto bytes = parseSlotBody(body, refusal);
    if (!bytes) {
        return refused(refusal);
    }
    pqxx::work tx(db);
    if (tx.exec_params(
              "SELECT 1 FROM pairing_mailboxes WHERE account_id = $1 AND mailbox = $2 AND expires_at > "
              "now() FOR UPDATE",
              caller.account, mailbox)
            .empty()) {
        return mailboxMiss(caller);
    }
    if (tx.exec_params1("SELECT count(*) FROM pairing_slots WHERE account_id = $1 AND mailbox = $2",
                        caller.account, mailbox)[0]
            .as<int>() >= slotsPerMailbox) {
        return errorReply(ErrorCode::limitExceeded, "the mailbox is full");
    }
    // Write-once: what one computer posted cannot be replaced by another.
    if (tx.exec_params("INSERT INTO pairing_slots (account_id, mailbox, slot, body) VALUES ($1, $2, $3, $4) "
                       "ON CONFLICT DO NOTHING RETURNING 1",
                       caller.account, mailbox, slot,
                       pqxx::binarystring(bytes->constData(), size_t(bytes->size())))
            .empty()) {
        return errorReply(ErrorCode::permissionFailure, "the slot is written already");
    }
    notify(tx, "snipjar_pairing", caller.account);
    tx.commit();
    return noContent();
}

Reply Service::readSlot(pqxx::connection& db, const Caller& caller, const std::string& mailbox,
                        const std::string& slot, std::chrono::steady_clock::time_point waitUntil) {
    if (mailboxMisses.exhausted(std::to_string(caller.account))) {
        return errorReply(ErrorCode::limitExceeded, "too many pairing attempts; try again later");
    }
    pqxx::read_transaction tx(db);
    const pqxx::result row = tx.exec_params(
        "SELECT s.body FROM pairing_mailboxes m LEFT JOIN pairing_slots s ON s.account_id = m.account_id AND "
        "s.mailbox = m.mailbox AND s.slot = $3 WHERE m.account_id = $1 AND m.mailbox = $2 AND m.expires_at > "
        "now()",
        caller.account, mailbox, slot);
    if (row.empty()) {
        return mailboxMiss(caller);
    }
    if (row[0][0].is_null()) {
        Reply empty = noContent();
        if (std::chrono::steady_clock::now() < waitUntil) {
            empty.waitAccount = caller.account;
            empty.waitUntil = waitUntil;
        }
        return empty;
    }
    const pqxx::binarystring bytes(row[0][0]);
    return jsonReply({{"body", QString::fromLatin1(QByteArray(bytes.get(), int(bytes.size())).toBase64())}});
}

} // namespace snipjar::server
