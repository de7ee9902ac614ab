#include "platform/x11/X11SelectionOwner.h"

#include "platform/LogCategories.h"

#include <xcb/xfixes.h>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

namespace snipjar {

namespace {

// A requestor that stops taking INCR chunks for this long is given up.
constexpr std::chrono::seconds transferIdleLimit{5};

} // namespace

std::unique_ptr<X11SelectionOwner> X11SelectionOwner::create(ForeignChange onForeignChange,
                                                             const QByteArray& selection) {
    std::unique_ptr<XcbConnection> connection = XcbConnection::open();
    if (!connection) {
        return nullptr;
    }
    xcb_connection_t* c = connection->get();
    const xcb_query_extension_reply_t* xfixes = xcb_get_extension_data(c, &xcb_xfixes_id);
    if (!xfixes || !xfixes->present) {
        qCWarning(lcPlatform) << "The X server lacks XFixes; clipboard changes cannot be watched";
        return nullptr;
    }
    std::free(xcb_xfixes_query_version_reply(c, xcb_xfixes_query_version(c, 5, 0), nullptr));
    const int wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd < 0) {
        return nullptr;
    }
    return std::unique_ptr<X11SelectionOwner>(new X11SelectionOwner(
        std::move(connection), xfixes->first_event, wakeFd, std::move(onForeignChange), selection));
}

X11SelectionOwner::X11SelectionOwner(std::unique_ptr<XcbConnection> connection, uint8_t xfixesFirstEvent,
                                     int wakeFd, ForeignChange onForeignChange, const QByteArray& selection)
    : connection_(std::move(connection))
    , xfixesFirstEvent_(xfixesFirstEvent)
    , wakeFd_(wakeFd)
    , onForeignChange_(std::move(onForeignChange)) {
    xcb_connection_t* c = connection_->get();
    const QList<xcb_atom_t> atoms = connection_->atoms(
        {selection, "TARGETS", "TIMESTAMP", "MULTIPLE", "INCR", "ATOM_PAIR", "INTEGER", "ATOM"});
    atoms_ = {atoms[0], atoms[1], atoms[2], atoms[3], atoms[4], atoms[5], atoms[6], atoms[7]};

    // Properties of up to one request of the core protocol go in one piece; larger ones by INCR.
    chunkSize_ =
        std::min<qsizetype>(qsizetype(xcb_get_setup(c)->maximum_request_length) * 4 - 1024, 256 * 1024);

    window_ = xcb_generate_id(c);
    const uint32_t values[] = {1};
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window_, connection_->root(), -1, -1, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_OVERRIDE_REDIRECT, values);
    xcb_xfixes_select_selection_input(c, window_, atoms_.selection,
                                      XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER |
                                          XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_WINDOW_DESTROY |
                                          XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_CLIENT_CLOSE);
    connection_->sync();
    thread_ = std::thread([this] { run(); });
}

X11SelectionOwner::~X11SelectionOwner() {
    stopping_ = true;
    wake();
    thread_.join();
    ::close(wakeFd_);
}

void X11SelectionOwner::wake() {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(wakeFd_, &one, sizeof one);
}

void X11SelectionOwner::own(const QList<ServedTarget>& targets) {
    auto content = std::make_shared<Content>();
    content->targets = targets;
    QByteArrayList names;
    QByteArrayList types;
    for (const ServedTarget& target : targets) {
        names << target.target;
        types << target.type;
    }
    content->atoms = connection_->atoms(names);
    content->typeAtoms = connection_->atoms(types);
    {
        // The content and the request that takes the selection go together, so that a
        // SelectionClear handled meanwhile can tell that it is out of date.
        std::lock_guard lock(mutex_);
        content_ = std::move(content);
        ++generation_;
        xcb_set_selection_owner(connection_->get(), window_, atoms_.selection, XCB_CURRENT_TIME);
    }
    // One round trip with the server (never with another client): when it returns, requests from
    // other clients reach this owner.
    connection_->sync();
    // The round trip may have queued events that the owner's thread has not been woken for.
    wake();
}

