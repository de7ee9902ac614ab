#include "SigningKey.h"

#include <QCryptographicHash>

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

} // namespace snipjar::test
