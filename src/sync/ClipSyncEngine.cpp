#include "sync/ClipSyncEngine.h"

#include "platform/LogCategories.h"
#include "store/ClipStore.h"
#include "store/ModelContainer.h"
#include "sync/ImageAssetFiles.h"
#include "sync/InboundApply.h"
#include "sync/RecordMapping.h"
#include "sync/RecordNames.h"
#include "sync/SyncEngineStateStore.h"

#include <QCoreApplication>
#include <QSet>

#include <algorithm>
#include <atomic>

namespace snipjar::sync {

namespace {

QString describe(const cloud::CloudError& error) {
    return error.description.isEmpty() ? cloud::cloudErrorCodeName(error.code) : error.description;
}

// The records a change of the store touches: a new clip's payload goes with it, an edit never sends
// its payload again, and a deletion takes the payload with the clip on the server.
QList<PendingRecordZoneChange> recordChanges(const ClipSyncChange& change, ClipStore& store) {
    if (change.type == ClipSyncChange::Type::remove) {
        return {PendingRecordZoneChange::remove(RecordNames::itemRecordID(change.id))};
    }
    QList<PendingRecordZoneChange> changes{
        PendingRecordZoneChange::save(RecordNames::itemRecordID(change.id))};
    if (change.isNew) {
        const auto item = store.syncItem(change.id);
        if (item && item->hasPayload) {
            changes.append(PendingRecordZoneChange::save(RecordNames::payloadRecordID(change.id)));
        }
    }
    return changes;
}

} // namespace

ClipSyncEngine::ClipSyncEngine(ClipStore& store, SyncEngineStateStore& stateStore,
                               std::shared_ptr<cloud::CloudDatabase> database, QObject* parent)
    : QObject(parent)
    , store(store)
    , stateStore(stateStore) {
    SyncEngineConfiguration configuration;
    configuration.accountIdentity = database->accountIdentity();
    configuration.database = std::move(database);
    configuration.stateSerialization = stateStore.load();
    configuration.delegate = this;
    syncEngine = std::make_unique<SyncEngine>(std::move(configuration));
    if (syncEngine->droppedStateOfAnotherAccount()) {
        // What the previous server confirmed means nothing to this one: every clip goes again, and
        // a fetch from the start brings what this one holds without deleting anything here.
        ModelContext& context = store.syncContext();
        context.forgetSyncServer();
        if (!context.save()) {
            qCCritical(lcSync) << "another server or account: the previous one's marks could not be cleared";
        }
        qCInfo(lcSync) << "another server or account: sending every clip to it";
    }

    sendTimer.setSingleShot(true);
    connect(&sendTimer, &QTimer::timeout, this, [this] {
        firstWaitingChange.invalidate();
        const QPointer<ClipSyncEngine> self(this);
        syncEngine->sendChanges([self](const std::optional<cloud::CloudError>& error) {
            if (!self) {
                return;
            }
            if (error) {
                qCCritical(lcSync).noquote()
                    << QStringLiteral("scheduled send failed: %1").arg(describe(*error));
            } else {
                qCInfo(lcSync) << "scheduled send completed";
            }
            self->noteOutcome(error);
        });
    });
    retryTimer.setSingleShot(true);
    connect(&retryTimer, &QTimer::timeout, this, &ClipSyncEngine::retry);
}

ClipSyncEngine::~ClipSyncEngine() {
    pushSubscription.reset();
    // A state update may still wait behind the event being handled; what is queued now is what
    // the next run must find.
    stateStore.save(syncEngine->stateSerialization());
    // The worker's call in progress is cancelled without waiting for it (a server that hangs must
    // not hold up switching sync off or quitting); a page being applied is finished first, so the
    // store is never written after its owner let it go.
    syncEngine.reset();
    InboundApply::waitForApplying();
    ImageAssetFiles::discardAll();
}

void ClipSyncEngine::start(std::function<void()> done) {
    const QPointer<ClipSyncEngine> self(this);
    store.onSyncChange = [self](const ClipSyncChange& change) {
        if (self) {
            self->enqueue(change);
        }
    };
    ImageAssetFiles::discardAll();

    SyncEngineState& state = syncEngine->state();
    state.add(QList<PendingDatabaseChange>{{RecordNames::zoneID()}});
    const Device device = store.registerThisMac();
    state.add(QList<PendingRecordZoneChange>{
        PendingRecordZoneChange::save(RecordNames::deviceRecordID(device.id))});
    retireFormerDevice(device.id);

    const QList<ClipItem> unsynced = store.unsyncedItems();
    QList<PendingRecordZoneChange> backfill;
    for (const ClipItem& item : unsynced) {
        backfill.append(PendingRecordZoneChange::save(RecordNames::itemRecordID(item.id)));
        if (item.hasPayload) {
            backfill.append(PendingRecordZoneChange::save(RecordNames::payloadRecordID(item.id)));
        }
    }
    state.add(backfill);
    queueOutbox();
    qCInfo(lcSync).noquote()
        << QStringLiteral("start: backfilling %1 unsynced clip(s); sending\u2026").arg(unsynced.size());

    // From the notice thread: the engine is looked at only on the main thread, and a burst of
    // notices that arrives before the main thread gets to the first is one call there.
    struct NoticeForwarding {
        QPointer<ClipSyncEngine> engine;
        std::atomic<bool> waiting = false;
    };
    auto forwarding = std::make_shared<NoticeForwarding>();
    forwarding->engine = this;
    pushSubscription = syncEngine->database().subscribe([forwarding] {
        if (forwarding->waiting.exchange(true)) {
            return;
        }
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [forwarding] {
                forwarding->waiting = false;
                if (forwarding->engine) {
                    forwarding->engine->handlePushNotice();
                }
            },
            Qt::QueuedConnection);
    });

