#include "app/update/UpdateFeed.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>

#include <sodium.h>

namespace snipjar {

namespace {

// The first line of the signed text names what is signed and in which layout, so a signature made
// with the release key for anything else can never pass as a feed signature.
constexpr const char* signedTextHeader = "snipjar-update-feed-v1";

// Integers above 2^53 cannot travel through a JSON number exactly.
constexpr qint64 largestExactSize = qint64(1) << 53;

struct FeedFields {
    QString version;
    QString notesUrl;
    QString downloadUrl;
    QString sha256;
    qint64 size = 0;
};

QByteArray signedTextOf(const FeedFields& fields) {
    QByteArray text;
    text += signedTextHeader;
    text += "\nversion=" + fields.version.toUtf8();
    text += "\nnotesUrl=" + fields.notesUrl.toUtf8();
    text += "\ndownloadUrl=" + fields.downloadUrl.toUtf8();
    text += "\nsha256=" + fields.sha256.toUtf8();
    text += "\nsize=" + QByteArray::number(fields.size);
    text += '\n';
    return text;
}

bool ensureSodium() {
    // sodium_init() is safe to call from several threads and returns 1 once already initialised.
    return sodium_init() >= 0;
}

bool isLowerHex(const QString& text) {
    for (const QChar c : text) {
        if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f'))) {
            return false;
        }
    }
    return true;
}

QString tr(const char* text) {
    return QCoreApplication::translate("UpdateFeed", text);
}

std::optional<QUrl> httpsUrl(const QString& text) {
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.scheme() != QLatin1String("https") || url.host().isEmpty()) {
        return std::nullopt;
    }
    return url;
}

UpdateFeed::Result failure(const QString& reason) {
    return UpdateFeed::Result{std::nullopt, reason};
}

} // namespace

UpdateFeed::Result UpdateFeed::parse(const QByteArray& json, const QByteArray& publicKey) {
    if (publicKey.size() != publicKeyBytes || !ensureSodium()) {
        return failure(tr("No valid key for checking the update information is configured."));
    }
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        return failure(tr("The update information is incomplete or not in the expected format."));
    }
    const QJsonObject object = document.object();

    const QJsonValue signatureValue = object.value(QLatin1String("signature"));
    if (!signatureValue.isString() || signatureValue.toString().isEmpty()) {
        return failure(tr("The update information is not signed."));
    }

    FeedFields fields;
    for (const auto& [key, target] :
         {std::pair{"version", &fields.version}, std::pair{"notesUrl", &fields.notesUrl},
          std::pair{"downloadUrl", &fields.downloadUrl}, std::pair{"sha256", &fields.sha256}}) {
        const QJsonValue value = object.value(QLatin1String(key));
        if (!value.isString()) {
            return failure(tr("The update information lacks the field \"%1\".").arg(QLatin1String(key)));
        }
        *target = value.toString();
    }
    const QJsonValue sizeValue = object.value(QLatin1String("size"));
    const double size = sizeValue.toDouble(-1);
    if (!sizeValue.isDouble() || size < 1 || size > double(largestExactSize) ||
        size != double(qint64(size))) {
        return failure(tr("The update information lacks the download's size."));
    }
    fields.size = qint64(size);

    // The signature is checked before any field is interpreted, so that nothing from an unsigned
    // feed is ever acted on, not even to choose which error to report.
    const auto signature = QByteArray::fromBase64Encoding(signatureValue.toString().toLatin1(),
                                                          QByteArray::AbortOnBase64DecodingErrors);
    const QByteArray message = signedTextOf(fields);
    if (!signature || signature.decoded.size() != signatureBytes ||
        crypto_sign_verify_detached(reinterpret_cast<const unsigned char*>(signature.decoded.constData()),
                                    reinterpret_cast<const unsigned char*>(message.constData()),
                                    static_cast<unsigned long long>(message.size()),
                                    reinterpret_cast<const unsigned char*>(publicKey.constData())) != 0) {
        return failure(tr("The update information is not signed with Snipjar's release key."));
    }

    UpdateInfo info;
    const auto version = SemanticVersion::parse(fields.version);
    if (!version) {
        return failure(tr("The update information names no valid version."));
    }
    info.version = *version;
    const auto notes = httpsUrl(fields.notesUrl);
    const auto download = httpsUrl(fields.downloadUrl);
    if (!notes || !download) {
        return failure(tr("The update information names no secure (https) address."));
    }
    info.notesUrl = *notes;
    info.downloadUrl = *download;
    if (fields.sha256.size() != 64 || !isLowerHex(fields.sha256)) {
        return failure(tr("The update information lacks the download's SHA-256."));
    }
    info.sha256 = fields.sha256;
    info.size = fields.size;
    return Result{info, QString()};
}

QByteArray UpdateFeed::signedText(const UpdateInfo& info) {
    return signedTextOf(FeedFields{info.version.toString(), info.notesUrl.toString(QUrl::FullyEncoded),
                                   info.downloadUrl.toString(QUrl::FullyEncoded), info.sha256, info.size});
}

QByteArray UpdateFeed::sign(const UpdateInfo& info, const QByteArray& secretKey) {
    if (!ensureSodium()) {
        return {};
    }
    QByteArray fullKey = secretKey;
    if (secretKey.size() == crypto_sign_SEEDBYTES) {
        QByteArray publicKey(publicKeyBytes, Qt::Uninitialized);
        fullKey = QByteArray(secretKeyBytes, Qt::Uninitialized);
        crypto_sign_seed_keypair(reinterpret_cast<unsigned char*>(publicKey.data()),
                                 reinterpret_cast<unsigned char*>(fullKey.data()),
                                 reinterpret_cast<const unsigned char*>(secretKey.constData()));
    }
    if (fullKey.size() != secretKeyBytes) {
        return {};
    }
    const QByteArray message = signedText(info);
    QByteArray signature(signatureBytes, Qt::Uninitialized);
    crypto_sign_detached(reinterpret_cast<unsigned char*>(signature.data()), nullptr,
                         reinterpret_cast<const unsigned char*>(message.constData()),
                         static_cast<unsigned long long>(message.size()),
                         reinterpret_cast<const unsigned char*>(fullKey.constData()));
    sodium_memzero(fullKey.data(), static_cast<size_t>(fullKey.size()));

    QJsonObject object;
    object.insert(QLatin1String("version"), info.version.toString());
    object.insert(QLatin1String("notesUrl"), info.notesUrl.toString(QUrl::FullyEncoded));
    object.insert(QLatin1String("downloadUrl"), info.downloadUrl.toString(QUrl::FullyEncoded));
    object.insert(QLatin1String("sha256"), info.sha256);
    object.insert(QLatin1String("size"), double(info.size));
    object.insert(QLatin1String("signature"), QString::fromLatin1(signature.toBase64()));
    return QJsonDocument(object).toJson(QJsonDocument::Indented);
}

} // namespace snipjar
