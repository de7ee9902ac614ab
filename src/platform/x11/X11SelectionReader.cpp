#include "platform/x11/X11SelectionReader.h"
#include "platform/x11/XcbMemory.h"

#include "platform/LogCategories.h"

#include <poll.h>

#include <cstdlib>

namespace snipjar {

namespace {

constexpr uint32_t wholeProperty = UINT32_MAX / 4;

XcbReply<xcb_get_property_reply_t> getProperty(xcb_connection_t* connection, bool deleteAfter,
                                               xcb_window_t window, xcb_atom_t property,
                                               uint32_t longLength) {
    xcb_generic_error_t* error = nullptr;
    XcbReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        connection,
        xcb_get_property(connection, deleteAfter, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, longLength),
        &error));
    std::free(error);
    return reply;
}

QByteArray propertyBytes(const xcb_get_property_reply_t* reply) {
    const int length = xcb_get_property_value_length(reply);
    return QByteArray(static_cast<const char*>(xcb_get_property_value(reply)), length);
}

} // namespace

std::unique_ptr<X11SelectionReader> X11SelectionReader::create() {
    std::unique_ptr<XcbConnection> connection = XcbConnection::open();
    if (!connection) {
        return nullptr;
    }
    return std::unique_ptr<X11SelectionReader>(new X11SelectionReader(std::move(connection)));
}

X11SelectionReader::X11SelectionReader(std::unique_ptr<XcbConnection> connection)
    : connection_(std::move(connection)) {
    const QList<xcb_atom_t> atoms = connection_->atoms({"CLIPBOARD", "SNIPJAR_SELECTION", "INCR"});
    clipboard_ = atoms[0];
    property_ = atoms[1];
    incr_ = atoms[2];
}

X11SelectionReader::~X11SelectionReader() {
    abandonWindow();
}

xcb_window_t X11SelectionReader::window() {
    if (window_ == XCB_WINDOW_NONE) {
        xcb_connection_t* c = connection_->get();
        window_ = xcb_generate_id(c);
        const uint32_t values[] = {1, XCB_EVENT_MASK_PROPERTY_CHANGE};
        xcb_create_window(c, XCB_COPY_FROM_PARENT, window_, connection_->root(), -1, -1, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT,
                          XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, values);
    }
    return window_;
}

void X11SelectionReader::abandonWindow() {
    if (window_ != XCB_WINDOW_NONE) {
        xcb_destroy_window(connection_->get(), window_);
        connection_->flush();
        window_ = XCB_WINDOW_NONE;
    }
}

xcb_generic_event_t* X11SelectionReader::waitForEvent(const std::function<bool(xcb_generic_event_t*)>& wanted,
                                                      Clock::time_point deadline) {
    xcb_connection_t* c = connection_->get();
    for (;;) {
        while (xcb_generic_event_t* event = xcb_poll_for_event(c)) {
            if (wanted(event)) {
                return event;
            }
            std::free(event);
        }
        if (xcb_connection_has_error(c)) {
            return nullptr;
        }
        const auto remaining = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (remaining <= 0) {
            return nullptr;
        }
        pollfd descriptor{connection_->fileDescriptor(), POLLIN, 0};
        ::poll(&descriptor, 1, int(remaining));
    }
}