    syncEngine->sendChanges([self](const std::optional<cloud::CloudError>& error) {
        if (!self) {
            return;
        }
        if (error) {
            qCCritical(lcSync).noquote()
                << QStringLiteral("start: sendChanges failed: %1").arg(describe(*error));
        } else {
            qCInfo(lcSync) << "start: initial sendChanges completed";
        }
        self->noteOutcome(error);
    });
    syncEngine->fetchChanges([self, done = std::move(done)](const std::optional<cloud::CloudError>& error) {
        if (!self) {
            return;
        }
        if (error) {
            qCCritical(lcSync).noquote()
                << QStringLiteral("start: fetchChanges failed: %1").arg(describe(*error));
        } else {
            qCInfo(lcSync) << "start: initial fetchChanges completed";
        }
        self->noteOutcome(error);
        if (done) {
            done();
        }
    });
}

void ClipSyncEngine::syncNow(std::function<void(bool fetched)> done) {
    // Changes made meanwhile by another process (the command line) are in the outbox only.
    queueOutbox();
    const QPointer<ClipSyncEngine> self(this);
    syncEngine->sendChanges([self](const std::optional<cloud::CloudError>& error) {
        if (self) {
            self->noteOutcome(error);
        }
    });
    syncEngine->fetchChanges([self, done = std::move(done)](const std::optional<cloud::CloudError>& error) {
        if (!self) {
            return;
        }
        self->noteOutcome(error);
        if (done) {
            done(!error.has_value());
        }
    });
}

void ClipSyncEngine::handlePushNotice() {
    // A fetch that has not started yet brings this change too (so does a send then, should this
    // notice mean that the server is back).
    if (syncEngine->hasWaitingFetch()) {
        return;
    }
    qCInfo(lcSync) << "push received \u2192 fetching";
    // A notice also comes when the channel is back after an interruption: what could not be sent
    // meanwhile goes now.
    if (currentProblem || !syncEngine->state().pendingRecordZoneChanges().isEmpty()) {
        syncNow();
        return;
    }
    const QPointer<ClipSyncEngine> self(this);
    syncEngine->fetchChanges([self](const std::optional<cloud::CloudError>& error) {
        if (self) {
            self->noteOutcome(error);
        }
    });
}

void ClipSyncEngine::enqueue(const ClipSyncChange& change) {
    syncEngine->state().add(recordChanges(change, store));
    scheduleSend();
}

