#pragma once

#include "platform/ClipboardManagerRole.h"
#include "platform/DesktopNotifier.h"
#include "platform/GlobalHotKeys.h"
#include "platform/KeySynthesizer.h"
#include "platform/Pasteboard.h"
#include "platform/WindowLayers.h"
#include "platform/Workspace.h"

#include <QObject>

#include <memory>

namespace snipjar {

// The platform services the application runs on, created together at start-up: the X11 ones
// (X11Platform) or fakes for tests. Create and use it on the main thread.
class PlatformServices : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~PlatformServices() override = default;

    std::unique_ptr<Workspace> workspace;
    std::unique_ptr<KeySynthesizer> keySynthesizer;
    std::unique_ptr<GlobalHotKeys> globalHotKeys;
    std::unique_ptr<DesktopNotifier> desktopNotifier;
    std::unique_ptr<Pasteboard> pasteboard;
    // PRIMARY, the text selected with the mouse: written for terminals that paste only from it;
    // none when it could not be opened (pasting there then falls back to what PRIMARY holds).
    std::unique_ptr<Pasteboard> primarySelection;
    // The desktop's clipboard-manager role; none when it cannot be offered.
    std::unique_ptr<ClipboardManagerRole> clipboardManager;
    // Windows as layers of the desktop, for the panel; none where the window system has no such
    // thing (X11, a Wayland compositor without the layer shell).
    std::unique_ptr<WindowLayers> windowLayers;

    // "X11" or "Wayland": what the settings window names.
    virtual QString backendName() const { return {}; }
    // True when windows may be translucent (a compositing manager runs).
    virtual bool isCompositing() const = 0;
    // A pasteboard of its own over the primary selection for recording selected text: it reads
    // afresh every time, to see whether a selection still grows. None when it cannot be watched.
    virtual std::unique_ptr<Pasteboard> createPrimarySelection() const = 0;

signals:
    // The display went away and no new connection to it could be opened; nothing here works any
    // longer.
    void displayLost();
    // The computer woke from sleep (never emitted where that cannot be watched).
    void didWake();
};

} // namespace snipjar
