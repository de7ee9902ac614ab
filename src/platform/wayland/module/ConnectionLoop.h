#pragma once

#include <functional>
#include <vector>

#include <poll.h>

struct wl_display;
struct wl_registry;

namespace snipjar::wayland {

// The loop of a thread that owns a wl_display connection of its own, shared by the module's
// connections. Requests are queued from any thread and the thread is woken through an eventfd to
// send them.

// A non-blocking eventfd for wake(); -1 when none could be made.
int makeWakeFd();
void wake(int wakeFd);

// Ends a connection: its registry, the requests still queued sent, the connection closed, and
// the wake-up eventfd.
void close(wl_display* display, wl_registry* registry, int wakeFd);

// One turn: what is queued is dispatched and what was asked is sent (as much as the socket takes),
// then the thread waits for the compositor, a wake-up or one of `extra` (up to timeoutMs; -1 waits
// as long as it takes), reads the compositor's events, hands `extra` with their results to
// `polled`, and dispatches. False once the connection broke.
bool turn(wl_display* display, int wakeFd, std::vector<pollfd> extra, int timeoutMs,
          const std::function<void(const std::vector<pollfd>& extra)>& polled = {});

} // namespace snipjar::wayland
