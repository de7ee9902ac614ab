#pragma once

#include "model/Clip.h"
#include "platform/KeySynthesizer.h"
#include "platform/Pasteboard.h"
#include "platform/Workspace.h"

#include <QByteArray>
#include <QObject>

#include <optional>

namespace snipjar {

class DesktopNotifier;

// Puts a clip back on the clipboard and, when keys may be synthesised, brings the target
// application to the front and types the paste keystroke into it. It records the change count of
// its own write (lastWrittenChangeCount) so that the clipboard monitor does not capture the pasted
// clip again. Apart from that value and the one-time notice it keeps no state; the object only
// bundles the platform services and owns the pending activation re-checks. Main thread only.
class Paster : public QObject {
    Q_OBJECT
public:
    static constexpr qint64 pdfTIFFSizeLimit = 5'000'000;
    static constexpr int maximumActivationChecks = 15;
    static constexpr int activationCheckIntervalMilliseconds = 20;

    // The primary selection (none when the platform has none) is written only for a target that
    // pastes from it (Shift+Insert).
    Paster(Pasteboard& pasteboard, Workspace& workspace, KeySynthesizer& keySynthesizer,
           DesktopNotifier& notifier, Pasteboard* primarySelection = nullptr, QObject* parent = nullptr);

    // A TIFF companion for a PDF image of at most 5,000,000 bytes, since many applications accept a
    // bitmap but not a PDF; none in every other case or when the PDF does not render. May run on
    // any thread; call it before paste().
    static std::optional<QByteArray> tiffFallback(const Clip& clip);

    // What paste() writes for a clip, in clipboard order.
    static PasteboardContent content(const Clip& clip, const std::optional<QByteArray>& pdfTIFF);

    // Writes the clip, records the change count, then either activates the target and types the
    // paste keystroke, or (when keys cannot be synthesised) shows the one-time notice. The target
    // is the application that was frontmost before the panel or menu opened. When the window that
    // gets the keystroke pastes with Shift+Insert, the same content goes to the primary selection
    // right before it.
    void paste(const Clip& clip, const std::optional<QByteArray>& pdfTIFF,
               const std::optional<RunningApplication>& target);

    // The PasteKeyTable's keystroke for the application's window class, else for its instance
    // name; Ctrl+V without an application.
    static PasteKeystroke keystrokeFor(const std::optional<RunningApplication>& application);

    // Lets a test start again as a fresh process would.
    static void resetAccessibilityPromptForTesting();

private:
    void sendPaste(const PasteboardContent& content, const std::optional<RunningApplication>& target,
                   int attempt);
    void postPaste(const PasteboardContent& content, const std::optional<RunningApplication>& target);

    Pasteboard& pasteboard;
    Workspace& workspace;
    KeySynthesizer& keySynthesizer;
    DesktopNotifier& notifier;
    Pasteboard* primarySelection;
};

} // namespace snipjar
