#include "platform/wayland/module/SeatConnection.h"

#include "platform/wayland/module/ConnectionLoop.h"
#include "platform/wayland/module/PlasmaWindowList.h"

#include "fake-input-client-protocol.h"
#include "plasma-window-management-client-protocol.h"
#include "platform/LogCategories.h"
#include "virtual-keyboard-unstable-v1-client-protocol.h"
#include "wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"

#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <QList>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace snipjar {

namespace {

// Keysyms from xkbcommon-keysyms.h (lower-case v: the key's first level).
constexpr xkb_keysym_t keysymV = 0x0076;
constexpr xkb_keysym_t keysymInsert = 0xff63;
constexpr xkb_keysym_t keysymControlL = 0xffe3;
constexpr xkb_keysym_t keysymShiftL = 0xffe1;

// xkb keycodes are the kernel's evdev codes plus 8; the virtual keyboard takes the kernel's.
constexpr uint32_t evdevOffset = 8;
// The kernel's code of the key that is V on a US keyboard.
constexpr uint32_t evdevKeyV = 47;
// wl_keyboard's key states and keymap format.
constexpr uint32_t keyReleased = 0;
constexpr uint32_t keyPressed = 1;
constexpr uint32_t keymapFormatXkbV1 = 1;

uint32_t milliseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return uint32_t(now.tv_sec * 1000 + now.tv_nsec / 1'000'000);
}

QString boundedName(const char* text) {
    return QString::fromUtf8(text, qMin<qsizetype>(qstrlen(text), SeatConnection::maxNameBytes));
}

// The system's default keymap (the XKB_DEFAULT_* variables' layout, or US) as text; empty when
// xkbcommon has none.
QByteArray defaultKeymap() {
    QByteArray text;
    xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    xkb_keymap* keymap =
        context ? xkb_keymap_new_from_names(context, nullptr, XKB_KEYMAP_COMPILE_NO_FLAGS) : nullptr;
    if (char* string = keymap ? xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1) : nullptr) {
        text = string;
        std::free(string);
    }
    xkb_keymap_unref(keymap);
    xkb_context_unref(context);
    return text;
}

} // namespace

struct SeatConnection::Handle {
    zwlr_foreign_toplevel_handle_v1* proxy = nullptr;
    Toplevel toplevel;
    bool isActivated = false;
    // Which toplevel became activated last, should the compositor call two of them activated.
    quint64 activatedOrder = 0;
};

std::unique_ptr<SeatConnection> SeatConnection::open(LostHandler onLost) {
    wl_display* display = wl_display_connect(nullptr);
    if (!display) {
        return nullptr;
    }
    std::unique_ptr<SeatConnection> seat(new SeatConnection(display, std::move(onLost)));
    if (!seat->bind()) {
        return nullptr;
    }
    SeatConnection* self = seat.get();
    seat->thread_ = std::thread([self] { self->run(); });
    return seat;
}

SeatConnection::SeatConnection(wl_display* display, LostHandler onLost)
    : display_(display)
    , onLost_(std::move(onLost))
    , wakeFd_(wayland::makeWakeFd()) {}

SeatConnection::~SeatConnection() {
    if (thread_.joinable()) {
        stopping_ = true;
        wake();
        thread_.join();
    }
    for (Handle* handle : std::as_const(handles_)) {
        zwlr_foreign_toplevel_handle_v1_destroy(handle->proxy);
        delete handle;
    }
    if (toplevels_) {
        if (!toplevelsFinished_) {
            zwlr_foreign_toplevel_manager_v1_stop(toplevels_);
        }
        wl_proxy_destroy(reinterpret_cast<wl_proxy*>(toplevels_));
    }
    plasmaWindows_.reset();
    if (keyboard_) {
        zwp_virtual_keyboard_v1_destroy(keyboard_);
    }
    if (fakeInput_) {
        wl_proxy_destroy(reinterpret_cast<wl_proxy*>(fakeInput_));
    }
    if (seatKeyboard_) {
        wl_keyboard_destroy(seatKeyboard_);
    }
    if (keyboardManager_) {
        wl_proxy_destroy(reinterpret_cast<wl_proxy*>(keyboardManager_));
    }
    if (seat_) {
        wl_seat_destroy(seat_);
    }
    wayland::close(display_, registry_, wakeFd_);
}

