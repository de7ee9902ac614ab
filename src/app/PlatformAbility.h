#pragma once

#include <QList>
#include <QString>

namespace snipjar {

class PlatformServices;

// How pasting and the hot key work on this desktop, told the same way by the settings window (the
// limited ones, under its header) and by `snipjar status`, so that both say the same thing.
struct PlatformAbility {
    // "pasting" or "hotKey": the name in `snipjar status --json`.
    QString key;
    // "Pasting" or "Hot key", as the settings window and `snipjar status` lead the line with it.
    QString label;
    QString text;
    // True when the desktop leaves something to the user.
    bool limited = false;

    static QList<PlatformAbility> of(PlatformServices& platform);
};

} // namespace snipjar
