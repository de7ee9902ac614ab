#include "X11TestClients.h"

#include "paste/Paster.h"
#include "platform/KeyPosition.h"
#include "platform/x11/X11Platform.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace snipjar;
using namespace snipjar::test;

namespace {

// Not this process, whose own windows never count as frontmost.
constexpr quint32 terminalServerProcess = 999'999;

} // namespace

// One process may own many windows (a terminal server with two terminals). The paste goes to the
// remembered window: with another window of the same process in front, the remembered one is
// activated first and receives Ctrl+V, without the hot key's Ctrl and Alt that are still held.
TEST(X11Paste, KeystrokeReachesTheRememberedWindowOfItsProcess) {
    std::unique_ptr<X11Platform> platform = X11Platform::create();
    std::unique_ptr<XcbConnection> client = XcbConnection::open();
    ASSERT_TRUE(platform && client && platform->keySynthesizer->isTrusted());
    auto frontmostWindow = [&] {
        const std::optional<RunningApplication> front = platform->workspace->frontmostApplication();
        return front ? front->windowID : 0;
    };
    TestWindow remembered(*client, terminalServerProcess, "SnipjarTerminal");
    ASSERT_TRUE(waitUntil([&] { return frontmostWindow() == remembered.window; }));
    const std::optional<RunningApplication> target = platform->workspace->frontmostApplication();
    TestWindow inFront(*client, terminalServerProcess, "SnipjarTerminal");
    ASSERT_TRUE(waitUntil([&] { return frontmostWindow() == inFront.window; }));

    Paster paster(*platform->pasteboard, *platform->workspace, *platform->keySynthesizer,
                  *platform->desktopNotifier);
    Clip clip;
    clip.kind = Clip::Kind::text;
    clip.plainText = QStringLiteral("pasted");
    // A layout without a Latin group has no key that types "v": the keystroke goes to the key at
    // V's place, which applications read as Ctrl+V.
    for (const char* layout : {"us", "ru"}) {
        SCOPED_TRACE(layout);
        QProcess::execute("setxkbmap", {layout});
        ASSERT_TRUE(xdotool({"keydown", "ctrl", "alt"}));
        TestWindow::takeKeyPresses(*client);
        paster.paste(clip, std::nullopt, target);

        const xcb_keycode_t v = KeyPosition::usKeycode('v');
        QList<xcb_key_press_event_t> presses;
        EXPECT_TRUE(waitUntil([&] {
            presses += TestWindow::takeKeyPresses(*client);
            return std::any_of(presses.begin(), presses.end(),
                               [&](const auto& press) { return press.detail == v; });
        }));
        for (const xcb_key_press_event_t& press : presses) {
            EXPECT_EQ(press.event, remembered.window);
            if (press.detail == v) {
                EXPECT_EQ(press.state & (XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | XCB_MOD_MASK_SHIFT),
                          XCB_MOD_MASK_CONTROL);
            }
        }
        xdotool({"keyup", "ctrl", "alt"});
    }
    QProcess::execute("setxkbmap", {"us"});
}

// urxvt with its default key bindings binds nothing to the clipboard, and its Shift+Insert pastes
// the primary selection: the clip goes there as well and arrives typed into the terminal, while the
// clipboard holds it too. (xterm, which does the same, gets its clips so in PanelEndToEnd.)
TEST(X11Paste, ATerminalWithDefaultBindingsGetsTheClipThroughThePrimarySelection) {
    std::unique_ptr<X11Platform> platform = X11Platform::create();
    ASSERT_TRUE(platform && platform->primarySelection && platform->keySynthesizer->isTrusted());
    Paster paster(*platform->pasteboard, *platform->workspace, *platform->keySynthesizer,
                  *platform->desktopNotifier, platform->primarySelection.get());
    QTemporaryDir folder;
    const QString output = folder.filePath(QStringLiteral("typed.txt"));
    Xterm terminal({"-e", "bash", "-c", "stty -icanon; exec cat > \"$0\"", output}, QStringLiteral("urxvt"));
    std::optional<RunningApplication> target;
    ASSERT_TRUE(waitUntil(
        [&] {
            target = platform->workspace->frontmostApplication();
            return target && target->processID == terminal.processId() && !target->windowClass.isEmpty() &&
                   QFile::exists(output);
        },
        10000));
    EXPECT_EQ(Paster::keystrokeFor(target), PasteKeystroke::shiftInsert) << target->windowClass.toStdString();

    Clip clip;
    clip.kind = Clip::Kind::text;
    clip.plainText = QStringLiteral("pasted into urxvt");
    paster.paste(clip, std::nullopt, target);
    EXPECT_TRUE(waitUntil([&] { return fileContents(output) == clip.plainText->toUtf8(); }, 10000))
        << fileContents(output).toStdString();
    EXPECT_EQ(platform->pasteboard->string(), clip.plainText);
}