void SeatConnection::handleGlobal(void* data, wl_registry*, uint32_t name, const char* interface,
                                  uint32_t version) {
    auto* self = static_cast<SeatConnection*>(data);
    if (std::strcmp(interface, wl_seat_interface.name) == 0 && self->seatName_ == 0) {
        // The first seat: a desktop session has one.
        self->seatName_ = name;
    } else if (std::strcmp(interface, zwp_virtual_keyboard_manager_v1_interface.name) == 0) {
        self->keyboardManagerName_ = name;
    } else if (std::strcmp(interface, zwlr_foreign_toplevel_manager_v1_interface.name) == 0) {
        self->toplevelManagerName_ = name;
        self->toplevelManagerVersion_ =
            std::min<uint32_t>(version, zwlr_foreign_toplevel_manager_v1_interface.version);
    } else if (std::strcmp(interface, org_kde_kwin_fake_input_interface.name) == 0) {
        self->fakeInputName_ = name;
        self->fakeInputVersion_ = version;
    } else if (std::strcmp(interface, org_kde_plasma_window_management_interface.name) == 0) {
        self->plasmaWindowsName_ = name;
        self->plasmaWindowsVersion_ = version;
    }
}

void SeatConnection::handleGlobalRemove(void*, wl_registry*, uint32_t) {}

bool SeatConnection::bind() {
    static const wl_registry_listener listener{&handleGlobal, &handleGlobalRemove};
    if (wakeFd_ < 0) {
        return false;
    }
    registry_ = wl_display_get_registry(display_);
    wl_registry_add_listener(registry_, &listener, this);
    if (wl_display_roundtrip(display_) < 0 || seatName_ == 0) {
        return false;
    }
    static const wl_seat_listener seatListener{&handleCapabilities, [](void*, wl_seat*, const char*) {}};
    seat_ = static_cast<wl_seat*>(wl_registry_bind(registry_, seatName_, &wl_seat_interface, 1));
    wl_seat_add_listener(seat_, &seatListener, this);
    // The seat's capabilities, then its keyboard's keymap.
    if (wl_display_roundtrip(display_) < 0 || wl_display_roundtrip(display_) < 0) {
        return false;
    }
    if (keyboardManagerName_ != 0) {
        keyboardManager_ = static_cast<zwp_virtual_keyboard_manager_v1*>(
            wl_registry_bind(registry_, keyboardManagerName_, &zwp_virtual_keyboard_manager_v1_interface, 1));
        if (!setUpKeyboard()) {
            qCWarning(lcPaste) << "No keymap could be made for the virtual keyboard; pasting is by hand";
        }
    } else if (fakeInputName_ != 0 &&
               fakeInputVersion_ >= ORG_KDE_KWIN_FAKE_INPUT_KEYBOARD_KEY_SINCE_VERSION) {
        setUpFakeInput();
    }
    if (toplevelManagerName_ != 0) {
        static const zwlr_foreign_toplevel_manager_v1_listener managerListener{&handleToplevel,
                                                                               &handleFinished};
        toplevels_ = static_cast<zwlr_foreign_toplevel_manager_v1*>(
            wl_registry_bind(registry_, toplevelManagerName_, &zwlr_foreign_toplevel_manager_v1_interface,
                             toplevelManagerVersion_));
        zwlr_foreign_toplevel_manager_v1_add_listener(toplevels_, &managerListener, this);
    } else if (plasmaWindowsName_ != 0) {
        plasmaWindows_ = PlasmaWindowList::bind(registry_, plasmaWindowsName_, plasmaWindowsVersion_);
    }
    // The toplevels open now, and whether the compositor let this program have a keyboard (one that
    // refuses ends the connection), are known before anyone asks.
    if (wl_display_roundtrip(display_) < 0) {
        return false;
    }
    qCInfo(lcPlatform).noquote() << "Typing on the Wayland seat:"
                                 << (keyboard_    ? "virtual keyboard"
                                     : fakeInput_ ? "KWin's fake input"
                                                  : "none")
                                 << "- toplevels:"
                                 << (toplevels_       ? "wlr foreign toplevels"
                                     : plasmaWindows_ ? "KWin's window list"
                                                      : "none");
    return canType() || knowsToplevels();
}

