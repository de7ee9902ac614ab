#include "ClipStoreTestSupport.h"

#include "model/HistoryReader.h"

#include <atomic>
#include <thread>

namespace snipjar::test {
namespace {

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
