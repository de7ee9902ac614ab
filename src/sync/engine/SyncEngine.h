#pragma once

#include "sync/cloud/CloudDatabase.h"
#include "sync/engine/PendingChange.h"
#include "sync/engine/StateSerialization.h"
#include "sync/engine/SyncEvent.h"

#include <QList>
#include <QObject>

#include <functional>
#include <memory>
#include <optional>

namespace snipjar::sync {

class SyncEngine;

// The records of one batch to send, in queue order, and how to build each record to save. The
// provider runs on the engine's worker thread (reading payloads, transcoding and writing files take
// long), one record after another; what it reads must be its own (values, shared pointers), since
// it may still run after the engine is gone. When it gives none (the entity is gone), nothing is
// sent for that change and the change leaves the queue unless it was queued again meanwhile.
struct RecordZoneChangeBatch {
    QList<PendingRecordZoneChange> changes;
    std::function<std::optional<cloud::CloudRecord>(const cloud::RecordID&)> recordProvider;
};

// The side of the engine that knows the records: told of everything that happens, asked for what to
// send. Called on the main thread only.
class SyncEngineDelegate {
public:
    virtual ~SyncEngineDelegate() = default;
    // One event at a time: the engine goes on only after `done` was called (once, on the main
    // thread, now or later).
    virtual void handleEvent(const SyncEvent& event, std::function<void()> done) = 0;
    // The next batch of at most SyncEngine::batchLimit changes to send, or none when nothing is left.
    virtual std::optional<RecordZoneChangeBatch> nextRecordZoneChangeBatch(SyncEngine& engine) = 0;
};

// The pending changes, in queue order. Changes stay until the server accepted them (or the delegate
// removes them), so a failed or cancelled send loses nothing.
class SyncEngineState {
public:
    virtual ~SyncEngineState() = default;
    virtual void add(const QList<PendingDatabaseChange>& changes) = 0;
    // A change already queued keeps its place; a save and a delete of the same record replace each
    // other.
    virtual void add(const QList<PendingRecordZoneChange>& changes) = 0;
    virtual void remove(const QList<PendingRecordZoneChange>& changes) = 0;
    virtual QList<PendingRecordZoneChange> pendingRecordZoneChanges() const = 0;
    virtual QList<PendingDatabaseChange> pendingDatabaseChanges() const = 0;
};

struct SyncEngineConfiguration {
    // Used on the engine's worker thread only, apart from subscribe() and cancel().
    std::shared_ptr<cloud::CloudDatabase> database;
    // None starts cold: nothing pending, everything fetched.
    std::optional<StateSerialization> stateSerialization;
    SyncEngineDelegate* delegate = nullptr;
    // Who the database is (server and account), kept with the state: a state written for another
    // identity is not restored. Empty when the database cannot tell.
    QString accountIdentity;
};

// Sends and fetches only when asked. Every operation runs after the ones asked for before it; the
// cloud calls run on a worker thread of the engine and everything the delegate sees happens on the
// main thread. A fetch goes on page by page until nothing more is coming; a fetch position older
// than the server keeps is answered by a fetch of everything, delivered the same way and followed
// by a refetchedEverything event naming every record the server holds.
//
// A send saves the pending zones first, then asks the delegate for batches and sends at most
// batchLimit of their changes at a time, each change at most once per send unless it was queued
// again meanwhile. A batch whose answer never came (network failure, cancellation, a crash) stays
// recorded in the state; when it goes again and meets its own earlier copy on the server, the copy
// counts as saved (and a deletion of a record already gone as deleted), so nothing is applied twice
// and no false conflict is reported. Every send ends with didSendChanges and every fetch with
// didFetchChanges, also when they fail. A fetch covers the zones saved and the zones pending; the
// first fetch of another set of zones is announced by fetchedDatabaseChanges, and a zone the server
// lost is queued for saving again. The asset files of fetched records are deleted once their event
// was handled. A fetch from the start whose server ends behind the expired position (its change
// counter went back, as after a restore from a backup) ends with accountChange instead of
// refetchedEverything.
class SyncEngine : public QObject {
    Q_OBJECT
public:
    // Completions run on the main thread with the error that ended the operation, or none; never
    // after the engine is gone.
    using Completion = std::function<void(std::optional<cloud::CloudError>)>;

    static constexpr int batchLimit = 250;

    explicit SyncEngine(SyncEngineConfiguration configuration, QObject* parent = nullptr);
    // Cancels the cloud call in progress without waiting for it (see SyncEngineWorker).
    ~SyncEngine() override;

    SyncEngineState& state();
    cloud::CloudDatabase& database();
    // The state as the next stateUpdate event would carry it (also for tests and diagnostics).
    StateSerialization stateSerialization() const;
    // Whether the state handed over at construction was written for another account identity, and
    // was therefore dropped: whatever the previous server confirmed means nothing to this one.
    bool droppedStateOfAnotherAccount() const;
    // Called by the delegate while it handles fetchedRecordZoneChanges, before done(): the page
    // could not be stored. The fetch then ends with an error and its position stays where it was,
    // so the page comes again with the next fetch.
    void pageNotStored();

    void sendChanges(Completion done = {});
    void fetchChanges(Completion done = {});
    // Whether a fetch was asked for and has not started yet: it will bring whatever changed until
    // it starts.
    bool hasWaitingFetch() const;

private:
    class Private;
    std::unique_ptr<Private> d;
};

} // namespace snipjar::sync
