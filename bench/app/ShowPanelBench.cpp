// The time from running `snipjar show-panel` to the panel's window mapped on the screen, and to the
// command's exit, with the running Snipjar's history as the script left it. The X server tells
// this program of every window mapped on the screen (SubstructureNotify on the root window, asked
// for before the first command starts), so no polling adds to the figure: a round starts the
// clock, spawns the command and stops at the MapNotify of a window named "Snipjar", which the
// server sends as it maps the window. Escape then closes the panel (xdotool), and the next round
// starts once its UnmapNotify came and a pause let Snipjar settle. Beside it, the start of the
// command alone (`snipjar --version`), timed in the pauses.
// Usage (inside an X session with Snipjar running): snipjar_bench_show_panel SNIPJAR [rounds]
#include <xcb/xcb.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double millisecondsSince(Clock::time_point start, Clock::time_point end) {
    return std::chrono::duration<double, std::milli>(end - start).count();
}

bool isPanel(xcb_connection_t* c, xcb_window_t window) {
    xcb_get_property_reply_t* reply = xcb_get_property_reply(
        c, xcb_get_property(c, 0, window, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 0, 64), nullptr);
    const bool panel = reply && xcb_get_property_value_length(reply) == 7 &&
                       std::memcmp(xcb_get_property_value(reply), "Snipjar", 7) == 0;
    std::free(reply);
    return panel;
}

// Waits for a map (or unmap) of a window; the panel's when `panel` is 0, else that window's.
xcb_window_t waitFor(xcb_connection_t* c, uint8_t type, xcb_window_t panel) {
    while (xcb_generic_event_t* event = xcb_wait_for_event(c)) {
        xcb_window_t window = 0;
        if ((event->response_type & 0x7f) == type) {
            window = type == XCB_MAP_NOTIFY ? reinterpret_cast<xcb_map_notify_event_t*>(event)->window
                                            : reinterpret_cast<xcb_unmap_notify_event_t*>(event)->window;
        }
        std::free(event);
        if (window != 0 && (panel ? window == panel : isPanel(c, window))) {
            return window;
        }
    }
    std::fprintf(stderr, "the X connection broke\n");
    std::exit(1);
}

// Milliseconds from spawning `snipjar --version` to its exit: the start of the light command
// alone, which needs neither Qt's application object nor the socket.
double versionMilliseconds(char* program) {
    char* const command[] = {program, const_cast<char*>("--version"), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    const Clock::time_point start = Clock::now();
    pid_t child = 0;
    int status = 0;
    if (::posix_spawn(&child, program, &actions, nullptr, command, environ) == 0) {
        ::waitpid(child, &status, 0);
    }
    posix_spawn_file_actions_destroy(&actions);
    return millisecondsSince(start, Clock::now());
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s SNIPJAR [rounds]\n", argv[0]);
        return 2;
    }
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 21;
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) {
        std::fprintf(stderr, "cannot open the X display\n");
        return 1;
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(c, root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(c);

    std::vector<double> toMapped;
    std::vector<double> toExit;
    std::vector<double> versions;
    // The first round, which builds what a first show builds, is not counted.
    for (int round = 0; round <= rounds; ++round) {
        char* const command[] = {argv[1], const_cast<char*>("show-panel"), nullptr};
        const Clock::time_point start = Clock::now();
        pid_t child = 0;
        if (::posix_spawn(&child, argv[1], nullptr, nullptr, command, environ) != 0) {
            std::perror("posix_spawn");
            return 1;
        }
        // The command's exit is timed on a thread of its own, since it may come before the map.
        int status = 0;
        Clock::time_point exited;
        std::thread reaper([&] {
            ::waitpid(child, &status, 0);
            exited = Clock::now();
        });
        const xcb_window_t panel = waitFor(c, XCB_MAP_NOTIFY, 0);
        const Clock::time_point mapped = Clock::now();
        reaper.join();
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            std::fprintf(stderr, "snipjar show-panel failed\n");
            return 1;
        }
        if (round > 0) {
            toMapped.push_back(millisecondsSince(start, mapped));
            toExit.push_back(millisecondsSince(start, exited));
        }
        if (std::system("xdotool key Escape") != 0) {
            return 1;
        }
        waitFor(c, XCB_UNMAP_NOTIFY, panel);
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        versions.push_back(versionMilliseconds(argv[1]));
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
    }
    std::printf("snipjar show-panel to the panel mapped: median %.1f ms (min %.1f, max %.1f, %d runs); "
                "to the command's exit: median %.1f ms; snipjar --version alone: median %.1f ms\n",
                median(toMapped), *std::min_element(toMapped.begin(), toMapped.end()),
                *std::max_element(toMapped.begin(), toMapped.end()), rounds, median(toExit),
                median(versions));
    xcb_disconnect(c);
    return 0;
}
