#include "FuzzInput.h"

#include "app/update/SemanticVersion.h"
#include "app/update/UpdateFeed.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <sodium.h>

#include <cstdio>
#include <cstdlib>

using namespace snipjar;

namespace {

struct KeyPair {
    QByteArray publicKey = QByteArray(crypto_sign_PUBLICKEYBYTES, '\0');
    QByteArray secretKey = QByteArray(crypto_sign_SECRETKEYBYTES, '\0');

    KeyPair() {
        if (sodium_init() < 0) {
            abort();
        }
        const unsigned char seed[crypto_sign_SEEDBYTES] = {7};
        crypto_sign_seed_keypair(reinterpret_cast<unsigned char*>(publicKey.data()),
                                 reinterpret_cast<unsigned char*>(secretKey.data()), seed);
    }
};

const KeyPair& keys() {
    static const KeyPair pair;
    return pair;
}

// The feed the release tool would write for these field values, signed with the test key, so that
// the fuzzer reaches what is read after the signature: the version and the addresses.
QByteArray signedFeed(const QList<QByteArray>& fields) {
    const QByteArray version = fields.value(0), notes = fields.value(1), download = fields.value(2),
                     sha256 = fields.value(3);
    const qint64 size = 1 + fields.value(4).size();
    const QByteArray text = "snipjar-update-feed-v1\nversion=" + version + "\nnotesUrl=" + notes +
                            "\ndownloadUrl=" + download + "\nsha256=" + sha256 +
                            "\nsize=" + QByteArray::number(size) + "\n";
    QByteArray signature(crypto_sign_BYTES, '\0');
    crypto_sign_detached(reinterpret_cast<unsigned char*>(signature.data()), nullptr,
                         reinterpret_cast<const unsigned char*>(text.constData()),
                         static_cast<unsigned long long>(text.size()),
                         reinterpret_cast<const unsigned char*>(keys().secretKey.constData()));
    QJsonObject object;
    object.insert(QLatin1String("version"), QString::fromUtf8(version));
    object.insert(QLatin1String("notesUrl"), QString::fromUtf8(notes));
    object.insert(QLatin1String("downloadUrl"), QString::fromUtf8(download));
    object.insert(QLatin1String("sha256"), QString::fromUtf8(sha256));
    object.insert(QLatin1String("size"), double(size));
    object.insert(QLatin1String("signature"), QString::fromLatin1(signature.toBase64()));
    return QJsonDocument(object).toJson();
}

} // namespace

// The update feed as a server or whoever sits between it and the user sends it, and the values of
// a correctly signed feed. A feed without the release key's signature is never accepted, and an
// accepted one names a version that reads back as itself, https addresses and a SHA-256.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray input = fuzz::bytesOf(data, size);
    SNIPJAR_FUZZ_CHECK(!UpdateFeed::parse(input, keys().publicKey));

    const QList<QByteArray> fields = fuzz::partsOf(input, 5);
    const UpdateFeed::Result result = UpdateFeed::parse(signedFeed(fields), keys().publicKey);
    if (result) {
        const UpdateInfo& info = *result.info;
        SNIPJAR_FUZZ_CHECK(SemanticVersion::parse(info.version.toString()) == info.version);
        SNIPJAR_FUZZ_CHECK(info.notesUrl.scheme() == QLatin1String("https"));
        SNIPJAR_FUZZ_CHECK(info.downloadUrl.scheme() == QLatin1String("https"));
        SNIPJAR_FUZZ_CHECK(info.sha256.size() == 64);
    }
    if (const auto version = SemanticVersion::parse(QString::fromUtf8(fields.value(0)))) {
        SNIPJAR_FUZZ_CHECK(SemanticVersion::parse(version->toString()) == version);
        SNIPJAR_FUZZ_CHECK((*version <=> *version) == 0);
        if (const auto other = SemanticVersion::parse(QString::fromUtf8(fields.value(1)))) {
            // Precedence is antisymmetric.
            SNIPJAR_FUZZ_CHECK((*version <=> *other) == (0 <=> (*other <=> *version)));
        }
    }
    return 0;
}
