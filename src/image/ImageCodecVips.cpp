#include "image/ImageCodec.h"

#include "image/HeicTranscodeEncoder.h"
#include "image/ImageEncoding.h"
#include "image/ImageMetadataReader.h"
#include "image/ImageSource.h"
#include "image/VipsRuntime.h"

namespace snipjar {

namespace {

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

// The operations on libvips and exiv2 that ImageTranscode offers.
class VipsImageCodec final : public ImageCodec {
public:
    std::optional<QSizeF> pixelSize(const QByteArray& bytes) const override {
        const auto source = ImageSource::open(bytes);
        if (!source) {
            return std::nullopt;
        }
        return QSizeF(source->width(), source->height());
    }

    std::optional<ImageMetadata> metadata(const QByteArray& bytes) const override {
        const auto source = ImageSource::open(bytes);
        if (!source) {
            return std::nullopt;
        }
        return ImageMetadataReader::read(*source);
    }

    std::optional<QByteArray> thumbnail(const QByteArray& bytes, int maxPixels) const override {
        const VipsImageHandle image = displayImage(bytes, maxPixels);
        if (!image) {
            return std::nullopt;
        }
        return encodePNG(image.get());
    }

    std::optional<QByteArray> previewImage(const QByteArray& bytes, int maxPixels) const override {
        const VipsImageHandle image = displayImage(bytes, maxPixels);
        if (!image) {
            return std::nullopt;
        }
        return encodeHEIC(image.get(), previewQuality, nullptr);
    }

    std::unique_ptr<ImageTranscode::Encoder> heicEncoder(const QByteArray& bytes) const override {
        return std::make_unique<HeicTranscodeEncoder>(bytes);
    }

    bool isDecodableImage(const QByteArray& bytes) const override {
        return ImageSource::open(bytes).has_value();
    }

    std::optional<QByteArray> pngFromBitmap(const QByteArray& bytes) const override {
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

    std::optional<QByteArray> tiffRepresentation(const QByteArray& bytes) const override {
        // A PDF opens at its first page, rendered at 72 pixels per inch.
        const auto source = ImageSource::open(bytes);
        if (!source) {
            return std::nullopt;
        }
        return encodeTIFF(source->image());
    }
};

} // namespace

} // namespace snipjar

extern "C" Q_DECL_EXPORT const snipjar::ImageCodec* snipjar_image_codec() {
    static const snipjar::VipsImageCodec codec;
    return &codec;
}
