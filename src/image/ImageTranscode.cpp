#include "image/ImageTranscode.h"

#include "image/ImageCodec.h"
#include "image/TranscodeSearch.h"

namespace snipjar {

namespace {

const QString heicTypeIdentifier = QStringLiteral("public.heic");

} // namespace

std::optional<QSizeF> ImageTranscode::pixelSize(const QByteArray& bytes) {
    const ImageCodec* codec = ImageCodec::loaded();
    return codec ? codec->pixelSize(bytes) : std::nullopt;
}

std::optional<ImageMetadata> ImageTranscode::metadata(const QByteArray& bytes) {
    const ImageCodec* codec = ImageCodec::loaded();
    return codec ? codec->metadata(bytes) : std::nullopt;
}

std::optional<QByteArray> ImageTranscode::thumbnail(const QByteArray& bytes, int maxPixels) {
    const ImageCodec* codec = ImageCodec::loaded();
    return codec ? codec->thumbnail(bytes, maxPixels) : std::nullopt;
}

std::optional<QByteArray> ImageTranscode::previewImage(const QByteArray& bytes, int maxPixels) {
    const ImageCodec* codec = ImageCodec::loaded();
    return codec ? codec->previewImage(bytes, maxPixels) : std::nullopt;
}

std::optional<ImageTranscode::Transcoded> ImageTranscode::transcode(const QByteArray& bytes,
                                                                    qint64 targetBytes, bool keepMetadata) {
    return transcode(bytes, targetBytes, keepMetadata, pixelSize(bytes), heicEncoderFactory());
}

std::optional<ImageTranscode::Transcoded>
ImageTranscode::transcode(const QByteArray& bytes, qint64 targetBytes, bool keepMetadata,
                          const std::optional<QSizeF>& knownPixelSize, const EncoderFactory& makeEncoder) {
    const std::unique_ptr<Encoder> encoder = makeEncoder ? makeEncoder(bytes) : nullptr;
    if (!encoder) {
        return std::nullopt;
    }
    auto encoded = TranscodeSearch::run(*encoder, targetBytes, keepMetadata, knownPixelSize);
    if (!encoded) {
        return std::nullopt;
    }
    return Transcoded{std::move(*encoded), heicTypeIdentifier};
}

ImageTranscode::EncoderFactory ImageTranscode::heicEncoderFactory() {
    return [](const QByteArray& bytes) -> std::unique_ptr<Encoder> {
        const ImageCodec* codec = ImageCodec::loaded();
        return codec ? codec->heicEncoder(bytes) : nullptr;
    };
}

bool ImageTranscode::isDecodableImage(const QByteArray& bytes) {
    const ImageCodec* codec = ImageCodec::loaded();
    return codec && codec->isDecodableImage(bytes);
}

std::optional<QByteArray> ImageTranscode::pngFromBitmap(const QByteArray& bytes) {
    const ImageCodec* codec = ImageCodec::loaded();
    return codec ? codec->pngFromBitmap(bytes) : std::nullopt;
}

std::optional<QByteArray> ImageTranscode::tiffRepresentation(const QByteArray& bytes) {
    const ImageCodec* codec = ImageCodec::loaded();
    return codec ? codec->tiffRepresentation(bytes) : std::nullopt;
}

} // namespace snipjar
