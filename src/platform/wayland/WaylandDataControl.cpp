#include "platform/wayland/WaylandDataControl.h"

#include "platform/LogCategories.h"
#include "platform/PrivateModule.h"
#include "platform/wayland/WaylandModule.h"

namespace snipjar {

namespace {

// Loaded the first time a Wayland display is named, and kept; none when it cannot be loaded (a
// damaged installation, said once in the log).
const WaylandModule* waylandModule() {
    static const WaylandModule* const module = PrivateModule::interface<WaylandModule>(
        PrivateModule::candidates(QStringLiteral(SNIPJAR_WAYLAND_MODULE_FROM_PROGRAM),
                                  QStringLiteral(SNIPJAR_WAYLAND_MODULE_BUILD_FILE),
                                  QStringLiteral(SNIPJAR_WAYLAND_MODULE_INSTALLED_FILE)),
        SNIPJAR_WAYLAND_MODULE_ENTRY, lcPlatform(), "The Wayland module cannot be loaded; X11 is used.");
    return module;
}

} // namespace

bool WaylandDataControl::isOffered(Selection selection) {
    if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        return false;
    }
    const WaylandModule* module = waylandModule();
    return module && module->isOffered(selection);
}

std::unique_ptr<WaylandDataControl> WaylandDataControl::open(Selection selection, ChangeHandler onChange,
                                                             LostHandler onLost) {
    if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        return nullptr;
    }
    const WaylandModule* module = waylandModule();
    return module ? module->open(selection, std::move(onChange), std::move(onLost)) : nullptr;
}

} // namespace snipjar
