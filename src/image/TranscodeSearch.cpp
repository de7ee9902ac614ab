#include "image/TranscodeSearch.h"

#include <algorithm>
#include <cmath>

namespace snipjar {

namespace {

bool isKnown(const std::optional<QSizeF>& size) {
    return size && size->width() > 0 && size->height() > 0;
}

struct Candidate {
    QByteArray bytes;
    double quality = 0;
};

// Bisects the quality of the prepared image: a result over the target lowers the ceiling, a result
// that fits becomes the best so far and raises the floor unless it is already large enough.
std::optional<Candidate> bisect(ImageTranscode::Encoder& encoder, qint64 targetBytes) {
    const double goal = double(targetBytes) * TranscodeSearch::goodEnoughRatio;
    double low = TranscodeSearch::lowestQuality;
    double high = TranscodeSearch::highestQuality;
    std::optional<Candidate> best;
    for (int step = 0; step < TranscodeSearch::searchSteps; ++step) {
        const double quality = (low + high) / 2.0;
        auto encoded = encoder.encode(quality);
        if (!encoded) {
            break;
        }
        if (encoded->size() > targetBytes) {
            high = quality;
            continue;
        }
        const bool goodEnough = double(encoded->size()) >= goal;
        best = Candidate{std::move(*encoded), quality};
        if (goodEnough) {
            break;
        }
        low = quality;
    }
    return best;
}

} // namespace

QList<double> TranscodeSearch::sizeCaps(double megapixels) {
    const double first = std::min(megapixels, firstCapLimit);
    QList<double> caps{first};
    // Both tests compare with the first cap, so an image just above a cap skips it.
    if (first - capMargin > middleCap) {
        caps.append(middleCap);
    }
    if (first - capMargin > lastCap) {
        caps.append(lastCap);
    }
    return caps;
}

int TranscodeSearch::longestSide(double capMegapixels, const std::optional<QSizeF>& knownPixelSize) {
    double side = 0;
    if (isKnown(knownPixelSize)) {
        const double area = knownPixelSize->width() * knownPixelSize->height();
        const double scale = std::min(std::sqrt(capMegapixels * 1'000'000.0 / area), 1.0);
        side = std::max(knownPixelSize->width(), knownPixelSize->height()) * scale;
    } else {
        side = std::sqrt(capMegapixels) * 1000.0;
    }
    return std::max(int(side), 1);
}

std::optional<QByteArray> TranscodeSearch::run(ImageTranscode::Encoder& encoder, qint64 targetBytes,
                                               bool keepMetadata, const std::optional<QSizeF>& pixelSize) {
    const double megapixels =
        isKnown(pixelSize) ? pixelSize->width() * pixelSize->height() / 1'000'000.0 : assumedMegapixels;
    const QList<double> caps = sizeCaps(megapixels);
    for (qsizetype index = 0; index < caps.size(); ++index) {
        const double cap = caps[index];
        if (!encoder.prepare(longestSide(cap, pixelSize), keepMetadata)) {
            return std::nullopt;
        }
        if (cap <= fullQualityCapLimit) {
            auto full = encoder.encode(highestQuality);
            if (full && full->size() <= targetBytes) {
                return full;
            }
        }
        auto best = bisect(encoder, targetBytes);
        if (!best) {
            continue;
        }
        const bool lastCapTried = index == caps.size() - 1;
        if (lastCapTried || best->quality >= lowestAcceptedQuality) {
            return std::move(best->bytes);
        }
    }
    return std::nullopt;
}

} // namespace snipjar
