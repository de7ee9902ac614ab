#include "FaultyVfs.h"

#include "ClipStoreTestSupport.h"
#include "EventLoopWait.h"
#include "capture/ClipIngestor.h"
#include "platform/fakes/FakeDesktopNotifier.h"
#include "store/BlobStorage.h"

#include <sqlite3.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <sched.h>
#include <sys/mount.h>

namespace snipjar::test {
namespace {

using FaultyVfs::Operation;
using FaultyVfs::Persistence;

// What the history must hold, as far as the store said it saved: by title, pinned or not, and when
// it was last copied.
struct Expected {
    bool pinned = false;
    QDateTime createdAt;

    bool operator==(const Expected&) const = default;
};
using History = std::map<std::string, Expected>;

void PrintTo(const Expected& entry, std::ostream* out) {
    *out << (entry.pinned ? "pinned " : "") << entry.createdAt.toString(Qt::ISODate).toStdString();
}

Clip textClip(const QString& words, bool rich = false) {
    Clip clip;
    clip.kind = rich ? Clip::Kind::richText : Clip::Kind::text;
    clip.plainText = words;
    if (rich) {
        // Large enough that its bytes go to a payload file beside the database.
        clip.richTextData = QByteArray(BlobStorage::externalThreshold + 100, 'r');
    }
    return clip;
}

QString integrityOf(const QString& name) {
    const auto connection = StoreConnection::open(AppPaths::storeFolder() + QLatin1Char('/') + name,
                                                  StoreConnection::Access::readOnly);
    return connection ? connection->queryText("PRAGMA integrity_check").value_or(QStringLiteral("no answer"))
                      : QStringLiteral("cannot open");
}

// One run: a history saved without faults, then a burst of copies, pins and deletions on a store
// opened with the fault armed; afterwards the files must be sound and hold exactly what the store
// reported as saved, in the live store and after a reopen.
class FaultRun {
public:
    FaultRun() {
        open();
        for (const char* words : {"alpha", "bravo", "charlie"}) {
            copy(QString::fromLatin1(words));
        }
        pin(QStringLiteral("bravo"));
        store.reset();
    }

    void burst() {
        open();
        for (int index = 0; index < 4; ++index) {
            copy(QStringLiteral("copy %1").arg(index));
        }
        copy(QString(6000, QLatin1Char('L')));
        copy(textClip(QStringLiteral("rich"), true));
        copy(QStringLiteral("alpha"));
        pin(QStringLiteral("bravo"));
        pin(QStringLiteral("copy 1"));
        remove(QStringLiteral("charlie"));
        remove(QStringLiteral("copy 2"));
        copy(QStringLiteral("copy 4"));
    }

    History held() {
        History history;
        for (const ClipItem& item : ClipStore::allItems(store->syncContext())) {
            history[key(item.title)] = {item.pinned, item.createdAt};
        }
        return history;
    }
    void check(const std::string& run) {
        SCOPED_TRACE(run);
        EXPECT_EQ(held(), expected) << "the live store differs from what was reported";
        // A store that could not be opened on disk was in memory, as the user was told: its file
        // is left as it was.
        const History onDisk = fellBack ? before : expected;
        const bool wasInMemory = fellBack;
        store.reset();
        for (const QString& name : {ClipStore::syncStoreName, ClipStore::localStoreName}) {
            EXPECT_EQ(integrityOf(name), QStringLiteral("ok")) << name.toStdString();
        }
        open();
        EXPECT_EQ(held(), onDisk) << "the reopened store differs from what was reported";
        // Every change reported to sync waits in the outbox for the server.
        if (!wasInMemory) {
            const QList<OutboxEntry> outbox = store->syncContext().outbox();
            for (const ClipSyncChange& change : reported) {
                EXPECT_TRUE(std::ranges::any_of(outbox, [&](const auto& entry) {
                    return entry.change.id == change.id;
                })) << change.id.toString().toStdString();
            }
        }
    }

private:
    static std::string key(const QString& title) { return title.left(12).toStdString(); }

