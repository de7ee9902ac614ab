#pragma once

#include "platform/WindowLayers.h"
#include "platform/wayland/WaylandLayerShell.h"

#include <QPointer>
#include <QWindow>

#include <memory>
#include <vector>

namespace snipjar {

// WindowLayers over the layer shell on the connection of Qt's Wayland plugin.
class WaylandWindowLayers final : public WindowLayers {
public:
    // None unless Qt runs on Wayland and the compositor offers the layer shell.
    static std::unique_ptr<WaylandWindowLayers> create();

    bool raise(QWindow* window, Role role, std::function<void()> onClosed) override;
    void lower(QWindow* window) override;

private:
    explicit WaylandWindowLayers(std::unique_ptr<WaylandLayerShell> shell);

    struct Raised {
        QPointer<QWindow> window;
        std::unique_ptr<WaylandLayerShell::Layer> layer;
    };

    std::unique_ptr<WaylandLayerShell> shell;
    std::vector<Raised> raised;
};

} // namespace snipjar
