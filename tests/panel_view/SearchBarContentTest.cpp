#include "panel/widgets/SearchBarContent.h"
#include "ViewTestSupport.h"
#include "panel/widgets/SyncSpinner.h"

#include <QLabel>

namespace snipjar::test {
namespace {

class SearchBarContentTest : public ViewTest {
protected:
    SearchBarContentTest() {
        bar.resize(560, 56);
        bar.show();
    }

    SearchBarContent bar{*model};
};

// The bar shows the typed query, or the kind filter's placeholder while nothing is typed.
TEST_F(SearchBarContentTest, QueryOrPlaceholder) {
    EXPECT_EQ(bar.queryLabel()->text(), QStringLiteral("Search clipboard\u2026"));
    model->setTypeScope(TypeScope::image);
    EXPECT_EQ(bar.queryLabel()->text(), QStringLiteral("Search images\u2026"));
    model->setQuery(QStringLiteral("cat"));
    EXPECT_EQ(bar.queryLabel()->text(), QStringLiteral("cat"));
    // A query longer than the bar keeps the characters just typed in view.
    model->setQuery(QString(300, QLatin1Char('x')) + QStringLiteral("END"));
    EXPECT_TRUE(bar.queryLabel()->text().startsWith(QChar(0x2026))) << bar.queryLabel()->text().toStdString();
    EXPECT_TRUE(bar.queryLabel()->text().endsWith(QStringLiteral("END")));
    snapshot(bar, QStringLiteral("search-long"));
}

// At its end the bar shows the spinner while syncing, else the Tab hint under every kind, else
// nothing.
TEST_F(SearchBarContentTest, SpinnerOrTabHintOrNothing) {
    EXPECT_TRUE(bar.hintLabel()->isVisible());
    EXPECT_EQ(bar.hintLabel()->text(), QStringLiteral("Tab"));
    EXPECT_FALSE(bar.spinner()->isVisible());
    snapshot(bar, QStringLiteral("search"));

    model->setIsSyncing(true);
    EXPECT_TRUE(bar.spinner()->isVisible());
    EXPECT_TRUE(bar.spinner()->isTurning());
    EXPECT_FALSE(bar.hintLabel()->isVisible());

    bar.hide();
    EXPECT_FALSE(bar.spinner()->isTurning());
    bar.show();

    model->setIsSyncing(false);
    model->setTypeScope(TypeScope::file);
    EXPECT_FALSE(bar.spinner()->isVisible());
    EXPECT_FALSE(bar.spinner()->isTurning());
    EXPECT_FALSE(bar.hintLabel()->isVisible());
}

} // namespace
} // namespace snipjar::test