    void open() {
        clock = clock.addSecs(60);
        // Attempts that fail at once need no pause between them here.
        store = std::make_unique<ClipStore>(ClipStore::Location::onDisk,
                                            ClipStore::Options{thisMac, [this] { return clock; }, {}, {}, 0});
        store->onSyncChange = [this](const ClipSyncChange& change) { reported.append(change); };

        fellBack = store->syncContainer().isInMemory();
        before = expected;
        if (fellBack) {
            expected.clear(); // the store in memory starts empty
        }
    }
    void copy(const QString& words) { copy(textClip(words)); }
    void copy(const Clip& clip) {
        clock = clock.addSecs(1);
        const std::unique_ptr<ModelContext> context = store->syncContainer().newContext();
        const ClipStore::Filing filing = store->file(clip, *context);
        ASSERT_NE(filing.outcome, ClipStore::Filing::Outcome::skipped);
        EXPECT_EQ(filing.outcome == ClipStore::Filing::Outcome::filed, !filing.changes.isEmpty());
        if (filing.outcome == ClipStore::Filing::Outcome::filed) {
            expected[key(*clip.plainText)].createdAt = clock;
        }
    }
    std::optional<QUuid> idOf(const QString& title) {
        const QList<ClipItem> items = ClipStore::allItems(store->syncContext());
        const auto found =
            std::ranges::find_if(items, [&](const ClipItem& item) { return key(item.title) == key(title); });
        return found == items.end() ? std::nullopt : std::optional(found->id);
    }
    void pin(const QString& title) {
        if (const std::optional<QUuid> id = idOf(title); id && store->togglePin(*id)) {
            expected[key(title)].pinned = !expected[key(title)].pinned;
        }
    }
    void remove(const QString& title) {
        if (const std::optional<QUuid> id = idOf(title); id && store->remove(*id)) {
            expected.erase(key(title));
        }
    }

    TestEnvironment environment;
    QDateTime clock = QDateTime(QDate(2025, 3, 10), QTime(12, 0), Qt::UTC);
    std::unique_ptr<ClipStore> store;
    History expected;
    History before;
    bool fellBack = false;
    QList<ClipSyncChange> reported;
};

// Every write, sync or open of the burst fails in turn, once (a passing I/O error) or from then on
// (a disk that stays full until the burst is over).
TEST(StoreFaultTest, EveryFailingFileOperationLeavesTheHistoryAsReported) {
    FaultyVfs::install();
    // Some hundred stores are made and opened here; the faults come from the shim, not the disk,
    // so they live in memory where the system offers a folder for that.
    const QByteArray previousTemporary = qgetenv("TMPDIR");
    const bool inMemory = QFileInfo(QStringLiteral("/dev/shm")).isWritable() && qputenv("TMPDIR", "/dev/shm");
    const std::shared_ptr<void> restoreTemporary(nullptr, [&](void*) {
        inMemory &&
            (previousTemporary.isEmpty() ? qunsetenv("TMPDIR") : qputenv("TMPDIR", previousTemporary));
    });
    struct Case {
        Operation operation;
        int errorCode;
        Persistence persistence;
        const char* name;
    };
    const Case cases[] = {
        {Operation::write, SQLITE_IOERR_WRITE, Persistence::once, "write fails once"},
        {Operation::write, SQLITE_FULL, Persistence::sticky, "disk full from a write on"},
        {Operation::sync, SQLITE_IOERR_FSYNC, Persistence::once, "sync fails once"},
        {Operation::open, SQLITE_IOERR, Persistence::once, "open fails once"},
        {Operation::open, SQLITE_FULL, Persistence::sticky, "opens fail from one on"},
    };
    for (const Case& row : cases) {
        int calls = 0;
        {
            FaultRun dryRun;
            FaultyVfs::disarm();
            dryRun.burst();
            calls = FaultyVfs::seen(row.operation);
        }
        ASSERT_GT(calls, 0) << row.name << ": the burst makes no such call";
        for (int nth = 1; nth <= calls + 1; ++nth) {
            FaultRun run;
            FaultyVfs::arm(row.operation, nth, row.errorCode, row.persistence);
            run.burst();
            FaultyVfs::disarm();
            run.check(std::string(row.name) + ", call " + std::to_string(nth) + " of " +
                      std::to_string(calls));
            if (::testing::Test::HasFailure()) {
                return;
            }
        }
    }
}

// A private tmpfs over the data folder, so that the history can fill a disk for real. In a mount
// namespace of the test's own where the process may have one; else mounted over the test's
// temporary folder and detached afterwards.
struct SmallDisk {
    explicit SmallDisk(const QString& folder, qint64 bytes)
        : path(QFile::encodeName(folder)) {
        QDir().mkpath(folder);
        if (::unshare(CLONE_NEWNS) == 0) {
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr);
        }
        const QByteArray options = "size=" + QByteArray::number(bytes) + ",mode=0700";
        mounted = ::mount("tmpfs", path.constData(), "tmpfs", MS_NOSUID | MS_NODEV, options.constData()) == 0;
        problem = mounted ? "" : std::strerror(errno);
    }
    ~SmallDisk() { mounted&& ::umount2(path.constData(), MNT_DETACH); }

