// snipjar_sign_feed: makes the release key and signs update feeds.
//
//   snipjar_sign_feed --new-key SECRET-KEY-FILE   writes a new secret key (base64, mode 0600) and
//                                                 prints its public key (base64)
//   snipjar_sign_feed --public-key SECRET-KEY-FILE  prints the public key of a secret key
//   snipjar_sign_feed SECRET-KEY-FILE PAYLOAD-FILE  prints the signed feed
//
// The payload is the feed without its signature: version, notesUrl, downloadUrl, and either sha256
// and size of the download or "file", the path of the download, from which both are computed.
// The signed feed is read back with the public key before it is printed, so a payload the
// application would refuse never leaves this tool.

#include "app/update/UpdateFeed.h"
#include "platform/KeyText.h"

#include <QCryptographicHash>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <sodium.h>

#include <cstdio>
#include <optional>

using namespace snipjar;

namespace {

int fail(const QString& message) {
    std::fprintf(stderr, "snipjar_sign_feed: %s\n", message.toLocal8Bit().constData());
    return 1;
}

int usage() {
    std::fprintf(stderr, "usage: snipjar_sign_feed --new-key SECRET-KEY-FILE\n"
                         "       snipjar_sign_feed --public-key SECRET-KEY-FILE\n"
                         "       snipjar_sign_feed SECRET-KEY-FILE PAYLOAD-FILE\n");
    return 2;
}

std::optional<QByteArray> readFile(const QString& path) {
    QFile file(path);
    if (path == QLatin1String("-") ? !file.open(stdin, QIODevice::ReadOnly)
                                   : !file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    return file.readAll();
}

// The 64-byte libsodium secret key, read from a file holding it (or its 32-byte seed) in base64
// or hex.
std::optional<QByteArray> readSecretKey(const QString& path) {
    const auto text = readFile(path);
    if (!text) {
        return std::nullopt;
    }
    const QString keyText = QString::fromLatin1(*text);
    if (auto full = KeyText::decode(keyText, UpdateFeed::secretKeyBytes)) {
        return full;
    }
    const auto seed = KeyText::decode(keyText, crypto_sign_SEEDBYTES);
    if (!seed) {
        return std::nullopt;
    }
    QByteArray publicKey(UpdateFeed::publicKeyBytes, Qt::Uninitialized);
    QByteArray secretKey(UpdateFeed::secretKeyBytes, Qt::Uninitialized);
    crypto_sign_seed_keypair(reinterpret_cast<unsigned char*>(publicKey.data()),
                             reinterpret_cast<unsigned char*>(secretKey.data()),
                             reinterpret_cast<const unsigned char*>(seed->constData()));
    return secretKey;
}

QByteArray publicKeyOf(const QByteArray& secretKey) {
    QByteArray publicKey(UpdateFeed::publicKeyBytes, Qt::Uninitialized);
    crypto_sign_ed25519_sk_to_pk(reinterpret_cast<unsigned char*>(publicKey.data()),
                                 reinterpret_cast<const unsigned char*>(secretKey.constData()));
    return publicKey;
}

int newKey(const QString& path) {
    QByteArray publicKey(UpdateFeed::publicKeyBytes, Qt::Uninitialized);
    QByteArray secretKey(UpdateFeed::secretKeyBytes, Qt::Uninitialized);
    crypto_sign_keypair(reinterpret_cast<unsigned char*>(publicKey.data()),
                        reinterpret_cast<unsigned char*>(secretKey.data()));
    QFile file(path);
    if (file.exists()) {
        return fail(QStringLiteral("%1 exists; a release key is never overwritten").arg(path));
    }
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly) ||
        !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) ||
        file.write(secretKey.toBase64() + '\n') < 0 || !file.flush()) {
        return fail(QStringLiteral("cannot write %1").arg(path));
    }
    std::printf("%s\n", publicKey.toBase64().constData());
    return 0;
}

int signPayload(const QByteArray& secretKey, const QString& payloadPath) {
    const auto payload = readFile(payloadPath);
    if (!payload) {
        return fail(QStringLiteral("cannot read %1").arg(payloadPath));
    }
    const QJsonObject object = QJsonDocument::fromJson(*payload).object();
    const auto version = SemanticVersion::parse(object.value(QLatin1String("version")).toString());
    if (!version) {
        return fail(QStringLiteral("the payload's \"version\" is no semantic version"));
    }
    UpdateInfo info;
    info.version = *version;
    info.notesUrl = QUrl(object.value(QLatin1String("notesUrl")).toString(), QUrl::StrictMode);
    info.downloadUrl = QUrl(object.value(QLatin1String("downloadUrl")).toString(), QUrl::StrictMode);
    if (object.contains(QLatin1String("file"))) {
        const QString downloadPath = object.value(QLatin1String("file")).toString();
        QFile download(downloadPath);
        QCryptographicHash hash(QCryptographicHash::Sha256);
        if (!download.open(QIODevice::ReadOnly) || !hash.addData(&download)) {
            return fail(QStringLiteral("cannot read the download %1").arg(downloadPath));
        }
        info.sha256 = QString::fromLatin1(hash.result().toHex());
        info.size = download.size();
    } else {
        info.sha256 = object.value(QLatin1String("sha256")).toString();
        info.size = object.value(QLatin1String("size")).toInteger(-1);
    }
    const QByteArray feed = UpdateFeed::sign(info, secretKey);
    const UpdateFeed::Result check = UpdateFeed::parse(feed, publicKeyOf(secretKey));
    if (!check) {
        return fail(QStringLiteral("the application would refuse this feed: %1").arg(check.reason));
    }
    std::fwrite(feed.constData(), 1, static_cast<size_t>(feed.size()), stdout);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (sodium_init() < 0) {
        return fail(QStringLiteral("libsodium cannot start"));
    }
    if (argc != 3) {
        return usage();
    }
    const QString first = QString::fromLocal8Bit(argv[1]);
    const QString second = QString::fromLocal8Bit(argv[2]);
    if (first == QLatin1String("--new-key")) {
        return newKey(second);
    }
    const bool printPublicKey = first == QLatin1String("--public-key");
    const auto secretKey = readSecretKey(printPublicKey ? second : first);
    if (!secretKey) {
        return fail(QStringLiteral("no Ed25519 secret key (base64 or hex) in %1")
                        .arg(printPublicKey ? second : first));
    }
    if (printPublicKey) {
        std::printf("%s\n", publicKeyOf(*secretKey).toBase64().constData());
        return 0;
    }
    return signPayload(*secretKey, second);
}