void X11SelectionOwner::run() {
    xcb_connection_t* c = connection_->get();
    pollfd descriptors[2] = {{connection_->fileDescriptor(), POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    while (!stopping_) {
        while (xcb_generic_event_t* event = xcb_poll_for_event(c)) {
            handleEvent(event);
            std::free(event);
        }
        if (xcb_connection_has_error(c)) {
            qCWarning(lcPlatform)
                << "Lost the connection to the X server; the clipboard is no longer watched";
            return;
        }
        dropStaleTransfers();
        connection_->flush();
        ::poll(descriptors, 2, transfers_.isEmpty() ? -1 : 1000);
        if (descriptors[1].revents & POLLIN) {
            uint64_t ignored = 0;
            [[maybe_unused]] const ssize_t read = ::read(wakeFd_, &ignored, sizeof ignored);
        }
    }
}

void X11SelectionOwner::handleEvent(xcb_generic_event_t* event) {
    const uint8_t type = event->response_type & 0x7f;
    if (type == 0) {
        // Mostly BadWindow from a requestor that went away during a transfer, which then ends.
        const auto* error = reinterpret_cast<xcb_generic_error_t*>(event);
        qCDebug(lcPlatform) << "X error" << error->error_code << "while serving the clipboard";
        if (error->error_code == XCB_WINDOW) {
            transfers_.removeIf([&](const Transfer& t) { return t.requestor == error->resource_id; });
        }
        return;
    }
    if (type == xfixesFirstEvent_ + XCB_XFIXES_SELECTION_NOTIFY) {
        const auto* notify = reinterpret_cast<xcb_xfixes_selection_notify_event_t*>(event);
        if (notify->selection != atoms_.selection) {
            return;
        }
        if (notify->owner == window_) {
            // The application's own write, already counted by the writer.
            acquiredAt_ = notify->selection_timestamp;
        } else if (onForeignChange_) {
            onForeignChange_(notify->owner == XCB_WINDOW_NONE);
        }
        return;
    }
    switch (type) {
    case XCB_SELECTION_REQUEST:
        handleSelectionRequest(*reinterpret_cast<xcb_selection_request_event_t*>(event));
        break;
    case XCB_SELECTION_CLEAR: {
        const auto* clear = reinterpret_cast<xcb_selection_clear_event_t*>(event);
        if (clear->owner == window_ && clear->selection == atoms_.selection) {
            handleSelectionClear();
        }
        break;
    }
    case XCB_PROPERTY_NOTIFY: {
        const auto* notify = reinterpret_cast<xcb_property_notify_event_t*>(event);
        if (notify->state == XCB_PROPERTY_DELETE) {
            handlePropertyDelete(*notify);
        }
        break;
    }
    default:
        break;
    }
}

void X11SelectionOwner::handleSelectionRequest(const xcb_selection_request_event_t& request) {
    std::shared_ptr<const Content> content;
    {
        std::lock_guard lock(mutex_);
        content = content_;
    }
    // Requestors from before ICCCM 2 leave the property out and mean the target's name.
    const xcb_atom_t property = request.property == XCB_ATOM_NONE ? request.target : request.property;
    bool ok = false;
    if (content && request.owner == window_ && request.selection == atoms_.selection) {
        if (request.target == atoms_.multiple) {
            ok = request.property != XCB_ATOM_NONE && answerMultiple(content, request.requestor, property);
        } else {
            ok = answer(content, request.requestor, request.target, property);
        }
    }
    connection_->answerSelectionRequest(request, ok ? property : xcb_atom_t(XCB_ATOM_NONE));
}

bool X11SelectionOwner::answer(const std::shared_ptr<const Content>& content, xcb_window_t requestor,
                               xcb_atom_t target, xcb_atom_t property) {
    xcb_connection_t* c = connection_->get();
    if (target == atoms_.targets) {
        QList<xcb_atom_t> offered = {atoms_.targets, atoms_.timestamp, atoms_.multiple};
        offered << content->atoms;
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, requestor, property, atoms_.atom, 32, offered.size(),
                            offered.constData());
        return true;
    }
    if (target == atoms_.timestamp) {
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, requestor, property, atoms_.integer, 32, 1,
                            &acquiredAt_);
        return true;
    }
    const qsizetype index = content->atoms.indexOf(target);
    if (index < 0) {
        return false;
    }
    const QByteArray& data = content->targets[index].data;
    const xcb_atom_t type = content->typeAtoms[index];
    if (data.size() <= chunkSize_) {
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, requestor, property, type, 8, data.size(),
                            data.constData());
        return true;
    }
    // Too large for one request: announce INCR with a lower bound of the size, then hand out one
    // chunk each time the requestor deletes the property.
    transfers_.removeIf(
        [&](const Transfer& t) { return t.requestor == requestor && t.property == property; });
    const uint32_t eventMask[] = {XCB_EVENT_MASK_PROPERTY_CHANGE};
    xcb_change_window_attributes(c, requestor, XCB_CW_EVENT_MASK, eventMask);
    const uint32_t sizeHint = uint32_t(std::min<qsizetype>(data.size(), UINT32_MAX));
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, requestor, property, atoms_.incr, 32, 1, &sizeHint);
    transfers_.append({requestor, property, type, data, 0, Clock::now()});
    return true;
}

