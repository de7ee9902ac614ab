#pragma once

#include "model/ClipRecords.h"
#include "model/ClipSyncChange.h"
#include "store/StagedPayload.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace snipjar {

class ModelContainer;
class StoreConnection;

// Which items a fetch returns: every condition given must hold (equality), optionally sorted by
// createdAt and cut to a number of results.
struct ClipItemQuery {
    enum class Order { unsorted, newestFirst, oldestFirst };

    std::optional<QUuid> id;
    std::optional<QString> dedupKey;
    std::optional<QString> deviceID;
    // False: only items never uploaded (no cloudRecordSystemFields); true: only uploaded ones.
    std::optional<bool> hasCloudRecord;
    Order order = Order::unsorted;
    std::optional<int> limit;
    // Leaves thumbnailData and cloudRecordSystemFields absent, for walks that need neither.
    bool omitLargeFields = false;

    static ClipItemQuery all(Order order = Order::newestFirst) { return ClipItemQuery().sorted(order); }
    static ClipItemQuery withID(const QUuid& id) { return ClipItemQuery().whereID(id).limitedTo(1); }

    ClipItemQuery whereID(const QUuid& value) const { return with(&ClipItemQuery::id, value); }
    ClipItemQuery whereDedupKey(const QString& value) const { return with(&ClipItemQuery::dedupKey, value); }
    ClipItemQuery whereDeviceID(const QString& value) const { return with(&ClipItemQuery::deviceID, value); }
    ClipItemQuery whereCloudRecord(bool present) const {
        return with(&ClipItemQuery::hasCloudRecord, present);
    }
    ClipItemQuery sorted(Order value) const { return with(&ClipItemQuery::order, value); }
    ClipItemQuery limitedTo(int value) const { return with(&ClipItemQuery::limit, value); }
    ClipItemQuery withoutLargeFields() const { return with(&ClipItemQuery::omitLargeFields, true); }

private:
    template <typename Field, typename Value>
    ClipItemQuery with(Field ClipItemQuery::*field, const Value& value) const {
        ClipItemQuery copy = *this;
        copy.*field = value;
        return copy;
    }
};

// The fields the history limits and deletions walk over, without the rest of the record.
struct ClipItemSummary {
    QUuid id;
    QDateTime createdAt;
    QString deviceID;
    bool pinned = false;
    qint64 byteSize = 0;
};

// The few columns the history limits walk over, without building the item's values.
struct LimitWalkRow {
    qint64 createdAtMilliseconds = 0;
    bool pinned = false;
    qint64 byteSize = 0;
};

// Whether a stored payload is joined to its item: an inbound payload can arrive before its item.
enum class PayloadLink { toItem, none };

// A change of the sync store that the sync server has yet to confirm, by its place in the outbox.
struct OutboxEntry {
    qint64 seq = 0;
    ClipSyncChange change;
};

// A unit of work on one store, on its own SQLite connection, used by one thread. Inserts, updates
// and deletions are held until save(); fetches see them (and the saved changes of every other
// context of the store). save() writes them in one transaction; a failed save keeps them for the
// next save. Changes never saved are discarded when the context is destroyed.
//
// The store's write lock is held only while save() writes, and while a fetch applies the held
// changes to read them (they are rolled back afterwards and stay held), so a context with unsaved
// changes never keeps other connections from writing. A caller whose reads and writes must not be
// interleaved with another connection's writes opens a write unit (beginWrite), which holds the
// lock from the first read to save() or rollback().
//
// Deleting an item deletes its payload. Payload bytes above BlobStorage::externalThreshold are
// written to their files when the payload is inserted or staged, so the write lock is not held
// meanwhile.
class ModelContext {
public:
    ModelContext(ModelContainer& container, std::unique_ptr<StoreConnection> connection);
    ~ModelContext();
    ModelContext(const ModelContext&) = delete;
    ModelContext& operator=(const ModelContext&) = delete;

    ModelContainer& container() const { return owner; }
    // False when no connection to the store could be opened: fetches find nothing, saves fail.
    bool isConnected() const { return connection != nullptr; }

