#pragma once

#include "platform/PlatformServices.h"

#include <memory>

namespace snipjar {

class LogindWakeWatcher;
class XcbConnection;

// The X11 implementations of the platform services, created together at start-up. Create and use
// it on the main thread.
class X11Platform final : public PlatformServices {
    Q_OBJECT
public:
    // None when no X display can be opened.
    static std::unique_ptr<X11Platform> create();
    // The services go before the connection they share.
    ~X11Platform() override;

    // The workspace and the key synthesizer share this request-only connection; the hot keys and
    // the clipboard read events and have connections of their own.
    std::unique_ptr<XcbConnection> connection;
    // logind's sleep announcements on the system bus, passed on as didWake().
    std::unique_ptr<LogindWakeWatcher> wakeWatcher;

    // True when a compositing manager runs on the default screen (it owns _NET_WM_CM_Sn), so
    // windows may be translucent. One round trip.
    bool isCompositing() const override;
    QString backendName() const override { return QStringLiteral("X11"); }

    // The primary selection (the text selected with the mouse), read on connections of its own;
    // made only while selected text is recorded. None when it cannot be watched.
    std::unique_ptr<Pasteboard> createPrimarySelection() const override;

private:
    X11Platform();
};

} // namespace snipjar
