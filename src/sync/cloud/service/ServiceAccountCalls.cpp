#include "sync/cloud/service/ServiceAccountCalls.h"

#include <QJsonObject>
#include <QUrl>

namespace snipjar::cloud {

namespace {

CloudStatus statusOf(const CloudResult<QJsonObject>& answer) {
    if (!answer) {
        return answer.error();
    }
    return std::monostate{};
}

QString mailboxPath(const QString& mailbox, const QString& slot = {}) {
    QString path = QStringLiteral("/v1/pairing/") + QString::fromLatin1(QUrl::toPercentEncoding(mailbox));
    if (!slot.isEmpty()) {
        path += QLatin1Char('/') + QString::fromLatin1(QUrl::toPercentEncoding(slot));
    }
    return path;
}

CloudError malformed() {
    return {CloudErrorCode::serverRejectedRequest, QStringLiteral("the server's answer is not one"),
            std::nullopt};
}

} // namespace

ServiceAccountCalls::ServiceAccountCalls(ServiceAccount account)
    : http(std::move(account)) {}

CloudResult<EncryptionState> ServiceAccountCalls::encryption() {
    const auto answer = http.call("GET", QStringLiteral("/v1/account/encryption"));
    if (!answer) {
        return answer.error();
    }
    EncryptionState state;
    state.keyId = answer.value().value("keyId").toString().left(64);
    state.verifier = QByteArray::fromBase64(answer.value().value("verifier").toString().toLatin1());
    if (state.enabled() && state.verifier.isEmpty()) {
        return malformed();
    }
    return state;
}

CloudStatus ServiceAccountCalls::setEncryption(const QString& previousKeyId, const QString& keyId,
                                               const QByteArray& verifier) {
    return statusOf(
        http.call("PUT", QStringLiteral("/v1/account/encryption"),
                  {{"previous", previousKeyId.isEmpty() ? QJsonValue() : QJsonValue(previousKeyId)},
                   {"keyId", keyId},
                   {"verifier", QString::fromLatin1(verifier.toBase64())}}));
}

CloudStatus ServiceAccountCalls::clearEncryption(const QString& keyId) {
    return statusOf(http.call("DELETE", QStringLiteral("/v1/account/encryption?keyId=") +
                                            QString::fromLatin1(QUrl::toPercentEncoding(keyId))));
}

CloudStatus ServiceAccountCalls::verifyPassword(const QString& password) {
    return statusOf(
        http.call("POST", QStringLiteral("/v1/account/verify-password"), {{"password", password}}));
}

CloudStatus ServiceAccountCalls::openMailbox(const QString& mailbox) {
    return statusOf(http.call("POST", mailboxPath(mailbox)));
}

CloudStatus ServiceAccountCalls::closeMailbox(const QString& mailbox) {
    return statusOf(http.call("DELETE", mailboxPath(mailbox)));
}

CloudStatus ServiceAccountCalls::post(const QString& mailbox, const QString& slot, const QByteArray& body) {
    return statusOf(
        http.call("PUT", mailboxPath(mailbox, slot), {{"body", QString::fromLatin1(body.toBase64())}}));
}

CloudResult<std::optional<QByteArray>> ServiceAccountCalls::read(const QString& mailbox, const QString& slot,
                                                                 int waitSeconds) {
    const auto answer =
        http.call("GET", mailboxPath(mailbox, slot) + QStringLiteral("?wait=%1").arg(waitSeconds));
    if (!answer) {
        return answer.error();
    }
    if (!answer.value().contains("body")) {
        return CloudResult<std::optional<QByteArray>>(std::optional<QByteArray>());
    }
    return CloudResult<std::optional<QByteArray>>(std::optional<QByteArray>(
        QByteArray::fromBase64(answer.value().value("body").toString().toLatin1())));
}

} // namespace snipjar::cloud
