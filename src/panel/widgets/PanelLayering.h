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
// closes the popup. Popups of its own (tooltips, context menus) it has none.
class PanelLayering : public QObject {
public:
    // Turns the hidden panel into a window that becomes a layer when shown; onLeft hides it.
    PanelLayering(QWidget& panel, WindowLayers& layers, std::function<void()> onLeft);
    ~PanelLayering() override;

    // Right after the panel was shown. False when the compositor refused the layer: the panel then
    // shows nothing, and is to give up being a layer.
    bool shown();
    // Gives the panel back the flags it had, which hides it (Qt does so when flags change); from
    // then on it is shown as the window it was.
    void giveUp();
    // Right before the panel hides.
    void hiding();

protected:
    // Keeps tooltips and context menus from the panel's widgets: Qt would open them as popups of
    // a window that has no role of its own, which the compositor does not accept.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void left();

    QWidget& panel;
    WindowLayers& layers;
    std::function<void()> onLeft;
    std::unique_ptr<QWidget> backdrop;
    const Qt::WindowFlags ownFlags;
    bool layered = false;
    bool toldLayered = false;
};

} // namespace snipjar
