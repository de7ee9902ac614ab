#include "platform/x11/XcbConnection.h"

#include <cstdlib>

namespace snipjar {

QString XcbConnection::unavailableMessage() {
    const QString display = qEnvironmentVariable("DISPLAY");
    return QStringLiteral("cannot open the X display") +
           (display.isEmpty() ? QStringLiteral(" (DISPLAY is not set)") : QLatin1Char(' ') + display);
}

std::unique_ptr<XcbConnection> XcbConnection::open(const char* displayName) {
    int screenNumber = 0;
    xcb_connection_t* connection = xcb_connect(displayName, &screenNumber);
    if (!connection || xcb_connection_has_error(connection)) {
        if (connection) {
            xcb_disconnect(connection);
        }
        return nullptr;
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber && it.rem > 0; ++i) {
        xcb_screen_next(&it);
    }
    if (it.rem == 0 || !it.data) {
        xcb_disconnect(connection);
        return nullptr;
    }
    return std::unique_ptr<XcbConnection>(new XcbConnection(connection, it.data));
}

XcbConnection::XcbConnection(xcb_connection_t* connection, xcb_screen_t* screen)
    : connection_(connection)
    , screen_(screen) {}

XcbConnection::~XcbConnection() {
    xcb_disconnect(connection_);
}

xcb_atom_t XcbConnection::atom(const QByteArray& name) {
    return atoms({name}).value(0, XCB_ATOM_NONE);
}

QList<xcb_atom_t> XcbConnection::atoms(const QByteArrayList& names) {
    QList<xcb_atom_t> result(names.size(), XCB_ATOM_NONE);
    QList<std::pair<qsizetype, xcb_intern_atom_cookie_t>> pending;
    {
        std::lock_guard lock(cacheMutex_);
        for (qsizetype i = 0; i < names.size(); ++i) {
            auto found = atomsByName_.constFind(names[i]);
            if (found != atomsByName_.constEnd()) {
                result[i] = *found;
            } else {
                pending.append({i, xcb_intern_atom(connection_, 0, names[i].size(), names[i].constData())});
            }
        }
    }
    for (const auto& [index, cookie] : pending) {
        xcb_generic_error_t* error = nullptr;
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection_, cookie, &error);
        std::free(error);
        if (!reply) {
            continue;
        }
        result[index] = reply->atom;
        std::free(reply);
        std::lock_guard lock(cacheMutex_);
        atomsByName_.insert(names[index], result[index]);
        namesByAtom_.insert(result[index], names[index]);
    }
    return result;
}

QByteArray XcbConnection::atomName(xcb_atom_t atom) {
    return atomNames({atom}).value(0);
}

QByteArrayList XcbConnection::atomNames(const QList<xcb_atom_t>& atoms) {
    QByteArrayList result(atoms.size());
    QList<std::pair<qsizetype, xcb_get_atom_name_cookie_t>> pending;
    {
        std::lock_guard lock(cacheMutex_);
        for (qsizetype i = 0; i < atoms.size(); ++i) {
            auto found = namesByAtom_.constFind(atoms[i]);
            if (found != namesByAtom_.constEnd()) {
                result[i] = *found;
            } else if (atoms[i] != XCB_ATOM_NONE) {
                pending.append({i, xcb_get_atom_name(connection_, atoms[i])});
            }
        }
    }
    for (const auto& [index, cookie] : pending) {
        // An atom the server does not know comes back as an error, taken here so that it never
        // reaches the event queue.
        xcb_generic_error_t* error = nullptr;
        xcb_get_atom_name_reply_t* reply = xcb_get_atom_name_reply(connection_, cookie, &error);
        std::free(error);
        if (!reply) {
            continue;
        }
        result[index] = QByteArray(xcb_get_atom_name_name(reply), xcb_get_atom_name_name_length(reply));
        std::free(reply);
        std::lock_guard lock(cacheMutex_);
        namesByAtom_.insert(atoms[index], result[index]);
        atomsByName_.insert(result[index], atoms[index]);
    }
    return result;
}

void XcbConnection::sync() {
    std::free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
}

void XcbConnection::answerSelectionRequest(const xcb_selection_request_event_t& request,
                                           xcb_atom_t property) {
    xcb_selection_notify_event_t notify{};
    notify.response_type = XCB_SELECTION_NOTIFY;
    notify.time = request.time;
    notify.requestor = request.requestor;
    notify.selection = request.selection;
    notify.target = request.target;
    notify.property = property;
    xcb_send_event(connection_, false, request.requestor, XCB_EVENT_MASK_NO_EVENT,
                   reinterpret_cast<const char*>(&notify));
    xcb_flush(connection_);
}

} // namespace snipjar
