#pragma once

#include "platform/Workspace.h"

#include <QStringList>

#include <memory>

namespace snipjar {

class DesktopEntryIndexCache;
class WaylandSeatControl;

// The front application and activation on a compositor that lists its toplevels (wlroots): the
// activated toplevel, named by its app id, which is the desktop-entry id for most programs (looked
// up in the desktop entries like an X11 window class, so terminals are recognised by the same
// table). The compositor tells no process ids: an application is known by its toplevel, and
// application(processID) knows none. This program's own toplevels (the panel, the settings) never
// count as the front application. Main thread only; answers from what the seat's connection has
// learnt, without waiting.
class WaylandWorkspace final : public Workspace {
public:
    explicit WaylandWorkspace(std::shared_ptr<WaylandSeatControl> seat);
    ~WaylandWorkspace() override;

    std::optional<RunningApplication> frontmostApplication() override;
    std::optional<RunningApplication> application(qint64 processID) override;
    void activate(const RunningApplication& application) override;
    bool isActive(const RunningApplication& application) override;
    // The compositor tells no program about the pointer elsewhere.
    bool isMouseButtonHeld() override { return false; }

private:
    std::shared_ptr<WaylandSeatControl> seat;
    // The app ids Qt gives this program's own windows.
    QStringList ownAppIDs;
    std::unique_ptr<DesktopEntryIndexCache> desktopEntries;
};

} // namespace snipjar
