#include "capture/ImageRead.h"
#include "platform/TypeIdentifier.h"
#include "platform/fakes/FakePasteboard.h"

#include "TestImages.h"

#include <gtest/gtest.h>

namespace snipjar {
namespace {

using test::makeImage;
using test::notAnImage;

constexpr qint64 directLimit = 50'000'000;
constexpr qint64 byteCap = 300'000'000;

QString id(const char* identifier) {
    return QString::fromLatin1(identifier);
}

// Preferred types first in their own order, then other known image and PDF types in clipboard order;
// TIFF, unknown types and non-images are never candidates.
TEST(ImageCandidates, PreferredTypesFirstThenClipboardOrder) {
    const QStringList clipboard{id(TypeIdentifier::plainText),     QStringLiteral("public.webp"),
                                id(TypeIdentifier::tiff),          id(TypeIdentifier::png),
                                QStringLiteral("x-unknown/thing"), id(TypeIdentifier::svg),
                                id(TypeIdentifier::heic),          id(TypeIdentifier::pdf)};
    EXPECT_EQ(imageCandidateTypes(clipboard),
              (QStringList{id(TypeIdentifier::heic), id(TypeIdentifier::png), id(TypeIdentifier::pdf),
                           QStringLiteral("public.webp"), id(TypeIdentifier::svg)}));
}

// HEIC precedes PNG whatever the clipboard order.
TEST(ReadImage, PrefersHEICOverPNG) {
    FakePasteboard pasteboard;
    pasteboard.setEntries(
        {{TypeIdentifier::png, makeImage("png")}, {TypeIdentifier::heic, makeImage("heic")}});
    const std::optional<ImageRead> image = readImage(pasteboard, directLimit, byteCap);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->handling, ImageRead::Handling::direct);
    EXPECT_EQ(image->typeIdentifier, id(TypeIdentifier::heic));
    EXPECT_EQ(image->bytes, makeImage("heic"));
}

// A representation that does not decode is passed over; an absent one too.
TEST(ReadImage, SkipsUndecodableCandidates) {
    FakePasteboard pasteboard;
    pasteboard.setEntries({{TypeIdentifier::jpeg, notAnImage()}, {TypeIdentifier::gif, makeImage("gif")}});
    const std::optional<ImageRead> image = readImage(pasteboard, directLimit, byteCap);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->typeIdentifier, id(TypeIdentifier::gif));

    pasteboard.setEntries({{TypeIdentifier::png, notAnImage()}});
    EXPECT_EQ(readImage(pasteboard, directLimit, byteCap), std::nullopt);
}

// Above the direct limit the bytes go to the transcoder as they are.
TEST(ReadImage, LargeImagesNeedTranscoding) {
    FakePasteboard pasteboard;
    const QByteArray jpeg = makeImage("jpg");
    pasteboard.setEntries({{TypeIdentifier::jpeg, jpeg}});
    const std::optional<ImageRead> image = readImage(pasteboard, jpeg.size() - 1, byteCap);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->handling, ImageRead::Handling::needsTranscode);
    EXPECT_EQ(image->typeIdentifier, id(TypeIdentifier::jpeg));
    EXPECT_EQ(image->bytes, jpeg);
    // Exactly at the limit is still direct.
    EXPECT_EQ(readImage(pasteboard, jpeg.size(), byteCap)->handling, ImageRead::Handling::direct);
}

// A candidate above the byte cap ends the whole read: no later candidate, no TIFF fallback.
TEST(ReadImage, CandidateAboveTheCapEndsTheRead) {
    FakePasteboard pasteboard;
    const QByteArray heic = makeImage("heic");
    const QByteArray png = makeImage("png", 8, 8);
    pasteboard.setEntries({{TypeIdentifier::heic, heic},
                           {TypeIdentifier::png, png},
                           {TypeIdentifier::tiff, makeImage("tif", 8, 8)}});
    ASSERT_GT(heic.size(), png.size());
    EXPECT_EQ(readImage(pasteboard, directLimit, heic.size() - 1), std::nullopt);
    EXPECT_EQ(pasteboard.readCount(id(TypeIdentifier::png)), 0);
    EXPECT_EQ(pasteboard.readCount(id(TypeIdentifier::tiff)), 0);
}

// TIFF alone: stored as PNG under the direct limit, transcoded above it, nothing above the cap.
TEST(ReadImage, TIFFFallback) {
    FakePasteboard pasteboard;
    const QByteArray tiff = makeImage("tif");
    pasteboard.setEntries({{TypeIdentifier::tiff, tiff}});

    const std::optional<ImageRead> small = readImage(pasteboard, directLimit, byteCap);
    ASSERT_TRUE(small);
    EXPECT_EQ(small->handling, ImageRead::Handling::direct);
    EXPECT_EQ(small->typeIdentifier, id(TypeIdentifier::png));
    EXPECT_TRUE(small->bytes.startsWith("\x89PNG"));

    const std::optional<ImageRead> large = readImage(pasteboard, tiff.size() - 1, byteCap);
    ASSERT_TRUE(large);
    EXPECT_EQ(large->handling, ImageRead::Handling::needsTranscode);
    EXPECT_EQ(large->typeIdentifier, id(TypeIdentifier::tiff));
    EXPECT_EQ(large->bytes, tiff);

    EXPECT_EQ(readImage(pasteboard, directLimit, tiff.size() - 1), std::nullopt);

    // The PNG made from a small TIFF must itself stay within the direct limit. JPEG-compressed noise
    // makes a TIFF much smaller than its PNG.
    const QByteArray compressedTIFF = makeImage("tif", 64, 48, "compression=jpeg");
    pasteboard.setEntries({{TypeIdentifier::tiff, compressedTIFF}});
    const qsizetype compressedPNGSize = readImage(pasteboard, directLimit, byteCap)->bytes.size();
    ASSERT_LT(compressedTIFF.size(), compressedPNGSize);
    EXPECT_EQ(readImage(pasteboard, compressedPNGSize - 1, byteCap), std::nullopt);
    EXPECT_TRUE(readImage(pasteboard, compressedPNGSize, byteCap));

    pasteboard.setEntries({{TypeIdentifier::tiff, notAnImage()}});
    EXPECT_EQ(readImage(pasteboard, directLimit, byteCap), std::nullopt);
}

} // namespace
} // namespace snipjar
