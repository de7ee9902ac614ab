#pragma once

#include "sync/cloud/CloudRecord.h"

namespace snipjar::sync {

// A change waiting to be sent: a record to save (built when its batch is sent) or to delete.
struct PendingRecordZoneChange {
    enum class Kind { saveRecord, deleteRecord };

    Kind kind = Kind::saveRecord;
    cloud::RecordID id;

    static PendingRecordZoneChange save(cloud::RecordID id) { return {Kind::saveRecord, std::move(id)}; }
    static PendingRecordZoneChange remove(cloud::RecordID id) { return {Kind::deleteRecord, std::move(id)}; }

    bool operator==(const PendingRecordZoneChange&) const = default;
};

// A zone to create on the server before the records in it are sent.
struct PendingDatabaseChange {
    cloud::RecordZoneID saveZone;

    bool operator==(const PendingDatabaseChange&) const = default;
};

} // namespace snipjar::sync
