// Clicks the left button at a point of the output, with a virtual pointer (wlr virtual pointer), as
// a person with a mouse would: a headless compositor has no pointer of its own. Arguments: X Y
// WIDTH HEIGHT, the point and the output's size, then "hover" to rest there for two seconds
// without clicking (for tooltips). Exits 0 once done.
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

#include <wayland-client.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include <unistd.h>

namespace {

zwlr_virtual_pointer_manager_v1* manager = nullptr;
wl_seat* seat = nullptr;

void global(void*, wl_registry* registry, uint32_t name, const char* interface, uint32_t) {
    if (std::strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name) == 0) {
        manager = static_cast<zwlr_virtual_pointer_manager_v1*>(
            wl_registry_bind(registry, name, &zwlr_virtual_pointer_manager_v1_interface, 1));
    } else if (std::strcmp(interface, wl_seat_interface.name) == 0 && !seat) {
        seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    }
}

void globalRemove(void*, wl_registry*, uint32_t) {}

const wl_registry_listener registryListener{&global, &globalRemove};

constexpr uint32_t leftButton = 0x110;

} // namespace

int main(int argc, char** argv) {
    const bool hover = argc == 6 && std::strcmp(argv[5], "hover") == 0;
    if (argc != 5 && !hover) {
        std::fprintf(stderr, "usage: %s X Y WIDTH HEIGHT [hover]\n", argv[0]);
        return 2;
    }
    wl_display* display = wl_display_connect(nullptr);
    if (!display) {
        return 1;
    }
    wl_registry_add_listener(wl_display_get_registry(display), &registryListener, nullptr);
    wl_display_roundtrip(display);
    if (!manager) {
        std::fprintf(stderr, "no virtual pointer\n");
        return 1;
    }
    zwlr_virtual_pointer_v1* pointer = zwlr_virtual_pointer_manager_v1_create_virtual_pointer(manager, seat);
    wl_display_roundtrip(display);
    // The seat gains a pointer now: its clients need a moment to take theirs.
    usleep(500 * 1000);
    const auto at = [](const char* text) { return uint32_t(std::strtoul(text, nullptr, 10)); };
    zwlr_virtual_pointer_v1_motion_absolute(pointer, 0, at(argv[1]), at(argv[2]), at(argv[3]), at(argv[4]));
    zwlr_virtual_pointer_v1_frame(pointer);
    wl_display_roundtrip(display);
    usleep(hover ? 2100 * 1000 : 100 * 1000);
    for (uint32_t state : {1U, 0U}) {
        if (hover) {
            break;
        }
        zwlr_virtual_pointer_v1_button(pointer, 0, leftButton, state);
        zwlr_virtual_pointer_v1_frame(pointer);
        wl_display_roundtrip(display);
        usleep(50 * 1000);
    }
    zwlr_virtual_pointer_v1_destroy(pointer);
    wl_display_roundtrip(display);
    wl_display_disconnect(display);
    return 0;
}
