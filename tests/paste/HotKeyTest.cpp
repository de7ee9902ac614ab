#include "paste/HotKey.h"
#include "platform/fakes/FakeGlobalHotKeys.h"

#include <gtest/gtest.h>

#include <memory>

using namespace snipjar;

namespace {

using Combination = FakeGlobalHotKeys::Combination;

const HotKeyCombo shiftCommandK{40, 0x300, "K"};

} // namespace

// A hot key is registered from creation to destruction, and a press calls its callback.
TEST(HotKey, RegistersCallsAndUnregisters) {
    FakeGlobalHotKeys hotKeys;
    int presses = 0;
    {
        HotKey hotKey(hotKeys, shiftCommandK, [&] { ++presses; });
        EXPECT_TRUE(hotKey.isRegistered());
        EXPECT_EQ(hotKeys.activeGrabs(), (QList<Combination>{{"K", 0x300}}));
        EXPECT_EQ(hotKeys.press("K", 0x300), 1);
        EXPECT_EQ(presses, 1);
    }
    EXPECT_TRUE(hotKeys.activeGrabs().isEmpty());
    EXPECT_EQ(hotKeys.press("K", 0x300), 0);
    EXPECT_EQ(presses, 1);
}

// A combination held by another client is not registered; nothing happens and nothing is ungrabbed.
TEST(HotKey, TakenCombinationFailsQuietly) {
    FakeGlobalHotKeys hotKeys;
    hotKeys.taken.append({"V", 0x900});
    int presses = 0;
    {
        HotKey hotKey(hotKeys, HotKeyCombo::defaultCombo(), [&] { ++presses; });
        EXPECT_FALSE(hotKey.isRegistered());
    }
    EXPECT_TRUE(hotKeys.ungrabs.isEmpty());
    EXPECT_EQ(presses, 0);
}

// Replacing a hot key (new one created, then the old one destroyed) leaves exactly the new
// combination registered, also when both are the same combination.
TEST(HotKey, ReplacementEndsWithTheNewCombination) {
    for (const HotKeyCombo& next : {shiftCommandK, HotKeyCombo::defaultCombo()}) {
        FakeGlobalHotKeys hotKeys;
        int oldPresses = 0;
        int newPresses = 0;
        auto current = std::make_unique<HotKey>(hotKeys, HotKeyCombo::defaultCombo(), [&] { ++oldPresses; });
        current = std::make_unique<HotKey>(hotKeys, next, [&] { ++newPresses; });

        EXPECT_EQ(hotKeys.activeGrabs(), (QList<Combination>{{next.keyLabel, next.carbonModifiers}}));
        EXPECT_EQ(hotKeys.press(next.keyLabel, next.carbonModifiers), 1);
        EXPECT_EQ(newPresses, 1);
        EXPECT_EQ(oldPresses, 0);
    }
}

// The callback may replace the hot key that called it (the settings flow does this indirectly).
TEST(HotKey, CallbackMayReplaceItsOwnHotKey) {
    FakeGlobalHotKeys hotKeys;
    std::unique_ptr<HotKey> current;
    int replacements = 0;
    current = std::make_unique<HotKey>(hotKeys, HotKeyCombo::defaultCombo(), [&] {
        ++replacements;
        current = std::make_unique<HotKey>(hotKeys, shiftCommandK, [] {});
    });
    hotKeys.press("V", 0x900);
    EXPECT_EQ(replacements, 1);
    EXPECT_EQ(hotKeys.activeGrabs(), (QList<Combination>{{"K", 0x300}}));
}
