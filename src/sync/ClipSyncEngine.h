#pragma once

#include "model/ClipSyncChange.h"
#include "sync/cloud/CloudDatabase.h"
#include "sync/engine/SyncEngine.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

namespace snipjar {
class ClipStore;
class ModelContext;
} // namespace snipjar

namespace snipjar::sync {

class SyncEngineStateStore;

// Keeps the sync store the same on all of the user's computers through one zone of their cloud
// database: tells the engine what changed here, builds the records it sends, stores what the server
// accepted, resolves what it refused (the server's clip wins; this computer's record is sent again
// on the server's change tag; a record the server lost is created afresh) and hands fetched changes
// to the inbound application. Main thread only.
//
// Every change of the store is also in the store's sync outbox, written with the change itself; the
// engine queues what the outbox holds when it starts and at every sync, and lets it go once the
// server confirmed it, so changes made while no engine ran, or lost with the engine's state file,
// are sent all the same. The state is kept per server and account: pointed at another one, the
// engine forgets what the previous one confirmed and sends everything again, and a server whose
// history went back (restored from a backup) is sent what it lost; neither deletes anything here.
//
// A problem reaching the server (down, login refused, another schema version) is reported once,
// through the log and onProblemChanged; every change stays queued, and the engine tries again by
// itself, with growing pauses, until the server answers.
class ClipSyncEngine : public QObject, private SyncEngineDelegate {
    Q_OBJECT
public:
    // Changes made together (a burst of copies, a clip with its payload) go in one send: each one
    // postpones it by the debounce, but never past the longest wait after the first change
    // waiting, so that a steady stream of changes (a key held down) is sent while it lasts.
    static constexpr int sendDebounceMilliseconds = 300;
    static constexpr int sendLongestWaitMilliseconds = 1'000;
    // Pauses between retries while the server cannot be reached.
    static constexpr int firstRetryMilliseconds = 2'000;
    static constexpr int longestRetryMilliseconds = 300'000;

    ClipSyncEngine(ClipStore& store, SyncEngineStateStore& stateStore,
                   std::shared_ptr<cloud::CloudDatabase> database, QObject* parent = nullptr);
    ~ClipSyncEngine() override;

    // Installs the store's change callback, queues the zone, this computer's record and every clip
    // the server has never confirmed, subscribes to change notices, then sends and fetches.
    // `done` is called when the first send and fetch have ended.
    void start(std::function<void()> done = {});
    // Sends what is queued, then fetches; failures end quietly. `done` when both have ended, told
    // whether the fetch went through.
    void syncNow(std::function<void(bool fetched)> done = {});
    // A change notice from the server: fetches (and sends as well while something is queued).
    void handlePushNotice();

    void enqueue(const ClipSyncChange& change);
    // Queues what the store's sync outbox holds and is not queued yet.
    void queueOutbox();

    bool isSyncing() const { return syncing; }
    std::function<void(bool)> onSyncingChanged;
    // The problem in the way of syncing, or none once the server answers again.
    std::function<void(const std::optional<QString>&)> onProblemChanged;
    const std::optional<QString>& problem() const { return currentProblem; }

    SyncEngine& engine() { return *syncEngine; }

private:
    void handleEvent(const SyncEvent& event, std::function<void()> done) override;
    std::optional<RecordZoneChangeBatch> nextRecordZoneChangeBatch(SyncEngine& engine) override;

    void scheduleSend();
    void retireFormerDevice(const QString& thisDevice);
    void finishRetiringFormerDevice();
    // Moves clips that came back from the server under this computer's former identifier to the
    // current one and queues them; true when there were any.
    bool reclaimFormerClips();
    void setSyncing(bool value);
    void handleSentRecordZoneChanges(const SyncEvent& event);
    void handleFetchedRecordZoneChanges(const SyncEvent& event, std::function<void()> done);
    void reconcileWithLiveRecords(const QList<cloud::RecordID>& live);
    // After a server lost part of its history: what it no longer holds is sent to it again.
    void resendWhatTheServerLost(const QList<cloud::RecordID>& live);
    // Lets the outbox go for the record, up to the outbox place the batch was built at.
    void confirmOutbox(const QString& recordName, ModelContext& context) const;
    void discardBatchAssets();
    // Notes how an operation ended: reports a new problem once, clears it on success, and keeps
    // retrying while it lasts.
    void noteOutcome(const std::optional<cloud::CloudError>& error);
    void retry();

    ClipStore& store;
    SyncEngineStateStore& stateStore;
    std::unique_ptr<SyncEngine> syncEngine;
    std::unique_ptr<cloud::PushSubscription> pushSubscription;
    bool syncing = false;
    QTimer sendTimer;
    // Since the first change waiting for the send timer; invalid while none waits.
    QElapsedTimer firstWaitingChange;
    QTimer retryTimer;
    int retryDelay = firstRetryMilliseconds;
    std::optional<QString> currentProblem;
    // Records of the batches being sent, whose image asset files go when the send ends.
    QStringList batchRecordNames;
    // The newest outbox place when the batch being sent was built: the records sent carry every
    // change of the outbox up to there.
    qint64 batchOutboxSeq = 0;
    // The last fetched page could not be saved here (the store refused the write).
    bool inboundNotStored = false;
    // This computer's clips are being sent again under its new identifier.
    bool retiringFormerDevice = false;
};

} // namespace snipjar::sync
