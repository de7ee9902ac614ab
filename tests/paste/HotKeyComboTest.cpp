#include "paste/HotKeyCombo.h"
#include "paste/KeyComboText.h"

#include <gtest/gtest.h>

using namespace snipjar;

namespace {

struct ParseCase {
    const char* text;
    std::optional<HotKeyCombo> expected;
};

} // namespace

// Parsing accepts symbols and words in any order and case, and needs one table key plus a modifier.
TEST(HotKeyComboParse, AcceptsSymbolAndWordForms) {
    const ParseCase cases[] = {
        {"⌥⌘V", HotKeyCombo::defaultCombo()},
        {"cmd+option+v", HotKeyCombo::defaultCombo()},
        {"Alt Cmd V", HotKeyCombo::defaultCombo()},
        {"⌘⌥V", HotKeyCombo::defaultCombo()},
        {"⇧⌘K", HotKeyCombo{40, 0x300, "K"}},
        {"⇧A", HotKeyCombo{0, 0x200, "A"}},
        {"control+shift+7", HotKeyCombo{26, 0x1200, "7"}},
        {"⌃⌥⇧⌘0", HotKeyCombo{29, 0x1b00, "0"}},
        {"  ctrl  ++ command + x ", HotKeyCombo{7, 0x1100, "X"}},
        // A later key replaces an earlier one.
        {"cmd a b", HotKeyCombo{11, 0x100, "B"}},
    };
    for (const auto& testCase : cases) {
        EXPECT_EQ(HotKeyCombo::parse(QString::fromUtf8(testCase.text)), testCase.expected) << testCase.text;
    }
}

TEST(HotKeyComboParse, RejectsMissingKeyMissingModifierAndKeysOutsideTheTable) {
    for (const char* text :
         {"v", "cmd", "", "⌘", "cmd+f5", "cmd+left", "cmd+,", "⌥⌘ä", "shift+space", "cmd+vv"}) {
        EXPECT_EQ(HotKeyCombo::parse(QString::fromUtf8(text)), std::nullopt) << text;
    }
}

// The stored form lists modifiers in the fixed order ⌃⌥⇧⌘, so any input is stored canonically.
TEST(HotKeyComboDisplay, WritesModifiersInCanonicalOrder) {
    EXPECT_EQ(HotKeyCombo::defaultCombo().displayString(), QStringLiteral("⌥⌘V"));
    EXPECT_EQ(HotKeyCombo::parse(QStringLiteral("⌘⌥V"))->displayString(), QStringLiteral("⌥⌘V"));
    EXPECT_EQ(HotKeyCombo::parse(QStringLiteral("⌘⇧K"))->displayString(), QStringLiteral("⇧⌘K"));
    EXPECT_EQ(HotKeyCombo::parse(QStringLiteral("cmd shift opt ctrl 1"))->displayString(),
              QStringLiteral("⌃⌥⇧⌘1"));
    for (const char* text : {"⌥⌘V", "⇧⌘K", "⌃A", "⌃⌥⇧⌘9"}) {
        const QString stored = QString::fromUtf8(text);
        EXPECT_EQ(HotKeyCombo::parse(stored)->displayString(), stored);
    }
}

// People see combinations in Linux form: Ctrl, Alt, Shift, Super, then the key.
TEST(HotKeyComboDisplay, WritesLinuxForm) {
    const struct {
        const char* stored;
        const char* shown;
    } cases[] = {
        {"⌥⌘V", "Ctrl+Alt+V"}, {"⇧⌘K", "Ctrl+Shift+K"}, {"⌃⌥⇧⌘1", "Ctrl+Alt+Shift+Super+1"},
        {"⌃P", "Super+P"},     {"⇧A", "Shift+A"},
    };
    for (const auto& testCase : cases) {
        EXPECT_EQ(HotKeyCombo::parse(QString::fromUtf8(testCase.stored))->linuxDisplayString(),
                  QString::fromUtf8(testCase.shown))
            << testCase.stored;
    }
    EXPECT_EQ(keyComboText(HotKeyCombo::commandBit, QStringLiteral("Backspace")),
              QStringLiteral("Ctrl+Backspace"));
    EXPECT_EQ(keyComboText(0, QStringLiteral("Return")), QStringLiteral("Return"));
}

// A key press gives a combination only with a modifier and a table key; Ctrl is ⌘ and Meta is ⌃.
TEST(HotKeyComboFromKeyPress, MapsQtModifiersAndKeys) {
    EXPECT_EQ(HotKeyCombo::fromKeyPress(Qt::Key_V, Qt::ControlModifier | Qt::AltModifier),
              HotKeyCombo::defaultCombo());
    EXPECT_EQ(HotKeyCombo::fromKeyPress(Qt::Key_K, Qt::ControlModifier | Qt::ShiftModifier),
              (HotKeyCombo{40, 0x300, "K"}));
    EXPECT_EQ(HotKeyCombo::fromKeyPress(Qt::Key_7, Qt::MetaModifier | Qt::KeypadModifier),
              (HotKeyCombo{26, 0x1000, "7"}));
    EXPECT_EQ(HotKeyCombo::fromKeyPress(QStringLiteral("v"), Qt::AltModifier | Qt::ControlModifier),
              HotKeyCombo::defaultCombo());
    EXPECT_EQ(HotKeyCombo::fromKeyPress(Qt::Key_V, Qt::NoModifier), std::nullopt);
    EXPECT_EQ(HotKeyCombo::fromKeyPress(Qt::Key_V, Qt::KeypadModifier), std::nullopt);
    EXPECT_EQ(HotKeyCombo::fromKeyPress(Qt::Key_F5, Qt::ControlModifier), std::nullopt);
    EXPECT_EQ(HotKeyCombo::fromKeyPress(Qt::Key_Comma, Qt::ControlModifier), std::nullopt);
    EXPECT_EQ(HotKeyCombo::fromKeyPress(QStringLiteral("F5"), Qt::ControlModifier), std::nullopt);
}
