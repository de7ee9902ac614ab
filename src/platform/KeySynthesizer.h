#pragma once

namespace snipjar {

enum class PasteKeystroke {
    controlV,      // Ctrl+V: most applications
    controlShiftV, // Ctrl+Shift+V: most terminal emulators
    shiftInsert,   // Shift+Insert: terminals that paste only the primary selection (xterm, urxvt)
};

// Synthesised key events. Main thread only.
class KeySynthesizer {
public:
    virtual ~KeySynthesizer() = default;
    // True when the application may synthesise keys (the display offers XTEST).
    virtual bool isTrusted() = 0;
    // Releases any modifier key still held (the hot key's), then types the keystroke.
    virtual void postPaste(PasteKeystroke keystroke) = 0;
};

} // namespace snipjar
