#include "image/PreviewCache.h"
#include "TestEnvironment.h"
#include "platform/AppPaths.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace snipjar::test {
namespace {

int modeOf(const QString& path) {
    struct stat info {};
    ::stat(QFile::encodeName(path).constData(), &info);
    return int(info.st_mode & 0777);
}

// Messages of the preview-cache category, collected during a prune.
QStringList cacheMessages;
void collectCacheMessages(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type == QtInfoMsg && QByteArray(context.category).endsWith(".preview-cache")) {
        cacheMessages.append(text);
    }
}
QStringList pruneLogging(const PreviewCache& cache) {
    cacheMessages.clear();
    const QtMessageHandler previous = qInstallMessageHandler(collectCacheMessages);
    cache.prune();
    qInstallMessageHandler(previous);
    return cacheMessages;
}

class PreviewCacheTest : public ::testing::Test {
protected:
    // Entries of equal size, the first one the oldest, each a minute newer than the one before.
    QStringList writeAgedEntries(const PreviewCache& cache, int count, qsizetype size) {
        QStringList keys;
        const QDateTime oldest = QDateTime::currentDateTimeUtc().addDays(-1);
        for (int index = 0; index < count; ++index) {
            const QString key = QStringLiteral("entry%1").arg(index);
            cache.write(key, QByteArray(size, char('a' + index)));
            setModified(cache.filePath(key), oldest.addSecs(60 * index));
            keys.append(key);
        }
        return keys;
    }
    static void setModified(const QString& path, const QDateTime& time) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.setFileTime(time, QFileDevice::FileModificationTime));
    }
    static QStringList remaining(const PreviewCache& cache, QStringList keys) {
        keys.removeIf([&](const QString& key) { return !QFile::exists(cache.filePath(key)); });
        return keys;
    }

    TestEnvironment environment;
};

// Entries are named after the image digest, shared by every item of that image, else after the
// item's UUID; and after the side.
TEST_F(PreviewCacheTest, EntryNamesFollowTheImageDigest) {
    const QString digest(64, QLatin1Char('b'));
    const QUuid item = QUuid::createUuid();
    EXPECT_EQ(PreviewCache::cacheKey(QStringLiteral("i:") + digest, item), digest);
    EXPECT_EQ(PreviewCache::cacheKey(QStringLiteral("t:") + digest, item),
              item.toString(QUuid::WithoutBraces).toUpper());
    EXPECT_EQ(PreviewCache::fileName(digest, 300), digest + QStringLiteral("-300.png"));
}

// Entries are private files in a private folder, read back as written, with no temporary left.
TEST_F(PreviewCacheTest, WrittenEntriesArePrivateAndReadBack) {
    ::umask(022);
    const PreviewCache cache(1000);
    EXPECT_EQ(modeOf(cache.dir()), 0700);
    EXPECT_EQ(modeOf(AppPaths::cacheFolder()), 0700);
    EXPECT_FALSE(cache.read(QStringLiteral("missing")).has_value());
    cache.write(QStringLiteral("key"), QByteArray("first"));
    cache.write(QStringLiteral("key"), QByteArray("second"));
    EXPECT_EQ(cache.read(QStringLiteral("key")), QByteArray("second"));
    EXPECT_EQ(modeOf(cache.filePath(QStringLiteral("key"))), 0600);
    EXPECT_EQ(QDir(cache.dir()).entryList(QDir::Files | QDir::Hidden), QStringList{cache.fileName("key")});
}

// Pruning deletes the least recently used entries until the folder fits, and logs only then;
// reading an entry makes it the most recently used.
TEST_F(PreviewCacheTest, PruneDeletesLeastRecentlyUsedUntilWithinBudget) {
    struct Case {
        qsizetype entrySize;
        bool readOldest;
        qsizetype firstKept; // after the oldest, when it was read
        QStringList log;
    };
    const QStringList pruned{QStringLiteral("preview cache pruned to 24000 bytes")};
    // Ten entries over a budget of 25,000 bytes: 3000 bytes each is 5000 over, 2500 exactly at it.
    for (const Case& test :
         {Case{3000, false, 2, pruned}, Case{2500, false, 0, {}}, Case{3000, true, 3, pruned}}) {
        SCOPED_TRACE(test.firstKept);
        QDir(PreviewCache().dir()).removeRecursively();
        const PreviewCache cache(25'000);
        const QStringList keys = writeAgedEntries(cache, 10, test.entrySize);
        if (test.readOldest) {
            ASSERT_TRUE(cache.read(keys[0]).has_value());
        }
        EXPECT_EQ(pruneLogging(cache), test.log);
        EXPECT_EQ(remaining(cache, keys),
                  (test.readOldest ? QStringList{keys[0]} : QStringList()) + keys.mid(test.firstKept));
    }
}

// A file that cannot be deleted still counts as removed, so the pass ends above budget.
TEST_F(PreviewCacheTest, UndeletableEntryStillCountsAsRemoved) {
    const PreviewCache cache(25'000);
    const QStringList keys = writeAgedEntries(cache, 10, 3000);
    const QString oldest = cache.filePath(keys[0]);
    // The superuser deletes from any folder, so the oldest file is made immutable instead.
    const bool superuser = ::geteuid() == 0;
    const bool locked = superuser
                            ? QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("+i"), oldest}) == 0
                            : ::chmod(QFile::encodeName(cache.dir()).constData(), 0500) == 0;
    if (!locked) {
        GTEST_SKIP() << "cannot make a file undeletable here";
    }
    const QStringList log = pruneLogging(cache);
    if (superuser) {
        QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), oldest});
    } else {
        ::chmod(QFile::encodeName(cache.dir()).constData(), 0700);
    }
    EXPECT_TRUE(QFile::exists(oldest));
    EXPECT_TRUE(QFile::exists(cache.filePath(keys[2])));
    EXPECT_EQ(log, QStringList{QStringLiteral("preview cache pruned to 24000 bytes")});
}

} // namespace
} // namespace snipjar::test
