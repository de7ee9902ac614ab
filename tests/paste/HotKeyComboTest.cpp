#include "paste/HotKeyCombo.h"
#include "paste/HotKey.h"
#include "platform/fakes/FakeGlobalHotKeys.h"

#include <gtest/gtest.h>

using namespace snipjar;

namespace {

using namespace Qt::StringLiterals;

const HotKeyCombo shiftCommandK{40, 0x300, "K"};

std::optional<HotKeyCombo> parsed(const char* text) {
    return HotKeyCombo::parse(QString::fromUtf8(text));
}

} // namespace

// The stored form: symbols and words in any order and case; one table key and a modifier needed.
// It lists modifiers in the fixed order ⌃⌥⇧⌘, so any input is stored canonically.
TEST(HotKeyComboParse, AcceptsSymbolAndWordFormsWithATableKeyAndAModifier) {
    const HotKeyCombo defaultCombo = HotKeyCombo::defaultCombo();
    for (const char* text : {"⌥⌘V", "cmd+option+v", "Alt Cmd V", "⌘⌥V"}) {
        EXPECT_EQ(parsed(text), defaultCombo) << text;
    }
    EXPECT_EQ(parsed("⇧⌘K"), shiftCommandK);
    EXPECT_EQ(parsed("⇧A"), (HotKeyCombo{0, 0x200, "A"}));
    EXPECT_EQ(parsed("control+shift+7"), (HotKeyCombo{26, 0x1200, "7"}));
    EXPECT_EQ(parsed("  ctrl  ++ command + x "), (HotKeyCombo{7, 0x1100, "X"}));
    EXPECT_EQ(parsed("cmd a b"), (HotKeyCombo{11, 0x100, "B"})) << "a later key replaces an earlier one";
    EXPECT_EQ(parsed("cmd shift opt ctrl 1")->displayString(), u"⌃⌥⇧⌘1"_s);
    for (const char* text : {"v", "cmd", "", "cmd+f5", "cmd+left", "cmd+,", "⌥⌘ä", "shift+space", "cmd+vv"}) {
        EXPECT_EQ(parsed(text), std::nullopt) << text;
    }
}

// What people read is what they can write: the stored symbols and the Linux form (Ctrl is ⌘, Super
// is ⌃) parse back to the same combination, and the hotKey setting takes both.
TEST(HotKeyComboLinuxForm, DisplayAndParseAreInverses) {
    const struct {
        const char* stored;
        const char* shown;
    } cases[] = {
        {"⌥⌘V", "Ctrl+Alt+V"}, {"⇧⌘K", "Ctrl+Shift+K"}, {"⌃⌥⇧⌘1", "Ctrl+Alt+Shift+Super+1"},
        {"⌃P", "Super+P"},     {"⇧A", "Shift+A"},
    };
    for (const auto& testCase : cases) {
        const HotKeyCombo combo = *parsed(testCase.stored);
        EXPECT_EQ(combo.displayString(), QString::fromUtf8(testCase.stored));
        EXPECT_EQ(combo.linuxDisplayString(), QString::fromUtf8(testCase.shown));
        EXPECT_EQ(HotKeyCombo::parseLinuxForm(combo.linuxDisplayString()), combo) << testCase.shown;
        EXPECT_EQ(HotKeyCombo::parseSetting(combo.linuxDisplayString()), combo) << testCase.shown;
        EXPECT_EQ(HotKeyCombo::parseSetting(combo.displayString()), combo) << testCase.stored;
    }
    EXPECT_EQ(HotKeyCombo::parseLinuxForm("ctrl + ALT + v"), HotKeyCombo::defaultCombo());
    EXPECT_EQ(HotKeyCombo::parseLinuxForm("Control+Meta+P"), (HotKeyCombo{35, 0x1100, "P"}));
    for (const char* text : {"V", "Ctrl", "Ctrl+Alt+V+K", "Cmd+V", "Ctrl+F5", "Ctrl Alt V"}) {
        EXPECT_EQ(HotKeyCombo::parseLinuxForm(text), std::nullopt) << text;
        EXPECT_EQ(HotKeyCombo::parseSetting(text), std::nullopt) << text;
    }
}

// A key press gives a combination only with a modifier and a table key; Ctrl is ⌘ and Meta is ⌃.
// (Ctrl with letters, and keys outside the table, are ShortcutRecorderTest's presses.)
TEST(HotKeyComboFromKeyPress, MapsQtModifiersAndKeys) {
    EXPECT_EQ(HotKeyCombo::fromKeyPress(Qt::Key_7, Qt::MetaModifier | Qt::KeypadModifier),
              (HotKeyCombo{26, 0x1000, "7"}));
    EXPECT_EQ(HotKeyCombo::fromKeyPress("v", Qt::AltModifier | Qt::ControlModifier),
              HotKeyCombo::defaultCombo());
    EXPECT_EQ(HotKeyCombo::fromKeyPress(Qt::Key_V, Qt::KeypadModifier), std::nullopt);
    EXPECT_EQ(HotKeyCombo::fromKeyPress("F5", Qt::ControlModifier), std::nullopt);
}

// A hot key is registered from creation to destruction and a press calls it. Its callback may
// replace it (the settings flow does), which ends with exactly the new combination registered. (A
// combination held by another client is X11GlobalHotKeysTest's and ShellHotKey's.)
TEST(HotKeyRegistration, RegisteredForItsLifetimeAndReplaceableFromItsCallback) {
    FakeGlobalHotKeys hotKeys;
    int presses = 0;
    std::unique_ptr<HotKey> current;
    current = std::make_unique<HotKey>(hotKeys, HotKeyCombo::defaultCombo(), [&] {
        current = std::make_unique<HotKey>(hotKeys, shiftCommandK, [&] { ++presses; });
    });
    EXPECT_EQ(hotKeys.press("V", 0x900), 1);
    EXPECT_EQ(hotKeys.activeGrabs(), (QList<FakeGlobalHotKeys::Combination>{{"K", 0x300}}));
    EXPECT_EQ(hotKeys.press("K", 0x300), 1);
    EXPECT_EQ(presses, 1);
    current.reset();
    EXPECT_TRUE(hotKeys.activeGrabs().isEmpty());
}
