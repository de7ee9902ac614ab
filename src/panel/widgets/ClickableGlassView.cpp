#include "panel/widgets/ClickableGlassView.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QMouseEvent>

namespace snipjar {

namespace {

// What screen readers are told of a circle: a checkable button that can be pressed.
class ClickableGlassAccessible : public QAccessibleWidget {
public:
    explicit ClickableGlassAccessible(ClickableGlassView* view)
        : QAccessibleWidget(view, QAccessible::Button) {}

    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        const auto* view = static_cast<const ClickableGlassView*>(widget());
        state.checkable = true;
        state.checked = view->isChecked();
        state.invisible = state.invisible || !view->isOffered();
        return state;
    }
    QStringList actionNames() const override { return {pressAction()}; }
    void doAction(const QString& actionName) override {
        auto* view = static_cast<ClickableGlassView*>(widget());
        if (actionName == pressAction() && view->isOffered() && view->onClick) {
            view->onClick();
        }
    }
};

QAccessibleInterface* accessibleFactory(const QString&, QObject* object) {
    if (auto* view = qobject_cast<ClickableGlassView*>(object)) {
        return new ClickableGlassAccessible(view);
    }
    return nullptr;
}

} // namespace

ClickableGlassView::ClickableGlassView(qreal cornerRadius, QWidget* parent)
    : GlassView(cornerRadius, parent) {
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(accessibleFactory);
        return true;
    }();
    Q_UNUSED(factoryInstalled);
}

void ClickableGlassView::setChecked(bool newChecked) {
    if (checked == newChecked) {
        return;
    }
    checked = newChecked;
    QAccessible::State changed;
    changed.checked = true;
    QAccessibleStateChangeEvent event(this, changed);
    QAccessible::updateAccessibility(&event);
}

void ClickableGlassView::setOffered(bool offered) {
    if (offered == isOffered()) {
        return;
    }
    setAttribute(Qt::WA_TransparentForMouseEvents, !offered);
    QAccessible::State changed;
    changed.invisible = true;
    QAccessibleStateChangeEvent event(this, changed);
    QAccessible::updateAccessibility(&event);
}

void ClickableGlassView::mousePressEvent(QMouseEvent* event) {
    if (onClick && event->button() == Qt::LeftButton) {
        event->accept();
        onClick();
        return;
    }
    GlassView::mousePressEvent(event);
}

} // namespace snipjar
