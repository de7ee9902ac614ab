#pragma once

#include "image/ImageTranscode.h"

#include <QList>

namespace snipjar {

// The search for the largest, best-looking HEIC that fits a byte target: a few size caps from the
// image's own size down, and at each a bisection over the lossy quality.
class TranscodeSearch {
public:
    static constexpr double firstCapLimit = 80.0; // megapixels
    static constexpr double middleCap = 36.0;
    static constexpr double lastCap = 16.0;
    static constexpr double capMargin = 0.5; // a smaller cap must save more than this to be worth trying
    static constexpr double assumedMegapixels = 36.0;
    static constexpr double fullQualityCapLimit = 40.0;
    static constexpr double lowestQuality = 0.5;
    static constexpr double highestQuality = 1.0;
    static constexpr int searchSteps = 5;
    static constexpr double goodEnoughRatio = 0.85;
    static constexpr double lowestAcceptedQuality = 0.6;

    // The size caps in megapixels, largest first, for an image of the given size (36 megapixels
    // when unknown).
    static QList<double> sizeCaps(double megapixels);
    // The longest side in pixels of the image scaled to about cap megapixels, never enlarged.
    static int longestSide(double capMegapixels, const std::optional<QSizeF>& knownPixelSize);

    // Runs the whole search with the encoder; none when no cap gives an acceptable result.
    static std::optional<QByteArray> run(ImageTranscode::Encoder& encoder, qint64 targetBytes,
                                         bool keepMetadata, const std::optional<QSizeF>& pixelSize);
};

} // namespace snipjar
