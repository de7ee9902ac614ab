#include "platform/x11/X11GlobalHotKeys.h"
#include "platform/x11/XcbMemory.h"

#include "platform/LogCategories.h"
#include "platform/x11/XcbConnection.h"

#include <QList>
#include <QSocketNotifier>
#include <QTimer>

#include <xcb/xcb_keysyms.h>

#include <cstdlib>

namespace snipjar {

namespace {

// Keysyms from X11/keysymdef.h.
constexpr xcb_keysym_t keysymNumLock = 0xff7f;
constexpr xcb_keysym_t keysymAltL = 0xffe9;
constexpr xcb_keysym_t keysymAltR = 0xffea;
constexpr xcb_keysym_t keysymMetaL = 0xffe7;
constexpr xcb_keysym_t keysymSuperL = 0xffeb;
constexpr xcb_keysym_t keysymSuperR = 0xffec;

constexpr uint8_t errorBadAccess = 10;

// How often a held hot key is looked at until it is up. A new press before the look that finds it
// up (within this time after the release, or later while the event loop is busy) counts as held.
constexpr int releasePollMilliseconds = 10;

// A failed connection is replaced at once; a server that is restarting gets two more chances.
constexpr int reconnectDelaysMilliseconds[] = {0, 500, 1500};

} // namespace

X11GlobalHotKeys::X11GlobalHotKeys(std::unique_ptr<XcbConnection> connection, ConnectionFactory reconnect,
                                   QObject* parent)
    : QObject(parent)
    , openConnection(reconnect ? std::move(reconnect) : [] { return XcbConnection::open(); })
    , releasePoll(new QTimer(this)) {
    releasePoll->setInterval(releasePollMilliseconds);
    connect(releasePoll, &QTimer::timeout, this, &X11GlobalHotKeys::checkHeldKey);
    attach(std::move(connection));
}

X11GlobalHotKeys::~X11GlobalHotKeys() {
    if (connection->isHealthy()) {
        for (const auto& [key, count] : grabCounts) {
            ungrabVariants(key);
        }
        connection->flush();
    }
}

void X11GlobalHotKeys::attach(std::unique_ptr<XcbConnection> replacement) {
    connection = std::move(replacement);
    masks = readModifierMasks();
    notifier = new QSocketNotifier(connection->fileDescriptor(), QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &X11GlobalHotKeys::processEvents);
}

std::optional<xcb_keysym_t> X11GlobalHotKeys::keysymForLabel(const QString& keyLabel) {
    if (keyLabel.size() != 1) {
        return std::nullopt;
    }
    // Latin-1 keysyms equal their code points; letters are grabbed by their lower-case keysym,
    // which is the one in the first column of the keyboard mapping.
    const QChar character = keyLabel.at(0).toLower();
    if ((character >= u'a' && character <= u'z') || (character >= u'0' && character <= u'9')) {
        return xcb_keysym_t(character.unicode());
    }
    return std::nullopt;
}

std::optional<int> X11GlobalHotKeys::grab(const QString& keyLabel, quint32 modifierBits,
                                          std::function<void()> onPress) {
    const std::optional<xcb_keysym_t> keysym = keysymForLabel(keyLabel);
    if (!keysym || !connection->isHealthy()) {
        return std::nullopt;
    }
    // Modifiers may have been remapped since the last grab.
    masks = readModifierMasks();
    const std::optional<Key> key = keyFor(*keysym, modifierBits);
    if (!key) {
        qCInfo(lcHotKey) << "No key produces" << keyLabel << "in the current keyboard mapping";
        return std::nullopt;
    }
    const bool grabbed = acquire(*key);
    scheduleProcessEvents();
    if (!grabbed) {
        return std::nullopt;
    }
    const int registration = nextRegistration++;
    registrations[registration] = Registration{*keysym, modifierBits, key, std::move(onPress)};
    return registration;
}

void X11GlobalHotKeys::ungrab(int registration) {
    auto found = registrations.find(registration);
    if (found == registrations.end()) {
        return;
    }
    const std::optional<Key> key = found->second.key;
    registrations.erase(found);
    if (key) {
        release(*key);
        // Once this returns, the keys are free for other clients.
        connection->sync();
        scheduleProcessEvents();
    }
}

bool X11GlobalHotKeys::isHeld(int registration) const {
    const auto found = registrations.find(registration);
    // The release poll may not have run since a quick press and release (a busy main thread, or a
    // key tapped rather than held), so the keyboard itself says whether the key is still down: a
    // panel that took a tapped key for a held one ignored the next press of the hot key.
    return heldKeycode && found != registrations.end() && found->second.key &&
           found->second.key->keycode == *heldKeycode && isKeyDown(*heldKeycode);
}

void X11GlobalHotKeys::holdUntilReleased(int registration) {
    const auto found = registrations.find(registration);
    if (found != registrations.end() && found->second.key) {
        hold(found->second.key->keycode);
    }
}

bool X11GlobalHotKeys::isKeyDown(quint32 keycode) const {
    if (keycode == 0 || keycode > 255 || !connection->isHealthy()) {
        return false;
    }
    xcb_connection_t* c = connection->get();
    XcbReply<xcb_query_keymap_reply_t> keymap(xcb_query_keymap_reply(c, xcb_query_keymap(c), nullptr));
    return keymap && (keymap->keys[keycode / 8] & (1 << (keycode % 8)));
}

void X11GlobalHotKeys::hold(xcb_keycode_t keycode) {
    heldKeycode = keycode;
    releasePoll->start();
}

void X11GlobalHotKeys::checkHeldKey() {
    if (!heldKeycode || !connection->isHealthy()) {
        heldKeycode.reset();
        releasePoll->stop();
        return;
    }
    const xcb_keycode_t polled = *heldKeycode;
    const bool down = isKeyDown(polled);
    // Presses read in together with the reply came while the key was still held.
    processEvents();
    if (!down && heldKeycode == polled) {
        heldKeycode.reset();
        releasePoll->stop();
    }
}

std::optional<X11GlobalHotKeys::Key> X11GlobalHotKeys::keyFor(xcb_keysym_t keysym, quint32 modifierBits) {
    XcbKeySymbols symbols(xcb_key_symbols_alloc(connection->get()));
    const xcb_keycode_t keycode = symbols ? keycodeForLatin(symbols.get(), keysym) : 0;
    if (keycode == 0) {
        return std::nullopt;
    }
    uint16_t modifiers = 0;
    if (modifierBits & GlobalHotKeys::commandBit) {
        modifiers |= XCB_MOD_MASK_CONTROL;
    }
    if (modifierBits & GlobalHotKeys::shiftBit) {
        modifiers |= XCB_MOD_MASK_SHIFT;
    }
    if (modifierBits & GlobalHotKeys::optionBit) {
        modifiers |= masks.alt;
    }
    if (modifierBits & GlobalHotKeys::controlBit) {
        modifiers |= masks.super;
    }
    return Key{keycode, modifiers};
}

bool X11GlobalHotKeys::acquire(const Key& key) {
    int& count = grabCounts[key];
    if (count == 0 && !grabVariants(key)) {
        grabCounts.erase(key);
        return false;
    }
    ++count;
    return true;
}

void X11GlobalHotKeys::release(const Key& key) {
    auto counted = grabCounts.find(key);
    if (counted != grabCounts.end() && --counted->second <= 0) {
        grabCounts.erase(counted);
        ungrabVariants(key);
    }
}

void X11GlobalHotKeys::regrabAll() {
    // The old grabs were made with the old keycodes and lock masks; AnyModifier releases each
    // keycode whatever they were. Every registration is grabbed again just below.
    for (const auto& [key, count] : grabCounts) {
        xcb_ungrab_key(connection->get(), key.keycode, connection->root(), XCB_MOD_MASK_ANY);
    }
    grabCounts.clear();
    masks = readModifierMasks();
    for (auto& [id, registration] : registrations) {
        registration.key = keyFor(registration.keysym, registration.modifierBits);
        if (registration.key && !acquire(*registration.key)) {
            registration.key.reset();
        }
        if (!registration.key) {
            qCInfo(lcHotKey) << "A hot key could not be grabbed again";
        }
    }
    connection->flush();
}

X11GlobalHotKeys::ModifierMasks X11GlobalHotKeys::readModifierMasks() {
    ModifierMasks result;
    xcb_connection_t* c = connection->get();
    XcbReply<xcb_get_modifier_mapping_reply_t> mapping(
        xcb_get_modifier_mapping_reply(c, xcb_get_modifier_mapping(c), nullptr));
    XcbKeySymbols symbols(xcb_key_symbols_alloc(c));
    if (!mapping || !symbols) {
        return result;
    }
    // Which of Mod1..Mod5 holds a key is up to the keyboard configuration; find the row of each.
    auto maskOf = [&](std::initializer_list<xcb_keysym_t> keysyms) -> std::optional<uint16_t> {
        const xcb_keycode_t* codes = xcb_get_modifier_mapping_keycodes(mapping.get());
        const int perModifier = mapping->keycodes_per_modifier;
        for (xcb_keysym_t keysym : keysyms) {
            const xcb_keycode_t wanted = keycodeFor(symbols.get(), keysym);
            if (wanted == 0) {
                continue;
            }
            for (int modifier = 3; modifier < 8; ++modifier) {
                for (int i = 0; i < perModifier; ++i) {
                    if (codes[modifier * perModifier + i] == wanted) {
                        return uint16_t(1 << modifier);
                    }
                }
            }
        }
        return std::nullopt;
    };
    result.alt = maskOf({keysymAltL, keysymAltR, keysymMetaL}).value_or(result.alt);
    result.super = maskOf({keysymSuperL, keysymSuperR}).value_or(result.super);
    result.numLock = maskOf({keysymNumLock}).value_or(0);
    return result;
}

std::vector<uint16_t> X11GlobalHotKeys::lockVariants() const {
    std::vector<uint16_t> variants{0, XCB_MOD_MASK_LOCK};
    if (masks.numLock != 0) {
        variants.push_back(masks.numLock);
        variants.push_back(uint16_t(masks.numLock | XCB_MOD_MASK_LOCK));
    }
    return variants;
}

bool X11GlobalHotKeys::grabVariants(const Key& key) {
    xcb_connection_t* c = connection->get();
    const std::vector<uint16_t> variants = lockVariants();
    std::vector<xcb_void_cookie_t> cookies;
    for (uint16_t variant : variants) {
        cookies.push_back(xcb_grab_key_checked(c, 1, connection->root(), key.modifiers | variant, key.keycode,
                                               XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
    }
    bool taken = false;
    std::vector<uint16_t> grabbed;
    for (size_t i = 0; i < cookies.size(); ++i) {
        XcbReply<xcb_generic_error_t> error(xcb_request_check(c, cookies[i]));
        if (!error) {
            grabbed.push_back(variants[i]);
        } else {
            taken = true;
            if (error->error_code != errorBadAccess) {
                qCWarning(lcHotKey) << "Grabbing the hot key failed with X error" << error->error_code;
            }
        }
    }
    if (!taken) {
        return true;
    }
    // Another client holds (some state of) the combination. Only this client's own grabs are
    // released, so the other client keeps its grab.
    for (uint16_t variant : grabbed) {
        xcb_ungrab_key(c, key.keycode, connection->root(), key.modifiers | variant);
    }
    connection->flush();
    qCInfo(lcHotKey) << "The hot key is held by another application";
    return false;
}

void X11GlobalHotKeys::ungrabVariants(const Key& key) {
    for (uint16_t variant : lockVariants()) {
        xcb_ungrab_key(connection->get(), key.keycode, connection->root(), key.modifiers | variant);
    }
}

void X11GlobalHotKeys::scheduleProcessEvents() {
    // A request with a reply may have read key events into xcb's queue; the socket notifier does
    // not see those, so the queue is looked at once more from the event loop.
    QTimer::singleShot(0, this, &X11GlobalHotKeys::processEvents);
}

void X11GlobalHotKeys::processEvents() {
    xcb_connection_t* c = connection->get();
    const uint16_t relevant = XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL | masks.alt | masks.super;
    QList<Key> pressed;
    bool anyPress = false;
    bool mappingChanged = false;
    while (xcb_generic_event_t* raw = xcb_poll_for_event(c)) {
        XcbReply<xcb_generic_event_t> event(raw);
        const uint8_t type = event->response_type & 0x7f;
        if (type == XCB_KEY_PRESS) {
            const auto* press = reinterpret_cast<const xcb_key_press_event_t*>(event.get());
            anyPress = true;
            if (press->detail != heldKeycode) {
                pressed.append(Key{press->detail, uint16_t(press->state & relevant)});
            }
        } else if (type == XCB_MAPPING_NOTIFY) {
            const auto* mapping = reinterpret_cast<const xcb_mapping_notify_event_t*>(event.get());
            mappingChanged = mappingChanged || mapping->request != XCB_MAPPING_POINTER;
        }
    }
    if (anyPress) {
        // The press turned the passive grab into an active keyboard grab of this connection, held
        // until the keys are up. Letting go of it now allows the panel to take the keyboard while
        // the user still holds the combination; so does a repeat that is ignored.
        xcb_ungrab_keyboard(c, XCB_CURRENT_TIME);
        xcb_flush(c);
    }
    for (const Key& key : pressed) {
        // Copied first: a callback may replace the hot key and so change the registrations.
        QList<std::function<void()>> callbacks;
        for (const auto& [id, registration] : registrations) {
            if (registration.key == key) {
                callbacks.append(registration.onPress);
            }
        }
        if (!callbacks.isEmpty()) {
            hold(key.keycode);
        }
        for (const auto& callback : callbacks) {
            if (callback) {
                callback();
            }
        }
    }
    if (!connection->isHealthy()) {
        handleConnectionFailure();
    } else if (mappingChanged) {
        // Another layout may put the keysym on another key: the grab follows it there.
        regrabAll();
    }
}

void X11GlobalHotKeys::handleConnectionFailure() {
    if (!notifier) {
        return; // already replacing the connection
    }
    // A failed connection's descriptor stays readable for good; listening to it would spin.
    notifier->setEnabled(false);
    notifier->deleteLater();
    notifier = nullptr;
    heldKeycode.reset();
    qCWarning(lcHotKey) << "The X connection of the hot keys failed; opening a new one";
    reconnect(0);
}

void X11GlobalHotKeys::reconnect(int attempt) {
    QTimer::singleShot(reconnectDelaysMilliseconds[attempt], this, [this, attempt] {
        if (std::unique_ptr<XcbConnection> replacement = openConnection()) {
            // The server dropped the grabs together with the old connection.
            grabCounts.clear();
            attach(std::move(replacement));
            regrabAll();
            scheduleProcessEvents();
            qCInfo(lcHotKey) << "The hot keys are grabbed again on a new X connection";
        } else if (attempt + 1 < int(std::size(reconnectDelaysMilliseconds))) {
            reconnect(attempt + 1);
        } else {
            qCCritical(lcHotKey) << "No new X connection for the hot keys could be opened";
            emit connectionLost();
        }
    });
}

bool X11GlobalHotKeys::grabsKeys() const {
    return qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
           qEnvironmentVariable("XDG_SESSION_TYPE").compare(QLatin1String("wayland"), Qt::CaseInsensitive) !=
               0;
}

} // namespace snipjar
