#include "image/ImageEncoding.h"

#include "image/EmbeddedMetadata.h"
#include "image/ImageSource.h"
#include "image/VipsImageHandle.h"
#include "image/VipsRuntime.h"

#include <libheif/heif.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

namespace snipjar {

namespace {

// The x265 speed preset. The slower presets save a few per cent of bytes at the same quality but
// take three to six times as long, and a transcode may encode a large image many times.
constexpr char heicEncoderPreset[] = "ultrafast";

// Takes over a buffer that libvips allocated.
std::optional<QByteArray> adoptBuffer(int result, void* buffer, size_t length) {
    if (result != 0 || buffer == nullptr) {
        VipsRuntime::discardError();
        g_free(buffer);
        return std::nullopt;
    }
    QByteArray bytes(static_cast<const char*>(buffer), qsizetype(length));
    g_free(buffer);
    return bytes;
}

// The encoder's quality scale runs from 1 to 100.
int qualityFactor(double quality) {
    return std::clamp(int(std::lround(quality * 100.0)), 1, 100);
}

// An 8-bit RGB or RGBA copy in memory, the only layouts handed to the HEVC encoder.
VipsImageHandle interleavedRgb(VipsImage* image) {
    VipsImageHandle current = eightBitImage(image);
    if (!current) {
        return {};
    }
    const int bands = vips_image_get_bands(current.get());
    if (bands != 3 && bands != 4) {
        VipsImageHandle rgb;
        if (vips_colourspace(current.get(), rgb.out(), VIPS_INTERPRETATION_sRGB, nullptr) != 0) {
            VipsRuntime::discardError();
            return {};
        }
        current = eightBitImage(rgb.get());
        if (!current) {
            return {};
        }
    }
    const int finalBands = vips_image_get_bands(current.get());
    if (finalBands != 3 && finalBands != 4) {
        return {};
    }
    VipsImageHandle memory(vips_image_copy_memory(current.get()));
    if (!memory) {
        VipsRuntime::discardError();
    }
    return memory;
}

struct HeifContextFree {
    void operator()(heif_context* context) const { heif_context_free(context); }
};
struct HeifEncoderRelease {
    void operator()(heif_encoder* encoder) const { heif_encoder_release(encoder); }
};
struct HeifImageRelease {
    void operator()(heif_image* image) const { heif_image_release(image); }
};
struct HeifHandleRelease {
    void operator()(heif_image_handle* handle) const { heif_image_handle_release(handle); }
};

heif_error appendToByteArray(heif_context*, const void* data, size_t size, void* userData) {
    static_cast<QByteArray*>(userData)->append(static_cast<const char*>(data), qsizetype(size));
    return heif_error{heif_error_Ok, heif_suberror_Unspecified, ""};
}

std::unique_ptr<heif_image, HeifImageRelease> heifImage(VipsImage* rgb) {
    const int width = vips_image_get_width(rgb);
    const int height = vips_image_get_height(rgb);
    const bool alpha = vips_image_get_bands(rgb) == 4;
    heif_image* raw = nullptr;
    if (heif_image_create(width, height, heif_colorspace_RGB,
                          alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, &raw)
            .code != heif_error_Ok) {
        return nullptr;
    }
    std::unique_ptr<heif_image, HeifImageRelease> image(raw);
    if (heif_image_add_plane(image.get(), heif_channel_interleaved, width, height, 8).code != heif_error_Ok) {
        return nullptr;
    }
    int stride = 0;
    uint8_t* plane = heif_image_get_plane(image.get(), heif_channel_interleaved, &stride);
    if (plane == nullptr) {
        return nullptr;
    }
    const size_t rowBytes = VIPS_IMAGE_SIZEOF_LINE(rgb);
    for (int y = 0; y < height; ++y) {
        std::memcpy(plane + size_t(y) * size_t(stride), VIPS_IMAGE_ADDR(rgb, 0, y), rowBytes);
    }
    return image;
}

} // namespace

std::optional<QByteArray> encodeHEIC(VipsImage* image, double quality, const EmbeddedMetadata* metadata) {
    const VipsImageHandle rgb = interleavedRgb(image);
    if (!rgb) {
        return std::nullopt;
    }
    std::unique_ptr<heif_context, HeifContextFree> context(heif_context_alloc());
    if (!context) {
        return std::nullopt;
    }
    heif_encoder* rawEncoder = nullptr;
    if (heif_context_get_encoder_for_format(context.get(), heif_compression_HEVC, &rawEncoder).code !=
        heif_error_Ok) {
        return std::nullopt;
    }
    std::unique_ptr<heif_encoder, HeifEncoderRelease> encoder(rawEncoder);
    heif_encoder_set_lossy_quality(encoder.get(), qualityFactor(quality));
    // An encoder without the preset parameter keeps its own default speed.
    heif_encoder_set_parameter_string(encoder.get(), "preset", heicEncoderPreset);

    const auto heifPixels = heifImage(rgb.get());
    if (!heifPixels) {
        return std::nullopt;
    }
    if (metadata && !metadata->iccProfile.isEmpty()) {
        heif_image_set_raw_color_profile(heifPixels.get(), "prof", metadata->iccProfile.constData(),
                                         size_t(metadata->iccProfile.size()));
    }
    heif_image_handle* rawHandle = nullptr;
    if (heif_context_encode_image(context.get(), heifPixels.get(), encoder.get(), nullptr, &rawHandle).code !=
        heif_error_Ok) {
        return std::nullopt;
    }
    std::unique_ptr<heif_image_handle, HeifHandleRelease> handle(rawHandle);
    if (metadata && !metadata->exif.isEmpty()) {
        heif_context_add_exif_metadata(context.get(), handle.get(), metadata->exif.constData(),
                                       int(metadata->exif.size()));
    }
    if (metadata && !metadata->xmp.isEmpty()) {
        heif_context_add_XMP_metadata(context.get(), handle.get(), metadata->xmp.constData(),
                                      int(metadata->xmp.size()));
    }
    QByteArray bytes;
    heif_writer writer{1, &appendToByteArray};
    if (heif_context_write(context.get(), &writer, &bytes).code != heif_error_Ok || bytes.isEmpty()) {
        return std::nullopt;
    }
    return bytes;
}

std::optional<QByteArray> encodePNG(VipsImage* image) {
    void* buffer = nullptr;
    size_t length = 0;
    const int result = vips_pngsave_buffer(image, &buffer, &length, "strip", TRUE, nullptr);
    return adoptBuffer(result, buffer, length);
}

std::optional<QByteArray> encodeTIFF(VipsImage* image) {
    void* buffer = nullptr;
    size_t length = 0;
    const int result = vips_tiffsave_buffer(image, &buffer, &length, "compression",
                                            VIPS_FOREIGN_TIFF_COMPRESSION_LZW, nullptr);
    return adoptBuffer(result, buffer, length);
}

} // namespace snipjar
