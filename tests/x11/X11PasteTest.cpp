#include "X11TestClients.h"

#include "paste/Paster.h"
#include "platform/PasteboardChangeTracking.h"
#include "platform/x11/X11Platform.h"
#include "platform/x11/XcbConnection.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <xcb/xcb_keysyms.h>

#include <cstdlib>

using namespace snipjar;
using namespace snipjar::test;

namespace {

// xterm pastes the clipboard only through its menus by default; this binds Ctrl+Shift+V to it, as
// the common terminal emulators do, and only when no other modifier is held.
const QStringList pasteBinding = {
    "-xrm", "XTerm*VT100.translations: #override \\n !Shift Ctrl <Key>v: insert-selection(CLIPBOARD)"};
const QStringList keepRunning = {"-e", "sleep", "600"};

QByteArray fileContents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// True when a key producing the keysym is down now.
bool isKeyDown(XcbConnection& connection, xcb_keysym_t keysym) {
    xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(connection.get());
    xcb_keycode_t* codes = xcb_key_symbols_get_keycode(symbols, keysym);
    const xcb_keycode_t code = codes ? codes[0] : 0;
    std::free(codes);
    xcb_key_symbols_free(symbols);
    xcb_query_keymap_reply_t* keymap =
        xcb_query_keymap_reply(connection.get(), xcb_query_keymap(connection.get()), nullptr);
    const bool down = keymap && code != 0 && (keymap->keys[code / 8] & (1 << (code % 8)));
    std::free(keymap);
    return down;
}

class X11PasteTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform = X11Platform::create();
        if (!platform) {
            GTEST_SKIP() << "no X display";
        }
        ASSERT_TRUE(folder.isValid());
    }

    void TearDown() override { xdotool({"keyup", "ctrl", "alt"}); }

    std::optional<RunningApplication> waitForFrontmost(qint64 processID) {
        std::optional<RunningApplication> front;
        waitUntil([&] {
            front = platform->workspace->frontmostApplication();
            return front && front->processID == processID && !front->windowClass.isEmpty();
        });
        return front && front->processID == processID ? front : std::nullopt;
    }

    std::unique_ptr<X11Platform> platform;
    QTemporaryDir folder;
};

} // namespace

// A text clip reaches a real terminal in the background: the clipboard is written, the terminal is
// brought forward, the hot key's still-held Ctrl and Alt are released and Ctrl+Shift+V is typed.
TEST_F(X11PasteTest, PastesTextIntoABackgroundTerminal) {
    ASSERT_TRUE(platform->keySynthesizer->isTrusted());
    const QString output = folder.filePath("pasted.txt");
    Xterm target(pasteBinding + QStringList{"-e", "bash", "-c",
                                            "IFS= read -r line; printf '%s' \"$line\" > \"$0\"", output});
    const std::optional<RunningApplication> targetApplication = waitForFrontmost(target.processID());
    ASSERT_TRUE(targetApplication);
    Xterm other(keepRunning);
    ASSERT_TRUE(waitForFrontmost(other.processID()));

    ASSERT_TRUE(xdotool({"keydown", "ctrl", "alt"}));
    Paster paster(*platform->pasteboard, *platform->workspace, *platform->keySynthesizer,
                  *platform->desktopNotifier);
    Clip clip;
    clip.kind = Clip::Kind::text;
    clip.plainText = QStringLiteral("pasted by Snipjar – ünïcode\n");
    paster.paste(clip, std::nullopt, targetApplication);

    EXPECT_TRUE(waitUntil([&] { return !fileContents(output).isEmpty(); }, 10000));
    // Only the target, which was in the background, writes this file.
    EXPECT_EQ(QString::fromUtf8(fileContents(output)), QStringLiteral("pasted by Snipjar – ünïcode"));

    // The held modifiers were released before the keystroke.
    EXPECT_FALSE(isKeyDown(*platform->connection, 0xffe3 /* Control_L */));
    EXPECT_FALSE(isKeyDown(*platform->connection, 0xffe9 /* Alt_L */));

    // The paste's own clipboard change stays the recorded one, so the monitor will not capture it.
    spinEventLoop(200);
    EXPECT_EQ(lastWrittenChangeCount(), platform->pasteboard->changeCount());
}

// Without releasing held modifiers the terminal would see Ctrl+Alt+Shift+V and paste nothing; this
// checks that the binding used above really tells the two apart.
TEST_F(X11PasteTest, HeldAltDefeatsTheBindingWithoutRelease) {
    const QString output = folder.filePath("typed.txt");
    Xterm target(pasteBinding + QStringList{"-e", "bash", "-c",
                                            "IFS= read -r line; printf '%s' \"$line\" > \"$0\"", output});
    ASSERT_TRUE(waitForFrontmost(target.processID()));
    Clip clip;
    clip.kind = Clip::Kind::text;
    clip.plainText = QStringLiteral("first\n");
    platform->pasteboard->write(Paster::content(clip, std::nullopt));

    ASSERT_TRUE(xdotool({"keydown", "alt"}));
    ASSERT_TRUE(xdotool({"key", "ctrl+shift+v"}));
    ASSERT_TRUE(xdotool({"keyup", "alt"}));
    spinEventLoop(300);
    EXPECT_TRUE(fileContents(output).isEmpty());
}

// Without an X display there is no X11 platform.
TEST(X11PlatformFactory, NoDisplayGivesNone) {
    const QByteArray display = qgetenv("DISPLAY");
    qputenv("DISPLAY", ":4711");
    EXPECT_EQ(X11Platform::create(), nullptr);
    qputenv("DISPLAY", display);
}