bool X11SelectionOwner::answerMultiple(const std::shared_ptr<const Content>& content, xcb_window_t requestor,
                                       xcb_atom_t property) {
    xcb_connection_t* c = connection_->get();
    xcb_generic_error_t* error = nullptr;
    xcb_get_property_reply_t* reply = xcb_get_property_reply(
        c, xcb_get_property(c, false, requestor, property, XCB_GET_PROPERTY_TYPE_ANY, 0, UINT32_MAX / 4),
        &error);
    std::free(error);
    if (!reply) {
        return false;
    }
    QList<xcb_atom_t> pairs;
    if (reply->format == 32) {
        const auto* values = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply));
        pairs = QList<xcb_atom_t>(values, values + xcb_get_property_value_length(reply) / 4);
    }
    std::free(reply);
    if (pairs.isEmpty() || pairs.size() % 2 != 0) {
        return false;
    }
    // Each pair names a target and the property for it; a target that cannot be given has its
    // property replaced by None.
    for (qsizetype i = 0; i + 1 < pairs.size(); i += 2) {
        const bool served = pairs[i] != atoms_.multiple && pairs[i + 1] != XCB_ATOM_NONE &&
                            answer(content, requestor, pairs[i], pairs[i + 1]);
        if (!served) {
            pairs[i + 1] = XCB_ATOM_NONE;
        }
    }
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, requestor, property, atoms_.atomPair, 32, pairs.size(),
                        pairs.constData());
    return true;
}

void X11SelectionOwner::handleSelectionClear() {
    // The clear may be older than a write made since: only drop the content when the selection
    // really belongs to someone else and no write came in between.
    quint64 generation = 0;
    xcb_get_selection_owner_cookie_t cookie;
    {
        std::lock_guard lock(mutex_);
        generation = generation_;
        cookie = xcb_get_selection_owner(connection_->get(), atoms_.selection);
    }
    xcb_get_selection_owner_reply_t* reply =
        xcb_get_selection_owner_reply(connection_->get(), cookie, nullptr);
    const bool lost = reply && reply->owner != window_;
    std::free(reply);
    if (lost) {
        std::lock_guard lock(mutex_);
        if (generation == generation_) {
            content_.reset();
        }
    }
}

void X11SelectionOwner::handlePropertyDelete(const xcb_property_notify_event_t& notify) {
    auto transfer = std::find_if(transfers_.begin(), transfers_.end(), [&](const Transfer& t) {
        return t.requestor == notify.window && t.property == notify.atom;
    });
    if (transfer == transfers_.end()) {
        return;
    }
    xcb_connection_t* c = connection_->get();
    const qsizetype length = std::min(chunkSize_, transfer->data.size() - transfer->offset);
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, transfer->requestor, transfer->property, transfer->type, 8,
                        length, transfer->data.constData() + transfer->offset);
    transfer->offset += length;
    transfer->lastActivity = Clock::now();
    if (length == 0) {
        // The zero-length chunk that ends the transfer has been written.
        const xcb_window_t requestor = transfer->requestor;
        transfers_.erase(transfer);
        if (std::none_of(transfers_.begin(), transfers_.end(),
                         [&](const Transfer& t) { return t.requestor == requestor; })) {
            const uint32_t noEvents[] = {XCB_EVENT_MASK_NO_EVENT};
            xcb_change_window_attributes(c, requestor, XCB_CW_EVENT_MASK, noEvents);
        }
    }
    connection_->flush();
}

void X11SelectionOwner::dropStaleTransfers() {
    const Clock::time_point now = Clock::now();
    transfers_.removeIf([&](const Transfer& t) { return now - t.lastActivity > transferIdleLimit; });
}

} // namespace snipjar
