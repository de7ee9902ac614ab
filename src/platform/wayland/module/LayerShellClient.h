#pragma once

#include "platform/wayland/WaylandLayerShell.h"

struct wl_display;
struct wl_event_queue;
struct zwlr_layer_shell_v1;

namespace snipjar {

// The layer shell on Qt's Wayland connection. Its objects are made on a queue of its own, so that
// waiting for a compositor's answer never dispatches Qt's events out of turn; a layer that was
// configured moves to Qt's queue, whose events Qt dispatches on the main thread.
class LayerShellClient final : public WaylandLayerShell {
public:
    static std::unique_ptr<WaylandLayerShell> open(wl_display* qtDisplay);
    ~LayerShellClient() override;

    std::unique_ptr<Layer> place(void* surface, WindowLayers::Role role, QSize size,
                                 std::function<void()> onClosed) override;

private:
    LayerShellClient(wl_display* display, wl_event_queue* queue, zwlr_layer_shell_v1* shell);

    wl_display* display;
    wl_event_queue* queue;
    zwlr_layer_shell_v1* shell;
};

} // namespace snipjar
