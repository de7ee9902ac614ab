#pragma once

#include "platform/KeyPosition.h"

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <cstdlib>
#include <memory>

namespace snipjar {

// xcb hands out replies, events, errors and keycode lists allocated with malloc; the caller frees them.
struct XcbFreeDeleter {
    void operator()(void* pointer) const { std::free(pointer); }
};

template <typename T> using XcbReply = std::unique_ptr<T, XcbFreeDeleter>;

struct XcbKeySymbolsDeleter {
    void operator()(xcb_key_symbols_t* symbols) const { xcb_key_symbols_free(symbols); }
};

using XcbKeySymbols = std::unique_ptr<xcb_key_symbols_t, XcbKeySymbolsDeleter>;

// The first keycode that produces the keysym, or 0.
inline xcb_keycode_t keycodeFor(xcb_key_symbols_t* symbols, xcb_keysym_t keysym) {
    XcbReply<xcb_keycode_t> keycodes(xcb_key_symbols_get_keycode(symbols, keysym));
    return keycodes ? keycodes.get()[0] : 0;
}

// The key that types a Latin letter or digit (its keysym is its ASCII code): the first key of the
// current mapping that produces it in any group, else the key at its place on a US keyboard, for
// layouts without a Latin group (Cyrillic alone), where nothing produces it. 0 for other keysyms.
inline xcb_keycode_t keycodeForLatin(xcb_key_symbols_t* symbols, xcb_keysym_t keysym) {
    if (const xcb_keycode_t keycode = keycodeFor(symbols, keysym)) {
        return keycode;
    }
    return keysym < 0x80 ? xcb_keycode_t(KeyPosition::usKeycode(char(keysym))) : 0;
}

} // namespace snipjar
