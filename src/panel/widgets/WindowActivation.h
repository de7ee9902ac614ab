#pragma once

#include <QString>

#include <optional>

class QWindow;

namespace snipjar {

// Gives a window the activation token a command was started with (see ActivationToken), the way
// the windowing system takes it. On Wayland, where a compositor lets a window take the focus only
// with a token, Qt reads XDG_ACTIVATION_TOKEN from the environment when a window asks to be
// activated and clears it once used; it is set for that one request and cleared after it either
// way, so that a stale token never reaches a later window. On X11 the window manager needs none.
class WindowActivation {
public:
    // Asks for the shown window to be activated with the token. False when nothing was asked: no
    // token, no native window yet, or a windowing system that takes none.
    static bool handOver(QWindow* window, const std::optional<QString>& token);
};

} // namespace snipjar