std::optional<SeatConnection::Keys> SeatConnection::keysIn(const QByteArray& keymapText) {
    xkb_context* context = xkb_context_new(
        xkb_context_flags(XKB_CONTEXT_NO_DEFAULT_INCLUDES | XKB_CONTEXT_NO_ENVIRONMENT_NAMES));
    if (!context) {
        return std::nullopt;
    }
    xkb_keymap* keymap =
        xkb_keymap_new_from_buffer(context, keymapText.constData(), size_t(keymapText.size()),
                                   XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS);
    xkb_context_unref(context);
    if (!keymap) {
        return std::nullopt;
    }
    struct Found {
        uint32_t code = 0;
        uint32_t group = 0;
    };
    // The first key with the keysym on its first level, in the first layout that has it: a layout
    // without Latin letters is often paired with one that has them.
    const auto find = [keymap](xkb_keysym_t wanted) {
        for (xkb_layout_index_t group = 0; group < xkb_keymap_num_layouts(keymap); ++group) {
            for (xkb_keycode_t code = xkb_keymap_min_keycode(keymap); code <= xkb_keymap_max_keycode(keymap);
                 ++code) {
                const xkb_keysym_t* syms = nullptr;
                if (code > evdevOffset && group < xkb_keymap_num_layouts_for_key(keymap, code) &&
                    xkb_keymap_key_get_syms_by_level(keymap, code, group, 0, &syms) == 1 &&
                    syms[0] == wanted) {
                    return Found{code - evdevOffset, group};
                }
            }
        }
        return Found{};
    };
    Keys keys;
    const Found v = find(keysymV);
    keys.insert = find(keysymInsert).code;
    keys.controlL = find(keysymControlL).code;
    keys.shiftL = find(keysymShiftL).code;
    const xkb_mod_index_t control = xkb_keymap_mod_get_index(keymap, XKB_MOD_NAME_CTRL);
    const xkb_mod_index_t shift = xkb_keymap_mod_get_index(keymap, XKB_MOD_NAME_SHIFT);
    xkb_keymap_unref(keymap);
    // A keymap without modifier keys is no keyboard's layout but another program's typing aid
    // (a virtual keyboard with just the letters it types): not the user's.
    if (control == XKB_MOD_INVALID || shift == XKB_MOD_INVALID || keys.controlL == 0 || keys.shiftL == 0) {
        return std::nullopt;
    }
    if (v.code == 0) {
        // No layout has a V: the key where V is on most keyboards, which many programs take for
        // their shortcuts whatever it types.
        qCWarning(lcPaste)
            << "The keyboard layout has no V; the paste keystroke uses the key where V usually is";
    }
    keys.v = v.code != 0 ? v.code : evdevKeyV;
    keys.group = v.group;
    keys.controlMask = 1u << control;
    keys.shiftMask = 1u << shift;
    return keys;
}

bool SeatConnection::setUpKeyboard() {
    // No keyboard on the seat yet: the system's default layout, which the compositor announces
    // back once the virtual keyboard is the seat's.
    const QByteArray text = seatKeymap_.isEmpty() ? defaultKeymap() : seatKeymap_;
    keys_ = keysIn(text);
    if (!keys_) {
        return false;
    }
    // The compositor maps the keymap from a file; the terminating zero is part of its size.
    const size_t size = size_t(text.size()) + 1;
    const int fd = ::memfd_create("snipjar-keymap", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    const bool written = fd >= 0 && ::write(fd, text.constData(), size) == ssize_t(size);
    if (written) {
        ::fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE);
        keyboard_ = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(keyboardManager_, seat_);
        zwp_virtual_keyboard_v1_keymap(keyboard_, keymapFormatXkbV1, fd, uint32_t(size));
    }
    if (fd >= 0) {
        ::close(fd);
    }
    return written;
}

