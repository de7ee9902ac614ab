#include "PanelTestSupport.h"

namespace snipjar::test {
namespace {

using PanelSelectionTest = PanelTest;

const MacRef macA{QStringLiteral("A"), QStringLiteral("Desk")};
const MacRef macB{QStringLiteral("B"), QStringLiteral("Laptop")};

// The selection stays inside the visible rows, stops at both ends and is 0 without rows.
TEST_F(PanelSelectionTest, SelectionIsClampedToVisibleRows) {
    EXPECT_EQ(model->selection(), 0);
    EXPECT_FALSE(model->selectedRow().has_value());

    model->setRows({row(QStringLiteral("one")), row(QStringLiteral("two")), row(QStringLiteral("three"))});
    model->moveSelection(-1);
    EXPECT_EQ(model->selection(), 0);
    model->moveSelection(1);
    model->moveSelection(1);
    model->moveSelection(1);
    EXPECT_EQ(model->selection(), 2);
    EXPECT_EQ(model->selectedRow()->text, QStringLiteral("three"));

    // Narrowing the rows leaves the index alone until it is clamped.
    model->setQuery(QStringLiteral("t"));
    EXPECT_EQ(model->selectedRow(), std::nullopt);
    model->clampSelection();
    EXPECT_EQ(model->selection(), 1);
    EXPECT_EQ(model->selectedRow()->text, QStringLiteral("three"));

    model->setQuery(QStringLiteral("nothing like it"));
    model->clampSelection();
    EXPECT_EQ(model->selection(), 0);
    EXPECT_FALSE(model->selectedRow().has_value());

    // New rows clamp at once.
    model->setQuery(QString());
    model->setSelection(2);
    model->setRows({row(QStringLiteral("only"))});
    EXPECT_EQ(model->selection(), 0);
}

// A reload follows the selected clip when clips arrive above it (by sync, from the command line),
// so that Return pastes the clip the user chose.
TEST_F(PanelSelectionTest, ReloadKeepsTheSelectedClip) {
    file(text(QStringLiteral("chosen")));
    file(text(QStringLiteral("newer")));
    showPanel();
    model->setSelection(1);
    file(text(QStringLiteral("arrived")));
    put(store->syncContainer(), text(QStringLiteral("synced")), otherMac, -5);
    model->reloadKeepingSelection();
    ASSERT_TRUE(rowsLoaded());
    EXPECT_EQ(model->selection(), 3);
    EXPECT_EQ(model->selectedRow()->text, QStringLiteral("chosen"));
}

// The kind filter steps through every kind and wraps at both ends, selecting the first row; the
// computer filter steps through every computer, then each one, and with one computer it stays.
TEST_F(PanelSelectionTest, FiltersCycleWrapping) {
    model->setRows({row(QStringLiteral("one"), ClipKind::text, {macA}),
                    row(QStringLiteral("two"), ClipKind::text, {macA})});
    model->setSelection(1);
    model->cycleMacScope(1);
    EXPECT_EQ(model->macScope(), std::nullopt);
    EXPECT_EQ(model->selection(), 1);
    model->cycleTypeScope(-1);
    EXPECT_EQ(model->typeScope(), TypeScope::pinned);
    EXPECT_EQ(model->selection(), 0);
    QList<TypeScope> forward;
    for (int step = 0; step < 6; ++step) {
        model->cycleTypeScope(1);
        forward.append(model->typeScope());
    }
    EXPECT_EQ(forward, (QList{TypeScope::all, TypeScope::text, TypeScope::image, TypeScope::file,
                              TypeScope::pinned, TypeScope::all}));

    model->setRows({row(QStringLiteral("one"), ClipKind::text, {macA}),
                    row(QStringLiteral("two"), ClipKind::text, {macB})});
    QList<std::optional<QString>> macs;
    for (int step = 0; step < 3; ++step) {
        model->cycleMacScope(1);
        macs.append(model->macScope());
    }
    EXPECT_EQ(macs, (QList<std::optional<QString>>{macA.id, macB.id, std::nullopt}));
    model->cycleMacScope(-1);
    EXPECT_EQ(model->macScope(), macB.id);
    EXPECT_EQ(visibleTexts(), QStringList{QStringLiteral("two")});
}

// The computer list follows the rows' origins, first occurrence first; a filter on a computer
// that is gone is cleared.
TEST_F(PanelSelectionTest, RowsRebuildComputersAndDropStaleFilter) {
    const MacRef renamedA{macA.id, QStringLiteral("Old name")};
    model->setRows({row(QStringLiteral("one"), ClipKind::text, {macB, macA}),
                    row(QStringLiteral("two"), ClipKind::text, {renamedA})});
    EXPECT_EQ(model->macs(), (QList{macB, macA}));

    model->setMacScope(macB.id);
    model->setRows({row(QStringLiteral("three"), ClipKind::text, {macB})});
    EXPECT_EQ(model->macScope(), macB.id);
    model->setRows({row(QStringLiteral("four"), ClipKind::text, {macA})});
    EXPECT_EQ(model->macScope(), std::nullopt);
    EXPECT_EQ(visibleTexts(), QStringList{QStringLiteral("four")});

    model->setRows({});
    EXPECT_TRUE(model->macs().isEmpty());
}

} // namespace
} // namespace snipjar::test
