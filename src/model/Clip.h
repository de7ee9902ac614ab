#pragma once

#include "model/ClipKind.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

namespace snipjar {

struct ImageMetadata;

// One clipboard content: built by the capture from the clipboard, rebuilt by the store for pasting
// and previewing, consumed by the Paster. A plain value compared field by field.
struct Clip {
    using Kind = ClipKind;

    static constexpr int titleCharacterLimit = 5000;

    Kind kind = Kind::unknown;
    std::optional<QString> plainText;
    std::optional<QByteArray> richTextData;
    // The HTML a browser or editor offered beside the text, kept so that pasting gives a rich
    // editor the formatting; the text stays what the history shows, searches and de-duplicates by.
    std::optional<QByteArray> htmlData;
    std::optional<QByteArray> imageData;
    std::optional<QString> dataUTI;
    QStringList fileURLs;
    bool concealed = false;
    std::optional<QString> sourceBundleID;
    std::optional<QString> sourceName;
    // The web address an image was copied from; used for the image title only, never stored.
    std::optional<QString> sourceURLString;

    bool operator==(const Clip&) const = default;

    // UTF-8 length of the text + RTF and HTML bytes + image bytes + UTF-8 lengths of the file URLs.
    qint64 byteSize() const;
    // Kind prefix ("t:", "i:", "f:", "u:") + lowercase hexadecimal SHA-256 of the content.
    QString dedupKey() const;
    // Display and search text, before the 5000-character cut.
    QString title() const;
    // Concealed, file, or over the size limits: kept in the local store and never synced.
    bool isLocalOnly() const;
    // False for GIF, PDF and SVG (which keep their own format); true otherwise, also without a type.
    bool isTranscodableImageType() const;

    // The first `limit` user-perceived characters (grapheme clusters) of a text.
    static QString leadingCharacters(const QString& text, int limit);
    // Number of user-perceived characters of a text.
    static qsizetype characterCount(const QString& text);
    // Characters of a text, but only counts up to `limit + 1`, so long texts cost no more than needed.
    static bool exceedsCharacters(const QString& text, int limit);
};

// A descriptive title built from the clip's source and the image's metadata, or none.
std::optional<QString> imageTitle(const Clip& clip, const std::optional<ImageMetadata>& metadata);

} // namespace snipjar
