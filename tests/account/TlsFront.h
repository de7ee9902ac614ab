#pragma once

#include <QByteArray>
#include <QSslServer>
#include <QTemporaryDir>
#include <QUrl>

namespace snipjar::test {

// A TLS front with a self-signed certificate of its own for a plain-http server on this computer,
// as a user of a self-signed snipjar-server meets it. Main thread; bytes pass as they come.
class TlsFront {
public:
    explicit TlsFront(const QUrl& backend);

    bool isListening() const { return server.isListening(); }
    QUrl url() const;
    // The SHA-256 of the certificate, as a client sees it.
    QByteArray fingerprint() const { return certificateFingerprint; }

private:
    QTemporaryDir folder;
    QSslServer server;
    QByteArray certificateFingerprint;
};

} // namespace snipjar::test
