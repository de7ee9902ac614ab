#include "app/update/UpdateSchedule.h"

#include <gtest/gtest.h>

using namespace snipjar;

// Once a day after the last answered check; never checked, or a last check in the future (a clock
// set back), is due at once.
TEST(UpdateSchedule, DueOnceADay) {
    const QDateTime now = QDateTime(QDate(2026, 3, 1), QTime(12, 0), Qt::UTC);
    EXPECT_TRUE(UpdateSchedule::isDue(std::nullopt, now));
    EXPECT_FALSE(UpdateSchedule::isDue(now.addSecs(-23 * 3600 - 3599), now));
    EXPECT_TRUE(UpdateSchedule::isDue(now.addSecs(-24 * 3600), now));
    EXPECT_TRUE(UpdateSchedule::isDue(now.addSecs(60), now));
    EXPECT_FALSE(UpdateSchedule::isDue(now, now));
}
