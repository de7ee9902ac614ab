// Showing and hiding the panel's window: the rows first, then the map, the keyboard, the layer
// where the window system has them, and what hides it again.
#include "panel/PanelModel.h"
#include "panel/SpringAnimator.h"
#include "panel/widgets/ClipPanel.h"
#include "panel/widgets/GlassView.h"
#include "panel/widgets/PanelController.h"
#include "panel/widgets/PanelLayering.h"
#include "panel/widgets/WindowActivation.h"
#include "platform/LogCategories.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include <utility>

namespace snipjar {

namespace {

// A keyboard grab fails while another client still holds the keyboard (a launcher closing, keys
// of a passive grab still down); the panel asks again for a moment.
constexpr int keyboardGrabAttempts = 25;
constexpr int keyboardGrabRetryMilliseconds = 20;

} // namespace

void PanelController::setWindowLayers(WindowLayers* layers) {
    const QPointer<PanelController> self(this);
    layering = layers ? std::make_unique<PanelLayering>(*panel, *layers,
                                                        [self] {
                                                            if (self) {
                                                                self->hide();
                                                            }
                                                        })
                      : nullptr;
}

bool PanelController::isVisible() const {
    return panel->isVisible();
}

void PanelController::toggle() {
    if (isVisible() || showPending) {
        hide();
    } else {
        show();
    }
}

void PanelController::show() {
    qCDebug(lcApp) << "Panel shown";
    reopenedAfterStaleClose = false;
    heldDeleteKey.reset();
    // Shown by the hot key, whose keys are still down: its repeats come here, in order with its
    // release, which ends them.
    hotKeyLatched = isHotKeyHeld && isHotKeyHeld();
    targetApp = workspace.frontmostApplication();
    const GlassView::Material material =
        compositing && compositing() ? GlassView::Material::translucent : GlassView::Material::opaque;
    panel->setCompositing(material == GlassView::Material::translucent);
    for (GlassView* glass : panel->findChildren<GlassView*>()) {
        glass->setMaterial(material);
    }

    // An empty query, every scope reset, and the rows loading off the main thread; the panel maps
    // once they are there, so that its first frame shows them, as it did when they were read here.
    panelModel->resetForShow();
    showPending = true;
}

void PanelController::open(const std::optional<QString>& token) {
    if (token) {
        activationToken = token;
    }
    if (isVisible()) {
        handOverActivationToken();
    } else if (!showPending) {
        show();
    }
}

void PanelController::handOverActivationToken() {
    WindowActivation::handOver(panel->windowHandle(), std::exchange(activationToken, std::nullopt));
}

void PanelController::rowsArrived() {
    if (showPending) {
        showPending = false;
        mapWithRows();
    }
    performDeferredKeys();
}

void PanelController::mapWithRows() {
    layoutBar(Animation::none);
    resultsSpring->stop();
    resultsGlass->setGeometry(resultsFrame);
    positionPanel();

    panel->show();
    if (layering && !layering->shown()) {
        // Refused by the compositor: the panel is its own window from now on, shown again as one.
        hiding = true;
        layering->giveUp();
        hiding = false;
        layering.reset();
        panel->show();
    }
    panel->raise();
    handOverActivationToken();
    panel->setFocus(Qt::PopupFocusReason);
    ensureKeyboardGrab(0);

    installKeyMonitor();
    // The panel never becomes the active window, so it is told of a switch by looking: the window
    // manager's active window changing away from the one the panel opened over.
    resignObserver.start();
    if (onShow) {
        onShow();
    }
}

void PanelController::ensureKeyboardGrab(int attempt) {
    // Qt grabs the keyboard for a popup as it maps; should that fail, the panel asks again for a
    // moment before it gives up.
    if (!isVisible() || !panel->windowHandle() || panel->windowHandle()->setKeyboardGrabEnabled(true)) {
        return;
    }
    if (attempt + 1 >= keyboardGrabAttempts) {
        // On X the grab is the panel's only way to the keys: without it the typing would go to
        // the window behind. Other platforms give a popup the keys without one.
        if (QGuiApplication::platformName() != QLatin1String("xcb")) {
            return;
        }
        qCWarning(lcApp) << "The panel could not take the keyboard and was hidden";
        hide();
        if (!toldKeyboardUnavailable) {
            toldKeyboardUnavailable = true;
            if (onKeyboardUnavailable) {
                onKeyboardUnavailable();
            }
        }
        return;
    }
    // The timer's context is the controller, so a retry never outlives it.
    QTimer::singleShot(keyboardGrabRetryMilliseconds, this,
                       [this, attempt] { ensureKeyboardGrab(attempt + 1); });
}

void PanelController::hide() {
    if (hiding) {
        return;
    }
    hiding = true;
    showPending = false;
    activationToken.reset();
    resignObserver.stop();
    removeKeyMonitor();
    deferredKeys.clear();
    if (layering) {
        layering->hiding();
    }
    panel->hide();
    panelModel->resetForHide();
    pruneCacheInBackground();
    hiding = false;
}

bool PanelController::anotherWindowIsActive() {
    const std::optional<RunningApplication> front = workspace.frontmostApplication();
    const quint64 frontWindow = front ? front->windowID : 0;
    const quint64 targetWindow = targetApp ? targetApp->windowID : 0;
    // No active window (the desktop) is no switch: a window can lose the focus to nothing for a
    // moment while the window manager works.
    return frontWindow != 0 && frontWindow != targetWindow;
}

void PanelController::checkStillInFront() {
    if (anotherWindowIsActive()) {
        qCDebug(lcApp) << "Panel hidden: another window became active";
        hide();
    }
}

void PanelController::hiddenByQt() {
    // Qt closes a popup on a press outside it, and also when it believes the application lost
    // the focus. That belief can be stale: X reports focus changes late, so the focus leaving the
    // panel of a moment ago may arrive just after it was shown again. While the window it opened
    // over is still the active one, such a close is undone, once per show.
    // A layer (Wayland) is never closed on a stale belief: it hides for good.
    if (!layering && !panel->wasClosedByOutsidePress() && !reopenedAfterStaleClose &&
        !anotherWindowIsActive()) {
        reopenedAfterStaleClose = true;
        qCDebug(lcApp) << "Panel shown again after a stale deactivation";
        QTimer::singleShot(0, this, [this] {
            if (!hiding && keyMonitor) {
                panel->show();
                panel->raise();
                ensureKeyboardGrab(0);
            }
        });
        return;
    }
    qCDebug(lcApp) << "Panel hidden: closed by the window system";
    hide();
}

void PanelController::positionPanel() {
    const QPoint mouse = QCursor::pos();
    QScreen* screen = nullptr;
    for (QScreen* candidate : QGuiApplication::screens()) {
        if (candidate->geometry().contains(mouse)) {
            screen = candidate;
            break;
        }
    }
    if (!screen) {
        screen = QGuiApplication::primaryScreen();
    }
    if (!screen) {
        return; // the window system places it
    }
    const QRect visible = screen->availableGeometry();
    const QSize size = panel->size();
    const double x = visible.center().x() + 0.5 - size.width() * 0.5;
    // Centred, then raised by 8% of the visible height (y grows downwards here).
    const double y = visible.center().y() + 0.5 - size.height() * 0.5 - visible.height() * 0.08;
    panel->move(qRound(x), qRound(y));
}

} // namespace snipjar
