#include "capture/ImageRead.h"
#include "platform/TypeIdentifier.h"
#include "platform/fakes/FakePasteboard.h"

#include "TestImages.h"

#include <gtest/gtest.h>

namespace snipjar {
namespace {

using test::makeImage;
using test::notAnImage;
using T = TypeIdentifier;
using Handling = ImageRead::Handling;

constexpr qint64 directLimit = 50'000'000;
constexpr qint64 byteCap = 300'000'000;

QString id(const char* identifier) {
    return QString::fromLatin1(identifier);
}

// Preferred types first in their own order, then other known image and PDF types in clipboard order;
// TIFF, unknown types and non-images are never candidates.
TEST(ImageCandidates, PreferredTypesFirstThenClipboardOrder) {
    const QStringList clipboard{id(T::plainText),  "public.webp", id(T::tiff), id(T::png),
                                "x-unknown/thing", id(T::svg),    id(T::heic), id(T::pdf)};
    EXPECT_EQ(imageCandidateTypes(clipboard),
              (QStringList{id(T::heic), id(T::png), id(T::pdf), "public.webp", id(T::svg)}));
}

// The first candidate that decodes wins (HEIC before PNG whatever the clipboard order; one that
// does not decode, or is absent, is passed over); above the direct limit the bytes go to the
// transcoder as they are (exactly at it they are still direct). A candidate above the byte cap
// ends the whole read: no later candidate, no TIFF fallback.
TEST(ReadImage, CandidatesAndLimits) {
    const QByteArray heic = makeImage("heic"), jpeg = makeImage("jpg"), png = makeImage("png", 8, 8);
    const struct {
        QList<QPair<QString, QByteArray>> entries;
        qint64 directLimit;
        qint64 byteCap;
        std::optional<Handling> handling;
        const char* type = nullptr;
        QByteArray bytes = {};
    } rows[] = {
        {{{T::png, makeImage("png")}, {T::heic, heic}},
         directLimit,
         byteCap,
         Handling::direct,
         T::heic,
         heic},
        {{{T::jpeg, notAnImage()}, {T::gif, makeImage("gif")}},
         directLimit,
         byteCap,
         Handling::direct,
         T::gif,
         makeImage("gif")},
        {{{T::png, notAnImage()}}, directLimit, byteCap, std::nullopt},
        {{{T::jpeg, jpeg}}, jpeg.size() - 1, byteCap, Handling::needsTranscode, T::jpeg, jpeg},
        {{{T::jpeg, jpeg}}, jpeg.size(), byteCap, Handling::direct, T::jpeg, jpeg},
        {{{T::heic, heic}, {T::png, png}, {T::tiff, makeImage("tif", 8, 8)}},
         directLimit,
         heic.size() - 1,
         std::nullopt},
    };
    ASSERT_GT(heic.size(), png.size());
    for (const auto& row : rows) {
        SCOPED_TRACE(row.entries.constFirst().first.toStdString());
        FakePasteboard pasteboard;
        pasteboard.setEntries(row.entries);
        const std::optional<ImageRead> image = readImage(pasteboard, row.directLimit, row.byteCap);
        ASSERT_EQ(image.has_value(), row.handling.has_value());
        if (image) {
            EXPECT_EQ(image->handling, row.handling);
            EXPECT_EQ(image->typeIdentifier, id(row.type));
            EXPECT_EQ(image->bytes, row.bytes);
        }
        if (row.byteCap != byteCap) {
            EXPECT_EQ(pasteboard.readCount(id(T::png)), 0);
            EXPECT_EQ(pasteboard.readCount(id(T::tiff)), 0);
        }
    }
}

// TIFF alone: stored as PNG under the direct limit, transcoded above it, nothing above the cap.
TEST(ReadImage, TIFFFallback) {
    FakePasteboard pasteboard;
    const QByteArray tiff = makeImage("tif");
    pasteboard.setEntries({{T::tiff, tiff}});

    const std::optional<ImageRead> small = readImage(pasteboard, directLimit, byteCap);
    ASSERT_TRUE(small);
    EXPECT_EQ(small->handling, Handling::direct);
    EXPECT_EQ(small->typeIdentifier, id(T::png));
    EXPECT_TRUE(small->bytes.startsWith("\x89PNG"));

    const std::optional<ImageRead> large = readImage(pasteboard, tiff.size() - 1, byteCap);
    ASSERT_TRUE(large);
    EXPECT_EQ(large->handling, Handling::needsTranscode);
    EXPECT_EQ(large->typeIdentifier, id(T::tiff));
    EXPECT_EQ(large->bytes, tiff);

    EXPECT_EQ(readImage(pasteboard, directLimit, tiff.size() - 1), std::nullopt);

    // The PNG made from a small TIFF must itself stay within the direct limit. JPEG-compressed noise
    // makes a TIFF much smaller than its PNG.
    const QByteArray compressedTIFF = makeImage("tif", 64, 48, "compression=jpeg");
    pasteboard.setEntries({{T::tiff, compressedTIFF}});
    const qsizetype compressedPNGSize = readImage(pasteboard, directLimit, byteCap)->bytes.size();
    ASSERT_LT(compressedTIFF.size(), compressedPNGSize);
    EXPECT_EQ(readImage(pasteboard, compressedPNGSize - 1, byteCap), std::nullopt);
    EXPECT_TRUE(readImage(pasteboard, compressedPNGSize, byteCap));

    pasteboard.setEntries({{T::tiff, notAnImage()}});
    EXPECT_EQ(readImage(pasteboard, directLimit, byteCap), std::nullopt);
}

} // namespace
} // namespace snipjar
