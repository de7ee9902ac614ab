#include "X11TestClients.h"

#include "platform/x11/X11DesktopNotifier.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
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
    struct Received {
        QString appName;
        QString summary;
        QString body;
        int timeout = 0;
    };
    QList<Received> received;

public slots:
    uint Notify(const QString& appName, uint, const QString&, const QString& summary, const QString& body,
                const QStringList&, const QVariantMap&, int timeout) {
        received.append(Received{appName, summary, body, timeout});
        return uint(received.size());
    }
};

} // namespace

// A notification is a Notify call to the freedesktop notification service.
TEST(X11DesktopNotifier, SendsNotifyToTheSessionService) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        GTEST_SKIP() << "no session bus";
    }
    NotificationService service;
    ASSERT_TRUE(
        bus.registerObject("/org/freedesktop/Notifications", &service, QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(bus.registerService("org.freedesktop.Notifications"));

    X11DesktopNotifier notifier;
    notifier.notify("Automatic paste is unavailable",
                    "The clip is on the clipboard; press Ctrl+V to paste it.");
    ASSERT_TRUE(waitUntil([&] { return !service.received.isEmpty(); }));
    EXPECT_EQ(service.received[0].appName, "Snipjar");
    EXPECT_EQ(service.received[0].summary, "Automatic paste is unavailable");
    EXPECT_EQ(service.received[0].body, "The clip is on the clipboard; press Ctrl+V to paste it.");
    EXPECT_EQ(service.received[0].timeout, -1);

    bus.unregisterService("org.freedesktop.Notifications");
    bus.unregisterObject("/org/freedesktop/Notifications");
}

// Without a notification service the call goes nowhere and nothing waits for it.
TEST(X11DesktopNotifier, MissingServiceIsHarmless) {
    X11DesktopNotifier notifier;
    notifier.notify("Nobody", "listens");
    spinEventLoop(50);
}

#include "X11DesktopNotifierTest.moc"
