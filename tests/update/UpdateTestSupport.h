#pragma once

#include "app/update/UpdateInfo.h"

#include <QByteArray>
#include <QObject>
#include <QTcpServer>
#include <QUrl>

namespace snipjar::test {

// A fresh Ed25519 key pair from libsodium, and a release that tests sign with it.
struct SigningKey {
    QByteArray publicKey;
    QByteArray secretKey;

    static SigningKey generate();
    // A release of the given version with plausible addresses and the digest of a small file.
    static UpdateInfo release(const QString& version);
};

// A real HTTP/1.1 server on the loopback interface that answers every request with one configured
// response, for checking the update code against a network peer instead of a mock.
class FeedServer : public QObject {
    Q_OBJECT

public:
    enum class Behaviour {
        // The whole response, then the connection closes.
        Answer,
        // The headers announce the whole body, but only its first half is sent before the close.
        CutShort,
        // The request is read and never answered; the connection stays open.
        Silent,
    };

    explicit FeedServer(QObject* parent = nullptr);
    bool isListening() const { return server.isListening(); }
    QUrl url() const;
    void respond(int status, const QByteArray& body, Behaviour behaviour = Behaviour::Answer);
    int requestCount() const { return requests; }

private:
    void accept();

    QTcpServer server;
    int status = 200;
    QByteArray body;
    Behaviour behaviour = Behaviour::Answer;
    int requests = 0;
};

} // namespace snipjar::test
