#include "sync/cloud/service/network/NetworkServiceTransport.h"

#include <QCryptographicHash>
#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QThread>
#include <QTimer>

namespace snipjar::cloud {

namespace {

// Largest answer read into memory (a page of 200 records of at most 64 MB fields each is far less
// in practice; the cap keeps a hostile server from filling memory).
constexpr qint64 largestAnswer = 512LL * 1024 * 1024;
constexpr int transferTimeoutMs = 120000;

QByteArray certificateFingerprint(const QNetworkReply& reply) {
    return QCryptographicHash::hash(reply.sslConfiguration().peerCertificate().toDer(),
                                    QCryptographicHash::Sha256);
}

} // namespace

NetworkServiceTransport::NetworkServiceTransport(ServiceAccount account)
    : account(std::move(account)) {}

NetworkServiceTransport::~NetworkServiceTransport() = default;

QNetworkAccessManager& NetworkServiceTransport::manager() {
    // The manager belongs to the thread that uses it; a call from another thread gets its own.
    if (!network || network->thread() != QThread::currentThread()) {
        network = std::make_unique<QNetworkAccessManager>();
        network->setTransferTimeout(transferTimeoutMs);
    }
    return *network;
}

ServiceExchange NetworkServiceTransport::exchange(const ServiceRequest& request,
                                                  std::atomic<bool>& cancelled) {
    QNetworkRequest sent(account.server.resolved(QUrl(request.path)));
    if (!request.token.isEmpty()) {
        sent.setRawHeader("Authorization", "Bearer " + request.token.toLatin1());
    }
    if (!request.contentType.isEmpty()) {
        sent.setRawHeader("Content-Type", request.contentType);
    }
    QNetworkReply* reply = nullptr;
    if (request.upload != nullptr) {
        sent.setHeader(QNetworkRequest::ContentLengthHeader, request.upload->size());
        reply = manager().sendCustomRequest(sent, request.verb, request.upload);
    } else {
        reply = manager().sendCustomRequest(sent, request.verb, request.body);
    }
    return finish(reply, request.download, cancelled);
}

ServiceExchange NetworkServiceTransport::finish(QNetworkReply* reply, QFile* target,
                                                std::atomic<bool>& cancelled) {
    std::unique_ptr<QNetworkReply> owned(reply);
    QEventLoop loop;
    ServiceExchange result;
    bool tooLarge = false;
    bool unwritten = false;
    QObject::connect(reply, &QNetworkReply::sslErrors, reply, [this, reply](const QList<QSslError>&) {
        seen = certificateFingerprint(*reply);
        // A self-signed server is trusted only by the fingerprint pinned at sign-in.
        if (!account.pinnedFingerprint.isEmpty() && seen == account.pinnedFingerprint) {
            reply->ignoreSslErrors();
        }
    });
    QObject::connect(reply, &QNetworkReply::readyRead, reply, [&] {
        if (target != nullptr && reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() == 200) {
            if (target->write(reply->readAll()) < 0) {
                unwritten = true;
                reply->abort();
            }
            return;
        }
        result.body += reply->readAll();
        if (result.body.size() > largestAnswer) {
            tooLarge = true;
            reply->abort();
        }
    });
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, reply, [reply, &cancelled] {
        if (cancelled) {
            reply->abort();
        }
    });
    poll.start(50);
    if (!reply->isFinished()) {
        loop.exec();
    }
    // A reply aborted by a cancel is closed: nothing is left to read.
    const QByteArray rest = reply->isOpen() ? reply->readAll() : QByteArray();
    result.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const bool toTarget =
        target != nullptr && reply->error() == QNetworkReply::NoError && result.status == 200;
    if (toTarget) {
        unwritten = unwritten || target->write(rest) < 0 || !target->flush();
    } else {
        result.body += rest;
    }
    if (!reply->sslConfiguration().peerCertificate().isNull()) {
        seen = certificateFingerprint(*reply);
    }
    if (cancelled.exchange(false)) {
        result.failure = ServiceExchange::Failure::cancelled;
    } else if (tooLarge) {
        result.failure = ServiceExchange::Failure::tooLarge;
    } else if (unwritten) {
        result.failure = ServiceExchange::Failure::writeFailed;
    } else if (result.status == 0) {
        const auto error = reply->error();
        result.failure = error == QNetworkReply::SslHandshakeFailedError ? ServiceExchange::Failure::untrusted
                         : error == QNetworkReply::HostNotFoundError ? ServiceExchange::Failure::hostNotFound
                                                                     : ServiceExchange::Failure::network;
        result.error = reply->errorString();
    }
    return result;
}

} // namespace snipjar::cloud
