#pragma once

#include <QString>

namespace snipjar {

// Starting Snipjar when the user logs in, through an XDG autostart entry of our own:
// $XDG_CONFIG_HOME/autostart/<application id>.desktop, which runs the executable that is running
// now. Only that one file is ever written or removed; entries of other programs are left alone.
// An entry of ours that the user (or a desktop's startup settings) marked Hidden=true, or switched
// off with X-GNOME-Autostart-enabled=false, counts as disabled and is not rewritten until the user
// turns the option on again. Main thread only.
class LaunchAtLogin {
public:
    static QString entryPath();

    static bool isEnabled();
    // Writes or removes the entry when the state differs; returns false and logs when that fails.
    static bool setEnabled(bool enabled);
    // At the very first launch (no didConfigureLoginItem value at all) launch at login is switched
    // on once; afterwards only the user changes it.
    static void configureOnFirstRun();

    // The Exec value that starts this executable, quoted as desktop entries require.
    static QString execLine();
};

} // namespace snipjar
