#include "platform/x11/X11DesktopNotifier.h"

#include "platform/AppIdentity.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>

namespace snipjar {

void X11DesktopNotifier::notify(const QString& summary, const QString& body) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    const QVariantMap hints{{QStringLiteral("desktop-entry"), AppIdentity::identifier()}};
    call << QStringLiteral("Snipjar") << uint(0) << QString() << summary << body << QStringList() << hints
         << int(-1);
    // Fire and forget: the answer (the notification's id) is not needed, and a missing service
    // must not stall the caller.
    bus.call(call, QDBus::NoBlock);
}

} // namespace snipjar
