// One computer's history moved between accounts of a real PostgreSQL server, with change counters
// above and below the position it had, and an account restored from an older backup.
#include "PostgresCluster.h"
#include "SimulatedComputer.h"
#include "SyncLog.h"
#include "TestEnvironment.h"
#include "sync/cloud/postgres/PostgresCloudDatabase.h"

#include <QSet>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace snipjar::test {
namespace {

QSet<QUuid> clipSet(SimulatedComputer& computer) {
    const QList<QUuid> ids = computer.clipIDs();
    return {ids.cbegin(), ids.cend()};
}

TEST(PostgresAccounts, AnotherAccountOrARestoredBackupLosesNothingAndGetsEverything) {
    TestEnvironment environment;
    PostgresCluster cluster;
    ASSERT_TRUE(cluster.isReady()) << cluster.error().toStdString();
    SyncLog log;
    const QString password = QStringLiteral("secret");
    for (const char* user : {"busy", "quiet"}) {
        ASSERT_TRUE(cluster.addUser(QString::fromLatin1(user), password)) << cluster.error().toStdString();
    }
    QTemporaryDir folder;
    QString account;
    const auto connect = [&cluster, &account, password] {
        return std::make_shared<cloud::PostgresCloudDatabase>(
            cloud::PostgresAccount{cluster.socketURI(account), password});
    };
    const auto counterOf = [&cluster](const char* user) {
        return cluster.adminSQL(QStringLiteral("SELECT change_counter FROM snipjar.owners WHERE owner = '%1'")
                                    .arg(QString::fromLatin1(user)))
            .value_or(QString())
            .trimmed()
            .toLongLong();
    };

    // Another computer gives the busy account many more changes than the quiet one will have.
    account = QStringLiteral("busy");
    SimulatedComputer elsewhere(QStringLiteral("elsewhere"), folder.filePath(QStringLiteral("elsewhere.json")),
                                connect);
    ASSERT_TRUE(elsewhere.start());
    for (int i = 0; i < 60; ++i) {
        elsewhere.copy(QStringLiteral("busy %1").arg(i));
    }
    ASSERT_TRUE(elsewhere.syncNow());
    account = QStringLiteral("quiet");
    SimulatedComputer here(QStringLiteral("here"), folder.filePath(QStringLiteral("here.json")), connect);
    ASSERT_TRUE(here.start());
    for (int i = 0; i < 20; ++i) {
        here.copy(QStringLiteral("quiet %1").arg(i));
    }
    ASSERT_TRUE(here.syncNow());
    qint64 backup = 0;

    struct Step {
        const char* what;
        const char* account;
        std::function<void()> before;
    };
    const Step steps[] = {
        {"to an account whose counter is higher", "busy", {}},
        {"back to an account whose counter is lower", "quiet",
         [&] {
             // The quiet account's backup is taken now; clips sent after it are lost by the restore.
             ASSERT_TRUE(here.syncNow());
             backup = counterOf("quiet");
             here.copy(QStringLiteral("sent after the backup"));
         }},
        {"the account restored from its backup", "quiet",
         [&] {
             ASSERT_TRUE(here.syncNow());
             ASSERT_GT(counterOf("quiet"), backup);
             ASSERT_TRUE(cluster.adminSQL(
                 QStringLiteral("DELETE FROM snipjar.records WHERE owner = 'quiet' AND change_number > %1; "
                                "UPDATE snipjar.owners SET change_counter = %1 WHERE owner = 'quiet'")
                     .arg(backup)));
         }},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        const QSet<QUuid> had = clipSet(here);
        account = QString::fromLatin1(step.account);
        here.quit();
        ASSERT_TRUE(here.start());
        if (step.before) {
            step.before();
        }
        ASSERT_TRUE(here.syncNow());
        ASSERT_TRUE(here.syncNow());
        EXPECT_TRUE(clipSet(here).contains(had)) << "clips were deleted here";
        // A computer new to the account receives exactly this computer's history: everything here
        // reached the server, and everything the server had reached this computer.
        SimulatedComputer fresh(QStringLiteral("fresh"), folder.filePath(QString::fromLatin1(step.what)), connect);
        ASSERT_TRUE(fresh.start());
        EXPECT_EQ(clipSet(fresh), clipSet(here));
    }
    EXPECT_GE(log.count(QStringLiteral("the server's history went back")), 1);
}

} // namespace
} // namespace snipjar::test
