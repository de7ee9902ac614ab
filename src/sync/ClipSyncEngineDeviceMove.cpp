// This computer's move to a new identifier on the server: the clips it holds there under the
// identifier it went by before are sent again under the current one, and the old Device record
// goes once none of them names it any more.
#include "sync/ClipSyncEngine.h"

#include "platform/LogCategories.h"
#include "store/ClipStore.h"
#include "sync/RecordNames.h"
#include "sync/SyncEngineStateStore.h"

namespace snipjar::sync {

void ClipSyncEngine::retireFormerDevice(const QString& thisDevice) {
    const std::optional<Device> retired = store.retiredDevice();
    if (!retired) {
        return;
    }
    // The server holds this computer's clips under the identifier it went by before: they go again
    // under the current one. The old Device record, whose deletion takes every clip still naming it
    // along, goes once they all went (finishRetiringFormerDevice).
    syncEngine->state().remove({PendingRecordZoneChange::save(RecordNames::deviceRecordID(retired->id))});
    QList<PendingRecordZoneChange> changes;
    const auto context = store.syncContainer().newContext();
    for (const ClipItemSummary& item :
         context->fetchSummaries(ClipItemQuery().whereDeviceID(thisDevice).whereCloudRecord(true))) {
        changes.append(PendingRecordZoneChange::save(RecordNames::itemRecordID(item.id)));
    }
    syncEngine->state().add(changes);
    retiringFormerDevice = true;
    qCInfo(lcSync).noquote() << QStringLiteral(
                                    "start: sending %1 clip(s) again under this computer's new identifier")
                                    .arg(changes.size());
}

bool ClipSyncEngine::reclaimFormerClips() {
    const QString& former = store.formerDeviceID();
    if (former.isEmpty()) {
        return false;
    }
    ModelContext& context = store.syncContext();
    const QList<ClipItemSummary> clips = context.fetchSummaries(ClipItemQuery().whereDeviceID(former));
    if (clips.isEmpty()) {
        return false;
    }
    // The server's version of one of this computer's clips, still under the former identifier:
    // it is this computer's again, and goes again before the former Device record is deleted.
    context.reassignItems(former, store.thisDeviceID());
    if (!context.save()) {
        context.rollback();
        return false;
    }
    QList<PendingRecordZoneChange> changes;
    for (const ClipItemSummary& clip : clips) {
        changes.append(PendingRecordZoneChange::save(RecordNames::itemRecordID(clip.id)));
    }
    syncEngine->state().add(changes);
    retiringFormerDevice = true;
    return true;
}

void ClipSyncEngine::finishRetiringFormerDevice() {
    for (const PendingRecordZoneChange& change : syncEngine->state().pendingRecordZoneChanges()) {
        if (change.kind == PendingRecordZoneChange::Kind::saveRecord &&
            RecordNames::parse(change.id.recordName).kind == RecordNames::Parsed::Kind::item) {
            return;
        }
    }
    retiringFormerDevice = false;
    const std::optional<Device> retired = store.retiredDevice();
    if (!retired) {
        return;
    }
    if (retired->cloudRecordSystemFields) {
        syncEngine->state().add({PendingRecordZoneChange::remove(RecordNames::deviceRecordID(retired->id))});
        // Saved before the old record is forgotten here: the deletion is never lost to a crash.
        stateStore.save(syncEngine->stateSerialization());
        scheduleSend();
    }
    store.forgetRetiredDevice();
}

} // namespace snipjar::sync
