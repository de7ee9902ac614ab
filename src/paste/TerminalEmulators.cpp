#include "paste/TerminalEmulators.h"

#include <QSet>

namespace snipjar {

bool isTerminalEmulator(const QString& windowClass) {
    // Lower-case WM_CLASS names of the common terminal emulators (class and instance names both).
    static const QSet<QString> terminals = {
        QStringLiteral("xterm"),
        QStringLiteral("uxterm"),
        QStringLiteral("gnome-terminal"),
        QStringLiteral("gnome-terminal-server"),
        QStringLiteral("org.gnome.terminal"),
        QStringLiteral("org.gnome.console"),
        QStringLiteral("kgx"),
        QStringLiteral("org.gnome.ptyxis"),
        QStringLiteral("konsole"),
        QStringLiteral("org.kde.konsole"),
        QStringLiteral("yakuake"),
        QStringLiteral("kitty"),
        QStringLiteral("alacritty"),
        QStringLiteral("foot"),
        QStringLiteral("footclient"),
        QStringLiteral("st"),
        QStringLiteral("st-256color"),
        QStringLiteral("urxvt"),
        QStringLiteral("rxvt"),
        QStringLiteral("terminator"),
        QStringLiteral("tilix"),
        QStringLiteral("com.gexperts.tilix"),
        QStringLiteral("xfce4-terminal"),
        QStringLiteral("wezterm"),
        QStringLiteral("org.wezfurlong.wezterm"),
        QStringLiteral("termite"),
        QStringLiteral("lxterminal"),
        QStringLiteral("mate-terminal"),
        QStringLiteral("qterminal"),
        QStringLiteral("terminology"),
        QStringLiteral("sakura"),
        QStringLiteral("guake"),
        QStringLiteral("tilda"),
        QStringLiteral("roxterm"),
        QStringLiteral("eterm"),
        QStringLiteral("cool-retro-term"),
        QStringLiteral("deepin-terminal"),
        QStringLiteral("ghostty"),
        QStringLiteral("com.mitchellh.ghostty"),
        QStringLiteral("contour"),
        QStringLiteral("hyper"),
        QStringLiteral("tabby"),
    };
    return terminals.contains(windowClass.toLower());
}

} // namespace snipjar
