// A minimal CLIPBOARD (or other selection) owner for the clipboard tests: it offers several targets
// at once, which xclip cannot, and it can behave like slow or unhelpful owners.
//
// Usage: snipjar_x11_clipboard_owner [--selection NAME] [--delay-ms N] [--trickle-ms N] [--grow-ms N]
//                                    TARGET VALUE [TARGET VALUE ...]
//   --selection NAME  owns that selection (PRIMARY, say) instead of CLIPBOARD.
//   VALUE      the bytes offered; '@' followed by a path offers that file's bytes; "!refuse" refuses
//              the target although it is offered.
//   --delay-ms N    answers its first request N ms late, also after another client took the
//                   clipboard (like a program that renders what it offers only when asked).
//   --trickle-ms N  serves every value by INCR in 1 KiB chunks, N ms apart.
//   --generate-bytes N  serves every value as N bytes of text made up chunk by chunk (64 KiB) by
//                   INCR, so that a value of gigabytes is never held; prints "served BYTES" when the
//                   requestor finished or gave up.
//   --incr-hint N   the size announced by INCR for --generate-bytes (N by default; 0 for unknown).
//   --grow-ms N     keeps the selection while its values grow: a request answers the first
//                   1 + (ms since it took the selection) / N bytes of a value, as a program does
//                   that extends a selection it already owns.
// Prints "ready" once it owns the clipboard and "request TARGET" for every request it receives;
// exits when another client takes the clipboard and every request received has been answered.
#include <xcb/xcb.h>

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr size_t trickleChunk = 1024;
constexpr size_t generatedChunk = 64 * 1024;

xcb_atom_t intern(xcb_connection_t* connection, const std::string& name) {
    xcb_intern_atom_reply_t* reply =
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, name.size(), name.c_str()), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return atom;
}

std::string atomName(xcb_connection_t* connection, xcb_atom_t atom) {
    xcb_get_atom_name_reply_t* reply =
        xcb_get_atom_name_reply(connection, xcb_get_atom_name(connection, atom), nullptr);
    std::string name = reply
                           ? std::string(xcb_get_atom_name_name(reply), xcb_get_atom_name_name_length(reply))
                           : std::string("?");
    std::free(reply);
    return name;
}

std::string valueOf(const std::string& argument) {
    if (argument.empty() || argument[0] != '@') {
        return argument;
    }
    std::ifstream file(argument.substr(1), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

struct Owner {
    xcb_connection_t* connection = nullptr;
    xcb_atom_t targetsAtom = XCB_ATOM_NONE;
    xcb_atom_t incrAtom = XCB_ATOM_NONE;
    std::vector<xcb_atom_t> targets;
    std::vector<std::string> values;
    long long delayMs = 0;
    long long trickleMs = -1;
    long long generateBytes = -1;
    long long incrHint = -1;
    long long growMs = 0;
    std::chrono::steady_clock::time_point ownedSince;
    bool lostClipboard = false;

    // Waits for the requestor to delete the property (it took the last chunk); false when it
    // does not within 5 s.
    bool waitForDelete(xcb_window_t requestor, xcb_atom_t property) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        for (;;) {
            while (xcb_generic_event_t* event = xcb_poll_for_event(connection)) {
                const uint8_t type = event->response_type & 0x7f;
                bool deleted = false;
                if (type == XCB_SELECTION_CLEAR) {
                    lostClipboard = true;
                } else if (type == XCB_DESTROY_NOTIFY &&
                           reinterpret_cast<xcb_destroy_notify_event_t*>(event)->window == requestor) {
                    // The requestor gave up the transfer.
                    std::free(event);
                    return false;
                } else if (type == XCB_PROPERTY_NOTIFY) {
                    const auto* notify = reinterpret_cast<xcb_property_notify_event_t*>(event);
                    deleted = notify->window == requestor && notify->atom == property &&
                              notify->state == XCB_PROPERTY_DELETE;
                }
                std::free(event);
                if (deleted) {
                    return true;
                }
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline - std::chrono::steady_clock::now())
                                  .count();
            if (left <= 0 || xcb_connection_has_error(connection)) {
                return false;
            }
            pollfd descriptor{xcb_get_file_descriptor(connection), POLLIN, 0};
            ::poll(&descriptor, 1, int(left));
        }
    }

    // Serves a value by INCR (the value's bytes trickled, or generated ones when value is null):
    // chunks while the requestor takes them, then the empty end chunk.
    void serveIncrementally(xcb_window_t requestor, xcb_atom_t property, xcb_atom_t type,
                            const std::string* value) {
        std::string generated(generatedChunk, 'x');
        for (size_t i = 0; i < generated.size(); i += 64) {
            generated[i] = '\n';
        }
        const long long total = value ? (long long)value->size() : generateBytes;
        long long served = 0;
        while (waitForDelete(requestor, property)) {
            if (value) {
                std::this_thread::sleep_for(std::chrono::milliseconds(trickleMs));
            }
            const long long length =
                std::min<long long>(value ? trickleChunk : generatedChunk, total - served);
            xcb_change_property(connection, XCB_PROP_MODE_REPLACE, requestor, property, type, 8,
                                uint32_t(length), value ? value->data() + served : generated.data());
            xcb_flush(connection);
            if (length == 0) {
                break;
            }
            served += length;
        }
        if (!value) {
            std::printf("served %lld\n", served);
            std::fflush(stdout);
        }
    }

    void answer(const xcb_selection_request_event_t& request) {
        std::printf("request %s\n", atomName(connection, request.target).c_str());
        std::fflush(stdout);
        if (delayMs > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
            delayMs = 0;
        }
        xcb_selection_notify_event_t notify{};
        notify.response_type = XCB_SELECTION_NOTIFY;
        notify.time = request.time;
        notify.requestor = request.requestor;
        notify.selection = request.selection;
        notify.target = request.target;
        notify.property = XCB_ATOM_NONE;
        const std::string* trickled = nullptr;
        bool incremental = false;
        if (request.target == targetsAtom) {
            std::vector<xcb_atom_t> offered = targets;
            offered.insert(offered.begin(), targetsAtom);
            xcb_change_property(connection, XCB_PROP_MODE_REPLACE, request.requestor, request.property,
                                XCB_ATOM_ATOM, 32, offered.size(), offered.data());
            notify.property = request.property;
        } else {
            for (size_t i = 0; i < targets.size(); ++i) {
                if (targets[i] != request.target || values[i] == "!refuse") {
                    continue;
                }
                if (generateBytes >= 0 || trickleMs >= 0) {
                    const uint32_t size = uint32_t(generateBytes < 0 ? (long long)values[i].size()
                                                   : incrHint >= 0   ? incrHint
                                                                     : generateBytes);
                    const uint32_t events[] = {XCB_EVENT_MASK_PROPERTY_CHANGE |
                                               XCB_EVENT_MASK_STRUCTURE_NOTIFY};
                    xcb_change_window_attributes(connection, request.requestor, XCB_CW_EVENT_MASK, events);
                    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, request.requestor,
                                        request.property, incrAtom, 32, 1, &size);
                    incremental = true;
                    trickled = generateBytes < 0 ? &values[i] : nullptr;
                } else {
                    size_t length = values[i].size();
                    if (growMs > 0) {
                        const auto owned = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - ownedSince);
                        length = std::min<size_t>(length, 1 + size_t(owned.count() / growMs));
                    }
                    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, request.requestor,
                                        request.property, request.target, 8, length, values[i].data());
                }
                notify.property = request.property;
                break;
            }
        }
        xcb_send_event(connection, 0, request.requestor, XCB_EVENT_MASK_NO_EVENT,
                       reinterpret_cast<const char*>(&notify));
        xcb_flush(connection);
        if (incremental) {
            serveIncrementally(request.requestor, request.property, request.target, trickled);
        }
    }
};

} // namespace

