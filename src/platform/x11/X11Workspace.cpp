#include "platform/x11/X11Workspace.h"
#include "platform/x11/XcbMemory.h"

#include "platform/LogCategories.h"
#include "platform/x11/DesktopEntryIndexCache.h"
#include "platform/x11/XcbConnection.h"

#include <QCoreApplication>

#include <xcb/res.h>
#include <xcb/xcb_icccm.h>

#include <cstdlib>
#include <memory>

namespace snipjar {

namespace {

// The first CARDINAL or WINDOW value of a 32-bit property, or none.
std::optional<quint32> cardinalProperty(xcb_connection_t* connection, xcb_window_t window,
                                        xcb_atom_t property, xcb_atom_t type) {
    if (property == XCB_ATOM_NONE) {
        return std::nullopt;
    }
    XcbReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        connection, xcb_get_property(connection, 0, window, property, type, 0, 1), nullptr));
    if (!reply || reply->format != 32 || xcb_get_property_value_length(reply.get()) < 4) {
        return std::nullopt;
    }
    return *static_cast<const quint32*>(xcb_get_property_value(reply.get()));
}

} // namespace

X11Workspace::X11Workspace(XcbConnection& connection)
    : connection(connection)
    , ownProcessID(QCoreApplication::applicationPid())
    , desktopEntries(std::make_unique<DesktopEntryIndexCache>()) {}

X11Workspace::~X11Workspace() = default;

std::optional<RunningApplication> X11Workspace::frontmostApplication() {
    const xcb_window_t window = activeWindow();
    if (window == XCB_WINDOW_NONE) {
        return std::nullopt;
    }
    std::optional<RunningApplication> application = describeWindow(window);
    if (!application || application->processID == ownProcessID) {
        return std::nullopt;
    }
    return application;
}

std::optional<RunningApplication> X11Workspace::application(qint64 processID) {
    if (processID <= 0) {
        return std::nullopt;
    }
    // The active window first, so that the application's front window is the one remembered.
    const xcb_window_t active = activeWindow();
    if (active != XCB_WINDOW_NONE && processIDOfWindow(active) == processID) {
        return describeWindow(active);
    }
    xcb_connection_t* c = connection.get();
    const xcb_atom_t clientList = connection.atom("_NET_CLIENT_LIST");
    XcbReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        c, xcb_get_property(c, 0, connection.root(), clientList, XCB_ATOM_WINDOW, 0, 16384), nullptr));
    if (!reply || reply->format != 32) {
        return std::nullopt;
    }
    const auto* windows = static_cast<const xcb_window_t*>(xcb_get_property_value(reply.get()));
    const int count = xcb_get_property_value_length(reply.get()) / 4;
    // The client list is in mapping order; the newest window is the likeliest to be in use.
    for (int i = count - 1; i >= 0; --i) {
        if (processIDOfWindow(windows[i]) == processID) {
            return describeWindow(windows[i]);
        }
    }
    return std::nullopt;
}

void X11Workspace::activate(const RunningApplication& application) {
    xcb_window_t window = xcb_window_t(application.windowID);
    if (window == XCB_WINDOW_NONE) {
        if (auto found = this->application(application.processID)) {
            window = xcb_window_t(found->windowID);
        }
    }
    if (window == XCB_WINDOW_NONE) {
        return;
    }
    // Source indication 2 says the request comes from a pager-like tool acting for the user, which
    // window managers honour without focus-stealing prevention.
    xcb_client_message_event_t event = {};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = connection.atom("_NET_ACTIVE_WINDOW");
    event.data.data32[0] = 2;
    event.data.data32[1] = XCB_CURRENT_TIME;
    event.data.data32[2] = XCB_WINDOW_NONE;
    xcb_send_event(connection.get(), 0, connection.root(),
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&event));
    connection.flush();
}

bool X11Workspace::isActive(const RunningApplication& application) {
    const xcb_window_t window = activeWindow();
    if (window == XCB_WINDOW_NONE) {
        return false;
    }
    // Another window of the same process in front (a second terminal of one terminal server) is
    // not the remembered window; the process decides only when no window was remembered.
    if (application.windowID != 0) {
        return window == application.windowID;
    }
    return application.processID > 0 && processIDOfWindow(window) == application.processID;
}

bool X11Workspace::isMouseButtonHeld() {
    xcb_connection_t* c = connection.get();
    XcbReply<xcb_query_pointer_reply_t> pointer(
        xcb_query_pointer_reply(c, xcb_query_pointer(c, connection.root()), nullptr));
    constexpr uint16_t buttons = XCB_BUTTON_MASK_1 | XCB_BUTTON_MASK_2 | XCB_BUTTON_MASK_3;
    return pointer && (pointer->mask & buttons) != 0;
}

xcb_window_t X11Workspace::activeWindow() {
    discardQueuedEvents();
    return cardinalProperty(connection.get(), connection.root(), connection.atom("_NET_ACTIVE_WINDOW"),
                            XCB_ATOM_WINDOW)
        .value_or(XCB_WINDOW_NONE);
}

std::optional<RunningApplication> X11Workspace::describeWindow(xcb_window_t window) {
    xcb_connection_t* c = connection.get();
    RunningApplication application;
    application.windowID = window;
    application.processID = processIDOfWindow(window);

    xcb_icccm_get_wm_class_reply_t wmClass;
    if (xcb_icccm_get_wm_class_reply(c, xcb_icccm_get_wm_class(c, window), &wmClass, nullptr)) {
        application.windowClass = QString::fromLocal8Bit(wmClass.class_name ? wmClass.class_name : "");
        application.windowInstance =
            QString::fromLocal8Bit(wmClass.instance_name ? wmClass.instance_name : "");
        xcb_icccm_get_wm_class_reply_wipe(&wmClass);
    }
    if (application.processID <= 0 && application.windowClass.isEmpty()) {
        // Neither a process nor a class: a window nobody can be activated by name.
        return std::nullopt;
    }
    if (auto entry = desktopEntries->entryForWindowClass(application.windowClass)) {
        application.bundleID = entry->id;
        application.name = entry->name;
    } else {
        application.bundleID = application.windowClass;
        application.name = application.windowClass;
    }
    return application;
}

qint64 X11Workspace::processIDOfWindow(xcb_window_t window) {
    xcb_connection_t* c = connection.get();
    if (auto pid = cardinalProperty(c, window, connection.atom("_NET_WM_PID"), XCB_ATOM_CARDINAL);
        pid && *pid > 0) {
        return *pid;
    }
    // Clients that do not set _NET_WM_PID (xterm without a window manager's help, some toolkits)
    // are identified by the server itself.
    xcb_res_client_id_spec_t clientQuery = {window, XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID};
    XcbReply<xcb_res_query_client_ids_reply_t> reply(
        xcb_res_query_client_ids_reply(c, xcb_res_query_client_ids(c, 1, &clientQuery), nullptr));
    if (!reply) {
        return 0;
    }
    for (auto it = xcb_res_query_client_ids_ids_iterator(reply.get()); it.rem > 0;
         xcb_res_client_id_value_next(&it)) {
        if ((it.data->spec.mask & XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID) &&
            xcb_res_client_id_value_value_length(it.data) >= 1) {
            return *xcb_res_client_id_value_value(it.data);
        }
    }
    return 0;
}

void X11Workspace::discardQueuedEvents() {
    // No events are selected on this connection, but errors of unchecked requests arrive as
    // events; dropping them keeps the queue from growing.
    while (xcb_generic_event_t* event = xcb_poll_for_event(connection.get())) {
        std::free(event);
    }
}

} // namespace snipjar
