#pragma once

#include "platform/KeySynthesizer.h"

#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace snipjar {

// What a compositor lets a program do with the seat beyond the clipboard: type on a virtual
// keyboard of its own (virtual-keyboard-unstable-v1 on wlroots, KWin's fake input), and know the
// open toplevels, which one is active, and activate one (wlr-foreign-toplevel-management-unstable-v1,
// KWin's plasma window management). Either may be missing: a compositor offers what it wants to,
// and KWin only to programs whose desktop entry asks.
//
// It has a wl_display connection and a thread of its own, never Qt's: the thread keeps the
// toplevels up to date from the compositor's events, so that asking for the active one answers at
// once from what it learnt. Requests (a keystroke, an activation) are sent from the calling thread
// without waiting for the compositor.
//
// The client (module/SeatConnection) lives in the private Wayland module, loaded on first use.
class WaylandSeatControl {
public:
    struct Toplevel {
        // This connection's own number for the toplevel, never reused while it runs.
        quint64 id = 0;
        QString appID;
        QString title;
    };
    using LostHandler = std::function<void()>;

    // None when no compositor can be reached, or it offers neither protocol.
    static std::unique_ptr<WaylandSeatControl> open(LostHandler onLost = {});
    virtual ~WaylandSeatControl() = default;

    virtual bool canType() const = 0;
    virtual bool knowsToplevels() const = 0;
    // The activated toplevel, if the compositor says one is.
    virtual std::optional<Toplevel> activeToplevel() = 0;
    virtual std::optional<Toplevel> toplevel(quint64 id) = 0;
    // Asks the compositor to activate the toplevel; false when it is gone.
    virtual bool activate(quint64 id) = 0;
    // Types the keystroke on the virtual keyboard or through fake input: its modifiers down, the key
    // pressed and released, the modifiers up. False when it cannot be typed.
    virtual bool type(PasteKeystroke keystroke) = 0;
};

} // namespace snipjar
