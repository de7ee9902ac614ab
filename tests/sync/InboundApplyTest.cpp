#include "sync/InboundApply.h"
#include "EventLoopWait.h"
#include "SyncTestSupport.h"
#include "sync/RecordMapping.h"

#include <QObject>

namespace snipjar::test {
namespace {

using cloud::CloudRecord;
using cloud::RecordDeletion;
using sync::InboundApply;
using sync::InboundChanges;
using sync::RecordNames;

class InboundApplyTest : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        store->syncDidApplyInbound = [this] { ++appliedSignals; };
    }

    // One fetched page through the engine's entry point, waited for as the engine waits.
    void fetch(const QList<CloudRecord>& modifications, const QList<RecordDeletion>& deletions = {}) {
        QObject guard;
        bool done = false;
        InboundApply::handleFetchedRecordZoneChanges(*store, modifications, deletions, &guard,
                                                     [&](bool) { done = true; });
        ASSERT_TRUE(waitUntil([&] { return done; }));
    }
    static RecordDeletion deletionOf(const QString& name, const QString& type) {
        return {{name, RecordNames::zoneID()}, type};
    }
    std::unique_ptr<ModelContext> reader() { return store->syncContainer().newContext(); }

    int appliedSignals = 0;
};

TEST_F(InboundApplyTest, ItemsComeBeforeDeletionsAndNothingIsReportedBack) {
    const QUuid kept = QUuid::createUuid();
    const QUuid gone = QUuid::createUuid();
    fetch({itemRecord(kept, "kept"), itemRecord(gone, "gone"), deviceRecord(otherMac, "Laptop")},
          {deletionOf(RecordNames::itemName(gone), RecordNames::itemType)});
    EXPECT_TRUE(reader()->item(kept));
    EXPECT_FALSE(reader()->item(gone));
    EXPECT_EQ(reader()->device(otherMac)->name, "Laptop");
    EXPECT_EQ(appliedSignals, 1);
    // A later page renames the device and deletes it and the kept clip; an empty page still signals.
    fetch({deviceRecord(otherMac, "Renamed")});
    EXPECT_EQ(reader()->device(otherMac)->name, "Renamed");
    fetch({}, {deletionOf(RecordNames::itemName(kept), RecordNames::itemType),
               deletionOf(RecordNames::deviceName(otherMac), RecordNames::deviceType)});
    EXPECT_FALSE(reader()->item(kept));
    EXPECT_FALSE(reader()->device(otherMac));
    fetch({});
    EXPECT_EQ(appliedSignals, 4);
    EXPECT_TRUE(reported.isEmpty());
}

TEST_F(InboundApplyTest, APayloadIsJoinedToItsItemWhicheverComesFirstAndNeverChanges) {
    const QUuid together = QUuid::createUuid();
    fetch({payloadRecord(together, "full text together"),
           itemRecord(together, "together", false, /*hasPayload=*/true)});
    EXPECT_TRUE(reader()->isPayloadLinked(together));
    EXPECT_EQ(reader()->payload(together)->fullText, "full text together");
    const QUuid early = QUuid::createUuid();
    fetch({payloadRecord(early, "full text early")});
    EXPECT_FALSE(reader()->isPayloadLinked(early));
    fetch({itemRecord(early, "early", false, /*hasPayload=*/true)});
    EXPECT_TRUE(reader()->isPayloadLinked(early));
    EXPECT_EQ(store->loadClip(early, store->syncContainer())->plainText, "full text early");
    // A stored payload never changes, whatever comes later.
    const ClipPayload first = *reader()->payload(early);
    CloudRecord second = payloadRecord(early, "second");
    second.setChangeTag("tag-newer");
    fetch({second});
    EXPECT_EQ(*reader()->payload(early), first);
    EXPECT_EQ(CloudRecord::restoreRecord(*first.cloudRecordSystemFields)->changeTag(), "tag-pay-full tex");
}

