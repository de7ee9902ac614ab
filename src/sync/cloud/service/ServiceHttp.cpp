#include "sync/cloud/service/ServiceHttp.h"

#include "platform/LogCategories.h"

#include <QFile>
#include <QJsonDocument>

namespace snipjar::cloud {

namespace {

CloudError failure(CloudErrorCode code, const QString& description) {
    return {code, description, std::nullopt};
}

} // namespace

CloudError serviceError(int status, const QByteArray& body) {
    const QJsonObject error = QJsonDocument::fromJson(body).object().value("error").toObject();
    if (error.contains("code")) {
        CloudError result = failure(static_cast<CloudErrorCode>(error.value("code").toInt()),
                                    error.value("description").toString().left(500));
        result.historyWentBack = error.value("historyWentBack").toBool();
        return result;
    }
    return failure(status >= 500 ? CloudErrorCode::serviceUnavailable : CloudErrorCode::serverRejectedRequest,
                   QStringLiteral("the server answered HTTP %1").arg(status));
}

ServiceHttp::ServiceHttp(ServiceAccount account)
    : account(std::move(account)) {}

ServiceHttp::~ServiceHttp() = default;

CloudResult<QByteArray> ServiceHttp::send(ServiceRequest request) {
    if (!transport) {
        const ServiceNetworkModule* module = ServiceNetworkModule::loaded();
        if (module == nullptr) {
            return failure(CloudErrorCode::internalError,
                           QStringLiteral("the network module of this installation cannot be loaded"));
        }
        transport = module->transport(account);
    }
    request.token = account.token;
    const ServiceExchange answer = transport->exchange(request, cancelled);
    using Failure = ServiceExchange::Failure;
    switch (answer.failure) {
    case Failure::cancelled:
        return failure(CloudErrorCode::operationCancelled, QStringLiteral("cancelled"));
    case Failure::tooLarge:
        return failure(CloudErrorCode::limitExceeded, QStringLiteral("the server's answer is too large"));
    case Failure::writeFailed:
        return failure(CloudErrorCode::internalError,
                       QStringLiteral("a downloaded asset could not be written"));
    case Failure::untrusted:
        return failure(CloudErrorCode::permissionFailure,
                       QStringLiteral("the server's certificate is not trusted"));
    case Failure::hostNotFound:
    case Failure::network:
        qCInfo(lcSync) << "sync service unreachable:" << answer.error;
        return failure(answer.failure == Failure::hostNotFound ? CloudErrorCode::networkUnavailable
                                                               : CloudErrorCode::networkFailure,
                       answer.error);
    case Failure::none:
        break;
    }
    if (answer.status >= 300) {
        return serviceError(answer.status, answer.body);
    }
    return answer.body;
}

CloudResult<QJsonObject> ServiceHttp::call(const QByteArray& verb, const QString& path,
                                           const QJsonObject& body) {
    ServiceRequest request{verb, path, {}, "application/json", {}, nullptr, nullptr};
    if (!body.isEmpty()) {
        request.body = QJsonDocument(body).toJson(QJsonDocument::Compact);
    }
    auto answer = send(std::move(request));
    if (!answer) {
        return answer.error();
    }
    if (answer.value().isEmpty()) {
        return QJsonObject();
    }
    const QJsonDocument document = QJsonDocument::fromJson(answer.value());
    if (!document.isObject()) {
        return failure(CloudErrorCode::serverRejectedRequest,
                       QStringLiteral("the server's answer is not JSON"));
    }
    return document.object();
}

CloudResult<QJsonObject> ServiceHttp::upload(const QString& path, QFile& source) {
    auto answer = send({"POST", path, {}, "application/octet-stream", {}, &source, nullptr});
    if (!answer) {
        return answer.error();
    }
    return QJsonDocument::fromJson(answer.value()).object();
}

CloudStatus ServiceHttp::download(const QString& path, QFile& target) {
    auto answer = send({"GET", path, {}, {}, {}, nullptr, &target});
    if (!answer) {
        return answer.error();
    }
    return std::monostate{};
}

} // namespace snipjar::cloud
