#pragma once

#include "app/CommandLine.h"
#include "app/cli/CommandOutcome.h"
#include "app/cli/StatusCommand.h"

#include <QByteArray>
#include <QUuid>

#include <functional>

namespace snipjar {

class ClipStore;
class InstanceConnection;
class Pasteboard;
class RecordingPause;
class StoredClipPaster;
class Workspace;

// Carries out, in the running Snipjar, the commands other snipjar processes send over the
// instance socket: one JSON request line in, one JSON answer line out (status, output, error).
// Writes go through the store's filing rules and its sync notices, so the panel, the tray and sync
// see them at once. Requests come one at a time on the main thread.
class InstanceRequestHandler {
public:
    struct Actions {
        // Carried out before the answer goes back, so they only ask for the window: the command
        // that waits for the answer is the hot key on some desktops. The activation token is the
        // one the command was started with, if it had a valid one.
        std::function<void(const std::optional<QString>& activationToken)> showPanel;
        std::function<void(const std::optional<QString>& activationToken)> showSettings;
        std::function<void()> quit;
        // The history changed: a visible panel shows it.
        std::function<void()> historyChanged;
        // What `status` tells of the running Snipjar besides its pause (backend, sync).
        std::function<StatusCommand::AppState()> appState;
        // A command filed a clip (add): watchers see it as they see copies.
        std::function<void(const QUuid&)> clipFiled;
        // Keeps the connection for `watch`, pushing it a row per clip filed (JSON objects when
        // asked); the reason when it is refused.
        std::function<std::optional<QString>(InstanceConnection& connection, bool json)> watch;
    };

    InstanceRequestHandler(ClipStore& store, Pasteboard& pasteboard, Workspace& workspace,
                           StoredClipPaster& paster, RecordingPause& pause, Actions actions);

    // One request line (without its line feed) to its answer line (with it); `from` is the
    // connection it came on, which watch keeps.
    QByteArray handle(const QByteArray& request, InstanceConnection* from = nullptr);
    CommandOutcome run(const CommandLine& commandLine);

private:
    CommandOutcome copy(const CommandLine& commandLine, bool thenPaste);
    // Tells the running application that a setting changed (SettingsEvents, as the settings window
    // does); a reason when it could not take the value.
    std::optional<QString> applySetting(const QString& key);
    // export and import: the file is read or written on a worker thread while a nested event loop
    // keeps the panel and the capture going; one at a time.
    CommandOutcome archive(const CommandLine& commandLine);

    ClipStore& store;
    Pasteboard& pasteboard;
    Workspace& workspace;
    StoredClipPaster& paster;
    RecordingPause& recordingPause;
    Actions actions;
    bool archiving = false;
};

} // namespace snipjar
