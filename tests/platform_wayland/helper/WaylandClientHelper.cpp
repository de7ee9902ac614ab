// A small Wayland client for the tests, doing what wl-clipboard and a headless compositor cannot:
//   own TYPE:VALUE...  owns the clipboard through wlr data control with several types at once (wl-copy
//     offers one). A value of "@stall" sends a few bytes and then never finishes (and says
//     "stalled"), like an owner that hangs in the middle of a transfer; "@slow TEXT" sends the text,
//     says "sent" and ends the transfer half a second later. Prints "ready" once the selection is set
//     and exits when another program takes it.
//   click X Y WIDTH HEIGHT [hover]  clicks the left button at a point of an output of that size with a
//     virtual pointer (wlr virtual pointer), as a person with a mouse would: a headless compositor has
//     no pointer of its own. "hover" rests there for two seconds without clicking (for tooltips).
#include "wlr-data-control-unstable-v1-client-protocol.h"
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

#include <wayland-client.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

namespace {

std::vector<std::pair<std::string, std::string>> offered;
zwlr_data_control_manager_v1* dataControl = nullptr;
zwlr_virtual_pointer_manager_v1* virtualPointers = nullptr;
wl_seat* seat = nullptr;
bool cancelled = false;

void global(void*, wl_registry* registry, uint32_t name, const char* interface, uint32_t) {
    if (std::strcmp(interface, zwlr_data_control_manager_v1_interface.name) == 0) {
        dataControl = static_cast<zwlr_data_control_manager_v1*>(
            wl_registry_bind(registry, name, &zwlr_data_control_manager_v1_interface, 1));
    } else if (std::strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name) == 0) {
        virtualPointers = static_cast<zwlr_virtual_pointer_manager_v1*>(
            wl_registry_bind(registry, name, &zwlr_virtual_pointer_manager_v1_interface, 1));
    } else if (std::strcmp(interface, wl_seat_interface.name) == 0 && !seat) {
        seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    }
}

void globalRemove(void*, wl_registry*, uint32_t) {}

void send(void*, zwlr_data_control_source_v1*, const char* type, int32_t fd) {
    for (const auto& [name, value] : offered) {
        if (name == type) {
            const bool slow = value.rfind("@slow ", 0) == 0;
            const std::string bytes = value == "@stall" ? std::string("partial")
                                      : slow            ? value.substr(6)
                                                        : value;
            [[maybe_unused]] const ssize_t written = write(fd, bytes.data(), bytes.size());
            if (slow) {
                std::puts("sent");
                std::fflush(stdout);
                usleep(500'000);
            }
            if (value == "@stall") {
                // The descriptor stays open: the reader waits for the rest.
                std::puts("stalled");
                std::fflush(stdout);
                return;
            }
        }
    }
    close(fd);
}

void cancel(void*, zwlr_data_control_source_v1*) {
    cancelled = true;
}

int own(wl_display* display, int argc, char** argv) {
    for (int i = 2; i < argc; ++i) {
        const std::string argument = argv[i];
        const size_t colon = argument.find(':');
        offered.emplace_back(argument.substr(0, colon),
                             colon == std::string::npos ? "" : argument.substr(colon + 1));
    }
    if (!dataControl || !seat) {
        return 1;
    }
    zwlr_data_control_device_v1* device = zwlr_data_control_manager_v1_get_data_device(dataControl, seat);
    zwlr_data_control_source_v1* source = zwlr_data_control_manager_v1_create_data_source(dataControl);
    static const zwlr_data_control_source_v1_listener sourceListener{&send, &cancel};
    zwlr_data_control_source_v1_add_listener(source, &sourceListener, nullptr);
    for (const auto& entry : offered) {
        zwlr_data_control_source_v1_offer(source, entry.first.c_str());
    }
    zwlr_data_control_device_v1_set_selection(device, source);
    wl_display_roundtrip(display);
    std::puts("ready");
    std::fflush(stdout);
    while (!cancelled && wl_display_dispatch(display) >= 0) {
    }
    return 0;
}

int click(wl_display* display, int argc, char** argv) {
    const bool hover = argc == 7 && std::strcmp(argv[6], "hover") == 0;
    if (argc != 6 && !hover) {
        std::fprintf(stderr, "usage: %s click X Y WIDTH HEIGHT [hover]\n", argv[0]);
        return 2;
    }
    if (!virtualPointers) {
        std::fprintf(stderr, "no virtual pointer\n");
        return 1;
    }
    zwlr_virtual_pointer_v1* pointer =
        zwlr_virtual_pointer_manager_v1_create_virtual_pointer(virtualPointers, seat);
    wl_display_roundtrip(display);
    // The seat gains a pointer now: its clients need a moment to take theirs.
    usleep(500 * 1000);
    const auto at = [](const char* text) { return uint32_t(std::strtoul(text, nullptr, 10)); };
    zwlr_virtual_pointer_v1_motion_absolute(pointer, 0, at(argv[2]), at(argv[3]), at(argv[4]), at(argv[5]));
    zwlr_virtual_pointer_v1_frame(pointer);
    wl_display_roundtrip(display);
    usleep(hover ? 2100 * 1000 : 100 * 1000);
    for (uint32_t state : {1U, 0U}) {
        if (hover) {
            break;
        }
        constexpr uint32_t leftButton = 0x110;
        zwlr_virtual_pointer_v1_button(pointer, 0, leftButton, state);
        zwlr_virtual_pointer_v1_frame(pointer);
        wl_display_roundtrip(display);
        usleep(50 * 1000);
    }
    zwlr_virtual_pointer_v1_destroy(pointer);
    wl_display_roundtrip(display);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    wl_display* display = wl_display_connect(nullptr);
    if (!display || argc < 2) {
        return 1;
    }
    static const wl_registry_listener registryListener{&global, &globalRemove};
    wl_registry_add_listener(wl_display_get_registry(display), &registryListener, nullptr);
    wl_display_roundtrip(display);
    const int status =
        std::strcmp(argv[1], "click") == 0 ? click(display, argc, argv) : own(display, argc, argv);
    wl_display_disconnect(display);
    return status;
}
