#include "platform/x11/LogindWakeWatcher.h"
#include "AccountTestSupport.h"
#include "platform/x11/X11Platform.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <gtest/gtest.h>

namespace snipjar::test {
namespace {

const QString logindName = QStringLiteral("org.freedesktop.login1");

// logind as the watcher sees it: connections of their own to the test's private session bus, one
// owning logind's name, one that does not and only sends the same signal.
class LogindWakeWatcherTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!QDBusConnection::sessionBus().isConnected()) {
            GTEST_SKIP() << "no private session bus (run through tests/support/with-x.sh)";
        }
        logind = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(QDBusConnection::SessionBus, "fake-logind"));
        impostor = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(QDBusConnection::SessionBus, "impostor"));
        ASSERT_TRUE(logind->registerService(logindName));
    }

    void TearDown() override {
        if (logind) {
            logind->unregisterService(logindName);
            QDBusConnection::disconnectFromBus("fake-logind");
            QDBusConnection::disconnectFromBus("impostor");
        }
    }

    static void announce(QDBusConnection& from, bool sleeping) {
        QDBusMessage signal = QDBusMessage::createSignal("/org/freedesktop/login1",
                                                         "org.freedesktop.login1.Manager", "PrepareForSleep");
        signal << sleeping;
        ASSERT_TRUE(from.send(signal));
        // A round trip through the bus: the signal was routed before the answer comes.
        ASSERT_TRUE(from.interface()->isServiceRegistered(logindName).isValid());
    }

    std::unique_ptr<QDBusConnection> logind;
    std::unique_ptr<QDBusConnection> impostor;
};

// Going to sleep is told apart from waking, and only logind itself is believed: the same signal
// from a connection that does not own logind's name is ignored. Without a bus (a container without
// a system bus) the watcher just never tells anything.
TEST_F(LogindWakeWatcherTest, WakesOnlyWhenLogindSaysSo) {
    EXPECT_FALSE(LogindWakeWatcher(QDBusConnection("never-connected")).isWatching());
    LogindWakeWatcher watcher(QDBusConnection::sessionBus());
    ASSERT_TRUE(watcher.isWatching());
    int sleeps = 0;
    int wakes = 0;
    QObject::connect(&watcher, &LogindWakeWatcher::aboutToSleep, [&] { ++sleeps; });
    QObject::connect(&watcher, &LogindWakeWatcher::didWake, [&] { ++wakes; });

    announce(*impostor, false);
    announce(*logind, true);
    ASSERT_TRUE(waitUntil([&] { return sleeps == 1; }));
    EXPECT_EQ(wakes, 0);
    announce(*logind, false);
    ASSERT_TRUE(waitUntil([&] { return wakes == 1; }));
    EXPECT_EQ(sleeps, 1);

    // Each resume is told once.
    announce(*logind, true);
    announce(*logind, false);
    ASSERT_TRUE(waitUntil([&] { return wakes == 2; }));
    EXPECT_EQ(sleeps, 2);
}

// The X11 platform passes logind's wake on as its didWake, from the system bus (here the private
// bus standing in for it).
TEST_F(LogindWakeWatcherTest, PlatformTellsOfWakingFromTheSystemBus) {
    if (!qEnvironmentVariableIsSet("SNIPJAR_TEST_SYSTEM_BUS") || qEnvironmentVariableIsEmpty("DISPLAY")) {
        GTEST_SKIP() << "no private system bus and X display (run through tests/account/with-keyring.sh)";
    }
    const std::unique_ptr<X11Platform> platform = X11Platform::create();
    ASSERT_TRUE(platform);
    ASSERT_TRUE(platform->wakeWatcher && platform->wakeWatcher->isWatching());
    int wakes = 0;
    QObject::connect(platform.get(), &PlatformServices::didWake, [&] { ++wakes; });
    announce(*logind, true);
    announce(*logind, false);
    ASSERT_TRUE(waitUntil([&] { return wakes == 1; }));
}

} // namespace
} // namespace snipjar::test
