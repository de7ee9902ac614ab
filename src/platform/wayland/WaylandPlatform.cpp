#include "platform/wayland/WaylandPlatform.h"

#include "platform/LogCategories.h"
#include "platform/UnavailableServices.h"
#include "platform/wayland/PortalGlobalHotKeys.h"
#include "platform/wayland/PortalKeySynthesizer.h"
#include "platform/wayland/WaylandKeySynthesizer.h"
#include "platform/wayland/WaylandPasteboard.h"
#include "platform/wayland/WaylandSeatControl.h"
#include "platform/wayland/WaylandWindowLayers.h"
#include "platform/wayland/WaylandWorkspace.h"
#include "platform/x11/LogindWakeWatcher.h"
#include "platform/x11/X11DesktopNotifier.h"

namespace snipjar {

WaylandPlatform::WaylandPlatform() = default;

WaylandPlatform::~WaylandPlatform() {
    wakeWatcher.reset();
    primarySelection.reset();
    pasteboard.reset();
}

std::unique_ptr<Pasteboard> WaylandPlatform::createPrimarySelection() const {
    std::unique_ptr<WaylandPasteboard> selection =
        WaylandPasteboard::create(WaylandDataControl::Selection::primary);
    if (selection) {
        // The monitor re-reads the selection to see whether it still grows.
        selection->setKeepsValuesBetweenCaptures(false);
    }
    return selection;
}

std::unique_ptr<WaylandPlatform> WaylandPlatform::create() {
    std::unique_ptr<WaylandPasteboard> clipboard = WaylandPasteboard::create();
    if (!clipboard) {
        return nullptr;
    }
    std::unique_ptr<WaylandPlatform> platform(new WaylandPlatform());
    // The clipboard's connection is the one that listens to the compositor all the time, so it
    // notices first that the compositor went.
    QObject::connect(clipboard.get(), &WaylandPasteboard::connectionLost, platform.get(),
                     &WaylandPlatform::displayLost);
    platform->pasteboard = std::move(clipboard);
    platform->primarySelection = WaylandPasteboard::create(WaylandDataControl::Selection::primary);
    if (!platform->primarySelection) {
        qCInfo(lcPlatform) << "The compositor offers no primary selection to clipboard managers";
    }
    platform->windowLayers = WaylandWindowLayers::create();
    // The keyboard and the toplevels where the compositor offers them (wlroots, KWin); a broken
    // connection there is noticed by the clipboard's too.
    const std::shared_ptr<WaylandSeatControl> seat = WaylandSeatControl::open();
    if (seat && seat->knowsToplevels()) {
        platform->workspace = std::make_unique<WaylandWorkspace>(seat);
    } else {
        qCInfo(lcPlatform) << "The compositor does not tell which window is in front";
        platform->workspace = std::make_unique<UnavailableWorkspace>();
    }
    if (seat && seat->canType()) {
        platform->keySynthesizer = std::make_unique<WaylandKeySynthesizer>(seat);
    } else {
        qCInfo(lcPlatform)
            << "The compositor lets this program type nowhere itself (no virtual keyboard, no "
               "fake input granted by its desktop entry): the desktop portal's remote keyboard "
               "types where it is offered, else clips are pasted by hand";
        platform->keySynthesizer = std::make_unique<PortalKeySynthesizer>();
    }
    // The desktop runs the hot key's command, unless its portal offers global shortcuts.
    platform->globalHotKeys = std::make_unique<PortalGlobalHotKeys>();
    // Notifications go over the session bus, on any desktop.
    platform->desktopNotifier = std::make_unique<X11DesktopNotifier>();
    platform->wakeWatcher = std::make_unique<LogindWakeWatcher>();
    QObject::connect(platform->wakeWatcher.get(), &LogindWakeWatcher::didWake, platform.get(),
                     &WaylandPlatform::didWake);
    return platform;
}

} // namespace snipjar
