#include "app/tray/TrayIconEngine.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPixmapCache>

#include <algorithm>
#include <cmath>

namespace snipjar {

namespace {

// The bundled paperclip symbol on its 24-unit grid: straight strokes joined by three half circles,
// stroked 2 units wide with round ends and joins.
QPainterPath paperclipOutline() {
    QPainterPath path(QPointF(20.5, 11.5));
    // Each bend turns clockwise on screen (a negative sweep here) from one end of its diameter to
    // the other.
    const auto halfCircle = [&path](QPointF to) {
        const QPointF from = path.currentPosition();
        const QPointF centre = (from + to) / 2;
        const QPointF radius = from - centre;
        const qreal r = std::hypot(radius.x(), radius.y());
        const qreal startDegrees = qRadiansToDegrees(std::atan2(-radius.y(), radius.x()));
        path.arcTo(QRectF(centre.x() - r, centre.y() - r, 2 * r, 2 * r), startDegrees, -180);
    };
    path.lineTo(12.3, 19.7);
    halfCircle(QPointF(5.2, 12.6));
    path.lineTo(13.7, 4.1);
    halfCircle(QPointF(18.4, 8.8));
    path.lineTo(9.9, 17.3);
    halfCircle(QPointF(7.5, 14.9));
    path.lineTo(15.3, 7.1);
    return path;
}

constexpr int gridUnits = 24;
constexpr int offeredSides[] = {16, 22, 24, 32, 48};

} // namespace

TrayIconEngine::TrayIconEngine(QColor colour)
    : colour(colour) {}

void TrayIconEngine::paint(QPainter* painter, const QRect& rect, QIcon::Mode, QIcon::State) {
    const qreal side = std::min(rect.width(), rect.height());
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->translate(rect.x() + (rect.width() - side) / 2, rect.y() + (rect.height() - side) / 2);
    painter->scale(side / gridUnits, side / gridUnits);
    painter->setPen(QPen(colour, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter->setBrush(Qt::NoBrush);
    painter->drawPath(paperclipOutline());
    painter->restore();
}

QPixmap TrayIconEngine::pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) {
    const QString cacheKey = QStringLiteral("trayIcon/%1x%2/%3")
                                 .arg(size.width())
                                 .arg(size.height())
                                 .arg(colour.name(QColor::HexArgb));
    QPixmap drawn;
    if (QPixmapCache::find(cacheKey, &drawn)) {
        return drawn;
    }
    drawn = QPixmap(size);
    drawn.fill(Qt::transparent);
    {
        QPainter painter(&drawn);
        paint(&painter, drawn.rect(), mode, state);
    }
    QPixmapCache::insert(cacheKey, drawn);
    return drawn;
}

QSize TrayIconEngine::actualSize(const QSize& size, QIcon::Mode, QIcon::State) {
    return size;
}

QList<QSize> TrayIconEngine::availableSizes(QIcon::Mode, QIcon::State) {
    QList<QSize> sizes;
    for (const int side : offeredSides) {
        sizes.append(QSize(side, side));
    }
    return sizes;
}

QIconEngine* TrayIconEngine::clone() const {
    return new TrayIconEngine(colour);
}

QString TrayIconEngine::key() const {
    return QStringLiteral("snipjar-tray");
}

} // namespace snipjar
