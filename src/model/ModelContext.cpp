#include "model/ModelContext.h"

#include "model/BlobStorage.h"
#include "model/ModelContainer.h"
#include "model/StoreConnection.h"
#include "model/StoreRows.h"
#include "platform/LogCategories.h"

namespace snipjar {

using StoreRows::uuidText;

namespace {

QString itemSelect(const ClipItemQuery& query, QString columns = QLatin1String(StoreRows::itemColumns)) {
    if (query.omitLargeFields) {
        columns.replace(QLatin1String("thumbnailData"), QLatin1String("NULL"));
        columns.replace(QLatin1String("cloudRecordSystemFields"), QLatin1String("NULL"));
    }
    QString sql = QStringLiteral("SELECT %1 FROM ClipItem").arg(columns);
    QStringList conditions;
    if (query.id) {
        conditions << QStringLiteral("id = :id");
    }
    if (query.dedupKey) {
        conditions << QStringLiteral("dedupKey = :dedupKey");
    }
    if (query.deviceID) {
        conditions << QStringLiteral("deviceID = :deviceID");
    }
    if (query.hasCloudRecord) {
        conditions << (*query.hasCloudRecord ? QStringLiteral("cloudRecordSystemFields IS NOT NULL")
                                             : QStringLiteral("cloudRecordSystemFields IS NULL"));
    }
    if (!conditions.isEmpty()) {
        sql += QStringLiteral(" WHERE ") + conditions.join(QStringLiteral(" AND "));
    }
    // Items copied in the same millisecond keep the order in which they were filed.
    switch (query.order) {
    case ClipItemQuery::Order::newestFirst:
        sql += QStringLiteral(" ORDER BY createdAt DESC, rowid DESC");
        break;
    case ClipItemQuery::Order::oldestFirst:
        sql += QStringLiteral(" ORDER BY createdAt ASC, rowid ASC");
        break;
    case ClipItemQuery::Order::unsorted:
        break;
    }
    if (query.limit) {
        sql += QStringLiteral(" LIMIT :limit");
    }
    return sql;
}

void bindNamed(StoreStatement& statement, StoreConnection&, const ClipItemQuery& query) {
    int index = 1;
    if (query.id) {
        statement.bind(index++, uuidText(*query.id));
    }
    if (query.dedupKey) {
        statement.bind(index++, *query.dedupKey);
    }
    if (query.deviceID) {
        statement.bind(index++, *query.deviceID);
    }
    if (query.limit) {
        statement.bind(index++, qint64(std::max(0, *query.limit)));
    }
}

} // namespace

ModelContext::ModelContext(ModelContainer& container, std::unique_ptr<StoreConnection> connection)
    : owner(container)
    , connection(std::move(connection)) {}

ModelContext::~ModelContext() {
    rollback();
    if (connection) {
        owner.releaseConnection(std::move(connection));
    }
}

QList<ClipItem> ModelContext::fetch(const ClipItemQuery& query) {
    QList<ClipItem> items;
    if (!connection) {
        return items;
    }
    applyHeld();
    StoreStatement statement = connection->prepare(itemSelect(query));
    bindNamed(statement, *connection, query);
    while (statement.step() == StoreStatement::Step::row) {
        items.append(StoreRows::readItem(statement));
    }
    return items;
}

QList<ClipItemSummary> ModelContext::fetchSummaries(const ClipItemQuery& query) {
    QList<ClipItemSummary> summaries;
    if (!connection) {
        return summaries;
    }
    applyHeld();
    StoreStatement statement =
        connection->prepare(itemSelect(query, QStringLiteral("id, createdAt, deviceID, pinned, byteSize")));
    bindNamed(statement, *connection, query);
    while (statement.step() == StoreStatement::Step::row) {
        summaries.append({StoreRows::uuidFrom(statement.text(0)), StoreRows::timeFrom(statement.integer(1)),
                          statement.text(2), statement.boolean(3), statement.integer(4)});
    }
    return summaries;
}

QList<LimitWalkRow> ModelContext::limitWalkRows(const QString& deviceID) {
    QList<LimitWalkRow> rows;
    if (!connection) {
        return rows;
    }
    applyHeld();
    StoreStatement statement = connection->prepare(
        QStringLiteral("SELECT rowid, createdAt, pinned, byteSize FROM ClipItem WHERE deviceID = ?1"
                       " ORDER BY createdAt DESC, rowid DESC"));
    statement.bind(1, deviceID);
    while (statement.step() == StoreStatement::Step::row) {
        rows.append({statement.integer(0), statement.integer(1), statement.boolean(2), statement.integer(3)});
    }
    return rows;
}

std::optional<QUuid> ModelContext::itemIDOfRow(qint64 rowID) {
    if (!connection) {
        return std::nullopt;
    }
    applyHeld();
    StoreStatement statement =
        connection->prepare(QStringLiteral("SELECT id FROM ClipItem WHERE rowid = ?1"));
    statement.bind(1, rowID);
    if (statement.step() != StoreStatement::Step::row) {
        return std::nullopt;
    }
    return StoreRows::uuidFrom(statement.text(0));
}

std::optional<ClipItem> ModelContext::item(const QUuid& id) {
    const QList<ClipItem> found = fetch(ClipItemQuery::withID(id));
    if (found.isEmpty()) {
        return std::nullopt;
    }
    return found.first();
}

std::optional<ClipPayload> ModelContext::payload(const QUuid& itemID) {
    if (!connection) {
        return std::nullopt;
    }
    applyHeld();
    std::optional<StoreRows::PayloadRow> row;
    {
        StoreStatement statement =
            connection->prepare(QStringLiteral("SELECT %1 FROM ClipPayload WHERE itemID = ? LIMIT 1")
                                    .arg(QLatin1String(StoreRows::payloadColumns)));
        statement.bind(1, uuidText(itemID));
        if (statement.step() != StoreStatement::Step::row) {
            return std::nullopt;
        }
        row = StoreRows::readPayloadRow(statement);
    }
    // The files are read after the statement has ended its read transaction. A file removed by a
    // concurrent committed deletion reads as absent, like the row would a moment later.
    if (const BlobStorage* blobs = owner.blobStorage()) {
        if (row->richTextFile) {
            row->payload.richTextData = blobs->read(*row->richTextFile);
        }
        if (row->imageFile) {
            row->payload.imageData = blobs->read(*row->imageFile);
        }
    }
    return std::move(row->payload);
}

bool ModelContext::hasPayloadRecord(const QUuid& itemID) {
    if (!connection) {
        return false;
    }
    applyHeld();
    StoreStatement statement =
        connection->prepare(QStringLiteral("SELECT 1 FROM ClipPayload WHERE itemID = ? LIMIT 1"));
    statement.bind(1, uuidText(itemID));
    return statement.step() == StoreStatement::Step::row;
}

bool ModelContext::isPayloadLinked(const QUuid& itemID) {
    if (!connection) {
        return false;
    }
    applyHeld();
    StoreStatement statement = connection->prepare(
        QStringLiteral("SELECT 1 FROM ClipPayload WHERE itemID = ? AND itemLinked = 1 LIMIT 1"));
    statement.bind(1, uuidText(itemID));
    return statement.step() == StoreStatement::Step::row;
}

QList<Device> ModelContext::devices() {
    QList<Device> result;
    if (!connection) {
        return result;
    }
    applyHeld();
    StoreStatement statement = connection->prepare(
        QStringLiteral("SELECT %1 FROM Device ORDER BY rowid").arg(QLatin1String(StoreRows::deviceColumns)));
    while (statement.step() == StoreStatement::Step::row) {
        result.append(StoreRows::readDevice(statement));
    }
    return result;
}

std::optional<Device> ModelContext::device(const QString& id) {
    if (!connection) {
        return std::nullopt;
    }
    applyHeld();
    StoreStatement statement =
        connection->prepare(QStringLiteral("SELECT %1 FROM Device WHERE id = ? LIMIT 1")
                                .arg(QLatin1String(StoreRows::deviceColumns)));
    statement.bind(1, id);
    if (statement.step() != StoreStatement::Step::row) {
        return std::nullopt;
    }
    return StoreRows::readDevice(statement);
}

qint64 ModelContext::totalByteSize() {
    if (!connection) {
        return 0;
    }
    applyHeld();
    return connection->queryInteger("SELECT COALESCE(SUM(byteSize), 0) FROM ClipItem").value_or(0);
}

void ModelContext::insert(const ClipItem& item) {
    hold({[item](StoreConnection& connection, QStringList&) {
              StoreStatement statement = connection.prepare(
                  QStringLiteral("INSERT INTO ClipItem (%1) VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)")
                      .arg(QLatin1String(StoreRows::itemColumns)));
              StoreRows::bindItem(statement, item, 1);
              return statement.run();
          },
          {}});
}

void ModelContext::insert(const ClipPayload& payload, PayloadLink link) {
    // Large bytes go to their files now, before any lock is taken; the row only names them. The
    // change keeps the payload by implicit sharing, so the bytes are never copied.
    std::optional<QString> richTextFile;
    std::optional<QString> imageFile;
    if (const BlobStorage* blobs = owner.blobStorage()) {
        if (payload.richTextData && payload.richTextData->size() >= BlobStorage::externalThreshold) {
            richTextFile = blobs->write(payload.itemID, "richText", *payload.richTextData);
        }
        if (payload.imageData && payload.imageData->size() >= BlobStorage::externalThreshold) {
            imageFile = blobs->write(payload.itemID, "image", *payload.imageData);
        }
    }
    Change change;
    change.writtenFiles << richTextFile.value_or(QString()) << imageFile.value_or(QString());
    change.writtenFiles.removeAll(QString());
    change.apply = [payload, link, richTextFile, imageFile](StoreConnection& connection, QStringList&) {
        StoreStatement statement = connection.prepare(QStringLiteral(
            "INSERT INTO ClipPayload (itemID, fullText, richTextData, richTextFile, imageData, imageFile, "
            "dataUTI, cloudRecordSystemFields, itemLinked) VALUES (?,?,?,?,?,?,?,?,?)"));
        statement.bind(1, uuidText(payload.itemID));
        statement.bind(2, payload.fullText);
        statement.bind(3, richTextFile ? std::nullopt : payload.richTextData);
        statement.bind(4, richTextFile);
        statement.bind(5, imageFile ? std::nullopt : payload.imageData);
        statement.bind(6, imageFile);
        statement.bind(7, payload.dataUTI);
        statement.bind(8, payload.cloudRecordSystemFields);
        statement.bind(9, link == PayloadLink::toItem);
        return statement.run();
    };
    hold(std::move(change));
}

void ModelContext::insert(const Device& device) {
    hold({[device](StoreConnection& connection, QStringList&) {
              StoreStatement statement =
                  connection.prepare(QStringLiteral("INSERT INTO Device (%1) VALUES (?,?,?)")
                                         .arg(QLatin1String(StoreRows::deviceColumns)));
              statement.bind(1, device.id);
              statement.bind(2, device.name);
              statement.bind(3, device.cloudRecordSystemFields);
              return statement.run();
          },
          {}});
}

void ModelContext::update(const ClipItem& item) {
    hold({[item](StoreConnection& connection, QStringList&) {
              StoreStatement statement = connection.prepare(QStringLiteral(
                  "UPDATE ClipItem SET id = ?1, createdAt = ?2, deviceID = ?3, kindRaw = ?4, concealed = ?5, "
                  "pinned = ?6, dedupKey = ?7, byteSize = ?8, title = ?9, thumbnailData = ?10, pixelWidth = "
                  "?11, "
                  "pixelHeight = ?12, hasPayload = ?13, fileURLsJoined = ?14, sourceBundleID = ?15, "
                  "sourceName = ?16, cloudRecordSystemFields = ?17 WHERE id = ?1"));
              StoreRows::bindItem(statement, item, 1);
              return statement.run();
          },
          {}});
}

void ModelContext::update(const Device& device) {
    hold({[device](StoreConnection& connection, QStringList&) {
              StoreStatement statement = connection.prepare(
                  QStringLiteral("UPDATE Device SET name = ?2, cloudRecordSystemFields = ?3 WHERE id = ?1"));
              statement.bind(1, device.id);
              statement.bind(2, device.name);
              statement.bind(3, device.cloudRecordSystemFields);
              return statement.run();
          },
          {}});
}

void ModelContext::setCreatedAt(const QUuid& id, const QDateTime& createdAt) {
    hold({[id, createdAt](StoreConnection& connection, QStringList&) {
              StoreStatement statement =
                  connection.prepare(QStringLiteral("UPDATE ClipItem SET createdAt = ? WHERE id = ?"));
              statement.bind(1, StoreRows::timeValue(createdAt));
              statement.bind(2, uuidText(id));
              return statement.run();
          },
          {}});
}

void ModelContext::setPinned(const QUuid& id, bool pinned) {
    hold({[id, pinned](StoreConnection& connection, QStringList&) {
              StoreStatement statement =
                  connection.prepare(QStringLiteral("UPDATE ClipItem SET pinned = ? WHERE id = ?"));
              statement.bind(1, pinned);
              statement.bind(2, uuidText(id));
              return statement.run();
          },
          {}});
}

void ModelContext::setPixelSize(const QUuid& id, std::optional<qint64> width, std::optional<qint64> height) {
    hold({[id, width, height](StoreConnection& connection, QStringList&) {
              StoreStatement statement = connection.prepare(
                  QStringLiteral("UPDATE ClipItem SET pixelWidth = ?, pixelHeight = ? WHERE id = ?"));
              statement.bind(1, width);
              statement.bind(2, height);
              statement.bind(3, uuidText(id));
              return statement.run();
          },
          {}});
}

void ModelContext::setPayloadCloudRecordSystemFields(const QUuid& itemID,
                                                     const std::optional<QByteArray>& fields) {
    hold({[itemID, fields](StoreConnection& connection, QStringList&) {
              StoreStatement statement = connection.prepare(
                  QStringLiteral("UPDATE ClipPayload SET cloudRecordSystemFields = ? WHERE itemID = ?"));
              statement.bind(1, fields);
              statement.bind(2, uuidText(itemID));
              return statement.run();
          },
          {}});
}

void ModelContext::linkPayload(const QUuid& itemID) {
    hold({[itemID](StoreConnection& connection, QStringList&) {
              StoreStatement statement = connection.prepare(
                  QStringLiteral("UPDATE ClipPayload SET itemLinked = 1 WHERE itemID = ?"));
              statement.bind(1, uuidText(itemID));
              return statement.run();
          },
          {}});
}

bool ModelContext::removePayloadRows(StoreConnection& connection, const QString& itemID,
                                     QStringList& filesToRemove) {
    {
        StoreStatement files = connection.prepare(
            QStringLiteral("SELECT richTextFile, imageFile FROM ClipPayload WHERE itemID = ? AND "
                           "(richTextFile IS NOT NULL OR imageFile IS NOT NULL)"));
        files.bind(1, itemID);
        StoreStatement::Step step = files.step();
        while (step == StoreStatement::Step::row) {
            for (int column : {0, 1}) {
                if (const auto name = files.optionalText(column)) {
                    filesToRemove << *name;
                }
            }
            step = files.step();
        }
        if (step == StoreStatement::Step::error) {
            return false;
        }
    }
    StoreStatement statement = connection.prepare(QStringLiteral("DELETE FROM ClipPayload WHERE itemID = ?"));
    statement.bind(1, itemID);
    return statement.run();
}

void ModelContext::removeItem(const QUuid& id) {
    // The payload goes with its item, whether or not it was joined to it: a payload whose item is
    // gone could never be shown or synced again.
    hold({[this, id](StoreConnection& connection, QStringList& filesToRemove) {
              const QString text = uuidText(id);
              if (!removePayloadRows(connection, text, filesToRemove)) {
                  return false;
              }
              StoreStatement statement =
                  connection.prepare(QStringLiteral("DELETE FROM ClipItem WHERE id = ?"));
              statement.bind(1, text);
              return statement.run();
          },
          {}});
}

void ModelContext::removePayload(const QUuid& itemID) {
    hold({[this, itemID](StoreConnection& connection, QStringList& filesToRemove) {
              return removePayloadRows(connection, uuidText(itemID), filesToRemove);
          },
          {}});
}

void ModelContext::removeDevice(const QString& id) {
    hold({[id](StoreConnection& connection, QStringList&) {
              StoreStatement statement =
                  connection.prepare(QStringLiteral("DELETE FROM Device WHERE id = ?"));
              statement.bind(1, id);
              return statement.run();
          },
          {}});
}

void ModelContext::hold(Change change) {
    changes.push_back(std::move(change));
}

bool ModelContext::applyHeld() {
    if (appliedCount == changes.size()) {
        return true;
    }
    if (!connection) {
        return false;
    }
    if (!connection->isInTransaction() && !connection->exec("BEGIN IMMEDIATE")) {
        return false;
    }
    for (; appliedCount < changes.size(); ++appliedCount) {
        if (!changes[appliedCount].apply(*connection, filesToRemoveAfterCommit)) {
            // Start the whole unit of work afresh at the next attempt.
            abandonTransaction();
            return false;
        }
    }
    return true;
}

void ModelContext::abandonTransaction() {
    if (connection && connection->isInTransaction()) {
        connection->exec("ROLLBACK");
    }
    appliedCount = 0;
    filesToRemoveAfterCommit.clear();
}

bool ModelContext::save() {
    if (changes.empty()) {
        return true;
    }
    if (!applyHeld()) {
        qCDebug(lcStore) << "save failed";
        return false;
    }
    if (!connection->exec("COMMIT")) {
        qCDebug(lcStore) << "commit failed";
        if (!connection->isInTransaction()) {
            appliedCount = 0;
            filesToRemoveAfterCommit.clear();
        }
        return false;
    }
    changes.clear();
    appliedCount = 0;
    // Only now is no committed row naming these files any more.
    if (const BlobStorage* blobs = owner.blobStorage()) {
        for (const QString& name : std::as_const(filesToRemoveAfterCommit)) {
            blobs->remove(name);
        }
    }
    filesToRemoveAfterCommit.clear();
    return true;
}

void ModelContext::rollback() {
    abandonTransaction();
    if (const BlobStorage* blobs = owner.blobStorage()) {
        for (const Change& change : changes) {
            for (const QString& name : change.writtenFiles) {
                blobs->remove(name);
            }
        }
    }
    changes.clear();
}

} // namespace snipjar
