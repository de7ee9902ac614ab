#include "paste/Paster.h"
#include "platform/PasteboardChangeTracking.h"
#include "platform/TypeIdentifier.h"
#include "platform/fakes/FakeDesktopNotifier.h"
#include "platform/fakes/FakeKeySynthesizer.h"
#include "platform/fakes/FakePasteboard.h"
#include "platform/fakes/FakeWorkspace.h"

#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using namespace snipjar;

namespace {

using Entry = PasteboardContent::Entry;

const RunningApplication editor{4242, "org.example.Editor", "Editor", "Editor", 0x400001};
const RunningApplication terminal{5151, "xterm", "XTerm", "XTerm", 0x600001};
const RunningApplication other{6161, "org.example.Other", "Other", "Other", 0x700001};

// A one-page PDF with a red rectangle, with a correct cross-reference table.
QByteArray smallPDF() {
    const QByteArray content = "1 0 0 rg 0 0 40 30 re f";
    const QList<QByteArray> objects = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 40 30] /Contents 4 0 R >>",
        "<< /Length " + QByteArray::number(content.size()) + " >>\nstream\n" + content + "\nendstream",
    };
    QByteArray pdf = "%PDF-1.4\n";
    QList<qsizetype> offsets;
    for (qsizetype i = 0; i < objects.size(); ++i) {
        offsets.append(pdf.size());
        pdf += QByteArray::number(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const qsizetype xref = pdf.size();
    pdf += "xref\n0 " + QByteArray::number(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (qsizetype offset : offsets) {
        pdf += QByteArray::number(offset).rightJustified(10, '0') + " 00000 n \n";
    }
    pdf += "trailer\n<< /Size " + QByteArray::number(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
           QByteArray::number(xref) + "\n%%EOF\n";
    return pdf;
}

Clip textClip(const QString& text) {
    Clip clip;
    clip.kind = Clip::Kind::text;
    clip.plainText = text;
    return clip;
}

Clip imageClip(const QByteArray& data, std::optional<QString> dataUTI) {
    Clip clip;
    clip.kind = Clip::Kind::image;
    clip.imageData = data;
    clip.dataUTI = std::move(dataUTI);
    return clip;
}

class PasterTest : public ::testing::Test {
protected:
    void SetUp() override { Paster::resetAccessibilityPromptForTesting(); }

    // The single write the paste made.
    QList<Entry> written() {
        const QList<PasteboardContent> writes = pasteboard.writes();
        EXPECT_EQ(writes.size(), 1);
        return writes.isEmpty() ? QList<Entry>() : writes.last().entries;
    }

    FakePasteboard pasteboard;
    FakeWorkspace workspace;
    FakeKeySynthesizer keys;
    FakeDesktopNotifier notifier;
    Paster paster{pasteboard, workspace, keys, notifier};
};

} // namespace

// Text, rich text and unknown clips are written as a string, then RTF when present, then the
// concealed marker (empty) when concealed.
TEST_F(PasterTest, WritesTextKindsInOrder) {
    Clip rich = textClip("Hello");
    rich.kind = Clip::Kind::richText;
    rich.richTextData = QByteArray("{\\rtf1 Hello}");
    paster.paste(rich, std::nullopt, std::nullopt);
    EXPECT_EQ(written(),
              (QList<Entry>{{TypeIdentifier::plainText, "Hello"}, {TypeIdentifier::rtf, "{\\rtf1 Hello}"}}));

    const struct {
        Clip clip;
        QList<Entry> expected;
    } cases[] = {
        {textClip(QStringLiteral("Grüße")), {{TypeIdentifier::plainText, QStringLiteral("Grüße").toUtf8()}}},
        {[] {
             Clip clip = textClip("hunter2");
             clip.concealed = true;
             return clip;
         }(),
         {{TypeIdentifier::plainText, "hunter2"}, {TypeIdentifier::concealedMarker, QByteArray()}}},
        {[] {
             Clip clip;
             clip.kind = Clip::Kind::unknown;
             clip.plainText = "odd";
             return clip;
         }(),
         {{TypeIdentifier::plainText, "odd"}}},
        // A missing text is written as an empty string.
        {[] {
             Clip clip;
             clip.kind = Clip::Kind::text;
             return clip;
         }(),
         {{TypeIdentifier::plainText, QByteArray()}}},
    };
    for (const auto& testCase : cases) {
        EXPECT_EQ(Paster::content(testCase.clip, std::nullopt).entries, testCase.expected);
    }
}

// An image is written under its own type (PNG when it has none); a TIFF companion follows unless
// the image is a TIFF itself; no image data leaves the clipboard cleared.
TEST_F(PasterTest, WritesImagesWithOptionalTIFFCompanion) {
    const QByteArray pdf("%PDF-1.4 small");
    const QByteArray tiff("II*\0companion", 13);
    paster.paste(imageClip(pdf, TypeIdentifier::pdf), tiff, std::nullopt);
    EXPECT_EQ(written(), (QList<Entry>{{TypeIdentifier::pdf, pdf}, {TypeIdentifier::tiff, tiff}}));

    EXPECT_EQ(Paster::content(imageClip(pdf, TypeIdentifier::pdf), std::nullopt).entries,
              (QList<Entry>{{TypeIdentifier::pdf, pdf}}));
    EXPECT_EQ(Paster::content(imageClip("tiff bytes", TypeIdentifier::tiff), tiff).entries,
              (QList<Entry>{{TypeIdentifier::tiff, "tiff bytes"}}));
    EXPECT_EQ(Paster::content(imageClip("png bytes", std::nullopt), std::nullopt).entries,
              (QList<Entry>{{TypeIdentifier::png, "png bytes"}}));
    EXPECT_EQ(Paster::content(imageClip("webp bytes", "public.webp"), std::nullopt).entries,
              (QList<Entry>{{"public.webp", "webp bytes"}}));

    Clip noData = imageClip({}, TypeIdentifier::png);
    noData.imageData.reset();
    EXPECT_TRUE(Paster::content(noData, tiff).entries.isEmpty());
}

// Only an image clip with PDF data of at most 5,000,000 bytes gets a TIFF companion.
TEST_F(PasterTest, TIFFFallbackOnlyForSmallPDFs) {
    EXPECT_EQ(Paster::tiffFallback(imageClip(QByteArray(5'000'001, ' '), TypeIdentifier::pdf)), std::nullopt);
    EXPECT_EQ(Paster::tiffFallback(imageClip("png", TypeIdentifier::png)), std::nullopt);
    EXPECT_EQ(Paster::tiffFallback(imageClip("pdf", std::nullopt)), std::nullopt);
    Clip text = textClip("%PDF");
    text.dataUTI = TypeIdentifier::pdf;
    EXPECT_EQ(Paster::tiffFallback(text), std::nullopt);
    // Bytes that are not a PDF render to nothing.
    EXPECT_EQ(Paster::tiffFallback(imageClip("not a pdf", TypeIdentifier::pdf)), std::nullopt);

    const std::optional<QByteArray> tiff = Paster::tiffFallback(imageClip(smallPDF(), TypeIdentifier::pdf));
    ASSERT_TRUE(tiff);
    EXPECT_TRUE(tiff->startsWith(QByteArray("II*\0", 4)) || tiff->startsWith(QByteArray("MM\0*", 4)));
}

// File clips become one file-URL entry of the URLs that parse, in order.
TEST_F(PasterTest, WritesFileURLsDroppingInvalidOnes) {
    Clip files;
    files.kind = Clip::Kind::file;
    files.fileURLs = {"file:///home/a/report.pdf", "not a url", "", "file:///home/a/b%20c.txt"};
    paster.paste(files, std::nullopt, std::nullopt);
    EXPECT_EQ(written(), (QList<Entry>{{TypeIdentifier::fileURL,
                                        "file:///home/a/report.pdf\r\nfile:///home/a/b%20c.txt"}}));

    files.fileURLs = {"bad url"};
    EXPECT_TRUE(Paster::content(files, std::nullopt).entries.isEmpty());
}

// The change count of the own write is recorded, so the monitor can ignore it.
TEST_F(PasterTest, RecordsTheChangeCountOfItsWrite) {
    pasteboard.setText("before");
    paster.paste(textClip("pasted"), std::nullopt, std::nullopt);
    EXPECT_EQ(lastWrittenChangeCount(), pasteboard.changeCount());
    pasteboard.setText("copied elsewhere");
    EXPECT_NE(lastWrittenChangeCount(), pasteboard.changeCount());
}

// Without key synthesis the clip is still written; the notice appears on the first paste only.
TEST_F(PasterTest, MissingTrustNotifiesOnce) {
    keys.trusted = false;
    workspace.setFrontmost(other);
    paster.paste(textClip("one"), std::nullopt, editor);
    paster.paste(textClip("two"), std::nullopt, editor);
    EXPECT_EQ(pasteboard.writes().size(), 2);
    EXPECT_EQ(notifier.notifications.size(), 1);
    EXPECT_EQ(notifier.notifications.value(0).summary, QStringLiteral("Automatic paste is unavailable"));
    EXPECT_TRUE(Paster::didPromptForAccessibility());
    EXPECT_TRUE(keys.keystrokes.isEmpty());
    EXPECT_TRUE(workspace.activations.isEmpty());
}

// A target already in front gets the keystroke at once, without activation or waiting.
TEST_F(PasterTest, FrontmostTargetGetsKeystrokeAtOnce) {
    workspace.setFrontmost(editor);
    paster.paste(textClip("x"), std::nullopt, editor);
    EXPECT_EQ(keys.keystrokes, QList<PasteKeystroke>{PasteKeystroke::controlV});
    EXPECT_TRUE(workspace.activations.isEmpty());

    paster.paste(textClip("x"), std::nullopt, std::nullopt);
    EXPECT_EQ(keys.keystrokes.size(), 2);
}

// A target in the background is activated; once in front it gets the keystroke. Terminals get
// Ctrl+Shift+V.
TEST_F(PasterTest, ActivatesTargetAndUsesTerminalKeystroke) {
    workspace.setFrontmost(other);
    paster.paste(textClip("ls"), std::nullopt, terminal);
    EXPECT_EQ(workspace.activations, QList<RunningApplication>{terminal});
    EXPECT_EQ(keys.keystrokes, QList<PasteKeystroke>{PasteKeystroke::controlShiftV});
}

// A target that never comes forward still gets the keystroke, after 15 re-checks 20 ms apart, from
// the event loop rather than a nested wait.
TEST_F(PasterTest, UnresponsiveTargetGetsKeystrokeAfterFifteenRechecks) {
    workspace.setFrontmost(other);
    workspace.activationEffect = FakeWorkspace::ActivationEffect::none;
    paster.paste(textClip("x"), std::nullopt, editor);
    EXPECT_EQ(workspace.activations, QList<RunningApplication>{editor});
    EXPECT_TRUE(keys.keystrokes.isEmpty());

    EXPECT_TRUE(QTest::qWaitFor([&] { return !keys.keystrokes.isEmpty(); }, 5000));
    EXPECT_EQ(keys.keystrokes, QList<PasteKeystroke>{PasteKeystroke::controlV});
    // One check at the start, one after each of the 15 waits.
    EXPECT_EQ(workspace.frontmostQueries - 1, 16);
    QTest::qWait(100);
    EXPECT_EQ(keys.keystrokes.size(), 1);
}

// A target that comes forward during the wait gets the keystroke at the next re-check.
TEST_F(PasterTest, TargetComingForwardLaterEndsTheWait) {
    workspace.setFrontmost(other);
    workspace.activationEffect = FakeWorkspace::ActivationEffect::none;
    paster.paste(textClip("x"), std::nullopt, terminal);
    QTimer::singleShot(50, [&] { workspace.setFrontmost(terminal); });
    EXPECT_TRUE(QTest::qWaitFor([&] { return !keys.keystrokes.isEmpty(); }, 5000));
    EXPECT_EQ(keys.keystrokes, QList<PasteKeystroke>{PasteKeystroke::controlShiftV});
    EXPECT_LT(workspace.frontmostQueries, 16);
}

// Re-checks scheduled by a Paster that is gone do nothing.
TEST(PasterLifetime, PendingRechecksDieWithThePaster) {
    FakePasteboard pasteboard;
    FakeWorkspace workspace;
    FakeKeySynthesizer keys;
    FakeDesktopNotifier notifier;
    workspace.setFrontmost(other);
    workspace.activationEffect = FakeWorkspace::ActivationEffect::none;
    {
        Paster paster(pasteboard, workspace, keys, notifier);
        paster.paste(textClip("x"), std::nullopt, editor);
    }
    QTest::qWait(400);
    EXPECT_TRUE(keys.keystrokes.isEmpty());
}

// Terminal emulators are recognised by window class, without regard to case.
TEST(PasterKeystroke, TerminalsGetControlShiftV) {
    for (const char* windowClass :
         {"XTerm", "xterm", "UXTerm", "Gnome-terminal", "gnome-terminal-server", "konsole", "kitty",
          "Alacritty", "foot", "st-256color", "URxvt", "Terminator", "Tilix", "Xfce4-terminal",
          "org.wezfurlong.wezterm", "Termite"}) {
        RunningApplication application = editor;
        application.windowClass = windowClass;
        EXPECT_EQ(Paster::keystrokeFor(application), PasteKeystroke::controlShiftV) << windowClass;
    }
    for (const char* windowClass : {"firefox", "Gedit", "", "terminal-notes"}) {
        RunningApplication application = editor;
        application.windowClass = windowClass;
        EXPECT_EQ(Paster::keystrokeFor(application), PasteKeystroke::controlV) << windowClass;
    }
    EXPECT_EQ(Paster::keystrokeFor(std::nullopt), PasteKeystroke::controlV);
}

// Applications whose process is unknown are told apart by their windows.
TEST_F(PasterTest, ApplicationsWithoutProcessAreComparedByWindow) {
    const RunningApplication unknownFront{0, "A", "A", "A", 0x100};
    const RunningApplication unknownTarget{0, "B", "B", "B", 0x200};
    workspace.setFrontmost(unknownFront);
    workspace.activationEffect = FakeWorkspace::ActivationEffect::none;
    paster.paste(textClip("x"), std::nullopt, unknownTarget);
    EXPECT_EQ(workspace.activations, QList<RunningApplication>{unknownTarget});
    EXPECT_TRUE(keys.keystrokes.isEmpty());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !keys.keystrokes.isEmpty(); }, 5000));
}
