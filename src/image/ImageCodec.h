#pragma once

#include "image/ImageTranscode.h"
#include "model/ImageMetadata.h"

#include <QByteArray>
#include <QSizeF>

#include <memory>
#include <optional>

namespace snipjar {

// The image operations that need libvips, exiv2 and libheif (see ImageTranscode for what each
// does). They are built into a module of their own, loaded the first time an image is handled:
// those libraries bring some eighty more shared libraries with them, and linking them at every
// start cost more than everything else Snipjar does before it is ready, while most starts never
// meet an image.
class ImageCodec {
public:
    virtual ~ImageCodec() = default;

    virtual std::optional<QSizeF> pixelSize(const QByteArray& bytes) const = 0;
    virtual std::optional<ImageMetadata> metadata(const QByteArray& bytes) const = 0;
    virtual std::optional<QByteArray> thumbnail(const QByteArray& bytes, int maxPixels) const = 0;
    virtual std::optional<QByteArray> previewImage(const QByteArray& bytes, int maxPixels) const = 0;
    virtual std::unique_ptr<ImageTranscode::Encoder> heicEncoder(const QByteArray& bytes) const = 0;
    virtual bool isDecodableImage(const QByteArray& bytes) const = 0;
    virtual std::optional<QByteArray> pngFromBitmap(const QByteArray& bytes) const = 0;
    virtual std::optional<QByteArray> tiffRepresentation(const QByteArray& bytes) const = 0;

    // The module's codec, loaded on first use from whichever thread comes first and kept for the
    // life of the process. None when the module cannot be loaded (a damaged installation, said once
    // in the log): every image operation then fails as it does for an unreadable image.
    static const ImageCodec* loaded();
};

} // namespace snipjar

// The module's one entry point.
extern "C" {
using SnipjarImageCodecEntry = const snipjar::ImageCodec* (*)();
}
#define SNIPJAR_IMAGE_CODEC_ENTRY "snipjar_image_codec"
