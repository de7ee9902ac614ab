#include "panel/widgets/ResultsView.h"
#include "ViewTestSupport.h"
#include "panel/widgets/MacChip.h"
#include "panel/widgets/MacFilterRow.h"
#include "panel/widgets/PanelFonts.h"
#include "panel/widgets/RowDelegate.h"
#include "panel/widgets/RowListColumn.h"
#include "panel/widgets/RowListView.h"
#include "panel/widgets/SearchBarContent.h"
#include "panel/widgets/SyncSpinner.h"

#include <QLabel>
#include <QTest>

namespace snipjar::test {
namespace {

using namespace Qt::StringLiterals;

class ResultsViewTest : public ViewTest {
protected:
    ResultsViewTest() {
        view.resize(820, 470);
        view.show();
    }

    QModelIndex rowIndex(int position) const {
        return view.listColumn()->listView()->model()->index(position, 0);
    }
    bool showsLabel(const QString& text) const {
        for (const QLabel* label : view.findChildren<QLabel*>()) {
            if (label->text() == text && label->isVisible()) {
                return true;
            }
        }
        return false;
    }

    ResultsView view{*model, callbacks()};
};

// The list column says when there is nothing at all, and when nothing matches the query.
TEST_F(ResultsViewTest, EmptyHistoryAndNoMatchesAreTold) {
    showPanel();
    EXPECT_TRUE(showsLabel(u"Nothing copied yet"_s));

    file(text(u"hello"_s));
    showPanel();
    model->setQuery(u"zzz"_s);
    EXPECT_TRUE(showsLabel(u"No matches"_s));
    EXPECT_FALSE(showsLabel(u"Nothing copied yet"_s));
}

// The computer filter appears only for a history from two computers or more, with a chip for
// every computer after "All computers"; a chip reports its computer.
TEST_F(ResultsViewTest, ComputerFilterOnlyForSeveralComputers) {
    file(text(u"here"_s));
    showPanel();
    EXPECT_FALSE(view.macFilterRow()->isVisible());

    put(store->syncContainer(), text(u"there"_s), otherMac, -1);
    store->syncContext().insert(Device{thisMac, u"Desk"_s, std::nullopt});
    ASSERT_TRUE(store->syncContext().save());
    ASSERT_TRUE(showAndWait());
    ASSERT_TRUE(view.macFilterRow()->isVisible());
    QStringList names;
    for (const MacChip* chip : view.macFilterRow()->chips()) {
        names.append(chip->text());
    }
    EXPECT_EQ(names, (QStringList{u"All computers"_s, u"Computer"_s, u"Desk"_s}));

    MacChip* desk = view.macFilterRow()->chips()[names.indexOf(u"Desk"_s)];
    QTest::mouseClick(desk, Qt::LeftButton);
    EXPECT_EQ(selectedMac, std::optional<std::optional<QString>>(thisMac));
}

// The first nine rows carry Ctrl+1 to Ctrl+9; the tenth paints no badge, yet its title starts
// where the titles above it start. A click reports the row to select, a double click the row to
// paste; the view's selection stays the model's.
TEST_F(ResultsViewTest, TenthRowHasNoBadgeButAlignedTitleAndClicksReportTheirRow) {
    for (int i = 0; i < 12; ++i) {
        file(text(u"clip %1"_s.arg(i)));
    }
    ASSERT_TRUE(showAndWait());
    RowListView* list = view.listColumn()->listView();
    const QRect first = list->visualRect(rowIndex(0));
    const QRect tenth = list->visualRect(rowIndex(9));
    ASSERT_TRUE(list->viewport()->rect().contains(tenth));
    EXPECT_EQ(RowDelegate::badgeText(0), u"Ctrl+1"_s);
    EXPECT_EQ(RowDelegate::badgeText(8), u"Ctrl+9"_s);
    EXPECT_EQ(RowDelegate::titleRect(tenth).left(), RowDelegate::titleRect(first).left());

    const QImage painted = paintOnly(*list->viewport());
    EXPECT_GT(paintedPixels(painted, RowDelegate::badgeRect(list->visualRect(rowIndex(8)))), 0);
    EXPECT_EQ(paintedPixels(painted, RowDelegate::badgeRect(tenth)), 0);
    // The badge column holds its widest text.
    EXPECT_GE(RowDelegate::badgeRect(first).width(),
              QFontMetrics(PanelFonts::caption2()).horizontalAdvance(u"Ctrl+9"_s));

    const QPoint third = list->visualRect(rowIndex(2)).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, third);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, third);
    EXPECT_EQ(selectedRows.value(0), 2);
    EXPECT_EQ(pastedRows, QList<int>{2});
    EXPECT_EQ(model->selection(), 0);
}

