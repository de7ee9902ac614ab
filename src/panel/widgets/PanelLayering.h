#pragma once

#include "platform/WindowLayers.h"

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>

namespace snipjar {

// The panel as a layer of the desktop where the window system has layers (Wayland's layer shell):
// placed by the compositor above every window, centred on the focused output, and holding the
// keyboard while shown, instead of an ordinary window the compositor tiles or floats. The panel
// then is a plain window that bypasses the window manager, no popup; a transparent backdrop layer
// over the rest of the output catches a press outside the panel, which closes it as such a press
// closes the popup.
class PanelLayering : public QObject {
public:
    // Turns the hidden panel into a window that becomes a layer when shown; onLeft hides it.
    PanelLayering(QWidget& panel, WindowLayers& layers, std::function<void()> onLeft);
    ~PanelLayering() override;

    // Right after the panel was shown. Should the compositor refuse the layer, the panel is shown
    // again as an ordinary window, from then on.
    void shown();
    // Right before the panel hides.
    void hiding();

    // The backdrop, while the panel is shown as a layer.
    QWidget* backdropWindow() const { return backdrop.get(); }

private:
    void left();

    QWidget& panel;
    WindowLayers& layers;
    std::function<void()> onLeft;
    std::unique_ptr<QWidget> backdrop;
    bool layered = false;
    bool refused = false;
};

} // namespace snipjar
