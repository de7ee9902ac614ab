#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>

#include <memory>

namespace snipjar {

class ClipStore;
class ClipWatchers;
class InstanceConnection;
class ClipboardKeeper;
class ClipboardMonitor;
class HotKey;
class InstanceRequestHandler;
class OnboardingWindow;
class PanelController;
class Pasteboard;
class PrimarySelectionMonitor;
class SettingsWindow;
class Paster;
class RecordingPause;
class StatusItem;
class StoredClipPaster;
class SyncSwitch;
class Updater;
class PlatformServices;

// Owns every long-lived object of the running application and starts them in order: the history
// store, this computer's record and one pass of the limits, the clipboard monitor and
// the keeper of the clipboard, sync, the global hot key that opens the panel, the tray icon, the store's
// fallback alert and, on the first run, the welcome window; the panel follows once the application
// is ready. Quitting, from the menu or by a signal, files
// every clip still queued.
class AppDelegate : public QObject {
    Q_OBJECT
public:
    explicit AppDelegate(PlatformServices& platform, QObject* parent = nullptr);
    ~AppDelegate() override;

    // Starts Snipjar with the history `openStore` made, or opens it here when none is given.
    void launch(std::unique_ptr<ClipStore> openedStore = nullptr);
    // Opens the history on disk with this computer's record and one pass of the limits. Touches
    // neither the display nor any QObject, so start-up runs it on a thread of its own while Qt
    // connects to the display.
    static std::unique_ptr<ClipStore> openStore();
    // Shows or hides the panel; the hot key, the menu and a second start of the binary call this.
    void togglePanel();
    // Shows the panel unless it is open already; `snipjar show-panel` gives the activation token it
    // was started with, which the panel takes the focus with where the desktop asks for one.
    void showPanel(const std::optional<QString>& activationToken = std::nullopt);
    // Quits the application as the menu's Quit does.
    void quit();
    // Opens the settings window, made on first use and kept.
    void openSettings(const std::optional<QString>& activationToken = std::nullopt);
    // Answers a request line of the command line (see InstanceRequestHandler).
    QByteArray answer(const QByteArray& request, InstanceConnection& connection);

    ClipStore& store() { return *clipStore; }
    // The panel, built now if it was not yet.
    PanelController* panel() { return &ensurePanel(); }
    StatusItem* statusItem() { return status.get(); }
    SettingsWindow* settings() { return settingsWindow.get(); }
    SyncSwitch* sync() { return syncSwitch.get(); }
    RecordingPause& pause() { return *recordingPause; }
    bool isTerminating() const { return terminating; }
    bool isRecordingSelectedText() const { return selectionMonitor != nullptr; }
    void prepareForTermination() { terminating = true; }
    // Files every clip still queued, for a process that ends without unwinding (see main.cpp).
    void fileQueuedClips();

private:
    // The panel's window takes longer to build than everything else at start (fonts, symbols, the
    // layout of its views), so it is built once start-up's events are handled, or at first use if
    // that comes earlier.
    PanelController& ensurePanel();
    void startClipboardKeeper();
    void registerHotKey();
    // Starts or stops recording the selected text as the setting says.
    void applySelectedTextRecording();
    void installStatusItem();
    // Tells the tray and the settings how sync is doing.
    void showSyncState();
    void applyRecordingPause();
    void showStoreFallbackAlert();
    void showOnboarding();

    PlatformServices& platform;
    bool terminating = false;
    std::unique_ptr<ClipStore> clipStore;
    std::unique_ptr<ClipboardMonitor> monitor;
    std::unique_ptr<ClipboardKeeper> keeper;
    // While selected text is recorded; it files through the clipboard monitor's ingestor.
    std::unique_ptr<Pasteboard> primarySelection;
    std::unique_ptr<PrimarySelectionMonitor> selectionMonitor;
    std::unique_ptr<Paster> paster;
    std::unique_ptr<StoredClipPaster> clipPaster;
    std::unique_ptr<PanelController> panelController;
    // Present from launch on; holds the sync engine while sync is on.
    std::unique_ptr<SyncSwitch> syncSwitch;
    std::unique_ptr<HotKey> hotKey;
    std::unique_ptr<StatusItem> status;
    // Deletes itself when closed.
    QPointer<OnboardingWindow> onboarding;
    std::unique_ptr<SettingsWindow> settingsWindow;
    std::unique_ptr<Updater> updater;
    std::unique_ptr<RecordingPause> recordingPause;
    std::unique_ptr<ClipWatchers> watchers;
    std::unique_ptr<InstanceRequestHandler> requests;
};

} // namespace snipjar
