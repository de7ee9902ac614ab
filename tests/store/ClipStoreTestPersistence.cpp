#include "ClipStoreTestSupport.h"

#include "store/HistoryReader.h"

#include <atomic>
#include <thread>

namespace snipjar::test {
namespace {

using PersistenceTest = StoreTest;

// A unit of work is seen by its own context at once and by the others after save(). Holding
// unsaved changes, even after a save that failed for a busy store, never keeps another connection
// from writing; changes never saved are dropped with their context.
TEST_F(PersistenceTest, UnitsOfWorkHoldTheirChangesWithoutTheLock) {
    ModelContext& main = store->syncContext();
    const std::unique_ptr<ModelContext> other = impatient(store->syncContainer());
    ClipItem item = ClipItem::fromClip(text(QStringLiteral("a")), std::nullopt, thisMac);
    main.insert(item);
    EXPECT_TRUE(main.item(item.id));
    EXPECT_FALSE(other->item(item.id));
    other->insert(ClipItem::fromClip(text(QStringLiteral("b")), std::nullopt, thisMac));
    EXPECT_TRUE(other->save());
    ASSERT_TRUE(main.save());
    EXPECT_TRUE(other->item(item.id));

    main.setPinned(item.id, true);
    main.setBusyTimeout(20);
    EXPECT_FALSE(holdWriteLock(syncFile()) && main.save());
    EXPECT_TRUE(main.item(item.id)->pinned);
    item.title = QStringLiteral("changed elsewhere");
    other->update(item);
    EXPECT_TRUE(other->save());
    EXPECT_TRUE(main.item(item.id)->pinned);
    ASSERT_TRUE(main.save());
    EXPECT_TRUE(other->item(item.id)->pinned);

    {
        const std::unique_ptr<ModelContext> abandoned = store->syncContainer().newContext();
        abandoned->removeItem(item.id);
        EXPECT_FALSE(abandoned->item(item.id));
    }
    EXPECT_TRUE(other->item(item.id));
}

// Everything saved is still there after the store is opened again; the earlier format is deleted.
TEST_F(PersistenceTest, HistorySurvivesReopening) {
    const QUuid synced = fileSynced(text(QString(7000, QLatin1Char('s'))));
    const QUuid local =
        insertLocal(image(noise(300'000), QStringLiteral("com.compuserve.gif"))).constLast().id;
    store->togglePin(synced);
    QStringList earlier;
    for (const char* name : {"history.store", "local.store"}) {
        for (const char* suffix : {"", "-wal", "-shm"}) {
            earlier << storeFolder() + QLatin1Char('/') + QLatin1String(name) + QLatin1String(suffix);
            ASSERT_TRUE(PrivateFiles::writeFile(earlier.last(), "old", PrivateFiles::Durability::Buffered));
        }
    }
    const QString unrelated = storeFolder() + QStringLiteral("/notes.txt");
    ASSERT_TRUE(PrivateFiles::writeFile(unrelated, "mine", PrivateFiles::Durability::Buffered));

    open();
    EXPECT_TRUE(store->item(synced)->pinned);
    EXPECT_EQ(store->loadClip(synced, store->syncContainer())->plainText, QString(7000, QLatin1Char('s')));
    EXPECT_EQ(store->loadClip(local, store->localContainer())->imageData, noise(300'000));
    for (const QString& path : earlier) {
        EXPECT_FALSE(QFileInfo::exists(path)) << path.toStdString();
    }
    EXPECT_TRUE(QFileInfo::exists(unrelated));
}

// Large payload bytes live in files: written with the row, removed with the item after the deletion
// commits, dropped with an unsaved unit of work, and swept at opening when no row names them.
TEST_F(PersistenceTest, LargePayloadBytesLiveInTheirOwnFiles) {
    const QUuid small =
        fileSynced(image(noise(BlobStorage::externalThreshold - 1), QStringLiteral("public.png")));
    EXPECT_TRUE(blobFiles(syncFile()).isEmpty());
    Clip rich = text(QStringLiteral("rich"));
    rich.kind = Clip::Kind::richText;
    rich.richTextData = noise(100'000, 'r');
    const QUuid large = fileSynced(rich);
    ASSERT_EQ(blobFiles(syncFile()).size(), 1);
    EXPECT_EQ(store->syncPayload(large)->richTextData, rich.richTextData);
    EXPECT_EQ(store->syncPayload(small)->imageData, noise(BlobStorage::externalThreshold - 1));
    EXPECT_TRUE(store->syncContext().isPayloadLinked(large));

    {
        const std::unique_ptr<ModelContext> unsaved = store->syncContainer().newContext();
        ClipPayload payload;
        payload.itemID = QUuid::createUuid();
        payload.imageData = noise(200'000);
        unsaved->insert(payload, PayloadLink::none);
        EXPECT_EQ(blobFiles(syncFile()).size(), 2);
    }
    EXPECT_EQ(blobFiles(syncFile()).size(), 1);

    store->remove(large);
    EXPECT_FALSE(store->syncContext().hasPayloadRecord(large));
    EXPECT_TRUE(blobFiles(syncFile()).isEmpty());

    const QUuid kept = fileSynced(image(noise(90'000, 'k'), QStringLiteral("public.png")));
    const QString stray = syncFile() + QStringLiteral("-blobs/6F9619FF-8B86-D011-B42D-00C04FC964FF-image-1");
    ASSERT_TRUE(PrivateFiles::writeFile(stray, "left by a crash", PrivateFiles::Durability::Buffered));
    open();
    EXPECT_FALSE(QFileInfo::exists(stray));
    EXPECT_EQ(blobFiles(syncFile()).size(), 1);
    EXPECT_EQ(store->syncPayload(kept)->imageData, noise(90'000, 'k'));
}

int missingFileLines = 0;

void countMissingFiles(QtMsgType, const QMessageLogContext& context, const QString& message) {
    if (QLatin1String(context.category).endsWith(QLatin1String(".store")) &&
        message.contains(QLatin1String("payload file missing"))) {
        ++missingFileLines;
    }
}

// A payload whose file is gone cannot be loaded: no clip at all rather than an image clip without
// its image, from the store and from the reader alike, with one log line however often it is asked.
TEST_F(PersistenceTest, PayloadWhoseFileIsGoneCannotBeLoaded) {
    Clip clip = image(noise(100'000, 'm'), QStringLiteral("public.png"));
    const QUuid id = fileSynced(clip);
    ASSERT_EQ(blobFiles(syncFile()).size(), 1);
    ASSERT_TRUE(QFile::remove(syncFile() + QStringLiteral("-blobs/") + blobFiles(syncFile()).first()));

    missingFileLines = 0;
    const QtMessageHandler previous = qInstallMessageHandler(countMissingFiles);
    for (int round = 0; round < 3; ++round) {
        EXPECT_FALSE(store->loadClip(id, store->syncContainer()));
        EXPECT_FALSE(store->syncPayload(id));
        EXPECT_FALSE(HistoryReader().loadClip(id));
    }
    qInstallMessageHandler(previous);
    EXPECT_EQ(missingFileLines, 1);
    EXPECT_TRUE(store->item(id));
}

// Every file of the store is 0600 and every folder 0700, whatever the umask.
TEST_F(PersistenceTest, FilesArePrivateWhateverTheUmask) {
    store.reset();
    QDir(storeFolder()).removeRecursively();
    const mode_t previous = ::umask(0);
    open();
    fileSynced(image(noise(100'000), QStringLiteral("public.png")));
    insertLocal(image(noise(100'000, 'l'), QStringLiteral("com.compuserve.gif")));
    ::umask(previous);

    EXPECT_EQ(modeOf(storeFolder()), 0700u);
    int checked = 0;
    QDirIterator files(storeFolder(), QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                       QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString path = files.next();
        EXPECT_EQ(modeOf(path), QFileInfo(path).isDir() ? 0700u : 0600u) << path.toStdString();
        ++checked;
    }
    EXPECT_EQ(checked, 10); // two databases with their WAL files, two blob folders, two blobs
}

using ReaderTest = StoreTest;

// The command line reads both files, newest first, each item marked with its store.
TEST_F(ReaderTest, ReadsBothStoresNewestFirst) {
    const QUuid older = fileSynced(text(QStringLiteral("synced")));
    advance(1);
    Clip file;
    file.kind = Clip::Kind::file;
    file.fileURLs = {QStringLiteral("file:///tmp/a.txt")};
    const QUuid newer = insertLocal(file).constLast().id;
    advance(1);
    Clip rich = text(QStringLiteral("rich"));
    rich.kind = Clip::Kind::richText;
    rich.richTextData = noise(150'000, 'q');
    const QUuid withFile = fileSynced(rich);
    store->registerThisMac();

    const HistoryReader reader;
    const QList<HistoryEntry> entries = reader.items();
    ASSERT_EQ(entries.size(), 3);
    EXPECT_EQ(entries[0].item.id, withFile);
    EXPECT_EQ(entries[1].item.id, newer);
    EXPECT_EQ(entries[1].store, HistoryEntry::Store::localOnly);
    EXPECT_EQ(entries[2].item.id, older);
    EXPECT_EQ(entries[2].store, HistoryEntry::Store::synced);
    EXPECT_EQ(reader.devices().size(), 1);
    EXPECT_EQ(reader.loadClip(withFile)->richTextData, rich.richTextData);
    EXPECT_EQ(reader.loadClip(newer)->fileURLs, file.fileURLs);
    EXPECT_FALSE(reader.loadClip(QUuid::createUuid()));
}

TEST_F(ReaderTest, MissingOrForeignFilesReadAsEmptyAndStayAsTheyAre) {
    store.reset();
    QDir(storeFolder()).removeRecursively();
    EXPECT_TRUE(HistoryReader().items().isEmpty());
    EXPECT_FALSE(QFileInfo::exists(storeFolder()));

    ASSERT_TRUE(QDir().mkpath(storeFolder()));
    ASSERT_TRUE(PrivateFiles::writeFile(syncFile(), "garbage", PrivateFiles::Durability::Buffered));
    EXPECT_TRUE(HistoryReader().items().isEmpty());
    EXPECT_TRUE(HistoryReader().devices().isEmpty());
    EXPECT_EQ(QDir(storeFolder()).entryList(QDir::Files).size(), 1);
}

// Filing runs on another thread with contexts of its own while the main thread pins and groups,
// and the command line reads: nothing fails, and no reader sees half a unit of work.
TEST_F(ReaderTest, FilingOnAnotherThreadWhileOthersReadAndWrite) {
    const QUuid pinned = fileSynced(text(QStringLiteral("pinned on main")));
    std::atomic<bool> done = false;
    std::thread filer([this, &done] {
        for (int index = 0; index < 60; ++index) {
            const std::unique_ptr<ModelContext> context = store->syncContainer().newContext();
            store->insert(text(QString(6000, QLatin1Char('x')) + QString::number(index)), *context);
        }
        done = true;
    });
    const HistoryReader reader;
    qsizetype seen = 0;
    for (int round = 0; !done || round < 60; ++round) {
        store->togglePin(pinned);
        ClipStore::groups(syncItems());
        const QList<HistoryEntry> entries = reader.items();
        EXPECT_GE(entries.size(), seen);
        seen = entries.size();
        // A failed assertion must not leave the filer running.
        const std::optional<Clip> clip = reader.loadClip(entries.first().item.id);
        EXPECT_TRUE(clip && clip->plainText && clip->plainText->size() == entries.first().item.byteSize);
    }
    filer.join();
    EXPECT_EQ(reader.items().size(), 61);
}

} // namespace
} // namespace snipjar::test
