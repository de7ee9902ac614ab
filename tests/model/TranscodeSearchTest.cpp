#include "model/TranscodeSearch.h"
#include "model/ImageTranscode.h"

#include <gtest/gtest.h>

#include <functional>

using namespace snipjar;

namespace {

// Stands in for the HEIC encoder: the size of each encode is a function of the prepared longest
// side and the quality, and every request is recorded.
class FakeEncoder : public ImageTranscode::Encoder {
public:
    struct Log {
        QList<int> sides;
        QList<double> qualities;
        QList<bool> keepMetadata;
    };

    FakeEncoder(Log& log, std::function<std::optional<qint64>(int side, double quality)> sizeOf,
                bool prepares)
        : m_log(log)
        , m_sizeOf(std::move(sizeOf))
        , m_prepares(prepares) {}

    bool prepare(int longestSide, bool keepMetadata) override {
        m_log.sides.append(longestSide);
        m_log.keepMetadata.append(keepMetadata);
        m_side = longestSide;
        return m_prepares;
    }

    std::optional<QByteArray> encode(double quality) override {
        m_log.qualities.append(quality);
        const auto size = m_sizeOf(m_side, quality);
        if (!size) {
            return std::nullopt;
        }
        return QByteArray(qsizetype(*size), 'h');
    }

private:
    Log& m_log;
    std::function<std::optional<qint64>(int, double)> m_sizeOf;
    bool m_prepares;
    int m_side = 0;
};

struct SearchRun {
    std::optional<ImageTranscode::Transcoded> result;
    FakeEncoder::Log log;
};

SearchRun transcode(std::optional<QSizeF> pixelSize, qint64 target,
                    std::function<std::optional<qint64>(int side, double quality)> sizeOf,
                    bool prepares = true) {
    SearchRun run;
    const auto factory = [&](const QByteArray&) -> std::unique_ptr<ImageTranscode::Encoder> {
        return std::make_unique<FakeEncoder>(run.log, sizeOf, prepares);
    };
    run.result = ImageTranscode::transcode(QByteArray("image"), target, true, pixelSize, factory);
    return run;
}

const QSizeF twelveMegapixels(4000, 3000);
const QSizeF fiftyMegapixels(10000, 5000);

} // namespace

// The caps are the image's own size up to 80 megapixels, then 36 and 16 when the first exceeds them by
// more than half a megapixel.
TEST(TranscodeSearchTest, SizeCaps) {
    EXPECT_EQ(TranscodeSearch::sizeCaps(50), (QList<double>{50, 36, 16}));
    EXPECT_EQ(TranscodeSearch::sizeCaps(30), (QList<double>{30, 16}));
    EXPECT_EQ(TranscodeSearch::sizeCaps(10), (QList<double>{10}));
    EXPECT_EQ(TranscodeSearch::sizeCaps(120), (QList<double>{80, 36, 16}));
    EXPECT_EQ(TranscodeSearch::sizeCaps(36.4), (QList<double>{36.4, 16}));
    EXPECT_EQ(TranscodeSearch::sizeCaps(16.5), (QList<double>{16.5}));
    EXPECT_EQ(TranscodeSearch::sizeCaps(16.6), (QList<double>{16.6, 16}));
}

// The longest side scales the area to the cap, never enlarges, and is √cap × 1000 for an unknown size.
TEST(TranscodeSearchTest, LongestSide) {
    EXPECT_EQ(TranscodeSearch::longestSide(12, twelveMegapixels), 4000);
    EXPECT_EQ(TranscodeSearch::longestSide(36, fiftyMegapixels), 8485);
    EXPECT_EQ(TranscodeSearch::longestSide(16, QSizeF(5000, 10000)), 5656);
    EXPECT_EQ(TranscodeSearch::longestSide(80, QSizeF(3000, 4000)), 4000);
    EXPECT_EQ(TranscodeSearch::longestSide(36, std::nullopt), 6000);
    EXPECT_EQ(TranscodeSearch::longestSide(16, QSizeF(0, 3000)), 4000);
}

// Caps of at most 40 megapixels try full quality first and keep it when it fits.
TEST(TranscodeSearchTest, FullQualityShortcut) {
    const SearchRun run = transcode(twelveMegapixels, 50'000'000, [](int, double) { return 40'000'000; });
    ASSERT_TRUE(run.result);
    EXPECT_EQ(run.result->bytes.size(), 40'000'000);
    EXPECT_EQ(run.result->dataUTI, QStringLiteral("public.heic"));
    EXPECT_EQ(run.log.sides, QList<int>{4000});
    EXPECT_EQ(run.log.qualities, QList<double>{1.0});
    EXPECT_EQ(run.log.keepMetadata, QList<bool>{true});

    // Above 40 megapixels there is no shortcut: the bisection starts at once.
    const SearchRun large = transcode(fiftyMegapixels, 100, [](int, double) { return 90; });
    EXPECT_EQ(large.log.qualities, QList<double>{0.75});
}

