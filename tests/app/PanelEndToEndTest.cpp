#include "CliRunner.h"

#include "platform/x11/X11Platform.h"

#include <QBuffer>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QSet>
#include <gtest/gtest.h>

using namespace snipjar;
using namespace snipjar::test;

namespace {

bool panelIsShown() {
    return windowShown(QStringLiteral("^Snipjar$"));
}

// The running application with its panel, an xterm in front whose shell writes every character
// it is given to a file, and the test's own view of the desktop.
class PanelEndToEnd : public RunningSnipjar {
protected:
    void SetUp() override {
        platform = X11Platform::create();
        ASSERT_TRUE(platform);
        app.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        startSnipjar();
    }

    // Copies the text with the owner helper and lets the owner go once the copy is filed.
    void copyText(const QString& text) {
        const qsizetype before = listed().size();
        QProcess* owner = owners.helper({"UTF8_STRING", text});
        ASSERT_TRUE(waitUntil([&] { return listed().size() == before + 1; }, 15000)) << text.toStdString();
        owner->kill();
    }

    void startTerminal() {
        terminal = std::make_unique<Xterm>(typingTerminal(output));
        activateTerminal();
    }
    void activateTerminal() {
        ASSERT_TRUE(bringToFront(*terminal));
        ASSERT_TRUE(waitUntil([&] { return terminalIsFrontmost(); }, 10000));
    }
    bool terminalIsFrontmost() {
        const std::optional<RunningApplication> front = platform->workspace->frontmostApplication();
        return front && front->processID == terminal->processId();
    }

    void openPanel() {
        ASSERT_FALSE(panelIsShown());
        ASSERT_TRUE(xdotool({"key", "ctrl+alt+v"}));
        ASSERT_TRUE(waitUntil(panelIsShown, 10000)) << "the hot key did not open the panel";
    }

    QString typed() { return QString::fromUtf8(fileContents(output)); }

    SelectionOwners owners;
    std::unique_ptr<X11Platform> platform;
    std::unique_ptr<Xterm> terminal;
    const QString output = environment.path("typed.txt");
};

} // namespace

// Over an xterm, the hot key opens the panel; typing narrows the rows, Down and Return paste the
// second into the xterm, Ctrl+2 the second row; the terminal stays active, nothing is filed again.
TEST_F(PanelEndToEnd, PastesTheChosenClipIntoTheWindowInFront) {
    copyText(QStringLiteral("äpple pie – ünïcode"));
    copyText(QStringLiteral("banana split"));
    copyText(QStringLiteral("cherry tart"));
    startTerminal();

    openPanel();
    // "p" leaves banana split and äpple pie, newest first.
    ASSERT_TRUE(xdotool({"type", "--delay", "30", "p"}));
    ASSERT_TRUE(xdotool({"key", "--delay", "60", "Down", "Return"}));
    ASSERT_TRUE(waitUntil([&] { return typed() == QStringLiteral("äpple pie – ünïcode"); }, 10000))
        << typed().toStdString();
    EXPECT_FALSE(panelIsShown());
    EXPECT_TRUE(terminalIsFrontmost());
    // The pasted clip went to the top, so the second row is now cherry tart.
    openPanel();
    ASSERT_TRUE(xdotool({"key", "ctrl+2"}));
    ASSERT_TRUE(waitUntil([&] { return typed() == QStringLiteral("äpple pie – ünïcodecherry tart"); }, 10000))
        << typed().toStdString();
    // Several polls and the terminal's own reads of the clipboard later, nothing new was filed.
    spinEventLoop(1500);
    EXPECT_EQ(listed().size(), 3);
}

