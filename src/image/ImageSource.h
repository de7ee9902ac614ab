#pragma once

#include "image/VipsImageHandle.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace snipjar {

// Encoded image bytes whose header has been read and found safe to decode. Opening reads only the
// header; pixels are decoded when an image made from the source is rendered or saved.
class ImageSource {
public:
    // Larger images are refused before any pixel is decoded: a few hundred bytes can claim a size
    // whose pixels would not fit in memory.
    static constexpr qint64 maxPixels = 500'000'000;

    // What happens to an embedded colour profile when the image is meant to lose its metadata.
    enum class ColourProfile {
        keep,         // the pixels stay as they are and the profile travels with them
        convertToSrgb // the pixels are converted to sRGB so that they look right without it
    };

    // The header of the first image in the bytes; none when no trusted loader accepts them, the
    // header is damaged, or the image is empty or too large.
    static std::optional<ImageSource> open(const QByteArray& bytes);

    int width() const;
    int height() const;
    // The first image, decoded sequentially as it is read.
    VipsImage* image() const { return m_header.get(); }
    const QByteArray& bytes() const { return m_bytes; }

    // A copy whose longest side is at most longestSide pixels (never enlarged), with the image's
    // orientation applied. Pixels are decoded from the whole image, not from an embedded preview.
    VipsImageHandle thumbnail(int longestSide, ColourProfile colourProfile) const;

private:
    ImageSource(QByteArray bytes, VipsImageHandle header);

    QByteArray m_bytes; // the loaders read from this buffer, so it lives as long as the source
    VipsImageHandle m_header;
};

// An 8-bit copy of the image (16-bit and floating-point images are converted), since the HEIC and
// PNG outputs of this system are 8-bit.
VipsImageHandle eightBitImage(VipsImage* image);

} // namespace snipjar
