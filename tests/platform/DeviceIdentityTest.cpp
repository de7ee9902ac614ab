#include "platform/DeviceIdentity.h"

#include <gtest/gtest.h>

using snipjar::DeviceIdentity;

// The machine id becomes an upper-case hyphenated UUID; anything else is refused.
TEST(DeviceIdentity, MachineIDBecomesUpperCaseUUID) {
    EXPECT_EQ(DeviceIdentity::uuidFromMachineID("0123456789abcdef0123456789abcdef\n"),
              QStringLiteral("01234567-89AB-CDEF-0123-456789ABCDEF"));
    EXPECT_TRUE(DeviceIdentity::uuidFromMachineID("").isEmpty());
    EXPECT_TRUE(DeviceIdentity::uuidFromMachineID("uninitialized\n").isEmpty());
    EXPECT_TRUE(DeviceIdentity::uuidFromMachineID("00000000000000000000000000000000").isEmpty());
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
