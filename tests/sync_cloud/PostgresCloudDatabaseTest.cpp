// What only the PostgreSQL server can show: isolation against raw SQL, restarts, pruning, damaged
// rows, logins and schema versions.
#include "sync/cloud/postgres/PostgresCloudDatabase.h"
#include "CloudBackends.h"
#include "EventLoopWait.h"
#include "PostgresCluster.h"
#include "TestEnvironment.h"
#include "platform/AppPaths.h"
#include "platform/PrivateFiles.h"
#include "sync/cloud/postgres/PostgresChanges.h"

#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <pqxx/nontransaction>
#include <pqxx/transaction>

#include <sys/stat.h>

#include <atomic>
#include <future>

namespace snipjar::test {
namespace {

using namespace snipjar::cloud;
using namespace std::chrono_literals;

int modeOf(const QString& path) {
    struct stat status {};
    return ::stat(QFile::encodeName(path).constData(), &status) == 0 ? int(status.st_mode & 07777) : -1;
}

class PostgresCloudDatabaseTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(cluster().isReady()) << cluster().error().toStdString();
        static int next = 0;
        alice = QStringLiteral("pgalice_%1").arg(++next);
        bob = QStringLiteral("pgbob_%1").arg(next);
        ASSERT_TRUE(cluster().addUser(alice, "alice-secret"));
        ASSERT_TRUE(cluster().addUser(bob, "bob-secret"));
        database = open(alice, "alice-secret");
        ASSERT_TRUE(database->saveZone(historyZone).ok());
    }

    static PostgresCluster& cluster() { return sharedPostgresCluster(); }

    std::unique_ptr<PostgresCloudDatabase> open(const QString& user, const QString& password) {
        return std::make_unique<PostgresCloudDatabase>(PostgresAccount{cluster().socketURI(user), password});
    }

    std::string rawConnection(const QString& user, const QString& password) {
        return postgresConnectionString({cluster().tcpURI(user), password});
    }

    // Whether a session of Alice's waits for a lock another one holds.
    bool someoneWaitsForALock() {
        pqxx::connection watcher(rawConnection(alice, "alice-secret"));
        return waitUntil(
            [&] {
                pqxx::nontransaction query(watcher);
                return !query
                            .exec("SELECT 1 FROM pg_stat_activity WHERE wait_event_type = 'Lock' AND "
                                  "usename = current_user")
                            .empty();
            },
            60s);
    }

    TestEnvironment environment;
    QString alice;
    QString bob;
    std::unique_ptr<PostgresCloudDatabase> database;
};

TEST_F(PostgresCloudDatabaseTest, AnotherUserCannotReachARecordOrAssetWhateverSqlItSends) {
    QTemporaryDir folder;
    const QString large = folder.filePath("large.img");
    ASSERT_TRUE(PrivateFiles::writeFile(large, QByteArray(postgres::largeObjectThreshold + 4096, 'L'),
                                        PrivateFiles::Durability::Buffered));
    CloudRecord record = textRecord("pay-1", "secret", "ClipPayload");
    record.setValue("image", Asset{large});
    const auto saved = database->modifyRecords({record}, {});
    ASSERT_TRUE(saved.ok() && saved.value().saved.size() == 1);
    const auto oid = cluster().adminSQL(
        QStringLiteral("SELECT large_object FROM snipjar.assets WHERE owner = '%1'").arg(alice));
    ASSERT_TRUE(oid.has_value() && !oid->isEmpty()) << "an asset this large is kept as a large object";
    pqxx::connection connection(rawConnection(bob, "bob-secret"));
    pqxx::nontransaction sql(connection);
    for (const char* table : {"owners", "zones", "records", "record_references", "assets"}) {
        EXPECT_EQ(sql.exec(std::string("SELECT * FROM snipjar.") + table).size(), 0u) << table;
    }
    EXPECT_EQ(sql.exec("UPDATE snipjar.records SET fields = NULL").affected_rows(), 0u);
    EXPECT_EQ(sql.exec("DELETE FROM snipjar.records").affected_rows(), 0u);
    EXPECT_EQ(sql.exec("DELETE FROM snipjar.assets").affected_rows(), 0u);
    const auto refused = [&sql](const std::string& statement) {
        try {
            sql.exec(statement);
            return false;
        } catch (const pqxx::sql_error&) {
            return true;
        }
    };
    const std::string aliceName = alice.toStdString();
    EXPECT_TRUE(
        refused("INSERT INTO snipjar.zones (owner, zone_name) VALUES ('" + aliceName + "', 'planted')"));
    EXPECT_TRUE(refused("SELECT lo_get(" + oid->toStdString() + ")"));
    EXPECT_TRUE(refused("SELECT lo_unlink(" + oid->toStdString() + ")"));
    EXPECT_TRUE(refused("SET ROLE " + connection.quote_name(aliceName)));
    EXPECT_TRUE(refused("ALTER TABLE snipjar.records DISABLE ROW LEVEL SECURITY"));
    EXPECT_TRUE(refused("ALTER TABLE snipjar.records NO FORCE ROW LEVEL SECURITY"));
    EXPECT_TRUE(refused("UPDATE snipjar.schema_version SET version = 9"));
    // Alice's record and asset are whole.
    const auto all = fetchAll(*database, std::nullopt);
    ASSERT_TRUE(all.has_value());
    ASSERT_EQ(all->modifications.size(), 1);
    EXPECT_EQ(QFileInfo(all->modifications[0].asset("image")->filePath).size(),
              postgres::largeObjectThreshold + 4096);
}

