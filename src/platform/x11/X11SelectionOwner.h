#pragma once

#include "platform/PasteboardMimeMapping.h"
#include "platform/x11/XcbConnection.h"

#include <QHash>
#include <QList>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace snipjar {

// Watches the owner of one selection (CLIPBOARD unless told otherwise; PRIMARY is the other) through
// XFixes and owns it on the application's behalf. A thread of its
// own services a connection of its own: it reports owner changes made by other clients, and it
// answers other clients' requests for what the application wrote (TARGETS, TIMESTAMP, MULTIPLE and
// every written target, large ones with INCR), so the main thread never waits for another client.
class X11SelectionOwner {
public:
    using ServedTarget = PasteboardMimeMapping::ServedTarget;

    // onForeignChange runs on the owner's thread each time another client takes the selection or
    // its owner goes away; ownerGone tells the second case (the selection has no owner now). None
    // when no display can be opened or the server lacks XFixes.
    using ForeignChange = std::function<void(bool ownerGone)>;
    static std::unique_ptr<X11SelectionOwner> create(ForeignChange onForeignChange,
                                                     const QByteArray& selection = "CLIPBOARD");
    ~X11SelectionOwner();

    // Takes the selection with these targets. Any thread; returns once the server has made this the
    // owner, without waiting for any other client.
    void own(const QList<ServedTarget>& targets);

private:
    struct Content {
        QList<ServedTarget> targets;
        QList<xcb_atom_t> atoms;
        QList<xcb_atom_t> typeAtoms;
    };
    struct Transfer {
        xcb_window_t requestor;
        xcb_atom_t property;
        xcb_atom_t type;
        QByteArray data;
        qsizetype offset = 0;
        std::chrono::steady_clock::time_point lastActivity;
    };
    using Clock = std::chrono::steady_clock;

    X11SelectionOwner(std::unique_ptr<XcbConnection> connection, uint8_t xfixesFirstEvent, int wakeFd,
                      ForeignChange onForeignChange, const QByteArray& selection);
    void run();
    void wake();
    void handleEvent(xcb_generic_event_t* event);
    void handleSelectionRequest(const xcb_selection_request_event_t& request);
    void handleSelectionClear();
    void handlePropertyDelete(const xcb_property_notify_event_t& notify);
    // Puts one target (TARGETS, TIMESTAMP or a written one) on the requestor's property, INCR when
    // large; false to refuse.
    bool answer(const std::shared_ptr<const Content>& content, xcb_window_t requestor, xcb_atom_t target,
                xcb_atom_t property);
    // Answers each (target, property) pair listed on the requestor's property.
    bool answerMultiple(const std::shared_ptr<const Content>& content, xcb_window_t requestor,
                        xcb_atom_t property);
    void dropStaleTransfers();

    std::unique_ptr<XcbConnection> connection_;
    uint8_t xfixesFirstEvent_;
    int wakeFd_;
    ForeignChange onForeignChange_;
    xcb_window_t window_ = XCB_WINDOW_NONE;
    qsizetype chunkSize_ = 0;

    struct {
        xcb_atom_t selection, targets, timestamp, multiple, incr, atomPair, integer, atom;
    } atoms_{};

    // Shared between the thread that calls own() and the owner's thread.
    mutable std::mutex mutex_;
    std::shared_ptr<const Content> content_;
    quint64 generation_ = 0;

    // The owner's thread only.
    xcb_timestamp_t acquiredAt_ = XCB_CURRENT_TIME;
    QList<Transfer> transfers_;

    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

} // namespace snipjar
