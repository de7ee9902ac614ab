#include "panel/PanelKey.h"

#include <gtest/gtest.h>

namespace snipjar::test {
namespace {

using Action = PanelKey::Action;
using namespace Qt::StringLiterals;
constexpr auto ctrl = Qt::ControlModifier;

// Ctrl+P pins, Ctrl+Backspace deletes, Ctrl+1 … Ctrl+9 paste by number, other Ctrl keys pass on. A
// layout's Latin letter or digit decides (Dvorak's "p"), else the key's US place (AZERTY's "&" key,
// Cyrillic "з"); keycodes are XKB's. Navigation keys act under any modifiers, never typing; without
// Ctrl the layout's text is typed.
TEST(PanelKeyTest, KeysOnEveryLayoutAndWithAnyModifiers) {
    const struct {
        const char* what;
        int key;
        Qt::KeyboardModifiers modifiers;
        quint32 keycode;
        Action action;
        int number = 0, step = 0;
        QString text = {};
    } cases[] = {
        {"Ctrl+P", Qt::Key_P, ctrl, 33, Action::togglePin},
        {"Ctrl+Backspace", Qt::Key_Backspace, ctrl, 22, Action::deleteSelected},
        {"Ctrl+2", Qt::Key_2, ctrl, 11, Action::pasteNumber, 2},
        {"Ctrl+0", Qt::Key_0, ctrl, 19, Action::passOn},
        {"Ctrl+C", Qt::Key_C, ctrl, 54, Action::passOn},
        {"fr, Ctrl+&", Qt::Key_Ampersand, ctrl, 10, Action::pasteNumber, 1},
        {"fr, Ctrl+ç", Qt::Key_Ccedilla, ctrl, 18, Action::pasteNumber, 9},
        {"fr, Ctrl+à", Qt::Key_Agrave, ctrl, 19, Action::passOn},
        {"ru, Ctrl+з", 0x0417, ctrl, 33, Action::togglePin},
        {"dvorak, Ctrl+P", Qt::Key_P, ctrl, 27, Action::togglePin},
        {"dvorak, Ctrl+L", Qt::Key_L, ctrl, 33, Action::passOn},
        {"no keycode", Qt::Key_Ampersand, ctrl, 0, Action::passOn},
        {"keypad Ctrl+9", Qt::Key_9, ctrl | Qt::KeypadModifier, 0, Action::pasteNumber, 9},
        {"2", Qt::Key_2, Qt::NoModifier, 11, Action::appendText, 0, 0, u"2"_s},
        {"ru, з", 0x0417, Qt::NoModifier, 33, Action::appendText, 0, 0, u"з"_s},
        {"keypad Enter", Qt::Key_Enter, Qt::KeypadModifier, 0, Action::pasteSelected},
        {"Ctrl+Return", Qt::Key_Return, ctrl, 0, Action::pasteSelected},
        {"Backtab", Qt::Key_Backtab, Qt::ShiftModifier, 0, Action::cycleTypeScope, 0, -1},
        {"Shift+Tab", Qt::Key_Tab, Qt::ShiftModifier, 0, Action::cycleTypeScope, 0, -1},
        {"Shift+Delete", Qt::Key_Delete, Qt::ShiftModifier, 0, Action::eraseLast},
        {"Escape", Qt::Key_Escape, Qt::NoModifier, 0, Action::escape},
        {"Alt+Right", Qt::Key_Right, Qt::AltModifier, 0, Action::cycleMacScope, 0, 1},
        {"Ctrl+Down", Qt::Key_Down, ctrl, 0, Action::moveSelection, 0, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        // The navigation keys come with a tab character, which must not reach the query.
        const bool navigation =
            c.keycode == 0 && c.action != Action::passOn && c.action != Action::pasteNumber;
        const QString typed = navigation ? u"\t"_s : c.text;
        const PanelKey key = PanelKey::decode(c.key, c.modifiers, typed, false, c.keycode);
        EXPECT_EQ(key.action, c.action);
        EXPECT_EQ(key.number, c.number);
        EXPECT_EQ(key.step, c.step);
        EXPECT_EQ(key.text, c.text);
    }
}

// Typed text goes to the query, including composed and non-Latin characters; a line break, a
// control character or a function-key character never does, and the global hot key closes.
TEST(PanelKeyTest, OnlyPrintableTextReachesTheQuery) {
    for (const QString& text : {u"a"_s, u"é"_s, u"ж"_s, u"日本"_s, u"😀"_s, u" "_s}) {
        const PanelKey key = PanelKey::decode(Qt::Key_unknown, Qt::NoModifier, text, false);
        EXPECT_EQ(key.action, Action::appendText) << text.toStdString();
        EXPECT_EQ(key.text, text);
    }
    for (const QString& text : {QString(), u"\r"_s, u"a\nb"_s, u"\x7f"_s, QString(QChar(0x2028)),
                                QString(QChar(0xF704)), QString(QChar(0x85))}) {
        EXPECT_EQ(PanelKey::decode(Qt::Key_unknown, Qt::NoModifier, text, false).action, Action::passOn)
            << text.toUtf8().toHex().toStdString();
    }
    EXPECT_EQ(PanelKey::decode(Qt::Key_V, ctrl | Qt::AltModifier, u"v"_s, true).action, Action::hotKey);
}

} // namespace
} // namespace snipjar::test
