#include "platform/x11/X11ClipboardManager.h"

#include "platform/LogCategories.h"
#include "platform/x11/XcbMemory.h"

#include <QMetaObject>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

namespace snipjar {

namespace {

xcb_window_t createInputWindow(XcbConnection& connection, uint32_t eventMask) {
    xcb_connection_t* c = connection.get();
    const xcb_window_t window = xcb_generate_id(c);
    const uint32_t values[] = {1, eventMask};
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, connection.root(), -1, -1, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT,
                      XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, values);
    return window;
}

xcb_window_t selectionOwner(XcbConnection& connection, xcb_atom_t selection) {
    xcb_connection_t* c = connection.get();
    XcbReply<xcb_get_selection_owner_reply_t> reply(
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, selection), nullptr));
    return reply ? reply->owner : xcb_window_t(XCB_WINDOW_NONE);
}

} // namespace

std::unique_ptr<X11ClipboardManager> X11ClipboardManager::create(QObject* parent) {
    std::unique_ptr<XcbConnection> connection = XcbConnection::open();
    if (!connection) {
        return nullptr;
    }
    const int wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd < 0) {
        return nullptr;
    }
    return std::unique_ptr<X11ClipboardManager>(
        new X11ClipboardManager(std::move(connection), wakeFd, parent));
}

X11ClipboardManager::X11ClipboardManager(std::unique_ptr<XcbConnection> connection, int wakeFd,
                                         QObject* parent)
    : ClipboardManagerRole(parent)
    , connection_(std::move(connection))
    , wakeFd_(wakeFd) {
    const QList<xcb_atom_t> atoms = connection_->atoms(
        {"MANAGER", "CLIPBOARD_MANAGER", "TARGETS", "SAVE_TARGETS", "TIMESTAMP", "ATOM", "NULL"});
    atoms_ = {atoms[0], atoms[1], atoms[2], atoms[3], atoms[4], atoms[5], atoms[6]};
    window_ = createInputWindow(*connection_, XCB_EVENT_MASK_NO_EVENT);
    connection_->sync();
    thread_ = std::thread([this] { run(); });
}

X11ClipboardManager::~X11ClipboardManager() {
    stopping_ = true;
    wake();
    thread_.join();
    // Requests still waiting are refused, so that their programs go at once; the role goes with the
    // connection.
    for (const Request& request : std::as_const(requests_)) {
        reply(request, false);
    }
    connection_->flush();
    ::close(wakeFd_);
}

void X11ClipboardManager::wake() {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(wakeFd_, &one, sizeof one);
}

bool X11ClipboardManager::claim() {
    if (claimed_) {
        return true;
    }
    const xcb_window_t holder = selectionOwner(*connection_, atoms_.clipboardManager);
    if (holder != XCB_WINDOW_NONE && holder != window_) {
        if (!toldAboutOtherManager_) {
            toldAboutOtherManager_ = true;
            qCInfo(lcPlatform) << "Another clipboard manager is running; Snipjar leaves the clipboard "
                                  "hand-over to it";
        }
        return false;
    }
    xcb_connection_t* c = connection_->get();
    xcb_set_selection_owner(c, window_, atoms_.clipboardManager, XCB_CURRENT_TIME);
    if (selectionOwner(*connection_, atoms_.clipboardManager) != window_) {
        return false;
    }
    claimed_ = true;
    // Announced as a manager selection, for clients that wait for a clipboard manager to appear.
    xcb_client_message_event_t announcement{};
    announcement.response_type = XCB_CLIENT_MESSAGE;
    announcement.format = 32;
    announcement.window = connection_->root();
    announcement.type = atoms_.manager;
    announcement.data.data32[0] = XCB_CURRENT_TIME;
    announcement.data.data32[1] = atoms_.clipboardManager;
    announcement.data.data32[2] = window_;
    xcb_send_event(c, false, connection_->root(), XCB_EVENT_MASK_STRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&announcement));
    connection_->flush();
    qCDebug(lcPlatform) << "Snipjar is the clipboard manager";
    return true;
}

void X11ClipboardManager::release() {
    if (!claimed_.exchange(false)) {
        return;
    }
    if (selectionOwner(*connection_, atoms_.clipboardManager) == window_) {
        xcb_set_selection_owner(connection_->get(), XCB_WINDOW_NONE, atoms_.clipboardManager,
                                XCB_CURRENT_TIME);
    }
    connection_->sync();
}

bool X11ClipboardManager::isClaimed() const {
    return claimed_;
}

void X11ClipboardManager::finishHandOver(quint64 request, bool saved) {
    {
        std::lock_guard lock(mutex_);
        answers_.append({request, saved});
    }
    wake();
}

