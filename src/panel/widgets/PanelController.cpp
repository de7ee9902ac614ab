#include "panel/widgets/PanelController.h"

#include "panel/PanelModel.h"
#include "panel/SpringAnimator.h"
#include "panel/widgets/ClickableGlassView.h"
#include "panel/widgets/ClipPanel.h"
#include "panel/widgets/GlassView.h"
#include "panel/widgets/PanelKeyMonitor.h"
#include "panel/widgets/PanelLayering.h"
#include "panel/widgets/ResultsView.h"
#include "panel/widgets/SearchBarContent.h"
#include "panel/widgets/TypeCircleContent.h"
#include "paste/StoredClipPaster.h"
#include "platform/KeyPosition.h"
#include "platform/LogCategories.h"
#include "platform/MemoryRelief.h"
#include "store/ClipStore.h"

#include <QGraphicsOpacityEffect>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPropertyAnimation>
#include <QTextBoundaryFinder>
#include <QTextDocument>
#include <QThreadPool>
#include <QTimer>

#include <utility>

namespace snipjar {

namespace {

constexpr int circleFadeMilliseconds = 200;

struct CircleSymbol {
    TypeScope scope;
    const char* symbol;
};
constexpr CircleSymbol circleSymbols[] = {
    {TypeScope::text, "textformat"},
    {TypeScope::image, "photo"},
    {TypeScope::file, "doc"},
    {TypeScope::pinned, "pin"},
};

QColor accentTint() {
    // Computed once: the palette's highlight at the glass tint's strength.
    static const QColor tint = [] {
        QColor colour = QGuiApplication::palette().color(QPalette::Highlight);
        colour.setAlphaF(0.45);
        return colour;
    }();
    return tint;
}

// What tells one key from another across its press and release: the key on the keyboard when
// the platform says which, else Qt's key.
int keyIdentity(const QKeyEvent& event) {
    return event.nativeScanCode() != 0 ? int(event.nativeScanCode()) : event.key() | 0x40000000;
}

// The query without its last character as a reader sees it (an accented letter or an emoji that
// spans several code units goes at once).
QString withoutLastCharacter(const QString& query) {
    QTextBoundaryFinder boundaries(QTextBoundaryFinder::Grapheme, query);
    boundaries.toEnd();
    const qsizetype previous = boundaries.toPreviousBoundary();
    return query.left(previous < 0 ? 0 : previous);
}

} // namespace

QRect PanelController::barFrame(bool kindFilterActive) {
    return QRect(0, 9, kindFilterActive ? 620 : 820, 54);
}

QRect PanelController::circleFrame(int index, bool kindFilterActive) {
    return QRect(kindFilterActive ? 620 + 6 + 50 * index : 776, 14, 44, 44);
}

PanelController::PanelController(ClipStore& store, StoredClipPaster& clipPaster, Workspace& workspace,
                                 CompositingProbe compositing, QObject* parent)
    : QObject(parent)
    , workspace(workspace)
    , compositing(std::move(compositing))
    , panelModel(std::make_unique<PanelModel>(store, PreviewCache()))
    , clipPaster(clipPaster) {
    resignObserver.setInterval(resignCheckMilliseconds);
    connect(&resignObserver, &QTimer::timeout, this, &PanelController::checkStillInFront);
    connect(panelModel.get(), &PanelModel::rowsLoaded, this, &PanelController::rowsArrived);
    buildWindow();
    layoutBar(Animation::none);
    pruneCacheInBackground();
}

PanelController::~PanelController() {
    removeKeyMonitor();
    layering.reset();
    // The views observe the model, so the window goes first.
    panel.reset();
}

void PanelController::buildWindow() {
    panel = std::make_unique<ClipPanel>();
    const QPointer<PanelController> self(this);
    panel->onHidden = [self] {
        if (self && !self->hiding) {
            self->hiddenByQt();
        }
    };
    panel->onInputText = [self](const QString& text) {
        if (self) {
            self->perform(PanelKey::decode(0, Qt::NoModifier, text, false));
        }
    };

    ResultsCallbacks callbacks;
    callbacks.onTogglePin = [self] {
        if (self) {
            self->panelModel->togglePinSelected();
        }
    };
    callbacks.onDelete = [self] {
        if (self) {
            self->panelModel->deleteSelected();
        }
    };
    callbacks.onSelectMac = [self](const std::optional<QString>& deviceID) {
        if (self) {
            self->panelModel->setMacScope(deviceID);
            self->panelModel->setSelection(0);
            self->afterSelectionChange();
        }
    };
    callbacks.onSelectRow = [self](int index) {
        if (self) {
            self->panelModel->setSelection(index);
            self->afterSelectionChange();
        }
    };
    callbacks.onPasteRow = [self](int index) {
        if (self && index >= 0 && index < self->panelModel->visibleCount()) {
            self->paste(self->panelModel->visibleRow(index));
        }
    };

    resultsGlass = new GlassView(22, panel.get());
    resultsGlass->setGeometry(resultsFrame);
    resultsGlass->setContent(new ResultsView(*panelModel, std::move(callbacks)));
    panel->trackGlass(resultsGlass);

    barGlass = new GlassView(27, panel.get());
    barGlass->setGeometry(barFrame(false));
    barGlass->setContent(new SearchBarContent(*panelModel));
    panel->trackGlass(barGlass);

    for (int index = 0; const CircleSymbol& entry : circleSymbols) {
        auto* circle = new ClickableGlassView(22, panel.get());
        circle->setGeometry(circleFrame(index++, false));
        circle->setContent(
            new TypeCircleContent(*panelModel, entry.scope, QString::fromLatin1(entry.symbol)));
        circle->setToolTip(typeScopeLabel(entry.scope));
        circle->setAccessibleName(typeScopeLabel(entry.scope));
        auto* effect = new QGraphicsOpacityEffect(circle);
        circle->setGraphicsEffect(effect);
        auto* fade = new QPropertyAnimation(effect, "opacity", effect);
        fade->setDuration(circleFadeMilliseconds);
        fade->setEasingCurve(QEasingCurve::OutCubic);
        circle->onClick = [self, scope = entry.scope] {
            if (self) {
                self->selectScope(scope);
            }
        };
        panel->trackGlass(circle);
        circles.push_back({entry.scope, circle, fade});
    }
    // The circles sit on top of the bar's right end, where they slide in from.
    for (const Circle& circle : circles) {
        circle.view->raise();
    }

    // The window is made now, not at the first show, which then only maps it; one rendering off
    // screen lays the views out and fills the font and symbol caches the first frame needs.
    panel->winId();
    panel->grab();

    searchSpring = std::make_unique<SpringAnimator>(SpringCurve(0.35, 0.6));
    resultsSpring = std::make_unique<SpringAnimator>(SpringCurve(0.45, 0.35));
}

void PanelController::pruneCacheInBackground() {
    // The hidden panel's rows, preview and the loaders' buffers were freed just now, and the
    // prune reads the cache folder: the allocator is asked to hand that memory back, off the main
    // thread since trimming a large heap takes a while.
    QThreadPool::globalInstance()->start(
        [cache = PreviewCache()] {
            cache.prune();
            MemoryRelief::now();
        },
        QThread::LowPriority);
}

void PanelController::reloadIfVisible() {
    if (isVisible()) {
        panelModel->reloadKeepingSelection();
    }
}

void PanelController::installKeyMonitor() {
    const QPointer<PanelController> self(this);
    keyMonitor = std::make_unique<PanelKeyMonitor>(panel.get(), [self](QKeyEvent* event) {
        // A key after the controller is gone passes on unchanged.
        return self && self->handleKey(event);
    });
}

void PanelController::removeKeyMonitor() {
    keyMonitor.reset();
}

bool PanelController::handleKey(QKeyEvent* event) {
    const quint32 keycode = event->nativeScanCode();
    const int shortcutKey = KeyPosition::shortcutKey(event->key(), keycode);
    const std::optional<HotKeyCombo> asHotKey = HotKeyCombo::fromKeyPress(shortcutKey, Qt::AltModifier);
    const bool isHotKeysKey = hotKey && asHotKey && asHotKey->keyLabel == hotKey->keyLabel;
    if (event->type() == QEvent::KeyRelease) {
        // An auto-repeat release is no release. Qt flags one only when the repeat's press is
        // already queued behind it, which a busy main thread misses, so the keyboard is asked too.
        if (!event->isAutoRepeat() && !(isKeyDown && isKeyDown(keycode))) {
            hotKeyLatched = hotKeyLatched && !isHotKeysKey;
            if (heldDeleteKey == keyIdentity(*event)) {
                heldDeleteKey.reset();
            }
        }
        return false;
    }
    if (hotKeyLatched && isHotKeysKey) {
        // Auto-repeat of the press that just opened the panel, with or without its modifiers, as
        // long as the keyboard has it down since. Its release may have gone to the window in front
        // before the panel took the keyboard; then this is a new press.
        if (event->isAutoRepeat() || (isHotKeyHeld && isHotKeyHeld())) {
            return true;
        }
        hotKeyLatched = false;
    }
    const bool isHotKey = hotKey && HotKeyCombo::fromKeyPress(shortcutKey, event->modifiers()) == *hotKey;
    const PanelKey key = PanelKey::decode(event->key(), event->modifiers(), event->text(), isHotKey, keycode);
    if (!key.consumed()) {
        return false;
    }
    if (key.action == PanelKey::Action::deleteSelected) {
        if (heldDeleteKey || event->isAutoRepeat()) {
            return true;
        }
        heldDeleteKey = keyIdentity(*event);
    }
    perform(key);
    if (isHotKey && holdHotKeyUntilReleased) {
        holdHotKeyUntilReleased();
    }
    return true;
}

void PanelController::afterSelectionChange() {
    panelModel->clampSelection();
    panelModel->schedulePreview();
}

void PanelController::performDeferredKeys() {
    while (!deferredKeys.empty() && !panelModel->isLoadingRows()) {
        const PanelKey key = deferredKeys.front();
        deferredKeys.erase(deferredKeys.begin());
        perform(key);
    }
}

void PanelController::perform(const PanelKey& key) {
    // Keys typed before the rows arrive act on them once they are there, in order: Return right
    // after the hot key pastes the newest clip, not nothing.
    if (panelModel->isLoadingRows()) {
        deferredKeys.push_back(key);
        return;
    }
    PanelModel& model = *panelModel;
    using enum PanelKey::Action;
    switch (key.action) {
    case togglePin:
        model.togglePinSelected();
        break;
    case deleteSelected:
        model.deleteSelected();
        break;
    case pasteNumber:
        // A number past the visible rows does nothing and leaves the panel open.
        if (key.number >= 1 && key.number <= model.visibleCount()) {
            paste(model.visibleRow(key.number - 1));
        }
        break;
    case pasteSelected:
        paste(model.selectedRow());
        break;
    case cycleTypeScope:
        model.cycleTypeScope(key.step);
        layoutBar(Animation::spring);
        dropInResults();
        afterSelectionChange();
        break;
    case eraseLast:
        // The selection index stays where it was, clamped to the rows that now match.
        if (!model.query().isEmpty()) {
            model.setQuery(withoutLastCharacter(model.query()));
            afterSelectionChange();
        }
        break;
    case escape:
        if (model.armedDeleteID()) {
            model.disarmDelete();
        } else {
            hide();
        }
        break;
    case cycleMacScope:
        model.cycleMacScope(key.step);
        afterSelectionChange();
        break;
    case moveSelection:
        model.moveSelection(key.step);
        afterSelectionChange();
        break;
    case hotKey:
        hide();
        break;
    case appendText:
        model.setQuery(model.query() + key.text);
        model.setSelection(0);
        model.schedulePreview();
        break;
    case passOn:
        break;
    }
}

void PanelController::selectScope(TypeScope scope) {
    // The circles cannot be seen while every kind is shown.
    if (panelModel->typeScope() == TypeScope::all) {
        return;
    }
    setTypeScope(panelModel->typeScope() == scope ? TypeScope::all : scope);
}

void PanelController::setTypeScope(TypeScope scope) {
    panelModel->setTypeScope(scope);
    layoutBar(Animation::spring);
    dropInResults();
    panelModel->setSelection(0);
    afterSelectionChange();
}

void PanelController::layoutBar(Animation animation) {
    const bool active = panelModel->typeScope() != TypeScope::all;
    std::vector<SpringAnimator::Move> moves;
    moves.push_back({AnimatedView::ofProperty(barGlass), QRectF(barFrame(active))});
    for (int index = 0; const Circle& circle : circles) {
        moves.push_back({AnimatedView::ofProperty(circle.view), QRectF(circleFrame(index++, active))});
    }
    const qreal opacity = active ? 1.0 : 0.0;
    if (animation == Animation::spring) {
        searchSpring->animate(std::move(moves));
        for (const Circle& circle : circles) {
            // One fade per circle, turned around by each step: repeated Tabs must not stack
            // fades that fight over the opacity.
            circle.fade->stop();
            circle.fade->setEndValue(opacity);
            circle.fade->start();
        }
    } else {
        searchSpring->stop();
        for (const SpringAnimator::Move& move : moves) {
            move.view.setFrame(move.to);
        }
        for (const Circle& circle : circles) {
            circle.fade->stop();
            static_cast<QGraphicsOpacityEffect*>(circle.view->graphicsEffect())->setOpacity(opacity);
        }
    }
    for (const Circle& circle : circles) {
        const bool current = circle.scope == panelModel->typeScope();
        circle.view->setTint(current ? std::optional(accentTint()) : std::nullopt);
        circle.view->setChecked(current);
        // Hidden circles take no clicks.
        circle.view->setOffered(active);
    }
}

void PanelController::dropInResults() {
    resultsSpring->stop();
    resultsGlass->setGeometry(resultsDropInFrame);
    std::vector<SpringAnimator::Move> moves;
    moves.push_back({AnimatedView::ofProperty(resultsGlass), QRectF(resultsFrame)});
    resultsSpring->animate(std::move(moves));
}

void PanelController::paste(const std::optional<PanelRow>& row) {
    hide();
    if (row) {
        clipPaster.paste(row->id, targetApp);
    }
}

} // namespace snipjar
