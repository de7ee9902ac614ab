#include "panel/PreviewText.h"
#include "panel/DisplayText.h"
#include "panel/PreviewDetails.h"

#include <gtest/gtest.h>

namespace snipjar::test {
namespace {

using namespace Qt::StringLiterals;

const QLocale english(QLocale::English, QLocale::UnitedStates);

// A row title is one line: whitespace runs collapse to one space, none at the ends, only the first
// 500 characters count, and bidirectional controls are dropped.
TEST(PreviewTextTest, DisplayTextIsOneCleanLine) {
    const QString a499(499, u'a');
    for (const auto& [text, shown] : {std::pair{u"a   \nb"_s, u"a b"_s},
                                      {u"\t x\r\n\u0007y \u2028"_s, u"x y"_s},
                                      {a499 + u"  tail"_s, a499},
                                      {u" \n "_s, QString()},
                                      {u"\u202Eabc\u2066d\u2069 \u200F\u061C"_s, u"abcd"_s}}) {
        EXPECT_EQ(displayText(text), shown) << text.toStdString();
    }
}

// Counts are singular for one and grouped by the locale; the age names the largest whole unit either
// way; one computer is named alone, more add the others' count.
TEST(PreviewTextTest, DetailsInWords) {
    EXPECT_EQ(statisticsText(1, 1, english), u"1 line \u00B7 1 character"_s);
    EXPECT_EQ(statisticsText(1204, 65536, english), u"1,204 lines \u00B7 65,536 characters"_s);
    EXPECT_EQ(pixelSizeText(1920, 1080), u"1920 \u00D7 1080"_s);
    const QDateTime now(QDate(2024, 6, 15), QTime(12, 0), Qt::UTC);
    for (const auto& [ago, text] : {std::pair{20LL, u"now"_s},
                                    {60LL, u"1 minute ago"_s},
                                    {300LL, u"5 minutes ago"_s},
                                    {3 * 3600LL, u"3 hours ago"_s},
                                    {30 * 3600LL, u"yesterday"_s},
                                    {3 * 86400LL, u"3 days ago"_s},
                                    {8 * 86400LL, u"last week"_s},
                                    {70 * 86400LL, u"2 months ago"_s},
                                    {800 * 86400LL, u"2 years ago"_s},
                                    {-2 * 3600LL, u"in 2 hours"_s},
                                    {-86400LL, u"tomorrow"_s}}) {
        EXPECT_EQ(relativeAgeText(now.addSecs(-ago), now, english), text) << ago;
    }
    EXPECT_EQ(originsText({}), QString());
    EXPECT_EQ(originsText({u"Laptop"_s}), u"Laptop"_s);
    EXPECT_EQ(originsText({u"Laptop"_s, u"Desk"_s, u"Work"_s}), u"Laptop +2"_s);
}

// Lines are the pieces between line breaks of every kind, without the empty piece after a final
// break. Characters are what a reader sees: the cut never splits one, and counts cover the whole text.
TEST(PreviewTextTest, LinesAndUserPerceivedCharacters) {
    for (const auto& [text, lines] : {std::pair{u""_s, 0},
                                      {u"a"_s, 1},
                                      {u"a\nb\n"_s, 2},
                                      {u"\n"_s, 1},
                                      {u"a\n\nb"_s, 3},
                                      {u"a\r\nb\r\n"_s, 2},
                                      {u"a\rb\u2028c\u2029d\u0085e\u000Bf\u000Cg"_s, 7}}) {
        EXPECT_EQ(PreviewText::countLines(text), lines) << text.toStdString();
    }
    const QString accented = u"e\u0301"_s;
    const PreviewText text =
        PreviewText::from(QString(9'999, u'a') + accented + accented, PreviewText::Counts::include);
    EXPECT_EQ(text.shown, QString(9'999, u'a') + accented);
    EXPECT_TRUE(text.truncated);
    EXPECT_EQ(text.charCount, 10'001);
    EXPECT_FALSE(PreviewText::from(QString(10'000, u'a'), PreviewText::Counts::include).truncated);
    EXPECT_EQ(PreviewText::from(u"a\r\nb"_s, PreviewText::Counts::include).charCount, 3);
    EXPECT_EQ(PreviewText::from(u"ab"_s, PreviewText::Counts::omit).charCount, std::nullopt);
}

} // namespace
} // namespace snipjar::test
