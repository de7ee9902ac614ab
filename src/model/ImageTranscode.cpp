#include "model/ImageTranscode.h"

namespace snipjar {

std::optional<QSizeF> ImageTranscode::pixelSize(const QByteArray&) {
    return std::nullopt;
}

std::optional<ImageMetadata> ImageTranscode::metadata(const QByteArray&) {
    return std::nullopt;
}

std::optional<QByteArray> ImageTranscode::thumbnail(const QByteArray&, int) {
    return std::nullopt;
}

std::optional<QByteArray> ImageTranscode::previewImage(const QByteArray&, int) {
    return std::nullopt;
}

std::optional<ImageTranscode::Transcoded> ImageTranscode::transcode(const QByteArray&, qint64, bool) {
    return std::nullopt;
}

bool ImageTranscode::isDecodableImage(const QByteArray&) {
    return false;
}

std::optional<QByteArray> ImageTranscode::pngFromBitmap(const QByteArray&) {
    return std::nullopt;
}

std::optional<QByteArray> ImageTranscode::tiffRepresentation(const QByteArray&) {
    return std::nullopt;
}

std::optional<ImageTranscode::Transcoded> ImageTranscode::transcode(const QByteArray&, qint64, bool,
                                                                    const std::optional<QSizeF>&,
                                                                    const EncoderFactory&) {
    return std::nullopt;
}

} // namespace snipjar
