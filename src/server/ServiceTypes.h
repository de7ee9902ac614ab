#pragma once

#include <QByteArray>
#include <QJsonObject>

#include <chrono>
#include <cstdint>
#include <string>

namespace snipjar::server {

// The refusal codes of the protocol: the numeric values of the client's CloudErrorCode, which the
// server does not link.
enum class ErrorCode {
    internalError = 1,
    serviceUnavailable = 6,
    notAuthenticated = 9,
    permissionFailure = 10,
    unknownItem = 11,
    invalidArguments = 12,
    serverRecordChanged = 14,
    changeTokenExpired = 21,
    incompatibleVersion = 23,
    zoneNotFound = 26,
    limitExceeded = 27,
};

// One HTTP request as the service layer sees it, its body already read (JSON in memory, assets in
// a spool file).
struct Request {
    std::string method;
    std::string target;
    std::string authorization;
    std::string address;
    QByteArray body;
    std::string uploadPath;
    std::int64_t uploadSize = 0;
    // When the request arrived: a read that may wait counts its wait from here.
    std::chrono::steady_clock::time_point received = std::chrono::steady_clock::now();
};

// The answer: a status and a JSON body, or the path of a spool file whose bytes are the body.
struct Reply {
    unsigned status = 200;
    QByteArray body;
    std::string downloadPath;
    // Not an answer yet: the request asks again once the account's pairing mailboxes changed, or
    // after a short while, until waitUntil has passed (when it is answered as it stands).
    std::int64_t waitAccount = 0;
    std::chrono::steady_clock::time_point waitUntil{};
};

// The account and device a bearer token belongs to.
struct Caller {
    std::int64_t account = 0;
    std::int64_t device = 0;
};

Reply jsonReply(const QJsonObject& object, unsigned status = 200);
Reply errorReply(ErrorCode code, const char* description, bool historyWentBack = false);
QJsonObject errorObject(ErrorCode code, const char* description);

} // namespace snipjar::server
