#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <array>
#include <optional>

namespace snipjar {

class Pasteboard;

// The image representation chosen from the clipboard: bytes that can be stored as they are, or
// bytes too large to store that must first be transcoded.
struct ImageRead {
    enum class Handling { direct, needsTranscode };

    Handling handling = Handling::direct;
    QByteArray bytes;
    // The type identifier of the bytes ("public.jpeg", "public.png", ...).
    QString typeIdentifier;

    bool operator==(const ImageRead&) const = default;
};

// Image types tried first, in this order, whatever their position on the clipboard.
const std::array<const char*, 5>& preferredImageTypes();

// The candidate types in the order they are tried: the preferred types as far as the clipboard
// offers them, then every other known image or PDF type in clipboard order. TIFF is left to the
// fallback of readImage.
QStringList imageCandidateTypes(const QStringList& clipboardTypes);

// Picks and validates the clipboard's image representation. A representation longer than byteCap
// ends the read with none: a picture that large is not read at all, so the capture falls through
// to the clipboard's text. Representations longer than directLimit come back as needsTranscode.
// Runs off the main thread (the clipboard owner may be slow to answer).
std::optional<ImageRead> readImage(Pasteboard& pasteboard, qint64 directLimit, qint64 byteCap);
// The same, with the clipboard's types already read by the caller.
std::optional<ImageRead> readImage(Pasteboard& pasteboard, const QStringList& clipboardTypes,
                                   qint64 directLimit, qint64 byteCap);

} // namespace snipjar
