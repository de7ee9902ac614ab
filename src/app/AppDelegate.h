#pragma once

#include <QObject>

#include <memory>

namespace snipjar {

class ClipStore;
class ClipboardMonitor;
class HotKey;
class PanelController;
class Paster;
class X11Platform;

// Owns every long-lived object of the running application and starts them in order: the history
// store, the panel, this computer's record and one pass of the limits, the clipboard monitor, and
// the global hot key that opens the panel. The tray and sync attach here as they arrive.
class AppDelegate : public QObject {
    Q_OBJECT
public:
    explicit AppDelegate(X11Platform& platform, QObject* parent = nullptr);
    ~AppDelegate() override;

    void launch();
    // Shows or hides the panel; the hot key and a second start of the binary call this.
    void togglePanel();

    ClipStore& store() { return *clipStore; }
    PanelController* panel() { return panelController.get(); }
    bool isTerminating() const { return terminating; }
    void prepareForTermination() { terminating = true; }

private:
    void registerHotKey();
    void reportStoreFallback();

    X11Platform& platform;
    bool terminating = false;
    std::unique_ptr<ClipStore> clipStore;
    std::unique_ptr<ClipboardMonitor> monitor;
    std::unique_ptr<Paster> paster;
    std::unique_ptr<PanelController> panelController;
    std::unique_ptr<HotKey> hotKey;
};

} // namespace snipjar
