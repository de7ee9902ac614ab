#pragma once

#include "platform/x11/XcbConnection.h"

#include <QByteArray>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>

namespace snipjar {

// Converts one selection (CLIPBOARD unless told otherwise) to one target at a time on a connection of its
// own, with the INCR protocol for large transfers. Every wait is bounded, so an owner that stops answering
// costs at most the answer timeout. Not thread-safe: one conversion at a time (X11Pasteboard serialises);
// only interrupt() and resume() may be called from any thread.
//
// Conversions are tied to one owner: a session pins the owner that holds CLIPBOARD when it begins,
// together with the time it took the clipboard, and converts at that time, so that a newer owner
// refuses to answer for the old one. The connection watches owner changes itself (XFixes); since
// the server reports them in order with the answers, a change before an answer is always seen
// first, and the session is then overtaken: its pending and later conversions end at once.
class X11SelectionReader {
public:
    // How far past a byte cap an incremental transfer is still followed (its chunks deleted
    // unread) so that its owner finishes; a transfer that goes, or announces it goes, further is
    // abandoned.
    static constexpr qint64 discardAllowance = 64 * 1024 * 1024;

    struct Timeouts {
        // Longest wait for the owner's answer to a request. Some programs render what they offer
        // (a large image) only when asked, so this is generous; reads are off the main thread.
        std::chrono::milliseconds answer{5000};
        // Longest wait for the next chunk of an incremental (INCR) transfer once it has started.
        std::chrono::milliseconds idle{1000};
        // Longest time one conversion may take in all.
        std::chrono::milliseconds total{30000};
    };

    struct Result {
        enum class Status { ok, refused, tooLarge, timedOut, overtaken, interrupted, failed };
        Status status = Status::failed;
        QByteArray bytes;
        QByteArray type;
        int format = 8;
    };

    // Who held the clipboard when a session began.
    struct Owner {
        xcb_window_t window = XCB_WINDOW_NONE;
        // When that owner took the clipboard; XCB_CURRENT_TIME when it took it before this
        // connection was watching.
        xcb_timestamp_t acquiredAt = XCB_CURRENT_TIME;

        bool operator==(const Owner&) const = default;
    };

    // None when no display can be opened or the server lacks XFixes.
    static std::unique_ptr<X11SelectionReader> create(const QByteArray& selection = "CLIPBOARD");
    ~X11SelectionReader();

    XcbConnection& connection() { return *connection_; }
    void setTimeouts(const Timeouts& timeouts) { timeouts_ = timeouts; }

    // Pins the current owner; the conversions until endSession() are asked of it alone.
    Owner beginSession();
    // True when the pinned owner still holds the clipboard and no owner change came in between.
    bool endSession();
    bool isInSession() const { return inSession_; }

    // Asks the owner of CLIPBOARD for a target. Bytes longer than byteCap are not kept (tooLarge);
    // an INCR transfer is abandoned as soon as it passes the cap.
    Result convert(const QByteArray& target, qint64 byteCap);

    // Ends the conversion in progress at once, and every later one, until resume(). Any thread.
    void interrupt();
    void resume();

private:
    using Clock = std::chrono::steady_clock;
    enum class Wait { event, deadline, overtaken, interrupted, broken };

    X11SelectionReader(std::unique_ptr<XcbConnection> connection, uint8_t xfixesFirstEvent, int wakeFd,
                       const QByteArray& selection);
    xcb_window_t window();
    // Gives up the requestor window, so that late answers to an abandoned conversion (a stale
    // SelectionNotify, further INCR chunks) address a window that no longer exists.
    void abandonWindow();
    // Takes note of an owner change; true when the event was one.
    bool noteOwnerChange(const xcb_generic_event_t* event);
    void drainEvents();
    // The owner now (one round trip); `sequence` receives the request's sequence number.
    xcb_window_t currentOwner(unsigned int* sequence = nullptr);
    // Waits for the next event that satisfies the predicate (handed over in `event`). Owner changes
    // are noted; other events are dropped: this connection exists only for conversions.
    Wait waitForEvent(const std::function<bool(xcb_generic_event_t*)>& wanted, Clock::time_point deadline,
                      xcb_generic_event_t*& event);
    Result abandon(Wait wait);
    Result readIncremental(qint64 sizeHint, qint64 byteCap, Clock::time_point totalDeadline);

    std::unique_ptr<XcbConnection> connection_;
    uint8_t xfixesFirstEvent_;
    int wakeFd_;
    Timeouts timeouts_;
    xcb_window_t window_ = XCB_WINDOW_NONE;
    // Receives the owner-change events; lives as long as the connection.
    xcb_window_t watchWindow_ = XCB_WINDOW_NONE;
    xcb_atom_t selection_ = XCB_ATOM_NONE;
    xcb_atom_t property_ = XCB_ATOM_NONE;
    xcb_atom_t incr_ = XCB_ATOM_NONE;

    // The newest owner change this connection has seen.
    Owner latestChange_;
    bool inSession_ = false;
    Owner sessionOwner_;
    bool sessionOvertaken_ = false;
    // The sequence number of the request that found the pinned owner.
    unsigned int pinSequence_ = 0;

    std::atomic<bool> interrupted_{false};
};

} // namespace snipjar
