#include "panel/widgets/GlassView.h"

#include <QPainter>
#include <QPainterPath>
#include <QPalette>

namespace snipjar {

GlassView::GlassView(qreal cornerRadius, QWidget* parent)
    : QWidget(parent)
    , radius(cornerRadius) {
    setAttribute(Qt::WA_TranslucentBackground);
}

void GlassView::setMaterial(Material newMaterial) {
    if (material != newMaterial) {
        material = newMaterial;
        update();
    }
}

void GlassView::setTint(const std::optional<QColor>& tint) {
    if (currentTint != tint) {
        currentTint = tint;
        update();
    }
}

void GlassView::setContent(QWidget* newContent) {
    content = newContent;
    if (content) {
        content->setParent(this);
        content->setGeometry(rect());
        content->show();
    }
}

void GlassView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (content) {
        content->setGeometry(rect());
    }
}

void GlassView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    const QRectF bounds = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    shape.addRoundedRect(bounds, radius, radius);

    QColor fill = palette().color(QPalette::Window);
    if (material == Material::translucent) {
        fill.setAlphaF(0.82);
    }
    painter.fillPath(shape, fill);
    if (currentTint) {
        painter.fillPath(shape, *currentTint);
    }
    // A hairline edge keeps the pieces apart from each other and from a background of their colour.
    QColor edge = palette().color(QPalette::WindowText);
    edge.setAlphaF(0.12);
    painter.setPen(QPen(edge, 1));
    painter.drawPath(shape);
}

} // namespace snipjar
