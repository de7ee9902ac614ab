// What the server answered: accepted records, refused ones, the records it still holds after a
// fetch from the start, and how trouble reaching it is reported and retried.
#include "sync/ClipSyncEngine.h"

#include "platform/LogCategories.h"
#include "store/ClipStore.h"
#include "store/ModelContainer.h"
#include "sync/ImageAssetFiles.h"
#include "sync/InboundApply.h"
#include "sync/RecordNames.h"

#include <QSet>

#include <algorithm>
#include <limits>

namespace snipjar::sync {

namespace {

// The names of the records of our zone among the ones the server listed.
QSet<QString> namesIn(const QList<cloud::RecordID>& live) {
    QSet<QString> names;
    for (const cloud::RecordID& id : live) {
        if (id.zone == RecordNames::zoneID()) {
            names.insert(id.recordName);
        }
    }
    return names;
}

QString problemText(cloud::CloudErrorCode code) {
    switch (code) {
    case cloud::CloudErrorCode::notAuthenticated:
    case cloud::CloudErrorCode::permissionFailure:
        return QStringLiteral("Your sync server refused the login");
    case cloud::CloudErrorCode::incompatibleVersion:
        return QStringLiteral("Your sync server runs another version of Snipjar\u2019s sync");
    case cloud::CloudErrorCode::internalError:
        return QStringLiteral("Your sync server reported an error");
    default:
        return QStringLiteral("Can\u2019t reach your sync server");
    }
}

// The server's words about the limit ("quota exceeded"), kept to one short line of printable text.
QString limitText(const QString& description) {
    QString words = description.left(80);
    words.removeIf([](QChar c) { return !c.isPrint(); });
    return words.isEmpty() ? QStringLiteral("Your sync server refused: a limit was reached")
                           : QStringLiteral("Your sync server refused: %1").arg(words);
}

// Stores the server's confirmation (its system fields) in the entity a record name stands for.
void storeSystemFields(const QString& recordName, const QByteArray& fields, ModelContext& context) {
    const RecordNames::Parsed parsed = RecordNames::parse(recordName);
    switch (parsed.kind) {
    case RecordNames::Parsed::Kind::item:
        if (context.item(parsed.uuid)) {
            context.setCloudRecordSystemFields(parsed.uuid, fields);
        }
        break;
    case RecordNames::Parsed::Kind::payload:
        if (context.hasPayloadRecord(parsed.uuid)) {
            context.setPayloadCloudRecordSystemFields(parsed.uuid, fields);
        }
        break;
    case RecordNames::Parsed::Kind::device:
        if (auto device = context.device(parsed.deviceID)) {
            device->cloudRecordSystemFields = fields;
            context.update(*device);
        }
        break;
    case RecordNames::Parsed::Kind::unrecognised:
        break;
    }
}

// Forgets the server's confirmation, so that the next send builds a brand-new record.
void clearSystemFields(const QString& recordName, ModelContext& context) {
    const RecordNames::Parsed parsed = RecordNames::parse(recordName);
    switch (parsed.kind) {
    case RecordNames::Parsed::Kind::item:
        context.setCloudRecordSystemFields(parsed.uuid, std::nullopt);
        break;
    case RecordNames::Parsed::Kind::payload:
        context.setPayloadCloudRecordSystemFields(parsed.uuid, std::nullopt);
        break;
    case RecordNames::Parsed::Kind::device:
        if (auto device = context.device(parsed.deviceID)) {
            device->cloudRecordSystemFields.reset();
            context.update(*device);
        }
        break;
    case RecordNames::Parsed::Kind::unrecognised:
        break;
    }
}

} // namespace

void ClipSyncEngine::handleSentRecordZoneChanges(const SyncEvent& event) {
    qCInfo(lcSync).noquote() << QStringLiteral("sent: %1 saved, %2 failed")
                                    .arg(event.savedRecords.size())
                                    .arg(event.failedRecordSaves.size());
    ModelContext& context = store.syncContext();
    for (const cloud::CloudRecord& saved : event.savedRecords) {
        storeSystemFields(saved.recordName(), saved.archiveSystemFields(), context);
        confirmOutbox(saved.recordName(), context);
    }
    for (const cloud::RecordID& deleted : event.deletedRecordIDs) {
        confirmOutbox(deleted.recordName, context);
    }

    QList<PendingRecordZoneChange> drop;
    bool resend = false;
    bool appliedServerClip = false;
    for (const auto& [record, error] : event.failedRecordSaves) {
        qCCritical(lcSync).noquote() << QStringLiteral("send failed %1: %2")
                                            .arg(record.recordName(), cloud::cloudErrorCodeName(error.code));
        if (error.code == cloud::CloudErrorCode::unknownItem) {
            clearSystemFields(record.recordName(), context);
            QList<PendingRecordZoneChange> again{PendingRecordZoneChange::save(record.recordID())};
            // The server deleted the clip's payload with it: a clip made anew needs its payload
            // again, or the other computers get a clip without its content.
            const RecordNames::Parsed parsed = RecordNames::parse(record.recordName());
            if (parsed.kind == RecordNames::Parsed::Kind::item && context.hasPayloadRecord(parsed.uuid)) {
                context.setPayloadCloudRecordSystemFields(parsed.uuid, std::nullopt);
                again.append(PendingRecordZoneChange::save(RecordNames::payloadRecordID(parsed.uuid)));
            }
            syncEngine->state().add(again);
            resend = true;
            continue;
        }
        if (error.code != cloud::CloudErrorCode::serverRecordChanged) {
            // Stays queued and goes out again with a later send.
            continue;
        }
        const PendingRecordZoneChange pending = PendingRecordZoneChange::save(record.recordID());
        if (!error.serverRecord) {
            qCCritical(lcSync).noquote()
                << QStringLiteral(
                       "send conflict, no serverRecord for %1 \u2014 dropping, will reconcile on fetch")
                       .arg(record.recordName());
            drop.append(pending);
            continue;
        }
        const cloud::CloudRecord& server = *error.serverRecord;
        if (server.recordType() == RecordNames::deviceType) {
            // This computer's name is sent again, on top of the server's change tag.
            storeSystemFields(record.recordName(), server.archiveSystemFields(), context);
            resend = true;
        } else if (server.recordType() == RecordNames::itemType) {
            InboundApply::upsertItem(server, context);
            appliedServerClip = true;
            // The server's clip won: the local change is settled.
            confirmOutbox(record.recordName(), context);
            drop.append(pending);
        } else if (server.recordType() == RecordNames::payloadType) {
            if (RecordNames::parse(record.recordName()).kind == RecordNames::Parsed::Kind::payload) {
                storeSystemFields(record.recordName(), server.archiveSystemFields(), context);
            }
            drop.append(pending);
        } else {
            drop.append(pending);
        }
    }
    // A deletion the server cannot make is of a record it no longer has: nothing is left to do.
    for (const auto& [id, error] : event.failedRecordDeletes) {
        qCCritical(lcSync).noquote()
            << QStringLiteral("send failed %1: %2").arg(id.recordName, cloud::cloudErrorCodeName(error.code));
        if (error.code == cloud::CloudErrorCode::unknownItem) {
            confirmOutbox(id.recordName, context);
            drop.append(PendingRecordZoneChange::remove(id));
        }
    }
    context.save();
    for (const cloud::CloudRecord& record : event.savedRecords) {
        ImageAssetFiles::discard(record.recordName());
    }
    for (const auto& failed : event.failedRecordSaves) {
        ImageAssetFiles::discard(failed.first);
    }
    if (!drop.isEmpty()) {
        syncEngine->state().remove(drop);
    }
    if (appliedServerClip && reclaimFormerClips()) {
        resend = true;
    }
    if (appliedServerClip && store.syncDidApplyInbound) {
        store.syncDidApplyInbound();
    }
    if (resend) {
        scheduleSend();
    }
}

void ClipSyncEngine::confirmOutbox(const QString& recordName, ModelContext& context) const {
    const RecordNames::Parsed parsed = RecordNames::parse(recordName);
    if (parsed.kind == RecordNames::Parsed::Kind::item) {
        context.removeFromOutbox(parsed.uuid, batchOutboxSeq);
    }
}

void ClipSyncEngine::resendWhatTheServerLost(const QList<cloud::RecordID>& live) {
    const QSet<QString> names = namesIn(live);
    const auto context = store.syncContainer().newContext();
    QList<PendingRecordZoneChange> again;
    for (const ClipItemSummary& item : context->fetchSummaries(ClipItemQuery().whereCloudRecord(true))) {
        const bool itemLost = !names.contains(RecordNames::itemName(item.id));
        if (itemLost) {
            context->setCloudRecordSystemFields(item.id, std::nullopt);
            again.append(PendingRecordZoneChange::save(RecordNames::itemRecordID(item.id)));
        }
        if (context->hasPayloadRecord(item.id) &&
            (itemLost || !names.contains(RecordNames::payloadName(item.id)))) {
            context->setPayloadCloudRecordSystemFields(item.id, std::nullopt);
            again.append(PendingRecordZoneChange::save(RecordNames::payloadRecordID(item.id)));
        }
    }
    if (auto device = context->device(store.thisDeviceID());
        device && !names.contains(RecordNames::deviceName(device->id))) {
        device->cloudRecordSystemFields.reset();
        context->update(*device);
        again.append(PendingRecordZoneChange::save(RecordNames::deviceRecordID(device->id)));
    }
    if (!context->save()) {
        qCCritical(lcSync) << "the server's history went back, but the clips it lost could not be marked";
    }
    qCInfo(lcSync).noquote() << QStringLiteral(
                                    "the server's history went back: %1 record(s) it lost are sent again")
                                    .arg(again.size());
    syncEngine->state().add(again);
    scheduleSend();
    if (store.syncDidApplyInbound) {
        store.syncDidApplyInbound();
    }
}

void ClipSyncEngine::reconcileWithLiveRecords(const QList<cloud::RecordID>& live) {
    const QSet<QString> names = namesIn(live);
    // What the server confirmed once and no longer holds was deleted elsewhere while this computer
    // could not hear of it. What it never confirmed is still to be sent and stays.
    const auto context = store.syncContainer().newContext();
    int removed = 0;
    for (const ClipItemSummary& item : context->fetchSummaries(ClipItemQuery().whereCloudRecord(true))) {
        if (!names.contains(RecordNames::itemName(item.id))) {
            context->removeItem(item.id);
            context->removeFromOutbox(item.id, std::numeric_limits<qint64>::max());
            ++removed;
        }
    }
    for (const Device& device : context->devices()) {
        if (!device.cloudRecordSystemFields || names.contains(RecordNames::deviceName(device.id))) {
            continue;
        }
        if (device.id == store.thisDeviceID()) {
            Device resent = device;
            resent.cloudRecordSystemFields.reset();
            context->update(resent);
            syncEngine->state().add({PendingRecordZoneChange::save(RecordNames::deviceRecordID(device.id))});
        } else {
            context->removeDevice(device.id);
        }
    }
    context->save();
    qCInfo(lcSync).noquote()
        << QStringLiteral("reconciled after a full fetch: %1 clip(s) no longer on the server").arg(removed);
    if (store.syncDidApplyInbound) {
        store.syncDidApplyInbound();
    }
}

void ClipSyncEngine::noteOutcome(const std::optional<cloud::CloudError>& error) {
    if (!error) {
        inboundNotStored = false;
        if (currentProblem) {
            qCInfo(lcSync) << "sync resumed";
            currentProblem.reset();
            if (onProblemChanged) {
                onProblemChanged(currentProblem);
            }
        }
        retryDelay = firstRetryMilliseconds;
        retryTimer.stop();
        return;
    }
    // A refusal for a limit (the storage quota, the size of a request) is shown, but not retried
    // on a timer: only a change here or on the server can lift it, and the next sync asks again.
    const bool limit = error->code == cloud::CloudErrorCode::limitExceeded;
    if ((!error->isTransient() && !limit) || error->code == cloud::CloudErrorCode::operationCancelled) {
        return;
    }
    const QString text = inboundNotStored
                             ? QStringLiteral("Synced clips can\u2019t be saved on this computer")
                         : limit ? limitText(error->description)
                                 : problemText(error->code);
    if (currentProblem != text) {
        qCCritical(lcSync).noquote() << QStringLiteral("sync problem: %1 (%2)")
                                            .arg(text, error->description.isEmpty()
                                                           ? cloud::cloudErrorCodeName(error->code)
                                                           : error->description);
        currentProblem = text;
        if (onProblemChanged) {
            onProblemChanged(currentProblem);
        }
    }
    if (!limit && !retryTimer.isActive()) {
        retryTimer.start(retryDelay);
        retryDelay = std::min(retryDelay * 2, longestRetryMilliseconds);
    }
}

void ClipSyncEngine::retry() {
    syncNow();
}

} // namespace snipjar::sync
