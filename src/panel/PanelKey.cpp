#include "panel/PanelKey.h"

#include "platform/KeyPosition.h"

#include <QChar>
#include <QList>

namespace snipjar {

namespace {

PanelKey with(PanelKey::Action action, int step = 0) {
    PanelKey key;
    key.action = action;
    key.step = step;
    return key;
}

bool isLineBreak(char32_t c) {
    return c == 0x0A || c == 0x0B || c == 0x0C || c == 0x0D || c == 0x85 || c == 0x2028 || c == 0x2029;
}

// The digit a key press stands for, read from the key rather than the text: with Ctrl held the
// text of a digit key is often empty or a control character. On layouts whose top row types other
// characters (AZERTY types "&" on the "1" key) the caller has already put the US layout's key in.
int digitOf(int key) {
    if (key >= Qt::Key_0 && key <= Qt::Key_9) {
        return key - Qt::Key_0;
    }
    return -1;
}

} // namespace

bool PanelKey::isUnprintable(const QString& text) {
    for (const char32_t c : text.toUcs4()) {
        if (isLineBreak(c) || QChar::category(c) == QChar::Other_Control || (c >= 0xF700 && c <= 0xF8FF)) {
            return true;
        }
    }
    return false;
}

PanelKey PanelKey::decode(int key, Qt::KeyboardModifiers modifiers, const QString& text, bool isHotKey,
                          quint32 keycode) {
    using enum Action;
    // Ctrl is the command modifier of Linux shortcuts; the keypad flag plays no part in them.
    const bool command = modifiers.testFlag(Qt::ControlModifier);
    // The commands name keys of the US layout: where the layout types no Latin letter or digit
    // (AZERTY's digit row, a Cyrillic layout) the key's place on the keyboard decides.
    const int commandKey = command ? KeyPosition::shortcutKey(key, keycode) : key;

    // The hot key comes first: while the panel holds the keyboard it closes the panel.
    if (isHotKey) {
        return with(hotKey);
    }
    if (command && commandKey == Qt::Key_P) {
        return with(togglePin);
    }
    if (command && key == Qt::Key_Backspace) {
        return with(deleteSelected);
    }
    if (command) {
        if (const int digit = digitOf(commandKey); digit >= 1) {
            PanelKey paste = with(pasteNumber);
            paste.number = digit;
            return paste;
        }
    }
    switch (key) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return with(pasteSelected);
    case Qt::Key_Tab:
        return with(cycleTypeScope, modifiers.testFlag(Qt::ShiftModifier) ? -1 : 1);
    case Qt::Key_Backtab:
        return with(cycleTypeScope, -1);
    case Qt::Key_Backspace:
    case Qt::Key_Delete:
        return with(eraseLast);
    case Qt::Key_Escape:
        return with(escape);
    case Qt::Key_Left:
        return with(cycleMacScope, -1);
    case Qt::Key_Right:
        return with(cycleMacScope, 1);
    case Qt::Key_Down:
        return with(moveSelection, 1);
    case Qt::Key_Up:
        return with(moveSelection, -1);
    default:
        break;
    }
    // Any other Ctrl combination belongs to someone else, and so do keys without text.
    if (command || text.isEmpty() || isUnprintable(text)) {
        return with(passOn);
    }
    PanelKey append = with(appendText);
    append.text = text;
    return append;
}

} // namespace snipjar
