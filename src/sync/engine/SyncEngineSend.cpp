// Sending: the pending zones first, then batches of record changes asked of the delegate, each
// answered by one sentRecordZoneChanges event.
#include "platform/LogCategories.h"
#include "sync/engine/SyncEnginePrivate.h"

#include <QFile>
#include <QSet>

namespace snipjar::sync {

namespace {

QString changeKey(const cloud::RecordID& id, PendingRecordZoneChange::Kind kind) {
    return PendingChangeQueue::keyOf(id) +
           (kind == PendingRecordZoneChange::Kind::saveRecord ? QStringLiteral("/s") : QStringLiteral("/d"));
}

} // namespace

void removeAssetFiles(const QList<cloud::CloudRecord>& records) {
    for (const auto& record : records) {
        for (const auto& [key, value] : record.fields()) {
            if (const auto* asset = std::get_if<cloud::Asset>(&value); asset && !asset->filePath.isEmpty()) {
                QFile::remove(asset->filePath);
            }
        }
    }
}

void SyncEngine::Private::startSend() {
    SyncEvent event;
    event.type = SyncEvent::Type::willSendChanges;
    deliver(std::move(event), [this] { sendZones(); });
}

void SyncEngine::Private::sendZones() {
    std::optional<cloud::RecordZoneID> next;
    for (const auto& change : queue.pendingDatabaseChanges()) {
        if (!attemptedZones.contains(change.saveZone)) {
            next = change.saveZone;
            break;
        }
    }
    if (!next) {
        sendNextBatch();
        return;
    }
    const cloud::RecordZoneID zone = *next;
    attemptedZones.append(zone);
    worker.run(
        q, [zone](cloud::CloudDatabase& database) { return database.saveZone(zone); },
        [this, zone](cloud::CloudStatus result) {
            if (!result) {
                qCWarning(lcSync, "engine: saving the zone failed: %s",
                          qUtf8Printable(cloudErrorCodeName(result.error().code)));
                finishOperation(SyncEvent::Type::didSendChanges, result.error());
                return;
            }
            queue.removeDatabaseChange(PendingDatabaseChange{zone});
            if (!savedZones.contains(zone)) {
                savedZones.append(zone);
                stateChanged();
            }
            SyncEvent event;
            event.type = SyncEvent::Type::sentDatabaseChanges;
            deliver(std::move(event), [this] { sendZones(); });
        });
}

void SyncEngine::Private::sendNextBatch() {
    std::optional<RecordZoneChangeBatch> batch;
    if (configuration.delegate != nullptr) {
        batch = configuration.delegate->nextRecordZoneChangeBatch(*q);
    }
    if (!batch) {
        finishOperation(SyncEvent::Type::didSendChanges, std::nullopt);
        return;
    }
    // At most batchLimit changes that are still pending and were not sent yet in this send (a
    // change queued again since has a new generation and goes again).
    QList<PlannedChange> planned;
    for (const auto& change : std::as_const(batch->changes)) {
        if (planned.size() == batchLimit) {
            break;
        }
        const auto generation = queue.generation(change);
        if (!generation) {
            continue;
        }
        if (!attempted
                 .insert({PendingChangeQueue::keyOf(change.id), static_cast<int>(change.kind), *generation})
                 .second) {
            continue;
        }
        planned.append({change, *generation});
    }
    if (planned.isEmpty()) {
        finishOperation(SyncEvent::Type::didSendChanges, std::nullopt);
        return;
    }

    // The records are built on the worker: reading image payloads, transcoding them and hashing
    // the result must not hold up the main thread. A stop ends the building between two records.
    QList<cloud::RecordID> saves;
    for (const auto& change : std::as_const(planned)) {
        if (change.change.kind == PendingRecordZoneChange::Kind::saveRecord) {
            saves.append(change.change.id);
        }
    }
    worker.run(
        q,
        [saves, provider = batch->recordProvider, stopped = worker.stopFlag()](cloud::CloudDatabase&) {
            QList<BuiltRecord> built;
            for (const auto& id : saves) {
                if (*stopped) {
                    break;
                }
                std::optional<cloud::CloudRecord> record;
                if (provider) {
                    record = provider(id);
                }
                if (record) {
                    const QByteArray print = fingerprint(*record);
                    built.append(std::pair{std::move(*record), print});
                } else {
                    built.append(std::nullopt);
                }
            }
            return built;
        },
        [this, planned](QList<BuiltRecord> built) { sendBuiltBatch(planned, std::move(built)); });
}

void SyncEngine::Private::sendBuiltBatch(const QList<PlannedChange>& planned, QList<BuiltRecord> built) {
    QList<cloud::CloudRecord> saves;
    QList<cloud::RecordID> deletions;
    QList<PlannedChange> sent;
    QSet<QString> resent;
    qsizetype nextBuilt = 0;
    for (const auto& change : planned) {
        const QString key = PendingChangeQueue::keyOf(change.change.id);
        const auto previous = unanswered.constFind(key);
        if (change.change.kind == PendingRecordZoneChange::Kind::saveRecord) {
            BuiltRecord record = nextBuilt < built.size() ? std::move(built[nextBuilt]) : std::nullopt;
            ++nextBuilt;
            if (!record) {
                // The entity is gone: so is its change, unless it was queued again since.
                queue.removeIfUnchanged(change.change, change.generation);
                continue;
            }
            auto& [sentRecord, print] = *record;
            if (previous != unanswered.constEnd() && previous->kind == change.change.kind &&
                previous->fingerprint == print) {
                resent.insert(key);
            }
            unanswered.insert(key, {change.change.kind, print});
            saves.append(std::move(sentRecord));
        } else {
            if (previous != unanswered.constEnd() && previous->kind == change.change.kind) {
                resent.insert(key);
            }
            unanswered.insert(key, {change.change.kind, {}});
            deletions.append(change.change.id);
        }
        sent.append(change);
    }
    if (sent.isEmpty()) {
        QMetaObject::invokeMethod(
            q, [this] { sendNextBatch(); }, Qt::QueuedConnection);
        return;
    }
    // The batch in flight is part of the state, so it is handed out before the call is made.
    stateChanged();
    afterEvents([this, sent, saves, deletions, resent] {
        worker.run(
            q,
            [saves, deletions](cloud::CloudDatabase& database) {
                return database.modifyRecords(saves, deletions);
            },
            [this, sent, saves, deletions, resent](cloud::CloudResult<cloud::ModifyOutcome> result) {
                handleModifyAnswer(sent, resent, std::move(result));
            });
    });
}

void SyncEngine::Private::handleModifyAnswer(const QList<PlannedChange>& sent, const QSet<QString>& resent,
                                             cloud::CloudResult<cloud::ModifyOutcome> result) {
    if (!result) {
        // The changes stay queued, and the batch stays recorded as unanswered: the server may have
        // applied it.
        qCWarning(lcSync, "engine: sending a batch failed: %s",
                  qUtf8Printable(cloudErrorCodeName(result.error().code)));
        finishOperation(SyncEvent::Type::didSendChanges, result.error());
        return;
    }
    const cloud::ModifyOutcome& outcome = result.value();
    QHash<QString, quint64> generations;
    for (const auto& change : sent) {
        generations.insert(changeKey(change.change.id, change.change.kind), change.generation);
    }

    SyncEvent event;
    event.type = SyncEvent::Type::sentRecordZoneChanges;
    event.savedRecords = outcome.saved;
    for (const auto& [record, error] : outcome.failedSaves) {
        // A batch whose answer was lost and that is sent again meets itself on the server: the
        // server holds exactly what was sent, so it counts as saved.
        if (error.code == cloud::CloudErrorCode::serverRecordChanged && error.serverRecord &&
            resent.contains(PendingChangeQueue::keyOf(record.recordID())) &&
            fingerprint(*error.serverRecord) == fingerprint(record)) {
            event.savedRecords.append(*error.serverRecord);
            continue;
        }
        event.failedRecordSaves.append({record, error});
    }
    event.deletedRecordIDs = outcome.deleted;
    QList<cloud::RecordID> gone;
    for (const auto& [id, error] : outcome.failedDeletes) {
        if (error.code == cloud::CloudErrorCode::unknownItem) {
            gone.append(id);
            if (resent.contains(PendingChangeQueue::keyOf(id))) {
                event.deletedRecordIDs.append(id);
                continue;
            }
        }
        event.failedRecordDeletes.append({id, error});
    }

    for (const auto& record : std::as_const(event.savedRecords)) {
        const auto generation =
            generations.constFind(changeKey(record.recordID(), PendingRecordZoneChange::Kind::saveRecord));
        if (generation != generations.constEnd()) {
            queue.removeIfUnchanged(PendingRecordZoneChange::save(record.recordID()), *generation);
        }
    }
    // A record the server does not have needs no deletion any more.
    for (const auto& id : std::as_const(event.deletedRecordIDs) + gone) {
        const auto generation =
            generations.constFind(changeKey(id, PendingRecordZoneChange::Kind::deleteRecord));
        if (generation != generations.constEnd()) {
            queue.removeIfUnchanged(PendingRecordZoneChange::remove(id), *generation);
        }
    }
    for (const auto& change : sent) {
        unanswered.remove(PendingChangeQueue::keyOf(change.change.id));
    }
    stateChanged();

    QList<cloud::CloudRecord> serverRecords;
    for (const auto& [record, error] : std::as_const(event.failedRecordSaves)) {
        if (error.serverRecord) {
            serverRecords.append(*error.serverRecord);
        }
    }
    deliver(std::move(event), [this, serverRecords] {
        removeAssetFiles(serverRecords);
        sendNextBatch();
    });
}

} // namespace snipjar::sync
