#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

namespace snipjar::cloud {

// What a computer keeps to reach its account on a sync service: the server's address, the device
// token sign-in gave (a secret, kept in the keyring), the account id and database epoch the server
// answered, and the SHA-256 fingerprint of a self-signed server's certificate (empty: the system's
// certificate authorities decide).
struct ServiceAccount {
    QUrl server;
    QString token;
    QString accountId;
    QString epoch;
    QByteArray pinnedFingerprint;
};

} // namespace snipjar::cloud