void SeatConnection::setUpFakeInput() {
    // KWin reads the fake keys with its own keymap, the user's, which the seat's keyboard tells;
    // the default one stands in until KWin announces it.
    keys_ = keysIn(seatKeymap_.isEmpty() ? defaultKeymap() : seatKeymap_);
    if (!keys_) {
        qCWarning(lcPaste) << "The keyboard layout could not be read; pasting is by hand";
        return;
    }
    fakeInput_ = static_cast<org_kde_kwin_fake_input*>(
        wl_registry_bind(registry_, fakeInputName_, &org_kde_kwin_fake_input_interface,
                         ORG_KDE_KWIN_FAKE_INPUT_KEYBOARD_KEY_SINCE_VERSION));
    // KWin drops the fake events of a program that did not say who it is and why.
    org_kde_kwin_fake_input_authenticate(fakeInput_, "Snipjar",
                                         "Pastes the clip chosen in the clipboard history");
}

void SeatConnection::handleCapabilities(void* data, wl_seat* seat, uint32_t capabilities) {
    static const wl_keyboard_listener listener{
        &handleKeymap,
        [](void*, wl_keyboard*, uint32_t, wl_surface*, wl_array*) {},
        [](void*, wl_keyboard*, uint32_t, wl_surface*) {},
        [](void*, wl_keyboard*, uint32_t, uint32_t, uint32_t, uint32_t) {},
        [](void*, wl_keyboard*, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t) {},
        [](void*, wl_keyboard*, int32_t, int32_t) {}};
    auto* self = static_cast<SeatConnection*>(data);
    if ((capabilities & WL_SEAT_CAPABILITY_KEYBOARD) && !self->seatKeyboard_) {
        self->seatKeyboard_ = wl_seat_get_keyboard(seat);
        wl_keyboard_add_listener(self->seatKeyboard_, &listener, self);
    }
}

void SeatConnection::handleKeymap(void* data, wl_keyboard*, uint32_t format, int32_t fd, uint32_t size) {
    auto* self = static_cast<SeatConnection*>(data);
    QByteArray text;
    if (format == keymapFormatXkbV1 && size > 1 && size <= maxKeymapBytes) {
        void* mapped = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
        if (mapped != MAP_FAILED) {
            text = QByteArray(static_cast<const char*>(mapped),
                              qstrnlen(static_cast<const char*>(mapped), size));
            ::munmap(mapped, size);
        }
    }
    ::close(fd);
    if (text.isEmpty()) {
        return;
    }
    // The keymap of the keyboard in use: the user's, or the virtual keyboard's after it typed
    // (the same one, or the one the compositor imposed on it).
    std::optional<Keys> keys = keysIn(text);
    if (!keys) {
        return;
    }
    std::lock_guard lock(self->mutex_);
    self->seatKeymap_ = text;
    self->keys_ = keys;
}

void SeatConnection::wake() {
    wayland::wake(wakeFd_);
}

void SeatConnection::run() {
    bool failed = false;
    while (!stopping_ && !failed) {
        failed = !wayland::turn(display_, wakeFd_, {}, -1);
    }
    if (failed && !stopping_) {
        qCWarning(lcPlatform) << "The Wayland seat's connection broke:"
                              << std::strerror(wl_display_get_error(display_));
        if (onLost_) {
            onLost_();
        }
    }
}

