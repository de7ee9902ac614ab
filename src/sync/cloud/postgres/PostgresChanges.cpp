#include "sync/cloud/postgres/PostgresChanges.h"

#include "platform/LogCategories.h"
#include "sync/cloud/FetchedAssetFolder.h"

#include <QFile>
#include <QHash>
#include <QSet>

#include <pqxx/binarystring>
#include <pqxx/result>
#include <pqxx/transaction>

#include <algorithm>

namespace snipjar::cloud::postgres {

namespace {

std::string text(const QString& value) {
    return value.toStdString();
}

QString qtext(const pqxx::field& field) {
    return QString::fromStdString(field.as<std::string>());
}

pqxx::binarystring binary(const QByteArray& bytes) {
    return pqxx::binarystring(bytes.constData(), static_cast<size_t>(bytes.size()));
}

QByteArray qbytes(const pqxx::field& field) {
    const pqxx::binarystring value(field);
    return QByteArray(reinterpret_cast<const char*>(value.data()), static_cast<qsizetype>(value.size()));
}

// Records name their owner as the signed-in user; another owner's zone is not ours to touch.
bool isOwn(const RecordZoneID& zone) {
    return zone.ownerName == RecordZoneID::defaultOwner;
}

CloudError refusal(CloudErrorCode code, const char* description) {
    return {code, QString::fromLatin1(description), std::nullopt};
}

// Whether a change numbered `position` is in the history this server holds: a transaction took it.
bool holdsPosition(pqxx::transaction_base& tx, qint64 position) {
    const pqxx::result span =
        tx.exec_params("SELECT first_change FROM snipjar.change_spans WHERE owner = current_user AND "
                       "last_change >= $1 ORDER BY last_change LIMIT 1",
                       position);
    return !span.empty() && span[0][0].as<qint64>() <= position;
}

bool zoneExists(pqxx::transaction_base& tx, const QString& zone) {
    return !tx.exec_params("SELECT 1 FROM snipjar.zones WHERE owner = current_user AND zone_name = $1",
                           text(zone))
                .empty();
}

// The owner's change counter, locked to the end of the transaction. Numbers are taken from the
// server's clock in microseconds whenever it is ahead of the counter, so that after a restore from
// an older backup no number the lost history gave out is given out again (see change_spans).
class ChangeCounter {
public:
    explicit ChangeCounter(pqxx::work& tx)
        : tx(tx) {
        tx.exec0("INSERT INTO snipjar.owners DEFAULT VALUES ON CONFLICT DO NOTHING");
        const pqxx::row row =
            tx.exec1("SELECT change_counter, (extract(epoch FROM clock_timestamp()) * 1000000)::bigint "
                     "FROM snipjar.owners WHERE owner = current_user FOR UPDATE");
        value = std::max(row[0].as<qint64>(), row[1].as<qint64>());
    }

    qint64 next() {
        if (firstTaken == 0) {
            firstTaken = value + 1;
        }
        return ++value;
    }

