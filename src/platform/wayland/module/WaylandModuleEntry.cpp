#include "platform/wayland/WaylandModule.h"
#include "platform/wayland/module/DataControlConnection.h"
#include "platform/wayland/module/LayerShellClient.h"
#include "platform/wayland/module/SeatConnection.h"

namespace snipjar {

namespace {

class DataControlClients final : public WaylandModule {
public:
    bool isOffered(WaylandDataControl::Selection selection) const override {
        return DataControlConnection::isOffered(selection);
    }
    std::unique_ptr<WaylandDataControl> open(WaylandDataControl::Selection selection,
                                             WaylandDataControl::ChangeHandler onChange,
                                             WaylandDataControl::LostHandler onLost) const override {
        return DataControlConnection::open(selection, std::move(onChange), std::move(onLost));
    }
    std::unique_ptr<WaylandSeatControl> openSeat(WaylandSeatControl::LostHandler onLost) const override {
        return SeatConnection::open(std::move(onLost));
    }
    std::unique_ptr<WaylandLayerShell> openLayerShell(void* qtDisplay) const override {
        return LayerShellClient::open(static_cast<wl_display*>(qtDisplay));
    }
};

} // namespace

} // namespace snipjar

extern "C" Q_DECL_EXPORT const snipjar::WaylandModule* snipjar_wayland_module() {
    static const snipjar::DataControlClients module;
    return &module;
}