bool SeatConnection::type(PasteKeystroke keystroke) {
    std::optional<Keys> keys;
    {
        std::lock_guard lock(mutex_);
        keys = keys_;
    }
    if (!canType() || !keys) {
        return false;
    }
    QList<uint32_t> modifierKeys;
    uint32_t key = keys->v;
    uint32_t mask = keys->controlMask;
    switch (keystroke) {
    case PasteKeystroke::controlV:
        modifierKeys = {keys->controlL};
        break;
    case PasteKeystroke::controlShiftV:
        modifierKeys = {keys->controlL, keys->shiftL};
        mask |= keys->shiftMask;
        break;
    case PasteKeystroke::shiftInsert:
        if (keys->insert == 0) {
            return false;
        }
        modifierKeys = {keys->shiftL};
        key = keys->insert;
        mask = keys->shiftMask;
        break;
    }
    std::lock_guard lock(typingMutex_);
    if (fakeInput_) {
        // KWin takes the modifiers from the keys themselves, as for a keyboard of the seat's, and
        // reads them in the layout in use, which fake input cannot switch: where only another
        // layout has a V (Russian beside US), the key of that V goes with Ctrl, and programs take
        // it for Ctrl+V as they do when the user presses it.
        for (const uint32_t modifier : std::as_const(modifierKeys)) {
            org_kde_kwin_fake_input_keyboard_key(fakeInput_, modifier, keyPressed);
        }
        org_kde_kwin_fake_input_keyboard_key(fakeInput_, key, keyPressed);
        org_kde_kwin_fake_input_keyboard_key(fakeInput_, key, keyReleased);
        for (auto modifier = modifierKeys.crbegin(); modifier != modifierKeys.crend(); ++modifier) {
            org_kde_kwin_fake_input_keyboard_key(fakeInput_, *modifier, keyReleased);
        }
    } else {
        typeOnVirtualKeyboard(modifierKeys, key, mask, keys->group);
    }
    const bool sent = wl_display_flush(display_) >= 0 || errno == EAGAIN;
    // Whatever the socket did not take now, the connection's thread sends when it can.
    wake();
    return sent;
}

void SeatConnection::typeOnVirtualKeyboard(const QList<uint32_t>& modifierKeys, uint32_t key, uint32_t mask,
                                           uint32_t group) {
    const uint32_t time = milliseconds();
    // The modifier keys go down as keys too, for programs that watch keys rather than the modifier
    // state; the state itself is set outright, with the layout that has V, so that neither a
    // modifier of an earlier keystroke nor the user's layout switch changes the letter.
    for (const uint32_t modifier : std::as_const(modifierKeys)) {
        zwp_virtual_keyboard_v1_key(keyboard_, time, modifier, keyPressed);
    }
    zwp_virtual_keyboard_v1_modifiers(keyboard_, mask, 0, 0, group);
    zwp_virtual_keyboard_v1_key(keyboard_, time, key, keyPressed);
    zwp_virtual_keyboard_v1_key(keyboard_, time, key, keyReleased);
    for (auto modifier = modifierKeys.crbegin(); modifier != modifierKeys.crend(); ++modifier) {
        zwp_virtual_keyboard_v1_key(keyboard_, time, *modifier, keyReleased);
    }
    zwp_virtual_keyboard_v1_modifiers(keyboard_, 0, 0, 0, 0);
}

std::optional<WaylandSeatControl::Toplevel> SeatConnection::activeToplevel() {
    if (plasmaWindows_) {
        return plasmaWindows_->activeToplevel();
    }
    std::lock_guard lock(mutex_);
    const Handle* active = nullptr;
    for (const Handle* handle : std::as_const(handles_)) {
        if (handle->isActivated && (!active || handle->activatedOrder > active->activatedOrder)) {
            active = handle;
        }
    }
    return active ? std::optional<Toplevel>(active->toplevel) : std::nullopt;
}

std::optional<WaylandSeatControl::Toplevel> SeatConnection::toplevel(quint64 id) {
    if (plasmaWindows_) {
        return plasmaWindows_->toplevel(id);
    }
    std::lock_guard lock(mutex_);
    for (const Handle* handle : std::as_const(handles_)) {
        if (handle->toplevel.id == id) {
            return handle->toplevel;
        }
    }
    return std::nullopt;
}