X11SelectionReader::Result X11SelectionReader::convert(const QByteArray& target, qint64 byteCap) {
    xcb_connection_t* c = connection_->get();
    if (!connection_->isHealthy()) {
        return {};
    }
    const xcb_atom_t targetAtom = connection_->atom(target);
    const xcb_window_t requestor = window();
    const Clock::time_point start = Clock::now();
    const Clock::time_point totalDeadline = start + timeouts_.total;

    xcb_delete_property(c, requestor, property_);
    xcb_convert_selection(c, requestor, clipboard_, targetAtom, property_, XCB_CURRENT_TIME);
    connection_->flush();

    const auto isAnswer = [&](xcb_generic_event_t* event) {
        if ((event->response_type & 0x7f) != XCB_SELECTION_NOTIFY) {
            return false;
        }
        const auto* notify = reinterpret_cast<xcb_selection_notify_event_t*>(event);
        return notify->requestor == requestor && notify->selection == clipboard_ &&
               notify->target == targetAtom;
    };
    XcbReply<xcb_generic_event_t> answer(
        waitForEvent(isAnswer, std::min(start + timeouts_.idle, totalDeadline)));
    if (!answer) {
        qCDebug(lcPlatform) << "Clipboard owner did not answer for" << target;
        abandonWindow();
        return {Result::Status::timedOut, {}, {}, 8};
    }
    if (reinterpret_cast<xcb_selection_notify_event_t*>(answer.get())->property == XCB_ATOM_NONE) {
        return {Result::Status::refused, {}, {}, 8};
    }

    // A first look with no length gives the type and the full size without moving any bytes.
    XcbReply<xcb_get_property_reply_t> header = getProperty(c, false, requestor, property_, 0);
    if (!header || header->type == XCB_ATOM_NONE) {
        return {Result::Status::refused, {}, {}, 8};
    }
    if (header->type == incr_) {
        XcbReply<xcb_get_property_reply_t> incr = getProperty(c, true, requestor, property_, 1);
        qint64 sizeHint = 0;
        if (incr && xcb_get_property_value_length(incr.get()) >= 4) {
            sizeHint = *static_cast<const uint32_t*>(xcb_get_property_value(incr.get()));
        }
        return readIncremental(sizeHint, byteCap, totalDeadline);
    }
    if (qint64(header->bytes_after) > byteCap) {
        xcb_delete_property(c, requestor, property_);
        connection_->flush();
        return {Result::Status::tooLarge, {}, {}, 8};
    }
    XcbReply<xcb_get_property_reply_t> reply =
        getProperty(c, true, requestor, property_, (header->bytes_after + 3) / 4);
    if (!reply) {
        return {};
    }
    Result result{Result::Status::ok, propertyBytes(reply.get()), connection_->atomName(reply->type),
                  reply->format ? reply->format : 8};
    return result;
}

X11SelectionReader::Result X11SelectionReader::readIncremental(qint64 sizeHint, qint64 byteCap,
                                                               Clock::time_point totalDeadline) {
    xcb_connection_t* c = connection_->get();
    const xcb_window_t requestor = window_;
    // The INCR property was deleted while its size was read, which asks the owner for the first chunk.
    connection_->flush();
    // Past the cap the transfer still runs to its end, with every chunk deleted unread: an owner
    // left waiting in the middle of INCR (or answered with an error) may stop serving anyone, and
    // some simple owners exit on the error.
    bool discarding = sizeHint > byteCap;
    Result result{Result::Status::ok, {}, {}, 8};
    if (sizeHint > 0 && !discarding) {
        result.bytes.reserve(sizeHint);
    }
    const auto isNewChunk = [&](xcb_generic_event_t* event) {
        if ((event->response_type & 0x7f) != XCB_PROPERTY_NOTIFY) {
            return false;
        }
        const auto* notify = reinterpret_cast<xcb_property_notify_event_t*>(event);
        return notify->window == requestor && notify->atom == property_ &&
               notify->state == XCB_PROPERTY_NEW_VALUE;
    };
    for (;;) {
        XcbReply<xcb_generic_event_t> event(
            waitForEvent(isNewChunk, std::min(Clock::now() + timeouts_.idle, totalDeadline)));
        if (!event) {
            qCDebug(lcPlatform) << "Clipboard owner stalled during an incremental transfer";
            abandonWindow();
            return {Result::Status::timedOut, {}, {}, 8};
        }
        if (discarding) {
            // Only the length is looked at; the bytes stay in the server and go with the delete.
            XcbReply<xcb_get_property_reply_t> header = getProperty(c, false, requestor, property_, 0);
            if (!header) {
                abandonWindow();
                return {};
            }
            if (header->bytes_after == 0) {
                return {Result::Status::tooLarge, {}, {}, 8};
            }
            xcb_delete_property(c, requestor, property_);
            connection_->flush();
            continue;
        }
        XcbReply<xcb_get_property_reply_t> chunk = getProperty(c, true, requestor, property_, wholeProperty);
        connection_->flush();
        if (!chunk) {
            abandonWindow();
            return {};
        }
        const int length = xcb_get_property_value_length(chunk.get());
        if (result.type.isEmpty() && chunk->type != XCB_ATOM_NONE) {
            result.type = connection_->atomName(chunk->type);
            result.format = chunk->format ? chunk->format : 8;
        }
        if (length == 0) {
            return result;
        }
        if (result.bytes.size() + length > byteCap) {
            discarding = true;
            result.bytes = QByteArray();
            continue;
        }
        result.bytes.append(static_cast<const char*>(xcb_get_property_value(chunk.get())), length);
    }
}

} // namespace snipjar
