#include "ClipStoreTestSupport.h"
#include "ImageTestImages.h"
#include "platform/DeviceIdentity.h"

#include <algorithm>
#include <random>

namespace snipjar::test {
namespace {

using FilingTest = StoreTest;
using Step = ClipStore::FilingStep;

// Copying the same words again on this computer, plain or rich, moves the first item to the top
// and keeps its title and source.
TEST_F(FilingTest, SameWordsAgainMoveTheFirstItemToTheTop) {
    const QUuid first = fileSynced(text(QStringLiteral("hello"), QStringLiteral("Editor")));
    advance(10);
    fileSynced(text(QStringLiteral("other")));
    advance(10);
    Clip rich = text(QStringLiteral("hello"), QStringLiteral("Terminal"));
    rich.kind = Clip::Kind::richText;
    rich.richTextData = QByteArray("{\\rtf1 hello}");
    EXPECT_EQ(insertSynced(rich), QList{ClipSyncChange::save(first, false)});
    const QList<ClipItem> items = syncItems();
    ASSERT_EQ(items.size(), 2);
    EXPECT_EQ(items[0].id, first);
    EXPECT_EQ(items[0].sourceName, QStringLiteral("Editor"));
    EXPECT_EQ(items[0].kindRaw, QStringLiteral("text"));
    // Concealed clips and clips over 50,000,000 bytes are never filed.
    Clip secret = text(QStringLiteral("hunter2"));
    secret.concealed = true;
    EXPECT_TRUE(insertLocal(secret).isEmpty());
    EXPECT_TRUE(insertSynced(image(QByteArray(50'000'001, 'x'), QStringLiteral("public.png"))).isEmpty());
    EXPECT_EQ(syncItems().size(), 2);
    EXPECT_TRUE(localItems().isEmpty());
}

// A text of exactly 5000 characters and a file clip fit in the item: no payload, and loadClip
// rebuilds them from the item alone.
TEST_F(FilingTest, PayloadOnlyForWhatTheItemCannotHold) {
    const QUuid atLimit = fileSynced(text(QString(5000, QLatin1Char('v'))));
    EXPECT_FALSE(store->item(atLimit)->hasPayload);
    EXPECT_FALSE(store->syncContext().hasPayloadRecord(atLimit));
    EXPECT_EQ(store->loadClip(atLimit, store->syncContainer()).value_or(Clip()).plainText,
              QString(5000, QLatin1Char('v')));
    Clip files;
    files.kind = Clip::Kind::file;
    files.fileURLs = {QStringLiteral("file:///home/a/Report.pdf"),
                      QStringLiteral("file:///home/a/Notes.txt")};
    const QUuid fileID = insertLocal(files).constLast().id;
    EXPECT_FALSE(store->item(fileID)->hasPayload);
    EXPECT_EQ(store->loadClip(fileID, store->localContainer()).value_or(Clip()).fileURLs, files.fileURLs);
}

// Images get thumbnail, pixel size and title from their pixels; bytes that are no image, of no
// type, keep "Image".
TEST_F(FilingTest, ImageTitleThumbnailAndPixelSize) {
    const QByteArray png = images::noisyPng(300, 200, 5);
    Clip clip = image(png, QStringLiteral("public.png"));
    clip.sourceName = QStringLiteral("Viewer");
    const ClipItem item = *store->item(fileSynced(clip));
    EXPECT_EQ(item.pixelWidth, 300);
    EXPECT_TRUE(item.thumbnailData && !item.thumbnailData->isEmpty());
    EXPECT_EQ(item.title, QStringLiteral("PNG 300\u00D7200 \u00B7 Viewer"));
    const ClipItem untyped = *store->item(fileSynced(image(noise(5000, 'b'), std::nullopt)));
    EXPECT_EQ(untyped.title, QStringLiteral("Image"));
    EXPECT_FALSE(untyped.thumbnailData);
    EXPECT_FALSE(untyped.pixelWidth);
}

// touch tells sync nothing, a pin is reported for the sync store only, the pixel size is
// filled in once, and unknown ids do nothing.
TEST_F(FilingTest, TouchPinAndPixelSize) {
    const QUuid synced = fileSynced(text(QStringLiteral("a")));
    const QUuid local = insertLocal(text(QStringLiteral("b"))).constLast().id;
    advance(5);
    store->touch(synced);
    store->togglePin(synced);
    store->togglePin(local);
    store->touch(QUuid::createUuid());
    store->togglePin(QUuid::createUuid());
    EXPECT_TRUE(store->item(synced)->pinned && store->item(local)->pinned);
    EXPECT_EQ(reported, QList{ClipSyncChange::save(synced, false)});
    store->setPixelSizeIfMissing(local, 640, 480);
    store->setPixelSizeIfMissing(local, 1, 1);
    EXPECT_EQ(store->item(local)->pixelWidth, 640);
}

// A clip that cannot be saved is reported as nothing filed and leaves nothing behind, new or
// copied again; a store busy for a moment is tried again, a bounded number of times.
TEST_F(FilingTest, ClipThatCannotBeSavedIsNotReportedAsFiled) {
    const QUuid earlier = fileSynced(text(QStringLiteral("earlier")));
    const QDateTime earlierTime = clockNow;
    advance(10);
    int retries = 0;
    onStep = [&](Step step, ModelContext&) { retries += step == Step::retrying ? 1 : 0; };
    auto lock = holdWriteLock(syncFile());
    const std::unique_ptr<ModelContext> context = impatient(store->syncContainer());
    EXPECT_TRUE(store->insert(image(noise(100'000), QStringLiteral("public.png")), *context).isEmpty());
    EXPECT_TRUE(store->insert(text(QStringLiteral("earlier")), *context).isEmpty());
    EXPECT_EQ(retries, 2 * (ClipStore::insertAttempts - 1));
    EXPECT_FALSE(context->hasChanges());
    lock.reset();
    EXPECT_EQ(syncItems().size(), 1);
    EXPECT_EQ(store->item(earlier)->createdAt, earlierTime);
    EXPECT_TRUE(blobFiles(syncFile()).isEmpty());
    lock = holdWriteLock(syncFile());
    onStep = [&](Step step, ModelContext&) {
        if (step == Step::retrying) {
            lock.reset();
        }
    };
    const QList<ClipSyncChange> changes =
        store->insert(image(noise(100'000), QStringLiteral("public.png")), *context);
    EXPECT_EQ(changes, QList{ClipSyncChange::save(changes.value(0).id, true)});
    EXPECT_EQ(store->loadClip(changes.value(0).id, store->syncContainer()).value_or(Clip()).imageData,
              noise(100'000));
    EXPECT_EQ(blobFiles(syncFile()).size(), 1);
}

// The copy found by the lookup stays locked until the clip is saved: a deletion from another
// connection waits instead of leaving the clip filed nowhere, and a copy gone from under the
// lookup within the unit of work makes the clip new.
TEST_F(FilingTest, EarlierCopyCannotVanishBetweenLookupAndMove) {
    const QUuid first = fileSynced(text(QStringLiteral("again")));
    advance(10);
    std::optional<bool> deletedMeanwhile;
    onStep = [&](Step step, ModelContext&) {
        if (step == Step::lookedUp) {
            const std::unique_ptr<ModelContext> other = impatient(store->syncContainer());
            other->removeItem(first);
            deletedMeanwhile = other->save();
        }
    };
    EXPECT_EQ(insertSynced(text(QStringLiteral("again"))), QList{ClipSyncChange::save(first, false)});
    EXPECT_EQ(deletedMeanwhile, false);
    EXPECT_EQ(store->item(first)->createdAt, clockNow);
    onStep = [&](Step step, ModelContext& context) {
        if (step == Step::lookedUp) {
            context.removeItem(first);
        }
    };
    const QList<ClipSyncChange> changes = insertSynced(text(QStringLiteral("again")));
    EXPECT_EQ(changes, QList{ClipSyncChange::save(changes.value(0).id, true)});
    EXPECT_EQ(syncItems().size(), 1);
}

using DevicesTest = StoreTest;

// One delete removes the same content copied on two computers; copying it again here moves only
// this computer's own item. The delete reports the sync store's items. A concealed item goes
// alone.
TEST_F(DevicesTest, SameContentOnTwoComputersIsOneRowAndOneDeletion) {
    const QUuid mine = fileSynced(text(QStringLiteral("shared")));
    advance(60);
    const ClipItem theirs =
        putItem(store->syncContainer(), text(QStringLiteral("shared")), otherMac, clockNow);
    advance(60);
    EXPECT_EQ(insertSynced(text(QStringLiteral("shared"))), QList{ClipSyncChange::save(mine, false)});
    EXPECT_EQ(ClipStore::groups(syncItems())[0].originIDs, (QStringList{thisMac, otherMac}));
    store->remove(theirs.id);
    EXPECT_TRUE(syncItems().isEmpty());
    EXPECT_EQ(QSet<QUuid>({reported.value(0).id, reported.value(1).id}), (QSet<QUuid>{mine, theirs.id}));
    EXPECT_EQ(reported, (QList{ClipSyncChange::remove(reported.value(0).id),
                               ClipSyncChange::remove(reported.value(1).id)}));
    // A concealed item shares its content with nothing: it goes alone.
    reported.clear();
    const QUuid plain = fileSynced(text(QStringLiteral("secret")));
    Clip concealedClip = text(QStringLiteral("secret"));
    concealedClip.concealed = true;
    const ClipItem concealed = putItem(store->syncContainer(), concealedClip, thisMac, clockNow);
    ASSERT_EQ(concealed.dedupKey, store->item(plain)->dedupKey);
    store->remove(concealed.id);
    EXPECT_FALSE(store->item(concealed.id));
    EXPECT_TRUE(store->item(plain));
    EXPECT_EQ(reported, QList{ClipSyncChange::remove(concealed.id)});
}

// Groups depend only on the items' times, not on the order they are given; concealed and keyless
// items stand alone. Computers are listed by their most recent item, named by their first Device
// record or "Computer".
TEST_F(DevicesTest, GroupsOfShuffledItemsAndMacs) {
    const auto itemOf = [this](const QString& words, const QString& device, qint64 secondsAgo,
                               bool pinned = false, bool concealed = false) {
        ClipItem item = ClipItem::fromClip(text(words), std::nullopt, device);
        item.createdAt = clockNow.addSecs(-secondsAgo);
        item.pinned = pinned;
        item.concealed = concealed;
        return item;
    };
    std::mt19937 random(7);
    const QStringList devices{thisMac, otherMac, QStringLiteral("THIRD"), QString()};
    QList<ClipItem> items;
    for (int index = 0; index < 600; ++index) {
        // About one content in three is copied on more than one computer.
        const QString words = QStringLiteral("content %1").arg(random() % 400);
        const QString& device = devices[qsizetype(random() % 4)];
        const bool pinned = random() % 10 == 0;
        items.append(itemOf(words, device, index, pinned, random() % 25 == 0));
    }
    const QList<ClipGroup> expected = ClipStore::groups(items);
    EXPECT_LT(expected.size(), items.size());
    QList<ClipItem> shuffled = items;
    std::shuffle(shuffled.begin(), shuffled.end(), random);
    EXPECT_EQ(ClipStore::groups(shuffled), expected);
    EXPECT_EQ(ClipStore::macs(shuffled, {}), ClipStore::macs(items, {}));
    const ClipItem secretA = itemOf(QStringLiteral("s"), thisMac, 50, false, true);
    ClipItem secretB = secretA;
    secretB.id = QUuid::createUuid();
    ClipItem keyless = itemOf(QStringLiteral("k"), QString(), 300);
    ClipItem keylessToo = itemOf(QStringLiteral("k"), QString(), 400);
    keyless.dedupKey.clear();
    keylessToo.dedupKey.clear();
    EXPECT_EQ(ClipStore::groups({secretA, keylessToo, keyless, secretB}).size(), 4);
    const QList<Device> named{{thisMac, QStringLiteral("Desk"), std::nullopt},
                              {otherMac, QStringLiteral("Laptop"), std::nullopt},
                              {otherMac, QStringLiteral("Laptop again"), std::nullopt}};
    EXPECT_EQ(
        ClipStore::macs({itemOf(QStringLiteral("c"), QStringLiteral("THIRD"), 20),
                         itemOf(QStringLiteral("b"), thisMac, 10), itemOf(QStringLiteral("a"), otherMac, 0)},
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
    const QUuid pending = fileSynced(text(QStringLiteral("123")));
    insertLocal(text(QString(100, QLatin1Char('l'))));
    ClipItem item = *store->syncItem(uploaded);
    item.cloudRecordSystemFields = QByteArray("system fields");
    store->syncContext().update(item);
    ASSERT_TRUE(store->syncContext().save());
    EXPECT_EQ(store->syncedBytes(), 8);
    EXPECT_EQ(store->unsyncedItems(), QList{*store->syncItem(pending)});
}

// A payload stored before its item takes its system fields and can be deleted on its own, its file
// after the commit.
TEST_F(DevicesTest, PayloadWithoutItsItem) {
    ModelContext& context = store->syncContext();
    ClipPayload payload;
    payload.itemID = QUuid::createUuid();
    payload.imageData = noise(120'000);
    payload.dataUTI = QStringLiteral("public.heic");
    context.insert(payload, PayloadLink::none);
    ASSERT_TRUE(context.save());
    context.setPayloadCloudRecordSystemFields(payload.itemID, QByteArray("fields"));
    ASSERT_TRUE(context.save());
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
