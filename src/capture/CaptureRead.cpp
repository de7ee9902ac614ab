#include "capture/CaptureRead.h"

#include "capture/ImageRead.h"
#include "capture/SourceAddress.h"
#include "platform/LogCategories.h"
#include "platform/Pasteboard.h"
#include "platform/TypeIdentifier.h"
#include "platform/UserSettings.h"
#include "store/ClipStore.h"

#include <algorithm>
#include <array>

namespace snipjar {

static_assert(CaptureLimits::defaultTextLimit == ClipStore::largestClipBytes);

namespace {

qint64 textLimit(const CaptureLimits& limits) {
    return std::min(limits.textLimit, UserSettings::maxCaptureRepBytes());
}

CaptureRead tooLargeText(qint64 limit) {
    qCInfo(lcCapture) << "Clipboard text is larger than" << limit << "bytes; the copy is not recorded";
    return CaptureRead::skipped();
}

} // namespace

// A password manager's copy, a clipboard meant to vanish, or one shared from another device is
// never recorded, and nothing of it is read.
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

// Rich text with its plain words, both together within the limit. RTF too large to keep with its
// words is passed over, as a picture too large is, and the words alone are captured.
std::optional<CaptureRead> readRichText(Pasteboard& pasteboard, qint64 limit) {
    PasteboardRead rtf = pasteboard.read(TypeIdentifier::rtf, limit);
    if (rtf.status == PasteboardRead::Status::tooLarge) {
        qCDebug(lcCapture) << "Rich text larger than" << limit << "bytes; its plain text is read alone";
    }
    if (rtf.status != PasteboardRead::Status::ok) {
        return std::nullopt;
    }
    // Rich text without its plain words is not captured: the history shows, searches and
    // de-duplicates rich text by its plain text.
    PasteboardString text = pasteboard.readString(limit - rtf.bytes.size());
    if (text.status != PasteboardRead::Status::ok) {
        return std::nullopt;
    }
    Clip clip;
    clip.kind = Clip::Kind::richText;
    clip.plainText = std::move(text.text);
    clip.richTextData = std::move(rtf.bytes);
    return CaptureRead::captured(std::move(clip));
}

// The HTML offered beside the text, kept with it when text and HTML together fit within the limit;
// HTML too large for that is passed over and the text alone is captured, as rich text is.
void attachHtml(Pasteboard& pasteboard, const QStringList& types, Clip& clip, qint64 limit) {
    if (!types.contains(QLatin1String(TypeIdentifier::html))) {
        return;
    }
    const qint64 remaining = limit - clip.byteSize();
    if (remaining <= 0) {
        return;
    }
    PasteboardRead html = pasteboard.read(TypeIdentifier::html, remaining);
    if (html.status == PasteboardRead::Status::tooLarge) {
        qCDebug(lcCapture) << "HTML larger than" << remaining
                           << "bytes beside the text; the text is read alone";
    }
    if (html.status == PasteboardRead::Status::ok && !html.bytes.isEmpty()) {
        clip.htmlData = std::move(html.bytes);
    }
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
    const qint64 limit = textLimit(limits);
    if (std::optional<CaptureRead> richText = readRichText(pasteboard, limit)) {
        attachHtml(pasteboard, types, *richText->clip, limit);
        return std::move(*richText);
    }
    PasteboardString text = pasteboard.readString(limit);
    if (text.status == PasteboardRead::Status::tooLarge) {
        return tooLargeText(limit);
    }
    if (text.status != PasteboardRead::Status::ok || text.text.isEmpty()) {
        return CaptureRead::empty();
    }
    Clip clip;
    clip.kind = Clip::Kind::text;
    clip.plainText = std::move(text.text);
    attachHtml(pasteboard, types, clip, limit);
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