void ClipSyncEngine::queueOutbox() {
    const QList<OutboxEntry> entries = store.syncContext().outbox();
    if (entries.isEmpty()) {
        return;
    }
    // A change already queued keeps its place and its generation, so that a batch in flight with
    // it still counts as its sending.
    const auto keyOf = [](const PendingRecordZoneChange& change) {
        return change.id.recordName + (change.kind == PendingRecordZoneChange::Kind::saveRecord
                                           ? QLatin1Char('s')
                                           : QLatin1Char('d'));
    };
    QSet<QString> queued;
    for (const PendingRecordZoneChange& change : syncEngine->state().pendingRecordZoneChanges()) {
        queued.insert(keyOf(change));
    }
    QList<PendingRecordZoneChange> changes;
    for (const OutboxEntry& entry : entries) {
        for (const PendingRecordZoneChange& change : recordChanges(entry.change, store)) {
            if (!queued.contains(keyOf(change))) {
                queued.insert(keyOf(change));
                changes.append(change);
            }
        }
    }
    if (!changes.isEmpty()) {
        qCInfo(lcSync).noquote() << QStringLiteral("outbox: %1 change(s) queued").arg(changes.size());
        syncEngine->state().add(changes);
    }
}

void ClipSyncEngine::scheduleSend() {
    if (!firstWaitingChange.isValid()) {
        firstWaitingChange.start();
    }
    const qint64 left = sendLongestWaitMilliseconds - firstWaitingChange.elapsed();
    sendTimer.start(int(std::clamp<qint64>(left, 0, sendDebounceMilliseconds)));
}

void ClipSyncEngine::setSyncing(bool value) {
    if (value == syncing) {
        return;
    }
    syncing = value;
    if (onSyncingChanged) {
        onSyncingChanged(value);
    }
}

void ClipSyncEngine::handleEvent(const SyncEvent& event, std::function<void()> done) {
    switch (event.type) {
    case SyncEvent::Type::stateUpdate:
        stateStore.save(event.stateSerialization);
        break;
    case SyncEvent::Type::accountChange:
        resendWhatTheServerLost(event.liveRecordIDs);
        break;
    case SyncEvent::Type::fetchedDatabaseChanges:
        qCInfo(lcSync) << "event: fetchedDatabaseChanges (zones)";
        break;
    case SyncEvent::Type::fetchedRecordZoneChanges:
        InboundApply::handleFetchedRecordZoneChanges(store, event.modifications, event.deletions, this,
                                                     [this, done = std::move(done)](bool stored) {
                                                         inboundNotStored = !stored;
                                                         if (!stored) {
                                                             syncEngine->pageNotStored();
                                                         } else if (reclaimFormerClips()) {
                                                             scheduleSend();
                                                         }
                                                         done();
                                                     });
        return;
    case SyncEvent::Type::sentRecordZoneChanges:
        handleSentRecordZoneChanges(event);
        break;
    case SyncEvent::Type::willFetchChanges:
    case SyncEvent::Type::willSendChanges:
        setSyncing(true);
        break;
    case SyncEvent::Type::refetchedEverything:
        reconcileWithLiveRecords(event.liveRecordIDs);
        break;
    case SyncEvent::Type::didFetchChanges:
        qCInfo(lcSync) << "event: didFetchChanges (a fetch cycle completed)";
        setSyncing(false);
        break;
    case SyncEvent::Type::didSendChanges:
        discardBatchAssets();
        if (retiringFormerDevice) {
            finishRetiringFormerDevice();
        }
        setSyncing(false);
        break;
    case SyncEvent::Type::sentDatabaseChanges:
        break;
    }
    done();
}

std::optional<RecordZoneChangeBatch> ClipSyncEngine::nextRecordZoneChangeBatch(SyncEngine& engine) {
    QList<PendingRecordZoneChange> pending = engine.state().pendingRecordZoneChanges();
    if (pending.isEmpty()) {
        return std::nullopt;
    }
    if (pending.size() > SyncEngine::batchLimit) {
        pending.resize(SyncEngine::batchLimit);
    }
    RecordZoneChangeBatch batch;
    batch.changes = pending;
    // The records built carry every change of the outbox up to here.
    batchOutboxSeq = store.syncContext().lastOutboxSeq();
    for (const PendingRecordZoneChange& change : std::as_const(pending)) {
        if (change.kind == PendingRecordZoneChange::Kind::saveRecord) {
            batchRecordNames.append(change.id.recordName);
        }
    }
    // Built on the engine's worker, through a context of its own on a container it shares, so that
    // a build still running when sync stops never reads a store that is gone.
    batch.recordProvider = [container = store.sharedSyncContainer()](const cloud::RecordID& id) {
        return RecordMapping::buildRecord(id, *container);
    };
    return batch;
}

void ClipSyncEngine::discardBatchAssets() {
    for (const QString& name : std::as_const(batchRecordNames)) {
        ImageAssetFiles::discard(name);
    }
    batchRecordNames.clear();
}

} // namespace snipjar::sync
