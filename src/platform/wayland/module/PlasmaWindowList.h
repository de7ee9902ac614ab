#pragma once

#include "platform/wayland/WaylandSeatControl.h"

#include <QHash>

#include <memory>
#include <mutex>

struct org_kde_plasma_window;
struct org_kde_plasma_window_management;
struct wl_registry;

namespace snipjar {

// The toplevels as KWin tells them (org_kde_plasma_window_management), for the seat client where
// the compositor has no wlroots toplevel list. KWin offers it only to programs whose desktop entry
// asks for it (X-KDE-Wayland-Interfaces), so that it is missing is the common case.
//
// Its events arrive on the seat connection's thread; the queries and the activation come from any
// thread and answer from what was learnt, under a mutex of its own. Requests are not flushed here:
// the seat connection flushes and wakes its thread.
class PlasmaWindowList final {
public:
    using Toplevel = WaylandSeatControl::Toplevel;

    // The window list bound from the registry, or none when the compositor's is too old to name
    // its windows by uuid.
    static std::unique_ptr<PlasmaWindowList> bind(wl_registry* registry, uint32_t name, uint32_t version);
    ~PlasmaWindowList();
    PlasmaWindowList(const PlasmaWindowList&) = delete;
    PlasmaWindowList& operator=(const PlasmaWindowList&) = delete;

    std::optional<Toplevel> activeToplevel();
    std::optional<Toplevel> toplevel(quint64 id);
    // Asks KWin to make the window active; false when it is gone.
    bool activate(quint64 id);

private:
    struct Window;

    explicit PlasmaWindowList(org_kde_plasma_window_management* manager);

    static void handleWindow(void* data, org_kde_plasma_window_management* manager, uint32_t id,
                             const char* uuid);
    static void handleTitle(void* data, org_kde_plasma_window* proxy, const char* title);
    static void handleAppID(void* data, org_kde_plasma_window* proxy, const char* appID);
    static void handleState(void* data, org_kde_plasma_window* proxy, uint32_t flags);
    static void handleUnmapped(void* data, org_kde_plasma_window* proxy);

    org_kde_plasma_window_management* manager_ = nullptr;
    std::mutex mutex_;
    QHash<org_kde_plasma_window*, Window*> windows_;
    quint64 nextID_ = 1;
};

} // namespace snipjar
