#include "sync/cloud/postgres/PostgresErrors.h"

#include <pqxx/except>

#include <string>

namespace snipjar::cloud {

namespace {

bool mentions(const std::string& text, const char* fragment) {
    return text.find(fragment) != std::string::npos;
}

CloudError connectionError(const std::string& message) {
    const QString description = QString::fromStdString(message).trimmed();
    if (mentions(message, "password authentication failed") || mentions(message, "no pg_hba.conf entry") ||
        mentions(message, "does not exist") || mentions(message, "no password supplied") ||
        mentions(message, "authentication failed") || mentions(message, "password is required")) {
        return {CloudErrorCode::notAuthenticated, description, std::nullopt};
    }
    if (mentions(message, "could not translate host name") || mentions(message, "Network is unreachable")) {
        return {CloudErrorCode::networkUnavailable, description, std::nullopt};
    }
    if (mentions(message, "Connection refused") || mentions(message, "No such file or directory") ||
        mentions(message, "starting up") || mentions(message, "shutting down") ||
        mentions(message, "terminating connection") || mentions(message, "too many clients")) {
        return {CloudErrorCode::serviceUnavailable, description, std::nullopt};
    }
    return {CloudErrorCode::networkFailure, description, std::nullopt};
}

CloudErrorCode codeForState(const std::string& state, bool cancelled) {
    if (state == "57014") {
        return cancelled ? CloudErrorCode::operationCancelled : CloudErrorCode::networkFailure;
    }
    if (state == "28P01" || state == "28000") {
        return CloudErrorCode::notAuthenticated;
    }
    if (state == "42501") {
        return CloudErrorCode::permissionFailure;
    }
    if (state == "42P01" || state == "3F000" || state == "42883") {
        return CloudErrorCode::incompatibleVersion;
    }
    if (state.rfind("57P", 0) == 0 || state.rfind("53", 0) == 0 || state.rfind("08", 0) == 0 ||
        state == "40001" || state == "40P01" || state == "55P03") {
        return CloudErrorCode::serviceUnavailable;
    }
    if (state.rfind("54", 0) == 0) {
        return CloudErrorCode::limitExceeded;
    }
    if (state.rfind("22", 0) == 0 || state.rfind("23", 0) == 0) {
        return CloudErrorCode::serverRejectedRequest;
    }
    return CloudErrorCode::internalError;
}

} // namespace

CloudError postgresError(const std::exception& failure, bool cancelled) {
    if (cancelled) {
        return {CloudErrorCode::operationCancelled, QStringLiteral("cancelled"), std::nullopt};
    }
    if (dynamic_cast<const PostgresCancelled*>(&failure) != nullptr) {
        return {CloudErrorCode::operationCancelled, QStringLiteral("cancelled"), std::nullopt};
    }
    if (dynamic_cast<const PostgresIncompatibleSchema*>(&failure) != nullptr) {
        return {CloudErrorCode::incompatibleVersion,
                QStringLiteral("the server's schema is of another version"), std::nullopt};
    }
    const std::string message = failure.what();
    if (const auto* sql = dynamic_cast<const pqxx::sql_error*>(&failure)) {
        return {codeForState(sql->sqlstate(), cancelled), QString::fromStdString(message).trimmed(),
                std::nullopt};
    }
    if (dynamic_cast<const pqxx::broken_connection*>(&failure) != nullptr ||
        dynamic_cast<const pqxx::in_doubt_error*>(&failure) != nullptr) {
        return connectionError(message);
    }
    if (dynamic_cast<const pqxx::failure*>(&failure) != nullptr) {
        // libpqxx reports a connection lost in the middle of a statement as a plain failure too.
        return connectionError(message);
    }
    return {CloudErrorCode::internalError, QString::fromStdString(message), std::nullopt};
}

bool postgresConnectionLost(const std::exception& failure) {
    if (dynamic_cast<const PostgresIncompatibleSchema*>(&failure) != nullptr) {
        return true;
    }
    if (const auto* sql = dynamic_cast<const pqxx::sql_error*>(&failure)) {
        const std::string& state = sql->sqlstate();
        return state.rfind("57P", 0) == 0 || state.rfind("08", 0) == 0 || state.empty();
    }
    return dynamic_cast<const pqxx::broken_connection*>(&failure) != nullptr ||
           dynamic_cast<const pqxx::in_doubt_error*>(&failure) != nullptr ||
           dynamic_cast<const pqxx::failure*>(&failure) != nullptr;
}

} // namespace snipjar::cloud
