#include "image/TranscodeSearch.h"
#include "image/ImageTranscode.h"

#include <gtest/gtest.h>

#include <functional>

using namespace snipjar;

namespace {

using SizeOf = std::function<std::optional<qint64>(int side, double quality)>;

// Stands in for the HEIC encoder, whose real runs take seconds: the size of each encode is a
// function of the prepared longest side and the quality, and every request is recorded.
struct SearchRun {
    std::optional<ImageTranscode::Transcoded> result;
    QList<int> sides;
    QList<double> qualities;
};

struct FakeEncoder : ImageTranscode::Encoder {
    FakeEncoder(SearchRun& run, const SizeOf& sizeOf, bool prepares)
        : run(run)
        , sizeOf(sizeOf)
        , prepares(prepares) {}
    bool prepare(int longestSide, bool) override {
        run.sides.append(longestSide);
        return prepares;
    }
    std::optional<QByteArray> encode(double quality) override {
        run.qualities.append(quality);
        const auto size = sizeOf(run.sides.constLast(), quality);
        return size ? std::optional(QByteArray(qsizetype(*size), 'h')) : std::nullopt;
    }

    SearchRun& run;
    const SizeOf& sizeOf;
    bool prepares;
};

SearchRun transcode(std::optional<QSizeF> pixelSize, qint64 target, SizeOf sizeOf, bool prepares = true) {
    SearchRun run;
    run.result =
        ImageTranscode::transcode(QByteArray("image"), target, true, pixelSize,
                                  [&](const QByteArray&) -> std::unique_ptr<ImageTranscode::Encoder> {
                                      return std::make_unique<FakeEncoder>(run, sizeOf, prepares);
                                  });
    return run;
}

const QSizeF twelveMegapixels(4000, 3000);
const QSizeF fiftyMegapixels(10000, 5000);

} // namespace

// The caps are the image's own size up to 80 megapixels, then 36 and 16 when the first exceeds them
// by more than half a megapixel; each cap scales the longest side, also of a portrait image.
TEST(TranscodeSearchTest, SizeCapsAndLongestSides) {
    EXPECT_EQ(TranscodeSearch::sizeCaps(120), (QList<double>{80, 36, 16}));
    EXPECT_EQ(TranscodeSearch::sizeCaps(36.4), (QList<double>{36.4, 16}));
    EXPECT_EQ(TranscodeSearch::sizeCaps(16.5), (QList<double>{16.5}));
    EXPECT_EQ(TranscodeSearch::sizeCaps(16.6), (QList<double>{16.6, 16}));
    EXPECT_EQ(TranscodeSearch::longestSide(16, QSizeF(5000, 10000)), 5656);
}

// Caps of at most 40 megapixels try full quality first and keep it when it fits; larger ones
// start the bisection at once.
TEST(TranscodeSearchTest, FullQualityShortcut) {
    const SearchRun run = transcode(twelveMegapixels, 50'000'000, [](int, double) { return 40'000'000; });
    EXPECT_TRUE(run.result);
    EXPECT_EQ(run.sides, QList<int>{4000});
    EXPECT_EQ(run.qualities, QList<double>{1.0});
    EXPECT_EQ(transcode(fiftyMegapixels, 100, [](int, double) { return 90; }).qualities, QList<double>{0.75});
}

// A result below 0.85 × target raises the quality, one over the target lowers it, for at most five
// encodes (one in between ends the search: FullQualityShortcut). The best fitting result is kept, also when a
// later encode overshoots or fails (a failure ends the bisection at that cap).
TEST(TranscodeSearchTest, BisectionSteps) {
    SearchRun run = transcode(twelveMegapixels, 100, [](int, double q) { return q < 0.8 ? 50 : 200; });
    EXPECT_EQ(run.qualities, (QList<double>{1.0, 0.75, 0.875, 0.8125, 0.78125, 0.796875}));
    EXPECT_EQ(run.result->bytes.size(), 50);
    run = transcode(twelveMegapixels, 100, [](int, double q) { return q <= 0.75 ? qint64(q * 100) : 101; });
    EXPECT_EQ(run.qualities, (QList<double>{1.0, 0.75, 0.875, 0.8125, 0.78125, 0.765625}));
    EXPECT_EQ(run.result->bytes.size(), 75);
    run = transcode(twelveMegapixels, 100,
                    [](int, double q) { return q == 0.75 ? std::optional<qint64>(50) : std::nullopt; });
    EXPECT_EQ(run.qualities, (QList<double>{1.0, 0.75, 0.875}));
    EXPECT_EQ(run.result->bytes.size(), 50);
}

// Below quality 0.6 the next, smaller cap is tried; at the last cap any fitting result is taken.
TEST(TranscodeSearchTest, NextCapWhenQualityTooLow) {
    const SearchRun run = transcode(
        fiftyMegapixels, 100, [](int side, double q) { return side <= 5656 ? 95 : (q < 0.6 ? 95 : 500); });
    ASSERT_TRUE(run.result);
    EXPECT_EQ(run.sides, (QList<int>{10000, 8485, 5656}));
    EXPECT_EQ(run.qualities, (QList<double>{0.75, 0.625, 0.5625,      // 50 MP: 0.5625 fits but is too low
                                            1.0, 0.75, 0.625, 0.5625, // 36 MP: shortcut, then the same
                                            1.0}));                   // 16 MP: full quality fits
    const SearchRun last =
        transcode(QSizeF(6000, 3000), 100, [](int, double q) { return q < 0.6 ? 90 : 500; });
    EXPECT_EQ(last.sides, (QList<int>{6000, 5656}));
    EXPECT_EQ(last.result->bytes.size(), 90);
}

// Nothing that fits at the last cap, an image that cannot be prepared, or no encoder: none. An
// unknown size counts as 36 megapixels.
TEST(TranscodeSearchTest, NothingFitsGivesNone) {
    const SearchRun run = transcode(fiftyMegapixels, 100, [](int, double) { return 101; });
    EXPECT_FALSE(run.result);
    EXPECT_EQ(run.qualities.size(), 5 + 6 + 6);
    for (const auto& size : {std::optional<QSizeF>(), std::optional<QSizeF>(QSizeF(0, 0))}) {
        EXPECT_EQ(transcode(size, 100, [](int, double) { return 101; }).sides, (QList<int>{6000, 4000}));
    }
    const SearchRun unprepared = transcode(
        twelveMegapixels, 100, [](int, double) { return 10; }, false);
    EXPECT_FALSE(unprepared.result);
    EXPECT_TRUE(unprepared.qualities.isEmpty());
    EXPECT_FALSE(ImageTranscode::transcode(QByteArray("x"), 100, false, twelveMegapixels,
                                           [](const QByteArray&) { return nullptr; }));
}
