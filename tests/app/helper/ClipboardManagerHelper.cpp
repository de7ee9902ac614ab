// Another clipboard manager, for the tests: it holds CLIPBOARD_MANAGER, prints "ready", and answers
// each SAVE_TARGETS request by reading the clipboard's UTF8_STRING, printing "saved TEXT" and
// telling the requestor it was saved. Runs until it is killed.
#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

xcb_atom_t intern(xcb_connection_t* connection, const char* name) {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, uint16_t(std::char_traits<char>::length(name)), name),
        nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return atom;
}

// Converts CLIPBOARD to UTF8_STRING on the window and waits for the answer (small values only).
std::string readClipboard(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t clipboard,
                          xcb_atom_t utf8, xcb_atom_t property) {
    xcb_convert_selection(connection, window, clipboard, utf8, property, XCB_CURRENT_TIME);
    xcb_flush(connection);
    while (xcb_generic_event_t* event = xcb_wait_for_event(connection)) {
        const bool answer = (event->response_type & 0x7f) == XCB_SELECTION_NOTIFY;
        const bool ok =
            answer && reinterpret_cast<xcb_selection_notify_event_t*>(event)->property != XCB_ATOM_NONE;
        std::free(event);
        if (!answer) {
            continue;
        }
        if (!ok) {
            return {};
        }
        xcb_get_property_reply_t* reply = xcb_get_property_reply(
            connection,
            xcb_get_property(connection, 1, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, 1 << 20),
            nullptr);
        std::string text;
        if (reply) {
            text.assign(static_cast<const char*>(xcb_get_property_value(reply)),
                        size_t(xcb_get_property_value_length(reply)));
        }
        std::free(reply);
        return text;
    }
    return {};
}

} // namespace

int main() {
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection)) {
        return 1;
    }
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    const xcb_window_t window = xcb_generate_id(connection);
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    const xcb_atom_t manager = intern(connection, "CLIPBOARD_MANAGER");
    const xcb_atom_t saveTargets = intern(connection, "SAVE_TARGETS");
    const xcb_atom_t clipboard = intern(connection, "CLIPBOARD");
    const xcb_atom_t utf8 = intern(connection, "UTF8_STRING");
    const xcb_atom_t property = intern(connection, "HELPER_SAVED");
    xcb_set_selection_owner(connection, window, manager, XCB_CURRENT_TIME);
    std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
    std::printf("ready\n");
    std::fflush(stdout);
    while (xcb_generic_event_t* event = xcb_wait_for_event(connection)) {
        if ((event->response_type & 0x7f) == XCB_SELECTION_REQUEST) {
            const auto request = *reinterpret_cast<xcb_selection_request_event_t*>(event);
            bool saved = false;
            if (request.selection == manager && request.target == saveTargets) {
                const std::string text = readClipboard(connection, window, clipboard, utf8, property);
                std::printf("saved %s\n", text.c_str());
                std::fflush(stdout);
                saved = !text.empty();
            }
            xcb_selection_notify_event_t notify{};
            notify.response_type = XCB_SELECTION_NOTIFY;
            notify.time = request.time;
            notify.requestor = request.requestor;
            notify.selection = request.selection;
            notify.target = request.target;
            notify.property = saved ? request.property : xcb_atom_t(XCB_ATOM_NONE);
            xcb_send_event(connection, 0, request.requestor, XCB_EVENT_MASK_NO_EVENT,
                           reinterpret_cast<const char*>(&notify));
            xcb_flush(connection);
        }
        std::free(event);
    }
    return 0;
}
