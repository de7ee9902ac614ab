#pragma once

#include <QString>
#include <Qt>

namespace snipjar {

// What a key press means to the open panel. Decided by the first rule of the panel's key table
// that applies; the controller carries it out.
struct PanelKey {
    enum class Action {
        togglePin,      // Ctrl+P
        deleteSelected, // Ctrl+Backspace: the first press arms, the second deletes
        pasteNumber,    // Ctrl+1 … Ctrl+9: `number` is the row's position from 1
        pasteSelected,  // Return, keypad Enter
        cycleTypeScope, // Tab (+1), Shift+Tab (−1): `step`
        eraseLast,      // Backspace, Delete
        escape,         // disarms a delete, else hides
        cycleMacScope,  // Left (−1), Right (+1): `step`
        moveSelection,  // Up (−1), Down (+1): `step`
        hotKey,         // the global hot key, which the panel's keyboard grab keeps to itself
        appendText,     // printable text for the query: `text`
        passOn,         // not the panel's: the key goes on unchanged
    };

    Action action = Action::passOn;
    int number = 0;
    int step = 0;
    QString text;

    bool consumed() const { return action != Action::passOn; }

    // `key`, `modifiers` and `text` are a key press as Qt reports it (text from the input method,
    // dead keys already composed), `keycode` its native scan code (0 when unknown). `isHotKey`
    // says whether the press is the global hot key.
    static PanelKey decode(int key, Qt::KeyboardModifiers modifiers, const QString& text, bool isHotKey,
                           quint32 keycode = 0);

    // True when no character of the text may go into the query: a line break, a control
    // character, or a character of the private-use block that keyboards use for function keys.
    static bool isUnprintable(const QString& text);
};

} // namespace snipjar