// A result between 0.85 × target and the target ends the search; a smaller one raises the quality, a
// larger one lowers it, for at most five encodes.
TEST(TranscodeSearchTest, BisectionSteps) {
    SearchRun run = transcode(twelveMegapixels, 100, [](int, double q) { return q == 0.75 ? 90 : 200; });
    ASSERT_TRUE(run.result);
    EXPECT_EQ(run.result->bytes.size(), 90);
    EXPECT_EQ(run.log.qualities, (QList<double>{1.0, 0.75}));

    run = transcode(twelveMegapixels, 100, [](int, double q) { return q < 0.8 ? 50 : 200; });
    ASSERT_TRUE(run.result);
    EXPECT_EQ(run.log.qualities, (QList<double>{1.0, 0.75, 0.875, 0.8125, 0.78125, 0.796875}));
    EXPECT_EQ(run.result->bytes.size(), 50);

    // The best fitting result is kept even when a later, larger encode overshoots.
    run = transcode(twelveMegapixels, 100, [](int, double q) { return q <= 0.75 ? qint64(q * 100) : 101; });
    ASSERT_TRUE(run.result);
    EXPECT_EQ(run.log.qualities, (QList<double>{1.0, 0.75, 0.875, 0.8125, 0.78125, 0.765625}));
    EXPECT_EQ(run.result->bytes.size(), 75);
}

// A failed encode ends the bisection at that cap; what fitted before still counts.
TEST(TranscodeSearchTest, FailedEncodeEndsTheBisection) {
    const SearchRun run = transcode(twelveMegapixels, 100, [](int, double q) -> std::optional<qint64> {
        if (q == 0.75) {
            return 50;
        }
        return std::nullopt;
    });
    ASSERT_TRUE(run.result);
    EXPECT_EQ(run.result->bytes.size(), 50);
    EXPECT_EQ(run.log.qualities, (QList<double>{1.0, 0.75, 0.875}));
}

// Below quality 0.6 the next, smaller cap is tried; at the last cap any fitting result is taken.
TEST(TranscodeSearchTest, NextCapWhenQualityTooLow) {
    // At 50 and 36 megapixels only the lowest qualities fit; at 16 megapixels everything fits.
    const SearchRun run = transcode(
        fiftyMegapixels, 100, [](int side, double q) { return side <= 5656 ? 95 : (q < 0.6 ? 95 : 500); });
    ASSERT_TRUE(run.result);
    EXPECT_EQ(run.log.sides, (QList<int>{10000, 8485, 5656}));
    EXPECT_EQ(run.log.qualities, (QList<double>{0.75, 0.625, 0.5625,      // 50 MP: 0.5625 fits but is too low
                                                1.0, 0.75, 0.625, 0.5625, // 36 MP: shortcut, then the same
                                                1.0}));                   // 16 MP: full quality fits

    const SearchRun last =
        transcode(QSizeF(6000, 3000), 100, [](int, double q) { return q < 0.6 ? 90 : 500; });
    ASSERT_TRUE(last.result);
    EXPECT_EQ(last.log.sides, (QList<int>{6000, 5656}));
    EXPECT_EQ(last.result->bytes.size(), 90);
    EXPECT_EQ(last.log.qualities.last(), 0.5625);
}

// When even the last cap gives nothing that fits, the transcode gives none.
TEST(TranscodeSearchTest, NothingFitsGivesNone) {
    const SearchRun run = transcode(fiftyMegapixels, 100, [](int, double) { return 101; });
    EXPECT_FALSE(run.result);
    EXPECT_EQ(run.log.sides, (QList<int>{10000, 8485, 5656}));
    EXPECT_EQ(run.log.qualities.size(), 5 + 6 + 6);
}

// An unknown size counts as 36 megapixels: longest sides 6000, then 4000.
TEST(TranscodeSearchTest, UnknownSizeAssumes36Megapixels) {
    for (const auto& size : {std::optional<QSizeF>(), std::optional<QSizeF>(QSizeF(0, 0))}) {
        const SearchRun run = transcode(size, 100, [](int, double) { return 101; });
        EXPECT_FALSE(run.result);
        EXPECT_EQ(run.log.sides, (QList<int>{6000, 4000}));
    }
}

// An image that cannot be opened or scaled ends the transcode at once.
TEST(TranscodeSearchTest, PrepareFailureGivesNone) {
    const SearchRun run = transcode(
        twelveMegapixels, 100, [](int, double) { return 10; }, false);
    EXPECT_FALSE(run.result);
    EXPECT_TRUE(run.log.qualities.isEmpty());

    const auto noEncoder = [](const QByteArray&) -> std::unique_ptr<ImageTranscode::Encoder> {
        return nullptr;
    };
    EXPECT_FALSE(ImageTranscode::transcode(QByteArray("x"), 100, false, twelveMegapixels, noEncoder));
}
