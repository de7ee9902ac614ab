#pragma once

#include "app/tray/TrayMenuBuilder.h"
#include "platform/Workspace.h"

#include <QObject>

#include <memory>
#include <optional>

class QMenu;
class QSystemTrayIcon;
class QTimer;

namespace snipjar {

class ClipStore;
class DesktopNotifier;
class StoredClipPaster;

// The tray icon and its menu, the application's one permanent surface. The menu is filled from
// the history each time it opens, and a clip chosen from it is pasted into the window that was in
// front when it opened. Without a tray host the application keeps running: it says once how to
// reach the panel, and the icon appears when a tray host starts later. Main thread only.
class StatusItem : public QObject {
    Q_OBJECT
public:
    // How often the absence of a tray host is looked at again.
    static constexpr int trayLookMilliseconds = 2000;

    StatusItem(ClipStore& store, StoredClipPaster& paster, Workspace& workspace, DesktopNotifier& notifier,
               TrayMenuBuilder::Actions commands, QObject* parent = nullptr);
    ~StatusItem() override;

    // What the menu shows apart from the history; read each time it opens.
    std::function<TrayMenuBuilder::State()> currentState;

    QMenu& menu() { return *trayMenu; }
    QSystemTrayIcon& icon() { return *trayIcon; }
    bool isEmbedded() const;
    // Fills the menu as it would be when opened now (also used by tests and the benchmark).
    void rebuildMenu();
    // The tooltip says whether recording is paused; an open menu is filled again.
    void setRecordingPaused(bool paused);

private:
    void aboutToOpen();
    void lookForTrayHost();

    ClipStore& store;
    StoredClipPaster& paster;
    Workspace& workspace;
    DesktopNotifier& notifier;
    TrayMenuBuilder::Actions commands;
    std::unique_ptr<QMenu> trayMenu;
    std::unique_ptr<QSystemTrayIcon> trayIcon;
    std::unique_ptr<QTimer> trayLook;
    std::optional<QString> computerScope;
    std::optional<RunningApplication> menuTarget;
    bool toldAboutMissingTray = false;
};

} // namespace snipjar
