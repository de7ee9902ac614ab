#include "model/Clip.h"

#include "model/ImageMetadata.h"
#include "platform/TypeIdentifier.h"

#include <QCryptographicHash>
#include <QLibrary>
#include <QTextBoundaryFinder>
#include <QUrl>

#include <cmath>

#include <openssl/evp.h>
#include <openssl/opensslv.h>

namespace snipjar {

namespace {

const QString partSeparator = QStringLiteral(" \u00B7 ");
constexpr int metadataTextLimit = 120;

// libcrypto's SHA-256, which uses the processor's SHA instructions where they exist: a 50 MB image
// is keyed in tens of milliseconds instead of several hundred. libcrypto is loaded with the first
// digest rather than linked, since its relocations were a measurable part of every start, and a
// start computes no digest.
struct Libcrypto {
    decltype(&EVP_Digest) digest = nullptr;
    decltype(&EVP_sha256) sha256 = nullptr;

    static const Libcrypto& loaded() {
        static const Libcrypto functions = [] {
            Libcrypto found;
            // Never unloaded, like any library the process links.
            auto* library = new QLibrary(QStringLiteral("crypto"), OPENSSL_VERSION_MAJOR);
            found.digest = reinterpret_cast<decltype(&EVP_Digest)>(library->resolve("EVP_Digest"));
            found.sha256 = reinterpret_cast<decltype(&EVP_sha256)>(library->resolve("EVP_sha256"));
            return found.digest && found.sha256 ? found : Libcrypto{};
        }();
        return functions;
    }
};

QString hexDigest(QByteArrayView bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    const Libcrypto& libcrypto = Libcrypto::loaded();
    if (!libcrypto.digest) {
        // Without libcrypto, Qt's own SHA-256 gives the same digest, only more slowly.
        return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
    }
    if (libcrypto.digest(bytes.data(), static_cast<size_t>(bytes.size()), digest, &length, libcrypto.sha256(),
                         nullptr) != 1) {
        return {};
    }
    static constexpr char hexDigits[] = "0123456789abcdef";
    QString hex(static_cast<qsizetype>(length) * 2, Qt::Uninitialized);
    for (unsigned int i = 0; i < length; ++i) {
        hex[2 * i] = QLatin1Char(hexDigits[digest[i] >> 4]);
        hex[2 * i + 1] = QLatin1Char(hexDigits[digest[i] & 0x0f]);
    }
    return hex;
}

qint64 utf8Length(const QString& text) {
    // Counting avoids building a copy of a possibly very long text.
    qint64 length = 0;
    const qsizetype count = text.size();
    for (qsizetype i = 0; i < count; ++i) {
        const char16_t unit = text.at(i).unicode();
        if (unit < 0x80) {
            length += 1;
        } else if (unit < 0x800) {
            length += 2;
        } else if (QChar::isHighSurrogate(unit) && i + 1 < count &&
                   QChar::isLowSurrogate(text.at(i + 1).unicode())) {
            length += 4;
            ++i;
        } else {
            // Lone surrogates are written as U+FFFD (3 bytes) by the UTF-8 encoder.
            length += 3;
        }
    }
    return length;
}

// The last path component of a URL as Foundation names it: trailing slashes are ignored, the root
// path is "/", an empty path is "".
QString lastPathComponent(const QUrl& url) {
    QString path = url.path(QUrl::FullyDecoded);
    if (path.isEmpty()) {
        return {};
    }
    while (path.size() > 1 && path.endsWith(QLatin1Char('/'))) {
        path.chop(1);
    }
    if (path == QLatin1String("/")) {
        return path;
    }
    return path.section(QLatin1Char('/'), -1);
}

std::optional<QUrl> parsedURL(const QString& text) {
    if (text.isEmpty()) {
        return std::nullopt;
    }
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid()) {
        return std::nullopt;
    }
    return url;
}

} // namespace

qint64 Clip::byteSize() const {
    qint64 size = 0;
    if (plainText) {
        size += utf8Length(*plainText);
    }
    if (richTextData) {
        size += richTextData->size();
    }
    if (htmlData) {
        size += htmlData->size();
    }
    if (imageData) {
        size += imageData->size();
    }
    for (const QString& url : fileURLs) {
        size += utf8Length(url);
    }
    return size;
}

QString Clip::dedupKey() const {
    switch (kind) {
    case Kind::text:
    case Kind::richText:
        return QStringLiteral("t:") + hexDigest(plainText.value_or(QString()).toUtf8());
    case Kind::image:
        return QStringLiteral("i:") + hexDigest(imageData ? QByteArrayView(*imageData) : QByteArrayView());
    case Kind::file:
        return QStringLiteral("f:") + hexDigest(fileURLs.join(QLatin1Char('\n')).toUtf8());
    case Kind::unknown:
        break;
    }
    return QStringLiteral("u:") + hexDigest(plainText.value_or(QString()).toUtf8());
}

