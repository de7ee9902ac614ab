#pragma once

#include "model/ImageMetadata.h"

#include <QByteArray>
#include <QSizeF>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace snipjar {

// The image operations of the system, on libvips and exiv2. Every function is a pure function of
// its input bytes, may run on any thread, never throws, and reports every failure (including a
// truncated, corrupt or hostile image) as an absent result.
class ImageTranscode {
public:
    struct Transcoded {
        QByteArray bytes;
        QString dataUTI; // always public.heic

        bool operator==(const Transcoded&) const = default;
    };

    // Pixel width and height as stored (orientation not applied).
    static std::optional<QSizeF> pixelSize(const QByteArray& bytes);
    static std::optional<ImageMetadata> metadata(const QByteArray& bytes);
    // PNG, longest side at most maxPixels, orientation applied.
    static std::optional<QByteArray> thumbnail(const QByteArray& bytes, int maxPixels);
    // HEIC at quality 0.87, longest side at most maxPixels, orientation applied.
    static std::optional<QByteArray> previewImage(const QByteArray& bytes, int maxPixels);
    // Re-encodes as HEIC so that the result fits the byte target (the search is in TranscodeSearch).
    static std::optional<Transcoded> transcode(const QByteArray& bytes, qint64 targetBytes,
                                               bool keepMetadata);

    // True when the bytes open as an image container holding at least one image.
    static bool isDecodableImage(const QByteArray& bytes);
    // Decodes any bitmap (TIFF, BMP, ...) and encodes it as PNG.
    static std::optional<QByteArray> pngFromBitmap(const QByteArray& bytes);
    // Renders the first page of a PDF (or decodes any image) and encodes it as TIFF.
    static std::optional<QByteArray> tiffRepresentation(const QByteArray& bytes);

    // The seam of the transcode search: makes the scaled image for one size cap and encodes it at a
    // quality. Tests stand in for the encoder to check the search deterministically.
    class Encoder {
    public:
        virtual ~Encoder() = default;
        // Prepares the image scaled to at most longestSide pixels; false on failure.
        virtual bool prepare(int longestSide, bool keepMetadata) = 0;
        // Encodes the prepared image as HEIC at a quality in 0..1; none on failure.
        virtual std::optional<QByteArray> encode(double quality) = 0;
    };
    using EncoderFactory = std::function<std::unique_ptr<Encoder>(const QByteArray& bytes)>;
    static std::optional<Transcoded> transcode(const QByteArray& bytes, qint64 targetBytes, bool keepMetadata,
                                               const std::optional<QSizeF>& knownPixelSize,
                                               const EncoderFactory& makeEncoder);
    // The factory of the real HEIC encoder that transcode(bytes, targetBytes, keepMetadata) uses.
    static EncoderFactory heicEncoderFactory();
};

} // namespace snipjar
