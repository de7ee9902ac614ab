#include "ImageTestImages.h"

#include "image/ImageTranscode.h"

#include <QRandomGenerator>

#include <gtest/gtest.h>

#include <thread>

using namespace snipjar;
namespace images = snipjar::test::images;

namespace {

QByteArray randomBytes(qsizetype count) {
    QByteArray bytes(count, '\0');
    QRandomGenerator(42).fillRange(reinterpret_cast<quint32*>(bytes.data()), count / 4);
    return bytes;
}

// What an image function's result decodes to; nothing when it gave none or does not decode.
images::Decoded decodedOf(const std::optional<QByteArray>& bytes) {
    return images::decode(bytes.value_or(QByteArray())).value_or(images::Decoded{});
}

QByteArray jpeg() {
    return images::noisyJpeg(64, 48, 5);
}

ImageMetadata metadataOf(const QByteArray& bytes) {
    const auto metadata = ImageTranscode::metadata(bytes);
    EXPECT_TRUE(metadata.has_value());
    return metadata.value_or(ImageMetadata{});
}

using Tags = std::map<std::string, std::string>;

} // namespace

// Every failure gives none and never a crash: nothing, noise, a cut-off JPEG, and small files that
// claim gigapixel sizes.
TEST(ImageTranscodeTest, HostileInputGivesNone) {
    const QByteArray jpeg = images::noisyJpeg(300, 200, 20);
    const std::pair<const char*, QByteArray> inputs[] = {
        {"empty", QByteArray()},
        {"random bytes", randomBytes(4096)},
        {"PNG signature only", QByteArray("\x89PNG\r\n\x1a\n", 8)},
        {"truncated JPEG", jpeg.left(jpeg.size() / 2)},
        {"PNG claiming 100000 x 100000", images::pngClaiming(100'000, 100'000)},
        {"PNG claiming 2^31 x 2^31", images::pngClaiming(0x7fffffff, 0x7fffffff)},
        {"JPEG claiming 65000 x 65000", images::jpegClaiming(65'000, 65'000)},
    };
    for (const auto& [name, bytes] : inputs) {
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
    EXPECT_TRUE(ImageTranscode::thumbnail(jpeg + randomBytes(100'000), 72));
    EXPECT_FALSE(ImageTranscode::isDecodableImage(jpeg.chopped(2)));
}

// The thumbnail is a PNG whose longest side is at most n, upright, and never enlarged; the preview
// an 8-bit HEIC without metadata that fits the given side.
TEST(ImageTranscodeTest, ThumbnailAndPreviewFitUpright) {
    const QByteArray landscape = images::noisyJpeg(400, 300, 10);
    const images::Decoded thumbnail = decodedOf(ImageTranscode::thumbnail(landscape, 72));
    EXPECT_EQ(thumbnail.loader, "VipsForeignLoadPngBuffer");
    EXPECT_EQ(thumbnail.size, QSize(72, 54));
    // Orientation 6 turns the stored 400 × 300 pixels a quarter turn: the thumbnail stands upright,
    // while the pixel size stays the stored one.
    const QByteArray rotated = images::withExif(landscape, {}, 6);
    EXPECT_EQ(decodedOf(ImageTranscode::thumbnail(rotated, 72)).size, QSize(54, 72));
    EXPECT_EQ(ImageTranscode::pixelSize(rotated), QSizeF(400, 300));
    EXPECT_EQ(ImageTranscode::metadata(rotated).value_or(ImageMetadata{}).width, 400);
    EXPECT_EQ(decodedOf(ImageTranscode::thumbnail(images::noisyPng(30, 20, 10), 72)).size, QSize(30, 20));
    const auto preview = ImageTranscode::previewImage(images::noisyJpeg(900, 600, 10), 300);
    const images::Decoded shown = decodedOf(preview);
    EXPECT_EQ(shown.loader, "VipsForeignLoadHeifBuffer");
    EXPECT_EQ(shown.size, QSize(300, 200));
    EXPECT_EQ(shown.bitsPerSample, 8);
    EXPECT_FALSE(images::hasAnyExif(preview.value_or(QByteArray())));
}

// A transcode searches down to a HEIC that fits the target, upright, with the source's metadata
// (an IPTC caption carried in XMP) or without any.
TEST(ImageTranscodeTest, TranscodeFitsTheTargetAndHandlesMetadata) {
    QByteArray photo = images::withExif(images::noisyJpeg(640, 480, 30),
                                        {{"Exif.Image.Make", "Canon"},
                                         {"Exif.Image.Model", "Canon EOS R5"},
                                         {"Exif.Photo.DateTimeOriginal", "2024:05:01 10:00:00"}},
                                        6);
    photo = images::withIptc(photo, {{"Iptc.Application2.Caption", "Harbour at dusk"}});
    // Full quality gives about 440 kB, so the target forces the bisection.
    const qint64 target = 300'000;
    QByteArray kept;
    for (const bool keep : {true, false}) {
        SCOPED_TRACE(keep);
        const auto transcoded = ImageTranscode::transcode(photo, target, keep);
        ASSERT_TRUE(transcoded);
        EXPECT_LE(transcoded->bytes.size(), target);
        const images::Decoded decoded = decodedOf(transcoded->bytes);
        EXPECT_EQ(decoded.loader, "VipsForeignLoadHeifBuffer");
        EXPECT_EQ(decoded.size, QSize(480, 640));
        EXPECT_EQ(decoded.bitsPerSample, 8);
        EXPECT_EQ(images::hasAnyExif(transcoded->bytes), keep);
        if (keep) {
            kept = transcoded->bytes;
        }
    }
    EXPECT_EQ(images::exifValue(kept, "Exif.Image.Orientation"), "1");
    EXPECT_NE(images::xmpValue(kept, "Xmp.dc.description").value_or("").find("Harbour at dusk"),
              std::string::npos);
    const ImageMetadata metadata = metadataOf(kept);
    EXPECT_EQ(metadata.camera, QStringLiteral("Canon EOS R5"));
    EXPECT_EQ(metadata.captured, QStringLiteral("2024-05-01"));
}

// Bitmaps become PNG, and a PDF's first page or any image becomes TIFF.
TEST(ImageTranscodeTest, RepresentationConversions) {
    const images::Decoded png = decodedOf(ImageTranscode::pngFromBitmap(images::tiff(120, 80)));
    EXPECT_EQ(png.loader, "VipsForeignLoadPngBuffer");
    EXPECT_EQ(png.size, QSize(120, 80));
    const QByteArray pdf = images::pdf(200, 100);
    EXPECT_TRUE(ImageTranscode::isDecodableImage(pdf));
    const images::Decoded page = decodedOf(ImageTranscode::tiffRepresentation(pdf));
    EXPECT_EQ(page.loader, "VipsForeignLoadTiffBuffer");
    EXPECT_EQ(page.size, QSize(200, 100));
    EXPECT_EQ(decodedOf(ImageTranscode::tiffRepresentation(images::noisyPng(50, 40, 5))).size, QSize(50, 40));
}

// The camera is the model alone when it already names the maker, else maker and model; the date is
// the day of DateTimeOriginal, else of DateTimeDigitized, and a short date is none.
TEST(ImageMetadataTest, CameraAndCaptureDate) {
    const auto camera = [](const Tags& exif) { return metadataOf(images::withExif(jpeg(), exif)).camera; };
    EXPECT_EQ(camera({{"Exif.Image.Make", "Apple"}, {"Exif.Image.Model", "iPhone 15 Pro"}}),
              QStringLiteral("Apple iPhone 15 Pro"));
    EXPECT_EQ(
        camera({{"Exif.Image.Make", "NIKON CORPORATION"}, {"Exif.Image.Model", "nikon corporation Z 8"}}),
        QStringLiteral("nikon corporation Z 8"));
    EXPECT_EQ(camera({{"Exif.Image.Make", "  Canon \n"}}), QStringLiteral("Canon"));
    EXPECT_EQ(camera({{"Exif.Image.Make", "   "}, {"Exif.Image.Model", "X100V"}}), QStringLiteral("X100V"));
    EXPECT_EQ(camera({}), std::nullopt);
    const auto captured = [](const Tags& exif) {
        return metadataOf(images::withExif(jpeg(), exif)).captured;
    };
    EXPECT_EQ(captured({{"Exif.Photo.DateTimeDigitized", "2023:12:24 18:30:00"}}),
              QStringLiteral("2023-12-24"));
    EXPECT_EQ(captured({{"Exif.Photo.DateTimeOriginal", "2024:05:01 10:00:00"},
                        {"Exif.Photo.DateTimeDigitized", "2023:12:24 18:30:00"}}),
              QStringLiteral("2024-05-01"));
    EXPECT_EQ(captured({{"Exif.Photo.DateTimeOriginal", "  2024:05  "}}), std::nullopt);
}

// Name, caption and credit take the first present of their sources, trimmed, blank values not
// counting; keywords keep their order; PNG text chunks stand in for name and caption.
TEST(ImageMetadataTest, TextFieldsFollowTheirPrecedence) {
    const QByteArray tagged = images::withExif(
        jpeg(), {{"Exif.Image.DocumentName", "scan-0042"}, {"Exif.Image.ImageDescription", "A description"}});
    ImageMetadata metadata = metadataOf(tagged);
    EXPECT_EQ(metadata.caption, QStringLiteral("A description"));
    metadata = metadataOf(images::withIptc(tagged, {{"Iptc.Application2.ObjectName", "  Harbour \r\n"},
                                                    {"Iptc.Application2.Headline", "Boats"},
                                                    {"Iptc.Application2.Source", "Agency"},
                                                    {"Iptc.Application2.Byline", "A. Photographer"},
                                                    {"Iptc.Application2.Keywords#1", " harbour "},
                                                    {"Iptc.Application2.Keywords#2", "  "},
                                                    {"Iptc.Application2.Keywords#3", "dusk"}}));
    EXPECT_EQ(metadata.name, QStringLiteral("Harbour"));
    EXPECT_EQ(metadata.caption, QStringLiteral("Boats"));
    EXPECT_EQ(metadata.credit, QStringLiteral("Agency"));
    EXPECT_EQ(metadata.keywords, (QStringList{QStringLiteral("harbour"), QStringLiteral("dusk")}));
    metadata = metadataOf(images::withIptc(tagged, {{"Iptc.Application2.ObjectName", "   "},
                                                    {"Iptc.Application2.Caption", "Harbour at dusk"},
                                                    {"Iptc.Application2.Headline", "Boats"},
                                                    {"Iptc.Application2.Credit", "Photo: Ada"}}));
    EXPECT_EQ(metadata.name, QStringLiteral("scan-0042"));
    EXPECT_EQ(metadata.caption, QStringLiteral("Harbour at dusk"));
    EXPECT_EQ(metadata.credit, QStringLiteral("Photo: Ada"));
    metadata = metadataOf(
        images::pngWithText(40, 30, {{"Title", "Screenshot plan"}, {"Description", " Floor two \n"}}));
    EXPECT_EQ(metadata.name, QStringLiteral("Screenshot plan"));
    EXPECT_EQ(metadata.caption, QStringLiteral("Floor two"));
}

// Metadata is read on any thread at once. Every packet brings a namespace of its own, which exiv2
// adds to the XMP toolkit's registry for the whole process while it reads.
TEST(ImageMetadataTest, XmpBearingImagesReadOnSeveralThreads) {
    constexpr int threadCount = 6;
    constexpr int imagesPerThread = 8;
    QList<QByteArray> photos;
    for (int index = 0; index < threadCount * imagesPerThread; ++index) {
        const std::string maker = "Maker " + std::to_string(index);
        photos.append(
            images::withXmpNamespace(images::withExif(jpeg(), {{"Exif.Image.Make", maker}}), index));
    }
    std::vector<std::optional<QString>> cameras(photos.size());
    std::vector<std::thread> readers;
    for (int thread = 0; thread < threadCount; ++thread) {
        readers.emplace_back([&, thread] {
            for (int index = thread; index < photos.size(); index += threadCount) {
                const auto metadata = ImageTranscode::metadata(photos[index]);
                cameras[size_t(index)] = metadata ? metadata->camera : std::nullopt;
            }
        });
    }
    for (std::thread& reader : readers) {
        reader.join();
    }
    for (int index = 0; index < photos.size(); ++index) {
        EXPECT_EQ(cameras[size_t(index)], QStringLiteral("Maker %1").arg(index));
    }
    EXPECT_TRUE(images::xmpValue(photos.first(), "Xmp.dc.title").has_value());
}
