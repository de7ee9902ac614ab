#include "model/ImageTranscode.h"

#include "model/HeicTranscodeEncoder.h"
#include "model/ImageEncoding.h"
#include "model/ImageMetadataReader.h"
#include "model/ImageSource.h"
#include "model/TranscodeSearch.h"
#include "model/VipsRuntime.h"

namespace snipjar {

namespace {

const QString heicTypeIdentifier = QStringLiteral("public.heic");
constexpr double previewQuality = 0.87;

// The small images shown in lists and previews: upright, 8-bit, in sRGB, without the source's
// metadata.
VipsImageHandle displayImage(const QByteArray& bytes, int maxPixels) {
    const auto source = ImageSource::open(bytes);
    if (!source) {
        return {};
    }
    const VipsImageHandle thumbnail = source->thumbnail(maxPixels, ImageSource::ColourProfile::convertToSrgb);
    if (!thumbnail) {
        return {};
    }
    return eightBitImage(thumbnail.get());
}

} // namespace

std::optional<QSizeF> ImageTranscode::pixelSize(const QByteArray& bytes) {
    const auto source = ImageSource::open(bytes);
    if (!source) {
        return std::nullopt;
    }
    return QSizeF(source->width(), source->height());
}

std::optional<ImageMetadata> ImageTranscode::metadata(const QByteArray& bytes) {
    const auto source = ImageSource::open(bytes);
    if (!source) {
        return std::nullopt;
    }
    return ImageMetadataReader::read(*source);
}

std::optional<QByteArray> ImageTranscode::thumbnail(const QByteArray& bytes, int maxPixels) {
    const VipsImageHandle image = displayImage(bytes, maxPixels);
    if (!image) {
        return std::nullopt;
    }
    return encodePNG(image.get());
}

std::optional<QByteArray> ImageTranscode::previewImage(const QByteArray& bytes, int maxPixels) {
    const VipsImageHandle image = displayImage(bytes, maxPixels);
    if (!image) {
        return std::nullopt;
    }
    return encodeHEIC(image.get(), previewQuality, nullptr);
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
        return std::make_unique<HeicTranscodeEncoder>(bytes);
    };
}

bool ImageTranscode::isDecodableImage(const QByteArray& bytes) {
    return ImageSource::open(bytes).has_value();
}

std::optional<QByteArray> ImageTranscode::pngFromBitmap(const QByteArray& bytes) {
    const auto source = ImageSource::open(bytes);
    if (!source) {
        return std::nullopt;
    }
    // The PNG carries no metadata, so a bitmap with a colour profile is converted to sRGB first.
    VipsImageHandle srgb;
    if (vips_image_get_typeof(source->image(), VIPS_META_ICC_NAME) != 0) {
        if (vips_icc_transform(source->image(), srgb.out(), "srgb", "embedded", TRUE, nullptr) != 0) {
            VipsRuntime::discardError();
            return std::nullopt;
        }
    }
    return encodePNG(srgb ? srgb.get() : source->image());
}

std::optional<QByteArray> ImageTranscode::tiffRepresentation(const QByteArray& bytes) {
    // A PDF opens at its first page, rendered at 72 pixels per inch.
    const auto source = ImageSource::open(bytes);
    if (!source) {
        return std::nullopt;
    }
    return encodeTIFF(source->image());
}

} // namespace snipjar
