#pragma once

#include "image/EmbeddedMetadata.h"
#include "image/ImageTranscode.h"
#include "image/VipsImageHandle.h"

namespace snipjar {

// The encoder of real transcodes: each prepare decodes a scaled, upright copy of the image into
// memory once, so that the encodes at several qualities do not decode the source again.
class HeicTranscodeEncoder : public ImageTranscode::Encoder {
public:
    explicit HeicTranscodeEncoder(QByteArray bytes);

    bool prepare(int longestSide, bool keepMetadata) override;
    std::optional<QByteArray> encode(double quality) override;

private:
    QByteArray m_bytes;
    VipsImageHandle m_prepared;
    std::optional<EmbeddedMetadata> m_metadata;
};

} // namespace snipjar
