#include "ImageDecoding.h"

#include "model/ImageTranscode.h"

namespace snipjar {

QImage decodeImage(const QByteArray& bytes) {
    if (bytes.isEmpty()) {
        return {};
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
