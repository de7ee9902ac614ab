#include "paste/HotKey.h"
#include "platform/fakes/FakeGlobalHotKeys.h"

#include <gtest/gtest.h>

#include <memory>

using namespace snipjar;

namespace {

using Combination = FakeGlobalHotKeys::Combination;

} // namespace

// A hot key is registered from creation to destruction and a press calls it. Its callback may
// replace it (the settings flow does), which ends with exactly the new combination registered. A
// combination held by another client is not registered, and nothing is ungrabbed for it.
TEST(HotKey, RegisteredForItsLifetimeAndReplaceableFromItsCallback) {
    FakeGlobalHotKeys hotKeys;
    const HotKeyCombo shiftCommandK{40, 0x300, "K"};
    int presses = 0;
    std::unique_ptr<HotKey> current;
    current = std::make_unique<HotKey>(hotKeys, HotKeyCombo::defaultCombo(), [&] {
        current = std::make_unique<HotKey>(hotKeys, shiftCommandK, [&] { ++presses; });
    });
    EXPECT_EQ(hotKeys.press("V", 0x900), 1);
    EXPECT_EQ(hotKeys.activeGrabs(), (QList<Combination>{{"K", 0x300}}));
    EXPECT_EQ(hotKeys.press("K", 0x300), 1);
    EXPECT_EQ(presses, 1);
    current.reset();
    EXPECT_TRUE(hotKeys.activeGrabs().isEmpty());

    hotKeys.taken.append({"V", 0x900});
    const qsizetype ungrabs = hotKeys.ungrabs.size();
    {
        HotKey refused(hotKeys, HotKeyCombo::defaultCombo(), [&] { ++presses; });
        EXPECT_FALSE(refused.isRegistered());
    }
    EXPECT_EQ(hotKeys.ungrabs.size(), ungrabs);
}
