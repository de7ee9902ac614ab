#include "FeedServer.h"

#include <QPointer>
#include <QTcpSocket>

namespace snipjar::test {

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
            if (!peer || peer->property("answered").toBool()) {
                return;
            }
            const QByteArray request = peer->peek(peer->bytesAvailable());
            if (!request.contains("\r\n\r\n")) {
                return;
            }
            peer->readAll();
            peer->setProperty("answered", true);
            ++requests;
            if (behaviour == Behaviour::Silent) {
                return;
            }
            const QByteArray sent = behaviour == Behaviour::CutShort ? body.left(body.size() / 2) : body;
            QByteArray response = "HTTP/1.1 " + QByteArray::number(status) + " Answer\r\n";
            response += "Content-Type: application/json\r\n";
            response += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
            response += "Connection: close\r\n\r\n";
            response += sent;
            peer->write(response);
            peer->disconnectFromHost();
        });
    }
}

} // namespace snipjar::test