bool SeatConnection::activate(quint64 id) {
    if (plasmaWindows_) {
        if (!plasmaWindows_->activate(id)) {
            return false;
        }
        wl_display_flush(display_);
        wake();
        return true;
    }
    std::lock_guard lock(mutex_);
    for (const Handle* handle : std::as_const(handles_)) {
        if (handle->toplevel.id == id) {
            zwlr_foreign_toplevel_handle_v1_activate(handle->proxy, seat_);
            wl_display_flush(display_);
            wake();
            return true;
        }
    }
    return false;
}

void SeatConnection::handleToplevel(void* data, zwlr_foreign_toplevel_manager_v1*,
                                    zwlr_foreign_toplevel_handle_v1* proxy) {
    static const zwlr_foreign_toplevel_handle_v1_listener listener{
        &handleTitle,
        &handleAppID,
        [](void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {},
        [](void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {},
        &handleState,
        &handleDone,
        &handleClosed,
        [](void*, zwlr_foreign_toplevel_handle_v1*, zwlr_foreign_toplevel_handle_v1*) {}};
    auto* self = static_cast<SeatConnection*>(data);
    std::lock_guard lock(self->mutex_);
    if (self->handles_.size() >= maxToplevels) {
        zwlr_foreign_toplevel_handle_v1_destroy(proxy);
        return;
    }
    auto* handle = new Handle{proxy, {self->nextID_++, {}, {}}};
    zwlr_foreign_toplevel_handle_v1_add_listener(proxy, &listener, self);
    self->handles_.insert(proxy, handle);
}

void SeatConnection::handleFinished(void* data, zwlr_foreign_toplevel_manager_v1*) {
    // The compositor stopped announcing toplevels (it is shutting down); those known so far stay
    // until they close.
    static_cast<SeatConnection*>(data)->toplevelsFinished_ = true;
}

void SeatConnection::handleTitle(void* data, zwlr_foreign_toplevel_handle_v1* proxy, const char* title) {
    auto* self = static_cast<SeatConnection*>(data);
    std::lock_guard lock(self->mutex_);
    if (Handle* handle = self->handles_.value(proxy)) {
        handle->toplevel.title = boundedName(title);
    }
}

void SeatConnection::handleAppID(void* data, zwlr_foreign_toplevel_handle_v1* proxy, const char* appID) {
    auto* self = static_cast<SeatConnection*>(data);
    std::lock_guard lock(self->mutex_);
    if (Handle* handle = self->handles_.value(proxy)) {
        handle->toplevel.appID = boundedName(appID);
    }
}

void SeatConnection::handleState(void* data, zwlr_foreign_toplevel_handle_v1* proxy, wl_array* states) {
    auto* self = static_cast<SeatConnection*>(data);
    bool isActivated = false;
    const auto* state = static_cast<const uint32_t*>(states->data);
    for (size_t index = 0; index < states->size / sizeof(uint32_t); ++index) {
        isActivated = isActivated || state[index] == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_ACTIVATED;
    }
    std::lock_guard lock(self->mutex_);
    if (Handle* handle = self->handles_.value(proxy)) {
        if (isActivated && !handle->isActivated) {
            handle->activatedOrder = self->nextID_++;
        }
        handle->isActivated = isActivated;
    }
}

void SeatConnection::handleDone(void*, zwlr_foreign_toplevel_handle_v1*) {
    // Each change is taken as it comes: a toplevel's app id, title and state are read one at a
    // time, never as a set that must agree.
}

void SeatConnection::handleClosed(void* data, zwlr_foreign_toplevel_handle_v1* proxy) {
    auto* self = static_cast<SeatConnection*>(data);
    std::lock_guard lock(self->mutex_);
    delete self->handles_.take(proxy);
    zwlr_foreign_toplevel_handle_v1_destroy(proxy);
}

} // namespace snipjar
