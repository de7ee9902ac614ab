#pragma once

#include "platform/wayland/WaylandDataControl.h"
#include "platform/wayland/WaylandLayerShell.h"
#include "platform/wayland/WaylandSeatControl.h"

namespace snipjar {

// What the Wayland module offers the application: the data-control client, the seat's virtual
// keyboard and toplevels, and the layer shell for the panel, with the Wayland client library (and libffi,
// which it brings) and libxkbcommon, loaded only where WAYLAND_DISPLAY is set instead of at every start.
class WaylandModule {
public:
    // Loaded the first time it is asked for, and kept; none when it cannot be loaded (a damaged
    // installation, said once in the log).
    static const WaylandModule* load();

    virtual ~WaylandModule() = default;
    virtual bool isOffered(WaylandDataControl::Selection selection) const = 0;
    virtual std::unique_ptr<WaylandDataControl> open(WaylandDataControl::Selection selection,
                                                     WaylandDataControl::ChangeHandler onChange,
                                                     WaylandDataControl::LostHandler onLost) const = 0;
    virtual std::unique_ptr<WaylandSeatControl> openSeat(WaylandSeatControl::LostHandler onLost) const = 0;
    virtual std::unique_ptr<WaylandLayerShell> openLayerShell(void* qtDisplay) const = 0;
};

} // namespace snipjar

// The module's one entry point.
extern "C" {
using SnipjarWaylandModuleEntry = const snipjar::WaylandModule* (*)();
}
#define SNIPJAR_WAYLAND_MODULE_ENTRY "snipjar_wayland_module"
