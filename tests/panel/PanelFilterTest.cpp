#include "PanelTestSupport.h"

namespace snipjar::test {
namespace {

using PanelFilterTest = PanelTest;

// The query matches a case-insensitive substring of the title, folding letter case only.
TEST_F(PanelFilterTest, QueryMatchesCaseInsensitiveSubstringOnly) {
    model->setRows({row(QStringLiteral("Say abc please")), row(QStringLiteral("café au lait")),
                    row(QStringLiteral("cafe\u0301 decomposed")), row(QStringLiteral("GRÖSSE und Größe")),
                    row(QStringLiteral("two  spaces")), row(QStringLiteral("ｗｉｄｅ")),
                    row(QStringLiteral("Meſſe"))});
    const auto matching = [this](const QString& query) {
        model->setQuery(query);
        return visibleTexts();
    };
    EXPECT_EQ(matching(QStringLiteral("ABC")), QStringList{QStringLiteral("Say abc please")});
    // No diacritic folding, whatever normal form the accent is stored in.
    EXPECT_EQ(matching(QStringLiteral("cafe")), QStringList{});
    EXPECT_EQ(matching(QStringLiteral("CAFÉ")),
              (QStringList{QStringLiteral("café au lait"), QStringLiteral("cafe\u0301 decomposed")}));
    EXPECT_EQ(matching(QStringLiteral("größe")), QStringList{QStringLiteral("GRÖSSE und Größe")});
    EXPECT_EQ(matching(QStringLiteral("ö")), QStringList{QStringLiteral("GRÖSSE und Größe")});
    // The long s folds into an ASCII letter.
    EXPECT_EQ(matching(QStringLiteral("MESSE")), QStringList{QStringLiteral("Meſſe")});
    // No width folding, no trimming, no splitting into words.
    EXPECT_EQ(matching(QStringLiteral("wide")), QStringList{});
    EXPECT_EQ(matching(QStringLiteral("o  s")), QStringList{QStringLiteral("two  spaces")});
    EXPECT_EQ(matching(QStringLiteral(" two")), QStringList{});
    EXPECT_EQ(matching(QStringLiteral("please abc")), QStringList{});
    // A match never runs from one title into the next.
    EXPECT_EQ(matching(QStringLiteral("lait cafe")), QStringList{});
    EXPECT_EQ(matching(QString()).size(), 7);
}

// The kind filter, the computer filter and the query must all pass; the order of all() is kept.
TEST_F(PanelFilterTest, ScopesAndQueryCombineInRowOrder) {
    const MacRef desk{QStringLiteral("DESK"), QStringLiteral("Desk")};
    const MacRef laptop{QStringLiteral("LAPTOP"), QStringLiteral("Laptop")};
    model->setRows({row(QStringLiteral("note one"), ClipKind::text, {desk}),
                    row(QStringLiteral("picture"), ClipKind::image, {laptop}, true),
                    row(QStringLiteral("styled note"), ClipKind::richText, {laptop, desk}),
                    row(QStringLiteral("odd note"), ClipKind::unknown, {laptop}),
                    row(QStringLiteral("report.pdf"), ClipKind::file, {desk}, true)});
    const auto visibleWith = [this](TypeScope scope, std::optional<QString> mac, const QString& query) {
        model->setTypeScope(scope);
        model->setMacScope(mac);
        model->setQuery(query);
        return visibleTexts();
    };
    EXPECT_EQ(
        visibleWith(TypeScope::text, std::nullopt, QString()),
        (QStringList{QStringLiteral("note one"), QStringLiteral("styled note"), QStringLiteral("odd note")}));
    EXPECT_EQ(visibleWith(TypeScope::image, std::nullopt, QString()), QStringList{QStringLiteral("picture")});
    EXPECT_EQ(visibleWith(TypeScope::file, std::nullopt, QString()),
              QStringList{QStringLiteral("report.pdf")});
    EXPECT_EQ(visibleWith(TypeScope::pinned, std::nullopt, QString()),
              (QStringList{QStringLiteral("picture"), QStringLiteral("report.pdf")}));
    EXPECT_EQ(visibleWith(TypeScope::all, desk.id, QString()),
              (QStringList{QStringLiteral("note one"), QStringLiteral("styled note"),
                           QStringLiteral("report.pdf")}));
    EXPECT_EQ(visibleWith(TypeScope::text, desk.id, QStringLiteral("NOTE")),
              (QStringList{QStringLiteral("note one"), QStringLiteral("styled note")}));
    EXPECT_EQ(visibleWith(TypeScope::all, QStringLiteral("desk"), QString()), QStringList{});
}

} // namespace
} // namespace snipjar::test