TEST_F(InboundApplyTest, PayloadImagesComeInlineOrFromTheirAssetFile) {
    const QByteArray inlineImage = noise(4000, 'i');
    const QByteArray assetImage = noise(1'500'000, 'j');
    const QString assetPath = environment.path(QStringLiteral("fetched-asset.img"));
    ASSERT_TRUE(PrivateFiles::writeFile(assetPath, assetImage, PrivateFiles::Durability::Buffered));
    const QUuid small = QUuid::createUuid();
    const QUuid large = QUuid::createUuid();
    const QUuid unreadable = QUuid::createUuid();
    CloudRecord smallRecord(RecordNames::payloadType, RecordNames::payloadRecordID(small));
    smallRecord.setValue("dataUTI", QString("public.png"));
    smallRecord.setValue("image", inlineImage);
    CloudRecord largeRecord(RecordNames::payloadType, RecordNames::payloadRecordID(large));
    largeRecord.setValue("imageAsset", cloud::Asset{assetPath});
    CloudRecord missingRecord(RecordNames::payloadType, RecordNames::payloadRecordID(unreadable));
    missingRecord.setValue("imageAsset", cloud::Asset{environment.path("none")});
    fetch({smallRecord, largeRecord, missingRecord});
    EXPECT_EQ(reader()->payload(small)->imageData, inlineImage);
    EXPECT_EQ(reader()->payload(small)->dataUTI, "public.png");
    EXPECT_EQ(reader()->payload(large)->imageData, assetImage);
    ASSERT_TRUE(reader()->payload(unreadable));
    EXPECT_FALSE(reader()->payload(unreadable)->imageData);
}

TEST_F(InboundApplyTest, PayloadsAreSavedEveryEightMillionBytesAndNeverLeftUnsaved) {
    InboundChanges changes;
    for (char seed : {'a', 'b', 'c'}) {
        sync::InboundPayload payload;
        payload.itemID = QUuid::createUuid();
        payload.inlineImage = noise(5'000'000, seed);
        changes.payloads.append(payload);
    }
    QList<qint64> saves;
    InboundApply::applyInbound(changes, store->syncContainer(), {[&](qint64 bytes) { saves.append(bytes); }});
    EXPECT_EQ(saves, (QList<qint64>{10'000'000, 5'000'000}));
    for (const auto& payload : changes.payloads) {
        EXPECT_EQ(reader()->payload(payload.itemID)->imageData, payload.inlineImage);
    }
    // The same page again adds nothing and saves nothing.
    saves.clear();
    InboundApply::applyInbound(changes, store->syncContainer(), {[&](qint64 bytes) { saves.append(bytes); }});
    EXPECT_TRUE(saves.isEmpty());
    // Rich text alone, or an asset file that is gone, is still a payload to keep.
    InboundChanges textOnly;
    for (int index = 0; index < 3; ++index) {
        sync::InboundPayload payload;
        payload.itemID = QUuid::createUuid();
        payload.richText = QByteArray("{\\rtf1}");
        payload.assetPath = QStringLiteral("/nonexistent/asset");
        textOnly.payloads.append(payload);
    }
    InboundApply::applyInbound(textOnly, store->syncContainer(),
                               {[&](qint64 bytes) { saves.append(bytes); }});
    EXPECT_EQ(saves, QList<qint64>{21});
    for (const auto& payload : textOnly.payloads) {
        EXPECT_EQ(reader()->payload(payload.itemID)->richTextData, payload.richText);
    }
}

