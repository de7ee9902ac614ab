#include "platform/wayland/DesktopPortal.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QObject>

#include <atomic>

namespace snipjar {

const QString DesktopPortal::service = QStringLiteral("org.freedesktop.portal.Desktop");
const QString DesktopPortal::path = QStringLiteral("/org/freedesktop/portal/desktop");

void DesktopPortal::probe(const QDBusConnection& bus, const QString& interface, QObject* context,
                          std::function<void(uint)> answered) {
    if (!bus.isConnected()) {
        answered(0);
        return;
    }
    QDBusMessage get = QDBusMessage::createMethodCall(
        service, path, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << interface << QStringLiteral("version");
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(get), context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context,
                     [answered = std::move(answered)](QDBusPendingCallWatcher* call) {
                         call->deleteLater();
                         const QDBusMessage reply = call->reply();
                         const QVariant value = reply.arguments().value(0).value<QDBusVariant>().variant();
                         answered(call->isError() ? 0 : value.toUInt());
                     });
}

bool DesktopPortal::request(QDBusConnection& bus, const QString& interface, const QString& method,
                            QVariantList arguments, QVariantMap options, QObject* receiver,
                            const char* slot) {
    static std::atomic<int> nextToken = 1;
    const QString token = QStringLiteral("snipjar%1").arg(nextToken++);
    QString sender = bus.baseService().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    const QString requestPath = path + QStringLiteral("/request/") + sender + QLatin1Char('/') + token;
    if (!bus.connect(service, requestPath, QStringLiteral("org.freedesktop.portal.Request"),
                     QStringLiteral("Response"), receiver, slot)) {
        return false;
    }
    options.insert(QStringLiteral("handle_token"), token);
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, interface, method);
    arguments.append(options);
    call.setArguments(arguments);
    bus.asyncCall(call);
    return true;
}

void DesktopPortal::closeSession(const QDBusConnection& bus, const QString& session) {
    bus.asyncCall(QDBusMessage::createMethodCall(
        service, session, QStringLiteral("org.freedesktop.portal.Session"), QStringLiteral("Close")));
}

} // namespace snipjar
