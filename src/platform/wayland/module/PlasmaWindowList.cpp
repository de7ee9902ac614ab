#include "platform/wayland/module/PlasmaWindowList.h"

#include "platform/wayland/module/SeatConnection.h"

#include "plasma-window-management-client-protocol.h"

#include <wayland-client.h>

namespace snipjar {

namespace {

QString boundedName(const char* text) {
    return QString::fromUtf8(text, qMin<qsizetype>(qstrlen(text), SeatConnection::maxNameBytes));
}

} // namespace

struct PlasmaWindowList::Window {
    org_kde_plasma_window* proxy = nullptr;
    Toplevel toplevel;
    bool isActive = false;
    // Which window became active last, should KWin call two of them active for a moment.
    quint64 activeOrder = 0;
};

std::unique_ptr<PlasmaWindowList> PlasmaWindowList::bind(wl_registry* registry, uint32_t name,
                                                         uint32_t version) {
    static const org_kde_plasma_window_management_listener listener{
        [](void*, org_kde_plasma_window_management*, uint32_t) {},
        // The windows are taken up by uuid; the same window announced by number is left alone.
        [](void*, org_kde_plasma_window_management*, uint32_t) {},
        [](void*, org_kde_plasma_window_management*, wl_array*) {},
        [](void*, org_kde_plasma_window_management*, const char*) {}, &handleWindow};
    if (version < ORG_KDE_PLASMA_WINDOW_MANAGEMENT_WINDOW_WITH_UUID_SINCE_VERSION) {
        return nullptr;
    }
    auto* manager = static_cast<org_kde_plasma_window_management*>(
        wl_registry_bind(registry, name, &org_kde_plasma_window_management_interface,
                         std::min<uint32_t>(version, org_kde_plasma_window_management_interface.version)));
    std::unique_ptr<PlasmaWindowList> list(new PlasmaWindowList(manager));
    org_kde_plasma_window_management_add_listener(manager, &listener, list.get());
    return list;
}

PlasmaWindowList::PlasmaWindowList(org_kde_plasma_window_management* manager)
    : manager_(manager) {}

PlasmaWindowList::~PlasmaWindowList() {
    for (Window* window : std::as_const(windows_)) {
        org_kde_plasma_window_destroy(window->proxy);
        delete window;
    }
    wl_proxy_destroy(reinterpret_cast<wl_proxy*>(manager_));
}

void PlasmaWindowList::handleWindow(void* data, org_kde_plasma_window_management* manager, uint32_t,
                                    const char* uuid) {
    static const org_kde_plasma_window_listener listener{
        &handleTitle,
        &handleAppID,
        &handleState,
        [](void*, org_kde_plasma_window*, int32_t) {},
        [](void*, org_kde_plasma_window*, const char*) {},
        &handleUnmapped,
        [](void*, org_kde_plasma_window*) {},
        [](void*, org_kde_plasma_window*, org_kde_plasma_window*) {},
        [](void*, org_kde_plasma_window*, int32_t, int32_t, uint32_t, uint32_t) {},
        [](void*, org_kde_plasma_window*) {},
        [](void*, org_kde_plasma_window*, uint32_t) {},
        [](void*, org_kde_plasma_window*, const char*) {},
        [](void*, org_kde_plasma_window*, const char*) {},
        [](void*, org_kde_plasma_window*, const char*, const char*) {},
        [](void*, org_kde_plasma_window*, const char*) {},
        [](void*, org_kde_plasma_window*, const char*) {},
        [](void*, org_kde_plasma_window*, const char*) {}};
    auto* self = static_cast<PlasmaWindowList*>(data);
    std::lock_guard lock(self->mutex_);
    if (self->windows_.size() >= SeatConnection::maxToplevels) {
        return;
    }
    org_kde_plasma_window* proxy = org_kde_plasma_window_management_get_window_by_uuid(manager, uuid);
    org_kde_plasma_window_add_listener(proxy, &listener, self);
    self->windows_.insert(proxy, new Window{proxy, {self->nextID_++, {}, {}}});
}

void PlasmaWindowList::handleTitle(void* data, org_kde_plasma_window* proxy, const char* title) {
    auto* self = static_cast<PlasmaWindowList*>(data);
    std::lock_guard lock(self->mutex_);
    if (Window* window = self->windows_.value(proxy)) {
        window->toplevel.title = boundedName(title);
    }
}

void PlasmaWindowList::handleAppID(void* data, org_kde_plasma_window* proxy, const char* appID) {
    auto* self = static_cast<PlasmaWindowList*>(data);
    std::lock_guard lock(self->mutex_);
    if (Window* window = self->windows_.value(proxy)) {
        window->toplevel.appID = boundedName(appID);
    }
}

void PlasmaWindowList::handleState(void* data, org_kde_plasma_window* proxy, uint32_t flags) {
    auto* self = static_cast<PlasmaWindowList*>(data);
    const bool isActive = (flags & ORG_KDE_PLASMA_WINDOW_MANAGEMENT_STATE_ACTIVE) != 0;
    std::lock_guard lock(self->mutex_);
    if (Window* window = self->windows_.value(proxy)) {
        if (isActive && !window->isActive) {
            window->activeOrder = self->nextID_++;
        }
        window->isActive = isActive;
    }
}

void PlasmaWindowList::handleUnmapped(void* data, org_kde_plasma_window* proxy) {
    auto* self = static_cast<PlasmaWindowList*>(data);
    std::lock_guard lock(self->mutex_);
    delete self->windows_.take(proxy);
    org_kde_plasma_window_destroy(proxy);
}

std::optional<WaylandSeatControl::Toplevel> PlasmaWindowList::activeToplevel() {
    std::lock_guard lock(mutex_);
    const Window* active = nullptr;
    for (const Window* window : std::as_const(windows_)) {
        if (window->isActive && (!active || window->activeOrder > active->activeOrder)) {
            active = window;
        }
    }
    return active ? std::optional<Toplevel>(active->toplevel) : std::nullopt;
}

std::optional<WaylandSeatControl::Toplevel> PlasmaWindowList::toplevel(quint64 id) {
    std::lock_guard lock(mutex_);
    for (const Window* window : std::as_const(windows_)) {
        if (window->toplevel.id == id) {
            return window->toplevel;
        }
    }
    return std::nullopt;
}

bool PlasmaWindowList::activate(quint64 id) {
    std::lock_guard lock(mutex_);
    for (const Window* window : std::as_const(windows_)) {
        if (window->toplevel.id == id) {
            org_kde_plasma_window_set_state(window->proxy, ORG_KDE_PLASMA_WINDOW_MANAGEMENT_STATE_ACTIVE,
                                            ORG_KDE_PLASMA_WINDOW_MANAGEMENT_STATE_ACTIVE);
            return true;
        }
    }
    return false;
}

} // namespace snipjar
