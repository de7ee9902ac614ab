#pragma once

#include "paste/HotKeyCombo.h"

#include <QDateTime>
#include <QString>
#include <QUuid>

#include <functional>
#include <optional>

class QMenu;

namespace snipjar {

class ClipStore;

// Fills the tray menu from the history: "Search…", the recent clips (or one computer's clips when
// the menu is drilled into it), the computers to drill into, the sync items, Settings…, Check for
// Updates… and Quit. The menu is filled anew each time it opens and each time the user drills in
// or out, while it stays open.
class TrayMenuBuilder {
public:
    // The most computers listed.
    static constexpr int computerLimit = 5;
    static constexpr int minimumWidth = 380;

    struct State {
        // The computer the menu is drilled into; none at the top level.
        std::optional<QString> computerScope;
        // The combination shown beside "Search…".
        HotKeyCombo hotKey = HotKeyCombo::defaultCombo();
        // The desktop, not Snipjar, runs the hot key (Wayland), so it works only once set up there.
        bool desktopRunsHotKey = false;
        // Sync runs (its items are shown), and whether it is busy right now.
        bool syncAvailable = false;
        bool isSyncing = false;
        // Why sync does not work as it should ("Sync: can’t reach your sync server", "Sync: no
        // server is set"), shown as a disabled item under the sync items; none when all is well.
        // With a problem and sync not running, "Sync Now" is not offered.
        std::optional<QString> syncProblem;
        QString updatesText = QStringLiteral("Check for Updates\u2026");
        bool updatesEnabled = true;
        // Recording is paused (until the time given, or until resumed): the menu offers to resume.
        bool recordingPaused = false;
        std::optional<QDateTime> pausedUntil;
    };

    struct Actions {
        std::function<void(const QUuid&)> pasteClip;
        std::function<void()> showPanel;
        // Drills into a computer, or back to the top level with none. Called on the next turn of
        // the event loop, with the menu still open.
        std::function<void(const std::optional<QString>&)> drill;
        std::function<void()> syncNow;
        std::function<void()> openSettings;
        std::function<void()> checkForUpdates;
        std::function<void()> quit;
        std::function<void()> resumeRecording;
    };

    // The text of the item that ends a pause: "Recording Paused — Resume", with the time the pause
    // ends by itself when it does.
    static QString pausedItemText(const std::optional<QDateTime>& until);

    // Without a store the menu holds "No clipboard history" and the fixed items.
    static void fill(QMenu& menu, ClipStore* store, const State& state, const Actions& actions);
};

} // namespace snipjar
