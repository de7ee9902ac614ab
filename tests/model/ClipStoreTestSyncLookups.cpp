#include "ClipStoreTestSupport.h"

namespace snipjar::test {
namespace {

using SyncLookupsTest = StoreTest;

// What the sync engine reads: bytes and never-uploaded items of the sync store only.
TEST_F(SyncLookupsTest, SyncedBytesAndUnsyncedItemsCoverTheSyncStoreOnly) {
    const QUuid uploaded = fileSynced(text(QStringLiteral("12345")));
    advance(1);
    const QUuid pending = fileSynced(text(QStringLiteral("123")));
    insertLocal(text(QString(100, QLatin1Char('l'))));
    ClipItem item = *store->syncItem(uploaded);
    item.cloudRecordSystemFields = QByteArray("system fields");
    store->syncContext().update(item);
    ASSERT_TRUE(store->syncContext().save());

    EXPECT_EQ(store->syncedBytes(), 8);
    const QList<ClipItem> unsynced = store->unsyncedItems();
    ASSERT_EQ(unsynced.size(), 1);
    EXPECT_EQ(unsynced[0].id, pending);
    EXPECT_EQ(store->syncItem(uploaded)->cloudRecordSystemFields, QByteArray("system fields"));
    EXPECT_FALSE(store->syncItem(QUuid::createUuid()));
    EXPECT_FALSE(store->syncDevice(QStringLiteral("nobody")));
}

// A payload that arrives before its item stays unjoined until the item comes; it is immutable
// apart from its system fields, and it can be deleted on its own.
TEST_F(SyncLookupsTest, PayloadArrivingBeforeItsItem) {
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
    ClipPayload expected = payload;
    expected.cloudRecordSystemFields = QByteArray("fields");
    EXPECT_EQ(store->syncPayload(payload.itemID), expected);

    context.removePayload(payload.itemID);
    EXPECT_EQ(blobFiles(syncFile()).size(), 1); // still named by the committed row
    ASSERT_TRUE(context.save());
    EXPECT_FALSE(context.hasPayloadRecord(payload.itemID));
    EXPECT_TRUE(blobFiles(syncFile()).isEmpty());
}

TEST_F(SyncLookupsTest, DevicesInsertUpdateAndRemove) {
    ModelContext& context = store->syncContext();
    context.insert(Device{otherMac, QStringLiteral("Laptop"), std::nullopt});
    ASSERT_TRUE(context.save());
    context.update(Device{otherMac, QStringLiteral("Renamed"), QByteArray("f")});
    ASSERT_TRUE(context.save());
    EXPECT_EQ(store->syncDevice(otherMac), (Device{otherMac, QStringLiteral("Renamed"), QByteArray("f")}));
    context.removeDevice(otherMac);
    ASSERT_TRUE(context.save());
    EXPECT_TRUE(store->devices().isEmpty());
}

} // namespace
} // namespace snipjar::test
