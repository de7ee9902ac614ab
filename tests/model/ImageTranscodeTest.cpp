#include "ImageTestImages.h"

#include "model/ImageTranscode.h"

#include <QRandomGenerator>

#include <gtest/gtest.h>

using namespace snipjar;
namespace images = snipjar::test::images;

namespace {

QByteArray randomBytes(qsizetype count) {
    QByteArray bytes(count, '\0');
    QRandomGenerator generator(42);
    for (char& byte : bytes) {
        byte = char(generator.bounded(256));
    }
    return bytes;
}

// Inputs that must give none from every function and never crash: nothing, noise, a cut-off JPEG,
// and small files that claim gigapixel sizes.
QList<std::pair<const char*, QByteArray>> hostileInputs() {
    const QByteArray jpeg = images::noisyJpeg(300, 200, 20);
    return {
        {"empty", QByteArray()},
        {"random bytes", randomBytes(4096)},
        {"PNG signature only", QByteArray("\x89PNG\r\n\x1a\n", 8)},
        {"truncated JPEG", jpeg.left(jpeg.size() / 2)},
        {"PNG claiming 100000 x 100000", images::pngClaiming(100'000, 100'000)},
        {"PNG claiming 2^31 x 2^31", images::pngClaiming(0x7fffffff, 0x7fffffff)},
        {"JPEG claiming 65000 x 65000", images::jpegClaiming(65'000, 65'000)},
    };
}

} // namespace

// Every failure, from empty input to a decompression bomb, gives none.
TEST(ImageTranscodeTest, HostileInputGivesNone) {
    for (const auto& [name, bytes] : hostileInputs()) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(ImageTranscode::isDecodableImage(bytes));
        EXPECT_FALSE(ImageTranscode::pixelSize(bytes));
        EXPECT_FALSE(ImageTranscode::metadata(bytes));
        EXPECT_FALSE(ImageTranscode::thumbnail(bytes, 72));
        EXPECT_FALSE(ImageTranscode::previewImage(bytes, 1200));
        EXPECT_FALSE(ImageTranscode::transcode(bytes, 1000, true));
        EXPECT_FALSE(ImageTranscode::pngFromBitmap(bytes));
        EXPECT_FALSE(ImageTranscode::tiffRepresentation(bytes));
    }
}

// A JPEG counts as whole when its data reach the end-of-image marker; what follows (a motion photo's
// video) does not matter.
TEST(ImageTranscodeTest, BytesAfterTheJpegEndAreIgnored) {
    const QByteArray jpeg = images::noisyJpeg(300, 200, 20);
    EXPECT_TRUE(ImageTranscode::isDecodableImage(jpeg));
    EXPECT_TRUE(ImageTranscode::thumbnail(jpeg + randomBytes(100'000), 72));
    EXPECT_FALSE(ImageTranscode::isDecodableImage(jpeg.chopped(2)));
}

// The thumbnail is a PNG whose longest side is at most n, upright, and never enlarged.
TEST(ImageTranscodeTest, ThumbnailFitsAndAppliesOrientation) {
    const QByteArray landscape = images::noisyJpeg(400, 300, 10);
    auto decoded = images::decode(ImageTranscode::thumbnail(landscape, 72).value_or(QByteArray()));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->loader, "VipsForeignLoadPngBuffer");
    EXPECT_EQ(decoded->size, QSize(72, 54));

    // Orientation 6 turns the stored 400 × 300 pixels a quarter turn: the thumbnail stands upright.
    decoded = images::decode(
        ImageTranscode::thumbnail(images::withExif(landscape, {}, 6), 72).value_or(QByteArray()));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->size, QSize(54, 72));

    decoded =
        images::decode(ImageTranscode::thumbnail(images::noisyPng(30, 20, 10), 72).value_or(QByteArray()));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->size, QSize(30, 20));
}