// A right-to-left title reads from the title column's right edge.
TEST_F(ResultsViewTest, RightToLeftTitlesStartAtTheRight) {
    file(text(u"שלום עולם"_s));
    file(text(u"hello"_s));
    ASSERT_TRUE(showAndWait());
    const int hebrew = model->visibleRow(0).text == u"hello"_s ? 1 : 0;
    model->setSelection(1 - hebrew);
    RowListView* list = view.listColumn()->listView();
    const QImage painted = paintOnly(*list->viewport());
    const QRect title = RowDelegate::titleRect(list->visualRect(rowIndex(hebrew)));
    const int half = title.width() / 2;
    EXPECT_EQ(paintedPixels(painted, title.adjusted(0, 0, -half, 0)), 0);
    EXPECT_GT(paintedPixels(painted, title.adjusted(half, 0, 0, 0)), 0);
}

// A concealed row hides its value from the eye and from the screen reader; other rows are read as
// their kind, their one-line text and their pin.
TEST_F(ResultsViewTest, RowsAreReadOutWithoutSecrets) {
    Clip secret = text(u"hunter2"_s);
    secret.concealed = true;
    put(store->localContainer(), secret, thisMac, 0);
    put(store->syncContainer(), text(u"a   \nb"_s), thisMac, 10, true);
    ASSERT_TRUE(showAndWait());
    ASSERT_EQ(model->visibleCount(), 2);
    const int secretRow = model->visibleRow(0).concealed ? 0 : 1;
    EXPECT_EQ(rowIndex(secretRow).data(Qt::AccessibleTextRole).toString(), u"Secure item, value hidden"_s);
    EXPECT_EQ(rowIndex(secretRow).data(Qt::DisplayRole).toString(), QString(8, QChar(0x2022)));
    EXPECT_EQ(rowIndex(1 - secretRow).data(Qt::AccessibleTextRole).toString(), u"Text: a b, pinned"_s);
}

class SearchBarContentTest : public ViewTest {
protected:
    SearchBarContentTest() {
        bar.resize(560, 56);
        bar.show();
    }

    SearchBarContent bar{*model};
};

// The bar shows the typed query, or the kind filter's placeholder while nothing is typed. At its
// end it shows the spinner while syncing, else the Tab hint under every kind, else nothing.
TEST_F(SearchBarContentTest, QueryOrPlaceholderAndSpinnerOrTabHint) {
    EXPECT_TRUE(bar.hintLabel()->isVisible());
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

    model->setTypeScope(TypeScope::all);
    EXPECT_EQ(bar.queryLabel()->text(), u"Search clipboard\u2026"_s);
    model->setTypeScope(TypeScope::image);
    EXPECT_EQ(bar.queryLabel()->text(), u"Search images\u2026"_s);
    model->setQuery(u"cat"_s);
    EXPECT_EQ(bar.queryLabel()->text(), u"cat"_s);
    // A query longer than the bar keeps the characters just typed in view.
    model->setQuery(QString(300, QLatin1Char('x')) + u"END"_s);
    EXPECT_TRUE(bar.queryLabel()->text().startsWith(QChar(0x2026))) << bar.queryLabel()->text().toStdString();
    EXPECT_TRUE(bar.queryLabel()->text().endsWith(u"END"_s));
}

} // namespace
} // namespace snipjar::test
