#pragma once

#include "platform/x11/XcbConnection.h"

#include <QByteArray>

#include <chrono>
#include <functional>
#include <memory>

namespace snipjar {

// Converts the CLIPBOARD selection to one target at a time on a connection of its own, with the
// INCR protocol for large transfers. Every wait is bounded, so an owner that stops answering costs
// at most the idle timeout. Not thread-safe: one conversion at a time (X11Pasteboard serialises).
class X11SelectionReader {
public:
    struct Timeouts {
        // Longest wait for the owner's next step (its answer, or the next INCR chunk).
        std::chrono::milliseconds idle{1000};
        // Longest time one conversion may take in all.
        std::chrono::milliseconds total{30000};
    };

    struct Result {
        enum class Status { ok, refused, tooLarge, timedOut, failed };
        Status status = Status::failed;
        QByteArray bytes;
        QByteArray type;
        int format = 8;
    };

    // None when no display can be opened.
    static std::unique_ptr<X11SelectionReader> create();
    ~X11SelectionReader();

    XcbConnection& connection() { return *connection_; }
    void setTimeouts(const Timeouts& timeouts) { timeouts_ = timeouts; }

    // Asks the owner of CLIPBOARD for a target. Bytes longer than byteCap are not kept (tooLarge);
    // an INCR transfer is abandoned as soon as it passes the cap.
    Result convert(const QByteArray& target, qint64 byteCap);

private:
    using Clock = std::chrono::steady_clock;

    explicit X11SelectionReader(std::unique_ptr<XcbConnection> connection);
    xcb_window_t window();
    // Gives up the requestor window, so that late answers to an abandoned conversion (a stale
    // SelectionNotify, further INCR chunks) address a window that no longer exists.
    void abandonWindow();
    // The next event that satisfies the predicate, or null at the deadline. Other events are
    // dropped: this connection exists only for conversions.
    xcb_generic_event_t* waitForEvent(const std::function<bool(xcb_generic_event_t*)>& wanted,
                                      Clock::time_point deadline);
    Result readIncremental(qint64 sizeHint, qint64 byteCap, Clock::time_point totalDeadline);

    std::unique_ptr<XcbConnection> connection_;
    Timeouts timeouts_;
    xcb_window_t window_ = XCB_WINDOW_NONE;
    xcb_atom_t clipboard_ = XCB_ATOM_NONE;
    xcb_atom_t property_ = XCB_ATOM_NONE;
    xcb_atom_t incr_ = XCB_ATOM_NONE;
};

} // namespace snipjar