QString Clip::title() const {
    switch (kind) {
    case Kind::text:
    case Kind::richText:
        return plainText.value_or(QString());
    case Kind::image:
        return QStringLiteral("Image");
    case Kind::file: {
        if (fileURLs.isEmpty()) {
            return QStringLiteral("File");
        }
        QStringList names;
        names.reserve(fileURLs.size());
        for (const QString& text : fileURLs) {
            const auto url = parsedURL(text);
            names << (url ? lastPathComponent(*url) : text);
        }
        return names.join(QStringLiteral(", "));
    }
    case Kind::unknown:
        break;
    }
    return plainText.value_or(QStringLiteral("Clip"));
}

bool Clip::isTranscodableImageType() const {
    if (!dataUTI) {
        return true;
    }
    return *dataUTI != QLatin1String(TypeIdentifier::gif) && *dataUTI != QLatin1String(TypeIdentifier::pdf) &&
           *dataUTI != QLatin1String(TypeIdentifier::svg);
}

bool Clip::isLocalOnly() const {
    if (concealed || kind == Kind::file) {
        return true;
    }
    if (kind == Kind::image) {
        if (isTranscodableImageType()) {
            return false;
        }
        return byteSize() > 30'000'000;
    }
    return byteSize() > 1'000'000;
}

QString Clip::leadingCharacters(const QString& text, int limit) {
    // Fast path: a text of at most `limit` code units has at most `limit` characters.
    if (text.size() <= limit) {
        return text;
    }
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    int characters = 0;
    qsizetype position = 0;
    while (characters < limit) {
        const qsizetype next = finder.toNextBoundary();
        if (next < 0) {
            return text;
        }
        position = next;
        ++characters;
    }
    return text.left(position);
}

qsizetype Clip::characterCount(const QString& text) {
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype characters = 0;
    while (finder.toNextBoundary() >= 0) {
        ++characters;
    }
    return characters;
}

bool Clip::exceedsCharacters(const QString& text, int limit) {
    if (text.size() <= limit) {
        return false;
    }
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    for (int characters = 0; characters < limit; ++characters) {
        if (finder.toNextBoundary() < 0) {
            return false;
        }
    }
    return finder.position() < text.size();
}

std::optional<QString> imageTitle(const Clip& clip, const std::optional<ImageMetadata>& metadata) {
    QStringList parts;

    std::optional<QUrl> source;
    if (clip.sourceURLString) {
        source = parsedURL(*clip.sourceURLString);
    }
    std::optional<QString> sourceFileName;
    if (source) {
        const QString component = lastPathComponent(*source);
        if (!component.isEmpty() && component != QLatin1String("/")) {
            sourceFileName = component;
        }
    }

    std::optional<QString> described;
    if (metadata) {
        if (metadata->name) {
            described = metadata->name;
        } else if (metadata->caption) {
            described = metadata->caption;
        }
        if (described) {
            described = Clip::leadingCharacters(*described, metadataTextLimit);
            parts << *described;
        }
    }
    if (sourceFileName && sourceFileName != described) {
        parts << *sourceFileName;
    }
    if (source) {
        const QString host = source->host(QUrl::FullyEncoded);
        if (!host.isEmpty()) {
            parts << host;
        }
    }

    QStringList details;
    if (clip.dataUTI) {
        if (const auto extension = TypeIdentifier::preferredFilenameExtension(*clip.dataUTI)) {
            details << extension->toUpper();
        }
    }
    if (metadata && metadata->width && metadata->height) {
        const auto truncated = [](double value) {
            return QString::number(static_cast<qint64>(std::trunc(value)));
        };
        details << truncated(*metadata->width) + QStringLiteral("\u00D7") + truncated(*metadata->height);
    }
    if (!details.isEmpty()) {
        parts << details.join(QLatin1Char(' '));
    }

    if (clip.sourceName) {
        parts << *clip.sourceName;
    }
    if (metadata) {
        for (const auto& field : {metadata->credit, metadata->camera, metadata->captured}) {
            if (field) {
                parts << *field;
            }
        }
        if (!metadata->keywords.isEmpty()) {
            parts << metadata->keywords.join(QStringLiteral(", "));
        }
    }

    if (parts.isEmpty()) {
        return std::nullopt;
    }
    return parts.join(partSeparator);
}

} // namespace snipjar