    // Fills what is left of the disk with a file of its own; true when the disk is full.
    bool fill() const {
        QFile ballast(QFile::decodeName(path) + QStringLiteral("/ballast"));
        const QByteArray block(4096, 'x');
        while (ballast.isOpen() || ballast.open(QIODevice::WriteOnly)) {
            if (ballast.write(block) != block.size() || !ballast.flush()) {
                return true;
            }
        }
        return false;
    }
    void makeRoom() const { QFile::remove(QFile::decodeName(path) + QStringLiteral("/ballast")); }

    QByteArray path;
    bool mounted = false;
    std::string problem;
};

// The history on a disk that fills: the user is told once, the copies made meanwhile wait in
// memory, and they are saved by themselves, under the times they were copied, once there is room.
TEST(StoreFaultTest, FullDiskHoldsCopiesTellsOnceAndResumesWhenThereIsRoom) {
    TestEnvironment environment;
    SmallDisk disk(qEnvironmentVariable("XDG_DATA_HOME"), 4 * 1024 * 1024);
    if (!disk.mounted) {
        GTEST_SKIP() << "a tmpfs cannot be mounted here (" << disk.problem
                     << "): the full-disk case needs root or CAP_SYS_ADMIN";
    }
    const QDateTime start(QDate(2025, 3, 10), QTime(12, 0), Qt::UTC);
    QDateTime clock = start;
    ClipStore store(ClipStore::Location::onDisk, ClipStore::Options{thisMac, [&clock] { return clock; }});
    ASSERT_FALSE(store.didFallBackToMemory());
    FakeDesktopNotifier notifier;
    QList<QList<ClipSyncChange>> finished;
    int stops = 0;
    {
        ClipIngestor ingestor(store);
        ingestor.reportFailuresTo(notifier);
        ingestor.setHeldRetryInterval(std::chrono::milliseconds(100));
        QObject::connect(&ingestor, &ClipIngestor::jobFinished,
                         [&](const QList<ClipSyncChange>& changes) { finished.append(changes); });
        QObject::connect(&ingestor, &ClipIngestor::filingStopped, [&] { ++stops; });

        ingestor.ingest(textClip(QStringLiteral("before the disk filled")));
        ASSERT_TRUE(waitUntil([&] { return finished.size() == 1; }));
        ASSERT_TRUE(disk.fill());
        // Text large enough that each copy needs pages the full disk cannot give.
        for (int index = 0; index < 5; ++index) {
            clock = clock.addSecs(10);
            ingestor.ingest(
                textClip(QStringLiteral("while full %1 ").arg(index) + QString(20'000, QLatin1Char('w'))));
        }
        ASSERT_TRUE(waitUntil([&] { return stops == 1; }));
        settle(std::chrono::milliseconds(500));
        EXPECT_EQ(finished.size(), 1) << "a copy held in memory was reported as done";
        EXPECT_EQ(ClipStore::allItems(store.syncContext()).size(), 1);
        ASSERT_EQ(notifier.notifications.size(), 1);
        EXPECT_EQ(notifier.notifications.first().summary, QStringLiteral("Snipjar cannot save new copies"));

        disk.makeRoom();
        ASSERT_TRUE(waitUntil([&] { return finished.size() == 6; }));
        EXPECT_TRUE(std::ranges::none_of(finished, [](const auto& changes) { return changes.isEmpty(); }));
        EXPECT_EQ(notifier.notifications.size(), 1);
        EXPECT_EQ(stops, 1);
    }
    const QList<ClipItem> items = ClipStore::allItems(store.syncContext());
    ASSERT_EQ(items.size(), 6);
    for (int index = 0; index < 5; ++index) {
        EXPECT_TRUE(items[4 - index].title.startsWith(QStringLiteral("while full %1 ").arg(index)));
        EXPECT_EQ(items[4 - index].createdAt, start.addSecs(10 * (index + 1)));
    }
    EXPECT_EQ(integrityOf(ClipStore::syncStoreName), QStringLiteral("ok"));
}

} // namespace
} // namespace snipjar::test
