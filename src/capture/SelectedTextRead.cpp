#include "capture/SelectedTextRead.h"

#include "capture/CaptureRead.h"
#include "platform/LogCategories.h"
#include "platform/Pasteboard.h"
#include "platform/TypeIdentifier.h"

namespace snipjar {

namespace {

SelectedTextRead readContents(Pasteboard& selection, qint64 byteCap) {
    const QStringList types = selection.types();
    if (carriesCaptureForbiddingMarker(types)) {
        return {CaptureOutcome::skipped, std::nullopt};
    }
    // Files selected in a file manager are offered with their paths as text; they are a selection
    // of files, not selected text.
    if (types.contains(QLatin1String(TypeIdentifier::fileURL))) {
        return {CaptureOutcome::skipped, std::nullopt};
    }
    const PasteboardRead read = selection.read(QString::fromLatin1(TypeIdentifier::plainText), byteCap);
    switch (read.status) {
    case PasteboardRead::Status::absent:
        return {CaptureOutcome::empty, std::nullopt};
    case PasteboardRead::Status::tooLarge:
        qCDebug(lcCapture) << "Selected text is longer than" << byteCap << "bytes; not recorded";
        return {CaptureOutcome::skipped, std::nullopt};
    case PasteboardRead::Status::ok:
        break;
    }
    QString text = QString::fromUtf8(read.bytes);
    if (text.isEmpty()) {
        return {CaptureOutcome::empty, std::nullopt};
    }
    return {CaptureOutcome::captured, std::move(text)};
}

} // namespace

SelectedTextRead readSelectedText(Pasteboard& selection, qint64 byteCap) {
    selection.beginCapture();
    SelectedTextRead read = readContents(selection, byteCap);
    if (!selection.endCapture()) {
        // Another owner took the selection in the middle: its marker may not be in the type list
        // that was read. The newer owner is looked at on its own.
        return {CaptureOutcome::empty, std::nullopt};
    }
    return read;
}

} // namespace snipjar
