#include "sync/cloud/CloudError.h"

namespace snipjar::cloud {

QString cloudErrorCodeName(CloudErrorCode code) {
    switch (code) {
    case CloudErrorCode::internalError:
        return QStringLiteral("internalError");
    case CloudErrorCode::networkUnavailable:
        return QStringLiteral("networkUnavailable");
    case CloudErrorCode::networkFailure:
        return QStringLiteral("networkFailure");
    case CloudErrorCode::serviceUnavailable:
        return QStringLiteral("serviceUnavailable");
    case CloudErrorCode::notAuthenticated:
        return QStringLiteral("notAuthenticated");
    case CloudErrorCode::permissionFailure:
        return QStringLiteral("permissionFailure");
    case CloudErrorCode::unknownItem:
        return QStringLiteral("unknownItem");
    case CloudErrorCode::invalidArguments:
        return QStringLiteral("invalidArguments");
    case CloudErrorCode::serverRecordChanged:
        return QStringLiteral("serverRecordChanged");
    case CloudErrorCode::serverRejectedRequest:
        return QStringLiteral("serverRejectedRequest");
    case CloudErrorCode::operationCancelled:
        return QStringLiteral("operationCancelled");
    case CloudErrorCode::changeTokenExpired:
        return QStringLiteral("changeTokenExpired");
    case CloudErrorCode::incompatibleVersion:
        return QStringLiteral("incompatibleVersion");
    case CloudErrorCode::zoneNotFound:
        return QStringLiteral("zoneNotFound");
    case CloudErrorCode::limitExceeded:
        return QStringLiteral("limitExceeded");
    }
    return QStringLiteral("unknown(%1)").arg(static_cast<int>(code));
}

bool CloudError::isTransient() const {
    switch (code) {
    case CloudErrorCode::networkUnavailable:
    case CloudErrorCode::networkFailure:
    case CloudErrorCode::serviceUnavailable:
    case CloudErrorCode::notAuthenticated:
    case CloudErrorCode::operationCancelled:
    case CloudErrorCode::incompatibleVersion:
    case CloudErrorCode::internalError:
        return true;
    default:
        return false;
    }
}

} // namespace snipjar::cloud
