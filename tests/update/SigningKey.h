#pragma once

#include "app/update/UpdateInfo.h"

#include <QByteArray>

namespace snipjar::test {

// A fresh Ed25519 key pair from libsodium, and a release that tests sign with it.
struct SigningKey {
    QByteArray publicKey;
    QByteArray secretKey;

    static SigningKey generate();
    // A release of the given version with plausible addresses and the digest of a small file.
    static UpdateInfo release(const QString& version);
};

} // namespace snipjar::test
