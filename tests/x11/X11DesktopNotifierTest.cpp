#include "X11TestClients.h"

#include "platform/x11/X11DesktopNotifier.h"

#include <QDBusConnection>
#include <QObject>
#include <QVariantMap>

#include <gtest/gtest.h>

using namespace snipjar;
using namespace snipjar::test;

namespace {

// Stands in for the desktop's notification daemon on the private session bus.
class NotificationService : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    // Application name, summary, body and timeout of each call.
    QList<QStringList> received;

public slots:
    uint Notify(const QString& appName, uint, const QString&, const QString& summary, const QString& body,
                const QStringList&, const QVariantMap&, int timeout) {
        received.append({appName, summary, body, QString::number(timeout)});
        return uint(received.size());
    }
};

} // namespace

// A notification is a Notify call to the freedesktop notification service; without the service
// the call goes nowhere and nothing waits for it.
TEST(X11DesktopNotifier, SendsNotifyToTheSessionService) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        GTEST_SKIP() << "no session bus";
    }
    X11DesktopNotifier notifier;
    notifier.notify("Nobody", "listens");
    NotificationService service;
    ASSERT_TRUE(
        bus.registerObject("/org/freedesktop/Notifications", &service, QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(bus.registerService("org.freedesktop.Notifications"));

    notifier.notify("Automatic paste is unavailable", "Press Ctrl+V to paste the clip.");
    ASSERT_TRUE(waitUntil([&] { return !service.received.isEmpty(); }));
    EXPECT_EQ(service.received[0], (QStringList{"Snipjar", "Automatic paste is unavailable",
                                                "Press Ctrl+V to paste the clip.", "-1"}));

    bus.unregisterService("org.freedesktop.Notifications");
    bus.unregisterObject("/org/freedesktop/Notifications");
}

#include "X11DesktopNotifierTest.moc"
