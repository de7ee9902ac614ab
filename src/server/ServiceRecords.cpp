// The record calls of the service: zones, saves with change tags, deletions with their deleteSelf
// referrers, changes since a token, and assets in chunks.
#include "server/PushHub.h"
#include "server/Service.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <pqxx/binarystring>
#include <pqxx/result>
#include <pqxx/transaction>

#include <sodium.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <unistd.h>

namespace snipjar::server {

namespace {

constexpr int pageLimit = 200;
constexpr std::int64_t chunkSize = 1024 * 1024;

pqxx::binarystring binary(const QByteArray& bytes) {
    return pqxx::binarystring(bytes.constData(), static_cast<size_t>(bytes.size()));
}

QByteArray qbytes(const pqxx::field& field) {
    const pqxx::binarystring value(field);
    return QByteArray(reinterpret_cast<const char*>(value.data()), static_cast<qsizetype>(value.size()));
}

QString qtext(const pqxx::field& field) {
    return QString::fromStdString(field.as<std::string>());
}

std::string text(const QJsonValue& value) {
    return value.toString().toStdString();
}

bool zoneExists(pqxx::transaction_base& tx, std::int64_t account, const std::string& zone) {
    return !tx.exec_params("SELECT 1 FROM zones WHERE account_id = $1 AND zone_name = $2", account, zone)
                .empty();
}

// Adds to the account's storage used, unless that would pass its quota (freeing is always taken).
bool charge(pqxx::transaction_base& tx, std::int64_t account, std::int64_t bytes) {
    return !tx.exec_params(
                  "UPDATE accounts SET used_bytes = greatest(used_bytes + $2, 0) "
                  "WHERE account_id = $1 AND ($2 <= 0 OR used_bytes + $2 <= quota_bytes) RETURNING 1",
                  account, bytes)
                .empty();
}

// The account's change counter, locked to the end of the transaction. Numbers come from the
// server's clock in microseconds whenever it is ahead, so that after a restore from an older
// backup no number the lost history gave out is given out again.
class ChangeCounter {
public:
    ChangeCounter(pqxx::work& tx, std::int64_t account)
        : tx(tx)
        , account(account) {
        const pqxx::row row = tx.exec_params1(
            "SELECT change_counter, (extract(epoch FROM clock_timestamp()) * 1000000)::bigint "
            "FROM accounts WHERE account_id = $1 FOR UPDATE",
            account);
        value = std::max(row[0].as<std::int64_t>(), row[1].as<std::int64_t>());
    }

    std::int64_t next() {
        if (firstTaken == 0) {
            firstTaken = value + 1;
        }
        return ++value;
    }

