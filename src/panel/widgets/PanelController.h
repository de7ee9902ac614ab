#pragma once

#include "panel/PanelKey.h"
#include "panel/PanelRow.h"
#include "panel/TypeScope.h"
#include "paste/HotKeyCombo.h"
#include "platform/Workspace.h"

#include <QObject>
#include <QPointer>
#include <QRect>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QKeyEvent;
class QPropertyAnimation;

namespace snipjar {

class ClickableGlassView;
class ClipPanel;
class ClipStore;
class GlassView;
class PanelKeyMonitor;
class PanelLayering;
class PanelModel;
class SpringAnimator;
class StoredClipPaster;
class WindowLayers;

// Owns the floating history panel: its window and glass, the panel model, the preview cache and
// the two springs. It shows and hides the panel, places it on the screen under the mouse,
// remembers the application in front, handles every key while the panel is open, and pastes the
// chosen clip into the remembered application through the clip paster it shares with the tray,
// so that pastes from both happen one after the other. Main thread only; only the loading of a
// clip to paste and the model's loaders run elsewhere.
class PanelController : public QObject {
    Q_OBJECT
public:
    // Answers whether a compositor runs, asked at each show since one may start or stop.
    using CompositingProbe = std::function<bool()>;

    // How often the shown panel looks whether another window became active.
    static constexpr int resignCheckMilliseconds = 200;

    // Frames of the window's content, in the window's own coordinates (y grows downwards).
    static constexpr QRect resultsFrame{0, 74, 820, 470};
    // The results drop in from 18 pixels lower when the kind filter changes.
    static constexpr QRect resultsDropInFrame{0, 92, 820, 470};
    static QRect barFrame(bool kindFilterActive);
    static QRect circleFrame(int index, bool kindFilterActive);

    // The store and the clip paster must outlive the controller.
    PanelController(ClipStore& store, StoredClipPaster& clipPaster, Workspace& workspace,
                    CompositingProbe compositing = {}, QObject* parent = nullptr);
    ~PanelController() override;

    // Starts the row load; the panel appears when the rows are there.
    void show();
    // Shows the panel unless it is shown or about to be, with the activation token the request
    // came with: it asks for the focus with it once mapped, or at once when it is shown already.
    void open(const std::optional<QString>& activationToken);
    void hide();
    bool isVisible() const;
    // The hot key, the menu and a second start of the binary call this.
    void toggle();
    // Refreshes the rows after changes that arrived from sync, when the panel is shown.
    void reloadIfVisible();
    // Hides the panel, then pastes the row's clip (when there is a row) into the window that was
    // in front when the panel opened.
    void paste(const std::optional<PanelRow>& row);
    // True when the panel took the key. Releases are seen too, and never taken.
    bool handleKey(QKeyEvent* event);
    // Carries out a key the panel took; handleKey decodes the event into one.
    void perform(const PanelKey& key);
    // A click on a kind circle.
    void selectScope(TypeScope scope);
    void setTypeScope(TypeScope scope);
    // The combination of the global hot key, which closes the open panel.
    void setHotKey(const std::optional<HotKeyCombo>& combo) { hotKey = combo; }
    // Makes the panel a layer of the desktop where the window system has them (set once, before
    // the first show, by the application shell; the layers must outlive the controller).
    void setWindowLayers(WindowLayers* layers);

    // Called after every show (set by the application shell).
    std::function<void()> onShow;
    // Whether the hot key is still down from the press that last opened or closed the panel, and
    // how to say that the panel closed on a press of it (set by the application shell): auto-repeat
    // of the held keys must neither close the panel it just opened nor reopen it.
    std::function<bool()> isHotKeyHeld;
    std::function<void()> holdHotKeyUntilReleased;
    // Whether the key with this native key code is still down on the keyboard.
    std::function<bool(quint32)> isKeyDown;
    // Called the first time the panel had to hide because another program held the keyboard.
    std::function<void()> onKeyboardUnavailable;

    PanelModel& model() { return *panelModel; }
    ClipPanel& window() { return *panel; }
    const std::optional<RunningApplication>& targetApplication() const { return targetApp; }

private:
    enum class Animation { none, spring };

    void buildWindow();
    void layoutBar(Animation animation);
    void dropInResults();
    void positionPanel();
    void ensureKeyboardGrab(int attempt);
    void installKeyMonitor();
    void removeKeyMonitor();
    void afterSelectionChange();
    void pruneCacheInBackground();
    void checkStillInFront();
    bool anotherWindowIsActive();
    void hiddenByQt();
    void rowsArrived();
    void mapWithRows();
    void performDeferredKeys();
    void handOverActivationToken();

    Workspace& workspace;
    CompositingProbe compositing;
    std::unique_ptr<PanelModel> panelModel;
    std::unique_ptr<ClipPanel> panel;
    std::unique_ptr<PanelKeyMonitor> keyMonitor;
    std::unique_ptr<PanelLayering> layering;
    std::optional<RunningApplication> targetApp;
    std::optional<HotKeyCombo> hotKey;
    // Widgets below are children of the panel.
    QPointer<GlassView> barGlass;
    QPointer<GlassView> resultsGlass;
    struct Circle {
        TypeScope scope;
        QPointer<ClickableGlassView> view;
        // Its opacity's one fade, a child of its effect.
        QPointer<QPropertyAnimation> fade;
    };
    std::vector<Circle> circles;
    std::unique_ptr<SpringAnimator> searchSpring;
    std::unique_ptr<SpringAnimator> resultsSpring;
    // While the panel is shown: notices another window becoming the active one, which hides it.
    QTimer resignObserver;
    StoredClipPaster& clipPaster;
    // Keys that arrived while the rows were loading.
    std::vector<PanelKey> deferredKeys;
    // The key of the last Ctrl+Backspace while it is down. Auto-repeat presses of it, flagged as
    // repeats or not, neither confirm the delete they armed nor arm the next row's: only a press
    // after its release does.
    std::optional<int> heldDeleteKey;
    // The panel was shown by the hot key and has not seen its key's release yet.
    bool hotKeyLatched = false;
    bool hiding = false;
    // A show waits for its rows.
    bool showPending = false;
    // The token the pending show was asked for with; used once the panel is mapped.
    std::optional<QString> activationToken;
    bool toldKeyboardUnavailable = false;
    bool reopenedAfterStaleClose = false;
};

} // namespace snipjar
