#include "ImageTestImages.h"

#include "image/ImageTranscode.h"
#include "model/Clip.h"

#include <gtest/gtest.h>

#include <thread>

using namespace snipjar;
namespace images = snipjar::test::images;

namespace {

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

// The title of a photograph names its caption, source, format and size, application, camera and date.
TEST(ImageMetadataTest, HarbourPhotoGivesTheFullImageTitle) {
    QByteArray photo = images::withExif(jpeg(), {{"Exif.Image.Make", "Canon"},
                                                 {"Exif.Image.Model", "Canon EOS R5"},
                                                 {"Exif.Photo.DateTimeOriginal", "2024:05:01 10:00:00"}});
    Clip clip;
    clip.kind = Clip::Kind::image;
    clip.imageData = images::withIptc(photo, {{"Iptc.Application2.Caption", "Harbour at dusk"}});
    clip.dataUTI = QStringLiteral("public.jpeg");
    clip.sourceName = QStringLiteral("Preview");
    clip.sourceURLString = QStringLiteral("https://photos.example.com/2024/harbour.jpg");
    EXPECT_EQ(imageTitle(clip, metadataOf(*clip.imageData)),
              QStringLiteral("Harbour at dusk · harbour.jpg · photos.example.com · JPEG 64×48 · Preview · "
                             "Canon EOS R5 · 2024-05-01"));
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
    EXPECT_EQ(metadata.name, QStringLiteral("scan-0042"));
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

// The pixel size is the stored one: an orientation tag does not swap it.
TEST(ImageMetadataTest, PixelSizeIgnoresOrientation) {
    const QByteArray rotated = images::withExif(jpeg(), {}, 6);
    EXPECT_EQ(ImageTranscode::pixelSize(rotated), QSizeF(64, 48));
    EXPECT_EQ(metadataOf(rotated).width, 64);
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
