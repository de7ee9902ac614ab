#pragma once

#include <QCache>
#include <QImage>
#include <QPixmap>
#include <QUuid>

namespace snipjar {

// Row thumbnails scaled and clipped once per row id, so that scrolling through the list paints from
// memory. The panel model decodes them on its loaders; a thumbnail that did not decode is
// remembered as a null pixmap.
class ThumbnailCache {
public:
    // The rounded square of `side` logical pixels holding the decoded thumbnail, aspect kept; null
    // for a null image.
    QPixmap thumbnail(const QUuid& rowID, const QImage& image, int side, qreal devicePixelRatio);

    void clear() { pixmaps.clear(); }

private:
    QCache<QUuid, QPixmap> pixmaps{256};
};

} // namespace snipjar
