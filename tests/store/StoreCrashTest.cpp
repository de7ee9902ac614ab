#include "ClipStoreTestSupport.h"

#include "store/StoreConnection.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QThread>

#include <csignal>

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

    // Starts the child, lets it work for a random moment after its first clip, and kills it.
    void runAndKill(int lifetimeMilliseconds) {
        QProcess child;
        child.setProgram(QStringLiteral(SNIPJAR_BINARY_DIR "/tests/store/snipjar_store_crash_child"));
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start();
        ASSERT_TRUE(child.waitForStarted(5000));
        QByteArray output;
        QElapsedTimer sinceFirst;
        QElapsedTimer total;
        total.start();
        while (total.elapsed() < 20'000) {
            child.waitForReadyRead(10);
            output += child.readAllStandardOutput();
            if (!sinceFirst.isValid() && output.contains('\n')) {
                sinceFirst.start();
            }
            if (sinceFirst.isValid() && sinceFirst.elapsed() >= lifetimeMilliseconds) {
                break;
            }
        }
        ::kill(pid_t(child.processId()), SIGKILL);
        child.waitForFinished(5000);
        output += child.readAllStandardOutput();
        // Only whole lines were promised; a line cut by the kill was never complete.
        for (const QByteArray& line : output.split('\n')) {
            if (line.size() < 38) {
                continue;
            }
            const QUuid id = QUuid::fromString(QLatin1String(line.mid(2)));
            if (line.startsWith("I ")) {
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
        runAndKill(int(random.bounded(50, 700)));
        open();
        ASSERT_FALSE(store->didFallBackToMemory()) << "round " << round;
        for (const QUuid& id : std::as_const(filed)) {
            const std::optional<ClipItem> item = store->item(id);
            ASSERT_TRUE(item) << "round " << round << ": lost " << id.toString().toStdString();
            if (item->hasPayload) {
                ModelContainer& container =
                    store->syncItem(id) ? store->syncContainer() : store->localContainer();
                const std::optional<Clip> clip = store->loadClip(id, container);
                ASSERT_TRUE(clip);
                EXPECT_EQ(Clip(*clip).byteSize(), item->byteSize) << "round " << round;
            }
        }
        for (const QUuid& id : std::as_const(deleted)) {
            EXPECT_FALSE(store->item(id)) << "round " << round;
        }
        for (const QString& file : {syncFile(), localFile()}) {
            const auto connection = StoreConnection::open(file, StoreConnection::Access::readWrite);
            ASSERT_TRUE(connection);
            EXPECT_EQ(connection->queryText("PRAGMA integrity_check"), QStringLiteral("ok"));
            const QStringList present = blobFiles(file);
            EXPECT_EQ(QSet<QString>(present.cbegin(), present.cend()), referencedFiles(*connection))
                << "round " << round;
        }
        store.reset();
    }
    EXPECT_GT(filed.size(), 8);
    std::printf("filed %lld clips, deleted %lld across 8 kills\n", qint64(filed.size()),
                qint64(deleted.size()));
}

} // namespace
} // namespace snipjar::test
