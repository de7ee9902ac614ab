#include "EventLoopWait.h"
#include "TestEnvironment.h"

#include "platform/UserSettings.h"
#include "platform/wayland/PortalGlobalHotKeys.h"
#include "platform/wayland/PortalKeySynthesizer.h"

#include <QProcess>
#include <gtest/gtest.h>

namespace snipjar::test {
namespace {

using namespace std::chrono_literals;

// A desktop portal on the test's session bus that grants every request (helper/FakeDesktopPortal):
// no portal on Debian 12 offers global shortcuts, and its remote keyboard asks in a dialog.
class DesktopPortalTest : public ::testing::Test {
protected:
    void startPortal() {
        portal.start(QStringLiteral(SNIPJAR_FAKE_DESKTOP_PORTAL), {});
        ASSERT_TRUE(waitUntil([&] { return portal.canReadLine() || portal.waitForReadyRead(50); }, 10s));
        ASSERT_EQ(portal.readLine().trimmed(), "ready");
    }
    // The lines the portal printed until count of them came.
    QList<QByteArray> said(int count) {
        waitUntil([&] { return (output += portal.readAll()).count('\n') >= count; }, 10s);
        QList<QByteArray> lines = output.split('\n');
        lines.removeAll(QByteArray());
        return lines;
    }
    void TearDown() override {
        portal.closeWriteChannel();
        portal.waitForFinished(5000);
    }

    QProcess portal;
    QByteArray output;
};

// Global shortcuts: none until a portal offers them; where one does, the session is opened, the
// application told to grab again, a combination that is only probed never reaches the portal
// (whose answer may be a dialog, so nor does the kept one again), the one kept is bound under an
// id that is its trigger in the portal's notation, the same at every start, and a press of it
// calls back.
TEST_F(DesktopPortalTest, AHotKeyIsBoundOnceKeptAndItsPressesReported) {
    EXPECT_EQ(PortalGlobalHotKeys::trigger("7", 0x1000 | 0x200), "SHIFT+LOGO+7");
    {
        PortalGlobalHotKeys without;
        settle(300ms);
        EXPECT_FALSE(without.grabsKeys());
        EXPECT_FALSE(without.grab("V", 0x100 | 0x800, [] {}));
    }
    startPortal();
    PortalGlobalHotKeys hotKeys;
    bool told = false;
    hotKeys.onGrabsKeysChanged = [&] { told = true; };
    ASSERT_TRUE(waitUntil([&] { return told; }, 10s));
    EXPECT_TRUE(hotKeys.grabsKeys());
    const std::optional<int> probe = hotKeys.grab("B", 0x100, [] {});
    ASSERT_TRUE(probe);
    hotKeys.ungrab(*probe);
    int presses = 0;
    const std::optional<int> kept = hotKeys.grab("V", 0x100 | 0x800, [&] { ++presses; });
    ASSERT_TRUE(kept);
    EXPECT_EQ(said(1), QList<QByteArray>{"bound hot-key-CTRL+ALT+v CTRL+ALT+v"});
    // Another probe asks nothing of the portal; a press of the probed combination calls nobody.
    hotKeys.ungrab(*hotKeys.grab("B", 0x100, [] {}));
    portal.write("press hot-key-CTRL+ALT+v\npress hot-key-CTRL+b\n");
    EXPECT_TRUE(waitUntil([&] { return presses == 1; }, 10s));
    settle(200ms);
    EXPECT_EQ(said(1).size(), 1);
    EXPECT_EQ(presses, 1);
}

// The remote keyboard: pasting is by hand until a portal offers one; the first paste opens a
// session that asks for a keyboard to keep, then types the keystroke as keysyms, modifiers around
// the key; the token the desktop gave is kept, and the next start (another synthesizer) passes it,
// so that the user is not asked again.
TEST_F(DesktopPortalTest, ThePasteKeystrokeIsTypedOnTheRemoteKeyboardWithTheConsentKept) {
    {
        PortalKeySynthesizer without;
        settle(300ms);
        EXPECT_FALSE(without.isTrusted());
    }
    startPortal();
    struct Row {
        PasteKeystroke keystroke;
        QList<QByteArray> keys;
    };
    const QList<Row> rows = {
        {PasteKeystroke::controlV, {"key ffe3 1", "key 76 1", "key 76 0", "key ffe3 0"}},
        {PasteKeystroke::controlShiftV,
         {"key ffe3 1", "key ffe1 1", "key 76 1", "key 76 0", "key ffe1 0", "key ffe3 0"}},
        {PasteKeystroke::shiftInsert, {"key ffe1 1", "key ff63 1", "key ff63 0", "key ffe1 0"}},
    };
    qsizetype lines = 0;
    for (const QString& expectedToken : {QStringLiteral("-"), QStringLiteral("granted-1")}) {
        PortalKeySynthesizer keys;
        ASSERT_TRUE(waitUntil([&] { return keys.isTrusted(); }, 10s));
        for (const Row& row : rows) {
            keys.postPaste(row.keystroke);
            const bool first = &row == &rows.front();
            QList<QByteArray> expected = row.keys;
            if (first) {
                expected.prepend(QStringLiteral("keyboard 1 2 %1").arg(expectedToken).toUtf8());
            }
            const QList<QByteArray> all = said(int(lines + expected.size()));
            EXPECT_EQ(all.mid(lines), expected) << expectedToken.toStdString();
            lines = all.size();
        }
    }
    EXPECT_EQ(UserSettings::value(QString::fromLatin1(UserSettings::remoteDesktopRestoreTokenKey))
                  .value_or(QVariant()),
              QVariant(QStringLiteral("granted-2")));
}

} // namespace
} // namespace snipjar::test