// The preview is an 8-bit HEIC that fits the given side.
TEST(ImageTranscodeTest, PreviewIsEightBitHeic) {
    const auto preview = ImageTranscode::previewImage(images::noisyJpeg(900, 600, 10), 300);
    ASSERT_TRUE(preview);
    const auto decoded = images::decode(*preview);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->loader, "VipsForeignLoadHeifBuffer");
    EXPECT_EQ(decoded->size, QSize(300, 200));
    EXPECT_EQ(decoded->bitsPerSample, 8);
    EXPECT_FALSE(images::hasAnyExif(*preview));
}

// A transcode searches down to a HEIC that fits the target, with or without the source's metadata.
TEST(ImageTranscodeTest, TranscodeFitsTheTargetAndHandlesMetadata) {
    const QByteArray photo = images::withExif(images::noisyJpeg(640, 480, 30),
                                              {{"Exif.Image.Make", "Canon"},
                                               {"Exif.Image.Model", "Canon EOS R5"},
                                               {"Exif.Photo.DateTimeOriginal", "2024:05:01 10:00:00"}},
                                              6);
    // Full quality gives about 440 kB, so the target forces the bisection.
    const qint64 target = 300'000;

    const auto kept = ImageTranscode::transcode(photo, target, true);
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->dataUTI, QStringLiteral("public.heic"));
    EXPECT_LE(kept->bytes.size(), target);
    auto decoded = images::decode(kept->bytes);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->loader, "VipsForeignLoadHeifBuffer");
    EXPECT_EQ(decoded->size, QSize(480, 640));
    EXPECT_EQ(decoded->bitsPerSample, 8);
    EXPECT_EQ(images::exifValue(kept->bytes, "Exif.Image.Make"), "Canon");
    EXPECT_EQ(images::exifValue(kept->bytes, "Exif.Image.Orientation"), "1");
    const auto metadata = ImageTranscode::metadata(kept->bytes);
    ASSERT_TRUE(metadata);
    EXPECT_EQ(metadata->camera, QStringLiteral("Canon EOS R5"));
    EXPECT_EQ(metadata->captured, QStringLiteral("2024-05-01"));

    const auto stripped = ImageTranscode::transcode(photo, target, false);
    ASSERT_TRUE(stripped);
    EXPECT_LE(stripped->bytes.size(), target);
    decoded = images::decode(stripped->bytes);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->size, QSize(480, 640));
    EXPECT_FALSE(images::hasAnyExif(stripped->bytes));
}

// IPTC captions survive a transcode that keeps metadata, carried in XMP.
TEST(ImageTranscodeTest, TranscodeKeepsIptcCaptionAsXmp) {
    const QByteArray photo =
        images::withIptc(images::noisyJpeg(320, 240, 10), {{"Iptc.Application2.Caption", "Harbour at dusk"}});
    const auto kept = ImageTranscode::transcode(photo, 1'000'000, true);
    ASSERT_TRUE(kept);
    const auto caption = images::xmpValue(kept->bytes, "Xmp.dc.description");
    ASSERT_TRUE(caption);
    EXPECT_NE(caption->find("Harbour at dusk"), std::string::npos);
}

// Bitmaps become PNG, and a PDF's first page or any image becomes TIFF.
TEST(ImageTranscodeTest, RepresentationConversions) {
    auto decoded =
        images::decode(ImageTranscode::pngFromBitmap(images::tiff(120, 80)).value_or(QByteArray()));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->loader, "VipsForeignLoadPngBuffer");
    EXPECT_EQ(decoded->size, QSize(120, 80));

    const QByteArray pdf = images::pdf(200, 100);
    EXPECT_TRUE(ImageTranscode::isDecodableImage(pdf));
    decoded = images::decode(ImageTranscode::tiffRepresentation(pdf).value_or(QByteArray()));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->loader, "VipsForeignLoadTiffBuffer");
    EXPECT_EQ(decoded->size, QSize(200, 100));

    decoded = images::decode(
        ImageTranscode::tiffRepresentation(images::noisyPng(50, 40, 5)).value_or(QByteArray()));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->size, QSize(50, 40));
}
