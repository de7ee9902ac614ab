#pragma once

#include "image/VipsInclude.h"

#include <QByteArray>

#include <optional>

namespace snipjar {

struct EmbeddedMetadata;

// HEIC (HEVC, 8 bits per sample, with alpha when the image has it) at a lossy quality in 0..1.
// Without metadata the output carries nothing of the source but its pixels.
std::optional<QByteArray> encodeHEIC(VipsImage* image, double quality, const EmbeddedMetadata* metadata);

// PNG without the source's metadata, 8 or 16 bits per sample as the image has them.
std::optional<QByteArray> encodePNG(VipsImage* image);

// TIFF with lossless LZW compression, as the image is stored.
std::optional<QByteArray> encodeTIFF(VipsImage* image);

} // namespace snipjar
