#pragma once

#include "platform/Workspace.h"

#include <xcb/xcb.h>

#include <memory>
#include <optional>

namespace snipjar {

class DesktopEntryIndexCache;
class XcbConnection;

// The frontmost application and activation through the window manager's EWMH hints: the root's
// _NET_ACTIVE_WINDOW, the window's _NET_WM_PID (or the X resource extension's client pid) and
// WM_CLASS, named after the matching desktop entry (read in the background; until the entries have
// arrived an application is named after its class). Main thread only; the connection must outlive
// this object and is used for requests only (no events are read from it).
class X11Workspace : public Workspace {
public:
    explicit X11Workspace(XcbConnection& connection);
    ~X11Workspace() override;

    std::optional<RunningApplication> frontmostApplication() override;
    std::optional<RunningApplication> application(qint64 processID) override;
    void activate(const RunningApplication& application) override;
    bool isActive(const RunningApplication& application) override;
    bool isMouseButtonHeld() override;

    // Treats the windows of another process as this application's own (tests run the "own"
    // windows in a helper process).
    void setOwnProcessID(qint64 processID) { ownProcessID = processID; }

private:
    xcb_window_t activeWindow();
    std::optional<RunningApplication> describeWindow(xcb_window_t window);
    qint64 processIDOfWindow(xcb_window_t window);
    void discardQueuedEvents();

    XcbConnection& connection;
    qint64 ownProcessID;
    std::unique_ptr<DesktopEntryIndexCache> desktopEntries;
};

} // namespace snipjar
