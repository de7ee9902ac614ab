#include "CaptureTestSupport.h"
#include "X11TestClients.h"
#include "platform/x11/X11Pasteboard.h"
#include "platform/x11/X11Workspace.h"
#include "platform/x11/XcbConnection.h"

#include <QProcess>

namespace snipjar {
namespace {

using namespace std::chrono_literals;
using test::settle;
using test::waitUntil;

// Longer than the settle and confirm times of the monitor, with room for a busy machine.
constexpr auto afterSettling = 2500ms;

// Text selected by other programs on a real X server reaches the history through the monitor of the
// primary selection, with its real waits.
class PrimarySelectionX11Test : public test::MonitorTest {
protected:
    void SetUp() override {
        selection = X11Pasteboard::create(nullptr, "PRIMARY");
        if (!selection) {
            GTEST_SKIP() << "no X display";
        }
        selection->setReadTimeouts({.answer = 1s, .idle = 1s, .total = 30s});
        // As the application makes it.
        selection->setKeepsValuesBetweenCaptures(false);
    }

    void startMonitor(Workspace& on) { startSelectionMonitor(*selection, on); }

    void selectWithOwner(const QStringList& arguments) {
        test::taking(*selection, [&] {
            return owners.helper(QStringList{"--selection", "PRIMARY"} + arguments);
        });
    }

    std::unique_ptr<X11Pasteboard> selection;
    test::SelectionOwners owners;
};

// A selection whose owner keeps it while its text grows is filed once, with its final text. (One
// taken anew at every extension, one xclip after the other, is ShellSelectedText's.)
TEST_F(PrimarySelectionX11Test, GrowingSelectionIsFiledOnceWithItsFinalText) {
    startMonitor(workspace);
    // 40 characters, one more every 25 ms: a second of growth under one owner.
    selectWithOwner({"--grow-ms", "25", "UTF8_STRING", "jumps over the lazy dog, again and again"});
    ASSERT_TRUE(waitUntil([&] { return filed == 1; }));
    settle(afterSettling);
    ASSERT_EQ(items().size(), 1);
    EXPECT_EQ(items().front().title, QStringLiteral("jumps over the lazy dog, again and again"));
}

// A password manager's selection is never filed (one whose hint cannot be read is the same reading
// as the clipboard's, in CaptureX11Test); nor is a selection of files or one without text. The text
// of a rich selection is filed as plain text.
TEST_F(PrimarySelectionX11Test, SkipsWhatIsNotSelectedText) {
    startMonitor(workspace);
    selectWithOwner({"UTF8_STRING", "correct horse battery staple", "x-kde-passwordManagerHint", "secret"});
    ASSERT_TRUE(waitUntil([&] { return outcomes.contains(CaptureOutcome::skipped); }));
    outcomes.clear();
    selectWithOwner({"text/uri-list", "file:///etc/hostname\r\n", "UTF8_STRING", "/etc/hostname"});
    ASSERT_TRUE(waitUntil([&] { return outcomes.contains(CaptureOutcome::skipped); }));
    selectWithOwner({"image/png", "not really a picture"});
    ASSERT_TRUE(waitUntil([&] { return outcomes.contains(CaptureOutcome::empty); }));
    settle(afterSettling);
    EXPECT_EQ(filed, 0);
    EXPECT_TRUE(items().isEmpty());

    selectWithOwner({"text/html", "<b>bold</b> words", "UTF8_STRING", "bold words"});
    ASSERT_TRUE(waitUntil([&] { return filed == 1; }));
    ASSERT_EQ(items().size(), 1);
    EXPECT_EQ(items().front().kind(), Clip::Kind::text);
    EXPECT_EQ(items().front().title, QStringLiteral("bold words"));
}

// Text dragged over in an xterm with the mouse is filed once when the button is let go, with the
// xterm as its source.
TEST_F(PrimarySelectionX11Test, TextDraggedInAnXtermIsFiledOnce) {
    std::unique_ptr<XcbConnection> connection = XcbConnection::open();
    ASSERT_TRUE(connection);
    X11Workspace desktop(*connection);
    startMonitor(desktop);
    test::Xterm xterm(
        {"-geometry", "60x5+100+100", "-e", "sh", "-c", "printf 'alpha beta gamma delta'; exec sleep 600"});
    QByteArray window;
    ASSERT_TRUE(waitUntil([&] {
        QProcess search;
        search.start(QStringLiteral("xdotool"),
                     {"search", "--onlyvisible", "--pid", QString::number(xterm.processId())});
        search.waitForFinished(5000);
        window = search.readAllStandardOutput().trimmed().split('\n').value(0);
        return !window.isEmpty() && desktop.frontmostApplication().has_value();
    }));
    settle(500ms);
    auto xdotool = [&](const QStringList& arguments) {
        ASSERT_TRUE(test::xdotool(arguments)) << arguments.join(' ').toStdString();
    };
    // The first row of the default 6x13 font, from its first character to well past its end.
    xdotool({"mousemove", "--window", QString::fromLatin1(window), "3", "8", "mousedown", "1"});
    for (int x = 10; x <= 340; x += 30) {
        xdotool({"mousemove", "--window", QString::fromLatin1(window), QString::number(x), "8"});
        settle(40ms);
    }
    // A pause in the middle of the drag, longer than the settle time, files nothing yet.
    settle(1500ms);
    EXPECT_EQ(filed, 0);
    xdotool({"mouseup", "1"});
    ASSERT_TRUE(waitUntil([&] { return filed == 1; }));
    settle(afterSettling);
    ASSERT_EQ(items().size(), 1);
    // Dragged past the end of the row, xterm selects its line end too.
    EXPECT_EQ(items().front().title, QStringLiteral("alpha beta gamma delta\n"));
    EXPECT_EQ(items().front().sourceName, desktop.frontmostApplication().value().name);
}

} // namespace
} // namespace snipjar
