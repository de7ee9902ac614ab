// Owns the Wayland clipboard through wlr data control with several types at once, as wl-copy (one
// type) cannot: each argument is TYPE:VALUE. A value of "@stall" sends a few bytes and then never
// finishes (and says "stalled"), like an owner that hangs in the middle of a transfer; "@slow TEXT"
// sends the text, says "sent" and ends the transfer half a second later. Prints "ready" once the
// selection is set and exits when another program takes it.
#include "wlr-data-control-unstable-v1-client-protocol.h"

#include <wayland-client.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

namespace {

std::vector<std::pair<std::string, std::string>> offered;
zwlr_data_control_manager_v1* manager = nullptr;
wl_seat* seat = nullptr;
bool cancelled = false;

void global(void*, wl_registry* registry, uint32_t name, const char* interface, uint32_t) {
    if (std::strcmp(interface, zwlr_data_control_manager_v1_interface.name) == 0) {
        manager = static_cast<zwlr_data_control_manager_v1*>(
            wl_registry_bind(registry, name, &zwlr_data_control_manager_v1_interface, 1));
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

} // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const size_t colon = argument.find(':');
        offered.emplace_back(argument.substr(0, colon),
                             colon == std::string::npos ? "" : argument.substr(colon + 1));
    }
    wl_display* display = wl_display_connect(nullptr);
    if (!display) {
        return 1;
    }
    static const wl_registry_listener registryListener{&global, &globalRemove};
    wl_registry_add_listener(wl_display_get_registry(display), &registryListener, nullptr);
    wl_display_roundtrip(display);
    if (!manager || !seat) {
        return 1;
    }
    zwlr_data_control_device_v1* device = zwlr_data_control_manager_v1_get_data_device(manager, seat);
    zwlr_data_control_source_v1* source = zwlr_data_control_manager_v1_create_data_source(manager);
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
    wl_display_disconnect(display);
    return 0;
}
