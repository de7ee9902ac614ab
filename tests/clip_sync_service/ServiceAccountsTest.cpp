// One computer's history moved between accounts of a real snipjar-server, with change counters
// above and below the position it had, and its database restored from older backups.
#include "PostgresCluster.h"
#include "ServiceServer.h"
#include "SimulatedComputer.h"
#include "SyncLog.h"
#include "TestEnvironment.h"
#include "sync/cloud/service/ServiceCloudDatabase.h"

#include <QSet>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <functional>

namespace snipjar::test {
namespace {

QSet<QUuid> clipSet(SimulatedComputer& computer) {
    const QList<QUuid> ids = computer.clipIDs();
    return {ids.cbegin(), ids.cend()};
}

TEST(ServiceAccounts, AnotherAccountOrARestoredBackupLosesNothingAndGetsEverything) {
    TestEnvironment environment;
    PostgresCluster cluster;
    ASSERT_TRUE(cluster.isReady()) << cluster.error().toStdString();
    ServiceServer server(cluster);
    ASSERT_TRUE(server.start());
    // Each computer signs in as a device of its own; the accounts' tokens outlive the restores,
    // which keep the accounts.
    const QHash<QString, QString> users{{QStringLiteral("busy"), server.userOf(server.newAccount("busy"))},
                                        {QStringLiteral("quiet"), server.userOf(server.newAccount("quiet"))}};
    SyncLog log;
    QTemporaryDir folder;
    QString account = QStringLiteral("busy");
    const auto computer = [&](const QString& name) {
        return std::make_unique<SimulatedComputer>(
            name, folder.filePath(name),
            [&server, &users, &account, devices = std::make_shared<QHash<QString, cloud::ServiceAccount>>()] {
                if (!devices->contains(account)) {
                    devices->insert(account, server.signIn(users.value(account)));
                }
                return std::make_shared<cloud::ServiceCloudDatabase>(devices->value(account));
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
    // The service is stopped while its database is replaced, as an administrator would.
    const auto restore = [&](const QString& file) {
        server.stop();
        return cluster.restore(file) && server.start();
    };
    // Backups made with PostgreSQL's own tool, each taken before this computer's newest clip, so
    // that restoring one loses what came after.
    const QString firstBackup = folder.filePath(QStringLiteral("first.backup"));
    const QString secondBackup = folder.filePath(QStringLiteral("second.backup"));
    const struct {
        const char* what;
        const char* account;
        std::function<bool()> serverChange;
        bool copyAfter = false;
    } steps[] = {
        {"to an account whose counter is higher", "busy", {}},
        {"back to an account whose counter is lower", "quiet", [&] { return cluster.backup(firstBackup); },
         true},
        {"the server restored from a backup", "quiet",
         [&] { return restore(firstBackup) && cluster.backup(secondBackup); }, true},
        // Another computer then counts past the position this one had: nothing numbered below it
        // may be skipped, and what the restore lost here is still sent again.
        {"the server restored and counted past this computer's position", "quiet",
         [&] {
             if (!restore(secondBackup)) {
                 return false;
             }
             auto other = computer(QStringLiteral("after the restore"));
             if (!other->start()) {
                 return false;
             }
             for (int i = 0; i < 30; ++i) {
                 other->copy(QStringLiteral("after the restore %1").arg(i));
             }
             return other->syncNow();
         }},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        const QSet<QUuid> had = clipSet(*here);
        here->quit();
        account = QString::fromLatin1(step.account);
        ASSERT_TRUE(here->start());
        if (step.serverChange) {
            ASSERT_TRUE(here->syncNow());
            ASSERT_TRUE(step.serverChange()) << cluster.error().toStdString();
        }
        if (step.copyAfter) {
            here->copy(QStringLiteral("copied after the backup, %1").arg(QLatin1String(step.what)));
        }
        // Until a send and fetch went through with nothing left to send: the first call after a
        // restore may meet the cut connection, and a fetch that finds the server's history gone back
        // queues what it lost for the next send.
        const auto settled = [&here] {
            for (int round = 0; round < 6; ++round) {
                if (here->syncNow() && here->fetched() && !here->hasPendingChanges()) {
                    return true;
                }
            }
            return false;
        };
        ASSERT_TRUE(settled());
        EXPECT_TRUE(clipSet(*here).contains(had)) << "clips were deleted here";
        // A computer new to the account receives exactly this computer's history: everything here
        // reached the server, and everything the server had reached this computer.
        auto fresh = computer(QString::fromLatin1(step.what));
        ASSERT_TRUE(fresh->start());
        EXPECT_TRUE(clipSet(*fresh) == clipSet(*here))
            << fresh->clipIDs().size() << " vs " << here->clipIDs().size();
    }
    EXPECT_GE(log.count(QStringLiteral("the server's history went back")), 2);
}

} // namespace
} // namespace snipjar::test
