#include "platform/DeviceIdentity.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <gtest/gtest.h>

using snipjar::DeviceIdentity;

// The machine id is never the device id: the id is keyed by it for this application alone, as
// systemd derives application-specific ids, in the same upper-case hyphenated UUID shape; anything
// that is no machine id is refused.
TEST(DeviceIdentity, TheDeviceIDIsAnApplicationSpecificHashOfTheMachineID) {
    EXPECT_EQ(DeviceIdentity::uuidFromMachineID("0123456789abcdef0123456789abcdef\n"),
              QStringLiteral("01234567-89AB-CDEF-0123-456789ABCDEF"));
    EXPECT_EQ(DeviceIdentity::appSpecificID("0123456789abcdef0123456789abcdef\n"),
              QStringLiteral("0F700647-168B-4BA4-AD00-16D4EAF49FB7"));
    for (const QByteArray& refused :
         {QByteArray(), QByteArray("uninitialized\n"), QByteArray("00000000000000000000000000000000")}) {
        EXPECT_TRUE(DeviceIdentity::uuidFromMachineID(refused).isEmpty());
        EXPECT_TRUE(DeviceIdentity::appSpecificID(refused).isEmpty());
    }

    // systemd's own derivation of this machine's id agrees, where both are there to ask.
    QFile machineID(QStringLiteral("/etc/machine-id"));
    const QString tool = QStandardPaths::findExecutable(QStringLiteral("systemd-id128"));
    if (tool.isEmpty() || !machineID.open(QIODevice::ReadOnly)) {
        GTEST_SKIP() << "no systemd-id128 or /etc/machine-id here";
    }
    const QByteArray contents = machineID.readAll();
    QProcess systemd;
    systemd.start(tool, {QStringLiteral("machine-id"),
                         QStringLiteral("--app-specific=") +
                             QString::fromLatin1(DeviceIdentity::applicationID).remove(QLatin1Char('-'))});
    ASSERT_TRUE(systemd.waitForFinished());
    const QString expected = DeviceIdentity::uuidFromMachineID(systemd.readAllStandardOutput());
    ASSERT_FALSE(expected.isEmpty());
    EXPECT_EQ(DeviceIdentity::appSpecificID(contents), expected);
    EXPECT_NE(expected, DeviceIdentity::uuidFromMachineID(contents));
    if (qEnvironmentVariableIsEmpty("SNIPJAR_DEVICE_ID")) {
        EXPECT_EQ(DeviceIdentity::currentDeviceID(), expected);
        EXPECT_EQ(DeviceIdentity::previousDeviceID(), DeviceIdentity::uuidFromMachineID(contents));
    }
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
