#include "paste/Paster.h"
#include "platform/PasteboardChangeTracking.h"
#include "platform/TypeIdentifier.h"
#include "platform/UserSettings.h"
#include "platform/fakes/FakeDesktopNotifier.h"
#include "platform/fakes/FakeKeySynthesizer.h"
#include "platform/fakes/FakePasteboard.h"
#include "platform/fakes/FakeWorkspace.h"

#include "TestEnvironment.h"

#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using namespace snipjar;

namespace {

using namespace Qt::StringLiterals;

using Entry = PasteboardContent::Entry;

const RunningApplication editor{4242, "org.example.Editor", "Editor", "Editor", 0x400001};
const RunningApplication terminal{5151, "org.kde.konsole", "Konsole", "konsole", 0x600001};
const RunningApplication xterm{5252, "xterm", "XTerm", "XTerm", 0x800001};
const RunningApplication other{6161, "org.example.Other", "Other", "Other", 0x700001};

// A one-page PDF; the renderer rebuilds the missing cross-reference table.
const QByteArray smallPDF = "%PDF-1.4\n1 0 obj<</Type/Catalog/Pages 2 0 R>>endobj\n"
                            "2 0 obj<</Type/Pages/Kids[3 0 R]/Count 1>>endobj\n"
                            "3 0 obj<</Type/Page/Parent 2 0 R/MediaBox[0 0 40 30]>>endobj\n"
                            "trailer<</Root 1 0 R>>\n%%EOF\n";

Clip clipOf(Clip::Kind kind, std::optional<QString> text = std::nullopt) {
    Clip clip;
    clip.kind = kind;
    clip.plainText = std::move(text);
    return clip;
}

Clip imageClip(const QByteArray& data, std::optional<QString> dataUTI) {
    Clip clip = clipOf(Clip::Kind::image);
    clip.imageData = data;
    clip.dataUTI = std::move(dataUTI);
    return clip;
}

class PasterTest : public ::testing::Test {
protected:
    void SetUp() override { Paster::resetAccessibilityPromptForTesting(); }

    test::TestEnvironment environment;
    FakePasteboard pasteboard;
    FakeWorkspace workspace;
    FakeKeySynthesizer keys;
    FakeDesktopNotifier notifier;
    Paster paster{pasteboard, workspace, keys, notifier};
};

} // namespace

// Text kinds are a string, then RTF when present, then the empty concealed marker; an image is its
// own type (PNG when it has none) and a TIFF companion unless it is a TIFF; files are the URLs that
// parse. The paste writes exactly that and records the change count of its own write.
TEST_F(PasterTest, WritesTheContentOfEachKind) {
    Clip rich = clipOf(Clip::Kind::richText, "Hello");
    rich.richTextData = QByteArray("{\\rtf1 Hello}");
    Clip secret = clipOf(Clip::Kind::text, "hunter2");
    secret.concealed = true;
    Clip files = clipOf(Clip::Kind::file);
    files.fileURLs = {"file:///home/a/report.pdf", "not a url", "", "file:///home/a/b%20c.txt"};
    Clip noImage = imageClip({}, TypeIdentifier::png);
    noImage.imageData.reset();
    const QByteArray tiff("II*\0companion", 13);
    const struct {
        Clip clip;
        std::optional<QByteArray> companion;
        QList<Entry> expected;
    } cases[] = {
        {rich, {}, {{TypeIdentifier::plainText, "Hello"}, {TypeIdentifier::rtf, "{\\rtf1 Hello}"}}},
        {secret, {}, {{TypeIdentifier::plainText, "hunter2"}, {TypeIdentifier::concealedMarker, {}}}},
        {clipOf(Clip::Kind::unknown, "odd"), {}, {{TypeIdentifier::plainText, "odd"}}},
        {clipOf(Clip::Kind::text), {}, {{TypeIdentifier::plainText, QByteArray()}}},
        {imageClip("%PDF", TypeIdentifier::pdf),
         tiff,
         {{TypeIdentifier::pdf, "%PDF"}, {TypeIdentifier::tiff, tiff}}},
        {imageClip("tiff", TypeIdentifier::tiff), tiff, {{TypeIdentifier::tiff, "tiff"}}},
        {imageClip("png", std::nullopt), {}, {{TypeIdentifier::png, "png"}}},
        {noImage, tiff, {}},
        {files, {}, {{TypeIdentifier::fileURL, "file:///home/a/report.pdf\r\nfile:///home/a/b%20c.txt"}}},
    };
    for (const auto& testCase : cases) {
        paster.paste(testCase.clip, testCase.companion, std::nullopt);
        EXPECT_EQ(pasteboard.writes().last().entries, testCase.expected);
        EXPECT_EQ(lastWrittenChangeCount(), pasteboard.changeCount());
    }
    pasteboard.setText("copied elsewhere");
    EXPECT_NE(lastWrittenChangeCount(), pasteboard.changeCount());
}

