#include "platform/x11/X11KeySynthesizer.h"
#include "platform/x11/XcbMemory.h"

#include "platform/LogCategories.h"
#include "platform/x11/XcbConnection.h"

#include <xcb/xcb_keysyms.h>
#include <xcb/xtest.h>

#include <QGuiApplication>
#include <QList>

#include <cstdlib>
#include <memory>

namespace snipjar {

namespace {

// Keysyms from X11/keysymdef.h.
constexpr xcb_keysym_t keysymV = 0x0076;
constexpr xcb_keysym_t keysymInsert = 0xff63;
constexpr xcb_keysym_t keysymControlL = 0xffe3;
constexpr xcb_keysym_t keysymShiftL = 0xffe1;
constexpr xcb_keysym_t keysymNumLock = 0xff7f;

constexpr int lockModifierIndex = 1;

// Keycodes of the modifier keys that are down now. Lock keys are left alone: releasing them
// changes nothing, and NumLock and CapsLock are toggles, not held modifiers.
QList<xcb_keycode_t> heldModifierKeycodes(xcb_connection_t* connection, xcb_key_symbols_t* symbols) {
    XcbReply<xcb_query_keymap_reply_t> keymap(
        xcb_query_keymap_reply(connection, xcb_query_keymap(connection), nullptr));
    XcbReply<xcb_get_modifier_mapping_reply_t> modifiers(
        xcb_get_modifier_mapping_reply(connection, xcb_get_modifier_mapping(connection), nullptr));
    QList<xcb_keycode_t> held;
    if (!keymap || !modifiers) {
        return held;
    }
    const xcb_keycode_t numLock = keycodeFor(symbols, keysymNumLock);
    const xcb_keycode_t* codes = xcb_get_modifier_mapping_keycodes(modifiers.get());
    const int perModifier = modifiers->keycodes_per_modifier;
    for (int modifier = 0; modifier < 8; ++modifier) {
        if (modifier == lockModifierIndex) {
            continue;
        }
        for (int i = 0; i < perModifier; ++i) {
            const xcb_keycode_t code = codes[modifier * perModifier + i];
            if (code == 0 || code == numLock || held.contains(code)) {
                continue;
            }
            if (keymap->keys[code / 8] & (1 << (code % 8))) {
                held.append(code);
            }
        }
    }
    return held;
}

// Waits until the server has processed every request made so far on Qt's own X connection. The
// panel ungrabs the keyboard and unmaps itself there, and those requests may still sit in Qt's
// output buffer; the keystroke goes out on another connection, and nothing else orders it after
// them, so without this it could land in the panel's grab. Nothing to do without a Qt X connection.
void syncQtConnection() {
    auto* application = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    auto* x11 = application ? application->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection || xcb_connection_has_error(connection)) {
        return;
    }
    std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
}

void fakeKey(xcb_connection_t* connection, uint8_t type, xcb_keycode_t keycode) {
    xcb_test_fake_input(connection, type, keycode, XCB_CURRENT_TIME, XCB_WINDOW_NONE, 0, 0, 0);
}

} // namespace

X11KeySynthesizer::X11KeySynthesizer(XcbConnection& connection)
    : connection(connection) {}

bool X11KeySynthesizer::isTrusted() {
    if (!hasXTest) {
        const xcb_query_extension_reply_t* extension = xcb_get_extension_data(connection.get(), &xcb_test_id);
        hasXTest = extension && extension->present;
    }
    return *hasXTest;
}

void X11KeySynthesizer::postPaste(PasteKeystroke keystroke) {
    if (!isTrusted()) {
        return;
    }
    xcb_connection_t* c = connection.get();
    // The keyboard mapping is read anew each time, since it may have changed since the last paste
    // (another layout, remapped modifiers); a paste is rare enough for the round trip.
    XcbKeySymbols symbols(xcb_key_symbols_alloc(c));
    if (!symbols) {
        return;
    }
    // The keys pressed in order and released in reverse: modifiers first, then the key itself.
    QList<xcb_keycode_t> keys;
    switch (keystroke) {
    case PasteKeystroke::controlV:
        keys = {keycodeFor(symbols.get(), keysymControlL), keycodeForLatin(symbols.get(), keysymV)};
        break;
    case PasteKeystroke::controlShiftV:
        keys = {keycodeFor(symbols.get(), keysymControlL), keycodeFor(symbols.get(), keysymShiftL),
                keycodeForLatin(symbols.get(), keysymV)};
        break;
    case PasteKeystroke::shiftInsert:
        keys = {keycodeFor(symbols.get(), keysymShiftL), keycodeFor(symbols.get(), keysymInsert)};
        break;
    }
    if (keys.isEmpty() || keys.contains(xcb_keycode_t(0))) {
        qCWarning(lcPaste) << "The keyboard mapping lacks a key of the paste keystroke; none sent";
        return;
    }

    syncQtConnection();
    for (xcb_keycode_t held : heldModifierKeycodes(c, symbols.get())) {
        fakeKey(c, XCB_KEY_RELEASE, held);
    }
    for (xcb_keycode_t key : std::as_const(keys)) {
        fakeKey(c, XCB_KEY_PRESS, key);
    }
    for (auto key = keys.crbegin(); key != keys.crend(); ++key) {
        fakeKey(c, XCB_KEY_RELEASE, *key);
    }
    connection.flush();
}

} // namespace snipjar
