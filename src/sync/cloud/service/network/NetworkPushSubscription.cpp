#include "sync/cloud/service/network/NetworkPushSubscription.h"

#include <QCryptographicHash>
#include <QNetworkRequest>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTimer>
#include <QWebSocket>

namespace snipjar::cloud {

namespace {

constexpr int firstRetryMs = 500;
constexpr int longestRetryMs = 30000;

// Connects, listens and reconnects; everything here runs on the subscription's thread.
void startSocket(QObject* anchor, const ServiceAccount& account, const std::function<void()>& onNotice,
                 const QLoggingCategory& log) {
    auto* socket = new QWebSocket(QString(), QWebSocketProtocol::VersionLatest, anchor);
    auto* retry = new QTimer(anchor);
    retry->setSingleShot(true);
    auto pause = std::make_shared<int>(firstRetryMs);
    QUrl url = account.server.resolved(QUrl(QStringLiteral("/v1/push")));
    url.setScheme(url.scheme() == QLatin1String("https") ? QStringLiteral("wss") : QStringLiteral("ws"));
    QNetworkRequest request(url);
    request.setRawHeader("Authorization", "Bearer " + account.token.toLatin1());
    const auto open = [socket, request] { socket->open(request); };
    QObject::connect(retry, &QTimer::timeout, socket, open);
    QObject::connect(socket, &QWebSocket::connected, socket, [onNotice, pause] {
        *pause = firstRetryMs;
        onNotice();
    });
    QObject::connect(socket, &QWebSocket::textMessageReceived, socket,
                     [onNotice](const QString&) { onNotice(); });
    QObject::connect(socket, &QWebSocket::disconnected, socket, [retry, pause] {
        retry->start(*pause);
        *pause = std::min(*pause * 2, longestRetryMs);
    });
    const QByteArray pinned = account.pinnedFingerprint;
    QObject::connect(socket, &QWebSocket::sslErrors, socket, [socket, pinned, &log](const QList<QSslError>&) {
        const QByteArray seen = QCryptographicHash::hash(socket->sslConfiguration().peerCertificate().toDer(),
                                                         QCryptographicHash::Sha256);
        if (!pinned.isEmpty() && seen == pinned) {
            socket->ignoreSslErrors();
        } else {
            qCWarning(log) << "The sync service's push socket shows a certificate that is not trusted";
        }
    });
    open();
}

} // namespace

NetworkPushSubscription::NetworkPushSubscription(ServiceAccount account, std::function<void()> onNotice,
                                                 const QLoggingCategory& log) {
    thread.setObjectName(QStringLiteral("sync push"));
    anchor = new QObject;
    anchor->moveToThread(&thread);
    thread.start();
    QMetaObject::invokeMethod(anchor,
                              [anchor = anchor, account = std::move(account), onNotice = std::move(onNotice),
                               &log] { startSocket(anchor, account, onNotice, log); });
}

NetworkPushSubscription::~NetworkPushSubscription() {
    // The socket and its timers go on their own thread, which then ends.
    QMetaObject::invokeMethod(anchor, [anchor = anchor] {
        delete anchor;
        QThread::currentThread()->quit();
    });
    thread.wait();
}

} // namespace snipjar::cloud
