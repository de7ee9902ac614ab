#include "sync/RecordMapping.h"
#include "ImageTestImages.h"
#include "SyncTestSupport.h"
#include "sync/ImageAssetFiles.h"

#include <QDir>
#include <QFile>

namespace snipjar::test {
namespace {

using cloud::CloudRecord;
using sync::ImageAssetFiles;
using sync::PayloadImageRules;
using sync::RecordMapping;
using sync::RecordNames;

QStringList keysOf(const CloudRecord& record) {
    QStringList keys;
    for (const auto& [key, value] : record.fields()) {
        keys.append(key);
    }
    return keys;
}

QByteArray fileBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

class RecordMappingTest : public StoreTest {
protected:
    void TearDown() override { ImageAssetFiles::discardAll(); }

    ClipItem storedItem(bool pinned, bool hasPayload, std::optional<QString> sourceName) {
        ClipItem item = ClipItem::fromClip(text("hello"), QByteArray("thumb"), thisMac);
        item.pinned = pinned;
        item.hasPayload = hasPayload;
        item.sourceName = std::move(sourceName);
        item.concealed = true;
        item.pixelWidth = 12;
        put(item);
        return item;
    }
    void put(const ClipItem& item) {
        const auto context = store->syncContainer().newContext();
        context->insert(item);
        ASSERT_TRUE(context->save());
    }
    QUuid storedPayload(const QByteArray& image, const QString& dataUTI) {
        ClipPayload payload;
        payload.imageData = image;
        payload.dataUTI = dataUTI;
        const auto context = store->syncContainer().newContext();
        context->insert(payload, PayloadLink::none);
        EXPECT_TRUE(context->save());
        return payload.itemID;
    }
    std::optional<CloudRecord> build(const cloud::RecordID& id,
                                     const PayloadImageRules& rules = PayloadImageRules::standard()) {
        return RecordMapping::buildRecord(id, store->syncContainer(), rules);
    }
};

TEST_F(RecordMappingTest, ItemAndDeviceRecordsWriteEveryFieldInOrderWithIntegerBooleans) {
    const ClipItem item = storedItem(/*pinned=*/true, /*hasPayload=*/false, "Editor");
    const std::optional<CloudRecord> record = build(RecordNames::itemRecordID(item.id));
    ASSERT_TRUE(record);
    EXPECT_EQ(record->recordType(), "ClipItem");
    EXPECT_EQ(record->recordName(), "clip-" + item.id.toString(QUuid::WithoutBraces).toUpper());
    EXPECT_EQ(keysOf(*record),
              QString("deviceRef deviceID createdAt pinned kind byteSize dedupKey title thumbnail "
                      "hasPayload sourceName sourceBundleID")
                  .split(QLatin1Char(' ')));
    EXPECT_EQ(record->integer("pinned"), 1);
    EXPECT_EQ(record->integer("hasPayload"), 0);
    const auto reference = record->reference(QStringLiteral("deviceRef"));
    ASSERT_TRUE(reference);
    EXPECT_EQ(reference->target, RecordNames::deviceRecordID(thisMac));
    EXPECT_EQ(reference->action, cloud::RecordReference::Action::deleteSelf);
    // Read back on the other side: the same entry, with the fields that never travel at their defaults.
    const std::optional<ClipItem> back = RecordMapping::itemFromRecord(*record);
    ASSERT_TRUE(back);
    ClipItem expected = item;
    expected.concealed = false;
    expected.pixelWidth.reset();
    EXPECT_EQ(*back, expected);
    // A device record carries the name on its confirmed fields.
    CloudRecord confirmed(RecordNames::deviceType, RecordNames::deviceRecordID(thisMac));
    confirmed.setChangeTag("tag-dev");
    const auto context = store->syncContainer().newContext();
    context->insert(Device{thisMac, "Desk", confirmed.archiveSystemFields()});
    ASSERT_TRUE(context->save());
    const std::optional<CloudRecord> device = build(RecordNames::deviceRecordID(thisMac));
    ASSERT_TRUE(device);
    EXPECT_EQ(device->recordName(), "dev-THIS-MAC");
    EXPECT_EQ(device->changeTag(), "tag-dev");
    EXPECT_EQ(keysOf(*device), QStringList{"name"});
    EXPECT_EQ(device->string("name"), "Desk");
}

TEST_F(RecordMappingTest, AbsentOptionalValuesRemoveKeysAndConfirmedFieldsAreReused) {
    ClipItem item = storedItem(false, false, "Editor");
    CloudRecord older = *build(RecordNames::itemRecordID(item.id));
    item.sourceName.reset();
    item.thumbnailData.reset();
    RecordMapping::applyItem(item, older);
    EXPECT_FALSE(older.value("sourceName"));
    EXPECT_FALSE(older.value("thumbnail"));
    // The server confirmed the record: the next build carries its change tag.
    older.setChangeTag("tag-1");
    item.cloudRecordSystemFields = older.archiveSystemFields();
    store->syncContext().update(item);
    ASSERT_TRUE(store->syncContext().save());
    EXPECT_EQ(build(RecordNames::itemRecordID(item.id))->changeTag(), "tag-1");
    // Fields that do not decode give a fresh record of the same identity.
    item.cloudRecordSystemFields = QByteArray("garbage");
    store->syncContext().update(item);
    ASSERT_TRUE(store->syncContext().save());
    const std::optional<CloudRecord> fresh = build(RecordNames::itemRecordID(item.id));
    ASSERT_TRUE(fresh);
    EXPECT_FALSE(fresh->changeTag());
    EXPECT_EQ(fresh->recordID(), RecordNames::itemRecordID(item.id));
}

TEST_F(RecordMappingTest, RecordNamesThatAreNotOursAreLoggedAndMissingEntitiesAreNot) {
    SyncLog log;
    for (const QString& name :
         QStringList{"clip-NOT-A-UUID", "pay-1234", "clip-" + QUuid::createUuid().toString(), "zone-x"}) {
        EXPECT_FALSE(build({name, RecordNames::zoneID()})) << name.toStdString();
        EXPECT_EQ(log.count("error buildRecord: unrecognized record name " + name), 1);
    }
    const int logged = int(log.messages().size());
    EXPECT_FALSE(build(RecordNames::itemRecordID(QUuid::createUuid())));
    EXPECT_FALSE(build(RecordNames::payloadRecordID(QUuid::createUuid())));
    EXPECT_FALSE(build(RecordNames::deviceRecordID("gone")));
    EXPECT_EQ(log.messages().size(), logged);
    // A lower-case UUID is still a UUID.
    const ClipItem item = storedItem(false, false, std::nullopt);
    EXPECT_TRUE(build({"clip-" + item.id.toString(QUuid::WithoutBraces), RecordNames::zoneID()}));
}

TEST_F(RecordMappingTest, FetchedRecordsOfOddShapeDecodeToDefaultsOrNothing) {
    CloudRecord record = itemRecord(QUuid::createUuid(), "x");
    record.setValue("pinned", QString("1")); // not an integer
    record.setValue("title", qint64(5));     // not a string
    CloudRecord misnamed(record.recordType(), {"clip-NOT-A-UUID", RecordNames::zoneID()});
    for (const auto& [key, value] : record.fields()) {
        misnamed.setValue(key, value);
    }
    const std::optional<ClipItem> odd = RecordMapping::itemFromRecord(misnamed);
    ASSERT_TRUE(odd);
    EXPECT_FALSE(odd->id.isNull());
    EXPECT_FALSE(odd->pinned);
    EXPECT_EQ(odd->title, QString());
    EXPECT_FALSE(odd->cloudRecordSystemFields);
    EXPECT_FALSE(RecordMapping::inboundPayload(CloudRecord(RecordNames::payloadType, {"pay-x", {}})));
}

TEST_F(RecordMappingTest, ImagesUpToTheLimitGoInlineAndLargerOnesAsPrivateAssetFiles) {
    const QByteArray limit = noise(1'000'000, 'b');
    const QByteArray above = noise(1'000'001, 'c');
    const QUuid inlineID = storedPayload(limit, "public.png");
    const QUuid assetID = storedPayload(above, "public.png");
    const CloudRecord inlined = *build(RecordNames::payloadRecordID(inlineID));
    EXPECT_EQ(inlined.bytes("image"), limit);
    EXPECT_EQ(keysOf(inlined), QString("itemRef dataUTI image").split(QLatin1Char(' ')));
    EXPECT_EQ(inlined.reference("itemRef")->target, RecordNames::itemRecordID(inlineID));
    const CloudRecord sent = *build(RecordNames::payloadRecordID(assetID));
    EXPECT_FALSE(sent.value("image"));
    const auto asset = sent.asset(QStringLiteral("imageAsset"));
    ASSERT_TRUE(asset);
    EXPECT_EQ(fileBytes(asset->filePath), above);
    EXPECT_EQ(QFileInfo(asset->filePath).absolutePath(), ImageAssetFiles::folder());
    EXPECT_EQ(modeOf(asset->filePath), 0600u);
    EXPECT_EQ(modeOf(ImageAssetFiles::folder()), 0700u);
    EXPECT_NE(QFileInfo(asset->filePath).absolutePath(), QDir::tempPath());
    // The send ended: the server's copy of the record names no file of ours, yet the file goes.
    const CloudRecord second = *build(RecordNames::payloadRecordID(assetID));
    ImageAssetFiles::discard(CloudRecord(sent.recordType(), sent.recordID()));
    EXPECT_FALSE(QFile::exists(asset->filePath));
    EXPECT_FALSE(QFile::exists(second.asset("imageAsset")->filePath));
    EXPECT_EQ(ImageAssetFiles::outstandingCount(), 0);
    // A runtime folder that cannot take the file sends it through the cache folder instead.
    QDir(AppPaths::runtimeFolder()).removeRecursively();
    QFile blocker(AppPaths::runtimeFolder());
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const auto moved = build(RecordNames::payloadRecordID(assetID))->asset(QStringLiteral("imageAsset"));
    ASSERT_TRUE(moved);
    EXPECT_EQ(QFileInfo(moved->filePath).absolutePath(), ImageAssetFiles::fallbackFolder());
    EXPECT_EQ(modeOf(moved->filePath), 0600u);
    EXPECT_EQ(modeOf(ImageAssetFiles::fallbackFolder()), 0700u);
    ImageAssetFiles::discardAll();
    EXPECT_FALSE(QFile::exists(moved->filePath));
    blocker.remove();
}

TEST_F(RecordMappingTest, OnlyImagesAboveTheTargetAreTranscodedAndNeverGifPdfOrSvg) {
    QList<qint64> asked;
    PayloadImageRules counting = PayloadImageRules::standard();
    counting.transcode = [&](const QByteArray&, qint64 target) {
        asked.append(target);
        return std::optional<ImageTranscode::Transcoded>({QByteArray(2'000'000, 'h'), "public.heic"});
    };
    const QUuid atTarget = storedPayload(noise(30'000'000), "public.png");
    const QUuid aboveTarget = storedPayload(noise(30'000'001), "public.png");
    const QUuid gifAtTarget = storedPayload(noise(30'000'000), "com.compuserve.gif");
    const CloudRecord kept = *build(RecordNames::payloadRecordID(atTarget), counting);
    EXPECT_TRUE(asked.isEmpty());
    EXPECT_EQ(kept.string("dataUTI"), "public.png");
    EXPECT_EQ(fileBytes(kept.asset("imageAsset")->filePath).size(), 30'000'000);
    const CloudRecord transcoded = *build(RecordNames::payloadRecordID(aboveTarget), counting);
    EXPECT_EQ(asked, QList<qint64>{30'000'000});
    EXPECT_EQ(transcoded.string("dataUTI"), "public.heic");
    EXPECT_EQ(fileBytes(transcoded.asset("imageAsset")->filePath), QByteArray(2'000'000, 'h'));
    // The stored payload keeps its own image.
    EXPECT_EQ(store->syncPayload(aboveTarget)->dataUTI, "public.png");
    EXPECT_EQ(store->syncPayload(aboveTarget)->imageData->size(), 30'000'001);
    EXPECT_TRUE(build(RecordNames::payloadRecordID(gifAtTarget), counting)->asset("imageAsset"));
    PayloadImageRules small = counting;
    small.transcodeAbove = 1000;
    for (const char* type : {"com.compuserve.gif", "com.adobe.pdf", "public.svg-image"}) {
        asked.clear();
        const CloudRecord bare =
            *build(RecordNames::payloadRecordID(storedPayload(noise(1001), type)), small);
        EXPECT_TRUE(asked.isEmpty());
        EXPECT_FALSE(bare.value("image"));
        EXPECT_FALSE(bare.value("imageAsset"));
        EXPECT_EQ(bare.string("dataUTI"), type);
    }
}

// The real encoder, with the target lowered so that the test stays quick.
TEST_F(RecordMappingTest, ARealImageAboveTheTargetTravelsAsHeicAndUndecodableBytesWithoutImage) {
    const QByteArray png = images::noisyPng(640, 480, 30);
    PayloadImageRules rules = PayloadImageRules::standard();
    // A HEIC at full quality would take about 440 kB.
    rules.transcodeAbove = 300'000;
    rules.inlineImageLimit = png.size();
    ASSERT_GT(png.size(), rules.transcodeAbove);
    const CloudRecord record = *build(RecordNames::payloadRecordID(storedPayload(png, "public.png")), rules);
    EXPECT_EQ(record.string("dataUTI"), "public.heic");
    const std::optional<QByteArray> image = record.bytes("image");
    ASSERT_TRUE(image);
    EXPECT_LE(image->size(), rules.transcodeAbove);
    const auto decoded = images::decode(*image);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->loader, "VipsForeignLoadHeifBuffer");
    const CloudRecord failed =
        *build(RecordNames::payloadRecordID(storedPayload(noise(png.size()), "public.png")), rules);
    EXPECT_FALSE(failed.value("image"));
    EXPECT_FALSE(failed.value("imageAsset"));
}

} // namespace
} // namespace snipjar::test
