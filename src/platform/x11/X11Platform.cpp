#include "platform/x11/X11Platform.h"

#include "platform/LogCategories.h"
#include "platform/x11/LogindWakeWatcher.h"
#include "platform/x11/X11ClipboardManager.h"
#include "platform/x11/X11DesktopNotifier.h"
#include "platform/x11/X11GlobalHotKeys.h"
#include "platform/x11/X11KeySynthesizer.h"
#include "platform/x11/X11Pasteboard.h"
#include "platform/x11/X11Workspace.h"
#include "platform/x11/XcbConnection.h"
#include "platform/x11/XcbMemory.h"

namespace snipjar {

X11Platform::X11Platform() = default;

X11Platform::~X11Platform() {
    wakeWatcher.reset();
    clipboardManager.reset();
    primarySelection.reset();
    pasteboard.reset();
    desktopNotifier.reset();
    globalHotKeys.reset();
    keySynthesizer.reset();
    workspace.reset();
}

bool X11Platform::isCompositing() const {
    xcb_connection_t* c = connection->get();
    int screenNumber = 0;
    for (xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c)); it.rem;
         xcb_screen_next(&it)) {
        if (it.data->root == connection->root()) {
            break;
        }
        ++screenNumber;
    }
    const xcb_atom_t selection = connection->atom("_NET_WM_CM_S" + QByteArray::number(screenNumber));
    XcbReply<xcb_get_selection_owner_reply_t> owner(
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, selection), nullptr));
    return owner && owner->owner != XCB_WINDOW_NONE;
}

std::unique_ptr<Pasteboard> X11Platform::createPrimarySelection() const {
    std::unique_ptr<X11Pasteboard> selection = X11Pasteboard::create(nullptr, "PRIMARY");
    if (selection) {
        // The monitor re-reads the selection to see whether it still grows.
        selection->setKeepsValuesBetweenCaptures(false);
    }
    return selection;
}

std::unique_ptr<X11Platform> X11Platform::create() {
    std::unique_ptr<XcbConnection> connection = XcbConnection::open();
    std::unique_ptr<XcbConnection> hotKeyConnection = XcbConnection::open();
    if (!connection || !hotKeyConnection) {
        qCDebug(lcPlatform) << "No X display could be opened";
        return nullptr;
    }
    std::unique_ptr<X11Pasteboard> pasteboard = X11Pasteboard::create();
    if (!pasteboard) {
        qCWarning(lcPlatform) << "The X display offers no clipboard monitoring";
        return nullptr;
    }
    std::unique_ptr<X11Platform> platform(new X11Platform());
    platform->pasteboard = std::move(pasteboard);
    platform->primarySelection = X11Pasteboard::create(nullptr, "PRIMARY");
    if (!platform->primarySelection) {
        qCWarning(lcPlatform) << "The primary selection could not be opened";
    }
    platform->workspace = std::make_unique<X11Workspace>(*connection);
    platform->keySynthesizer = std::make_unique<X11KeySynthesizer>(*connection);
    platform->connection = std::move(connection);
    auto globalHotKeys = std::make_unique<X11GlobalHotKeys>(std::move(hotKeyConnection));
    // The hot keys are the one part that listens to the display all the time, so they notice first.
    QObject::connect(globalHotKeys.get(), &X11GlobalHotKeys::connectionLost, platform.get(),
                     &X11Platform::displayLost);
    platform->globalHotKeys = std::move(globalHotKeys);
    platform->desktopNotifier = std::make_unique<X11DesktopNotifier>();
    platform->clipboardManager = X11ClipboardManager::create();
    platform->wakeWatcher = std::make_unique<LogindWakeWatcher>();
    QObject::connect(platform->wakeWatcher.get(), &LogindWakeWatcher::didWake, platform.get(),
                     &X11Platform::didWake);
    return platform;
}

} // namespace snipjar
