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
    ASSERT_TRUE(cluster.addUser(QStringLiteral("busy"), QStringLiteral("pw")));
    ASSERT_TRUE(cluster.addUser(QStringLiteral("quiet"), QStringLiteral("pw")));
    SyncLog log;
    QTemporaryDir folder;
    QString account = QStringLiteral("busy");
    const auto computer = [&](const QString& name) {
        return std::make_unique<SimulatedComputer>(name, folder.filePath(name), [&cluster, &account] {
            return std::make_shared<cloud::PostgresCloudDatabase>(
                cloud::PostgresAccount{cluster.socketURI(account), QStringLiteral("pw")});
        });
    };
    // Another computer gives the busy account many more changes than the quiet one gets.
    auto elsewhere = computer(QStringLiteral("elsewhere"));
    ASSERT_TRUE(elsewhere->start());
    for (int i = 0; i < 60; ++i) {
        elsewhere->copy(QStringLiteral("busy %1").arg(i));
    }
    ASSERT_TRUE(elsewhere->syncNow());
    account = QStringLiteral("quiet");
    auto here = computer(QStringLiteral("here"));
    ASSERT_TRUE(here->start());
    for (int i = 0; i < 20; ++i) {
        here->copy(QStringLiteral("quiet %1").arg(i));
    }
    // The quiet account's backup is taken before the last clip; the restore loses what came after.
    const QString backupCounter = QStringLiteral("(SELECT change_counter FROM backup)");
    const QString restore =
        QStringLiteral("DELETE FROM snipjar.records WHERE owner = 'quiet' AND change_number > %1; "
                       "UPDATE snipjar.owners SET change_counter = %1 WHERE owner = 'quiet'")
            .arg(backupCounter);
    const struct {
        const char* what;
        const char* account;
        QString sql;
        bool copyAfter = false;
    } steps[] = {
        {"to an account whose counter is higher", "busy", {}},
        {"back to an account whose counter is lower", "quiet",
         QStringLiteral(
             "CREATE TABLE backup AS SELECT change_counter FROM snipjar.owners WHERE owner = 'quiet'"),
         true},
        {"the account restored from its backup", "quiet", restore},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        const QSet<QUuid> had = clipSet(*here);
        here->quit();
        account = QString::fromLatin1(step.account);
        ASSERT_TRUE(here->start());
        if (!step.sql.isEmpty()) {
            ASSERT_TRUE(here->syncNow());
            ASSERT_TRUE(cluster.adminSQL(step.sql)) << cluster.error().toStdString();
        }
        if (step.copyAfter) {
            here->copy(QStringLiteral("copied after the backup"));
        }
        ASSERT_TRUE(here->syncNow() && here->syncNow());
        EXPECT_TRUE(clipSet(*here).contains(had)) << "clips were deleted here";
        // A computer new to the account receives exactly this computer's history: everything here
        // reached the server, and everything the server had reached this computer.
        auto fresh = computer(QString::fromLatin1(step.what));
        ASSERT_TRUE(fresh->start());
        EXPECT_TRUE(clipSet(*fresh) == clipSet(*here))
            << fresh->clipIDs().size() << " vs " << here->clipIDs().size();
    }
    EXPECT_GE(log.count(QStringLiteral("the server's history went back")), 1);
}

} // namespace
} // namespace snipjar::test
