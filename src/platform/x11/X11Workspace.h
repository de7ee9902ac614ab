#pragma once

#include "platform/Workspace.h"
#include "platform/x11/DesktopEntryIndex.h"

#include <QElapsedTimer>

#include <xcb/xcb.h>

#include <optional>

namespace snipjar {

class XcbConnection;

// The frontmost application and activation through the window manager's EWMH hints: the root's
// _NET_ACTIVE_WINDOW, the window's _NET_WM_PID (or the X resource extension's client pid) and
// WM_CLASS, named after the matching desktop entry. Main thread only; the connection must outlive
// this object and is used for requests only (no events are read from it).
class X11Workspace : public Workspace {
public:
    explicit X11Workspace(XcbConnection& connection);

    std::optional<RunningApplication> frontmostApplication() override;
    std::optional<RunningApplication> application(qint64 processID) override;
    void activate(const RunningApplication& application) override;
    bool isActive(const RunningApplication& application) override;

    // Treats the windows of another process as this application's own (tests run the "own"
    // windows in a helper process).
    void setOwnProcessID(qint64 processID) { ownProcessID = processID; }

private:
    xcb_window_t activeWindow();
    std::optional<RunningApplication> describeWindow(xcb_window_t window);
    qint64 processIDOfWindow(xcb_window_t window);
    std::optional<DesktopEntryIndex::Entry> desktopEntry(const QString& windowClass);
    void discardQueuedEvents();

    XcbConnection& connection;
    qint64 ownProcessID;
    std::optional<DesktopEntryIndex> desktopEntries;
    QElapsedTimer desktopEntriesAge;
};

} // namespace snipjar
