#include "panel/widgets/ClipPanel.h"

#include "panel/widgets/GlassView.h"

#include <QInputMethodEvent>
#include <QMouseEvent>
#include <QPainterPath>
#include <QRegion>

namespace snipjar {

ClipPanel::ClipPanel(QWidget* parent)
    : QWidget(parent,
              Qt::Popup | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::NoDropShadowWindowHint) {
    setWindowTitle(QStringLiteral("Snipjar"));
    setFixedSize(contentSize);
    // Keys reach the panel through its key monitor and the input method through this window, so
    // no child ever takes the focus (a list would otherwise eat the arrows).
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled);
    setAttribute(Qt::WA_TranslucentBackground);
}

void ClipPanel::setCompositing(bool newCompositing) {
    compositing = newCompositing;
    updateShape();
}

void ClipPanel::trackGlass(GlassView* glass) {
    glasses.append(glass);
    glass->installEventFilter(this);
    updateShape();
}

bool ClipPanel::eventFilter(QObject* watched, QEvent* event) {
    if ((event->type() == QEvent::Move || event->type() == QEvent::Resize) && !compositing) {
        updateShape();
    }
    return QWidget::eventFilter(watched, event);
}

void ClipPanel::updateShape() {
    if (compositing) {
        clearMask();
        return;
    }
    // A window mask has no soft edges; the glass paints its own antialiased outline inside it.
    QRegion shape;
    for (const QPointer<GlassView>& glass : std::as_const(glasses)) {
        if (!glass) {
            continue;
        }
        QPainterPath path;
        path.addRoundedRect(QRectF(glass->geometry()), glass->cornerRadius(), glass->cornerRadius());
        shape += QRegion(path.toFillPolygon().toPolygon());
    }
    setMask(shape);
}

void ClipPanel::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    closedByOutsidePress = false;
}

void ClipPanel::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    dragOffset.reset();
    if (onHidden) {
        onHidden();
    }
}

void ClipPanel::mousePressEvent(QMouseEvent* event) {
    // A popup sees every press while it is open; one outside it closes it.
    closedByOutsidePress = !rect().contains(event->position().toPoint());
    if (closedByOutsidePress) {
        QWidget::mousePressEvent(event);
        return;
    }
    if (event->button() == Qt::LeftButton) {
        dragOffset = event->position().toPoint();
        event->accept();
    }
}

void ClipPanel::mouseMoveEvent(QMouseEvent* event) {
    if (dragOffset && (event->buttons() & Qt::LeftButton)) {
        move(event->globalPosition().toPoint() - *dragOffset);
        event->accept();
        return;
    }
    QWidget::mouseMoveEvent(event);
}

void ClipPanel::mouseReleaseEvent(QMouseEvent* event) {
    dragOffset.reset();
    QWidget::mouseReleaseEvent(event);
}

void ClipPanel::inputMethodEvent(QInputMethodEvent* event) {
    // Only committed text counts; what is still being composed stays with the input method.
    if (!event->commitString().isEmpty() && onInputText) {
        onInputText(event->commitString());
    }
    event->accept();
}

QVariant ClipPanel::inputMethodQuery(Qt::InputMethodQuery query) const {
    switch (query) {
    case Qt::ImEnabled:
        return true;
    case Qt::ImCursorRectangle:
        // The input method's candidate window opens under the search bar.
        return QRect(18, 9, 1, 54);
    default:
        return QWidget::inputMethodQuery(query);
    }
}

} // namespace snipjar
