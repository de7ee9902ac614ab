#include "app/PlatformBackend.h"

#include "platform/LogCategories.h"
#include "platform/wayland/WaylandDataControl.h"
#include "platform/wayland/WaylandPlatform.h"
#include "platform/x11/X11Platform.h"
#include "platform/x11/XcbConnection.h"

namespace snipjar {

std::optional<PlatformBackend::Kind> PlatformBackend::choose() {
    std::optional<Kind> kind;
    if (WaylandDataControl::isOffered()) {
        kind = Kind::wayland;
    } else if (XcbConnection::open()) {
        kind = Kind::x11;
    }
    if (kind) {
        // The X11 services work with Qt's own X connection, and on Wayland the windows belong to
        // the compositor that the clipboard is watched on: Qt's plugin is never left to guess.
        qputenv("QT_QPA_PLATFORM", *kind == Kind::wayland ? "wayland" : "xcb");
        if (*kind == Kind::wayland) {
            // A window flagged to bypass the window manager gets no role from Qt's plugin, so that
            // the panel can take the layer shell's (WindowLayers); other windows are unchanged.
            qputenv("QT_WAYLAND_USE_BYPASSWINDOWMANAGERHINT", "1");
        }
        qCDebug(lcPlatform) << "Running on" << name(*kind);
    }
    return kind;
}

QString PlatformBackend::unavailableMessage() {
    const QString wayland = qEnvironmentVariable("WAYLAND_DISPLAY");
    if (wayland.isEmpty()) {
        return XcbConnection::unavailableMessage();
    }
    return QStringLiteral("the Wayland compositor at %1 offers no clipboard access (data control), and %2")
        .arg(wayland, XcbConnection::unavailableMessage());
}

QString PlatformBackend::name(Kind kind) {
    return kind == Kind::wayland ? QStringLiteral("Wayland") : QStringLiteral("X11");
}

std::unique_ptr<PlatformServices> PlatformBackend::create(Kind kind) {
    if (kind == Kind::wayland) {
        return WaylandPlatform::create();
    }
    return X11Platform::create();
}

} // namespace snipjar
