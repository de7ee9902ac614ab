#include "ThumbnailCache.h"

#include <QPainter>
#include <QPainterPath>

namespace snipjar {

namespace {

constexpr qreal cornerRadius = 4;

QPixmap roundedThumbnail(const QImage& image, int side, qreal devicePixelRatio) {
    if (image.isNull()) {
        return {};
    }
    const QSizeF frame(side, side);
    const QSizeF fitted = QSizeF(image.size()).scaled(frame, Qt::KeepAspectRatio);
    const QRectF target(QPointF((side - fitted.width()) / 2, (side - fitted.height()) / 2), fitted);

    QPixmap pixmap(QSize(side, side) * devicePixelRatio);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
    QPainterPath clip;
    clip.addRoundedRect(target, cornerRadius, cornerRadius);
    painter.setClipPath(clip);
    const QImage scaled =
        image.scaled((fitted * devicePixelRatio).toSize(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    painter.drawImage(target, scaled);
    return pixmap;
}

} // namespace

QPixmap ThumbnailCache::thumbnail(const QUuid& rowID, const QImage& image, int side, qreal devicePixelRatio) {
    if (const QPixmap* cached = pixmaps.object(rowID);
        cached != nullptr && (cached->isNull() || cached->devicePixelRatio() == devicePixelRatio)) {
        return *cached;
    }
    auto made = std::make_unique<QPixmap>(roundedThumbnail(image, side, devicePixelRatio));
    const QPixmap result = *made;
    pixmaps.insert(rowID, made.release());
    return result;
}

} // namespace snipjar
