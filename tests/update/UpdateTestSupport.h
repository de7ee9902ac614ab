#pragma once

#include "app/update/UpdateFeed.h"
#include "app/update/UpdateInfo.h"

#include <QByteArray>
#include <QObject>
#include <QTcpServer>
#include <QUrl>
#include <gtest/gtest.h>

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

// Generous: a check that never ends fails the test instead of hanging it; no check's duration is
// asserted.
constexpr int answerWaitMs = 10'000;

// A fresh key and the local feed server, for the tests that check updates against them.
class FeedTest : public ::testing::Test {
protected:
    QByteArray feedFor(const char* version) const {
        return UpdateFeed::sign(SigningKey::release(QString::fromLatin1(version)), key.secretKey);
    }

    SigningKey key = SigningKey::generate();
    FeedServer server;
};

} // namespace snipjar::test
