#include "platform/wayland/WaylandDataControl.h"

#include "platform/wayland/WaylandModule.h"

namespace snipjar {

bool WaylandDataControl::isOffered(Selection selection) {
    if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        return false;
    }
    const WaylandModule* module = WaylandModule::load();
    return module && module->isOffered(selection);
}

std::unique_ptr<WaylandDataControl> WaylandDataControl::open(Selection selection, ChangeHandler onChange,
                                                             LostHandler onLost) {
    if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        return nullptr;
    }
    const WaylandModule* module = WaylandModule::load();
    return module ? module->open(selection, std::move(onChange), std::move(onLost)) : nullptr;
}

} // namespace snipjar
