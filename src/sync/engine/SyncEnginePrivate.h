#pragma once

#include "sync/engine/PendingChangeQueue.h"
#include "sync/engine/SyncEngine.h"
#include "sync/engine/SyncEngineWorker.h"

#include <QHash>
#include <QPointer>
#include <QSet>

#include <deque>
#include <map>
#include <set>

namespace snipjar::sync {

// Deletes the files of the records' assets (fetched records, once their event was handled).
void removeAssetFiles(const QList<cloud::CloudRecord>& records);

inline QString zoneKeyOf(const cloud::RecordZoneID& zone) {
    return zone.ownerName + QChar(0x1f) + zone.zoneName;
}

// The engine's inside: its persisted state, the events waiting for the delegate, the operations
// waiting for their turn, and the send and fetch steps (SyncEngineSend.cpp, SyncEngineFetch.cpp).
class SyncEngine::Private {
public:
    Private(SyncEngine* q, SyncEngineConfiguration configuration);

    // --- persisted state ---
    struct Unanswered {
        PendingRecordZoneChange::Kind kind = PendingRecordZoneChange::Kind::saveRecord;
        QByteArray fingerprint; // of the record sent; empty for deletions
    };
    StateSerialization serialization() const;
    void restore(const StateSerialization& state);
    void stateChanged();
    static QByteArray fingerprint(const cloud::CloudRecord& record);

    // --- events, one at a time ---
    // Delivers the event once the ones before it were handled, then runs then().
    void deliver(SyncEvent event, std::function<void()> then = {});
    // Runs then() once every event queued so far was handled.
    void afterEvents(std::function<void()> then);
    void schedulePump();
    void pump();

    // --- operations, one after another ---
    enum class OperationKind { send, fetch };
    void enqueueOperation(OperationKind kind, Completion done);
    void runNextOperation();
    void finishOperation(SyncEvent::Type lastEvent, const std::optional<cloud::CloudError>& error);

    // --- sending ---
    struct PlannedChange {
        PendingRecordZoneChange change;
        quint64 generation = 0;
    };
    // A record built on the worker for a planned save, with its fingerprint; none when the
    // provider gave none.
    using BuiltRecord = std::optional<std::pair<cloud::CloudRecord, QByteArray>>;
    void startSend();
    void sendZones();
    void sendNextBatch();
    void sendBuiltBatch(const QList<PlannedChange>& planned, QList<BuiltRecord> built);
    void handleModifyAnswer(const QList<PlannedChange>& sent, const QSet<QString>& resent,
                            cloud::CloudResult<cloud::ModifyOutcome> result);

    // --- fetching ---
    void startFetch();
    void fetchZone(int index);
    void handlePage(int index, cloud::CloudResult<cloud::ChangePage> result);
    void finishZonePage(int index, const cloud::ChangePage& page);

    SyncEngine* q;
    SyncEngineConfiguration configuration;
    bool droppedForeignState = false;
    PendingChangeQueue queue;
    SyncEngineWorker worker;

    QList<cloud::RecordZoneID> savedZones;
    QList<cloud::RecordZoneID> fetchedZones;
    QHash<QString, std::pair<cloud::RecordZoneID, cloud::ChangeToken>> tokens; // by zone
    QHash<QString, Unanswered> unanswered;                                     // by record

    struct QueuedEvent {
        std::optional<SyncEvent> event; // none: a plain continuation
        bool freshState = false;        // a stateUpdate whose serialization is taken when delivered
        std::function<void()> then;
    };
    std::deque<QueuedEvent> events;
    bool awaitingDelegate = false;
    bool pumpScheduled = false;
    bool stateUpdateQueued = false;

    struct Operation {
        OperationKind kind;
        Completion done;
    };
    std::deque<Operation> operations;
    std::optional<Operation> current;

    // The send in progress: changes already sent in it, by record, kind and generation.
    std::set<std::tuple<QString, int, quint64>> attempted;
    QList<cloud::RecordZoneID> attemptedZones;

    // The fetch in progress.
    QList<cloud::RecordZoneID> zonesToFetch;
    // A fetch of a zone from the start because its position expired: the position, and whether the
    // server said it no longer holds it. Kept in the state until the fetch got to its end and the
    // live records were named, so that an error or a restart on the way does not end it as an
    // ordinary fetch (which would keep what was deleted meanwhile for good).
    struct Refetch {
        cloud::RecordZoneID zone;
        qint64 expiredToken = 0;
        bool lostHistory = false;
    };
    std::optional<Refetch> refetch;
    bool refetching(const cloud::RecordZoneID& zone) const { return refetch && refetch->zone == zone; }
    bool pageRefused = false;
    std::map<QString, cloud::RecordID> liveRecords;
};

} // namespace snipjar::sync
