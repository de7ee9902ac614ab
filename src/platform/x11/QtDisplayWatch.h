#pragma once

#include <functional>
#include <memory>

namespace snipjar {

// Calls back, on the main thread, as soon as Qt's own X connection has broken. Qt's xcb plugin ends
// the process with exit(1) the moment it sees that, without unwinding, so this is the last point
// where the application can still finish its work in an orderly way. The watch is a glib source of
// higher priority than Qt's: in the event loop iteration that the broken connection wakes, it is
// dispatched and Qt's X events are not. It also takes Xlib's I/O error handler, for Qt's Xlib
// display meeting the broken connection first. Without an X connection it does nothing.
class QtDisplayWatch {
public:
    // Set up after the QGuiApplication exists. The callback is not expected to return.
    explicit QtDisplayWatch(std::function<void()> lost);
    ~QtDisplayWatch();
    QtDisplayWatch(const QtDisplayWatch&) = delete;
    QtDisplayWatch& operator=(const QtDisplayWatch&) = delete;

    // The glib source; its callbacks are file-local.
    struct Source;

private:
    Source* source = nullptr;
    std::unique_ptr<std::function<void()>> callback;
};

} // namespace snipjar
