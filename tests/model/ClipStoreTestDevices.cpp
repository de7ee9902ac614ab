#include "ClipStoreTestSupport.h"

#include "platform/DeviceIdentity.h"

namespace snipjar::test {
namespace {

using DevicesTest = StoreTest;

// The same content copied on two computers: two items, one row, and one delete removes both.
// Copying it again here moves only this computer's own item.
TEST_F(DevicesTest, SameTextOnTwoComputersIsOneRowAndOneDeletion) {
    const QUuid mine = fileSynced(text(QStringLiteral("shared")));
    advance(60);
    const ClipItem theirs =
        putItem(store->syncContainer(), text(QStringLiteral("shared")), otherMac, clockNow);
    QList<ClipGroup> rows = ClipStore::groups(syncItems());
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0].newest.id, theirs.id);
    EXPECT_EQ(rows[0].originIDs, (QStringList{otherMac, thisMac}));

    advance(60);
    EXPECT_EQ(insertSynced(text(QStringLiteral("shared"))), QList{ClipSyncChange::save(mine, false)});
    rows = ClipStore::groups(syncItems());
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0].newest.id, mine);
    EXPECT_EQ(rows[0].originIDs, (QStringList{thisMac, otherMac}));

    store->remove(theirs.id);
    EXPECT_TRUE(syncItems().isEmpty());
    EXPECT_EQ(QSet<QUuid>({reported.value(0).id, reported.value(1).id}), (QSet<QUuid>{mine, theirs.id}));
    EXPECT_EQ(reported, (QList{ClipSyncChange::remove(reported.value(0).id),
                               ClipSyncChange::remove(reported.value(1).id)}));
}

// A delete reaches the same content in the local store but reports only the sync store's items;
// a concealed item shares its content with nothing and goes alone.
TEST_F(DevicesTest, DeleteReachesBothStoresButNotPastAConcealedItem) {
    const QUuid synced = fileSynced(text(QStringLiteral("both")));
    const QUuid local = insertLocal(text(QStringLiteral("both"))).constLast().id;
    store->remove(local);
    EXPECT_FALSE(store->item(synced));
    EXPECT_FALSE(store->item(local));
    EXPECT_EQ(reported, QList{ClipSyncChange::remove(synced)});

    const QUuid plain = fileSynced(text(QStringLiteral("secret")));
    Clip concealedClip = text(QStringLiteral("secret"));
    concealedClip.concealed = true;
    const ClipItem concealed = putItem(store->syncContainer(), concealedClip, thisMac, clockNow);
    ASSERT_EQ(concealed.dedupKey, store->item(plain)->dedupKey);
    store->remove(concealed.id);
    EXPECT_FALSE(store->item(concealed.id));
    EXPECT_TRUE(store->item(plain));
    EXPECT_EQ(reported, (QList{ClipSyncChange::remove(synced), ClipSyncChange::remove(concealed.id)}));
}

// Rows keep the order of their newest item; concealed and keyless items stand alone. Computers
// are listed by their most recent item, named by their first Device record or "Mac".
TEST_F(DevicesTest, GroupsAndMacs) {
    const auto itemOf = [this](const char* words, const QString& device, qint64 secondsAgo) {
        ClipItem item = ClipItem::fromClip(text(QLatin1String(words)), std::nullopt, device);
        item.createdAt = clockNow.addSecs(-secondsAgo);
        return item;
    };
    const ClipItem old = itemOf("x", thisMac, 100);
    ClipItem pinnedCopy = itemOf("x", otherMac, 200);
    pinnedCopy.pinned = true;
    const ClipItem newest = itemOf("y", thisMac, 0);
    ClipItem secretA = itemOf("s", thisMac, 50);
    secretA.concealed = true;
    ClipItem secretB = secretA;
    secretB.id = QUuid::createUuid();
    ClipItem keyless = itemOf("k", QString(), 300);
    keyless.dedupKey.clear();

    const QList<ClipGroup> rows = ClipStore::groups({old, pinnedCopy, secretA, keyless, newest, secretB});
    QList<QUuid> order;
    for (const ClipGroup& row : rows) {
        order << row.newest.id;
    }
    EXPECT_EQ(order, (QList<QUuid>{newest.id, secretA.id, secretB.id, old.id, keyless.id}));
    EXPECT_EQ(rows[3].originIDs, (QStringList{thisMac, otherMac}));
    EXPECT_TRUE(rows[3].anyPinned);
    EXPECT_FALSE(rows[0].anyPinned);
    EXPECT_TRUE(rows[4].originIDs.isEmpty());

    const QList<Device> devices{{thisMac, QStringLiteral("Desk"), std::nullopt},
                                {otherMac, QStringLiteral("Laptop"), std::nullopt},
                                {otherMac, QStringLiteral("Laptop again"), std::nullopt}};
    EXPECT_EQ(ClipStore::macs({itemOf("c", QStringLiteral("THIRD"), 20), itemOf("b", thisMac, 10),
                               itemOf("a", otherMac, 0)},
                              devices),
              (QList<MacRef>{{otherMac, QStringLiteral("Laptop")},
                             {thisMac, QStringLiteral("Desk")},
                             {QStringLiteral("THIRD"), QStringLiteral("Mac")}}));
}

