#include "PreviewImageView.h"

#include <QPainter>

namespace snipjar {

namespace {

constexpr int inset = 16;

} // namespace

PreviewImageView::PreviewImageView(QImage image, QWidget* parent)
    : QWidget(parent)
    , decoded(std::move(image)) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

QRect PreviewImageView::imageRect() const {
    const QRect area = rect().adjusted(inset, inset, -inset, -inset);
    if (decoded.isNull() || area.isEmpty()) {
        return {};
    }
    const QSize fitted = decoded.size().scaled(area.size(), Qt::KeepAspectRatio);
    QRect target(QPoint(0, 0), fitted);
    target.moveCenter(area.center());
    return target;
}

void PreviewImageView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    // Scaled again at the next paint, from the decoded image.
    scaled = QPixmap();
}

void PreviewImageView::paintEvent(QPaintEvent*) {
    const QRect target = imageRect();
    if (target.isEmpty()) {
        return;
    }
    const qreal dpr = devicePixelRatioF();
    if (scaled.isNull()) {
        scaled = QPixmap::fromImage(
            decoded.scaled(target.size() * dpr, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
        scaled.setDevicePixelRatio(dpr);
    }
    QPainter(this).drawPixmap(target.topLeft(), scaled);
}

} // namespace snipjar
