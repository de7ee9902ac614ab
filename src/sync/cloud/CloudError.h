#pragma once

#include "sync/cloud/CloudRecord.h"

#include <QString>

#include <optional>
#include <utility>
#include <variant>

namespace snipjar::cloud {

// What went wrong with a cloud operation or with one record of it. The numeric values of the two
// per-record conflicts are the ones the sync engine's rules are written against.
enum class CloudErrorCode {
    internalError = 1,
    networkUnavailable = 3,
    networkFailure = 4,
    serviceUnavailable = 6,
    notAuthenticated = 9,
    permissionFailure = 10,
    unknownItem = 11,
    invalidArguments = 12,
    serverRecordChanged = 14,
    serverRejectedRequest = 15,
    operationCancelled = 20,
    changeTokenExpired = 21,
    incompatibleVersion = 23,
    zoneNotFound = 26,
    limitExceeded = 27,
};

// The name printed in logs, e.g. "serverRecordChanged".
QString cloudErrorCodeName(CloudErrorCode code);

struct CloudError {
    CloudErrorCode code = CloudErrorCode::internalError;
    QString description;
    // With serverRecordChanged: the record as the server holds it, when it could be read.
    std::optional<CloudRecord> serverRecord;
    // With changeTokenExpired: the server no longer holds the history up to the token's position
    // (it was restored from an older backup), rather than having pruned what came before it.
    bool historyWentBack = false;

    // Whether retrying later can succeed without anything changing locally (network, server down,
    // login refused, a server of another version, a cancelled call).
    bool isTransient() const;
};

// A value or the error that kept it from being made.
template <typename T> class CloudResult {
public:
    CloudResult(T value)
        : content(std::move(value)) {}
    CloudResult(CloudError error)
        : content(std::move(error)) {}

    bool ok() const { return std::holds_alternative<T>(content); }
    explicit operator bool() const { return ok(); }
    const T& value() const { return std::get<T>(content); }
    T& value() { return std::get<T>(content); }
    const CloudError& error() const { return std::get<CloudError>(content); }

private:
    std::variant<T, CloudError> content;
};

using CloudStatus = CloudResult<std::monostate>;

} // namespace snipjar::cloud