    // Only when a change was kept: the numbers of refused saves went back with their savepoints.
    void finish(bool changed) {
        if (firstTaken == 0 || !changed) {
            return;
        }
        tx.exec_params0("UPDATE accounts SET change_counter = $2 WHERE account_id = $1", account, value);
        tx.exec_params0(
            "INSERT INTO change_spans (account_id, first_change, last_change) VALUES ($1, $2, $3)", account,
            firstTaken, value);
        tx.exec_params("SELECT pg_notify('snipjar_changed', $1)", PushHub::changePayload(account));
    }

private:
    pqxx::work& tx;
    std::int64_t account;
    std::int64_t value = 0;
    std::int64_t firstTaken = 0;
};

// The assets attached to one record's fields, as an answer names them.
QJsonObject assetsOf(pqxx::transaction_base& tx, std::int64_t account, const std::string& zone,
                     const std::string& name) {
    QJsonObject assets;
    for (const auto& row :
         tx.exec_params("SELECT field_key, asset_id, size FROM assets WHERE account_id = $1 "
                        "AND zone_name = $2 AND record_name = $3",
                        account, zone, name)) {
        assets.insert(qtext(row[0]), QJsonObject{{"id", qtext(row[1])},
                                                 {"size", static_cast<double>(row[2].as<std::int64_t>())}});
    }
    return assets;
}

void dropAssets(pqxx::transaction_base& tx, std::int64_t account, const std::string& zone,
                const std::string& name, const std::optional<std::string>& key) {
    const pqxx::result gone =
        tx.exec_params("DELETE FROM assets WHERE account_id = $1 AND zone_name = $2 AND record_name = $3 "
                       "AND ($4::text IS NULL OR field_key = $4) RETURNING size",
                       account, zone, name, key);
    std::int64_t freed = 0;
    for (const auto& row : gone) {
        freed += row[0].as<std::int64_t>();
    }
    charge(tx, account, -freed);
}

struct SaveResult {
    std::optional<QJsonObject> error;
    QString tag;
};

SaveResult saveRecord(pqxx::transaction_base& tx, ChangeCounter& counter, std::int64_t account,
                      const QJsonObject& save) {
    const std::string zone = text(save.value("zone"));
    const std::string name = text(save.value("name"));
    const std::string type = text(save.value("type"));
    const QByteArray fields = QByteArray::fromBase64(save.value("fields").toString().toLatin1());
    if (name.empty() || type.empty()) {
        return {errorObject(ErrorCode::invalidArguments, "a record needs a name and a type"), {}};
    }
    if (!zoneExists(tx, account, zone)) {
        return {errorObject(ErrorCode::zoneNotFound, "no such zone"), {}};
    }
    const pqxx::result current =
        tx.exec_params("SELECT record_type, change_tag, deleted_at IS NOT NULL, fields FROM records "
                       "WHERE account_id = $1 AND zone_name = $2 AND record_name = $3 FOR UPDATE",
                       account, zone, name);
    const bool live = !current.empty() && !current[0][2].as<bool>();
    const bool tagged = save.contains("tag");
    if (live) {
        if (!tagged || text(save.value("tag")) != current[0][1].as<std::string>()) {
            QJsonObject error =
                errorObject(ErrorCode::serverRecordChanged, "the server holds a newer version");
            error.insert("server",
                         QJsonObject{{"name", QString::fromStdString(name)},
                                     {"type", qtext(current[0][0])},
                                     {"tag", qtext(current[0][1])},
                                     {"fields", QString::fromLatin1(qbytes(current[0][3]).toBase64())},
                                     {"assets", assetsOf(tx, account, zone, name)}});
            return {error, {}};
        }
    } else if (tagged) {
        return {errorObject(ErrorCode::unknownItem, "the server no longer holds the record"), {}};
    }
    const std::int64_t oldSize =
        live ? static_cast<std::int64_t>(pqxx::binarystring(current[0][3]).size()) : 0;
    if (!charge(tx, account, fields.size() - oldSize)) {
        return {errorObject(ErrorCode::limitExceeded, "quota exceeded"), {}};
    }
    const std::int64_t change = counter.next();
    const QString tag = QString::number(change, 36);
    tx.exec_params0(
        "INSERT INTO records (account_id, zone_name, record_name, record_type, change_tag, change_number, "
        "deleted_at, fields) VALUES ($1, $2, $3, $4, $5, $6, NULL, $7) "
        "ON CONFLICT (account_id, zone_name, record_name) DO UPDATE SET record_type = EXCLUDED.record_type, "
        "change_tag = EXCLUDED.change_tag, change_number = EXCLUDED.change_number, deleted_at = NULL, "
        "fields = EXCLUDED.fields",
        account, zone, name, type, tag.toStdString(), change, binary(fields));
    tx.exec_params0(
        "DELETE FROM record_references WHERE account_id = $1 AND zone_name = $2 AND record_name = $3",
        account, zone, name);
    for (const QJsonValue& value : save.value("references").toArray()) {
        const QJsonObject reference = value.toObject();
        tx.exec_params0("INSERT INTO record_references (account_id, zone_name, record_name, field_key, "
                        "target_zone, target_name, action) VALUES ($1, $2, $3, $4, $5, $6, $7) "
                        "ON CONFLICT DO NOTHING",
                        account, zone, name, text(reference.value("key")), text(reference.value("zone")),
                        text(reference.value("name")), reference.value("action").toInt() == 1 ? 1 : 0);
    }
    // Stored assets whose field is gone go; a field with a new upload takes it; the others keep
    // the bytes the server holds.
    QStringList keys;
    for (const QJsonValue& key : save.value("assetKeys").toArray()) {
        keys.append(key.toString());
    }
    for (const auto& row :
         tx.exec_params("SELECT field_key FROM assets WHERE account_id = $1 AND zone_name = $2 "
                        "AND record_name = $3",
                        account, zone, name)) {
        if (!keys.contains(qtext(row[0]))) {
            dropAssets(tx, account, zone, name, row[0].as<std::string>());
        }
    }
    const QJsonObject uploads = save.value("assets").toObject();
    for (auto it = uploads.begin(); it != uploads.end(); ++it) {
        const std::string key = it.key().toStdString();
        const std::string id = text(it.value());
        const bool unattached =
            !tx.exec_params("SELECT 1 FROM assets WHERE account_id = $1 AND asset_id = $2 "
                            "AND record_name IS NULL",
                            account, id)
                 .empty();
        if (!unattached) {
            return {errorObject(ErrorCode::invalidArguments, "no such uploaded asset"), {}};
        }
        dropAssets(tx, account, zone, name, key);
        tx.exec_params0("UPDATE assets SET zone_name = $3, record_name = $4, field_key = $5 "
                        "WHERE account_id = $1 AND asset_id = $2",
                        account, id, zone, name, key);
    }
    return {std::nullopt, tag};
}

// Deletes one record and, transitively, every live record whose deleteSelf reference points to a
// deleted one, each as a change of its own.
std::optional<QJsonObject> deleteRecord(pqxx::work& tx, ChangeCounter& counter, std::int64_t account,
                                        const std::string& zone, const std::string& name) {
    const pqxx::result current =
        tx.exec_params("SELECT deleted_at IS NOT NULL FROM records WHERE account_id = $1 "
                       "AND zone_name = $2 AND record_name = $3 FOR UPDATE",
                       account, zone, name);
    if (current.empty() || current[0][0].as<bool>()) {
        return errorObject(ErrorCode::unknownItem, "no such record");
    }
    const pqxx::result doomed = tx.exec_params(
        "WITH RECURSIVE doomed (zone_name, record_name, depth) AS ("
        "  SELECT $2::text, $3::text, 0"
        "  UNION"
        "  SELECT r.zone_name, r.record_name, d.depth + 1 FROM record_references r"
        "  JOIN doomed d ON r.target_zone = d.zone_name AND r.target_name = d.record_name"
        "  WHERE r.account_id = $1 AND r.action = 1 AND d.depth < 1000)"
        "SELECT d.zone_name, d.record_name, min(d.depth) FROM doomed d JOIN records rec"
        "  ON rec.account_id = $1 AND rec.zone_name = d.zone_name AND rec.record_name = d.record_name"
        "  WHERE rec.deleted_at IS NULL GROUP BY d.zone_name, d.record_name ORDER BY 3, 1, 2",
        account, zone, name);
    for (const auto& row : doomed) {
        const std::string rowZone = row[0].as<std::string>();
        const std::string rowName = row[1].as<std::string>();
        const pqxx::row freed = tx.exec_params1(
            "UPDATE records r SET deleted_at = now(), fields = NULL, change_tag = NULL, change_number = $4 "
            "FROM records old WHERE r.account_id = $1 AND r.zone_name = $2 AND r.record_name = $3 "
            "AND old.account_id = r.account_id AND old.zone_name = r.zone_name AND old.record_name = "
            "r.record_name "
            "RETURNING coalesce(length(old.fields), 0)",
            account, rowZone, rowName, counter.next());
        charge(tx, account, -freed[0].as<std::int64_t>());
        tx.exec_params0(
            "DELETE FROM record_references WHERE account_id = $1 AND zone_name = $2 AND record_name = $3",
            account, rowZone, rowName);
        dropAssets(tx, account, rowZone, rowName, std::nullopt);
    }
    return std::nullopt;
}

// Whether a change numbered `position` is in the history this server holds: a transaction took it.
bool holdsPosition(pqxx::transaction_base& tx, std::int64_t account, std::int64_t position) {
    const pqxx::result span =
        tx.exec_params("SELECT first_change FROM change_spans WHERE account_id = $1 AND "
                       "last_change >= $2 ORDER BY last_change LIMIT 1",
                       account, position);
    return !span.empty() && span[0][0].as<std::int64_t>() <= position;
}

} // namespace

Reply Service::saveZone(pqxx::connection& db, const Caller& caller, const std::string& zone) {
    if (zone.size() > 255) {
        return errorReply(ErrorCode::invalidArguments, "the zone name is too long");
    }
    pqxx::work tx(db);
    tx.exec_params0("INSERT INTO zones (account_id, zone_name) VALUES ($1, $2) ON CONFLICT DO NOTHING",
                    caller.account, zone);
    tx.commit();
    return {204, {}, {}};
}

Reply Service::uploadAsset(pqxx::connection& db, const Caller& caller, const Request& request) {
    std::ifstream file(request.uploadPath, std::ios::binary);
    if (!file) {
        return errorReply(ErrorCode::internalError, "the upload was not kept");
    }
    unsigned char random[16];
    randombytes_buf(random, sizeof(random));
    char id[sizeof(random) * 2 + 1];
    sodium_bin2hex(id, sizeof(id), random, sizeof(random));
    pqxx::work tx(db);
    if (!charge(tx, caller.account, request.uploadSize)) {
        return errorReply(ErrorCode::limitExceeded, "quota exceeded");
    }
    tx.exec_params0("INSERT INTO assets (account_id, asset_id, size) VALUES ($1, $2, $3)", caller.account,
                    std::string(id), request.uploadSize);
    // Chunk by chunk, so that no request holds an asset whole in memory.
    std::string chunk(static_cast<size_t>(chunkSize), '\0');
    for (int seq = 0;; ++seq) {
        file.read(chunk.data(), chunkSize);
        const auto got = file.gcount();
        if (got <= 0) {
            break;
        }
        tx.exec_params0("INSERT INTO asset_chunks (account_id, asset_id, seq, data) VALUES ($1, $2, $3, $4)",
                        caller.account, std::string(id), seq,
                        pqxx::binarystring(chunk.data(), static_cast<size_t>(got)));
    }
    tx.commit();
    return jsonReply({{"asset", QString::fromLatin1(id)}, {"size", static_cast<double>(request.uploadSize)}});
}

Reply Service::downloadAsset(pqxx::connection& db, const Caller& caller, const std::string& id) {
    pqxx::read_transaction tx(db);
    const pqxx::result chunks =
        tx.exec_params("SELECT seq FROM asset_chunks WHERE account_id = $1 AND asset_id = $2 ORDER BY seq",
                       caller.account, id);
    if (tx.exec_params("SELECT 1 FROM assets WHERE account_id = $1 AND asset_id = $2", caller.account, id)
            .empty()) {
        return errorReply(ErrorCode::unknownItem, "no such asset");
    }
    char path[] = "/tmp/snipjar-server-download-XXXXXX";
    const int fd = ::mkstemp(path);
    if (fd < 0) {
        return errorReply(ErrorCode::internalError, "no room for the download");
    }
    bool written = true;
    for (const auto& row : chunks) {
        const pqxx::row data = tx.exec_params1(
            "SELECT data FROM asset_chunks WHERE account_id = $1 AND asset_id = $2 AND seq = $3",
            caller.account, id, row[0].as<int>());
        const pqxx::binarystring bytes(data[0]);
        written = written && ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }
    ::close(fd);
    if (!written) {
        std::remove(path);
        return errorReply(ErrorCode::internalError, "no room for the download");
    }
    return {200, {}, path};
}

Reply Service::modify(pqxx::connection& db, const Caller& caller, const QJsonObject& body) {
    const QJsonArray saves = body.value("saves").toArray();
    const QJsonArray deletions = body.value("deletions").toArray();
    QJsonArray saved, failedSaves, deleted, failedDeletes;
    pqxx::work tx(db);
    ChangeCounter counter(tx, caller.account);
    for (int i = 0; i < saves.size(); ++i) {
        // Each save behind a savepoint, so that a refused one leaves nothing half written.
        tx.exec0("SAVEPOINT save_record");
        const SaveResult result = saveRecord(tx, counter, caller.account, saves[i].toObject());
        if (result.error) {
            tx.exec0("ROLLBACK TO SAVEPOINT save_record");
            failedSaves.append(QJsonObject{{"index", i}, {"error", *result.error}});
        } else {
            tx.exec0("RELEASE SAVEPOINT save_record");
            saved.append(QJsonObject{{"index", i}, {"tag", result.tag}});
        }
    }
    for (int i = 0; i < deletions.size(); ++i) {
        const QJsonObject id = deletions[i].toObject();
        if (auto error =
                deleteRecord(tx, counter, caller.account, text(id.value("zone")), text(id.value("name")))) {
            failedDeletes.append(QJsonObject{{"index", i}, {"error", *error}});
        } else {
            deleted.append(i);
        }
    }
    counter.finish(!saved.isEmpty() || !deleted.isEmpty());
    tx.commit();
    return jsonReply({{"saved", saved},
                      {"failedSaves", failedSaves},
                      {"deleted", deleted},
                      {"failedDeletes", failedDeletes}});
}

Reply Service::changes(pqxx::connection& db, const Caller& caller, const std::string& zone,
                       std::optional<std::int64_t> since) {
    pqxx::transaction<pqxx::repeatable_read, pqxx::read_only> tx(db);
    if (!zoneExists(tx, caller.account, zone)) {
        return errorReply(ErrorCode::zoneNotFound, "no such zone");
    }
    const pqxx::row owner = tx.exec_params1(
        "SELECT change_counter, pruned_through FROM accounts WHERE account_id = $1", caller.account);
    const auto counter = owner[0].as<std::int64_t>();
    const auto prunedThrough = owner[1].as<std::int64_t>();
    // A negative token continues a fetch from the start: the walk delivers live records and the
    // tombstones after its position, so pruning older tombstones does not end it.
    const bool walk = since && *since < 0;
    const std::int64_t position = since ? (walk ? -*since : *since) : 0;
    if (position > counter || (since && !walk && position < prunedThrough)) {
        return errorReply(ErrorCode::changeTokenExpired, "the change token is older than the kept changes");
    }
    // Spans before the pruned position are gone with the tombstones; a walk there is still good.
    if (since && position > 0 && !(walk && position < prunedThrough) &&
        !holdsPosition(tx, caller.account, position)) {
        return errorReply(ErrorCode::changeTokenExpired,
                          "the server's history no longer holds the change token's position", true);
    }
    const pqxx::result rows = tx.exec_params(
        "SELECT record_name, record_type, change_tag, change_number, deleted_at IS NOT NULL, fields FROM "
        "records "
        "WHERE account_id = $1 AND zone_name = $2 AND change_number > $3 AND (deleted_at IS NULL OR $4) "
        "ORDER BY change_number LIMIT $5",
        caller.account, zone, position, since.has_value(), pageLimit + 1);
    const bool more = rows.size() > static_cast<size_t>(pageLimit);
    const auto count = std::min<pqxx::result::size_type>(rows.size(), pageLimit);
    QJsonArray records, deletions;
    for (pqxx::result::size_type i = 0; i < count; ++i) {
        const auto& row = rows[i];
        if (row[4].as<bool>()) {
            deletions.append(QJsonObject{{"name", qtext(row[0])}, {"type", qtext(row[1])}});
            continue;
        }
        records.append(QJsonObject{{"name", qtext(row[0])},
                                   {"type", qtext(row[1])},
                                   {"tag", qtext(row[2])},
                                   {"fields", QString::fromLatin1(qbytes(row[5]).toBase64())},
                                   {"assets", assetsOf(tx, caller.account, zone, row[0].as<std::string>())}});
    }
    std::int64_t next = counter;
    if (more) {
        const auto last = rows[count - 1][3].as<std::int64_t>();
        next = !since || walk ? -last : last;
    }
    return jsonReply(
        {{"records", records}, {"deletions", deletions}, {"next", QString::number(next)}, {"more", more}});
}

std::int64_t Service::prune(std::optional<std::chrono::seconds> retention) {
    std::vector<std::int64_t> accounts;
    {
        auto lease = pool.acquire();
        pqxx::read_transaction tx(*lease);
        for (const auto& row : tx.exec("SELECT account_id FROM accounts ORDER BY account_id")) {
            accounts.push_back(row[0].as<std::int64_t>());
        }
    }
    std::int64_t removed = 0;
    const std::string keep = retention ? std::to_string(retention->count()) + " seconds" : std::string();
    for (const std::int64_t account : accounts) {
        auto lease = pool.acquire();
        pqxx::work tx(*lease);
        tx.exec_params("SELECT 1 FROM accounts WHERE account_id = $1 FOR UPDATE", account);
        const pqxx::row gone = tx.exec_params1(
            "WITH gone AS (DELETE FROM records WHERE account_id = $1 AND deleted_at IS NOT NULL AND "
            "deleted_at <= "
            "now() - coalesce(nullif($2, '')::interval, (SELECT tombstone_retention FROM server)) "
            "RETURNING change_number) SELECT count(*), coalesce(max(change_number), 0) FROM gone",
            account, keep);
        tx.exec_params0(
            "UPDATE accounts SET pruned_through = greatest(pruned_through, $2) WHERE account_id = $1",
            account, gone[1].as<std::int64_t>());
        tx.exec_params0(
            "DELETE FROM change_spans s USING accounts a WHERE s.account_id = $1 AND a.account_id = $1 "
            "AND s.last_change < a.pruned_through",
            account);
        // Uploads never attached to a record within a day are given up.
        const pqxx::row orphans = tx.exec_params1(
            "WITH gone AS (DELETE FROM assets WHERE account_id = $1 AND record_name IS NULL AND "
            "created_at < now() - interval '1 day' RETURNING size) SELECT coalesce(sum(size), 0)::bigint "
            "FROM gone",
            account);
        charge(tx, account, -orphans[0].as<std::int64_t>());
        tx.exec_params0("DELETE FROM pairing_mailboxes WHERE account_id = $1 AND expires_at < now()",
                        account);
        tx.commit();
        removed += gone[0].as<std::int64_t>();
    }
    return removed;
}

} // namespace snipjar::server
