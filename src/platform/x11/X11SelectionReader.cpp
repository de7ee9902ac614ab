#include "platform/x11/X11SelectionReader.h"
#include "platform/x11/XcbMemory.h"

#include "platform/LogCategories.h"

#include <xcb/xfixes.h>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdlib>
#include <limits>

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

X11SelectionReader::Result withStatus(X11SelectionReader::Result::Status status) {
    return {status, {}, {}, 8};
}

} // namespace

std::unique_ptr<X11SelectionReader> X11SelectionReader::create(const QByteArray& selection) {
    std::unique_ptr<XcbConnection> connection = XcbConnection::open();
    if (!connection) {
        return nullptr;
    }
    xcb_connection_t* c = connection->get();
    const xcb_query_extension_reply_t* xfixes = xcb_get_extension_data(c, &xcb_xfixes_id);
    if (!xfixes || !xfixes->present) {
        return nullptr;
    }
    std::free(xcb_xfixes_query_version_reply(c, xcb_xfixes_query_version(c, 5, 0), nullptr));
    const int wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd < 0) {
        return nullptr;
    }
    return std::unique_ptr<X11SelectionReader>(
        new X11SelectionReader(std::move(connection), xfixes->first_event, wakeFd, selection));
}

X11SelectionReader::X11SelectionReader(std::unique_ptr<XcbConnection> connection, uint8_t xfixesFirstEvent,
                                       int wakeFd, const QByteArray& selection)
    : connection_(std::move(connection))
    , xfixesFirstEvent_(xfixesFirstEvent)
    , wakeFd_(wakeFd) {
    const QList<xcb_atom_t> atoms = connection_->atoms({selection, "SNIPJAR_SELECTION", "INCR"});
    selection_ = atoms[0];
    property_ = atoms[1];
    incr_ = atoms[2];

    xcb_connection_t* c = connection_->get();
    watchWindow_ = xcb_generate_id(c);
    const uint32_t values[] = {1};
    xcb_create_window(c, XCB_COPY_FROM_PARENT, watchWindow_, connection_->root(), -1, -1, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_OVERRIDE_REDIRECT, values);
    xcb_xfixes_select_selection_input(c, watchWindow_, selection_,
                                      XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER |
                                          XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_WINDOW_DESTROY |
                                          XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_CLIENT_CLOSE);
    connection_->sync();
}

