#include "ClipStoreTestSupport.h"

#include "platform/DeviceIdentity.h"

namespace snipjar::test {
namespace {

using DevicesTest = StoreTest;

// The same content copied on two computers: two items, one row, and one delete removes both.
TEST_F(DevicesTest, SameTextOnTwoComputersIsOneRowAndOneDeletion) {
    const QUuid mine = fileSynced(text(QStringLiteral("shared")));
    advance(60);
    const ClipItem theirs =
        putItem(store->syncContainer(), text(QStringLiteral("shared")), otherMac, clockNow);

    QList<ClipGroup> rows = ClipStore::groups(syncItems());
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0].newest.id, theirs.id);
    EXPECT_EQ(rows[0].originIDs, (QStringList{otherMac, thisMac}));

    // Copying it again here moves only this computer's own item.
    advance(60);
    EXPECT_EQ(insertSynced(text(QStringLiteral("shared"))), QList{ClipSyncChange::save(mine, false)});
    rows = ClipStore::groups(syncItems());
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0].newest.id, mine);
    EXPECT_EQ(rows[0].originIDs, (QStringList{thisMac, otherMac}));
    EXPECT_EQ(syncItems().size(), 2);

    store->remove(theirs.id);
    EXPECT_TRUE(syncItems().isEmpty());
    const QSet<QUuid> removed{reported.value(0).id, reported.value(1).id};
    EXPECT_EQ(removed, (QSet<QUuid>{mine, theirs.id}));
    EXPECT_EQ(reported.size(), 2);
    for (const ClipSyncChange& change : reported) {
        EXPECT_EQ(change.type, ClipSyncChange::Type::remove);
    }
}

TEST_F(DevicesTest, DeleteReachesTheLocalStoreButReportsOnlySyncedItems) {
    const QUuid synced = fileSynced(text(QStringLiteral("both")));
    const QUuid local = insertLocal(text(QStringLiteral("both"))).constLast().id;
    store->remove(local);
    EXPECT_FALSE(store->item(synced));
    EXPECT_FALSE(store->item(local));
    EXPECT_EQ(reported, QList{ClipSyncChange::remove(synced)});
}

TEST_F(DevicesTest, ConcealedItemIsDeletedAlone) {
    const QUuid plain = fileSynced(text(QStringLiteral("secret")));
    Clip concealedClip = text(QStringLiteral("secret"));
    concealedClip.concealed = true;
    ClipItem concealed = putItem(store->syncContainer(), concealedClip, thisMac, clockNow);
    ASSERT_EQ(concealed.dedupKey, store->item(plain)->dedupKey);

    store->remove(concealed.id);
    EXPECT_FALSE(store->item(concealed.id));
    EXPECT_TRUE(store->item(plain));
    EXPECT_EQ(reported, QList{ClipSyncChange::remove(concealed.id)});
}

// Grouping: rows keep the order of their newest item; concealed and keyless items stand alone.
TEST_F(DevicesTest, GroupsOrderPinsAndUngroupedItems) {
    ClipItem old = ClipItem::fromClip(text(QStringLiteral("x")), std::nullopt, thisMac);
    old.createdAt = clockNow.addSecs(-100);
    ClipItem pinnedCopy = ClipItem::fromClip(text(QStringLiteral("x")), std::nullopt, otherMac);
    pinnedCopy.createdAt = clockNow.addSecs(-200);
    pinnedCopy.pinned = true;
    ClipItem newest = ClipItem::fromClip(text(QStringLiteral("y")), std::nullopt, thisMac);
    newest.createdAt = clockNow;
    ClipItem secretA = ClipItem::fromClip(text(QStringLiteral("s")), std::nullopt, thisMac);
    secretA.concealed = true;
    secretA.createdAt = clockNow.addSecs(-50);
    ClipItem secretB = secretA;
    secretB.id = QUuid::createUuid();
    ClipItem keyless = ClipItem::fromClip(text(QStringLiteral("k")), std::nullopt, QString());
    keyless.dedupKey.clear();
    keyless.createdAt = clockNow.addSecs(-300);

    const QList<ClipGroup> rows = ClipStore::groups({old, pinnedCopy, secretA, keyless, newest, secretB});
    ASSERT_EQ(rows.size(), 5);
    EXPECT_EQ(rows[0].newest.id, newest.id);
    EXPECT_EQ(rows[1].newest.id, secretA.id);
    EXPECT_EQ(rows[2].newest.id, secretB.id);
    EXPECT_EQ(rows[3].newest.id, old.id);
    EXPECT_EQ(rows[3].originIDs, (QStringList{thisMac, otherMac}));
    EXPECT_TRUE(rows[3].anyPinned);
    EXPECT_EQ(rows[4].newest.id, keyless.id);
    EXPECT_TRUE(rows[4].originIDs.isEmpty());
}

// Computers are listed by their most recent item, named by their Device record or "Mac".
TEST_F(DevicesTest, MacsInOrderOfTheirNewestItem) {
    ClipItem fromOther = ClipItem::fromClip(text(QStringLiteral("a")), std::nullopt, otherMac);
    fromOther.createdAt = clockNow;
    ClipItem fromThis = ClipItem::fromClip(text(QStringLiteral("b")), std::nullopt, thisMac);
    fromThis.createdAt = clockNow.addSecs(-10);
    ClipItem fromThird = ClipItem::fromClip(text(QStringLiteral("c")), std::nullopt, QStringLiteral("THIRD"));
    fromThird.createdAt = clockNow.addSecs(-20);
    const QList<Device> devices{{thisMac, QStringLiteral("Desk"), std::nullopt},
                                {otherMac, QStringLiteral("Laptop"), std::nullopt},
                                {otherMac, QStringLiteral("Laptop again"), std::nullopt}};
    EXPECT_EQ(ClipStore::macs({fromThird, fromThis, fromOther}, devices),
              (QList<MacRef>{{otherMac, QStringLiteral("Laptop")},
                             {thisMac, QStringLiteral("Desk")},
                             {QStringLiteral("THIRD"), QStringLiteral("Mac")}}));
}

TEST_F(DevicesTest, RegisterThisMacCreatesThenRenames) {
    const Device first = store->registerThisMac();
    EXPECT_EQ(first.id, thisMac);
    EXPECT_EQ(first.name, DeviceIdentity::computerName());
    Device renamed = first;
    renamed.name = QStringLiteral("Old name");
    store->syncContext().update(renamed);
    ASSERT_TRUE(store->syncContext().save());

    EXPECT_EQ(store->registerThisMac().name, DeviceIdentity::computerName());
    EXPECT_EQ(store->devices().size(), 1);
    EXPECT_EQ(store->syncDevice(thisMac)->name, DeviceIdentity::computerName());
    EXPECT_TRUE(reported.isEmpty());
}

} // namespace
} // namespace snipjar::test
