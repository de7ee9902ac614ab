#include "panel/ImageDecoding.h"

#include "image/ImageTranscode.h"

#include <atomic>

namespace snipjar {

namespace {

std::atomic<ImageDecodeObserver> decodeObserver{nullptr};

} // namespace

void setImageDecodeObserver(ImageDecodeObserver observer) {
    decodeObserver.store(observer);
}

QImage decodeImage(const QByteArray& bytes) {
    if (bytes.isEmpty()) {
        return {};
    }
    if (const ImageDecodeObserver observer = decodeObserver.load()) {
        observer();
    }
    QImage image = QImage::fromData(bytes);
    if (!image.isNull()) {
        return image;
    }
    // Qt has no HEIC reader without an extra plugin; libvips decodes it, and PNG is the one
    // lossless form both sides read.
    const std::optional<QByteArray> png = ImageTranscode::pngFromBitmap(bytes);
    return png ? QImage::fromData(*png, "PNG") : QImage();
}

} // namespace snipjar
