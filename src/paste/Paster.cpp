#include "paste/Paster.h"

#include "image/ImageTranscode.h"
#include "paste/PasteKeyTable.h"
#include "platform/DesktopNotifier.h"
#include "platform/LogCategories.h"
#include "platform/PasteboardChangeTracking.h"
#include "platform/TypeIdentifier.h"

#include <QTimer>
#include <QUrl>

namespace snipjar {

namespace {

bool promptedForAccessibility = false;

QString type(const char* identifier) {
    return QString::fromLatin1(identifier);
}

// The URL strings that parse as URLs, in order, as one text/uri-list body.
QByteArray fileURLList(const QStringList& fileURLs) {
    QList<QByteArray> lines;
    for (const QString& string : fileURLs) {
        const QUrl url(string, QUrl::StrictMode);
        if (string.isEmpty() || !url.isValid()) {
            continue;
        }
        lines.append(url.toEncoded());
    }
    return lines.join("\r\n");
}

// The front window is the target's remembered window. One process may own many windows (a
// terminal server, a browser), so the process only decides when no window was remembered.
bool isTargetInFront(const RunningApplication& frontmost, const RunningApplication& target) {
    if (target.windowID != 0) {
        return frontmost.windowID == target.windowID;
    }
    return target.processID > 0 && frontmost.processID == target.processID;
}

} // namespace

Paster::Paster(Pasteboard& pasteboard, Workspace& workspace, KeySynthesizer& keySynthesizer,
               DesktopNotifier& notifier, Pasteboard* primarySelection, QObject* parent)
    : QObject(parent)
    , pasteboard(pasteboard)
    , workspace(workspace)
    , keySynthesizer(keySynthesizer)
    , notifier(notifier)
    , primarySelection(primarySelection) {}

std::optional<QByteArray> Paster::tiffFallback(const Clip& clip) {
    if (clip.kind != Clip::Kind::image || !clip.imageData || clip.dataUTI != type(TypeIdentifier::pdf) ||
        clip.imageData->size() > pdfTIFFSizeLimit) {
        return std::nullopt;
    }
    return ImageTranscode::tiffRepresentation(*clip.imageData);
}

PasteboardContent Paster::content(const Clip& clip, const std::optional<QByteArray>& pdfTIFF) {
    PasteboardContent content;
    switch (clip.kind) {
    case Clip::Kind::file: {
        const QByteArray urls = fileURLList(clip.fileURLs);
        if (!urls.isEmpty()) {
            content.entries.append({type(TypeIdentifier::fileURL), urls});
        }
        break;
    }
    case Clip::Kind::image: {
        if (!clip.imageData) {
            break;
        }
        const QString mainType = clip.dataUTI.value_or(type(TypeIdentifier::png));
        content.entries.append({mainType, *clip.imageData});
        if (mainType != type(TypeIdentifier::tiff) && pdfTIFF) {
            content.entries.append({type(TypeIdentifier::tiff), *pdfTIFF});
        }
        break;
    }
    case Clip::Kind::text:
    case Clip::Kind::richText:
    case Clip::Kind::unknown:
        content.entries.append(
            {type(TypeIdentifier::plainText), clip.plainText.value_or(QString()).toUtf8()});
        if (clip.richTextData) {
            content.entries.append({type(TypeIdentifier::rtf), *clip.richTextData});
        }
        // A rich editor takes the HTML (with its formatting) before the text.
        if (clip.htmlData) {
            content.entries.append({type(TypeIdentifier::html), *clip.htmlData});
        }
        // The marker asks other clipboard tools (and this application's own capture) to skip it.
        if (clip.concealed) {
            content.entries.append({type(TypeIdentifier::concealedMarker), QByteArray()});
        }
        break;
    }
    return content;
}

void Paster::paste(const Clip& clip, const std::optional<QByteArray>& pdfTIFF,
                   const std::optional<RunningApplication>& target) {
    const PasteboardContent written = content(clip, pdfTIFF);
    pasteboard.write(written);
    setLastWrittenChangeCount(pasteboard.changeCount());

    if (keySynthesizer.isTrusted()) {
        if (target && !workspace.isActive(*target)) {
            workspace.activate(*target);
        }
        sendPaste(written, target, 0);
        return;
    }
    // Without key synthesis the clip stays on the clipboard for the user to paste by hand; they are
    // told so once per process.
    if (!promptedForAccessibility) {
        promptedForAccessibility = true;
        notifier.notify(tr("Automatic paste is unavailable"),
                        tr("The clip is on the clipboard; press Ctrl+V to paste it."));
    }
}

PasteKeystroke Paster::keystrokeFor(const std::optional<RunningApplication>& application) {
    if (!application) {
        return PasteKeystroke::controlV;
    }
    return PasteKeyTable::keystrokeFor(application->windowClass, application->windowInstance);
}

void Paster::resetAccessibilityPromptForTesting() {
    promptedForAccessibility = false;
}

void Paster::sendPaste(const PasteboardContent& content, const std::optional<RunningApplication>& target,
                       int attempt) {
    if (!target) {
        postPaste(content, target);
        return;
    }
    const std::optional<RunningApplication> frontmost = workspace.frontmostApplication();
    if (frontmost && isTargetInFront(*frontmost, *target)) {
        postPaste(content, target);
        return;
    }
    if (workspace.isActive(*target) || attempt >= maximumActivationChecks) {
        postPaste(content, target);
        return;
    }
    // The timer is tied to this object, so a re-check never runs after the Paster is gone. The
    // content's bytes are shared with the clipboard's copy, not duplicated.
    QTimer::singleShot(activationCheckIntervalMilliseconds, this,
                       [this, content, target, attempt] { sendPaste(content, target, attempt + 1); });
}

void Paster::postPaste(const PasteboardContent& content, const std::optional<RunningApplication>& target) {
    // The keys go to whichever application is in front now; that is normally the target, but a
    // target that never came forward leaves the keystroke to the frontmost one.
    std::optional<RunningApplication> receiver = workspace.frontmostApplication();
    if (!receiver) {
        receiver = target;
    }
    const PasteKeystroke keystroke = keystrokeFor(receiver);
    if (keystroke == PasteKeystroke::shiftInsert) {
        // This receiver pastes the primary selection. Its change is not the clipboard's, so the
        // monitor (which watches the clipboard only) never sees it as a copy.
        if (primarySelection) {
            primarySelection->write(content);
        } else {
            qCWarning(lcPaste) << "No primary selection to paste from; Shift+Insert pastes what it holds";
        }
    }
    qCDebug(lcPaste) << "Posting the paste keystroke" << PasteKeyTable::text(keystroke);
    keySynthesizer.postPaste(keystroke);
}

} // namespace snipjar
