#include "X11TestClients.h"

#include "paste/HotKey.h"
#include "platform/x11/X11GlobalHotKeys.h"

#include <QAbstractEventDispatcher>
#include <QEventLoop>
#include <QTimer>

#include <gtest/gtest.h>

using namespace snipjar;
using namespace snipjar::test;

namespace {

constexpr quint32 ctrlAlt = HotKeyCombo::commandBit | HotKeyCombo::optionBit;
constexpr uint16_t ctrlAltMask = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1;
constexpr xcb_keysym_t keysymK = 0x6b;
constexpr xcb_keysym_t keysymV = 0x76;

// Another X client, standing for an application that holds a combination.
struct OtherClient {
    // True when the server let this client grab the key with exactly these modifiers.
    bool grab(xcb_keycode_t keycode, uint16_t modifiers) {
        return !XcbReply<xcb_generic_error_t>(xcb_request_check(
            connection->get(), xcb_grab_key_checked(connection->get(), 1, connection->root(), modifiers,
                                                    keycode, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC)));
    }
    bool grab(xcb_keysym_t keysym, uint16_t modifiers) {
        return grab(keycodeOf(*connection, keysym), modifiers);
    }

    std::unique_ptr<XcbConnection> connection = XcbConnection::open();
};

// How many rounds the event loop makes in the given time with nothing to do; a descriptor that
// stays readable makes it spin.
int eventLoopRounds(int milliseconds) {
    int rounds = 0;
    QEventLoop loop;
    QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, &loop,
                     [&] { ++rounds; });
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
    return rounds;
}

// Ends the hot keys' X connection from outside, as the server does for a killed client. The
// window only gives xkill a resource of that connection to name.
void killConnection(XcbConnection& connection) {
    const xcb_window_t resource = xcb_generate_id(connection.get());
    xcb_create_window(connection.get(), XCB_COPY_FROM_PARENT, resource, connection.root(), 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    connection.sync();
    QProcess::execute("xkill", {"-id", QString::number(resource)});
}

class X11GlobalHotKeysTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto connection = XcbConnection::open();
        if (!connection) {
            GTEST_SKIP() << "no X display";
        }
        hotKeys = std::make_unique<X11GlobalHotKeys>(std::move(connection));
    }

    std::unique_ptr<X11GlobalHotKeys> hotKeys;
    OtherClient other;
};

} // namespace

// A press of the grabbed combination calls the registration in force, whatever the NumLock state
// and only with exactly its modifiers. A replacement by an equal combination keeps the grab; one by
// another combination frees the old keys for other clients, and so does the last release. A
// combination another client holds is reported as taken.
TEST_F(X11GlobalHotKeysTest, PressCallsTheRegistrationInForce) {
    int oldPresses = 0;
    int presses = 0;
    auto current = std::make_unique<HotKey>(*hotKeys, HotKeyCombo::defaultCombo(), [&] { ++oldPresses; });
    current = std::make_unique<HotKey>(*hotKeys, HotKeyCombo::defaultCombo(), [&] { ++presses; });
    ASSERT_TRUE(xdotool({"key", "ctrl+alt+v"}));
    EXPECT_TRUE(waitUntil([&] { return presses == 1; }));
    // A press counts as the held key's auto-repeat until the key was seen up.
    spinEventLoop(50);
    ASSERT_TRUE(xdotool({"key", "Num_Lock", "ctrl+alt+v", "Num_Lock"}));
    EXPECT_TRUE(waitUntil([&] { return presses == 2; }));
    ASSERT_TRUE(xdotool({"key", "ctrl+v", "ctrl+alt+shift+v"}));
    spinEventLoop(200);
    EXPECT_EQ(presses, 2);
    EXPECT_EQ(oldPresses, 0);

    current = std::make_unique<HotKey>(*hotKeys, *HotKeyCombo::parse("⇧⌘K"), [&] { ++presses; });
    EXPECT_TRUE(other.grab(keysymV, ctrlAltMask));
    current.reset();
    EXPECT_TRUE(other.grab(keysymK, XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_SHIFT));

    // Taken by another client: that client keeps its grab, and the lock-key variants grabbed before
    // the refusal are given back.
    ASSERT_TRUE(other.grab(keysymK, ctrlAltMask));
    EXPECT_EQ(hotKeys->grab("K", ctrlAlt, [] {}), std::nullopt);
    OtherClient third;
    EXPECT_FALSE(third.grab(keysymK, ctrlAltMask));
    EXPECT_TRUE(third.grab(keysymK, ctrlAltMask | XCB_MOD_MASK_LOCK));

    // In a Wayland session this display is the compositor's X server, whose grabs miss the keys
    // typed into native windows: the desktop has to run the hot key.
    EXPECT_TRUE(hotKeys->grabsKeys());
    qputenv("XDG_SESSION_TYPE", "wayland");
    EXPECT_FALSE(hotKeys->grabsKeys());
    qunsetenv("XDG_SESSION_TYPE");
}

// After a layout change the combination is grabbed on the key that now produces its keysym, and
// the old key is let go.
TEST_F(X11GlobalHotKeysTest, LayoutChangeMovesTheGrabToTheNewKey) {
    int presses = 0;
    ASSERT_TRUE(hotKeys->grab("V", ctrlAlt, [&] { ++presses; }));
    const xcb_keycode_t qwertyV = keycodeOf(*other.connection, keysymV);
    ASSERT_EQ(QProcess::execute("setxkbmap", {"-layout", "us", "-variant", "dvorak"}), 0);
    const bool moved = waitUntil([&] { return keycodeOf(*other.connection, keysymV) != qwertyV; });
    spinEventLoop(100);
    xdotool({"key", "ctrl+alt+v"});
    EXPECT_TRUE(waitUntil([&] { return presses == 1; }));
    EXPECT_TRUE(other.grab(qwertyV, ctrlAltMask));
    QProcess::execute("setxkbmap", {"-layout", "us"});
    EXPECT_TRUE(moved);
}

// A connection the server closed is not listened to any longer (its descriptor would stay readable
// and spin the event loop): a new one is opened and the hot keys work on it. When none can be
// opened, the loss is reported.
TEST(X11GlobalHotKeysConnection, ReplacesAFailedConnectionWithoutSpinning) {
    for (const bool canReconnect : {true, false}) {
        auto connection = XcbConnection::open();
        ASSERT_TRUE(connection);
        XcbConnection& first = *connection;
        X11GlobalHotKeys hotKeys(std::move(connection), [&]() -> std::unique_ptr<XcbConnection> {
            return canReconnect ? XcbConnection::open() : nullptr;
        });
        int presses = 0;
        int losses = 0;
        QObject::connect(&hotKeys, &X11GlobalHotKeys::connectionLost, [&] { ++losses; });
        ASSERT_TRUE(hotKeys.grab("V", ctrlAlt, [&] { ++presses; }));
        killConnection(first);
        ASSERT_TRUE(waitUntil([&] { return canReconnect || losses == 1; }));
        EXPECT_LT(eventLoopRounds(500), 100);
        if (canReconnect) {
            ASSERT_TRUE(xdotool({"key", "ctrl+alt+v"}));
            EXPECT_TRUE(waitUntil([&] { return presses == 1; }));
        }
        EXPECT_EQ(losses, canReconnect ? 0 : 1);
    }
}
