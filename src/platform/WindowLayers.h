#pragma once

#include <Qt>

#include <functional>

class QWindow;

namespace snipjar {

// Windows as layers of the desktop, where the compositor places them itself above every ordinary
// window and gives them the keyboard while they are shown (Wayland's layer shell). The panel is one
// where this exists; elsewhere it is a window the window manager places. Several windows may be
// layers at once.
class WindowLayers {
public:
    // The flag a window carries from before it is first shown to become a layer: Qt then gives its
    // surface no role of its own, and shows nothing until raise() gave it one.
    static constexpr Qt::WindowType layerFlag = Qt::BypassWindowManagerHint;

    virtual ~WindowLayers() = default;

    enum class Role {
        // Above every window, centred on the focused output, with the keyboard.
        front,
        // Over the whole of that output, under the front layers and above everything else, never
        // with the keyboard: a transparent window there catches the presses outside the front one.
        // It takes the output's size.
        backdrop,
    };

    // Right after window->show(), before Qt drew it: makes the window a layer in that role.
    // onClosed runs when the compositor takes the layer away. False when the compositor refused or
    // did not answer; the window then shows nothing and is the caller's to hide.
    virtual bool raise(QWindow* window, Role role, std::function<void()> onClosed) = 0;
    // Before the window is hidden; nothing when it is not a layer.
    virtual void lower(QWindow* window) = 0;
};

} // namespace snipjar
