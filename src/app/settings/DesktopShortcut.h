#pragma once

#include "paste/HotKeyCombo.h"

#include <QProcessEnvironment>
#include <QString>

namespace snipjar {

// The hot key where Snipjar cannot grab keys itself (a Wayland session): the desktop runs
// `snipjar show-panel` on the combination instead, set up the desktop's own way.
struct DesktopShortcut {
    enum class Desktop {
        // sway: a `bindsym` line in its configuration.
        sway,
        // GNOME: a custom keybinding in its settings, which Snipjar can write.
        gnome,
        // KDE Plasma: a custom shortcut in System Settings.
        kde,
        // Anything else: the desktop's keyboard settings, by hand.
        other,
    };

    // Which desktop runs this session, from XDG_CURRENT_DESKTOP (a colon-separated list, e.g.
    // "ubuntu:GNOME") and sway's socket variable.
    static Desktop detect(const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment());

    // The command the shortcut runs: the installed `snipjar` (by its path when that is not the one
    // found first on the search path a desktop uses), quoted for a shell where needed.
    static QString showPanelCommand();

    // "bindsym Ctrl+Mod1+v exec snipjar show-panel".
    static QString swayLine(const HotKeyCombo& combo, const QString& command);
    // The combination as GNOME's settings write it: "<Control><Alt>v".
    static QString gnomeAccelerator(const HotKeyCombo& combo);

    // Single quotes around text that a shell would split or expand; plain words stay as they are.
    static QString shellQuoted(const QString& text);
};

} // namespace snipjar
