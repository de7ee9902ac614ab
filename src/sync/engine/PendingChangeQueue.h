#pragma once

#include "sync/engine/SyncEngine.h"

#include <QHash>
#include <QJsonArray>

#include <functional>
#include <map>

namespace snipjar::sync {

// The engine's queue of pending changes. Every add of a record's change, even one already queued,
// gives it a new generation, so that a change queued again while it is being sent is not taken for
// sent when the server's answer comes. A save and a delete of one record replace each other, and
// the replacing change goes to the end of the queue.
class PendingChangeQueue : public SyncEngineState {
public:
    explicit PendingChangeQueue(std::function<void()> onChange = {});

    void add(const QList<PendingDatabaseChange>& changes) override;
    void add(const QList<PendingRecordZoneChange>& changes) override;
    void remove(const QList<PendingRecordZoneChange>& changes) override;
    QList<PendingRecordZoneChange> pendingRecordZoneChanges() const override;
    QList<PendingDatabaseChange> pendingDatabaseChanges() const override;

    void removeDatabaseChange(const PendingDatabaseChange& change);
    // The generation of the queued change, or none when it is not queued.
    std::optional<quint64> generation(const PendingRecordZoneChange& change) const;
    // Removes the change only when it still has that generation (was not queued again since).
    void removeIfUnchanged(const PendingRecordZoneChange& change, quint64 generation);
    int size() const { return static_cast<int>(entries.size()); }

    QJsonArray recordChangesToJson() const;
    QJsonArray databaseChangesToJson() const;
    // Replaces the content; entries that are not understood are skipped.
    void restore(const QJsonArray& recordChanges, const QJsonArray& databaseChanges);

    static QJsonObject recordIDToJson(const cloud::RecordID& id);
    static std::optional<cloud::RecordID> recordIDFromJson(const QJsonObject& object);
    static QJsonObject zoneToJson(const cloud::RecordZoneID& zone);
    static std::optional<cloud::RecordZoneID> zoneFromJson(const QJsonObject& object);
    // "owner␟zone␟record", and back.
    static QString keyOf(const cloud::RecordID& id);
    static std::optional<cloud::RecordID> recordIDFromKey(QStringView key);

private:
    struct Entry {
        PendingRecordZoneChange change;
        quint64 generation = 0;
    };

    void changed();

    std::function<void()> onChange;
    std::map<quint64, Entry> entries;  // by position in the queue
    QHash<QString, quint64> positions; // record key → position
    quint64 nextPosition = 1;
    quint64 nextGeneration = 1;
    QList<PendingDatabaseChange> databaseChanges;
};

} // namespace snipjar::sync
