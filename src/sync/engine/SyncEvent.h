#pragma once

#include "sync/cloud/CloudDatabase.h"
#include "sync/engine/StateSerialization.h"

#include <QList>

#include <utility>

namespace snipjar::sync {

// What the engine tells its delegate, one event at a time.
struct SyncEvent {
    enum class Type {
        // The pending changes or the fetch position changed; stateSerialization holds them.
        stateUpdate,
        // The server's history went back behind the fetch position (a server restored from an older
        // backup): a fetch from the start has delivered every live record, which liveRecordIDs
        // names; what the server lacks was lost with its history, not deleted, and is sent again.
        accountChange,
        fetchedDatabaseChanges,
        // One page of fetched changes: modifications and deletions.
        fetchedRecordZoneChanges,
        sentDatabaseChanges,
        // The server's answer to one batch: saved records, failed saves, deletions.
        sentRecordZoneChanges,
        willFetchChanges,
        // A fetch from the start (the fetch position had expired) has delivered every live record;
        // liveRecordIDs names them all, so that what the server no longer has can be let go.
        refetchedEverything,
        didFetchChanges,
        willSendChanges,
        didSendChanges,
    };

    Type type = Type::stateUpdate;

    StateSerialization stateSerialization;

    QList<cloud::CloudRecord> modifications;
    QList<cloud::RecordDeletion> deletions;

    QList<cloud::CloudRecord> savedRecords;
    QList<std::pair<cloud::CloudRecord, cloud::CloudError>> failedRecordSaves;
    QList<cloud::RecordID> deletedRecordIDs;
    QList<std::pair<cloud::RecordID, cloud::CloudError>> failedRecordDeletes;

    QList<cloud::RecordID> liveRecordIDs;
};

} // namespace snipjar::sync
