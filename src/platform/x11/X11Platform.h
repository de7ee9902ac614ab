#pragma once

#include "platform/DesktopNotifier.h"
#include "platform/GlobalHotKeys.h"
#include "platform/KeySynthesizer.h"
#include "platform/Pasteboard.h"
#include "platform/Workspace.h"

#include <QObject>

#include <memory>

namespace snipjar {

class XcbConnection;

// The X11 implementations of the platform services, created together at start-up. Create and use
// it on the main thread.
class X11Platform : public QObject {
    Q_OBJECT
public:
    // None when no X display can be opened.
    static std::unique_ptr<X11Platform> create();
    ~X11Platform() override;

    // The workspace and the key synthesizer share this request-only connection; the hot keys and
    // the clipboard read events and have connections of their own. Declared first, so it goes last.
    std::unique_ptr<XcbConnection> connection;
    std::unique_ptr<Workspace> workspace;
    std::unique_ptr<KeySynthesizer> keySynthesizer;
    std::unique_ptr<GlobalHotKeys> globalHotKeys;
    std::unique_ptr<DesktopNotifier> desktopNotifier;
    std::unique_ptr<Pasteboard> pasteboard;

    // True when a compositing manager runs on the default screen (it owns _NET_WM_CM_Sn), so
    // windows may be translucent. One round trip.
    bool isCompositing() const;

    // The primary selection (the text selected with the mouse), read on connections of its own;
    // made only while selected text is recorded. None when it cannot be watched.
    std::unique_ptr<Pasteboard> createPrimarySelection() const;

signals:
    // The display went away and no new connection to it could be opened; nothing here works any
    // longer.
    void displayLost();

private:
    X11Platform();
};

} // namespace snipjar
