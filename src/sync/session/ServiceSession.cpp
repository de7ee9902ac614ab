#include "sync/session/ServiceSession.h"

#include "platform/LogCategories.h"
#include "sync/cloud/service/ServiceCloudDatabase.h"
#include "sync/cloud/service/ServiceHttp.h"

#include <QJsonArray>
#include <QRegularExpression>
#include <QSysInfo>

namespace snipjar::sync {

namespace {

QString refusalText(const cloud::CloudError& error) {
    switch (error.code) {
    case cloud::CloudErrorCode::notAuthenticated:
        return QStringLiteral("The server did not accept the user name and password.");
    case cloud::CloudErrorCode::limitExceeded:
        return QStringLiteral("The server refused: too many attempts; try again later.");
    case cloud::CloudErrorCode::permissionFailure:
        return QStringLiteral("The server's certificate is not trusted.");
    case cloud::CloudErrorCode::networkUnavailable:
    case cloud::CloudErrorCode::networkFailure:
    case cloud::CloudErrorCode::serviceUnavailable:
        return QStringLiteral("The server cannot be reached.");
    default:
        return error.description.isEmpty()
                   ? QStringLiteral("The server refused the sign-in.")
                   : QStringLiteral("The server refused the sign-in: %1.").arg(error.description);
    }
}

} // namespace

std::variant<ServiceSession::SignedIn, ServiceSession::Refusal>
ServiceSession::signIn(const QString& server, const QString& user, const QString& password,
                       const QByteArray& trusted) {
    const std::optional<QUrl> url = SyncAccount::serverURL(server);
    if (!url) {
        return Refusal{SyncAccount::serverProblem(server).value_or(QString()), {}};
    }
    QByteArray seen;
    auto answer = cloud::signInToService(*url, user, password, QSysInfo::machineHostName(), trusted, &seen);
    if (!answer) {
        // A certificate the system does not trust, and not the one the user accepted.
        if (!seen.isEmpty() && seen != trusted) {
            return Refusal{QStringLiteral("The server's certificate is not signed by an authority this "
                                          "computer trusts. Compare its fingerprint with the one "
                                          "snipjar-server printed: %1")
                               .arg(fingerprintText(seen)),
                           seen};
        }
        qCWarning(lcSync).noquote() << "sign-in refused:" << cloud::cloudErrorCodeName(answer.error().code)
                                    << answer.error().description;
        return Refusal{refusalText(answer.error()), {}};
    }
    const cloud::ServiceSignIn& signedIn = answer.value();
    SignedIn result;
    result.record = {url->toString(), user, signedIn.accountId, signedIn.epoch,
                     seen.isEmpty() ? QByteArray() : trusted};
    result.token = signedIn.token;
    return result;
}

std::optional<QString> ServiceSession::signOut(const SyncCredentials& credentials) {
    if (!credentials.token) {
        // Without its token this computer cannot ask the server to forget it.
        return QStringLiteral("The keyring no longer holds this computer's sign-in token.");
    }
    cloud::ServiceHttp http(serviceAccount(credentials));
    auto devices = http.call("GET", QStringLiteral("/v1/devices"));
    if (!devices) {
        // A token the server no longer knows is signed out already.
        if (devices.error().code == cloud::CloudErrorCode::notAuthenticated) {
            return std::nullopt;
        }
        return refusalText(devices.error());
    }
    for (const QJsonValue& device : devices.value().value(QStringLiteral("devices")).toArray()) {
        const QJsonObject entry = device.toObject();
        if (!entry.value(QStringLiteral("current")).toBool()) {
            continue;
        }
        const QJsonValue id = entry.value(QStringLiteral("id"));
        const QString idText = id.isString() ? id.toString() : QString::number(id.toInteger());
        auto revoked = http.call("DELETE", QStringLiteral("/v1/devices/") + QUrl::toPercentEncoding(idText));
        if (!revoked && revoked.error().code != cloud::CloudErrorCode::notAuthenticated) {
            return refusalText(revoked.error());
        }
        return std::nullopt;
    }
    return QStringLiteral("The server does not list this computer among the account's devices.");
}

cloud::ServiceAccount ServiceSession::serviceAccount(const SyncCredentials& credentials) {
    return {SyncAccount::serverURL(credentials.signIn.server).value_or(QUrl()),
            credentials.token.value_or(QString()), credentials.signIn.accountId, credentials.signIn.epoch,
            credentials.signIn.fingerprint};
}

QString ServiceSession::fingerprintText(const QByteArray& fingerprint) {
    return QString::fromLatin1(fingerprint.toHex(':').toUpper());
}

QByteArray ServiceSession::parseFingerprint(const QString& text) {
    QString digits = text.trimmed();
    digits.remove(QLatin1Char(':'));
    static const QRegularExpression hex(QStringLiteral("^[0-9A-Fa-f]{64}$"));
    if (!hex.match(digits).hasMatch()) {
        return {};
    }
    return QByteArray::fromHex(digits.toLatin1());
}

} // namespace snipjar::sync
