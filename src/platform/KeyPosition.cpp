#include "platform/KeyPosition.h"

#include <linux/input-event-codes.h>

#include <Qt>

#include <iterator>

namespace snipjar {

namespace {

// XKB keycodes are the kernel's event codes shifted by 8, the lowest keycode X allows.
constexpr quint32 xkbOffset = 8;

struct Position {
    char character;
    quint32 eventCode;
};

constexpr Position usPositions[] = {
    {'1', KEY_1}, {'2', KEY_2}, {'3', KEY_3}, {'4', KEY_4}, {'5', KEY_5}, {'6', KEY_6},
    {'7', KEY_7}, {'8', KEY_8}, {'9', KEY_9}, {'0', KEY_0}, {'q', KEY_Q}, {'w', KEY_W},
    {'e', KEY_E}, {'r', KEY_R}, {'t', KEY_T}, {'y', KEY_Y}, {'u', KEY_U}, {'i', KEY_I},
    {'o', KEY_O}, {'p', KEY_P}, {'a', KEY_A}, {'s', KEY_S}, {'d', KEY_D}, {'f', KEY_F},
    {'g', KEY_G}, {'h', KEY_H}, {'j', KEY_J}, {'k', KEY_K}, {'l', KEY_L}, {'z', KEY_Z},
    {'x', KEY_X}, {'c', KEY_C}, {'v', KEY_V}, {'b', KEY_B}, {'n', KEY_N}, {'m', KEY_M},
};

bool isLetterOrDigitKey(int qtKey) {
    return (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z) || (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9);
}

} // namespace

std::optional<char> KeyPosition::usCharacter(quint32 keycode) {
    for (const Position& position : usPositions) {
        if (position.eventCode + xkbOffset == keycode) {
            return position.character;
        }
    }
    return std::nullopt;
}

quint32 KeyPosition::usKeycode(char character) {
    const char lower = character >= 'A' && character <= 'Z' ? char(character - 'A' + 'a') : character;
    for (const Position& position : usPositions) {
        if (position.character == lower) {
            return position.eventCode + xkbOffset;
        }
    }
    return 0;
}

int KeyPosition::shortcutKey(int qtKey, quint32 keycode) {
    if (isLetterOrDigitKey(qtKey)) {
        return qtKey;
    }
    const std::optional<char> character = usCharacter(keycode);
    if (!character) {
        return qtKey;
    }
    // Qt's key codes of letters are their upper-case code points, those of digits the digits'.
    return *character >= 'a' ? Qt::Key_A + (*character - 'a') : Qt::Key_0 + (*character - '0');
}

} // namespace snipjar
