#pragma once

#include <QtGlobal>

#include <optional>

namespace snipjar {

// Keys by their place on the keyboard rather than by what the layout types there. Shortcuts such
// as Ctrl+1 or Ctrl+P name keys of the US layout; on AZERTY the "1" key types "&", and a
// Cyrillic-only layout types no Latin letter at all, yet the shortcut must still work there.
//
// Keycodes are those of XKB, which both X servers and Wayland compositors on Linux use: the
// kernel's input event code plus 8. A Qt key event carries it as its native scan code.
class KeyPosition {
public:
    // The US layout's character on the key: 'a'…'z' or '0'…'9', or none for any other key.
    static std::optional<char> usCharacter(quint32 keycode);
    // The keycode of the key that types the character ('a'…'z', '0'…'9', either case) on a US
    // layout, or 0.
    static quint32 usKeycode(char character);

    // The key a shortcut means: Qt's key when the layout types a Latin letter or a digit there,
    // else the US layout's letter or digit on the same key, else Qt's key unchanged.
    static int shortcutKey(int qtKey, quint32 keycode);
};

} // namespace snipjar
