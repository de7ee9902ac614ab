#pragma once

#include <QByteArray>
#include <QCache>
#include <QPixmap>
#include <QUuid>

namespace snipjar {

// Row thumbnails decoded, scaled and clipped once per row id, so that scrolling through the list
// paints from memory instead of decoding again. A thumbnail that does not decode is remembered as
// a null pixmap, so it is not tried again either.
class ThumbnailCache {
public:
    // The rounded square of `side` logical pixels holding the thumbnail, aspect kept; null when the
    // bytes do not decode.
    QPixmap thumbnail(const QUuid& rowID, const QByteArray& bytes, int side, qreal devicePixelRatio);

    void clear() { pixmaps.clear(); }

private:
    QCache<QUuid, QPixmap> pixmaps{256};
};

} // namespace snipjar
