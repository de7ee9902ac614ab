#include "UpdateTestSupport.h"

#include <QCryptographicHash>
#include <QPointer>
#include <QTcpSocket>

#include <sodium.h>

namespace snipjar::test {

SigningKey SigningKey::generate() {
    if (sodium_init() < 0) {
        return {};
    }
    SigningKey key;
    key.publicKey.resize(crypto_sign_PUBLICKEYBYTES);
    key.secretKey.resize(crypto_sign_SECRETKEYBYTES);
    crypto_sign_keypair(reinterpret_cast<unsigned char*>(key.publicKey.data()),
                        reinterpret_cast<unsigned char*>(key.secretKey.data()));
    return key;
}

UpdateInfo SigningKey::release(const QString& version) {
    const QByteArray download = "the bytes of the release archive " + version.toUtf8();
    UpdateInfo info;
    info.version = *SemanticVersion::parse(version);
    info.notesUrl = QUrl(QStringLiteral("https://updates.example.org/snipjar/%1.html").arg(version));
    info.downloadUrl =
        QUrl(QStringLiteral("https://updates.example.org/snipjar/snipjar-%1.tar.xz").arg(version));
    info.sha256 = QString::fromLatin1(QCryptographicHash::hash(download, QCryptographicHash::Sha256).toHex());
    info.size = download.size();
    return info;
}

FeedServer::FeedServer(QObject* parent)
    : QObject(parent) {
    connect(&server, &QTcpServer::newConnection, this, &FeedServer::accept);
    server.listen(QHostAddress::LocalHost);
}

QUrl FeedServer::url() const {
    return QUrl(QStringLiteral("http://127.0.0.1:%1/snipjar/feed.json").arg(server.serverPort()));
}

void FeedServer::respond(int newStatus, const QByteArray& newBody, Behaviour newBehaviour) {
    status = newStatus;
    body = newBody;
    behaviour = newBehaviour;
}

void FeedServer::accept() {
    while (QTcpSocket* socket = server.nextPendingConnection()) {
        socket->setParent(this);
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::readyRead, this, [this, guard = QPointer<QTcpSocket>(socket)] {
            QTcpSocket* peer = guard.data();
            if (!peer || peer->property("answered").toBool() ||
                !peer->peek(peer->bytesAvailable()).contains("\r\n\r\n")) {
                return;
            }
            peer->readAll();
            peer->setProperty("answered", true);
            ++requests;
            if (behaviour == Behaviour::Silent) {
                return;
            }
            const QByteArray sent = behaviour == Behaviour::CutShort ? body.left(body.size() / 2) : body;
            peer->write("HTTP/1.1 " + QByteArray::number(status) +
                        " Answer\r\nContent-Type: application/json\r\nContent-Length: " +
                        QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + sent);
            peer->disconnectFromHost();
        });
    }
}

} // namespace snipjar::test