// Only an image clip with PDF data of at most 5,000,000 bytes that renders gets a TIFF companion.
TEST(PasterTIFFFallback, OnlyForSmallPDFsThatRender) {
    Clip text = clipOf(Clip::Kind::text, "%PDF");
    text.dataUTI = TypeIdentifier::pdf;
    for (const Clip& clip :
         {imageClip(QByteArray(5'000'001, ' '), TypeIdentifier::pdf), imageClip("png", TypeIdentifier::png),
          imageClip("pdf", std::nullopt), text, imageClip("not a pdf", TypeIdentifier::pdf)}) {
        EXPECT_EQ(Paster::tiffFallback(clip), std::nullopt);
    }
    const std::optional<QByteArray> tiff = Paster::tiffFallback(imageClip(smallPDF, TypeIdentifier::pdf));
    ASSERT_TRUE(tiff);
    EXPECT_TRUE(tiff->startsWith(QByteArray("II*\0", 4)) || tiff->startsWith(QByteArray("MM\0*", 4)));
}

// Without key synthesis the clip is still written; the notice appears on the first paste only.
TEST_F(PasterTest, MissingTrustNotifiesOnce) {
    keys.trusted = false;
    workspace.setFrontmost(other);
    paster.paste(clipOf(Clip::Kind::text, "one"), std::nullopt, editor);
    paster.paste(clipOf(Clip::Kind::text, "two"), std::nullopt, editor);
    EXPECT_EQ(pasteboard.writes().size(), 2);
    EXPECT_EQ(notifier.notifications.size(), 1);
    EXPECT_TRUE(keys.keystrokes.isEmpty() && workspace.activations.isEmpty());
}

// The target is its remembered window: without a process the windows tell applications apart
// (another window of the same process in front is X11Paste's, on a real server). A target that
// never comes forward gets the keystroke after the re-checks, from the event loop; one that comes
// forward during the wait gets it then. The re-checks end with their Paster.
TEST_F(PasterTest, WaitsForTheRememberedWindow) {
    const RunningApplication noProcess{0, "B", "B", "B", 0x200};
    workspace.activationEffect = FakeWorkspace::ActivationEffect::none;
    workspace.setFrontmost(RunningApplication{0, "A", "A", "A", 0x100});
    paster.paste(clipOf(Clip::Kind::text, "x"), std::nullopt, noProcess);
    EXPECT_EQ(workspace.activations, QList<RunningApplication>{noProcess});
    EXPECT_TRUE(keys.keystrokes.isEmpty());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !keys.keystrokes.isEmpty(); }, 5000));
    QTest::qWait(100);
    EXPECT_EQ(keys.keystrokes.size(), 1);

    workspace.setFrontmost(other);
    keys.keystrokes.clear();
    paster.paste(clipOf(Clip::Kind::text, "x"), std::nullopt, terminal);
    QTimer::singleShot(50, [&] { workspace.setFrontmost(terminal); });
    EXPECT_TRUE(QTest::qWaitFor([&] { return !keys.keystrokes.isEmpty(); }, 5000));
    EXPECT_EQ(keys.keystrokes, QList<PasteKeystroke>{PasteKeystroke::controlShiftV});

    // Re-checks scheduled by a Paster that is gone do nothing.
    workspace.setFrontmost(other);
    keys.keystrokes.clear();
    {
        Paster shortLived(pasteboard, workspace, keys, notifier);
        shortLived.paste(clipOf(Clip::Kind::text, "x"), std::nullopt, editor);
    }
    QTest::qWait(400);
    EXPECT_TRUE(keys.keystrokes.isEmpty());
}

// A terminal that pastes only the primary selection gets the clip there too (the same entries,
// the concealed marker included) and Shift+Insert; the clipboard write alone sets the change count
// the monitor ignores. Other receivers leave the primary selection alone, as does a user entry
// that moves xterm to Ctrl+Shift+V.
TEST_F(PasterTest, PrimarySelectionTerminalsGetTheClipThereAndShiftInsert) {
    FakePasteboard primary;
    primary.setText(u"what the user selected"_s);
    Paster withPrimary(pasteboard, workspace, keys, notifier, &primary);
    Clip secret = clipOf(Clip::Kind::richText, "hunter2");
    secret.richTextData = QByteArray("{\\rtf1 hunter2}");
    secret.concealed = true;

    workspace.setFrontmost(xterm);
    withPrimary.paste(secret, std::nullopt, xterm);
    // A target in front gets the keystroke at once, without being activated.
    EXPECT_EQ(keys.keystrokes, QList<PasteKeystroke>{PasteKeystroke::shiftInsert});
    EXPECT_TRUE(workspace.activations.isEmpty());
    ASSERT_EQ(primary.writes().size(), 1);
    EXPECT_EQ(primary.writes().first(), pasteboard.writes().last());
    EXPECT_EQ(lastWrittenChangeCount(), pasteboard.changeCount());

    workspace.setFrontmost(terminal);
    withPrimary.paste(clipOf(Clip::Kind::text, "ls"), std::nullopt, terminal);
    EXPECT_EQ(keys.keystrokes.last(), PasteKeystroke::controlShiftV);
    EXPECT_EQ(primary.writes().size(), 1);

    UserSettings::setValue(u"pasteKeys/xterm"_s, u"Ctrl+Shift+V"_s);
    workspace.setFrontmost(xterm);
    withPrimary.paste(clipOf(Clip::Kind::text, "ls"), std::nullopt, xterm);
    EXPECT_EQ(keys.keystrokes.last(), PasteKeystroke::controlShiftV);
    EXPECT_EQ(primary.writes().size(), 1);
}