TEST_F(PostgresCloudDatabaseTest, FetchedAssetFilesArePrivateAndGoWithTheirPage) {
    QTemporaryDir folder;
    const QString path = folder.filePath("a.img");
    ASSERT_TRUE(PrivateFiles::writeFile(path, "image bytes", PrivateFiles::Durability::Buffered));
    CloudRecord record = textRecord("pay-2", "x", "ClipPayload");
    record.setValue("image", Asset{path});
    CloudRecord saved = database->modifyRecords({record}, {}).value().saved.value(0);
    // Saving again with an asset field naming no file keeps the server's bytes.
    saved.setValue("image", Asset{});
    saved.setValue("text", QString("y"));
    ASSERT_EQ(database->modifyRecords({saved}, {}).value().saved.size(), 1);
    auto page = database->fetchChanges(historyZone, std::nullopt);
    ASSERT_TRUE(page.ok());
    ASSERT_EQ(page.value().modifications.size(), 1);
    const QString fetched = page.value().modifications[0].asset("image")->filePath;
    const QFileInfo file(fetched);
    // In the application's own cache, not the shared and often small system temporary folder.
    EXPECT_TRUE(fetched.startsWith(AppPaths::cacheFolder() + QLatin1Char('/'))) << fetched.toStdString();
    EXPECT_EQ(modeOf(fetched), 0600);
    EXPECT_EQ(modeOf(file.absolutePath()), 0700);
    QFile content(fetched);
    ASSERT_TRUE(content.open(QIODevice::ReadOnly));
    EXPECT_EQ(content.readAll(), QByteArray("image bytes"));
    content.close();
    auto keeper = page.value().assetFiles;
    page = CloudError{};
    EXPECT_TRUE(QFile::exists(fetched)) << "a copy of the handle keeps the files";
    keeper.reset();
    EXPECT_FALSE(QFile::exists(fetched));
    EXPECT_FALSE(QFileInfo::exists(file.absolutePath()));
}

TEST_F(PostgresCloudDatabaseTest, AServerRestartFailsOneCallAndThenRecoversWithNotices) {
    std::atomic<int> notices = 0;
    auto subscription = database->subscribe([&notices] { ++notices; });
    ASSERT_TRUE(waitUntil([&] { return notices >= 1; }, 60s)) << "the first listen is announced";
    ASSERT_TRUE(database->modifyRecords({textRecord("clip-1", "before")}, {}).ok());
    ASSERT_TRUE(waitUntil([&] { return notices >= 2; }, 60s)) << "the save's notice";
    const int beforeReconnect = notices;
    ASSERT_TRUE(cluster().restart()) << cluster().error().toStdString();
    const auto broken = database->fetchChanges(historyZone, std::nullopt);
    ASSERT_FALSE(broken.ok()) << "the old connection is gone";
    EXPECT_TRUE(broken.error().isTransient()) << cloudErrorCodeName(broken.error().code).toStdString();
    const auto again = database->fetchChanges(historyZone, std::nullopt);
    ASSERT_TRUE(again.ok()) << again.error().description.toStdString();
    EXPECT_EQ(again.value().modifications.size(), 1);
    EXPECT_TRUE(waitUntil([&] { return notices > beforeReconnect; }, 60s)) << "the subscription reconnects";
    // While the server is down the calls fail as transient; nothing of a failed batch is applied.
    ASSERT_TRUE(cluster().stop());
    const auto down = database->modifyRecords({textRecord("clip-2", "lost")}, {});
    ASSERT_FALSE(down.ok());
    EXPECT_TRUE(down.error().isTransient());
    ASSERT_TRUE(cluster().start());
    const auto after = fetchAll(*database, std::nullopt);
    ASSERT_TRUE(after.has_value());
    EXPECT_EQ(namesOf(after->modifications), QSet<QString>{"clip-1"});
    subscription.reset();
}