    // Fetches. A failure counts as finding nothing.
    QList<ClipItem> fetch(const ClipItemQuery& query);
    QList<ClipItemSummary> fetchSummaries(const ClipItemQuery& query);
    // Walks one computer's items newest first, as the history limits do, and returns the ids of the
    // rows `pick` chose. The ids are read in the walk itself, so within a write unit they name
    // exactly the items walked.
    QList<QUuid> walkForLimits(const QString& deviceID, const std::function<bool(const LimitWalkRow&)>& pick);
    std::optional<ClipItem> item(const QUuid& id);
    // The payload with its bytes (read from their files when stored outside the row); none when a
    // file it names cannot be read, as for a payload that cannot be loaded at all.
    std::optional<ClipPayload> payload(const QUuid& itemID);
    bool hasPayloadRecord(const QUuid& itemID);
    bool isPayloadLinked(const QUuid& itemID);
    QList<Device> devices();
    std::optional<Device> device(const QString& id);
    // Sum of byteSize over all items.
    qint64 totalByteSize();
    // Changes whenever another connection has committed to the store since this one last looked
    // (SQLite's data_version): a reader that keeps its context learns whether what it read is still
    // current.
    qint64 dataVersion();

    // Changes, written at the next save.
    void insert(const ClipItem& item);
    void insert(const ClipPayload& payload, PayloadLink link = PayloadLink::toItem);
    // A payload whose files were written beforehand; they stay the staged payload's own.
    void insert(const StagedPayload& staged, PayloadLink link = PayloadLink::toItem);
    void insert(const Device& device);
    // Replaces every field of the records with the same identifier.
    void update(const ClipItem& item);
    void update(const Device& device);
    // Single-field updates, which leave concurrent changes of the other fields in place.
    void setCreatedAt(const QUuid& id, const QDateTime& createdAt);
    void setPinned(const QUuid& id, bool pinned);
    // Every item of the device `from` becomes an item of the device `to`.
    void reassignItems(const QString& from, const QString& to);
    void setPixelSize(const QUuid& id, std::optional<qint64> width, std::optional<qint64> height);
    void setCloudRecordSystemFields(const QUuid& id, const std::optional<QByteArray>& fields);
    void setPayloadCloudRecordSystemFields(const QUuid& itemID, const std::optional<QByteArray>& fields);
    void linkPayload(const QUuid& itemID);
    // Deletes the item and its payload.
    void removeItem(const QUuid& id);
    void removePayload(const QUuid& itemID);
    void removeDevice(const QString& id);

    // The sync outbox: changes the server must hear of, held with the change that made them so that
    // both are saved together; removed, up to a place, once the server confirmed them.
    void addToOutbox(const ClipSyncChange& change);
    void removeFromOutbox(const QUuid& itemID, qint64 throughSeq);
    QList<OutboxEntry> outbox();
    // The newest place in the outbox; 0 when nothing was ever added.
    qint64 lastOutboxSeq();
    // Forgets what one sync server confirmed and what it was still to be told: every system field
    // and the whole outbox.
    void forgetSyncServer();

    // Writes the payload's large bytes to their files now, before any lock is taken.
    StagedPayload stage(const ClipPayload& payload) const;

    // Takes the store's write lock, waiting for another writer as long as the busy timeout allows,
    // and keeps it for every fetch and change until save() or rollback(). False when the lock could
    // not be had. A change that fails inside the unit ends it, and the following save() fails.
    bool beginWrite();

    enum class RowUpdate { changed, noSuchItem, failed };
    // Within a write unit: writes the item's createdAt at once and tells whether a row had that id;
    // nothing is held unless one had.
    RowUpdate setCreatedAtNow(const QUuid& id, const QDateTime& createdAt);

    bool hasChanges() const { return !changes.empty(); }
    // Writes every held change in one transaction; false when that failed (the changes are kept, and
    // the lock is released).
    bool save();
    // Drops every change not yet saved and ends the write unit.
    void rollback();

    // How long this context waits for another connection's write lock before it gives up as busy.
    void setBusyTimeout(int milliseconds);

private:
    struct Change {
        std::function<bool(StoreConnection&, QStringList& filesToRemove)> apply;
        // Payload files this change wrote; removed when the change is dropped unsaved.
        QStringList writtenFiles;
    };
    enum class Unit { none, writing, broken };
    class HeldView;

    void hold(Change change);
    // Brings the held changes into the open transaction.
    bool applyHeld();
    void abandonTransaction();
    static Change payloadInsert(const StagedPayload& staged, PayloadLink link);
    static Change createdAtChange(const QUuid& id, const QDateTime& createdAt);
    bool removePayloadRows(StoreConnection& connection, const QString& itemID, QStringList& filesToRemove);
    // One integer read under a held view; 0 without a connection or on failure.
    qint64 integerOrZero(const char* sql);

    ModelContainer& owner;
    std::unique_ptr<StoreConnection> connection;
    std::vector<Change> changes;
    size_t appliedCount = 0;
    QStringList filesToRemoveAfterCommit;
    Unit unit = Unit::none;
};

} // namespace snipjar
