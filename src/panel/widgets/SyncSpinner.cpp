#include "SyncSpinner.h"

#include "PanelPalette.h"

#include <QPainter>

namespace snipjar {

namespace {

constexpr int frameInterval = 16;
constexpr int degreesPerFrame = 6;

} // namespace

SyncSpinner::SyncSpinner(QWidget* parent)
    : QWidget(parent) {
    setFixedSize(sizeHint());
    setAccessibleName(tr("Syncing"));
    timer.setInterval(frameInterval);
    connect(&timer, &QTimer::timeout, this, [this] {
        angle = (angle + degreesPerFrame) % 360;
        update();
    });
}

void SyncSpinner::setSpinning(bool newSpinning) {
    spinning = newSpinning;
    setVisible(spinning);
    updateTimer();
}

void SyncSpinner::updateTimer() {
    if (spinning && isVisible()) {
        timer.start();
    } else {
        timer.stop();
    }
}

void SyncSpinner::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    updateTimer();
}

void SyncSpinner::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    updateTimer();
}

void SyncSpinner::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPen pen(PanelPalette::instance().secondary, 2.0);
    pen.setCapStyle(Qt::RoundCap);
    painter.setPen(pen);
    const QRectF arc = QRectF(rect()).adjusted(2, 2, -2, -2);
    // Qt counts angles in sixteenths of a degree, anticlockwise; the arc turns clockwise.
    painter.drawArc(arc, -angle * 16, 270 * 16);
}

} // namespace snipjar
