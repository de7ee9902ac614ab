#pragma once

#include "platform/wayland/WaylandSeatControl.h"

#include <QHash>
#include <QList>

#include <atomic>
#include <mutex>
#include <thread>

struct wl_array;
struct wl_display;
struct wl_keyboard;
struct wl_registry;
struct wl_seat;
struct zwlr_foreign_toplevel_handle_v1;
struct zwlr_foreign_toplevel_manager_v1;
struct zwp_virtual_keyboard_manager_v1;
struct zwp_virtual_keyboard_v1;
struct org_kde_kwin_fake_input;

namespace snipjar {

class PlasmaWindowList;

// The seat client behind WaylandSeatControl, in the Wayland module: one connection to the
// compositor and its thread, a virtual keyboard made at the start and kept, and the toplevels.
// On KWin, which has neither wlroots protocol, the keys go through its fake input and the toplevels
// come from its window list (PlasmaWindowList); KWin offers both only to a program whose desktop
// entry asks for them.
//
// The virtual keyboard exists from the start rather than from the first paste because the
// compositor gives the seat a keyboard only once one is there, and programs then need a moment to
// take it up: keys typed on a keyboard made just before would reach no one on a seat that had none.
//
// Its keys are looked up in the seat's keymap as the compositor announces it (the user's layout),
// which is also the keymap given to the virtual keyboard: a compositor may impose the user's layout
// on every keyboard, the virtual one included (sway does with `input type:keyboard`), so keys found
// in a keymap of this program's choosing could mean other letters there.
class SeatConnection final : public WaylandSeatControl {
public:
    // Toplevels beyond this many are not tracked, and longer app ids and titles are cut: a program
    // opening windows without end keeps this bounded.
    static constexpr qsizetype maxToplevels = 4096;
    static constexpr qsizetype maxNameBytes = 1024;

    static std::unique_ptr<SeatConnection> open(LostHandler onLost);
    ~SeatConnection() override;
    SeatConnection(const SeatConnection&) = delete;
    SeatConnection& operator=(const SeatConnection&) = delete;

    bool canType() const override { return keyboard_ != nullptr || fakeInput_ != nullptr; }
    bool knowsToplevels() const override { return toplevels_ != nullptr || plasmaWindows_ != nullptr; }
    std::optional<Toplevel> activeToplevel() override;
    std::optional<Toplevel> toplevel(quint64 id) override;
    bool activate(quint64 id) override;
    bool type(PasteKeystroke keystroke) override;

    // Keymaps larger than this are not read: a real one is some tens of kilobytes.
    static constexpr qsizetype maxKeymapBytes = 4 * 1024 * 1024;

    // Where the paste keys are in a keymap: keycodes in the kernel's numbering, the layout (group)
    // that has V and Insert, and the modifier masks.
    struct Keys {
        uint32_t v = 0;
        uint32_t insert = 0;
        uint32_t controlL = 0;
        uint32_t shiftL = 0;
        uint32_t group = 0;
        uint32_t controlMask = 0;
        uint32_t shiftMask = 0;
    };
    // None when the keymap cannot be read or lacks a modifier key.
    static std::optional<Keys> keysIn(const QByteArray& keymapText);

private:
    struct Handle;

    SeatConnection(wl_display* display, LostHandler onLost);
    bool bind();
    // Gives the virtual keyboard its keymap: the seat's, else the system's default one; false when
    // neither can be had.
    bool setUpKeyboard();
    // Asks KWin for its fake input; the keys are then found in the seat's keymap, which is KWin's.
    void setUpFakeInput();
    // The keystroke on the virtual keyboard, with the modifier state set outright.
    void typeOnVirtualKeyboard(const QList<uint32_t>& modifierKeys, uint32_t key, uint32_t mask,
                               uint32_t group);
    void run();
    void wake();

    static void handleGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface,
                             uint32_t version);
    static void handleGlobalRemove(void* data, wl_registry* registry, uint32_t name);
    static void handleToplevel(void* data, zwlr_foreign_toplevel_manager_v1* manager,
                               zwlr_foreign_toplevel_handle_v1* handle);
    static void handleFinished(void* data, zwlr_foreign_toplevel_manager_v1* manager);
    static void handleTitle(void* data, zwlr_foreign_toplevel_handle_v1* handle, const char* title);
    static void handleAppID(void* data, zwlr_foreign_toplevel_handle_v1* handle, const char* appID);
    static void handleState(void* data, zwlr_foreign_toplevel_handle_v1* handle, wl_array* states);
    static void handleDone(void* data, zwlr_foreign_toplevel_handle_v1* handle);
    static void handleClosed(void* data, zwlr_foreign_toplevel_handle_v1* handle);
    static void handleCapabilities(void* data, wl_seat* seat, uint32_t capabilities);
    static void handleKeymap(void* data, wl_keyboard* keyboard, uint32_t format, int32_t fd, uint32_t size);

    wl_display* display_ = nullptr;
    const LostHandler onLost_;
    int wakeFd_ = -1;

    // Set up before the thread starts.
    wl_registry* registry_ = nullptr;
    uint32_t seatName_ = 0;
    uint32_t keyboardManagerName_ = 0;
    uint32_t toplevelManagerName_ = 0;
    uint32_t toplevelManagerVersion_ = 0;
    uint32_t fakeInputName_ = 0;
    uint32_t fakeInputVersion_ = 0;
    uint32_t plasmaWindowsName_ = 0;
    uint32_t plasmaWindowsVersion_ = 0;
    wl_seat* seat_ = nullptr;
    zwp_virtual_keyboard_manager_v1* keyboardManager_ = nullptr;
    zwp_virtual_keyboard_v1* keyboard_ = nullptr;
    // The seat's keyboard, which tells the keymap in use; made when the seat has a keyboard.
    wl_keyboard* seatKeyboard_ = nullptr;
    // The seat's newest keymap (the thread writes it, under the mutex, once the thread runs).
    QByteArray seatKeymap_;
    zwlr_foreign_toplevel_manager_v1* toplevels_ = nullptr;
    org_kde_kwin_fake_input* fakeInput_ = nullptr;
    std::unique_ptr<PlasmaWindowList> plasmaWindows_;

    // Guards the handles; never held while waiting. Requests are made under it too, so that a
    // handle is not destroyed on the thread while another thread activates it.
    std::mutex mutex_;
    QHash<zwlr_foreign_toplevel_handle_v1*, Handle*> handles_;
    std::optional<Keys> keys_;
    quint64 nextID_ = 1;
    // Serialises keystrokes from different threads, so that their keys do not interleave.
    std::mutex typingMutex_;

    // The thread only.
    bool toplevelsFinished_ = false;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

} // namespace snipjar
