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
