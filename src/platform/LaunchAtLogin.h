#pragma once

#include <QString>

#include <optional>

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
    // on once; afterwards only the user changes it. Not from a build folder without an install.
    static void configureOnFirstRun();

    // The Exec value that starts Snipjar at login, quoted as desktop entries require; none when
    // there is nothing to start (see commandPath()).
    static std::optional<QString> execLine();
    // The program started at login: the running `snipjar` (or this executable). A copy running from
    // a build folder names the installed `snipjar` instead, since a build folder is rebuilt, moved
    // and deleted; none when Snipjar is not installed, and launch at login then stays off.
    static std::optional<QString> commandPath();
    // Tests name the installed command (none: not installed) instead of the configured place.
    static void overrideInstalledCommand(std::optional<QString> path);
    static void clearInstalledCommandOverride();
};

} // namespace snipjar
