// A minimal CLIPBOARD owner for the clipboard tests: it offers several targets at once, which xclip
// cannot. Usage: snipjar_x11_clipboard_owner TARGET VALUE [TARGET VALUE ...]; a VALUE starting with
// '@' names a file whose bytes are offered. Prints "ready" once it owns the clipboard and exits when
// another client takes it. Values must fit in one request (no INCR): large transfers use xclip.
#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

xcb_atom_t intern(xcb_connection_t* connection, const std::string& name) {
    xcb_intern_atom_reply_t* reply =
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, name.size(), name.c_str()), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return atom;
}

std::string valueOf(const std::string& argument) {
    if (argument.empty() || argument[0] != '@') {
        return argument;
    }
    std::ifstream file(argument.substr(1), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3 || argc % 2 == 0) {
        std::fprintf(stderr, "usage: %s TARGET VALUE [TARGET VALUE ...]\n", argv[0]);
        return 2;
    }
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection)) {
        return 1;
    }
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    const xcb_atom_t clipboard = intern(connection, "CLIPBOARD");
    const xcb_atom_t targetsAtom = intern(connection, "TARGETS");
    std::vector<xcb_atom_t> targets;
    std::vector<std::string> values;
    for (int i = 1; i + 1 < argc; i += 2) {
        targets.push_back(intern(connection, argv[i]));
        values.push_back(valueOf(argv[i + 1]));
    }

    const xcb_window_t window = xcb_generate_id(connection);
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    xcb_set_selection_owner(connection, window, clipboard, XCB_CURRENT_TIME);
    xcb_get_selection_owner_reply_t* owner =
        xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, clipboard), nullptr);
    if (!owner || owner->owner != window) {
        return 1;
    }
    std::free(owner);
    std::printf("ready\n");
    std::fflush(stdout);

    while (xcb_generic_event_t* event = xcb_wait_for_event(connection)) {
        const uint8_t type = event->response_type & 0x7f;
        if (type == XCB_SELECTION_CLEAR) {
            std::free(event);
            break;
        }
        if (type == XCB_SELECTION_REQUEST) {
            const auto* request = reinterpret_cast<xcb_selection_request_event_t*>(event);
            xcb_selection_notify_event_t notify{};
            notify.response_type = XCB_SELECTION_NOTIFY;
            notify.time = request->time;
            notify.requestor = request->requestor;
            notify.selection = request->selection;
            notify.target = request->target;
            notify.property = XCB_ATOM_NONE;
            if (request->target == targetsAtom) {
                std::vector<xcb_atom_t> offered = targets;
                offered.insert(offered.begin(), targetsAtom);
                xcb_change_property(connection, XCB_PROP_MODE_REPLACE, request->requestor, request->property,
                                    XCB_ATOM_ATOM, 32, offered.size(), offered.data());
                notify.property = request->property;
            } else {
                for (size_t i = 0; i < targets.size(); ++i) {
                    if (targets[i] == request->target) {
                        xcb_change_property(connection, XCB_PROP_MODE_REPLACE, request->requestor,
                                            request->property, request->target, 8, values[i].size(),
                                            values[i].data());
                        notify.property = request->property;
                        break;
                    }
                }
            }
            xcb_send_event(connection, 0, request->requestor, XCB_EVENT_MASK_NO_EVENT,
                           reinterpret_cast<const char*>(&notify));
            xcb_flush(connection);
        }
        std::free(event);
    }
    xcb_disconnect(connection);
    return 0;
}
