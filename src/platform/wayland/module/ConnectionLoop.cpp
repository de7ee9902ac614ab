#include "platform/wayland/module/ConnectionLoop.h"

#include <wayland-client.h>

#include <cerrno>
#include <cstdint>

#include <sys/eventfd.h>
#include <unistd.h>

namespace snipjar::wayland {

int makeWakeFd() {
    return ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

void wake(int wakeFd) {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(wakeFd, &one, sizeof one);
}

void close(wl_display* display, wl_registry* registry, int wakeFd) {
    if (registry) {
        wl_registry_destroy(registry);
    }
    wl_display_flush(display);
    wl_display_disconnect(display);
    if (wakeFd >= 0) {
        ::close(wakeFd);
    }
}

bool turn(wl_display* display, int wakeFd, std::vector<pollfd> extra, int timeoutMs,
          const std::function<void(const std::vector<pollfd>& extra)>& polled) {
    while (wl_display_prepare_read(display) != 0) {
        if (wl_display_dispatch_pending(display) < 0) {
            return false;
        }
    }
    // What the socket does not take now goes once it can take more.
    const bool flushed = wl_display_flush(display) >= 0 || errno != EAGAIN;
    std::vector<pollfd> descriptors{{wl_display_get_fd(display), short(POLLIN | (flushed ? 0 : POLLOUT)), 0},
                                    {wakeFd, POLLIN, 0}};
    descriptors.insert(descriptors.end(), extra.begin(), extra.end());
    ::poll(descriptors.data(), descriptors.size(), timeoutMs);
    bool failed = false;
    if (descriptors[0].revents & (POLLIN | POLLERR | POLLHUP)) {
        failed = wl_display_read_events(display) < 0;
    } else {
        wl_display_cancel_read(display);
    }
    if (descriptors[1].revents & POLLIN) {
        uint64_t ignored = 0;
        [[maybe_unused]] const ssize_t read = ::read(wakeFd, &ignored, sizeof ignored);
    }
    if (polled) {
        polled(std::vector<pollfd>(descriptors.begin() + 2, descriptors.end()));
    }
    return !failed && wl_display_dispatch_pending(display) >= 0;
}

} // namespace snipjar::wayland
