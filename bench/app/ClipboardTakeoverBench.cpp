// The time from the exit of the program that owns the clipboard to the clipboard being owned again
// by the running Snipjar (target: at most 20 ms). Each round a client of this program copies a
// text, answers Snipjar's capture, waits for it to be filed and disconnects, as a program that
// quits does; a second connection watches the clipboard's owner.
// Usage (inside an X session with Snipjar running): snipjar_bench_clipboard_takeover [rounds]
#include <xcb/xcb.h>
#include <xcb/xfixes.h>

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

xcb_atom_t intern(xcb_connection_t* connection, const char* name) {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, uint16_t(std::char_traits<char>::length(name)), name),
        nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return atom;
}

// Owns the clipboard with the text and answers requests for a while: until the text has been read
// and `settle` has passed since.
void copyAndServe(xcb_connection_t* c, const std::string& text, std::chrono::milliseconds settle) {
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const xcb_window_t window = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    const xcb_atom_t clipboard = intern(c, "CLIPBOARD");
    const xcb_atom_t targets = intern(c, "TARGETS");
    const xcb_atom_t utf8 = intern(c, "UTF8_STRING");
    xcb_set_selection_owner(c, window, clipboard, XCB_CURRENT_TIME);
    xcb_flush(c);
    Clock::time_point until = Clock::now() + std::chrono::seconds(5);
    bool read = false;
    pollfd descriptor{xcb_get_file_descriptor(c), POLLIN, 0};
    while (Clock::now() < until) {
        while (xcb_generic_event_t* event = xcb_poll_for_event(c)) {
            if ((event->response_type & 0x7f) == XCB_SELECTION_REQUEST) {
                const auto request = *reinterpret_cast<xcb_selection_request_event_t*>(event);
                xcb_atom_t property = request.property;
                if (request.target == targets) {
                    const xcb_atom_t offered[] = {targets, utf8};
                    xcb_change_property(c, XCB_PROP_MODE_REPLACE, request.requestor, property, XCB_ATOM_ATOM,
                                        32, 2, offered);
                } else if (request.target == utf8) {
                    xcb_change_property(c, XCB_PROP_MODE_REPLACE, request.requestor, property, utf8, 8,
                                        uint32_t(text.size()), text.data());
                    if (!read) {
                        read = true;
                        until = Clock::now() + settle;
                    }
                } else {
                    property = XCB_ATOM_NONE;
                }
                xcb_selection_notify_event_t notify{};
                notify.response_type = XCB_SELECTION_NOTIFY;
                notify.time = request.time;
                notify.requestor = request.requestor;
                notify.selection = request.selection;
                notify.target = request.target;
                notify.property = property;
                xcb_send_event(c, 0, request.requestor, XCB_EVENT_MASK_NO_EVENT,
                               reinterpret_cast<const char*>(&notify));
                xcb_flush(c);
            }
            std::free(event);
        }
        poll(&descriptor, 1, 10);
    }
}

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 20;
    xcb_connection_t* watch = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(watch)) {
        std::fprintf(stderr, "no X display\n");
        return 1;
    }
    const xcb_query_extension_reply_t* xfixes = xcb_get_extension_data(watch, &xcb_xfixes_id);
    std::free(xcb_xfixes_query_version_reply(watch, xcb_xfixes_query_version(watch, 5, 0), nullptr));
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(watch)).data;
    const xcb_window_t watcher = xcb_generate_id(watch);
    xcb_create_window(watch, XCB_COPY_FROM_PARENT, watcher, screen->root, 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    xcb_xfixes_select_selection_input(watch, watcher, intern(watch, "CLIPBOARD"),
                                      XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER |
                                          XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_CLIENT_CLOSE);
    xcb_flush(watch);

    std::vector<double> times;
    int missed = 0;
    for (int round = 0; round < rounds; ++round) {
        xcb_connection_t* owner = xcb_connect(nullptr, nullptr);
        copyAndServe(owner, "take-over round " + std::to_string(round), std::chrono::milliseconds(300));
        while (xcb_generic_event_t* event = xcb_poll_for_event(watch)) {
            std::free(event);
        }
        const Clock::time_point exited = Clock::now();
        xcb_disconnect(owner);
        bool owned = false;
        pollfd descriptor{xcb_get_file_descriptor(watch), POLLIN, 0};
        while (!owned && Clock::now() - exited < std::chrono::seconds(2)) {
            while (xcb_generic_event_t* event = xcb_poll_for_event(watch)) {
                if ((event->response_type & 0x7f) == xfixes->first_event + XCB_XFIXES_SELECTION_NOTIFY &&
                    reinterpret_cast<xcb_xfixes_selection_notify_event_t*>(event)->owner != XCB_WINDOW_NONE) {
                    owned = true;
                    times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - exited).count());
                }
                std::free(event);
            }
            if (!owned) {
                poll(&descriptor, 1, 5);
            }
        }
        missed += owned ? 0 : 1;
    }
    if (times.empty()) {
        std::printf("clipboard take-over after the owner's exit: never (%d rounds)\n", rounds);
        return 1;
    }
    std::sort(times.begin(), times.end());
    std::printf(
        "clipboard take-over after the owner's exit: median %.1f ms, max %.1f ms over %zu rounds, %d missed "
        "(target <= 20 ms)\n",
        times[times.size() / 2], times.back(), times.size(), missed);
    return 0;
}
