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

QString id(const char* identifier) {
    return QString::fromLatin1(identifier);
}

class CaptureReadTest : public ::testing::Test {
protected:
    CaptureRead read() { return readCapture(pasteboard, limits); }

    test::TestEnvironment environment;
    FakePasteboard pasteboard;
    CaptureLimits limits;
};

// A marker forbids the capture, and nothing of the content is read.
TEST_F(CaptureReadTest, MarkersSkipWithoutReading) {
    for (const char* marker : {TypeIdentifier::concealedMarker, TypeIdentifier::transientMarker,
                               TypeIdentifier::remoteClipboardMarker}) {
        pasteboard.setEntries({{TypeIdentifier::plainText, "hunter2"}, {marker, "secret"}});
        const CaptureRead result = read();
        EXPECT_EQ(result.outcome, CaptureOutcome::skipped) << marker;
        EXPECT_FALSE(result.clip);
    }
    EXPECT_EQ(pasteboard.readCount(id(TypeIdentifier::plainText)), 0);
}

// When the clipboard changes hands in the middle of a capture, nothing of what was read is kept:
// here a password manager takes it between the type list and the text.
TEST_F(CaptureReadTest, OwnerChangeDuringTheCaptureDropsTheResult) {
    pasteboard.setText(QStringLiteral("ordinary words"));
    pasteboard.runAfterNextTypes([this] {
        pasteboard.setEntries(
            {{TypeIdentifier::plainText, "hunter2"}, {TypeIdentifier::concealedMarker, ""}});
    });
    const CaptureRead result = read();
    EXPECT_EQ(result.outcome, CaptureOutcome::empty);
    EXPECT_FALSE(result.clip);
    EXPECT_EQ(read().outcome, CaptureOutcome::skipped);
}

// Files come before images: two files with an icon image give one file clip in clipboard order.
TEST_F(CaptureReadTest, FilesBeforeImages) {
    pasteboard.setEntries(
        {{TypeIdentifier::png, makeImage("png")},
         {TypeIdentifier::fileURL, "file:///home/u/Report.pdf\r\nfile:///home/u/Notes.txt\r\n"},
         {TypeIdentifier::plainText, "Report.pdf\nNotes.txt"}});
    const CaptureRead result = read();
    ASSERT_EQ(result.outcome, CaptureOutcome::captured);
    ASSERT_TRUE(result.clip);
    EXPECT_EQ(result.clip->kind, Clip::Kind::file);
    EXPECT_EQ(result.clip->fileURLs, (QStringList{QStringLiteral("file:///home/u/Report.pdf"),
                                                  QStringLiteral("file:///home/u/Notes.txt")}));
    EXPECT_FALSE(result.clip->imageData);
    EXPECT_FALSE(result.clip->plainText);
}

// An image clip carries the bytes, their type and the web address it came from, and nothing else.
TEST_F(CaptureReadTest, ImageBeforeText) {
    const QByteArray jpeg = makeImage("jpg");
    pasteboard.setEntries({{TypeIdentifier::plainText, "caption"},
                           {TypeIdentifier::html, "<IMG SRC='https://ex.org/p.jpg?a=1&amp;b=2'>"},
                           {TypeIdentifier::jpeg, jpeg}});
    const CaptureRead result = read();
    ASSERT_TRUE(result.clip);
    const Clip& clip = *result.clip;
    EXPECT_EQ(clip.kind, Clip::Kind::image);
    EXPECT_EQ(clip.imageData, jpeg);
    EXPECT_EQ(clip.dataUTI, id(TypeIdentifier::jpeg));
    EXPECT_EQ(clip.sourceURLString, QStringLiteral("https://ex.org/p.jpg?a=1&b=2"));
    EXPECT_FALSE(clip.plainText);
    EXPECT_FALSE(clip.concealed);
}

// Above the direct limit an image becomes a transcode job with its source address; above
// maxCaptureRepBytes (read at every capture, 0 meaning the default) it is not read at all and the
// clipboard's text is captured instead.
TEST_F(CaptureReadTest, ImageSizeLimits) {
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
}

