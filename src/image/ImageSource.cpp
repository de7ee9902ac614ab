#include "image/ImageSource.h"

#include "image/JpegCompleteness.h"
#include "image/VipsRuntime.h"

#include <algorithm>

namespace snipjar {

ImageSource::ImageSource(QByteArray bytes, VipsImageHandle header)
    : m_bytes(std::move(bytes))
    , m_header(std::move(header)) {}

std::optional<ImageSource> ImageSource::open(const QByteArray& bytes) {
    if (bytes.isEmpty() || !VipsRuntime::ensureStarted()) {
        return std::nullopt;
    }
    if (JpegCompleteness::isJpeg(bytes) && !JpegCompleteness::isComplete(bytes)) {
        return std::nullopt;
    }
    // Sequential access keeps memory small: the pixels are decoded in strips as an output is
    // written instead of into one buffer. A truncated file fails instead of being padded with grey.
    VipsImageHandle header(vips_image_new_from_buffer(bytes.constData(), size_t(bytes.size()), "", "access",
                                                      VIPS_ACCESS_SEQUENTIAL, "fail_on",
                                                      VIPS_FAIL_ON_TRUNCATED, nullptr));
    if (!header) {
        VipsRuntime::discardError();
        return std::nullopt;
    }
    const qint64 width = vips_image_get_width(header.get());
    const qint64 height = vips_image_get_height(header.get());
    if (width <= 0 || height <= 0 || width * height > maxPixels) {
        return std::nullopt;
    }
    return ImageSource(bytes, std::move(header));
}

int ImageSource::width() const {
    return vips_image_get_width(m_header.get());
}

int ImageSource::height() const {
    return vips_image_get_height(m_header.get());
}

VipsImageHandle ImageSource::thumbnail(int longestSide, ColourProfile colourProfile) const {
    const int side = std::max(longestSide, 1);
    const bool convert = colourProfile == ColourProfile::convertToSrgb &&
                         vips_image_get_typeof(image(), VIPS_META_ICC_NAME) != 0;
    VipsImageHandle thumbnail;
    // The thumbnail operation reads the bytes again with shrink-on-load where the format offers it,
    // which keeps large JPEGs cheap. It fits the image into a square of the given side.
    const int result =
        convert ? vips_thumbnail_buffer(const_cast<char*>(m_bytes.constData()), size_t(m_bytes.size()),
                                        thumbnail.out(), side, "height", side, "size", VIPS_SIZE_DOWN,
                                        "fail_on", VIPS_FAIL_ON_TRUNCATED, "export_profile", "srgb", nullptr)
                : vips_thumbnail_buffer(const_cast<char*>(m_bytes.constData()), size_t(m_bytes.size()),
                                        thumbnail.out(), side, "height", side, "size", VIPS_SIZE_DOWN,
                                        "fail_on", VIPS_FAIL_ON_TRUNCATED, nullptr);
    if (result != 0) {
        VipsRuntime::discardError();
        return {};
    }
    return thumbnail;
}

VipsImageHandle eightBitImage(VipsImage* image) {
    if (vips_image_get_format(image) == VIPS_FORMAT_UCHAR) {
        g_object_ref(image);
        return VipsImageHandle(image);
    }
    VipsImageHandle converted;
    const VipsInterpretation target =
        vips_image_get_bands(image) < 3 ? VIPS_INTERPRETATION_B_W : VIPS_INTERPRETATION_sRGB;
    if (vips_colourspace(image, converted.out(), target, nullptr) == 0 &&
        vips_image_get_format(converted.get()) == VIPS_FORMAT_UCHAR) {
        return converted;
    }
    VipsRuntime::discardError();
    // Images without a colour interpretation (plain multi-band data) are cut to 8 bits as they are.
    if (vips_cast_uchar(image, converted.out(), nullptr) != 0) {
        VipsRuntime::discardError();
        return {};
    }
    return converted;
}

} // namespace snipjar
