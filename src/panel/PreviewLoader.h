#pragma once

#include "image/PreviewCache.h"
#include "panel/PreviewText.h"

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>
#include <QUuid>

#include <optional>
#include <stop_token>

namespace snipjar {

class ClipStore;

// The parts of a preview load that run off the main thread: the image of an image clip (from the
// preview cache, else rendered and cached, then decoded) and the payload of a long or rich text;
// and the rows' thumbnails. They read
// the store only through fresh contexts of its containers, take no locks, and give up early once
// their preview is cancelled; the model applies their results on the main thread.
class PreviewLoader {
public:
    struct ImageRequest {
        PreviewCache cache;
        QString key;
        int side = PreviewCache::previewSide;
        // The item has no stored pixel size yet, so the loader measures the full image.
        bool needsPixelSize = false;
        QUuid id;
    };
    struct ImageResult {
        std::optional<QByteArray> imageData;
        // The preview decoded, so that the main thread only shows it; null when it does not decode.
        QImage image;
        std::optional<QSize> pixelSize;
    };
    struct PayloadResult {
        // The full text, already cut and counted here because it may be megabytes long.
        std::optional<PreviewText> text;
        std::optional<QByteArray> richTextData;
    };

    static ImageResult loadImage(ClipStore& store, const ImageRequest& request, std::stop_token stop);
    // The thumbnail of an item of either store, decoded; null when it has none.
    static QImage loadThumbnail(ClipStore& store, const QUuid& id);
    static PayloadResult loadPayload(ClipStore& store, const QUuid& id, std::stop_token stop);
};

} // namespace snipjar
