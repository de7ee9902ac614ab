#pragma once

#include "app/CommandLine.h"
#include "app/cli/CommandOutcome.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

namespace snipjar {

class HistoryAccess;

// `snipjar status`: whether Snipjar runs and how, and what each store holds. Without a running
// Snipjar only the stores can be told.
class StatusCommand {
public:
    // What only the running Snipjar knows.
    struct AppState {
        // "X11" or "Wayland".
        QString backend;
        // How pasting and the hot key work on this desktop, as the settings window says it.
        struct Ability {
            // The JSON name ("pasting", "hotKey").
            QString key;
            // The line's name ("Pasting", "Hot key").
            QString label;
            QString text;
        };
        QList<Ability> abilities;
        bool paused = false;
        // When a pause ends by itself; none for a pause until resumed.
        std::optional<QDateTime> pausedUntil;
        // "off", "idle", "syncing" or "problem" (with the problem).
        QString syncState = QStringLiteral("off");
        std::optional<QString> syncProblem;
    };

    static CommandOutcome report(const CommandLine& commandLine, HistoryAccess& access,
                                 const std::optional<AppState>& app);
};

} // namespace snipjar
