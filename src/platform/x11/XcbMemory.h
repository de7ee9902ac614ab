#pragma once

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

} // namespace snipjar
