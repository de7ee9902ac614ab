#include "platform/wayland/WaylandWorkspace.h"

#include "platform/wayland/WaylandSeatControl.h"
#include "platform/x11/DesktopEntryIndexCache.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QGuiApplication>

namespace snipjar {

WaylandWorkspace::WaylandWorkspace(std::shared_ptr<WaylandSeatControl> seat)
    : seat(std::move(seat))
    , desktopEntries(std::make_unique<DesktopEntryIndexCache>()) {
    // Qt names its windows after the desktop file when the application has one, else after the
    // executable.
    ownAppIDs << QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
    if (const QString desktopFile = QGuiApplication::desktopFileName(); !desktopFile.isEmpty()) {
        ownAppIDs << desktopFile;
    }
}

WaylandWorkspace::~WaylandWorkspace() = default;

std::optional<RunningApplication> WaylandWorkspace::frontmostApplication() {
    const std::optional<WaylandSeatControl::Toplevel> active = seat->activeToplevel();
    if (!active || ownAppIDs.contains(active->appID)) {
        return std::nullopt;
    }
    RunningApplication application;
    application.windowID = active->id;
    application.windowClass = active->appID;
    if (auto entry = desktopEntries->entryForWindowClass(active->appID)) {
        application.bundleID = entry->id;
        application.name = entry->name;
    } else {
        application.bundleID = active->appID;
        application.name = active->appID.isEmpty() ? active->title : active->appID;
    }
    if (application.bundleID.isEmpty() && application.name.isEmpty()) {
        // A toplevel with neither an app id nor a title cannot be named.
        return std::nullopt;
    }
    return application;
}

std::optional<RunningApplication> WaylandWorkspace::application(qint64) {
    return std::nullopt;
}

void WaylandWorkspace::activate(const RunningApplication& application) {
    if (application.windowID != 0) {
        seat->activate(application.windowID);
    }
}

bool WaylandWorkspace::isActive(const RunningApplication& application) {
    const std::optional<WaylandSeatControl::Toplevel> active = seat->activeToplevel();
    return active && application.windowID != 0 && active->id == application.windowID;
}

} // namespace snipjar