X11SelectionReader::~X11SelectionReader() {
    abandonWindow();
    ::close(wakeFd_);
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

bool X11SelectionReader::noteOwnerChange(const xcb_generic_event_t* event) {
    if ((event->response_type & 0x7f) != xfixesFirstEvent_ + XCB_XFIXES_SELECTION_NOTIFY) {
        return false;
    }
    const auto* notify = reinterpret_cast<const xcb_xfixes_selection_notify_event_t*>(event);
    if (notify->selection != selection_) {
        return false;
    }
    if (notify->subtype == XCB_XFIXES_SELECTION_EVENT_SET_SELECTION_OWNER) {
        latestChange_ = {notify->owner, notify->selection_timestamp};
    } else {
        latestChange_ = {};
    }
    // Changes the server made after it told who the owner was overtake the session; the earlier
    // ones only tell how that owner came to be.
    if (inSession_ && event->full_sequence >= pinSequence_) {
        sessionOvertaken_ = true;
    }
    return true;
}

void X11SelectionReader::drainEvents() {
    while (XcbReply<xcb_generic_event_t> event{xcb_poll_for_event(connection_->get())}) {
        noteOwnerChange(event.get());
    }
}

xcb_window_t X11SelectionReader::currentOwner(unsigned int* sequence) {
    xcb_connection_t* c = connection_->get();
    const xcb_get_selection_owner_cookie_t cookie = xcb_get_selection_owner(c, selection_);
    if (sequence) {
        *sequence = cookie.sequence;
    }
    XcbReply<xcb_get_selection_owner_reply_t> reply(xcb_get_selection_owner_reply(c, cookie, nullptr));
    return reply ? reply->owner : xcb_window_t(XCB_WINDOW_NONE);
}

X11SelectionReader::Owner X11SelectionReader::beginSession() {
    drainEvents();
    inSession_ = false;
    const xcb_window_t owner = currentOwner(&pinSequence_);
    inSession_ = true;
    sessionOvertaken_ = false;
    // Every owner change reported before the answer is in the queue now.
    drainEvents();
    sessionOwner_ = {owner, latestChange_.window == owner ? latestChange_.acquiredAt
                                                          : xcb_timestamp_t(XCB_CURRENT_TIME)};
    return sessionOwner_;
}

bool X11SelectionReader::endSession() {
    // The round trip brings in every owner change made before it.
    const xcb_window_t owner = currentOwner();
    drainEvents();
    const bool current = !sessionOvertaken_ && owner == sessionOwner_.window;
    inSession_ = false;
    sessionOvertaken_ = false;
    return current;
}

void X11SelectionReader::interrupt() {
    interrupted_ = true;
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(wakeFd_, &one, sizeof one);
}

void X11SelectionReader::resume() {
    interrupted_ = false;
    uint64_t ignored = 0;
    [[maybe_unused]] const ssize_t read = ::read(wakeFd_, &ignored, sizeof ignored);
}

X11SelectionReader::Wait
X11SelectionReader::waitForEvent(const std::function<bool(xcb_generic_event_t*)>& wanted,
                                 Clock::time_point deadline, xcb_generic_event_t*& event) {
    xcb_connection_t* c = connection_->get();
    for (;;) {
        while (xcb_generic_event_t* next = xcb_poll_for_event(c)) {
            if (noteOwnerChange(next)) {
                std::free(next);
                if (sessionOvertaken_) {
                    return Wait::overtaken;
                }
                continue;
            }
            if (wanted(next)) {
                event = next;
                return Wait::event;
            }
            std::free(next);
        }
        if (xcb_connection_has_error(c)) {
            return Wait::broken;
        }
        if (interrupted_) {
            return Wait::interrupted;
        }
        const auto remaining = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (remaining <= 0) {
            return Wait::deadline;
        }
        pollfd descriptors[2] = {{connection_->fileDescriptor(), POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        ::poll(descriptors, 2, int(remaining));
    }
}

X11SelectionReader::Result X11SelectionReader::abandon(Wait wait) {
    abandonWindow();
    switch (wait) {
    case Wait::deadline:
        return withStatus(Result::Status::timedOut);
    case Wait::overtaken:
        return withStatus(Result::Status::overtaken);
    case Wait::interrupted:
        return withStatus(Result::Status::interrupted);
    case Wait::event:
    case Wait::broken:
        break;
    }
    return withStatus(Result::Status::failed);
}

X11SelectionReader::Result X11SelectionReader::convert(const QByteArray& target, qint64 byteCap) {
    xcb_connection_t* c = connection_->get();
    if (!connection_->isHealthy()) {
        return {};
    }
    if (interrupted_) {
        return withStatus(Result::Status::interrupted);
    }
    if (inSession_ && sessionOvertaken_) {
        return withStatus(Result::Status::overtaken);
    }
    const xcb_atom_t targetAtom = connection_->atom(target);
    const Clock::time_point start = Clock::now();
    const Clock::time_point totalDeadline = start + timeouts_.total;

    // Asked at the time the pinned owner took the clipboard, so that a newer owner refuses. An
    // owner that keeps a later time of its own refuses too; it is asked once more at the current
    // time, which the watched owner changes keep safe.
    xcb_timestamp_t time = inSession_ ? sessionOwner_.acquiredAt : xcb_timestamp_t(XCB_CURRENT_TIME);
    XcbReply<xcb_generic_event_t> answer;
    for (;;) {
        const xcb_window_t requestor = window();
        xcb_delete_property(c, requestor, property_);
        xcb_convert_selection(c, requestor, selection_, targetAtom, property_, time);
        connection_->flush();
        const auto isAnswer = [&](xcb_generic_event_t* event) {
            if ((event->response_type & 0x7f) != XCB_SELECTION_NOTIFY) {
                return false;
            }
            const auto* notify = reinterpret_cast<xcb_selection_notify_event_t*>(event);
            return notify->requestor == requestor && notify->selection == selection_ &&
                   notify->target == targetAtom;
        };
        xcb_generic_event_t* event = nullptr;
        const Wait wait = waitForEvent(isAnswer, std::min(start + timeouts_.answer, totalDeadline), event);
        if (wait != Wait::event) {
            if (wait == Wait::deadline) {
                qCDebug(lcPlatform) << "Clipboard owner did not answer for" << target;
            }
            return abandon(wait);
        }
        answer.reset(event);
        const bool refused =
            reinterpret_cast<xcb_selection_notify_event_t*>(event)->property == XCB_ATOM_NONE;
        if (!refused) {
            break;
        }
        if (time == XCB_CURRENT_TIME) {
            return withStatus(Result::Status::refused);
        }
        time = XCB_CURRENT_TIME;
    }
    const xcb_window_t requestor = window_;

    // A first look with no length gives the type and the full size without moving any bytes.
    XcbReply<xcb_get_property_reply_t> header = getProperty(c, false, requestor, property_, 0);
    if (!header || header->type == XCB_ATOM_NONE) {
        return withStatus(Result::Status::refused);
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
        return withStatus(Result::Status::tooLarge);
    }
    XcbReply<xcb_get_property_reply_t> reply =
        getProperty(c, true, requestor, property_, (header->bytes_after + 3) / 4);
    if (!reply) {
        return {};
    }
    return {Result::Status::ok, propertyBytes(reply.get()), connection_->atomName(reply->type),
            reply->format ? reply->format : 8};
}

X11SelectionReader::Result X11SelectionReader::readIncremental(qint64 sizeHint, qint64 byteCap,
                                                               Clock::time_point totalDeadline) {
    xcb_connection_t* c = connection_->get();
    const xcb_window_t requestor = window_;
    // The INCR property was deleted while its size was read, which asks the owner for the first chunk.
    connection_->flush();
    // Past the cap the transfer still runs on, with every chunk deleted unread: an owner left
    // waiting in the middle of INCR (or answered with an error) may stop serving anyone, and some
    // simple owners exit on the error. That courtesy ends after a bounded stretch past the cap,
    // though: an owner offering gigabytes is abandoned rather than followed to the end.
    const qint64 discardBound = byteCap > std::numeric_limits<qint64>::max() - discardAllowance
                                    ? byteCap
                                    : byteCap + discardAllowance;
    if (sizeHint > discardBound) {
        abandonWindow();
        return withStatus(Result::Status::tooLarge);
    }
    bool discarding = sizeHint > byteCap;
    qint64 seen = 0;
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
        xcb_generic_event_t* next = nullptr;
        const Wait wait =
            waitForEvent(isNewChunk, std::min(Clock::now() + timeouts_.idle, totalDeadline), next);
        if (wait != Wait::event) {
            if (wait == Wait::deadline) {
                qCDebug(lcPlatform) << "Clipboard owner stalled during an incremental transfer";
            }
            return abandon(wait);
        }
        std::free(next);
        if (discarding) {
            // Only the length is looked at; the bytes stay in the server and go with the delete.
            XcbReply<xcb_get_property_reply_t> header = getProperty(c, false, requestor, property_, 0);
            if (!header) {
                abandonWindow();
                return {};
            }
            if (header->bytes_after == 0) {
                return withStatus(Result::Status::tooLarge);
            }
            seen += header->bytes_after;
            if (seen > discardBound) {
                abandonWindow();
                return withStatus(Result::Status::tooLarge);
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
        seen += length;
        if (result.bytes.size() + length > byteCap) {
            discarding = true;
            result.bytes = QByteArray();
            continue;
        }
        result.bytes.append(static_cast<const char*>(xcb_get_property_value(chunk.get())), length);
    }
}

} // namespace snipjar