    // Stores the counter and the span of numbers taken, and sends the owner's notice, all inside
    // the transaction.
    void finish() {
        if (firstTaken == 0) {
            return;
        }
        tx.exec_params0("UPDATE snipjar.owners SET change_counter = $1 WHERE owner = current_user", value);
        tx.exec_params0("INSERT INTO snipjar.change_spans (first_change, last_change) VALUES ($1, $2)",
                        firstTaken, value);
        tx.exec("SELECT pg_notify(snipjar.notice_channel(), '')");
    }

private:
    pqxx::work& tx;
    qint64 value = 0;
    qint64 firstTaken = 0;
};

// The asset files of a record to save, read before anything is written.
struct AssetUpload {
    QString key;
    QByteArray bytes;
};

std::optional<QList<AssetUpload>> readAssets(const CloudRecord& record) {
    QList<AssetUpload> uploads;
    for (const auto& [key, value] : record.fields()) {
        const auto* asset = std::get_if<Asset>(&value);
        if (asset == nullptr || asset->filePath.isEmpty()) {
            continue;
        }
        QFile file(asset->filePath);
        if (!file.open(QIODevice::ReadOnly)) {
            return std::nullopt;
        }
        uploads.append({key, file.readAll()});
        if (file.error() != QFileDevice::NoError) {
            return std::nullopt;
        }
    }
    return uploads;
}

std::optional<CloudRecord> decodeRecord(const RecordZoneID& zone, const QString& name, const QString& type,
                                        const pqxx::field& tag, const pqxx::field& fields) {
    CloudRecord record(type, RecordID{name, zone});
    if (fields.is_null() || !record.decodeFields(qbytes(fields))) {
        return std::nullopt;
    }
    if (!tag.is_null()) {
        record.setChangeTag(qtext(tag));
    }
    return record;
}

void writeReferences(pqxx::work& tx, const CloudRecord& record) {
    const std::string zone = text(record.recordID().zone.zoneName);
    const std::string name = text(record.recordName());
    tx.exec_params0("DELETE FROM snipjar.record_references WHERE owner = current_user AND zone_name = $1 "
                    "AND record_name = $2",
                    zone, name);
    for (const auto& [key, value] : record.fields()) {
        if (const auto* reference = std::get_if<RecordReference>(&value)) {
            tx.exec_params0(
                "INSERT INTO snipjar.record_references (zone_name, record_name, field_key, target_zone, "
                "target_name, action) VALUES ($1, $2, $3, $4, $5, $6)",
                zone, name, text(key), text(reference->target.zone.zoneName),
                text(reference->target.recordName), static_cast<int>(reference->action));
        }
    }
}

void writeAssets(pqxx::work& tx, const CloudRecord& record, const QList<AssetUpload>& uploads) {
    const std::string zone = text(record.recordID().zone.zoneName);
    const std::string name = text(record.recordName());
    // Asset fields without a file keep the bytes the server has; keys no longer assets lose theirs.
    QSet<QString> assetKeys;
    for (const auto& [key, value] : record.fields()) {
        if (std::holds_alternative<Asset>(value)) {
            assetKeys.insert(key);
        }
    }
    const pqxx::result stored = tx.exec_params("SELECT field_key FROM snipjar.assets WHERE owner = "
                                               "current_user AND zone_name = $1 AND record_name = $2",
                                               zone, name);
    for (const auto& row : stored) {
        if (!assetKeys.contains(qtext(row[0]))) {
            tx.exec_params0("DELETE FROM snipjar.assets WHERE owner = current_user AND zone_name = $1 "
                            "AND record_name = $2 AND field_key = $3",
                            zone, name, row[0].as<std::string>());
        }
    }
    for (const AssetUpload& upload : uploads) {
        const bool large = upload.bytes.size() > largeObjectThreshold;
        tx.exec_params0(
            large ? "INSERT INTO snipjar.assets (zone_name, record_name, field_key, size, large_object) "
                    "VALUES ($1, $2, $3, $4, lo_from_bytea(0, $5)) "
                    "ON CONFLICT (owner, zone_name, record_name, field_key) DO UPDATE SET "
                    "size = EXCLUDED.size, data = NULL, large_object = EXCLUDED.large_object"
                  : "INSERT INTO snipjar.assets (zone_name, record_name, field_key, size, data) "
                    "VALUES ($1, $2, $3, $4, $5) "
                    "ON CONFLICT (owner, zone_name, record_name, field_key) DO UPDATE SET "
                    "size = EXCLUDED.size, data = EXCLUDED.data, large_object = NULL",
            zone, name, text(upload.key), static_cast<qint64>(upload.bytes.size()), binary(upload.bytes));
    }
}

// Fills in the fetched record's asset files; false when the folder could not be written.
bool loadAssets(pqxx::transaction_base& tx, CloudRecord& record,
                std::shared_ptr<FetchedAssetFolder>& folder) {
    bool hasAssets = false;
    for (const auto& [key, value] : record.fields()) {
        hasAssets = hasAssets || std::holds_alternative<Asset>(value);
    }
    if (!hasAssets) {
        return true;
    }
    const pqxx::result rows =
        tx.exec_params("SELECT field_key, coalesce(data, lo_get(large_object)) FROM snipjar.assets "
                       "WHERE owner = current_user AND zone_name = $1 AND record_name = $2",
                       text(record.recordID().zone.zoneName), text(record.recordName()));
    for (const auto& row : rows) {
        const QString key = qtext(row[0]);
        if (!record.asset(key)) {
            continue;
        }
        if (!folder) {
            folder = std::make_shared<FetchedAssetFolder>();
        }
        const auto path = folder->write(qbytes(row[1]));
        if (!path) {
            return false;
        }
        record.setValue(key, Asset{*path});
    }
    return true;
}

// Saves one record, or says why not.
std::optional<CloudError> saveRecord(pqxx::work& tx, ChangeCounter& counter, CloudRecord& record,
                                     std::shared_ptr<FetchedAssetFolder>& conflictFolder) {
    const RecordID& id = record.recordID();
    if (!isOwn(id.zone)) {
        return refusal(CloudErrorCode::permissionFailure, "the zone belongs to another owner");
    }
    if (!zoneExists(tx, id.zone.zoneName)) {
        return refusal(CloudErrorCode::zoneNotFound, "no such zone");
    }
    const auto uploads = readAssets(record);
    if (!uploads) {
        return refusal(CloudErrorCode::invalidArguments, "an asset file could not be read");
    }
    const pqxx::result current =
        tx.exec_params("SELECT record_type, change_tag, deleted, fields FROM snipjar.records "
                       "WHERE owner = current_user AND zone_name = $1 AND record_name = $2 FOR UPDATE",
                       text(id.zone.zoneName), text(id.recordName));
    const bool live = !current.empty() && !current[0][2].as<bool>();
    if (live) {
        const QString serverTag = current[0][1].is_null() ? QString() : qtext(current[0][1]);
        if (!record.changeTag() || *record.changeTag() != serverTag) {
            CloudError conflict =
                refusal(CloudErrorCode::serverRecordChanged, "the server holds a newer version");
            conflict.serverRecord =
                decodeRecord(id.zone, id.recordName, qtext(current[0][0]), current[0][1], current[0][3]);
            if (conflict.serverRecord && !loadAssets(tx, *conflict.serverRecord, conflictFolder)) {
                conflict.serverRecord.reset();
            }
            return conflict;
        }
    } else if (record.changeTag()) {
        return refusal(CloudErrorCode::unknownItem, "the server no longer holds the record");
    }
    const QByteArray fields = record.encodeFields();
    if (fields.size() > CloudRecord::largestEncodedFields) {
        return refusal(CloudErrorCode::limitExceeded, "the record is too large");
    }
    const qint64 change = counter.next();
    const QString tag = QString::number(change, 36);
    tx.exec_params0(
        "INSERT INTO snipjar.records (zone_name, record_name, record_type, change_tag, change_number, "
        "deleted, deleted_at, fields) VALUES ($1, $2, $3, $4, $5, false, NULL, $6) "
        "ON CONFLICT (owner, zone_name, record_name) DO UPDATE SET record_type = EXCLUDED.record_type, "
        "change_tag = EXCLUDED.change_tag, change_number = EXCLUDED.change_number, deleted = false, "
        "deleted_at = NULL, fields = EXCLUDED.fields",
        text(id.zone.zoneName), text(id.recordName), text(record.recordType()), text(tag), change,
        binary(fields));
    writeReferences(tx, record);
    writeAssets(tx, record, *uploads);
    record.setChangeTag(tag);
    return std::nullopt;
}

// Deletes one record and, transitively, every live record whose deleteSelf reference points to a
// deleted one, each as a change of its own.
std::optional<CloudError> deleteRecord(pqxx::work& tx, ChangeCounter& counter, const RecordID& id) {
    if (!isOwn(id.zone)) {
        return refusal(CloudErrorCode::permissionFailure, "the zone belongs to another owner");
    }
    const std::string zone = text(id.zone.zoneName);
    const pqxx::result current =
        tx.exec_params("SELECT deleted FROM snipjar.records WHERE owner = current_user "
                       "AND zone_name = $1 AND record_name = $2 FOR UPDATE",
                       zone, text(id.recordName));
    if (current.empty() || current[0][0].as<bool>()) {
        return refusal(CloudErrorCode::unknownItem, "no such record");
    }
    const pqxx::result doomed = tx.exec_params(
        "WITH RECURSIVE doomed (zone_name, record_name, depth) AS ("
        "  SELECT $1::text, $2::text, 0"
        "  UNION"
        "  SELECT r.zone_name, r.record_name, d.depth + 1 FROM snipjar.record_references r"
        "  JOIN doomed d ON r.target_zone = d.zone_name AND r.target_name = d.record_name"
        "  WHERE r.owner = current_user AND r.action = 1 AND d.depth < 1000)"
        "SELECT d.zone_name, d.record_name, min(d.depth) FROM doomed d JOIN snipjar.records rec"
        "  ON rec.owner = current_user AND rec.zone_name = d.zone_name AND rec.record_name = d.record_name"
        "  WHERE NOT rec.deleted GROUP BY d.zone_name, d.record_name ORDER BY 3, 1, 2",
        zone, text(id.recordName));
    for (const auto& row : doomed) {
        const std::string rowZone = row[0].as<std::string>();
        const std::string rowName = row[1].as<std::string>();
        tx.exec_params0("UPDATE snipjar.records SET deleted = true, deleted_at = now(), fields = NULL, "
                        "change_tag = NULL, change_number = $3 "
                        "WHERE owner = current_user AND zone_name = $1 AND record_name = $2",
                        rowZone, rowName, counter.next());
        tx.exec_params0("DELETE FROM snipjar.record_references WHERE owner = current_user AND zone_name = $1 "
                        "AND record_name = $2",
                        rowZone, rowName);
        tx.exec_params0("DELETE FROM snipjar.assets WHERE owner = current_user AND zone_name = $1 "
                        "AND record_name = $2",
                        rowZone, rowName);
    }
    return std::nullopt;
}

} // namespace

CloudStatus saveZone(pqxx::connection_base& connection, const RecordZoneID& zone) {
    if (!isOwn(zone)) {
        return refusal(CloudErrorCode::permissionFailure, "the zone belongs to another owner");
    }
    pqxx::work tx(connection);
    tx.exec_params0("INSERT INTO snipjar.zones (zone_name) VALUES ($1) ON CONFLICT DO NOTHING",
                    text(zone.zoneName));
    tx.commit();
    return std::monostate{};
}

CloudResult<ModifyOutcome> modifyRecords(pqxx::connection_base& connection, const QList<CloudRecord>& saves,
                                         const QList<RecordID>& deletions,
                                         const std::function<void()>& checkpoint,
                                         std::shared_ptr<FetchedAssetFolder>& conflictAssets) {
    ModifyOutcome outcome;
    pqxx::work tx(connection);
    ChangeCounter counter(tx);
    for (const CloudRecord& sent : saves) {
        checkpoint();
        CloudRecord record = sent;
        if (auto failure = saveRecord(tx, counter, record, conflictAssets)) {
            outcome.failedSaves.append({sent, std::move(*failure)});
        } else {
            outcome.saved.append(std::move(record));
        }
    }
    for (const RecordID& id : deletions) {
        checkpoint();
        if (auto failure = deleteRecord(tx, counter, id)) {
            outcome.failedDeletes.append({id, std::move(*failure)});
        } else {
            outcome.deleted.append(id);
        }
    }
    checkpoint();
    counter.finish();
    tx.commit();
    return outcome;
}

CloudResult<ChangePage> fetchChanges(pqxx::connection_base& connection, const RecordZoneID& zone,
                                     const std::optional<ChangeToken>& since,
                                     const std::function<void()>& checkpoint) {
    if (!isOwn(zone)) {
        return refusal(CloudErrorCode::permissionFailure, "the zone belongs to another owner");
    }
    pqxx::transaction<pqxx::repeatable_read, pqxx::read_only> tx(connection);
    if (!zoneExists(tx, zone.zoneName)) {
        return refusal(CloudErrorCode::zoneNotFound, "no such zone");
    }
    qint64 counter = 0;
    qint64 prunedThrough = 0;
    const pqxx::result owner =
        tx.exec("SELECT change_counter, pruned_through FROM snipjar.owners WHERE owner = current_user");
    if (!owner.empty()) {
        counter = owner[0][0].as<qint64>();
        prunedThrough = owner[0][1].as<qint64>();
    }
    if (since && (since->value < prunedThrough || since->value > counter || since->value < 0)) {
        return refusal(CloudErrorCode::changeTokenExpired, "the change token is older than the kept changes");
    }
    if (since && since->value > 0 && !holdsPosition(tx, since->value)) {
        CloudError lost = refusal(CloudErrorCode::changeTokenExpired,
                                  "the server's history no longer holds the change token's position");
        lost.historyWentBack = true;
        return lost;
    }
    const pqxx::result rows = tx.exec_params(
        "SELECT record_name, record_type, change_tag, change_number, deleted, "
        "CASE WHEN length(fields) <= $4 THEN fields END FROM snipjar.records "
        "WHERE owner = current_user AND zone_name = $1 AND change_number > $2 AND (NOT deleted OR $3) "
        "ORDER BY change_number LIMIT $5",
        text(zone.zoneName), since ? since->value : 0, since.has_value(), CloudRecord::largestEncodedFields,
        CloudDatabase::pageLimit + 1);

    ChangePage page;
    page.moreComing = rows.size() > static_cast<size_t>(CloudDatabase::pageLimit);
    const size_t count = std::min(rows.size(), static_cast<size_t>(CloudDatabase::pageLimit));
    std::shared_ptr<FetchedAssetFolder> folder;
    for (size_t i = 0; i < count; ++i) {
        checkpoint();
        const auto& row = rows[static_cast<pqxx::result::size_type>(i)];
        const QString name = qtext(row[0]);
        const QString type = qtext(row[1]);
        if (row[4].as<bool>()) {
            page.deletions.append({RecordID{name, zone}, type});
            continue;
        }
        auto record = decodeRecord(zone, name, type, row[2], row[5]);
        if (!record) {
            qCWarning(lcSync) << "Skipped a fetched record whose fields cannot be read:" << name;
            continue;
        }
        if (!loadAssets(tx, *record, folder)) {
            return refusal(CloudErrorCode::internalError, "a fetched asset could not be written to a file");
        }
        page.modifications.append(std::move(*record));
    }
    page.nextToken.value =
        page.moreComing ? rows[static_cast<pqxx::result::size_type>(count - 1)][3].as<qint64>() : counter;
    page.assetFiles = std::move(folder);
    tx.commit();
    return page;
}

} // namespace snipjar::cloud::postgres