// Escape, a click outside and the hot key again close the panel, the window in front staying
// active; show-panel opens it, and another window becoming active closes it.
TEST_F(PanelEndToEnd, EscapeClickOutsideAndTheHotKeyCloseThePanel) {
    copyText(QStringLiteral("something to show"));
    startTerminal();
    // Held down as a person holds them: the panel takes the keyboard while the keys are still
    // down, so what is typed next reaches the panel, not the terminal.
    ASSERT_TRUE(xdotool({"keydown", "ctrl+alt+v"}));
    ASSERT_TRUE(waitUntil(panelIsShown, 10000));
    spinEventLoop(300);
    ASSERT_TRUE(xdotool({"keyup", "v", "alt", "ctrl"}));
    ASSERT_TRUE(xdotool({"type", "--delay", "30", "zz"}));
    ASSERT_TRUE(xdotool({"key", "Escape"}));
    EXPECT_TRUE(waitUntil([] { return !panelIsShown(); }));
    EXPECT_TRUE(terminalIsFrontmost());

    openPanel();
    ASSERT_TRUE(xdotool({"mousemove", "5", "5", "click", "1"}));
    EXPECT_TRUE(waitUntil([] { return !panelIsShown(); }));
    // The click went to the desktop, which may have taken the focus.
    activateTerminal();

    openPanel();
    ASSERT_TRUE(xdotool({"key", "ctrl+alt+v"}));
    EXPECT_TRUE(waitUntil([] { return !panelIsShown(); }));
    EXPECT_TRUE(terminalIsFrontmost());
    EXPECT_TRUE(typed().isEmpty()) << typed().toStdString();
    // show-panel opens it as the hot key does.
    EXPECT_EQ(QProcess::execute(QStringLiteral(SNIPJAR_EXECUTABLE), {"show-panel"}), 0);
    EXPECT_TRUE(waitUntil(panelIsShown, 10000));
    // Another window becoming active (here made so by the window manager) hides the panel too.
    Xterm other({"-title", "other"});
    EXPECT_TRUE(waitUntil([] { return !panelIsShown(); }, 10000));
}

// Each kind of clip previewed over an xterm, saved as screenshots in the build folder for a person
// to look at; a panel that drew nothing has one or two colours in its part of the screen.
TEST_F(PanelEndToEnd, EveryKindOfPreviewIsDrawn) {
    QImage picture(640, 400, QImage::Format_RGB32);
    QLinearGradient gradient(0, 0, 640, 400);
    gradient.setColorAt(0, QColor(20, 90, 200));
    gradient.setColorAt(1, QColor(240, 160, 40));
    QPainter(&picture).fillRect(picture.rect(), gradient);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, "PNG");
    // Added oldest first: the rows, newest first, go text, rich text, image, files.
    for (const CliRun& added :
         {runCli({"add", "--file", "/etc/hostname", "/usr/share/common-licenses/GPL-3"}),
          runCli({"add", "--kind", "image"}, png),
          runCli({"add", "--kind", "rich"}, "{\\rtf1\\ansi{\\colortbl;\\red200\\green0\\blue0;}{\\fs40 "
                                            "Heading}\\par {\\b bold} {\\i italic} {\\cf1 red}\\par}"),
          runCli({"add"}, "Dear team,\n\nthe release notes for 2.4 are ready for review.\nPlease send "
                          "corrections by Friday.\n\n  \u2014 Ana")}) {
        ASSERT_EQ(added.exitCode, 0) << added.err.toStdString();
    }
    startTerminal();
    const QString folder = QStringLiteral(SNIPJAR_BINARY_DIR "/screenshots");
    QDir().mkpath(folder);
    openPanel();
    const QStringList names = {"text", "rich-text", "image", "files"};
    for (qsizetype index = 0; index < names.size(); ++index) {
        if (index > 0) {
            ASSERT_TRUE(xdotool({"key", "Down"}));
        }
        spinEventLoop(700);
        const QString path = folder + QStringLiteral("/panel-%1.png").arg(names[index]);
        QProcess::execute(QStringLiteral("import"), {"-window", "root", path});
        const QImage shot(path);
        ASSERT_FALSE(shot.isNull()) << path.toStdString();
        QSet<QRgb> colours;
        for (int y = shot.height() / 2 - 300; y < shot.height() / 2 + 200; y += 3) {
            for (int x = shot.width() / 2 - 400; x < shot.width() / 2 + 400; x += 3) {
                colours.insert(shot.pixel(x, y));
            }
        }
        EXPECT_GT(colours.size(), 20) << path.toStdString();
    }
    xdotool({"key", "Escape"});
}
