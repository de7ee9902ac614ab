#include "platform/x11/QtDisplayWatch.h"

#include <QAbstractEventDispatcher>
#include <QGuiApplication>

#pragma push_macro("signals")
#undef signals
#include <glib.h>
#pragma pop_macro("signals")
#include <X11/Xlib.h>
#include <xcb/xcb.h>

namespace snipjar {

struct QtDisplayWatch::Source {
    GSource base;
    xcb_connection_t* connection;
    std::function<void()>* lost;
};

namespace {

gboolean connectionBroke(GSource* source, gint* timeout) {
    if (timeout) {
        *timeout = -1;
    }
    return xcb_connection_has_error(reinterpret_cast<QtDisplayWatch::Source*>(source)->connection) != 0;
}

gboolean connectionBrokeAfterPoll(GSource* source) {
    return connectionBroke(source, nullptr);
}

gboolean reportLostConnection(GSource* source, GSourceFunc, gpointer) {
    (*reinterpret_cast<QtDisplayWatch::Source*>(source)->lost)();
    return G_SOURCE_REMOVE;
}

// Xlib, which Qt's xcb plugin also uses, calls its own exit(1) when it meets the broken connection
// first; its handler is process-wide, so the callback is too.
std::function<void()>* xlibLost = nullptr;

int reportXlibIOError(Display*) {
    if (xlibLost) {
        (*xlibLost)();
    }
    return 0;
}

GSourceFuncs watchFunctions = {
    &connectionBroke, &connectionBrokeAfterPoll, &reportLostConnection, nullptr, nullptr, nullptr};

} // namespace

QtDisplayWatch::QtDisplayWatch(std::function<void()> lost)
    : callback(std::make_unique<std::function<void()>>(std::move(lost))) {
    auto* application = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    auto* x11 = application ? application->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    const QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
    if (x11 && x11->display()) {
        xlibLost = callback.get();
        XSetIOErrorHandler(&reportXlibIOError);
    }
    if (!x11 || !x11->connection() || !dispatcher || !dispatcher->inherits("QEventDispatcherGlib")) {
        return;
    }
    source = reinterpret_cast<Source*>(g_source_new(&watchFunctions, sizeof(Source)));
    source->connection = x11->connection();
    source->lost = callback.get();
    g_source_set_priority(&source->base, G_PRIORITY_HIGH);
    g_source_attach(&source->base, g_main_context_default());
}

QtDisplayWatch::~QtDisplayWatch() {
    if (xlibLost == callback.get()) {
        XSetIOErrorHandler(nullptr);
        xlibLost = nullptr;
    }
    if (source) {
        g_source_destroy(&source->base);
        g_source_unref(&source->base);
    }
}

} // namespace snipjar
