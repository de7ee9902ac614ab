#include "panel/widgets/PanelKeyMonitor.h"

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>

namespace snipjar {

PanelKeyMonitor::PanelKeyMonitor(QWidget* window, Handler handler)
    : window(window)
    , handler(std::move(handler)) {
    QCoreApplication::instance()->installEventFilter(this);
}

PanelKeyMonitor::~PanelKeyMonitor() {
    if (QCoreApplication* application = QCoreApplication::instance()) {
        application->removeEventFilter(this);
    }
}

bool PanelKeyMonitor::eventFilter(QObject* watched, QEvent* event) {
    // Tab reaches widgets as a shortcut override first; the panel keeps it for its own use.
    // Releases are shown too: the panel tells a held key from a new press by them.
    const bool isKey = event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease ||
                       event->type() == QEvent::ShortcutOverride;
    if (!isKey || !window || !handler) {
        return false;
    }
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || widget->window() != window) {
        return false;
    }
    auto* key = static_cast<QKeyEvent*>(event);
    if (event->type() == QEvent::ShortcutOverride) {
        // Accepting the override makes the press arrive as a key press, where it is handled.
        event->accept();
        return true;
    }
    return handler(key);
}

} // namespace snipjar