// Rich text needs its plain string (an empty one is accepted); without it the RTF is dropped.
TEST_F(CaptureReadTest, RichTextNeedsItsPlainString) {
    const QByteArray rtf = "{\\rtf1\\ansi {\\b bold} words}";
    pasteboard.setEntries({{TypeIdentifier::rtf, rtf}, {TypeIdentifier::plainText, "bold words"}});
    CaptureRead result = read();
    ASSERT_TRUE(result.clip);
    EXPECT_EQ(result.clip->kind, Clip::Kind::richText);
    EXPECT_EQ(result.clip->plainText, QStringLiteral("bold words"));
    EXPECT_EQ(result.clip->richTextData, rtf);

    pasteboard.setEntries({{TypeIdentifier::rtf, rtf}, {TypeIdentifier::plainText, ""}});
    result = read();
    ASSERT_TRUE(result.clip);
    EXPECT_EQ(result.clip->kind, Clip::Kind::richText);
    EXPECT_EQ(result.clip->plainText, QString());

    pasteboard.setEntries({{TypeIdentifier::rtf, rtf}});
    EXPECT_EQ(read().outcome, CaptureOutcome::empty);
}

// Plain text: absent or empty gives empty; no size limit applies.
TEST_F(CaptureReadTest, PlainText) {
    pasteboard.setEntries({{TypeIdentifier::plainText, ""}});
    EXPECT_EQ(read().outcome, CaptureOutcome::empty);
    pasteboard.setEntries({{QStringLiteral("application/x-unknown"), "zzz"}});
    EXPECT_EQ(read().outcome, CaptureOutcome::empty);

    const QString large(2'000'000, QLatin1Char('a'));
    pasteboard.setText(large);
    const CaptureRead result = read();
    ASSERT_TRUE(result.clip);
    EXPECT_EQ(result.clip->kind, Clip::Kind::text);
    EXPECT_EQ(result.clip->plainText, large);
    EXPECT_FALSE(result.clip->sourceURLString);
}

// Text and rich text are read no further than the store keeps (or maxCaptureRepBytes, when lower).
// Text above it makes the copy not recorded, without a retry; rich text that does not fit with its
// words is passed over for the words alone.
TEST_F(CaptureReadTest, TextAboveTheStoreLimitIsNotRecorded) {
    limits.textLimit = 100;
    const QByteArray words(60, 'w');
    const QByteArray rtf = "{\\rtf1 " + QByteArray(50, 'r') + "}";
    pasteboard.setEntries({{TypeIdentifier::plainText, QByteArray(100, 't')}});
    CaptureRead result = read();
    ASSERT_EQ(result.outcome, CaptureOutcome::captured);
    EXPECT_EQ(result.clip->plainText->size(), 100);

    pasteboard.setEntries({{TypeIdentifier::plainText, QByteArray(101, 't')}});
    result = read();
    EXPECT_EQ(result.outcome, CaptureOutcome::skipped);
    EXPECT_FALSE(result.clip);

    pasteboard.setEntries({{TypeIdentifier::rtf, rtf}, {TypeIdentifier::plainText, words}});
    result = read();
    ASSERT_TRUE(result.clip);
    EXPECT_EQ(result.clip->kind, Clip::Kind::text);
    EXPECT_EQ(result.clip->plainText, QString::fromLatin1(words));
    EXPECT_FALSE(result.clip->richTextData);

    pasteboard.setEntries({{TypeIdentifier::rtf, QByteArray(101, 'r')}, {TypeIdentifier::plainText, "ok"}});
    result = read();
    ASSERT_TRUE(result.clip);
    EXPECT_EQ(result.clip->kind, Clip::Kind::text);
    EXPECT_EQ(result.clip->plainText, QStringLiteral("ok"));

    pasteboard.setEntries(
        {{TypeIdentifier::rtf, QByteArray(101, 'r')}, {TypeIdentifier::plainText, QByteArray(101, 't')}});
    EXPECT_EQ(read().outcome, CaptureOutcome::skipped);

    limits.textLimit = CaptureLimits::defaultTextLimit;
    UserSettings::setValue(UserSettings::maxCaptureRepBytesKey, 10);
    pasteboard.setEntries({{TypeIdentifier::plainText, QByteArray(11, 't')}});
    EXPECT_EQ(read().outcome, CaptureOutcome::skipped);
    UserSettings::setValue(UserSettings::maxCaptureRepBytesKey, 0);
    EXPECT_EQ(read().outcome, CaptureOutcome::captured);
}

} // namespace
} // namespace snipjar