int main(int argc, char** argv) {
    Owner owner;
    int first = 1;
    const char* selectionName = "CLIPBOARD";
    const std::pair<const char*, long long*> options[] = {{"--grow-ms", &owner.growMs},
                                                          {"--delay-ms", &owner.delayMs},
                                                          {"--trickle-ms", &owner.trickleMs},
                                                          {"--generate-bytes", &owner.generateBytes},
                                                          {"--incr-hint", &owner.incrHint}};
    for (; first + 1 < argc; first += 2) {
        const auto option = std::find_if(std::begin(options), std::end(options), [&](const auto& known) {
            return std::strcmp(argv[first], known.first) == 0;
        });
        if (std::strcmp(argv[first], "--selection") == 0) {
            selectionName = argv[first + 1];
        } else if (option != std::end(options)) {
            *option->second = std::atoll(argv[first + 1]);
        } else {
            break;
        }
    }
    if (argc - first < 2 || (argc - first) % 2 != 0) {
        std::fprintf(stderr,
                     "usage: %s [--selection NAME] [--delay-ms N] [--trickle-ms N] [--grow-ms N] "
                     "[--generate-bytes N [--incr-hint N]] TARGET VALUE [TARGET VALUE ...]\n",
                     argv[0]);
        return 2;
    }
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection)) {
        return 1;
    }
    owner.connection = connection;
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    const xcb_atom_t clipboard = intern(connection, selectionName);
    owner.targetsAtom = intern(connection, "TARGETS");
    owner.incrAtom = intern(connection, "INCR");
    for (int i = first; i + 1 < argc; i += 2) {
        owner.targets.push_back(intern(connection, argv[i]));
        owner.values.push_back(valueOf(argv[i + 1]));
    }

    const xcb_window_t window = xcb_generate_id(connection);
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    xcb_set_selection_owner(connection, window, clipboard, XCB_CURRENT_TIME);
    xcb_get_selection_owner_reply_t* current =
        xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, clipboard), nullptr);
    if (!current || current->owner != window) {
        return 1;
    }
    std::free(current);
    owner.ownedSince = std::chrono::steady_clock::now();
    std::printf("ready\n");
    std::fflush(stdout);

    while (!owner.lostClipboard) {
        xcb_generic_event_t* event = xcb_wait_for_event(connection);
        if (!event) {
            break;
        }
        const uint8_t type = event->response_type & 0x7f;
        if (type == XCB_SELECTION_CLEAR) {
            owner.lostClipboard = true;
        } else if (type == XCB_SELECTION_REQUEST) {
            owner.answer(*reinterpret_cast<xcb_selection_request_event_t*>(event));
        }
        std::free(event);
    }
    // Requests that arrived before the clipboard was taken are still answered.
    xcb_flush(connection);
    while (xcb_generic_event_t* event = xcb_poll_for_event(connection)) {
        if ((event->response_type & 0x7f) == XCB_SELECTION_REQUEST) {
            owner.answer(*reinterpret_cast<xcb_selection_request_event_t*>(event));
        }
        std::free(event);
    }
    xcb_disconnect(connection);
    return 0;
}
