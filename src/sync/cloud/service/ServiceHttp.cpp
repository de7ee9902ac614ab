#include "sync/cloud/service/ServiceHttp.h"

#include "platform/LogCategories.h"

#include <QCryptographicHash>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QThread>
#include <QTimer>

namespace snipjar::cloud {

namespace {

// Largest JSON answer read (a page of 200 records of at most 64 MB fields each is far less in
// practice; the cap keeps a hostile server from filling memory).
constexpr qint64 largestAnswer = 512LL * 1024 * 1024;
constexpr int transferTimeoutMs = 120000;

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

QNetworkAccessManager& ServiceHttp::manager() {
    // The manager belongs to the thread that uses it; a call from another thread gets its own.
    if (!network || network->thread() != QThread::currentThread()) {
        network = std::make_unique<QNetworkAccessManager>();
        network->setTransferTimeout(transferTimeoutMs);
    }
    return *network;
}

CloudResult<QByteArray> ServiceHttp::finish(QNetworkReply* reply, QFile* target) {
    std::unique_ptr<QNetworkReply> owned(reply);
    QEventLoop loop;
    bool tooLarge = false;
    QByteArray body;
    QObject::connect(reply, &QNetworkReply::sslErrors, reply, [this, reply](const QList<QSslError>&) {
        const QByteArray fingerprint = QCryptographicHash::hash(
            reply->sslConfiguration().peerCertificate().toDer(), QCryptographicHash::Sha256);
        seen = fingerprint;
        // A self-signed server is trusted only by the fingerprint pinned at sign-in.
        if (!account.pinnedFingerprint.isEmpty() && fingerprint == account.pinnedFingerprint) {
            reply->ignoreSslErrors();
        }
    });
    QObject::connect(reply, &QNetworkReply::readyRead, reply, [&] {
        if (target != nullptr && reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() == 200) {
            if (target->write(reply->readAll()) < 0) {
                reply->abort();
            }
            return;
        }
        body += reply->readAll();
        if (body.size() > largestAnswer) {
            tooLarge = true;
            reply->abort();
        }
    });
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, reply, [this, reply] {
        if (cancelled) {
            reply->abort();
        }
    });
    poll.start(50);
    if (!reply->isFinished()) {
        loop.exec();
    }
    // A reply aborted by cancel() is closed: nothing is left to read.
    const QByteArray rest = reply->isOpen() ? reply->readAll() : QByteArray();
    if (target != nullptr && reply->error() == QNetworkReply::NoError) {
        target->write(rest);
    } else {
        body += rest;
    }
    if (!reply->sslConfiguration().peerCertificate().isNull()) {
        seen = QCryptographicHash::hash(reply->sslConfiguration().peerCertificate().toDer(),
                                        QCryptographicHash::Sha256);
    }
    if (cancelled.exchange(false)) {
        return failure(CloudErrorCode::operationCancelled, QStringLiteral("cancelled"));
    }
    if (tooLarge) {
        return failure(CloudErrorCode::limitExceeded, QStringLiteral("the server's answer is too large"));
    }
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status == 0) {
        const auto error = reply->error();
        if (error == QNetworkReply::SslHandshakeFailedError) {
            return failure(CloudErrorCode::permissionFailure,
                           QStringLiteral("the server's certificate is not trusted"));
        }
        qCInfo(lcSync) << "sync service unreachable:" << reply->errorString();
        return failure(error == QNetworkReply::HostNotFoundError ? CloudErrorCode::networkUnavailable
                                                                 : CloudErrorCode::networkFailure,
                       reply->errorString());
    }
    if (status >= 300) {
        return serviceError(status, body);
    }
    if (target != nullptr && !target->flush()) {
        return failure(CloudErrorCode::internalError,
                       QStringLiteral("a downloaded asset could not be written"));
    }
    return body;
}

CloudResult<QJsonObject> ServiceHttp::call(const QByteArray& verb, const QString& path,
                                           const QJsonObject& body) {
    QNetworkRequest request(account.server.resolved(QUrl(path)));
    if (!account.token.isEmpty()) {
        request.setRawHeader("Authorization", "Bearer " + account.token.toLatin1());
    }
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    const QByteArray payload =
        body.isEmpty() ? QByteArray() : QJsonDocument(body).toJson(QJsonDocument::Compact);
    auto answer = finish(manager().sendCustomRequest(request, verb, payload), nullptr);
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
    QNetworkRequest request(account.server.resolved(QUrl(path)));
    request.setRawHeader("Authorization", "Bearer " + account.token.toLatin1());
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/octet-stream"));
    request.setHeader(QNetworkRequest::ContentLengthHeader, source.size());
    auto answer = finish(manager().post(request, &source), nullptr);
    if (!answer) {
        return answer.error();
    }
    return QJsonDocument::fromJson(answer.value()).object();
}

CloudStatus ServiceHttp::download(const QString& path, QFile& target) {
    QNetworkRequest request(account.server.resolved(QUrl(path)));
    request.setRawHeader("Authorization", "Bearer " + account.token.toLatin1());
    auto answer = finish(manager().get(request), &target);
    if (!answer) {
        return answer.error();
    }
    return std::monostate{};
}

} // namespace snipjar::cloud
