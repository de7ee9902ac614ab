#pragma once

#include "sync/cloud/CloudError.h"
#include "sync/cloud/CloudRecord.h"

#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace snipjar::cloud {

// A position in an owner's change history: every save and delete takes the next number of the
// owner's change counter, and a token is the last number a fetch has seen.
struct ChangeToken {
    qint64 value = 0;

    bool operator==(const ChangeToken&) const = default;
};

// A record deleted on the server, as a fetch reports it.
struct RecordDeletion {
    RecordID id;
    QString recordType;

    bool operator==(const RecordDeletion&) const = default;
};

// One page of changes after a token: at most pageLimit of them, oldest first, each record in its
// newest state (a record changed twice appears once).
struct ChangePage {
    QList<CloudRecord> modifications;
    QList<RecordDeletion> deletions;
    ChangeToken nextToken;
    bool moreComing = false;
    // Keeps the files a fetch wrote for the records' assets: they are removed when the last copy
    // of the page is gone, so whoever handles the page's records keeps a copy until done.
    std::shared_ptr<const void> assetFiles;
};

// What the server did with one modify call, record by record.
struct ModifyOutcome {
    // Saved records as the server now holds them, with their new change tags.
    QList<CloudRecord> saved;
    // The records as they were sent, with the reason each was refused.
    QList<std::pair<CloudRecord, CloudError>> failedSaves;
    QList<RecordID> deleted;
    QList<std::pair<RecordID, CloudError>> failedDeletes;
};

// Stops delivering change notices when destroyed.
class PushSubscription {
public:
    virtual ~PushSubscription() = default;
};

// One user's view of a cloud database. Calls block until the server answered; one thread at a
// time uses an instance (the sync engine's worker), while cancel() may come from any thread.
//
// Rules every implementation keeps (the conformance suite checks them):
// - a save carries the change tag it was based on: none creates the record, and fails with
//   serverRecordChanged (carrying the server's record) when one exists; a stale tag fails with
//   serverRecordChanged; a tag for a record the server no longer has fails with unknownItem;
// - a delete of an unknown record fails with unknownItem;
// - deleting a record deletes every record whose deleteSelf reference points to it, and each of
//   those deletions is a change of its own;
// - fetchChanges answers pages of at most pageLimit changes; a token older than the tombstone
//   retention fails with changeTokenExpired, and a fetch without a token returns every live
//   record;
// - an owner sees only its own zones and records.
class CloudDatabase {
public:
    static constexpr int pageLimit = 200;

    virtual ~CloudDatabase() = default;

    virtual CloudStatus saveZone(const RecordZoneID& zone) = 0;
    virtual CloudResult<ModifyOutcome> modifyRecords(const QList<CloudRecord>& saves,
                                                     const QList<RecordID>& deletions) = 0;
    virtual CloudResult<ChangePage> fetchChanges(const RecordZoneID& zone,
                                                 const std::optional<ChangeToken>& since) = 0;

    // Calls onNotice, from any thread, after every change of this owner made by anyone (this
    // instance included; notices may be coalesced) and whenever the notice channel came back after
    // an interruption, when changes may have been missed. None when notices cannot be had at all.
    virtual std::unique_ptr<PushSubscription> subscribe(std::function<void()> onNotice) = 0;

    // Makes a call in progress, on another thread, fail soon with operationCancelled.
    virtual void cancel() = 0;

    // Who this database is: the server and the account on it, without secrets, the same for every
    // connection to them; empty when it cannot tell. What one identity confirmed means nothing to
    // another. Any thread, without a call to the server.
    virtual QString accountIdentity() const { return {}; }
};

} // namespace snipjar::cloud
