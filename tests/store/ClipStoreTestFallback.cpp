#include "ClipStoreTestSupport.h"

#include "store/StoreConnection.h"

#include <sys/wait.h>
#include <unistd.h>

namespace snipjar::test {
namespace {

class FallbackTest : public StoreTest {
protected:
    void SetUp() override { AppPaths::ensurePrivateFolder(storeFolder()); }

    static QByteArray contents(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

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
    QDir(syncFile()).removeRecursively();
    for (const char* suffix : {"", "-wal", "-shm"}) {
        QFile::remove(localFile() + QLatin1String(suffix));
    }
    ASSERT_TRUE(PrivateFiles::writeFile(localFile(), QByteArray(8192, '\x5a') + "not a database",
                                        PrivateFiles::Durability::Buffered));
    const QByteArray before = contents(localFile());
    open();
    EXPECT_TRUE(store->didFallBackToMemory());
    EXPECT_TRUE(store->localContainer().isInMemory());
    EXPECT_FALSE(store->syncContainer().isInMemory());
    expectWorkingHistory();
    store.reset();
    EXPECT_EQ(contents(localFile()), before);
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
    expectWorkingHistory();
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

} // namespace
} // namespace snipjar::test
