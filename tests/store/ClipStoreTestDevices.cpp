#include "ClipStoreTestSupport.h"

#include "platform/DeviceIdentity.h"

#include <algorithm>
#include <random>

namespace snipjar::test {
namespace {

using DevicesTest = StoreTest;

// The same content copied on two computers is one row, and one delete removes both; copying it
// again here moves only this computer's own item. The delete reaches the same content in the
// local store but reports only the sync store's items.
TEST_F(DevicesTest, SameContentOnTwoComputersIsOneRowAndOneDeletion) {
    const QUuid mine = fileSynced(text(QStringLiteral("shared")));
    const QUuid local = insertLocal(text(QStringLiteral("shared"))).constLast().id;
    advance(60);
    const ClipItem theirs =
        putItem(store->syncContainer(), text(QStringLiteral("shared")), otherMac, clockNow);
    QList<ClipGroup> rows = ClipStore::groups(syncItems());
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0].newest.id, theirs.id);
    EXPECT_EQ(rows[0].originIDs, (QStringList{otherMac, thisMac}));

    advance(60);
    EXPECT_EQ(insertSynced(text(QStringLiteral("shared"))), QList{ClipSyncChange::save(mine, false)});
    EXPECT_EQ(ClipStore::groups(syncItems())[0].originIDs, (QStringList{thisMac, otherMac}));

    store->remove(theirs.id);
    EXPECT_TRUE(syncItems().isEmpty());
    EXPECT_FALSE(store->item(local));
    EXPECT_EQ(QSet<QUuid>({reported.value(0).id, reported.value(1).id}), (QSet<QUuid>{mine, theirs.id}));
    EXPECT_EQ(reported, (QList{ClipSyncChange::remove(reported.value(0).id),
                               ClipSyncChange::remove(reported.value(1).id)}));
}

// A concealed item shares its content with nothing: it is a row of its own and goes alone.
TEST_F(DevicesTest, ConcealedItemIsDeletedAlone) {
    const QUuid plain = fileSynced(text(QStringLiteral("secret")));
    Clip concealedClip = text(QStringLiteral("secret"));
    concealedClip.concealed = true;
    const ClipItem concealed = putItem(store->syncContainer(), concealedClip, thisMac, clockNow);
    ASSERT_EQ(concealed.dedupKey, store->item(plain)->dedupKey);
    EXPECT_EQ(ClipStore::groups(syncItems()).size(), 2);
    store->remove(concealed.id);
    EXPECT_FALSE(store->item(concealed.id));
    EXPECT_TRUE(store->item(plain));
    EXPECT_EQ(reported, QList{ClipSyncChange::remove(concealed.id)});
}

// Groups depend only on the items' times, not on the order they are given, and stand where their
// newest item does; concealed and keyless items stand alone. Computers are listed by their most
// recent item, named by their first Device record or "Computer".
TEST_F(DevicesTest, GroupsOfShuffledItemsAndMacs) {
    std::mt19937 random(7);
    const QStringList devices{thisMac, otherMac, QStringLiteral("THIRD"), QString()};
    QList<ClipItem> items;
    for (int index = 0; index < 600; ++index) {
        // About one content in three is copied on more than one computer.
        ClipItem item = ClipItem::fromClip(text(QStringLiteral("content %1").arg(random() % 400)),
                                           std::nullopt, devices[qsizetype(random() % 4)]);
        item.createdAt = clockNow.addSecs(-index);
        item.pinned = random() % 10 == 0;
        item.concealed = random() % 25 == 0;
        items.append(item);
    }
    const QList<ClipGroup> expected = ClipStore::groups(items);
    EXPECT_LT(expected.size(), items.size());
    QList<ClipItem> shuffled = items;
    std::shuffle(shuffled.begin(), shuffled.end(), random);
    EXPECT_EQ(ClipStore::groups(shuffled), expected);
    EXPECT_EQ(ClipStore::macs(shuffled, {}), ClipStore::macs(items, {}));
    for (qsizetype index = 1; index < expected.size(); ++index) {
        EXPECT_GT(expected[index - 1].newest.createdAt, expected[index].newest.createdAt);
    }

    const auto itemOf = [this](const char* words, const QString& device, qint64 secondsAgo) {
        ClipItem item = ClipItem::fromClip(text(QLatin1String(words)), std::nullopt, device);
        item.createdAt = clockNow.addSecs(-secondsAgo);
        return item;
    };
    const ClipItem old = itemOf("x", thisMac, 100);
    ClipItem pinnedCopy = itemOf("x", otherMac, 200);
    pinnedCopy.pinned = true;
    ClipItem secretA = itemOf("s", thisMac, 50);
    secretA.concealed = true;
    ClipItem secretB = secretA;
    secretB.id = QUuid::createUuid();
    ClipItem keyless = itemOf("k", QString(), 300);
    keyless.dedupKey.clear();
    ClipItem keylessToo = itemOf("k", QString(), 400);
    keylessToo.dedupKey.clear();
    const QList<ClipGroup> rows = ClipStore::groups({old, pinnedCopy, secretA, keylessToo, keyless, secretB});
    ASSERT_EQ(rows.size(), 5);
    EXPECT_EQ(rows[2].newest.id, old.id);
    EXPECT_EQ(rows[2].originIDs, (QStringList{thisMac, otherMac}));
    EXPECT_TRUE(rows[2].anyPinned);
    EXPECT_FALSE(rows[0].anyPinned);

    const QList<Device> named{{thisMac, QStringLiteral("Desk"), std::nullopt},
                              {otherMac, QStringLiteral("Laptop"), std::nullopt},
                              {otherMac, QStringLiteral("Laptop again"), std::nullopt}};
    EXPECT_EQ(ClipStore::macs({itemOf("c", QStringLiteral("THIRD"), 20), itemOf("b", thisMac, 10),
                               itemOf("a", otherMac, 0)},
                              named),
              (QList<MacRef>{{otherMac, QStringLiteral("Laptop")},
                             {thisMac, QStringLiteral("Desk")},
                             {QStringLiteral("THIRD"), QStringLiteral("Computer")}}));
}

// This computer's Device record is created once and renamed when the name changed, keeping its
// system fields; nothing is reported, since the sync engine sends Device records itself.
TEST_F(DevicesTest, RegisterThisMacCreatesThenRenames) {
    EXPECT_EQ(store->registerThisMac(), (Device{thisMac, DeviceIdentity::computerName(), std::nullopt}));
    store->syncContext().update(Device{thisMac, QStringLiteral("Old name"), QByteArray("fields")});
    ASSERT_TRUE(store->syncContext().save());
    store->registerThisMac();
    EXPECT_EQ(store->devices(),
              (QList<Device>{{thisMac, DeviceIdentity::computerName(), QByteArray("fields")}}));
    EXPECT_TRUE(reported.isEmpty());
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
