#include "ClipStoreTestSupport.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QThread>

#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace snipjar::test {
namespace {

class StoreCrashTest : public StoreTest {
protected:
    void SetUp() override {
        // Nothing may be pruned, so that every filed clip can be looked for afterwards.
        UserSettings::setValue(QLatin1String(UserSettings::historyLengthKey), 1000);
        UserSettings::setValue(QLatin1String(UserSettings::retentionDaysKey), 3650);
        UserSettings::setValue(QLatin1String(UserSettings::maxStoreBytesKey), qint64(100'000'000'000));
    }

    // The forked child: files payload files (images, rich text over the file threshold), long texts
    // kept in the row and short texts until it is killed, writing "I <id>" once an insert has
    // returned, "R <id>" before a deletion and "D <id>" once it has returned.
    [[noreturn]] static void fileUntilKilled(const QString& announcements) {
        const int out =
            ::open(QFile::encodeName(announcements).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ClipStore child(ClipStore::Location::onDisk, ClipStore::Options{QStringLiteral("CRASH-MAC"), {}});
        QRandomGenerator random(quint32(::getpid()));
        const auto bytes = [&random](int least, int most) {
            QByteArray data(random.bounded(least, most), Qt::Uninitialized);
            random.fillRange(reinterpret_cast<quint32*>(data.data()), data.size() / 4);
            return data;
        };
        const auto announce = [out](char what, const QUuid& id) {
            const QByteArray line = what + (' ' + id.toByteArray(QUuid::WithoutBraces)) + '\n';
            [[maybe_unused]] const ssize_t written = ::write(out, line.constData(), size_t(line.size()));
        };
        QUuid deletable;
        for (int index = 0;; ++index) {
            Clip clip =
                text(index % 4 == 2
                         ? QString(random.bounded(5'001, 30'000), QLatin1Char('t')) + QString::number(index)
                         : QStringLiteral("short %1 %2").arg(index).arg(random.generate()));
            if (index % 4 == 0) {
                clip = image(bytes(70'000, 3'000'000), QStringLiteral("public.png"));
            } else if (index % 4 == 1) {
                clip.kind = Clip::Kind::richText;
                clip.richTextData = bytes(1'000, 400'000);
            }
            ModelContainer& container = index % 3 == 0 ? child.localContainer() : child.syncContainer();
            const QList<ClipSyncChange> changes = child.insert(clip, *container.newContext());
            if (changes.isEmpty()) {
                continue;
            }
            announce('I', changes.constLast().id);
            if (index % 5 == 4 && !deletable.isNull()) {
                announce('R', deletable);
                child.remove(deletable);
                announce('D', deletable);
                deletable = QUuid();
            } else if (index % 5 == 1) {
                deletable = changes.constLast().id;
            }
        }
    }

    // Forks the child, lets it work for a moment after its first clip, and kills it.
    void runAndKill(int lifetimeMilliseconds) {
        const QString announcements = environment.path(QStringLiteral("announced"));
        QFile::remove(announcements);
        const pid_t child = ::fork();
        if (child == 0) {
            fileUntilKilled(announcements);
        }
        QElapsedTimer total;
        total.start();
        while (QFileInfo(announcements).size() == 0 && total.elapsed() < 20'000) {
            QThread::msleep(5);
        }
        QThread::msleep(lifetimeMilliseconds);
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        QFile file(announcements);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray output = file.readAll();
        // Only whole lines were promised; a line cut by the kill was never complete.
        for (const QByteArray& line : output.split('\n')) {
            const QUuid id = QUuid::fromString(QLatin1String(line.mid(2)));
            if (line.size() < 38) {
                continue;
            } else if (line.startsWith("I ")) {
                filed.insert(id);
            } else if (line.startsWith("R ")) {
                // Deleted or not: a kill before "D" may fall on either side of the commit.
                filed.remove(id);
            } else if (line.startsWith("D ")) {
                deleted.insert(id);
            }
        }
    }

    static QSet<QString> referencedFiles(StoreConnection& connection) {
        QSet<QString> names;
        StoreStatement statement = connection.prepare(
            QStringLiteral("SELECT richTextFile FROM ClipPayload WHERE richTextFile IS NOT NULL "
                           "UNION ALL SELECT imageFile FROM ClipPayload WHERE imageFile IS NOT NULL"));
        while (statement.step() == StoreStatement::Step::row) {
            names.insert(statement.text(0));
        }
        return names;
    }

    QSet<QUuid> filed;
    QSet<QUuid> deleted;
};

// A crash of the process at any moment loses nothing whose filing had returned, leaves a sound
// database, and leaves no payload file behind that no row names.
TEST_F(StoreCrashTest, KilledWhileFilingKeepsEverythingThatWasFiled) {
    QRandomGenerator random(20250310);
    for (int round = 0; round < 8; ++round) {
        SCOPED_TRACE(round);
        runAndKill(int(random.bounded(50, 700)));
        open();
        ASSERT_FALSE(store->didFallBackToMemory());
        for (const QUuid& id : std::as_const(filed)) {
            const std::optional<ClipItem> item = store->item(id);
            ASSERT_TRUE(item) << "lost " << id.toString().toStdString();
            if (item->hasPayload) {
                ModelContainer& container =
                    store->syncItem(id) ? store->syncContainer() : store->localContainer();
                const std::optional<Clip> clip = store->loadClip(id, container);
                ASSERT_TRUE(clip);
                EXPECT_EQ(Clip(*clip).byteSize(), item->byteSize);
            }
        }
        for (const QUuid& id : std::as_const(deleted)) {
            EXPECT_FALSE(store->item(id));
        }
        for (const QString& file : {syncFile(), localFile()}) {
            const auto connection = StoreConnection::open(file, StoreConnection::Access::readWrite);
            ASSERT_TRUE(connection);
            EXPECT_EQ(connection->queryText("PRAGMA integrity_check"), QStringLiteral("ok"));
            const QStringList present = blobFiles(file);
            EXPECT_EQ(QSet<QString>(present.cbegin(), present.cend()), referencedFiles(*connection));
        }
        store.reset();
    }
    EXPECT_GT(filed.size(), 8);
}

} // namespace
} // namespace snipjar::test
