#pragma once

#include "model/PreviewCache.h"
#include "panel/PreviewText.h"

#include <QByteArray>
#include <QSize>
#include <QString>
#include <QUuid>

#include <optional>
#include <stop_token>

namespace snipjar {

class ClipStore;

// The two parts of a preview load that run off the main thread: the image of an image clip (from
// the preview cache, else rendered and cached) and the payload of a long or rich text. They read
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
        std::optional<QSize> pixelSize;
    };
    struct PayloadResult {
        // The full text, already cut and counted here because it may be megabytes long.
        std::optional<PreviewText> text;
        std::optional<QByteArray> richTextData;
    };

    static ImageResult loadImage(ClipStore& store, const ImageRequest& request, std::stop_token stop);
    static PayloadResult loadPayload(ClipStore& store, const QUuid& id, std::stop_token stop);
};

} // namespace snipjar
