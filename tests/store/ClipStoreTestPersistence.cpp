#include "ClipStoreTestSupport.h"

#include "store/HistoryReader.h"

#include <atomic>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

namespace snipjar::test {
namespace {

using PersistenceTest = StoreTest;

// A unit of work is seen by its own context at once and by the others after save(). Holding
// unsaved changes, even after a save that failed for a busy store, never keeps another connection
// from writing.
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
}

// Opening deletes the files of the earlier format and leaves the folder's other files alone.
TEST_F(PersistenceTest, OpeningDeletesTheEarlierFormat) {
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
    ClipPayload payload;
    payload.itemID = QUuid::createUuid();
    payload.imageData = noise(200'000);
    std::unique_ptr<ModelContext> unsaved = store->syncContainer().newContext();
    unsaved->insert(payload, PayloadLink::none);
    EXPECT_EQ(blobFiles(syncFile()).size(), 2);
    unsaved.reset();
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

// A payload whose file is gone cannot be loaded: no clip at all rather than an image clip without
// its image, from the store and from the reader alike, with one log line however often it is asked.
TEST_F(PersistenceTest, PayloadWhoseFileIsGoneCannotBeLoaded) {
    const QUuid id = fileSynced(image(noise(100'000, 'm'), QStringLiteral("public.png")));
    ASSERT_EQ(blobFiles(syncFile()).size(), 1);
    ASSERT_TRUE(QFile::remove(syncFile() + QStringLiteral("-blobs/") + blobFiles(syncFile()).first()));
    static int missingFileLines = 0;
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext& context, const QString& message) {
            missingFileLines += QLatin1String(context.category).endsWith(QLatin1String(".store")) &&
                                message.contains(QLatin1String("payload file missing"));
        });
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

class FallbackTest : public StoreTest {
protected:
    void SetUp() override { AppPaths::ensurePrivateFolder(storeFolder()); }

    // The history works on the store that fell back and on the other one.
    void expectWorkingHistory() {
        const QUuid synced = fileSynced(text(QStringLiteral("kept in memory")));
        const QUuid local = insertLocal(text(QStringLiteral("kept locally"))).constLast().id;
        EXPECT_EQ(store->item(synced)->title, QStringLiteral("kept in memory"));
        EXPECT_EQ(store->item(local)->title, QStringLiteral("kept locally"));
        const std::unique_ptr<ModelContext> other = store->syncContainer().newContext();
        EXPECT_TRUE(other->item(synced));
    }

    // Runs the check in a child process without root's power to ignore file permissions.
    static bool asUnprivilegedUser(const QString& ownedFolder, const std::function<void()>& prepareAsRoot,
                                   const std::function<bool()>& check) {
        const pid_t child = ::fork();
        if (child == 0) {
            const uid_t nobody = 65534;
            QDirIterator entries(ownedFolder, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                                 QDirIterator::Subdirectories);
            ::chown(QFile::encodeName(ownedFolder).constData(), nobody, nobody);
            while (entries.hasNext()) {
                ::lchown(QFile::encodeName(entries.next()).constData(), nobody, nobody);
            }
            prepareAsRoot();
            if (::getuid() == 0 && (::setgid(nobody) != 0 || ::setuid(nobody) != 0)) {
                ::_exit(2);
            }
            ::_exit(check() ? 0 : 1);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
};

// Each store that cannot be opened on disk (a folder in its place, a file that is no database) is
// held in memory on its own, its file left untouched; the next launch tries the disk again, as the
// second opening here does for the sync store.
TEST_F(FallbackTest, EachStoreFallsBackOnItsOwn) {
    ASSERT_TRUE(QDir().mkpath(syncFile()));
    open();
    EXPECT_TRUE(store->didFallBackToMemory());
    EXPECT_TRUE(store->syncContainer().isInMemory());
    EXPECT_FALSE(store->localContainer().isInMemory());
    expectWorkingHistory();
    store.reset();
    EXPECT_TRUE(QFileInfo(syncFile()).isDir());
    ASSERT_TRUE(QDir(storeFolder()).removeRecursively() && AppPaths::ensurePrivateFolder(storeFolder()));
    ASSERT_TRUE(PrivateFiles::writeFile(localFile(), QByteArray(8192, '\x5a') + "not a database",
                                        PrivateFiles::Durability::Buffered));
    open();
    EXPECT_TRUE(store->didFallBackToMemory());
    EXPECT_TRUE(store->localContainer().isInMemory());
    EXPECT_FALSE(store->syncContainer().isInMemory());
    expectWorkingHistory();
    store.reset();
    QFile local(localFile());
    EXPECT_EQ(local.open(QIODevice::ReadOnly) ? local.readAll() : QByteArray(),
              QByteArray(8192, '\x5a') + "not a database");
    EXPECT_FALSE(QFileInfo::exists(localFile() + QStringLiteral("-wal")));
}

// A file of a newer schema, and a migration that fails, leave the file as it was.
TEST_F(FallbackTest, NewerSchemaOrFailedMigrationLeavesTheFile) {
    auto prepare = [](const QString& path, const char* sql) {
        if (!PrivateFiles::writeFile(path, QByteArray(), PrivateFiles::Durability::Buffered)) {
            return false;
        }
        auto connection = StoreConnection::open(path, StoreConnection::Access::readWrite);
        return connection && connection->exec(sql);
    };
    ASSERT_TRUE(prepare(syncFile(), "CREATE TABLE Future (x); PRAGMA user_version = 99"));
    // Version 0 with a table in the way of the first step: the whole migration rolls back.
    ASSERT_TRUE(prepare(localFile(), "CREATE TABLE Device (x)"));
    open();
    EXPECT_TRUE(store->syncContainer().isInMemory());
    EXPECT_TRUE(store->localContainer().isInMemory());
    store.reset();
    auto sync = StoreConnection::open(syncFile(), StoreConnection::Access::readOnly);
    EXPECT_EQ(sync->queryInteger("PRAGMA user_version"), 99);
    auto local = StoreConnection::open(localFile(), StoreConnection::Access::readOnly);
    EXPECT_EQ(local->queryInteger("PRAGMA user_version"), 0);
    EXPECT_EQ(local->queryInteger("SELECT count(*) FROM sqlite_master WHERE name = 'ClipItem'"), 0);
}

TEST_F(FallbackTest, UnreadableFileAndReadOnlyFolder) {
    // Both stores must exist on disk first, so that only the permissions stand in the way.
    open();
    fileSynced(text(QStringLiteral("before")));
    store.reset();
    ASSERT_EQ(::chmod(QFile::encodeName(syncFile()).constData(), 0), 0);
    const bool unreadable = asUnprivilegedUser(
        environment.root(), [] {},
        [this] {
            open();
            return store->didFallBackToMemory() && store->syncContainer().isInMemory() &&
                   !store->localContainer().isInMemory() && syncItems().isEmpty() &&
                   !fileSynced(text(QStringLiteral("x"))).isNull() && modeOf(syncFile()) == 0;
        });
    EXPECT_TRUE(unreadable);
    // A folder that belongs to someone else and cannot be written: nothing can be created there.
    if (::getuid() != 0) {
        GTEST_SKIP() << "needs root to hand the folder to another user";
    }
    ASSERT_EQ(::chmod(QFile::encodeName(syncFile()).constData(), 0600), 0);
    ASSERT_TRUE(QFile::remove(localFile()));
    const bool readOnlyFolder = asUnprivilegedUser(
        environment.root(),
        [] {
            ::chown(QFile::encodeName(storeFolder()).constData(), 0, 0);
            ::chmod(QFile::encodeName(storeFolder()).constData(), 0755);
        },
        [this] {
            open();
            return store->didFallBackToMemory() && store->localContainer().isInMemory() &&
                   !QFileInfo::exists(localFile()) && !fileSynced(text(QStringLiteral("x"))).isNull();
        });
    EXPECT_TRUE(readOnlyFolder);
}

using ReaderTest = StoreTest;

// A file that is no database reads as empty and stays as it is.
TEST_F(ReaderTest, ForeignFileReadsAsEmptyAndStaysAsItIs) {
    store.reset();
    QDir(storeFolder()).removeRecursively();
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

class LimitsTest : public StoreTest {
protected:
    // `count` items of this computer, one second apart, the newest one second before now.
    QList<ClipItem> fill(int count, const QString& device = thisMac, qint64 secondsBefore = 1) {
        QList<ClipItem> items;
        for (int index = 0; index < count; ++index) {
            items.append(putItem(store->syncContainer(),
                                 text(QStringLiteral("item %1 of %2").arg(index).arg(device)), device,
                                 clockNow.addSecs(-secondsBefore - (count - index))));
        }
        return items;
    }
    static void setLimit(const char* key, const QVariant& value) {
        UserSettings::setValue(QLatin1String(key), value);
    }
    bool holds(const QUuid& id) { return store->item(id).has_value(); }
    ClipItem putOwn(const QString& words, qint64 secondsAgo, bool pinned = false) {
        return putItem(store->syncContainer(), text(words), thisMac, clockNow.addSecs(-secondsAgo), pinned);
    }
};

// The history length counts this computer's unpinned items: 1 to 1000 as stored, else 100. The
// insert reports the deletion before the new item.
TEST_F(LimitsTest, HistoryLengthDropsTheOldest) {
    const std::pair<QVariant, int> cases[] = {{1000, 1000}, {0, 100}, {QStringLiteral("many"), 100}};
    for (const auto& [stored, length] : cases) {
        SCOPED_TRACE(stored.toString().toStdString());
        open(ClipStore::Location::inMemory);
        setLimit(UserSettings::historyLengthKey, stored);
        const QList<ClipItem> items = fill(length);
        const QList<ClipSyncChange> changes = insertSynced(text(QStringLiteral("newest")));
        EXPECT_EQ(changes, (QList{ClipSyncChange::remove(items[0].id),
                                  ClipSyncChange::save(changes.value(1).id, true)}));
        EXPECT_EQ(syncItems().size(), length);
    }
}

// Retention: older than the stored days goes; pinned items stay, also when the limits are enforced
// without a copy, in both stores.
TEST_F(LimitsTest, RetentionRemovesOldUnpinnedItems) {
    setLimit(UserSettings::retentionDaysKey, 1);
    const ClipItem expired = putOwn(QStringLiteral("old"), ClipStore::secondsPerDay + 1);
    const ClipItem pinned = putOwn(QStringLiteral("old pinned"), 10 * ClipStore::secondsPerDay, true);
    insertSynced(text(QStringLiteral("now")));
    EXPECT_FALSE(holds(expired.id));
    EXPECT_TRUE(holds(pinned.id));
    // enforceLimitsNow prunes both stores and reports only the sync store's deletions.
    reported.clear();
    const ClipItem syncedOld = putOwn(QStringLiteral("a"), 30 * ClipStore::secondsPerDay);
    const ClipItem localOld = putItem(store->localContainer(), text(QStringLiteral("b")), thisMac,
                                      clockNow.addSecs(-30 * ClipStore::secondsPerDay));
    store->enforceLimitsNow();
    EXPECT_FALSE(holds(localOld.id));
    EXPECT_EQ(reported, QList{ClipSyncChange::remove(syncedOld.id)});
}

// Pinned bytes count toward the budget: past it, every older unpinned item goes but no pinned one.
TEST_F(LimitsTest, PinnedItemsOverTheByteBudgetRemoveEveryUnpinnedItem) {
    setLimit(UserSettings::maxStoreBytesKey, 1000);
    const ClipItem pinnedA = putOwn(QString(600, QLatin1Char('a')), 10, true);
    const ClipItem small = putOwn(QStringLiteral("b"), 20);
    const ClipItem pinnedB = putOwn(QString(600, QLatin1Char('c')), 30, true);
    const ClipItem older = putOwn(QStringLiteral("d"), 40);
    const QList<ClipSyncChange> changes = insertSynced(text(QStringLiteral("e")));
    EXPECT_TRUE(holds(small.id));
    EXPECT_FALSE(holds(older.id));
    EXPECT_EQ(changes,
              (QList{ClipSyncChange::remove(older.id), ClipSyncChange::save(changes.value(1).id, true)}));
    setLimit(UserSettings::maxStoreBytesKey, 500);
    insertSynced(text(QStringLiteral("f")));
    EXPECT_FALSE(holds(small.id));
    EXPECT_TRUE(holds(pinnedA.id));
    EXPECT_TRUE(holds(pinnedB.id));
    EXPECT_EQ(syncItems().size(), 4);
}

// Each computer prunes only its own items, whatever their number or age.
TEST_F(LimitsTest, OtherComputersItemsAreNeverPruned) {
    setLimit(UserSettings::historyLengthKey, 1);
    setLimit(UserSettings::maxStoreBytesKey, 1);
    const QList<ClipItem> theirs = fill(150, otherMac, 30 * ClipStore::secondsPerDay);
    insertSynced(text(QStringLiteral("mine")));
    EXPECT_TRUE(std::ranges::all_of(theirs, [this](const ClipItem& item) { return holds(item.id); }));
}

// The items deleted are the items walked: another connection cannot delete one of them and give
// its row to a new item in between, which would turn the deletion onto the new item.
TEST_F(LimitsTest, DeletionsNameTheItemsWalked) {
    setLimit(UserSettings::historyLengthKey, 1);
    const ClipItem newer = putOwn(QStringLiteral("newer"), 10);
    // Written last, so a row written right after its deletion takes its rowid.
    const ClipItem oldest = putOwn(QStringLiteral("oldest"), 100);
    ClipItem arrival = ClipItem::fromClip(text(QStringLiteral("arrival")), std::nullopt, thisMac);
    arrival.createdAt = clockNow.addSecs(-5);
    std::optional<bool> replacedMeanwhile;
    onStep = [&](ClipStore::FilingStep step, ModelContext& context) {
        if (step == ClipStore::FilingStep::walkedLimits && &context == &store->syncContext()) {
            const std::unique_ptr<ModelContext> other = impatient(store->syncContainer());
            other->removeItem(oldest.id);
            other->insert(arrival);
            replacedMeanwhile = other->save();
        }
    };
    store->enforceLimitsNow();
    EXPECT_EQ(replacedMeanwhile, false);
    EXPECT_EQ(reported, QList{ClipSyncChange::remove(oldest.id)});
    EXPECT_TRUE(holds(newer.id));
    EXPECT_FALSE(holds(oldest.id));
}

} // namespace
} // namespace snipjar::test