TEST_F(InboundApplyTest, ForeignZonesUnknownTypesAndUndecodableRecordsAreSkippedOneByOne) {
    QLoggingCategory::setFilterRules("*.sync.debug=true");
    SyncLog log;
    const QUuid good = QUuid::createUuid();
    const QUuid foreign = QUuid::createUuid();
    CloudRecord foreignItem = itemRecord(foreign, "foreign");
    foreignItem = CloudRecord(foreignItem.recordType(), {foreignItem.recordName(), {"OtherZone"}});
    CloudRecord noDate = itemRecord(QUuid::createUuid(), "no date");
    noDate.removeValue("createdAt");
    CloudRecord nameless(RecordNames::deviceType, RecordNames::deviceRecordID("nameless"));
    CloudRecord misnamedPayload(RecordNames::payloadType, {"pay-nope", RecordNames::zoneID()});
    CloudRecord settings("Settings", {"settings-1", RecordNames::zoneID()});
    const QUuid sealed = QUuid::createUuid();
    CloudRecord sealedPayload(RecordNames::payloadType, RecordNames::payloadRecordID(sealed));
    sealedPayload.setValue("sealed", QByteArray("ciphertext"));
    fetch({foreignItem, noDate, nameless, misnamedPayload, settings, sealedPayload, itemRecord(good, "good"),
           payloadRecord(good, "good text"), deviceRecord(otherMac, "Laptop")},
          {deletionOf("clip-garbage", RecordNames::itemType),
           {{RecordNames::itemName(good), {"OtherZone"}}, RecordNames::itemType}});
    QLoggingCategory::setFilterRules(QString());
    EXPECT_EQ(log.count("info inbound: 9 modification(s), 2 deletion(s)"), 1);
    EXPECT_EQ(log.count("debug inbound: foreign zone OtherZone ignored (type ClipItem)"), 1);
    EXPECT_EQ(log.count("error inbound: unknown record type Settings"), 1);
    EXPECT_EQ(log.count("debug inbound: sealed record " + RecordNames::payloadName(sealed) + " ignored"), 1);
    EXPECT_EQ(log.messages().size(), 4) << log.messages().join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(ClipStore::allItems(*reader()).size(), 1);
    EXPECT_TRUE(reader()->item(good));
    EXPECT_TRUE(reader()->isPayloadLinked(good));
    EXPECT_FALSE(reader()->device("nameless"));
    EXPECT_FALSE(reader()->hasPayloadRecord(sealed)) << "kept empty, it would never be filled";
    EXPECT_TRUE(reader()->device(otherMac));
    // Bytes that are no archive, among good ones, on the applying side.
    InboundChanges changes;
    const QUuid later = QUuid::createUuid();
    changes.items = {QByteArray("not an archive"), itemRecord(later, "later").archive()};
    changes.devices = {QByteArray("\xff\x00", 2)};
    InboundApply::applyInbound(changes, store->syncContainer());
    EXPECT_TRUE(reader()->item(later));
}

TEST_F(InboundApplyTest, TheFetchedClipWinsOverLocalEditsButKeepsLocalOnlyFields) {
    const QUuid id = QUuid::createUuid();
    fetch({itemRecord(id, "shared", /*pinned=*/false)});
    store->togglePin(id);
    store->setPixelSizeIfMissing(id, 640, 480);
    ASSERT_TRUE(store->syncItem(id)->pinned);
    reported.clear();
    CloudRecord newer = itemRecord(id, "shared, edited", /*pinned=*/false);
    newer.setChangeTag("tag-newer");
    fetch({newer});
    const ClipItem item = *reader()->item(id);
    EXPECT_FALSE(item.pinned);
    EXPECT_EQ(item.title, "shared, edited");
    EXPECT_EQ(item.pixelWidth, 640);
    EXPECT_EQ(CloudRecord::restoreRecord(*item.cloudRecordSystemFields)->changeTag(), "tag-newer");
    EXPECT_TRUE(reported.isEmpty());
}

TEST_F(InboundApplyTest, NothingIsCalledBackOnceTheCallerIsGone) {
    auto guard = std::make_unique<QObject>();
    bool done = false;
    const QUuid id = QUuid::createUuid();
    InboundApply::handleFetchedRecordZoneChanges(*store, {itemRecord(id, "late")}, {}, guard.get(),
                                                 [&](bool) { done = true; });
    guard.reset();
    InboundApply::waitForApplying();
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents();
    EXPECT_FALSE(done);
    EXPECT_EQ(appliedSignals, 0);
    // The page itself was written.
    EXPECT_TRUE(reader()->item(id));
}

} // namespace
} // namespace snipjar::test
