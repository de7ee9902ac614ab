#include "platform/wayland/WaylandModule.h"

#include "platform/LogCategories.h"
#include "platform/PrivateModule.h"

namespace snipjar {

const WaylandModule* WaylandModule::load() {
    static const WaylandModule* const module = PrivateModule::interface<WaylandModule>(
        PrivateModule::candidates(QStringLiteral(SNIPJAR_WAYLAND_MODULE_FROM_PROGRAM),
                                  QStringLiteral(SNIPJAR_WAYLAND_MODULE_BUILD_FILE),
                                  QStringLiteral(SNIPJAR_WAYLAND_MODULE_INSTALLED_FILE)),
        SNIPJAR_WAYLAND_MODULE_ENTRY, lcPlatform(), "The Wayland module cannot be loaded; X11 is used.");
    return module;
}

std::unique_ptr<WaylandSeatControl> WaylandSeatControl::open(LostHandler onLost) {
    if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        return nullptr;
    }
    const WaylandModule* module = WaylandModule::load();
    return module ? module->openSeat(std::move(onLost)) : nullptr;
}

std::unique_ptr<WaylandLayerShell> WaylandLayerShell::open(void* qtDisplay) {
    const WaylandModule* module = qtDisplay ? WaylandModule::load() : nullptr;
    return module ? module->openLayerShell(qtDisplay) : nullptr;
}

} // namespace snipjar
