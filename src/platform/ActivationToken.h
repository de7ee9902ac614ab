#pragma once

#include <QString>
#include <QStringView>

#include <optional>

namespace snipjar {

// The token a launcher, a compositor or a hot-key daemon gives a program it starts so that the
// window the program opens may take the focus: XDG_ACTIVATION_TOKEN on Wayland, DESKTOP_STARTUP_ID
// for X11 startup notification. `snipjar show-panel` passes its own on to the running Snipjar,
// which opens the panel with it. It comes from another program and may travel over the instance
// socket, so it is checked before it is kept, sent or logged.
class ActivationToken {
public:
    // Tokens seen in practice are at most some tens of characters; one far longer is refused
    // rather than cut, since a cut token is no token.
    static constexpr qsizetype largestLength = 512;

    // The token when it can be one: not empty, printable ASCII only, at most largestLength.
    static std::optional<QString> checked(QStringView given);
    // The token this process was started with: XDG_ACTIVATION_TOKEN, else DESKTOP_STARTUP_ID (some
    // launchers set only the latter, also on Wayland); none when neither holds a valid one.
    static std::optional<QString> fromEnvironment();
};

} // namespace snipjar
