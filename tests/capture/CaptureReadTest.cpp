#include "capture/CaptureRead.h"
#include "platform/TypeIdentifier.h"
#include "platform/UserSettings.h"
#include "platform/fakes/FakePasteboard.h"

#include "TestEnvironment.h"
#include "TestImages.h"

#include <gtest/gtest.h>

namespace snipjar {
namespace {

using test::makeImage;
using Entries = QList<QPair<QString, QByteArray>>;

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
    using T = TypeIdentifier;
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
        EXPECT_FALSE(clip.concealed);
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

} // namespace
} // namespace snipjar
