#include "panel/PanelKey.h"

#include <gtest/gtest.h>

namespace snipjar::test {
namespace {

using Action = PanelKey::Action;

PanelKey press(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier, const QString& text = {},
               bool isHotKey = false) {
    return PanelKey::decode(key, modifiers, text, isHotKey);
}

// Ctrl stands for the command modifier: Ctrl+P pins, Ctrl+Backspace deletes, Ctrl+1 … Ctrl+9 paste
// a row by its number; any other Ctrl key goes on. They name keys of the US layout: where the
// layout types a Latin letter or a digit, that decides (Dvorak's Ctrl+P is where it types "p");
// where it types anything else, the key's place does (AZERTY's "1" key types "&", a Cyrillic layout
// types "з" on the P key). Keycodes are XKB's.
TEST(PanelKeyTest, CtrlCombinationsAreTheCommandsOnEveryLayout) {
    struct Case {
        const char* what;
        int key;
        quint32 keycode;
        Action action;
        int number;
    };
    const Case cases[] = {
        {"Ctrl+P", Qt::Key_P, 33, Action::togglePin, 0},
        {"Ctrl+Backspace", Qt::Key_Backspace, 22, Action::deleteSelected, 0},
        {"Ctrl+2", Qt::Key_2, 11, Action::pasteNumber, 2},
        {"Ctrl+0", Qt::Key_0, 19, Action::passOn, 0},
        {"Ctrl+C", Qt::Key_C, 54, Action::passOn, 0},
        {"fr, Ctrl+&", Qt::Key_Ampersand, 10, Action::pasteNumber, 1},
        {"fr, Ctrl+ç", Qt::Key_Ccedilla, 18, Action::pasteNumber, 9},
        {"fr, Ctrl+à", Qt::Key_Agrave, 19, Action::passOn, 0},
        {"ru, Ctrl+з", 0x0417, 33, Action::togglePin, 0},
        {"dvorak, Ctrl+P", Qt::Key_P, 27, Action::togglePin, 0},
        {"dvorak, Ctrl+L", Qt::Key_L, 33, Action::passOn, 0},
        {"no keycode", Qt::Key_Ampersand, 0, Action::passOn, 0},
    };
    for (const Case& c : cases) {
        const PanelKey key = PanelKey::decode(c.key, Qt::ControlModifier, {}, false, c.keycode);
        EXPECT_EQ(key.action, c.action) << c.what;
        EXPECT_EQ(key.number, c.number) << c.what;
    }
    EXPECT_EQ(press(Qt::Key_9, Qt::ControlModifier | Qt::KeypadModifier).number, 9);
    // Without Ctrl the layout's text is typed, never the key's place.
    EXPECT_EQ(press(Qt::Key_2, Qt::NoModifier, QStringLiteral("2")).action, Action::appendText);
    EXPECT_EQ(PanelKey::decode(0x0417, Qt::NoModifier, QStringLiteral("з"), false, 33).text,
              QStringLiteral("з"));
}

// The navigation keys act whatever modifiers are held, and never reach the query.
TEST(PanelKeyTest, NavigationKeysIgnoreModifiers) {
    struct Case {
        int key;
        Qt::KeyboardModifiers modifiers;
        Action action;
        int step;
    };
    const Case cases[] = {
        {Qt::Key_Enter, Qt::KeypadModifier, Action::pasteSelected, 0},
        {Qt::Key_Return, Qt::ControlModifier, Action::pasteSelected, 0},
        {Qt::Key_Backtab, Qt::ShiftModifier, Action::cycleTypeScope, -1},
        {Qt::Key_Tab, Qt::ShiftModifier, Action::cycleTypeScope, -1},
        {Qt::Key_Delete, Qt::ShiftModifier, Action::eraseLast, 0},
        {Qt::Key_Escape, Qt::NoModifier, Action::escape, 0},
        {Qt::Key_Right, Qt::AltModifier, Action::cycleMacScope, 1},
        {Qt::Key_Down, Qt::ControlModifier, Action::moveSelection, 1},
    };
    for (const Case& c : cases) {
        const PanelKey key = press(c.key, c.modifiers, QStringLiteral("\t"));
        EXPECT_EQ(key.action, c.action) << c.key;
        EXPECT_EQ(key.step, c.step) << c.key;
    }
}

// Typed text goes to the query, including composed and non-Latin characters; a line break, a
// control character or a function-key character never does, and the global hot key closes.
TEST(PanelKeyTest, OnlyPrintableTextReachesTheQuery) {
    for (const QString& text : {QStringLiteral("a"), QStringLiteral("é"), QStringLiteral("ж"),
                                QStringLiteral("日本"), QStringLiteral("😀"), QStringLiteral(" ")}) {
        const PanelKey key = press(Qt::Key_unknown, Qt::NoModifier, text);
        EXPECT_EQ(key.action, Action::appendText) << text.toStdString();
        EXPECT_EQ(key.text, text);
    }
    for (const QString& text :
         {QString(), QStringLiteral("\r"), QStringLiteral("a\nb"), QStringLiteral("\x7f"),
          QString(QChar(0x2028)), QString(QChar(0xF704)), QString(QChar(0x85))}) {
        EXPECT_EQ(press(Qt::Key_unknown, Qt::NoModifier, text).action, Action::passOn)
            << text.toUtf8().toHex().toStdString();
    }
    EXPECT_EQ(press(Qt::Key_V, Qt::ControlModifier | Qt::AltModifier, QStringLiteral("v"), true).action,
              Action::hotKey);
}

} // namespace
} // namespace snipjar::test
