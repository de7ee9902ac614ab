#include "capture/CaptureRead.h"

#include "capture/ImageRead.h"
#include "capture/SourceAddress.h"
#include "platform/LogCategories.h"
#include "platform/Pasteboard.h"
#include "platform/TypeIdentifier.h"
#include "platform/UserSettings.h"

#include <array>

namespace snipjar {

bool carriesCaptureForbiddingMarker(const QStringList& types) {
    static const std::array<QString, 3> markers{QString::fromLatin1(TypeIdentifier::transientMarker),
                                                QString::fromLatin1(TypeIdentifier::concealedMarker),
                                                QString::fromLatin1(TypeIdentifier::remoteClipboardMarker)};
    for (const QString& marker : markers) {
        if (types.contains(marker)) {
            return true;
        }
    }
    return false;
}

namespace {

std::optional<CaptureRead> readFiles(Pasteboard& pasteboard) {
    std::optional<QStringList> urls = pasteboard.fileURLs();
    if (!urls || urls->isEmpty()) {
        return std::nullopt;
    }
    Clip clip;
    clip.kind = Clip::Kind::file;
    clip.fileURLs = std::move(*urls);
    return CaptureRead::captured(std::move(clip));
}

std::optional<CaptureRead> readImageClip(Pasteboard& pasteboard, const QStringList& types,
                                         const CaptureLimits& limits) {
    std::optional<ImageRead> image =
        readImage(pasteboard, types, limits.directImageLimit, UserSettings::maxCaptureRepBytes());
    if (!image) {
        return std::nullopt;
    }
    if (image->handling == ImageRead::Handling::needsTranscode) {
        return CaptureRead::capturedForTranscode({std::move(image->bytes), sourceURLString(pasteboard)});
    }
    Clip clip;
    clip.kind = Clip::Kind::image;
    clip.imageData = std::move(image->bytes);
    clip.dataUTI = std::move(image->typeIdentifier);
    clip.sourceURLString = sourceURLString(pasteboard);
    return CaptureRead::captured(std::move(clip));
}

std::optional<CaptureRead> readRichText(Pasteboard& pasteboard) {
    std::optional<QByteArray> rtf = pasteboard.data(TypeIdentifier::rtf);
    if (!rtf) {
        return std::nullopt;
    }
    // Rich text without its plain words is not captured: the history shows, searches and
    // de-duplicates rich text by its plain text.
    std::optional<QString> text = pasteboard.string();
    if (!text) {
        return std::nullopt;
    }
    Clip clip;
    clip.kind = Clip::Kind::richText;
    clip.plainText = std::move(*text);
    clip.richTextData = std::move(*rtf);
    return CaptureRead::captured(std::move(clip));
}

CaptureRead readContents(Pasteboard& pasteboard, const CaptureLimits& limits) {
    const QStringList types = pasteboard.types();
    if (carriesCaptureForbiddingMarker(types)) {
        return CaptureRead::skipped();
    }
    if (std::optional<CaptureRead> files = readFiles(pasteboard)) {
        return std::move(*files);
    }
    if (std::optional<CaptureRead> image = readImageClip(pasteboard, types, limits)) {
        return std::move(*image);
    }
    if (std::optional<CaptureRead> richText = readRichText(pasteboard)) {
        return std::move(*richText);
    }
    std::optional<QString> text = pasteboard.string();
    if (!text || text->isEmpty()) {
        return CaptureRead::empty();
    }
    Clip clip;
    clip.kind = Clip::Kind::text;
    clip.plainText = std::move(*text);
    return CaptureRead::captured(std::move(clip));
}

} // namespace

CaptureRead readCapture(Pasteboard& pasteboard, const CaptureLimits& limits) {
    pasteboard.beginCapture();
    CaptureRead read = readContents(pasteboard, limits);
    if (!pasteboard.endCapture()) {
        // The clipboard changed hands while it was read, so the type list and the contents may
        // come from different owners: a password manager's secret under an ordinary type list.
        // Nothing of it is kept; the newer change is captured on its own.
        qCDebug(lcCapture) << "Clipboard changed during the capture; its result is dropped";
        return CaptureRead::empty();
    }
    return read;
}

} // namespace snipjar