// This computer's Device record is created once and renamed when the name changed; nothing is
// reported, since the sync engine sends Device records itself.
TEST_F(DevicesTest, RegisterThisMacCreatesThenRenames) {
    EXPECT_EQ(store->registerThisMac(), (Device{thisMac, DeviceIdentity::computerName(), std::nullopt}));
    store->syncContext().update(Device{thisMac, QStringLiteral("Old name"), QByteArray("fields")});
    ASSERT_TRUE(store->syncContext().save());
    EXPECT_EQ(store->registerThisMac().name, DeviceIdentity::computerName());
    EXPECT_EQ(store->devices(),
              (QList<Device>{{thisMac, DeviceIdentity::computerName(), QByteArray("fields")}}));
    EXPECT_TRUE(reported.isEmpty());

    store->syncContext().removeDevice(thisMac);
    ASSERT_TRUE(store->syncContext().save());
    EXPECT_FALSE(store->syncDevice(thisMac));
}

// What the sync engine reads: bytes and never-uploaded items of the sync store only.
TEST_F(DevicesTest, SyncedBytesAndUnsyncedItemsCoverTheSyncStoreOnly) {
    const QUuid uploaded = fileSynced(text(QStringLiteral("12345")));
    advance(1);
    const QUuid pending = fileSynced(text(QStringLiteral("123")));
    insertLocal(text(QString(100, QLatin1Char('l'))));
    ClipItem item = *store->syncItem(uploaded);
    item.cloudRecordSystemFields = QByteArray("system fields");
    store->syncContext().update(item);
    ASSERT_TRUE(store->syncContext().save());

    EXPECT_EQ(store->syncedBytes(), 8);
    EXPECT_EQ(store->unsyncedItems(), QList{*store->syncItem(pending)});
    EXPECT_EQ(store->syncItem(uploaded)->cloudRecordSystemFields, QByteArray("system fields"));
    EXPECT_FALSE(store->syncItem(QUuid::createUuid()));
}

// A payload that arrives before its item stays unjoined until the item comes; it is immutable
// apart from its system fields, and it can be deleted on its own, its file after the commit.
TEST_F(DevicesTest, PayloadArrivingBeforeItsItem) {
    ModelContext& context = store->syncContext();
    ClipPayload payload;
    payload.itemID = QUuid::createUuid();
    payload.imageData = noise(120'000);
    payload.dataUTI = QStringLiteral("public.heic");
    context.insert(payload, PayloadLink::none);
    ASSERT_TRUE(context.save());
    EXPECT_TRUE(context.hasPayloadRecord(payload.itemID));
    EXPECT_FALSE(context.isPayloadLinked(payload.itemID));

    context.linkPayload(payload.itemID);
    context.setPayloadCloudRecordSystemFields(payload.itemID, QByteArray("fields"));
    ASSERT_TRUE(context.save());
    EXPECT_TRUE(context.isPayloadLinked(payload.itemID));
    payload.cloudRecordSystemFields = QByteArray("fields");
    EXPECT_EQ(store->syncPayload(payload.itemID), payload);

    context.removePayload(payload.itemID);
    EXPECT_EQ(blobFiles(syncFile()).size(), 1);
    ASSERT_TRUE(context.save());
    EXPECT_FALSE(context.hasPayloadRecord(payload.itemID));
    EXPECT_TRUE(blobFiles(syncFile()).isEmpty());
}

} // namespace
} // namespace snipjar::test
