#include "X11TestClients.h"

#include "paste/HotKey.h"
#include "platform/x11/X11GlobalHotKeys.h"
#include "platform/x11/XcbConnection.h"

#include <gtest/gtest.h>

#include <xcb/xcb_keysyms.h>

#include <cstdlib>

using namespace snipjar;
using namespace snipjar::test;

namespace {

constexpr quint32 ctrlAlt = HotKeyCombo::commandBit | HotKeyCombo::optionBit;

// Another X client, standing for an application that holds a combination.
class OtherClient {
public:
    OtherClient()
        : connection(XcbConnection::open()) {}

    // Grabs the key of the keysym with exactly these modifiers; true when the server accepted it.
    bool grab(xcb_keysym_t keysym, uint16_t modifiers) {
        xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(connection->get());
        xcb_keycode_t* codes = xcb_key_symbols_get_keycode(symbols, keysym);
        keycode = codes ? codes[0] : 0;
        std::free(codes);
        xcb_key_symbols_free(symbols);
        xcb_generic_error_t* error = xcb_request_check(
            connection->get(), xcb_grab_key_checked(connection->get(), 1, connection->root(), modifiers,
                                                    keycode, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
        std::free(error);
        return error == nullptr;
    }

    // Key presses delivered to this client since the last call.
    int takePresses() {
        connection->sync();
        int presses = 0;
        while (xcb_generic_event_t* event = xcb_poll_for_event(connection->get())) {
            if ((event->response_type & 0x7f) == XCB_KEY_PRESS) {
                ++presses;
            }
            std::free(event);
        }
        return presses;
    }

    std::unique_ptr<XcbConnection> connection;
    xcb_keycode_t keycode = 0;
};

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
};

} // namespace

// Key labels name Latin letters and digits only.
TEST(X11GlobalHotKeysKeysym, MapsLabelsToKeysyms) {
    EXPECT_EQ(X11GlobalHotKeys::keysymForLabel("V"), xcb_keysym_t(0x76));
    EXPECT_EQ(X11GlobalHotKeys::keysymForLabel("7"), xcb_keysym_t(0x37));
    EXPECT_EQ(X11GlobalHotKeys::keysymForLabel("F5"), std::nullopt);
    EXPECT_EQ(X11GlobalHotKeys::keysymForLabel(""), std::nullopt);
}

// A press of the grabbed combination calls the callback, whatever the NumLock state.
TEST_F(X11GlobalHotKeysTest, PressCallsTheCallback) {
    int presses = 0;
    ASSERT_TRUE(hotKeys->grab("V", ctrlAlt, [&] { ++presses; }));
    ASSERT_TRUE(xdotool({"key", "ctrl+alt+v"}));
    EXPECT_TRUE(waitUntil([&] { return presses == 1; }));

    ASSERT_TRUE(xdotool({"key", "Num_Lock"}));
    ASSERT_TRUE(xdotool({"key", "ctrl+alt+v"}));
    EXPECT_TRUE(waitUntil([&] { return presses == 2; }));
    ASSERT_TRUE(xdotool({"key", "Num_Lock"}));

    // Other modifiers with the same key are a different combination.
    ASSERT_TRUE(xdotool({"key", "ctrl+v"}));
    ASSERT_TRUE(xdotool({"key", "ctrl+alt+shift+v"}));
    spinEventLoop(200);
    EXPECT_EQ(presses, 2);
}

// A combination another client holds is reported as taken, and that client keeps its grab.
TEST_F(X11GlobalHotKeysTest, TakenCombinationLeavesTheOtherGrabIntact) {
    OtherClient other;
    ASSERT_TRUE(other.grab(0x6b /* k */, XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1));

    int presses = 0;
    EXPECT_EQ(hotKeys->grab("K", ctrlAlt, [&] { ++presses; }), std::nullopt);

    ASSERT_TRUE(xdotool({"key", "ctrl+alt+k"}));
    EXPECT_TRUE(waitUntil([&] { return other.takePresses() == 1; }));
    spinEventLoop(100);
    EXPECT_EQ(presses, 0);

    // The lock-key variants this client had grabbed before the refusal were given back.
    OtherClient third;
    EXPECT_TRUE(third.grab(0x6b, XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | XCB_MOD_MASK_LOCK));
}

// Registrations of the same combination share one grab; the keys stay grabbed until the last one
// is released, so a hot key replaced by an equal one keeps working.
TEST_F(X11GlobalHotKeysTest, ReplacementWithTheSameCombinationKeepsTheGrab) {
    int oldPresses = 0;
    int newPresses = 0;
    auto current = std::make_unique<HotKey>(*hotKeys, HotKeyCombo::defaultCombo(), [&] { ++oldPresses; });
    ASSERT_TRUE(current->isRegistered());
    current = std::make_unique<HotKey>(*hotKeys, HotKeyCombo::defaultCombo(), [&] { ++newPresses; });
    ASSERT_TRUE(current->isRegistered());

    ASSERT_TRUE(xdotool({"key", "ctrl+alt+v"}));
    EXPECT_TRUE(waitUntil([&] { return newPresses == 1; }));
    EXPECT_EQ(oldPresses, 0);

    // Replaced by a different combination: the old keys are free for other clients again.
    current = std::make_unique<HotKey>(*hotKeys, *HotKeyCombo::parse("⇧⌘K"), [&] { ++newPresses; });
    OtherClient other;
    EXPECT_TRUE(other.grab(0x76 /* v */, XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1));
    ASSERT_TRUE(xdotool({"key", "ctrl+shift+k"}));
    EXPECT_TRUE(waitUntil([&] { return newPresses == 2; }));

    current.reset();
    OtherClient last;
    EXPECT_TRUE(last.grab(0x6b /* k */, XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_SHIFT));
}
