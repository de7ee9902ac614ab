#include "panel/PreviewDetails.h"
#include "PanelTestSupport.h"
#include "panel/DisplayText.h"

namespace snipjar::test {
namespace {

const QLocale english(QLocale::English, QLocale::UnitedStates);

// A row title is one line: whitespace runs of any kind collapse to one space, none at the ends, and
// only the first 500 characters are looked at.
TEST(DisplayTextTest, CollapsesWhitespaceAndCutsFirst) {
    EXPECT_EQ(displayText(QStringLiteral("a   \nb")), QStringLiteral("a b"));
    EXPECT_EQ(displayText(QStringLiteral("\t x\r\n\u0007y \u2028")), QStringLiteral("x y"));
    EXPECT_EQ(displayText(QString(499, QLatin1Char('a')) + QStringLiteral("  tail")),
              QString(499, QLatin1Char('a')));
    EXPECT_EQ(displayText(QStringLiteral(" \n ")), QString());
    // Bidirectional controls would reverse the title or leak its direction: they are dropped.
    EXPECT_EQ(displayText(QStringLiteral("\u202Eabc\u2066d\u2069 \u200F\u061C")), QStringLiteral("abcd"));
}

// Counts use the singular for exactly one and group larger numbers as the locale does.
TEST(StatisticsTextTest, SingularPluralAndGrouping) {
    EXPECT_EQ(statisticsText(1, 1, english), QStringLiteral("1 line \u00B7 1 character"));
    EXPECT_EQ(statisticsText(0, 0, english), QStringLiteral("0 lines \u00B7 0 characters"));
    EXPECT_EQ(statisticsText(1204, 65536, english), QStringLiteral("1,204 lines \u00B7 65,536 characters"));
    EXPECT_EQ(pixelSizeText(1920, 1080), QStringLiteral("1920 \u00D7 1080"));
}

// The age names the largest whole unit, with the named words for one unit, in both directions.
TEST(RelativeAgeTextTest, LargestUnitNamedWhenOne) {
    const QDateTime now(QDate(2024, 6, 15), QTime(12, 0), Qt::UTC);
    const auto ago = [&](qint64 seconds) { return relativeAgeText(now.addSecs(-seconds), now, english); };
    EXPECT_EQ(ago(20), QStringLiteral("now"));
    EXPECT_EQ(ago(60), QStringLiteral("1 minute ago"));
    EXPECT_EQ(ago(5 * 60), QStringLiteral("5 minutes ago"));
    EXPECT_EQ(ago(3 * 3600), QStringLiteral("3 hours ago"));
    EXPECT_EQ(ago(30 * 3600), QStringLiteral("yesterday"));
    EXPECT_EQ(ago(3 * 86400), QStringLiteral("3 days ago"));
    EXPECT_EQ(ago(8 * 86400), QStringLiteral("last week"));
    EXPECT_EQ(ago(70 * 86400), QStringLiteral("2 months ago"));
    EXPECT_EQ(ago(800 * 86400), QStringLiteral("2 years ago"));
    EXPECT_EQ(relativeAgeText(now.addSecs(2 * 3600), now, english), QStringLiteral("in 2 hours"));
    EXPECT_EQ(relativeAgeText(now.addDays(1), now, english), QStringLiteral("tomorrow"));
}

// One computer is named alone; more add the count of the others.
TEST(OriginsTextTest, FirstNameAndCountOfOthers) {
    EXPECT_EQ(originsText({}), QString());
    EXPECT_EQ(originsText({QStringLiteral("Laptop")}), QStringLiteral("Laptop"));
    EXPECT_EQ(originsText({QStringLiteral("Laptop"), QStringLiteral("Desk"), QStringLiteral("Work")}),
              QStringLiteral("Laptop +2"));
}

} // namespace
} // namespace snipjar::test
