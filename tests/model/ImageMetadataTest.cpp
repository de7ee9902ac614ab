#include "ImageTestImages.h"

#include "model/Clip.h"
#include "model/ImageTranscode.h"

#include <gtest/gtest.h>

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

} // namespace

// The title of a photograph names its caption, source, format and size, application, camera and date.
TEST(ImageMetadataTest, HarbourPhotoGivesTheFullImageTitle) {
    QByteArray photo = images::withExif(jpeg(), {{"Exif.Image.Make", "Canon"},
                                                 {"Exif.Image.Model", "Canon EOS R5"},
                                                 {"Exif.Photo.DateTimeOriginal", "2024:05:01 10:00:00"}});
    photo = images::withIptc(photo, {{"Iptc.Application2.Caption", "Harbour at dusk"}});

    const ImageMetadata metadata = metadataOf(photo);
    EXPECT_EQ(metadata.width, 64);
    EXPECT_EQ(metadata.height, 48);
    EXPECT_EQ(metadata.caption, QStringLiteral("Harbour at dusk"));
    EXPECT_EQ(metadata.camera, QStringLiteral("Canon EOS R5"));
    EXPECT_EQ(metadata.captured, QStringLiteral("2024-05-01"));

    Clip clip;
    clip.kind = Clip::Kind::image;
    clip.imageData = photo;
    clip.dataUTI = QStringLiteral("public.jpeg");
    clip.sourceName = QStringLiteral("Preview");
    clip.sourceURLString = QStringLiteral("https://photos.example.com/2024/harbour.jpg");
    EXPECT_EQ(imageTitle(clip, metadata),
              QStringLiteral("Harbour at dusk · harbour.jpg · photos.example.com · JPEG 64×48 · Preview · "
                             "Canon EOS R5 · 2024-05-01"));
}

// The camera is the model alone when it already names the maker, else maker and model.
TEST(ImageMetadataTest, CameraCombinesMakeAndModel) {
    const auto camera = [](const std::map<std::string, std::string>& exif) {
        return metadataOf(images::withExif(jpeg(), exif)).camera;
    };
    EXPECT_EQ(camera({{"Exif.Image.Make", "Apple"}, {"Exif.Image.Model", "iPhone 15 Pro"}}),
              QStringLiteral("Apple iPhone 15 Pro"));
    EXPECT_EQ(
        camera({{"Exif.Image.Make", "NIKON CORPORATION"}, {"Exif.Image.Model", "nikon corporation Z 8"}}),
        QStringLiteral("nikon corporation Z 8"));
    EXPECT_EQ(camera({{"Exif.Image.Make", "  Canon \n"}}), QStringLiteral("Canon"));
    EXPECT_EQ(camera({{"Exif.Image.Model", "X100V"}}), QStringLiteral("X100V"));
    EXPECT_EQ(camera({{"Exif.Image.Make", "   "}, {"Exif.Image.Model", "X100V"}}), QStringLiteral("X100V"));
    EXPECT_EQ(camera({}), std::nullopt);
}

// The capture date is the day of DateTimeOriginal, else of DateTimeDigitized; a short date is no date.
TEST(ImageMetadataTest, CapturedDateTakesTheDayOfTheFirstDate) {
    const auto captured = [](const std::map<std::string, std::string>& exif) {
        return metadataOf(images::withExif(jpeg(), exif)).captured;
    };
    EXPECT_EQ(captured({{"Exif.Photo.DateTimeDigitized", "2023:12:24 18:30:00"}}),
              QStringLiteral("2023-12-24"));
    EXPECT_EQ(captured({{"Exif.Photo.DateTimeOriginal", "2024:05:01 10:00:00"},
                        {"Exif.Photo.DateTimeDigitized", "2023:12:24 18:30:00"}}),
              QStringLiteral("2024-05-01"));
    EXPECT_EQ(captured({{"Exif.Photo.DateTimeOriginal", "2024:05"}}), std::nullopt);
    EXPECT_EQ(captured({{"Exif.Photo.DateTimeOriginal", "  2024:05  "}}), std::nullopt);
}

