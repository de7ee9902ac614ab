#pragma once

#include "platform/PasteboardMimeMapping.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QList>

#include <chrono>
#include <functional>
#include <memory>

namespace snipjar {

// One Wayland selection (the clipboard or the primary selection) watched and owned through the
// compositor's data-control protocol: ext-data-control-v1 where offered, else
// wlr-data-control-unstable-v1 (version 2 or later for the primary selection).
//
// It has a wl_display connection and a thread of its own, never Qt's: the thread dispatches the
// compositor's events (each new selection, and the requests for what this program put on the
// selection, which it writes without blocking) and reports every selection change through the
// callback, on that thread. Other threads ask the current offer for a type (receive) and put
// content on the selection (own).
//
// The client (module/DataControlConnection) lives in a private module with the Wayland client
// library, loaded on first use, so that a start on X11 loads neither.
class WaylandDataControl {
public:
    enum class Selection { clipboard, primary };
    using ServedTarget = PasteboardMimeMapping::ServedTarget;

    struct Change {
        // Increases with every selection the compositor announces.
        quint64 serial = 0;
        // No program holds the selection any longer.
        bool isEmpty = false;
        // The selection is what this connection put there.
        bool isOwn = false;
    };
    // Called on the connection's thread.
    using ChangeHandler = std::function<void(const Change&)>;
    using LostHandler = std::function<void()>;

    // The current selection: its serial and the types it offers (this program's own token left
    // out); no types when the selection is empty.
    struct Offered {
        quint64 serial = 0;
        QByteArrayList types;
    };

    // True when WAYLAND_DISPLAY names a compositor that can be reached and offers a data-control
    // manager (of a version with the primary selection when `selection` is primary).
    static bool isOffered(Selection selection = Selection::clipboard);
    // None when the compositor cannot be reached or offers no data-control manager fit for the
    // selection. onLost is called, on the connection's thread, when the connection breaks.
    static std::unique_ptr<WaylandDataControl> open(Selection selection, ChangeHandler onChange,
                                                    LostHandler onLost);
    virtual ~WaylandDataControl() = default;

    virtual Offered current() = 0;
    virtual quint64 currentSerial() = 0;
    // Asks the selection announced with `serial` for one type: the read end of a pipe the owner
    // writes into (the caller closes it), or -1 when the selection has changed since or the
    // request could not be made.
    virtual int receive(quint64 serial, const QByteArray& type) = 0;
    // Puts the targets on the selection. The change this makes is reported with isOwn set.
    virtual void own(const QList<ServedTarget>& targets) = 0;
    // Returns once every event the compositor sent before the call has been handled, so that a
    // selection change made before then is known; false when the compositor did not answer within
    // `limit`. Once the connection is gone it returns true at once: the compositor that went can
    // announce no selection any more, so what was read to its end stays whole (the clip copied
    // just before the compositor died is kept).
    virtual bool catchUp(std::chrono::milliseconds limit) = 0;
};

} // namespace snipjar
