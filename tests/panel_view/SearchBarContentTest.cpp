#include "panel/widgets/SearchBarContent.h"
#include "ViewTestSupport.h"
#include "panel/widgets/SyncSpinner.h"

#include <QLabel>

namespace snipjar::test {
namespace {

using namespace Qt::StringLiterals;

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
    EXPECT_EQ(bar.queryLabel()->text(), u"Search clipboard\u2026"_s);
    model->setTypeScope(TypeScope::image);
    EXPECT_EQ(bar.queryLabel()->text(), u"Search images\u2026"_s);
    model->setQuery(u"cat"_s);
    EXPECT_EQ(bar.queryLabel()->text(), u"cat"_s);
    // A query longer than the bar keeps the characters just typed in view.
    model->setQuery(QString(300, QLatin1Char('x')) + u"END"_s);
    EXPECT_TRUE(bar.queryLabel()->text().startsWith(QChar(0x2026))) << bar.queryLabel()->text().toStdString();
    EXPECT_TRUE(bar.queryLabel()->text().endsWith(u"END"_s));
    snapshot(bar, u"search-long"_s);
}

// At its end the bar shows the spinner while syncing, else the Tab hint under every kind, else
// nothing.
TEST_F(SearchBarContentTest, SpinnerOrTabHintOrNothing) {
    EXPECT_TRUE(bar.hintLabel()->isVisible());
    EXPECT_EQ(bar.hintLabel()->text(), u"Tab"_s);
    EXPECT_FALSE(bar.spinner()->isVisible());
    snapshot(bar, u"search"_s);

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
