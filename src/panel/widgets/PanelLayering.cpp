#include "panel/widgets/PanelLayering.h"

#include "platform/LogCategories.h"

#include <QApplication>
#include <QMouseEvent>
#include <QWindow>

namespace snipjar {

namespace {

constexpr Qt::WindowFlags panelWindowFlags =
    Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::NoDropShadowWindowHint;

// A window that draws nothing and reports every press on it.
class Backdrop : public QWidget {
public:
    explicit Backdrop(std::function<void()> onPress)
        : QWidget(nullptr, panelWindowFlags | WindowLayers::layerFlag)
        , onPress(std::move(onPress)) {
        setAttribute(Qt::WA_TranslucentBackground);
        setAttribute(Qt::WA_ShowWithoutActivating);
        setFocusPolicy(Qt::NoFocus);
        setWindowTitle(QStringLiteral("Snipjar backdrop"));
    }

protected:
    void mousePressEvent(QMouseEvent* event) override {
        event->accept();
        onPress();
    }

private:
    std::function<void()> onPress;
};

} // namespace

PanelLayering::PanelLayering(QWidget& panel, WindowLayers& layers, std::function<void()> onLeft)
    : panel(panel)
    , layers(layers)
    , onLeft(std::move(onLeft))
    , ownFlags(panel.windowFlags()) {
    panel.setWindowFlags(panelWindowFlags | WindowLayers::layerFlag);
    qApp->installEventFilter(this);
}

bool PanelLayering::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::ToolTip:
    case QEvent::ContextMenu:
    case QEvent::WhatsThis:
        if (auto* widget = qobject_cast<QWidget*>(watched); widget && widget->window() == &panel) {
            return true;
        }
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

PanelLayering::~PanelLayering() {
    hiding();
}

bool PanelLayering::shown() {
    const QPointer<PanelLayering> self(this);
    const auto closed = [self] {
        if (self) {
            self->left();
        }
    };
    layered = layers.raise(panel.windowHandle(), WindowLayers::Role::front, closed);
    if (layered) {
        if (!toldLayered) {
            toldLayered = true;
            qCInfo(lcApp) << "The panel is a layer of the desktop, above every window";
        }
        // Made for each show and dropped at each hide, since its frame is the size of the output.
        // Without it the panel still works; a press outside then just does not close it.
        backdrop = std::make_unique<Backdrop>([self] {
            if (self) {
                qCDebug(lcApp) << "Panel hidden: a press outside it";
                self->left();
            }
        });
        backdrop->show();
        if (layers.raise(backdrop->windowHandle(), WindowLayers::Role::backdrop, closed)) {
            // The layer took the output's size, which the widget follows before its first frame.
            backdrop->resize(backdrop->windowHandle()->size());
        } else {
            backdrop->hide();
        }
        return true;
    }
    qCWarning(lcApp) << "The panel could not become a layer of the desktop; it is an ordinary window";
    return false;
}

void PanelLayering::giveUp() {
    panel.setWindowFlags(ownFlags);
}

void PanelLayering::hiding() {
    if (!layered) {
        return;
    }
    layered = false;
    if (backdrop) {
        layers.lower(backdrop->windowHandle());
        backdrop->hide();
        // A press on it may be what hides the panel: it goes once that press was handled.
        backdrop.release()->deleteLater();
    }
    layers.lower(panel.windowHandle());
}

void PanelLayering::left() {
    if (layered && onLeft) {
        onLeft();
    }
}

} // namespace snipjar
