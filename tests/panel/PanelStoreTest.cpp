#include "PanelTestSupport.h"

namespace snipjar::test {
namespace {

using PanelStoreTest = PanelTest;

// Rows are the groups of the sync store's items followed by the local store's, each newest first;
// copies of one content on several computers are one row, named after their Device records.
TEST_F(PanelStoreTest, RowsGroupBothStoresAndNameTheirComputers) {
    put(store->syncContainer(), text(QStringLiteral("shared")), thisMac, 50, true);
    put(store->syncContainer(), text(QStringLiteral("shared")), otherMac, 10);
    put(store->syncContainer(), text(QStringLiteral("synced")), otherMac, 20);
    Clip file;
    file.kind = Clip::Kind::file;
    file.fileURLs = {QStringLiteral("file:///tmp/a.txt"), QStringLiteral("file:///tmp/b.txt")};
    const ClipItem local = put(store->localContainer(), file, thisMac, 100);
    store->syncContext().insert(Device{thisMac, QStringLiteral("Desk"), std::nullopt});
    ASSERT_TRUE(store->syncContext().save());

    showPanel();
    const QList<PanelRow>& rows = model->all();
    ASSERT_EQ(rows.size(), 3);
    EXPECT_EQ(rows[0].text, QStringLiteral("shared"));
    EXPECT_EQ(rows[0].deviceID, otherMac);
    // The unnamed computer keeps the store's fallback name.
    EXPECT_EQ(rows[0].origins,
              (QList{MacRef{otherMac, QStringLiteral("Computer")}, MacRef{thisMac, QStringLiteral("Desk")}}));
    EXPECT_TRUE(rows[0].pinned);
    EXPECT_EQ(rows[2].id, local.id);
    EXPECT_EQ(rows[2].fileCount, 2);
}

// Showing starts from an empty query, every scope reset and the first row; hiding empties it all.
TEST_F(PanelStoreTest, ShowResetsAndHideEmpties) {
    file(text(QStringLiteral("first")));
    model->setQuery(QStringLiteral("zzz"));
    model->setTypeScope(TypeScope::image);
    model->setMacScope(thisMac);
    model->setSelection(4);
    showPanel();
    EXPECT_EQ(model->query(), QString());
    EXPECT_EQ(model->typeScope(), TypeScope::all);
    EXPECT_EQ(model->macScope(), std::nullopt);
    EXPECT_EQ(model->selection(), 0);
    ASSERT_TRUE(waitForPreview());
    EXPECT_EQ(model->preview()->text, QStringLiteral("first"));

    model->resetForHide();
    EXPECT_FALSE(model->preview().has_value());
    EXPECT_TRUE(model->all().isEmpty());
    EXPECT_TRUE(model->macs().isEmpty());
}

// Pinning flips the selected clip's pin in the store and keeps the selection where it was.
TEST_F(PanelStoreTest, TogglePinKeepsSelection) {
    put(store->syncContainer(), text(QStringLiteral("older")), thisMac, 20);
    put(store->syncContainer(), text(QStringLiteral("newer")), thisMac, 10);
    showPanel();
    model->setSelection(1);
    model->togglePinSelected();
    ASSERT_TRUE(rowsLoaded());
    EXPECT_EQ(model->selection(), 1);
    EXPECT_TRUE(model->all()[1].pinned);
    EXPECT_TRUE(store->item(model->all()[1].id)->pinned);
    model->togglePinSelected();
    ASSERT_TRUE(rowsLoaded());
    EXPECT_FALSE(store->item(model->all()[1].id)->pinned);

    model->setQuery(QStringLiteral("no such clip"));
    model->togglePinSelected();
    EXPECT_FALSE(store->item(model->all()[1].id)->pinned);
}

// Delete takes two presses on the same row; moving the selection in between re-arms instead, and
// the row is removed from every computer in both stores.
TEST_F(PanelStoreTest, TwoStepDeleteRemovesEveryCopy) {
    put(store->syncContainer(), text(QStringLiteral("last")), thisMac, 40);
    put(store->localContainer(), text(QStringLiteral("shared")), thisMac, 30);
    put(store->syncContainer(), text(QStringLiteral("shared")), otherMac, 20);
    put(store->syncContainer(), text(QStringLiteral("first")), thisMac, 10);
    showPanel();
    ASSERT_EQ(model->all().size(), 3);
    const QUuid first = model->all()[0].id;
    const QUuid shared = model->all()[1].id;

    model->deleteSelected();
    EXPECT_EQ(model->armedDeleteID(), first);
    model->moveSelection(1);
    model->schedulePreview();
    EXPECT_EQ(model->armedDeleteID(), std::nullopt);
    model->deleteSelected();
    EXPECT_EQ(model->armedDeleteID(), shared);
    EXPECT_EQ(model->all().size(), 3);

    model->deleteSelected();
    EXPECT_EQ(model->armedDeleteID(), std::nullopt);
    ASSERT_TRUE(rowsLoaded());
    EXPECT_EQ(model->all().size(), 2);
    EXPECT_EQ(model->selection(), 1);
    EXPECT_EQ(model->selectedRow()->text, QStringLiteral("last"));
    for (ModelContext* context : {&store->syncContext(), &store->localContext()}) {
        for (const ClipItem& item : ClipStore::allItems(*context)) {
            EXPECT_NE(item.title, QStringLiteral("shared"));
        }
    }
}

} // namespace
} // namespace snipjar::test
