#include "ClipStoreTestSupport.h"

#include "model/StoreConnection.h"

#include <sys/stat.h>

#include <thread>

namespace snipjar::test {
namespace {

using PersistenceTest = StoreTest;

mode_t modeOf(const QString& path) {
    struct stat status {};
    ::stat(QFile::encodeName(path).constData(), &status);
    return status.st_mode & 07777;
}

// A unit of work is seen by its own context at once and by the others' contexts after save().
TEST_F(PersistenceTest, SavedChangesReachOtherContexts) {
    const std::unique_ptr<ModelContext> writer = store->syncContainer().newContext();
    const std::unique_ptr<ModelContext> reader = store->syncContainer().newContext();
    ClipItem item = ClipItem::fromClip(text(QStringLiteral("a")), std::nullopt, thisMac);
    writer->insert(item);
    EXPECT_TRUE(writer->item(item.id));
    EXPECT_FALSE(reader->item(item.id));
    ASSERT_TRUE(writer->save());
    EXPECT_TRUE(reader->item(item.id));
    EXPECT_TRUE(store->syncItem(item.id));

    item.title = QStringLiteral("changed");
    reader->update(item);
    ASSERT_TRUE(reader->save());
    EXPECT_EQ(writer->item(item.id)->title, QStringLiteral("changed"));

    // Changes never saved are dropped with their context.
    {
        const std::unique_ptr<ModelContext> abandoned = store->syncContainer().newContext();
        abandoned->removeItem(item.id);
        EXPECT_FALSE(abandoned->item(item.id));
    }
    EXPECT_TRUE(reader->item(item.id));
}

TEST_F(PersistenceTest, DeletingAnItemDeletesItsPayload) {
    const QUuid id = fileSynced(text(QString(6000, QLatin1Char('p'))));
    ASSERT_TRUE(store->syncContext().hasPayloadRecord(id));
    EXPECT_TRUE(store->syncContext().isPayloadLinked(id));
    store->remove(id);
    EXPECT_FALSE(store->syncContext().hasPayloadRecord(id));
}

// Everything saved is still there after the store is opened again; the earlier format is deleted.
TEST_F(PersistenceTest, HistorySurvivesReopening) {
    const QUuid synced = fileSynced(text(QString(7000, QLatin1Char('s'))));
    const QUuid local =
        insertLocal(image(noise(300'000), QStringLiteral("com.compuserve.gif"))).constLast().id;
    store->togglePin(synced);
    const QStringList earlier{QStringLiteral("history.store"),     QStringLiteral("history.store-wal"),
                              QStringLiteral("history.store-shm"), QStringLiteral("local.store"),
                              QStringLiteral("local.store-wal"),   QStringLiteral("local.store-shm")};
    for (const QString& name : earlier) {
        QFile file(storeFolder() + QLatin1Char('/') + name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    QFile unrelated(storeFolder() + QStringLiteral("/notes.txt"));
    ASSERT_TRUE(unrelated.open(QIODevice::WriteOnly));
    unrelated.close();

    open();
    EXPECT_FALSE(store->didFallBackToMemory());
    EXPECT_TRUE(store->item(synced)->pinned);
    EXPECT_EQ(store->loadClip(synced, store->syncContainer())->plainText, QString(7000, QLatin1Char('s')));
    EXPECT_EQ(store->loadClip(local, store->localContainer())->imageData, noise(300'000));
    for (const QString& name : earlier) {
        EXPECT_FALSE(QFileInfo::exists(storeFolder() + QLatin1Char('/') + name)) << name.toStdString();
    }
    EXPECT_TRUE(unrelated.exists());

    const auto connection = StoreConnection::open(syncFile(), StoreConnection::Access::readOnly);
    EXPECT_EQ(connection->queryInteger("PRAGMA user_version"), 1);
    EXPECT_EQ(connection->queryText("PRAGMA journal_mode"), QStringLiteral("wal"));
}

// Large payload bytes live in files: written with the row, removed after the deletion commits,
// dropped with an unsaved unit of work, and swept at opening when no row names them.
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
    EXPECT_TRUE(blobFiles(syncFile()).isEmpty());

    const QUuid kept = fileSynced(image(noise(90'000, 'k'), QStringLiteral("public.png")));
    const QString stray = syncFile() + QStringLiteral("-blobs/6F9619FF-8B86-D011-B42D-00C04FC964FF-image-1");
    ASSERT_TRUE(PrivateFiles::writeFile(stray, "left by a crash", PrivateFiles::Durability::Buffered));
    open();
    EXPECT_FALSE(QFileInfo::exists(stray));
    EXPECT_EQ(blobFiles(syncFile()).size(), 1);
    EXPECT_EQ(store->syncPayload(kept)->imageData, noise(90'000, 'k'));
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
    QStringList checked;
    QDirIterator files(storeFolder(), QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                       QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString path = files.next();
        EXPECT_EQ(modeOf(path), QFileInfo(path).isDir() ? 0700u : 0600u) << path.toStdString();
        checked << QFileInfo(path).fileName();
    }
    for (const QString& expected :
         {ClipStore::syncStoreName, ClipStore::syncStoreName + QStringLiteral("-wal"),
          ClipStore::syncStoreName + QStringLiteral("-shm"),
          ClipStore::localStoreName + QStringLiteral("-wal")}) {
        EXPECT_TRUE(checked.contains(expected)) << expected.toStdString();
    }
    EXPECT_EQ(checked.size(), 10); // two databases with their WAL files, two blob folders, two blobs
}

// Filing runs on other threads with contexts of their own while the main thread reads and writes.
TEST_F(PersistenceTest, InsertsFromAnotherThreadWhileTheMainThreadWorks) {
    const QUuid pinned = fileSynced(text(QStringLiteral("pinned on main")));
    std::thread filer([this] {
        for (int index = 0; index < 60; ++index) {
            const std::unique_ptr<ModelContext> context = store->syncContainer().newContext();
            store->insert(text(QStringLiteral("from the filer %1").arg(index)), *context);
        }
    });
    for (int round = 0; round < 60; ++round) {
        store->togglePin(pinned);
        ClipStore::groups(syncItems());
    }
    filer.join();
    EXPECT_EQ(syncItems().size(), 61);
    EXPECT_FALSE(store->item(pinned)->pinned);
}

} // namespace
} // namespace snipjar::test
