#include "image/HeicTranscodeEncoder.h"

#include "image/ImageEncoding.h"
#include "image/ImageSource.h"
#include "image/VipsRuntime.h"

namespace snipjar {

HeicTranscodeEncoder::HeicTranscodeEncoder(QByteArray bytes)
    : m_bytes(std::move(bytes)) {}

bool HeicTranscodeEncoder::prepare(int longestSide, bool keepMetadata) {
    m_prepared.reset();
    m_metadata.reset();
    const auto source = ImageSource::open(m_bytes);
    if (!source) {
        return false;
    }
    // Without its metadata the image also loses its colour profile, so its pixels move to sRGB.
    const VipsImageHandle thumbnail =
        source->thumbnail(longestSide, keepMetadata ? ImageSource::ColourProfile::keep
                                                    : ImageSource::ColourProfile::convertToSrgb);
    if (!thumbnail) {
        return false;
    }
    const VipsImageHandle eightBit = eightBitImage(thumbnail.get());
    if (!eightBit) {
        return false;
    }
    // Rendering into memory here decodes the source once per size instead of once per encode.
    m_prepared.reset(vips_image_copy_memory(eightBit.get()));
    if (!m_prepared) {
        VipsRuntime::discardError();
        return false;
    }
    if (keepMetadata) {
        m_metadata = EmbeddedMetadata::fromSource(m_bytes, source->image(), m_prepared.get());
    }
    return true;
}

std::optional<QByteArray> HeicTranscodeEncoder::encode(double quality) {
    if (!m_prepared) {
        return std::nullopt;
    }
    return encodeHEIC(m_prepared.get(), quality, m_metadata ? &*m_metadata : nullptr);
}

} // namespace snipjar