TEST_F(PostgresCloudDatabaseTest, ABatchWhoseSessionIsCutAppliesNoneOfIt) {
    const CloudRecord held =
        database->modifyRecords({textRecord("clip-held", "h")}, {}).value().saved.value(0);
    // Another session of Alice's holds the last record of the batch, so the batch waits there
    // with its first saves written.
    pqxx::connection blocker(rawConnection(alice, "alice-secret"));
    pqxx::work lock(blocker);
    lock.exec("SELECT 1 FROM snipjar.records WHERE record_name = 'clip-held' FOR UPDATE");
    CloudRecord change = held;
    change.setValue("text", QString("changed"));
    auto batch = std::async(std::launch::async, [&] {
        return database->modifyRecords({textRecord("clip-new-1", "1"), textRecord("clip-new-2", "2"), change},
                                       {});
    });
    ASSERT_TRUE(someoneWaitsForALock()) << "the batch waits for the row lock";
    // Only the batch's session is cut: a whole-server restart also ends the lock holder, and the
    // batch may then commit before its own session is told to stop.
    ASSERT_TRUE(cluster().adminSQL(QStringLiteral("SELECT pg_terminate_backend(pid) FROM pg_stat_activity "
                                                  "WHERE wait_event_type = 'Lock'")))
        << cluster().error().toStdString();
    const auto outcome = batch.get();
    ASSERT_FALSE(outcome.ok());
    EXPECT_TRUE(outcome.error().isTransient());
    lock.abort();
    const auto all = fetchAll(*database, std::nullopt);
    ASSERT_TRUE(all.has_value());
    ASSERT_EQ(all->modifications.size(), 1);
    EXPECT_EQ(all->modifications[0].string("text"), QString("h"));
}

TEST_F(PostgresCloudDatabaseTest, CancelStopsAWaitingCall) {
    database->modifyRecords({textRecord("clip-held", "h")}, {});
    pqxx::connection blocker(rawConnection(alice, "alice-secret"));
    pqxx::work lock(blocker);
    lock.exec("SELECT 1 FROM snipjar.owners FOR UPDATE");
    auto batch = std::async(std::launch::async,
                            [&] { return database->modifyRecords({textRecord("clip-2", "2")}, {}); });
    ASSERT_TRUE(someoneWaitsForALock());
    database->cancel();
    const auto outcome = batch.get();
    ASSERT_FALSE(outcome.ok());
    EXPECT_EQ(outcome.error().code, CloudErrorCode::operationCancelled);
    lock.abort();
    EXPECT_TRUE(database->modifyRecords({textRecord("clip-3", "3")}, {}).ok()) << "the next call works";
}

