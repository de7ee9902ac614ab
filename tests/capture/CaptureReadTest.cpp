#include "capture/CaptureRead.h"
#include "capture/ImageRead.h"
#include "capture/SourceAddress.h"
#include "platform/TypeIdentifier.h"
#include "platform/UserSettings.h"
#include "platform/fakes/FakePasteboard.h"

#include "TestEnvironment.h"
#include "TestImages.h"

#include <gtest/gtest.h>

namespace snipjar {
namespace {

using test::makeImage;
using test::notAnImage;
using T = TypeIdentifier;
using Entries = QList<QPair<QString, QByteArray>>;
using Handling = ImageRead::Handling;

class CaptureReadTest : public ::testing::Test {
protected:
    CaptureRead read() { return readCapture(pasteboard, limits); }

    test::TestEnvironment environment;
    FakePasteboard pasteboard;
    CaptureLimits limits;
};

// What one capture makes of the clipboard. Markers forbid it; files come before images (an icon
// image beside two files gives one file clip in clipboard order), an image before text (with the
// web address it came from); rich text needs its plain string (an empty one is accepted); plain
// text has no size limit of its own. Text and rich text are read no further than the store keeps:
// text above it is not recorded, rich text that does not fit with its words gives the words alone.
TEST_F(CaptureReadTest, WhatIsCaptured) {
    using K = Clip::Kind;
    const auto [skipped, captured, empty] =
        std::tuple{CaptureOutcome::skipped, CaptureOutcome::captured, CaptureOutcome::empty};
    const qint64 byDefault = CaptureLimits::defaultTextLimit;
    const QByteArray rtf = "{\\rtf1\\ansi {\\b bold} words}";
    const QByteArray jpeg = makeImage("jpg");
    const QByteArray files = "file:///home/u/Report.pdf\r\nfile:///home/u/Notes.txt\r\n";
    const QByteArray html = "<IMG SRC='https://ex.org/p.jpg?a=1&amp;b=2'>";
    const QByteArray large(2'000'000, 'a'), t100(100, 't'), t101(101, 't'), r101(101, 'r'), words(60, 'w');
    const QByteArray wordsRtf = "{\\rtf1 " + QByteArray(50, 'r') + "}";
    const struct {
        qint64 textLimit;
        Entries entries;
        CaptureOutcome outcome;
        Clip::Kind kind = Clip::Kind::text;
        std::optional<QByteArray> plainText = {};
        std::optional<QByteArray> richText = {};
    } rows[] = {
        {byDefault, {{T::plainText, "hunter2"}, {T::concealedMarker, "secret"}}, skipped},
        {byDefault, {{T::plainText, "hunter2"}, {T::transientMarker, ""}}, skipped},
        {byDefault, {{T::plainText, "hunter2"}, {T::remoteClipboardMarker, ""}}, skipped},
        {byDefault,
         {{T::png, makeImage("png")}, {T::fileURL, files}, {T::plainText, "Notes"}},
         captured,
         K::file},
        {byDefault, {{T::plainText, "caption"}, {T::html, html}, {T::jpeg, jpeg}}, captured, K::image},
        {byDefault, {{T::rtf, rtf}, {T::plainText, "bold words"}}, captured, K::richText, "bold words", rtf},
        {byDefault, {{T::rtf, rtf}, {T::plainText, ""}}, captured, K::richText, "", rtf},
        {byDefault, {{T::rtf, rtf}}, empty},
        {byDefault, {{T::plainText, ""}}, empty},
        {byDefault, {{"application/x-unknown", "zzz"}}, empty},
        {byDefault, {{T::plainText, large}}, captured, K::text, large},
        {100, {{T::plainText, t100}}, captured, K::text, t100},
        {100, {{T::plainText, t101}}, skipped},
        {100, {{T::rtf, wordsRtf}, {T::plainText, words}}, captured, K::text, words},
        {100, {{T::rtf, r101}, {T::plainText, "ok"}}, captured, K::text, "ok"},
        {100, {{T::rtf, r101}, {T::plainText, t101}}, skipped},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.entries.constLast().first.toStdString() + " " +
                     row.entries.constLast().second.left(40).toStdString());
        pasteboard.setEntries(row.entries);
        limits.textLimit = row.textLimit;
        const CaptureRead result = read();
        EXPECT_EQ(result.outcome, row.outcome);
        if (row.outcome == skipped && row.textLimit == byDefault) {
            // A marker: nothing of the content was read (these rows come first).
            EXPECT_EQ(pasteboard.readCount(QString::fromLatin1(TypeIdentifier::plainText)), 0);
        }
        ASSERT_EQ(result.clip.has_value(), row.outcome == CaptureOutcome::captured);
        if (!result.clip) {
            continue;
        }
        const Clip& clip = *result.clip;
        EXPECT_EQ(clip.kind, row.kind);
        if (row.kind == Clip::Kind::file) {
            EXPECT_EQ(clip.fileURLs, (QStringList{"file:///home/u/Report.pdf", "file:///home/u/Notes.txt"}));
            EXPECT_FALSE(clip.imageData);
        } else if (row.kind == Clip::Kind::image) {
            EXPECT_EQ(clip.imageData, jpeg);
            EXPECT_EQ(clip.dataUTI, QString::fromLatin1(TypeIdentifier::jpeg));
            EXPECT_EQ(clip.sourceURLString, QStringLiteral("https://ex.org/p.jpg?a=1&b=2"));
        } else {
            EXPECT_EQ(clip.richTextData, row.richText);
            EXPECT_FALSE(clip.sourceURLString);
        }
        EXPECT_EQ(clip.plainText ? std::optional(clip.plainText->toUtf8()) : std::nullopt, row.plainText);
    }
}

// Above the direct limit an image becomes a transcode job with its source address; above
// maxCaptureRepBytes (read at every capture, 0 meaning the default) it is not read at all and the
// clipboard's text is captured instead. That setting caps text too, when it is below the store's.
TEST_F(CaptureReadTest, SizeLimits) {
    const QByteArray jpeg = makeImage("jpg");
    limits.directImageLimit = jpeg.size() - 1;
    pasteboard.setEntries({{TypeIdentifier::jpeg, jpeg},
                           {TypeIdentifier::url, "https://ex.org/big.jpg"},
                           {TypeIdentifier::plainText, "the words"}});
    CaptureRead result = read();
    EXPECT_EQ(result.outcome, CaptureOutcome::captured);
    EXPECT_FALSE(result.clip);
    ASSERT_TRUE(result.transcode);
    EXPECT_EQ(result.transcode->bytes, jpeg);
    EXPECT_EQ(result.transcode->sourceURLString, QStringLiteral("https://ex.org/big.jpg"));

    UserSettings::setValue(UserSettings::maxCaptureRepBytesKey, jpeg.size() - 1);
    result = read();
    ASSERT_TRUE(result.clip);
    EXPECT_EQ(result.clip->kind, Clip::Kind::text);
    EXPECT_EQ(result.clip->plainText, QStringLiteral("the words"));

    UserSettings::setValue(UserSettings::maxCaptureRepBytesKey, 0);
    EXPECT_TRUE(read().transcode);

    UserSettings::setValue(UserSettings::maxCaptureRepBytesKey, 10);
    pasteboard.setEntries({{TypeIdentifier::plainText, QByteArray(11, 't')}});
    EXPECT_EQ(read().outcome, CaptureOutcome::skipped);
    UserSettings::setValue(UserSettings::maxCaptureRepBytesKey, 0);
    EXPECT_EQ(read().outcome, CaptureOutcome::captured);
}

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
    // The entry read (by its index), if any, and how.
    const struct {
        QList<QPair<QString, QByteArray>> entries;
        qint64 directLimit, byteCap;
        int chosen;
        Handling handling = Handling::direct;
    } rows[] = {
        {{{T::png, makeImage("png")}, {T::heic, heic}}, directLimit, byteCap, 1},
        {{{T::jpeg, notAnImage()}, {T::gif, makeImage("gif")}}, directLimit, byteCap, 1},
        {{{T::png, notAnImage()}}, directLimit, byteCap, -1},
        {{{T::jpeg, jpeg}}, jpeg.size() - 1, byteCap, 0, Handling::needsTranscode},
        {{{T::jpeg, jpeg}}, jpeg.size(), byteCap, 0},
        {{{T::heic, heic}, {T::png, png}, {T::tiff, makeImage("tif", 8, 8)}},
         directLimit,
         heic.size() - 1,
         -1},
    };
    ASSERT_GT(heic.size(), png.size());
    for (const auto& row : rows) {
        SCOPED_TRACE(row.entries.constFirst().first.toStdString());
        FakePasteboard pasteboard;
        pasteboard.setEntries(row.entries);
        const std::optional<ImageRead> image = readImage(pasteboard, row.directLimit, row.byteCap);
        ASSERT_EQ(image.has_value(), row.chosen >= 0);
        if (image) {
            EXPECT_EQ(image->handling, row.handling);
            EXPECT_EQ(image->typeIdentifier, row.entries[row.chosen].first);
            EXPECT_EQ(image->bytes, row.entries[row.chosen].second);
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

// The src of the first img tag, found case-insensitively with either quote (the double-quoted form
// wins even when the single-quoted one comes first in the tag), with &amp; decoded, also in a tag
// cut off at the end of the text. No usable address: no tag, no attribute, src outside the tag,
// inline data, unterminated or empty.
TEST(ImageSourceFromHTML, ReadsTheFirstImageSource) {
    const std::pair<QString, std::optional<QString>> rows[] = {
        {"<p><IMG ALT='x' SRC='https://ex.org/a.jpg?w=1&amp;h=2&amp;q=3'><img src=\"https://ex.org/b.jpg\">",
         "https://ex.org/a.jpg?w=1&h=2&q=3"},
        {"<img src=\"https://ex.org/x.png\" src='https://ex.org/y.png'>", "https://ex.org/x.png"},
        {"<img data-src='a.png' src=\"b.png\">", "b.png"},
        {"<img src=\"c.png\"", "c.png"},
        {"<p>no picture</p>", std::nullopt},
        {"<img alt=\"x\"><a src=\"later.png\">", std::nullopt},
        {"<img src=\"data:image/png;base64,AAAA\">", std::nullopt},
        {"<img src=\"https://ex.org/open.png", std::nullopt},
        {"<img src=''>", std::nullopt},
        {QString(), std::nullopt},
    };
    for (const auto& [html, source] : rows) {
        EXPECT_EQ(imageSourceFromHTML(html), source) << html.toStdString();
    }
}

// The first URL object that is not a file URL wins; otherwise the HTML's img tag, also in the UTF-16
// HTML (marked with a byte-order mark) that some browsers put on the clipboard.
TEST(SourceURLString, PrefersWebURLObjectsThenHTML) {
    FakePasteboard pasteboard;
    FakePasteboard::Contents contents;
    contents.urls = QStringList{QStringLiteral("file:///home/u/a.png"), QStringLiteral("https://ex.org/pic")};
    contents.entries.append(
        FakePasteboard::Entry{TypeIdentifier::html, "<img src='https://ex.org/from-html.png'>"});
    pasteboard.setContents(contents);
    EXPECT_EQ(sourceURLString(pasteboard), QStringLiteral("https://ex.org/pic"));

    contents.urls = QStringList{QStringLiteral("file:///home/u/a.png")};
    pasteboard.setContents(contents);
    EXPECT_EQ(sourceURLString(pasteboard), QStringLiteral("https://ex.org/from-html.png"));

    contents.urls.reset();
    contents.entries = {FakePasteboard::Entry{TypeIdentifier::png, "x"}};
    pasteboard.setContents(contents);
    EXPECT_EQ(sourceURLString(pasteboard), std::nullopt);

    const QString html = QStringLiteral("<html><body><img src=\"https://ex.org/ü.png\"></body></html>");
    QByteArray utf16("\xff\xfe", 2);
    utf16.append(reinterpret_cast<const char*>(html.utf16()), html.size() * 2);
    pasteboard.setEntries({{TypeIdentifier::html, utf16}});
    EXPECT_EQ(sourceURLString(pasteboard), QStringLiteral("https://ex.org/ü.png"));
}

} // namespace
} // namespace snipjar
