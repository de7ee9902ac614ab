#pragma once

#include "sync/cloud/CloudError.h"

#include <exception>

namespace snipjar::cloud {

// The schema version this client speaks.
inline constexpr int postgresSchemaVersion = 2;

// Thrown inside a call that was cancelled between two statements.
struct PostgresCancelled : std::exception {};

// Thrown when the server's schema is of another version.
struct PostgresIncompatibleSchema : std::exception {};

// The cloud error for a failure thrown by libpqxx (or one of the two above). cancelled tells that
// cancel() was asked, so that a cancelled statement is not taken for a timeout.
CloudError postgresError(const std::exception& failure, bool cancelled);

// Whether the connection must be dropped after the failure (next call connects again).
bool postgresConnectionLost(const std::exception& failure);

} // namespace snipjar::cloud
