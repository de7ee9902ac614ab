#include "platform/TypeIdentifier.h"

#include <array>

namespace snipjar {

namespace {

struct TypeEntry {
    const char* identifier;
    std::array<const char*, 3> mimeTypes; // first found wins; the first is written
    const char* extension;                // preferred file-name extension, nullptr when none
    bool isImage;
};

// clang-format off
constexpr TypeEntry typeTable[] = {
    {TypeIdentifier::plainText, {"text/plain;charset=utf-8", "UTF8_STRING", "text/plain"}, "txt", false},
    {TypeIdentifier::rtf, {"text/rtf", "application/rtf", nullptr}, "rtf", false},
    {TypeIdentifier::html, {"text/html", nullptr, nullptr}, "html", false},
    {TypeIdentifier::heic, {"image/heic", "image/heif", nullptr}, "heic", true},
    {TypeIdentifier::jpeg, {"image/jpeg", nullptr, nullptr}, "jpeg", true},
    {TypeIdentifier::gif, {"image/gif", nullptr, nullptr}, "gif", true},
    {TypeIdentifier::png, {"image/png", nullptr, nullptr}, "png", true},
    {TypeIdentifier::pdf, {"application/pdf", nullptr, nullptr}, "pdf", false},
    {TypeIdentifier::tiff, {"image/tiff", nullptr, nullptr}, "tiff", true},
    {TypeIdentifier::svg, {"image/svg+xml", nullptr, nullptr}, "svg", true},
    {"public.webp", {"image/webp", nullptr, nullptr}, "webp", true},
    {"public.avif", {"image/avif", nullptr, nullptr}, "avif", true},
    {"com.microsoft.bmp", {"image/bmp", "image/x-bmp", nullptr}, "bmp", true},
    {"com.microsoft.ico", {"image/x-icon", "image/vnd.microsoft.icon", nullptr}, "ico", true},
    {"public.jpeg-2000", {"image/jp2", nullptr, nullptr}, "jp2", true},
    {TypeIdentifier::fileURL, {"text/uri-list", nullptr, nullptr}, nullptr, false},
    {TypeIdentifier::url, {"text/x-moz-url", nullptr, nullptr}, nullptr, false},
    {TypeIdentifier::concealedMarker, {"x-kde-passwordManagerHint", "application/x-nspasteboard-concealed-type", "org.nspasteboard.ConcealedType"}, nullptr, false},
    {TypeIdentifier::transientMarker, {"org.nspasteboard.TransientType", "application/x-nspasteboard-transient-type", nullptr}, nullptr, false},
    {TypeIdentifier::remoteClipboardMarker, {"com.apple.is-remote-clipboard", nullptr, nullptr}, nullptr, false},
};
// clang-format on

const TypeEntry* entryFor(const QString& identifier) {
    for (const TypeEntry& entry : typeTable) {
        if (identifier == QLatin1String(entry.identifier)) {
            return &entry;
        }
    }
    return nullptr;
}

const QLatin1String genericImagePrefix("public.");

// "public.<subtype>" identifiers made from image/* targets that are not in the table.
bool isGenericImageIdentifier(const QString& identifier) {
    if (!identifier.startsWith(genericImagePrefix) || entryFor(identifier)) {
        return false;
    }
    const QString subtype = identifier.mid(genericImagePrefix.size());
    static const QStringList nonImageSubtypes = {QStringLiteral("data"), QStringLiteral("text"),
                                                 QStringLiteral("content"), QStringLiteral("item")};
    return !subtype.isEmpty() && !nonImageSubtypes.contains(subtype) && !subtype.contains(QLatin1Char('/'));
}

} // namespace

bool TypeIdentifier::isKnown(const QString& identifier) {
    return entryFor(identifier) != nullptr || isGenericImageIdentifier(identifier);
}

bool TypeIdentifier::conformsToImage(const QString& identifier) {
    if (const TypeEntry* entry = entryFor(identifier)) {
        return entry->isImage;
    }
    return isGenericImageIdentifier(identifier);
}

bool TypeIdentifier::isPDF(const QString& identifier) {
    return identifier == QLatin1String(pdf);
}

std::optional<QString> TypeIdentifier::preferredFilenameExtension(const QString& identifier) {
    if (const TypeEntry* entry = entryFor(identifier)) {
        if (entry->extension) {
            return QString::fromLatin1(entry->extension);
        }
        return std::nullopt;
    }
    if (isGenericImageIdentifier(identifier)) {
        return identifier.mid(genericImagePrefix.size());
    }
    return std::nullopt;
}

QStringList TypeIdentifier::mimeTypes(const QString& identifier) {
    QStringList result;
    if (const TypeEntry* entry = entryFor(identifier)) {
        for (const char* mime : entry->mimeTypes) {
            if (mime) {
                result << QString::fromLatin1(mime);
            }
        }
    } else if (isGenericImageIdentifier(identifier)) {
        result << QStringLiteral("image/") + identifier.mid(genericImagePrefix.size());
    }
    return result;
}

std::optional<QString> TypeIdentifier::fromMimeType(const QString& mimeType) {
    const QString lowered = mimeType.trimmed();
    for (const TypeEntry& entry : typeTable) {
        for (const char* mime : entry.mimeTypes) {
            if (mime && lowered.compare(QLatin1String(mime), Qt::CaseInsensitive) == 0) {
                return QString::fromLatin1(entry.identifier);
            }
        }
    }
    // Plain-text variants such as "text/plain;charset=UTF-8" or "STRING".
    if (lowered.startsWith(QLatin1String("text/plain"), Qt::CaseInsensitive) ||
        lowered == QLatin1String("STRING") || lowered == QLatin1String("TEXT")) {
        return QString::fromLatin1(plainText);
    }
    if (lowered.startsWith(QLatin1String("image/"), Qt::CaseInsensitive)) {
        QString subtype = lowered.mid(6).toLower();
        subtype = subtype.section(QLatin1Char(';'), 0, 0).trimmed();
        if (subtype.startsWith(QLatin1String("x-"))) {
            subtype = subtype.mid(2);
        }
        if (subtype.isEmpty() || subtype.contains(QLatin1Char('/'))) {
            return std::nullopt;
        }
        return genericImagePrefix + subtype;
    }
    return std::nullopt;
}

} // namespace snipjar