void X11ClipboardManager::run() {
    xcb_connection_t* c = connection_->get();
    pollfd descriptors[2] = {{connection_->fileDescriptor(), POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    while (!stopping_) {
        while (xcb_generic_event_t* event = xcb_poll_for_event(c)) {
            handleEvent(event);
            std::free(event);
        }
        if (xcb_connection_has_error(c)) {
            return;
        }
        sendAnswers();
        connection_->flush();
        // While programs wait for an answer, the thread looks at their deadlines now and then.
        ::poll(descriptors, 2, requests_.isEmpty() ? -1 : 100);
        if (descriptors[1].revents & POLLIN) {
            uint64_t ignored = 0;
            [[maybe_unused]] const ssize_t read = ::read(wakeFd_, &ignored, sizeof ignored);
        }
    }
}

void X11ClipboardManager::handleEvent(xcb_generic_event_t* event) {
    switch (event->response_type & 0x7f) {
    case XCB_SELECTION_REQUEST:
        handleRequest(*reinterpret_cast<xcb_selection_request_event_t*>(event));
        break;
    case XCB_SELECTION_CLEAR: {
        const auto* clear = reinterpret_cast<xcb_selection_clear_event_t*>(event);
        if (clear->selection == atoms_.clipboardManager && clear->owner == window_ &&
            claimed_.exchange(false)) {
            qCInfo(lcPlatform) << "Another clipboard manager took over the clipboard hand-over";
            QMetaObject::invokeMethod(
                this, [this] { emit roleTaken(); }, Qt::QueuedConnection);
        }
        break;
    }
    default:
        break;
    }
}

void X11ClipboardManager::handleRequest(const xcb_selection_request_event_t& request) {
    const xcb_atom_t property = request.property == XCB_ATOM_NONE ? request.target : request.property;
    if (request.selection != atoms_.clipboardManager || request.owner != window_ || !claimed_) {
        connection_->answerSelectionRequest(request, XCB_ATOM_NONE);
        return;
    }
    xcb_connection_t* c = connection_->get();
    if (request.target == atoms_.targets) {
        const xcb_atom_t offered[] = {atoms_.targets, atoms_.saveTargets, atoms_.timestamp};
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, request.requestor, property, atoms_.atom, 32, 3,
                            offered);
        connection_->answerSelectionRequest(request, property);
        return;
    }
    if (request.target == atoms_.timestamp) {
        const uint32_t acquired = XCB_CURRENT_TIME;
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, request.requestor, property, XCB_ATOM_INTEGER, 32, 1,
                            &acquired);
        connection_->answerSelectionRequest(request, property);
        return;
    }
    if (request.target != atoms_.saveTargets) {
        connection_->answerSelectionRequest(request, XCB_ATOM_NONE);
        return;
    }
    // The program waits for the answer, which comes once the main thread has looked at what the
    // program copied.
    const Request saved{nextRequest_++, request.requestor, property, request.time,
                        Clock::now() + handOverLimit};
    requests_.append(saved);
    const quint64 id = saved.id;
    QMetaObject::invokeMethod(
        this, [this, id] { emit handOverRequested(id); }, Qt::QueuedConnection);
}

void X11ClipboardManager::sendAnswers() {
    QList<Answer> answers;
    {
        std::lock_guard lock(mutex_);
        answers.swap(answers_);
    }
    for (const Answer& answer : std::as_const(answers)) {
        const auto request = std::find_if(requests_.begin(), requests_.end(),
                                          [&](const Request& r) { return r.id == answer.id; });
        if (request != requests_.end()) {
            reply(*request, answer.saved);
            requests_.erase(request);
        }
    }
    const Clock::time_point now = Clock::now();
    requests_.removeIf([&](const Request& request) {
        if (request.deadline > now) {
            return false;
        }
        qCInfo(lcPlatform) << "A clipboard hand-over was not answered in time and is refused";
        reply(request, false);
        return true;
    });
}

void X11ClipboardManager::reply(const Request& request, bool saved) {
    if (saved) {
        // SAVE_TARGETS is a side-effect target: its property is answered with an empty NULL value.
        xcb_change_property(connection_->get(), XCB_PROP_MODE_REPLACE, request.requestor, request.property,
                            atoms_.null, 32, 0, nullptr);
    }
    xcb_selection_request_event_t original{};
    original.time = request.time;
    original.requestor = request.requestor;
    original.selection = atoms_.clipboardManager;
    original.target = atoms_.saveTargets;
    connection_->answerSelectionRequest(original, saved ? request.property : xcb_atom_t(XCB_ATOM_NONE));
}

bool X11ClipboardManager::handOverClipboard(std::chrono::milliseconds timeout) {
    // A connection of its own: the answer is awaited here while the clipboard's owner thread serves
    // the manager's reads.
    std::unique_ptr<XcbConnection> connection = XcbConnection::open();
    if (!connection) {
        return false;
    }
    const xcb_atom_t clipboardManager = connection->atom("CLIPBOARD_MANAGER");
    const xcb_window_t holder = selectionOwner(*connection, clipboardManager);
    if (holder == XCB_WINDOW_NONE || holder == window_) {
        return false;
    }
    xcb_connection_t* c = connection->get();
    const xcb_window_t requestor = createInputWindow(*connection, XCB_EVENT_MASK_NO_EVENT);
    const xcb_atom_t property = connection->atom("SNIPJAR_SAVE_TARGETS");
    xcb_convert_selection(c, requestor, clipboardManager, connection->atom("SAVE_TARGETS"), property,
                          XCB_CURRENT_TIME);
    connection->flush();
    const Clock::time_point deadline = Clock::now() + timeout;
    pollfd descriptor{connection->fileDescriptor(), POLLIN, 0};
    while (true) {
        while (xcb_generic_event_t* event = xcb_poll_for_event(c)) {
            const bool answered =
                (event->response_type & 0x7f) == XCB_SELECTION_NOTIFY &&
                reinterpret_cast<xcb_selection_notify_event_t*>(event)->requestor == requestor;
            const bool saved =
                answered && reinterpret_cast<xcb_selection_notify_event_t*>(event)->property != XCB_ATOM_NONE;
            std::free(event);
            if (answered) {
                qCInfo(lcPlatform) << (saved ? "The clipboard was handed to the clipboard manager"
                                             : "The clipboard manager did not take the clipboard");
                return saved;
            }
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0 || xcb_connection_has_error(c)) {
            qCInfo(lcPlatform) << "The clipboard manager did not answer the hand-over in time";
            return false;
        }
        ::poll(&descriptor, 1, int(left.count()));
    }
}

} // namespace snipjar
