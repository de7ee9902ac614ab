#include "FuzzInput.h"

#include "image/ImageCodec.h"

#include <cstdio>
#include <cstdlib>

using namespace snipjar;

extern "C" const ImageCodec* snipjar_image_codec();

// Image bytes from the clipboard or a sync server, through the imaging module as the application
// calls it: the header and size, the embedded metadata (exiv2), and the small upright copy shown in
// lists, which decodes the pixels.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const ImageCodec* codec = snipjar_image_codec();
    const QByteArray bytes = fuzz::bytesOf(data, size);
    const std::optional<QSizeF> pixels = codec->pixelSize(bytes);
    SNIPJAR_FUZZ_CHECK(codec->isDecodableImage(bytes) == pixels.has_value());
    if (!pixels) {
        return 0;
    }
    SNIPJAR_FUZZ_CHECK(pixels->width() >= 1 && pixels->height() >= 1);
    codec->metadata(bytes);
    // Decoding is linear in the pixels the header claims, up to the module's limit of half a
    // billion; the fuzzer decodes small images only, so that its time goes to many inputs.
    if (pixels->width() * pixels->height() <= 1'000'000) {
        if (const std::optional<QByteArray> thumbnail = codec->thumbnail(bytes, 64)) {
            SNIPJAR_FUZZ_CHECK(!thumbnail->isEmpty());
        }
    }
    return 0;
}