// Name, caption and credit take the first present of their sources, trimmed; blank values do not count.
TEST(ImageMetadataTest, TextFieldsFollowTheirPrecedence) {
    const QByteArray tagged = images::withExif(
        jpeg(), {{"Exif.Image.DocumentName", "scan-0042"}, {"Exif.Image.ImageDescription", "A description"}});
    ImageMetadata metadata = metadataOf(tagged);
    EXPECT_EQ(metadata.name, QStringLiteral("scan-0042"));
    EXPECT_EQ(metadata.caption, QStringLiteral("A description"));
    EXPECT_EQ(metadata.credit, std::nullopt);

    metadata = metadataOf(images::withIptc(tagged, {{"Iptc.Application2.ObjectName", "  Harbour \r\n"},
                                                    {"Iptc.Application2.Headline", "Boats"},
                                                    {"Iptc.Application2.Source", "Agency"},
                                                    {"Iptc.Application2.Byline", "A. Photographer"}}));
    EXPECT_EQ(metadata.name, QStringLiteral("Harbour"));
    EXPECT_EQ(metadata.caption, QStringLiteral("Boats"));
    EXPECT_EQ(metadata.credit, QStringLiteral("Agency"));

    metadata = metadataOf(images::withIptc(tagged, {{"Iptc.Application2.ObjectName", "   "},
                                                    {"Iptc.Application2.Caption", "Harbour at dusk"},
                                                    {"Iptc.Application2.Headline", "Boats"},
                                                    {"Iptc.Application2.Credit", "Photo: Ada"},
                                                    {"Iptc.Application2.Byline", "A. Photographer"}}));
    EXPECT_EQ(metadata.name, QStringLiteral("scan-0042"));
    EXPECT_EQ(metadata.caption, QStringLiteral("Harbour at dusk"));
    EXPECT_EQ(metadata.credit, QStringLiteral("Photo: Ada"));
}

// Repeated IPTC keywords keep their order, trimmed, without the empty ones.
TEST(ImageMetadataTest, KeywordsAreTrimmedAndKeepTheirOrder) {
    const QByteArray tagged = images::withIptc(jpeg(), {{"Iptc.Application2.Keywords#1", " harbour "},
                                                        {"Iptc.Application2.Keywords#2", "  "},
                                                        {"Iptc.Application2.Keywords#3", "dusk"}});
    EXPECT_EQ(metadataOf(tagged).keywords, (QStringList{QStringLiteral("harbour"), QStringLiteral("dusk")}));
    EXPECT_TRUE(metadataOf(jpeg()).keywords.isEmpty());
}

// PNG text chunks Title and Description stand in for the name and caption.
TEST(ImageMetadataTest, PngTextGivesNameAndCaption) {
    const QByteArray png =
        images::pngWithText(40, 30, {{"Title", "Screenshot plan"}, {"Description", " Floor two \n"}});
    const ImageMetadata metadata = metadataOf(png);
    EXPECT_EQ(metadata.name, QStringLiteral("Screenshot plan"));
    EXPECT_EQ(metadata.caption, QStringLiteral("Floor two"));
    EXPECT_EQ(metadata.width, 40);
    EXPECT_EQ(metadata.height, 30);
    EXPECT_EQ(metadata.camera, std::nullopt);
}

// The pixel size is the stored one: an orientation tag does not swap it.
TEST(ImageMetadataTest, PixelSizeIgnoresOrientation) {
    const QByteArray rotated = images::withExif(jpeg(), {}, 6);
    EXPECT_EQ(ImageTranscode::pixelSize(rotated), QSizeF(64, 48));
    const ImageMetadata metadata = metadataOf(rotated);
    EXPECT_EQ(metadata.width, 64);
    EXPECT_EQ(metadata.height, 48);
}
