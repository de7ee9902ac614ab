#include "panel/PreviewText.h"

#include <gtest/gtest.h>

namespace snipjar::test {
namespace {

// Lines are the pieces between line breaks, without the empty piece after a final break.
TEST(PreviewTextTest, LinesCountBreaksOfEveryKind) {
    EXPECT_EQ(PreviewText::countLines(u""), 0);
    EXPECT_EQ(PreviewText::countLines(u"a"), 1);
    EXPECT_EQ(PreviewText::countLines(u"a\nb\n"), 2);
    EXPECT_EQ(PreviewText::countLines(u"\n"), 1);
    EXPECT_EQ(PreviewText::countLines(u"a\n\nb"), 3);
    EXPECT_EQ(PreviewText::countLines(u"a\r\nb\r\n"), 2);
    EXPECT_EQ(PreviewText::countLines(u"a\rb\u2028c\u2029d\u0085e\u000Bf\u000Cg"), 7);
}

// Characters are what a reader sees; the cut never splits one, and counts cover the whole text.
TEST(PreviewTextTest, CutAndCountsUseUserPerceivedCharacters) {
    const QString accented = QStringLiteral("e\u0301");
    const PreviewText text = PreviewText::from(QString(9'999, QLatin1Char('a')) + accented + accented,
                                               PreviewText::Counts::include);
    EXPECT_EQ(text.shown, QString(9'999, QLatin1Char('a')) + accented);
    EXPECT_TRUE(text.truncated);
    EXPECT_EQ(text.charCount, 10'001);

    const PreviewText exact =
        PreviewText::from(QString(10'000, QLatin1Char('a')), PreviewText::Counts::include);
    EXPECT_FALSE(exact.truncated);
    EXPECT_EQ(PreviewText::from(QStringLiteral("a\r\nb"), PreviewText::Counts::include).charCount, 3);
    EXPECT_EQ(PreviewText::from(QString(), PreviewText::Counts::include).lineCount, 0);
    EXPECT_EQ(PreviewText::from(QStringLiteral("ab"), PreviewText::Counts::omit).charCount, std::nullopt);
}

} // namespace
} // namespace snipjar::test
