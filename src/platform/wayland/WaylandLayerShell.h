#pragma once

#include "platform/WindowLayers.h"

#include <QSize>

#include <functional>
#include <memory>

namespace snipjar {

// The compositor's layer shell (zwlr_layer_shell_v1: wlroots compositors, KWin) on the connection
// of Qt's own Wayland plugin, whose surfaces Snipjar's windows are. A layer is a surface the
// compositor keeps above, or below, every ordinary window, placed by the client's request
// rather than by a window manager.
class WaylandLayerShell {
public:
    // A surface's layer role, taken back when destroyed (before the surface itself goes).
    class Layer {
    public:
        virtual ~Layer() = default;
        // The size the compositor gave the surface in its first configure.
        virtual QSize size() const = 0;
    };

    // The shell on Qt's connection (its wl_display); none where the compositor offers no layer
    // shell. Called on the main thread, as everything here.
    static std::unique_ptr<WaylandLayerShell> open(void* qtDisplay);

    virtual ~WaylandLayerShell() = default;

    // Gives surface (Qt's wl_surface of a window shown a moment ago without a role and with no
    // buffer yet committed) the role of a layer in the role asked (a front layer of the given size;
    // a backdrop over the whole output the compositor picks, the panels and bars included).
    // Waits for the compositor's first configure, for at most a few round trips, so that the
    // window's first frame finds the role in place. onClosed runs when the compositor takes the
    // layer away (its output went). None when the compositor did not answer.
    virtual std::unique_ptr<Layer> place(void* surface, WindowLayers::Role role, QSize size,
                                         std::function<void()> onClosed) = 0;
};

} // namespace snipjar
