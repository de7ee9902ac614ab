#include "store/ModelContext.h"

#include "platform/LogCategories.h"
#include "store/BlobStorage.h"
#include "store/ModelContainer.h"
#include "store/StoreConnection.h"
#include "store/StoreRows.h"

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

// Lets the reads in its scope see the held changes. Inside a write unit they are applied to the
// unit's transaction and stay there. Otherwise they are applied in a transaction of their own, which
// is rolled back when the reads are done: the write lock is held for the reads alone, and the
// changes stay held for save(). When they cannot be applied, the reads see the saved state.
class ModelContext::HeldView {
public:
    explicit HeldView(ModelContext& context)
        : context(context) {
        if (context.appliedCount == context.changes.size()) {
            return;
        }
        if (context.unit == Unit::writing) {
            context.applyHeld();
            return;
        }
        if (context.unit == Unit::none && context.connection->exec("BEGIN IMMEDIATE")) {
            temporary = context.applyHeld();
        }
    }
    ~HeldView() {
        if (temporary) {
            context.abandonTransaction();
        }
    }
    HeldView(const HeldView&) = delete;
    HeldView& operator=(const HeldView&) = delete;

private:
    ModelContext& context;
    bool temporary = false;
};

QList<ClipItem> ModelContext::fetch(const ClipItemQuery& query) {
    QList<ClipItem> items;
    if (!connection) {
        return items;
    }
    const HeldView view(*this);
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
    const HeldView view(*this);
    StoreStatement statement =
        connection->prepare(itemSelect(query, QStringLiteral("id, createdAt, deviceID, pinned, byteSize")));
    bindNamed(statement, *connection, query);
    while (statement.step() == StoreStatement::Step::row) {
        summaries.append({StoreRows::uuidFrom(statement.text(0)), StoreRows::timeFrom(statement.integer(1)),
                          statement.text(2), statement.boolean(3), statement.integer(4)});
    }
    return summaries;
}

QList<QUuid> ModelContext::walkForLimits(const QString& deviceID,
                                         const std::function<bool(const LimitWalkRow&)>& pick) {
    QList<QUuid> picked;
    if (!connection) {
        return picked;
    }
    const HeldView view(*this);
    // The covering index ClipItem_deviceID_createdAt holds every column read here; the id is turned
    // into a value only for the rows picked.
    StoreStatement statement = connection->prepare(
        QStringLiteral("SELECT createdAt, pinned, byteSize, id FROM ClipItem WHERE deviceID = ?1"
                       " ORDER BY createdAt DESC, rowid DESC"));
    statement.bind(1, deviceID);
    while (statement.step() == StoreStatement::Step::row) {
        if (pick({statement.integer(0), statement.boolean(1), statement.integer(2)})) {
            picked.append(StoreRows::uuidFrom(statement.text(3)));
        }
    }
    return picked;
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
    const HeldView view(*this);
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
    // The files are read after the statement is done with the row. A file removed meanwhile by a
    // committed deletion reads as missing: the payload is gone either way.
    return StoreRows::loadPayload(std::move(*row), owner.blobStorage());
}

bool ModelContext::hasPayloadRecord(const QUuid& itemID) {
    if (!connection) {
        return false;
    }
    const HeldView view(*this);
    StoreStatement statement =
        connection->prepare(QStringLiteral("SELECT 1 FROM ClipPayload WHERE itemID = ? LIMIT 1"));
    statement.bind(1, uuidText(itemID));
    return statement.step() == StoreStatement::Step::row;
}

bool ModelContext::isPayloadLinked(const QUuid& itemID) {
    if (!connection) {
        return false;
    }
    const HeldView view(*this);
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
    const HeldView view(*this);
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
    const HeldView view(*this);
    StoreStatement statement =
        connection->prepare(QStringLiteral("SELECT %1 FROM Device WHERE id = ? LIMIT 1")
                                .arg(QLatin1String(StoreRows::deviceColumns)));
    statement.bind(1, id);
    if (statement.step() != StoreStatement::Step::row) {
        return std::nullopt;
    }
    return StoreRows::readDevice(statement);
}

qint64 ModelContext::integerOrZero(const char* sql) {
    if (!connection) {
        return 0;
    }
    const HeldView view(*this);
    return connection->queryInteger(sql).value_or(0);
}

qint64 ModelContext::totalByteSize() {
    return integerOrZero("SELECT COALESCE(SUM(byteSize), 0) FROM ClipItem");
}

qint64 ModelContext::dataVersion() {
    return integerOrZero("PRAGMA data_version");
}

QList<OutboxEntry> ModelContext::outbox() {
    QList<OutboxEntry> result;
    if (!connection) {
        return result;
    }
    const HeldView view(*this);
    StoreStatement statement =
        connection->prepare(QStringLiteral("SELECT seq, itemID, change FROM SyncOutbox ORDER BY seq"));
    while (statement.step() == StoreStatement::Step::row) {
        const QUuid id = StoreRows::uuidFrom(statement.text(1));
        const qint64 code = statement.integer(2);
        if (id.isNull()) {
            continue;
        }
        result.append({statement.integer(0),
                       code == 2 ? ClipSyncChange::remove(id) : ClipSyncChange::save(id, code == 1)});
    }
    return result;
}

qint64 ModelContext::lastOutboxSeq() {
    return integerOrZero("SELECT COALESCE(MAX(seq), 0) FROM SyncOutbox");
}

bool ModelContext::beginWrite() {
    if (!connection) {
        return false;
    }
    if (unit == Unit::writing) {
        return true;
    }
    abandonTransaction();
    if (!connection->exec("BEGIN IMMEDIATE")) {
        unit = Unit::none;
        return false;
    }
    unit = Unit::writing;
    if (!applyHeld()) {
        unit = Unit::none;
        return false;
    }
    return true;
}

bool ModelContext::applyHeld() {
    for (; appliedCount < changes.size(); ++appliedCount) {
        if (!changes[appliedCount].apply(*connection, filesToRemoveAfterCommit)) {
            // Start the whole unit of work afresh at the next attempt; a write unit has lost its lock.
            abandonTransaction();
            if (unit == Unit::writing) {
                unit = Unit::broken;
            }
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
    if (!connection) {
        return false;
    }
    // What was decided on the reads of a write unit that lost its lock must not be written.
    if (unit == Unit::broken) {
        unit = Unit::none;
        qCDebug(lcStore) << "save failed: the unit of work lost its write lock";
        return false;
    }
    const bool wasWriting = std::exchange(unit, Unit::none) == Unit::writing;
    if (changes.empty()) {
        abandonTransaction();
        return true;
    }
    if (!wasWriting && !connection->exec("BEGIN IMMEDIATE")) {
        qCDebug(lcStore) << "save failed: no write lock";
        return false;
    }
    if (!applyHeld()) {
        qCDebug(lcStore) << "save failed";
        return false;
    }
    if (!connection->exec("COMMIT")) {
        // A failed save never keeps the lock; the changes stay held for the next one.
        qCDebug(lcStore) << "commit failed";
        abandonTransaction();
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
    unit = Unit::none;
    if (const BlobStorage* blobs = owner.blobStorage()) {
        for (const Change& change : changes) {
            for (const QString& name : change.writtenFiles) {
                blobs->remove(name);
            }
        }
    }
    changes.clear();
}

void ModelContext::setBusyTimeout(int milliseconds) {
    if (connection) {
        connection->setBusyTimeout(milliseconds);
    }
}

} // namespace snipjar
