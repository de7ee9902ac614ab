#include "platform/DeviceIdentity.h"

#include <QFile>
#include <QProcess>
#include <gtest/gtest.h>

using snipjar::DeviceIdentity;

// The machine id is never the device id: the device id is derived from it for this application
// alone, as systemd derives application-specific ids (and its own tool agrees where it is there).
TEST(DeviceIdentity, TheDeviceIDIsAnApplicationSpecificHashOfTheMachineID) {
    EXPECT_EQ(DeviceIdentity::appSpecificID("0123456789abcdef0123456789abcdef\n"),
              QStringLiteral("0F700647-168B-4BA4-AD00-16D4EAF49FB7"));
    for (const char* refused : {"", "uninitialized\n", "00000000000000000000000000000000"}) {
        EXPECT_TRUE(DeviceIdentity::appSpecificID(refused).isEmpty());
    }
    QFile machineID(QStringLiteral("/etc/machine-id"));
    QProcess systemd;
    systemd.start(QStringLiteral("systemd-id128"),
                  {QStringLiteral("machine-id"),
                   QStringLiteral("--app-specific=") + QString::fromLatin1(DeviceIdentity::applicationID)});
    if (!systemd.waitForFinished() || !machineID.open(QIODevice::ReadOnly)) {
        GTEST_SKIP() << "no systemd-id128 or /etc/machine-id here";
    }
    const QByteArray contents = machineID.readAll();
    EXPECT_EQ(DeviceIdentity::appSpecificID(contents),
              DeviceIdentity::uuidFromMachineID(systemd.readAllStandardOutput()));
    EXPECT_EQ(DeviceIdentity::previousDeviceID(), DeviceIdentity::uuidFromMachineID(contents));
}

// The override takes a UUID in its usual spellings; anything else is refused.
TEST(DeviceIdentity, OverrideTakesAUUIDOnly) {
    const QString expected = QStringLiteral("0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9");
    EXPECT_EQ(DeviceIdentity::uuidFromOverride("0a1b2c3d-4e5f-6071-8293-a4b5c6d7e8f9"), expected);
    EXPECT_EQ(DeviceIdentity::uuidFromOverride("{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}\n"), expected);
    EXPECT_EQ(DeviceIdentity::uuidFromOverride("0a1b2c3d4e5f60718293a4b5c6d7e8f9"), expected);
    EXPECT_TRUE(DeviceIdentity::uuidFromOverride("laptop").isEmpty());
    EXPECT_TRUE(DeviceIdentity::uuidFromOverride("0a1b2c3d-4e5f-6071-8293-a4b5c6d7e8f").isEmpty());
    EXPECT_TRUE(DeviceIdentity::uuidFromOverride("0a1b-2c3d4e5f-6071-8293-a4b5c6d7e8f9").isEmpty());
}
