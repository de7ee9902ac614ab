#include "platform/x11/LogindWakeWatcher.h"

#include "platform/LogCategories.h"

namespace snipjar {

LogindWakeWatcher::LogindWakeWatcher(QDBusConnection bus, QObject* parent)
    : QObject(parent) {
    if (!bus.isConnected()) {
        qCDebug(lcPlatform) << "No system bus: waking from sleep is not watched";
        return;
    }
    // QtDBus offers only the slot-name form for bus signals; the slot's signature is checked
    // against the signal's when the match is added.
    watching =
        bus.connect(QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
                    QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"), this,
                    SLOT(prepareForSleep(bool)));
    if (!watching) {
        qCDebug(lcPlatform) << "logind's sleep announcements could not be listened to";
    }
}

void LogindWakeWatcher::prepareForSleep(bool sleeping) {
    if (sleeping) {
        emit aboutToSleep();
    } else {
        emit didWake();
    }
}

} // namespace snipjar
