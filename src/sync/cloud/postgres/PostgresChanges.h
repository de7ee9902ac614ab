#pragma once

#include "sync/cloud/CloudDatabase.h"

#include <pqxx/connection>

#include <functional>

namespace snipjar::cloud {

// The statements of one modify or fetch call, each in one transaction on the given connection.
// checkpoint() runs between records and throws to stop the call (a cancel). Failures of the
// server throw libpqxx exceptions; refusals of single records go into the outcome.
namespace postgres {

// Asset bytes above this size are stored as a large object rather than inline.
inline constexpr qint64 largeObjectThreshold = 8LL * 1024 * 1024;

CloudStatus saveZone(pqxx::connection_base& connection, const RecordZoneID& zone);
CloudResult<ModifyOutcome> modifyRecords(pqxx::connection_base& connection, const QList<CloudRecord>& saves,
                                         const QList<RecordID>& deletions,
                                         const std::function<void()>& checkpoint);
CloudResult<ChangePage> fetchChanges(pqxx::connection_base& connection, const RecordZoneID& zone,
                                     const std::optional<ChangeToken>& since,
                                     const std::function<void()>& checkpoint);

} // namespace postgres
} // namespace snipjar::cloud