TEST_F(PostgresCloudDatabaseTest, PruningExpiresTokensOlderThanTheRemovedTombstones) {
    const auto saved = database->modifyRecords({textRecord("clip-1", "1"), textRecord("clip-2", "2")}, {});
    ASSERT_TRUE(saved.ok());
    const auto beforeDelete = fetchAll(*database, std::nullopt);
    ASSERT_TRUE(beforeDelete.has_value());
    ASSERT_TRUE(database->modifyRecords({}, {saved.value().saved[0].recordID()}).ok());
    const auto afterDelete = fetchAll(*database, beforeDelete->token);
    ASSERT_TRUE(afterDelete.has_value());
    EXPECT_EQ(afterDelete->deletions.size(), 1);
    // The default retention keeps a fresh tombstone.
    ASSERT_EQ(cluster().adminSQL("SELECT snipjar.prune()"), QString("0"));
    ASSERT_TRUE(fetchAll(*database, beforeDelete->token).has_value());
    const auto removed = cluster().adminSQL("SELECT snipjar.prune(interval '0')");
    ASSERT_TRUE(removed.has_value());
    EXPECT_GE(removed->toInt(), 1);
    const auto expired = database->fetchChanges(historyZone, beforeDelete->token);
    ASSERT_FALSE(expired.ok());
    EXPECT_EQ(expired.error().code, CloudErrorCode::changeTokenExpired);
    EXPECT_TRUE(database->fetchChanges(historyZone, afterDelete->token).ok()) << "a newer token stays good";
    const auto fresh = fetchAll(*database, std::nullopt);
    ASSERT_TRUE(fresh.has_value());
    EXPECT_EQ(fresh->modifications.size(), 1);
    const auto future = database->fetchChanges(historyZone, ChangeToken{fresh->token.value + 1000});
    ASSERT_FALSE(future.ok()) << "a token from a server that was reset";
    EXPECT_EQ(future.error().code, CloudErrorCode::changeTokenExpired);
}

TEST_F(PostgresCloudDatabaseTest, RecordsWithDamagedFieldsAreSkippedAndTheRestDelivered) {
    QList<CloudRecord> records;
    for (int i = 0; i < 5; ++i) {
        records.append(textRecord(QStringLiteral("clip-%1").arg(i), "ok"));
    }
    ASSERT_TRUE(database->modifyRecords(records, {}).ok());
    const QString owner = QStringLiteral("owner = '%1' AND record_name = ").arg(alice);
    // Truncated CBOR, a value of the wrong kind, and a field map far larger than allowed.
    ASSERT_TRUE(cluster().adminSQL(
        "UPDATE snipjar.records SET fields = substring(fields from 1 for 5) WHERE " + owner + "'clip-1'"));
    ASSERT_TRUE(cluster().adminSQL("UPDATE snipjar.records SET fields = '\\x6568656c6c6f' WHERE " + owner +
                                   "'clip-2'"));
    ASSERT_TRUE(
        cluster().adminSQL("UPDATE snipjar.records SET fields = '\\x5a' || decode(repeat('00', 8), 'hex') || "
                           "repeat('x', 70000000)::bytea WHERE " +
                           owner + "'clip-3'"));
    const auto all = fetchAll(*database, std::nullopt);
    ASSERT_TRUE(all.has_value());
    EXPECT_EQ(namesOf(all->modifications), (QSet<QString>{"clip-0", "clip-4"}));
}

TEST_F(PostgresCloudDatabaseTest, LoginsAndSchemaVersionsAreChecked) {
    const auto wrongPassword = open(alice, "not her password")->saveZone(historyZone);
    ASSERT_FALSE(wrongPassword.ok());
    EXPECT_EQ(wrongPassword.error().code, CloudErrorCode::notAuthenticated);
    const auto noSuchUser = open("nobody_here", "x")->saveZone(historyZone);
    ASSERT_FALSE(noSuchUser.ok());
    EXPECT_EQ(noSuchUser.error().code, CloudErrorCode::notAuthenticated);
    const auto otherOwner = database->fetchChanges(RecordZoneID{"SnipjarHistory", bob}, std::nullopt);
    ASSERT_FALSE(otherOwner.ok());
    EXPECT_EQ(otherOwner.error().code, CloudErrorCode::permissionFailure);
    const auto noZone = database->fetchChanges(RecordZoneID{"Elsewhere"}, std::nullopt);
    ASSERT_FALSE(noZone.ok());
    EXPECT_EQ(noZone.error().code, CloudErrorCode::zoneNotFound);
    ASSERT_TRUE(cluster().adminSQL("UPDATE snipjar.schema_version SET version = 3"));
    const auto newer = open(alice, "alice-secret")->saveZone(historyZone);
    ASSERT_TRUE(cluster().adminSQL("UPDATE snipjar.schema_version SET version = 2"));
    ASSERT_FALSE(newer.ok());
    EXPECT_EQ(newer.error().code, CloudErrorCode::incompatibleVersion);
    EXPECT_TRUE(open(alice, "alice-secret")->saveZone(historyZone).ok());
}

} // namespace
} // namespace snipjar::test
