// Computers of a user syncing through a real snipjar-server on a private PostgreSQL server: random
// histories whose database restarts in the middle of every run and prunes its tombstones while a
// computer is switched off, each seed run plain and with the history sealed (each computer wrapping
// its connection with the account's one history key); one computer's history moved between accounts
// with change counters above and below the position it had, and its database restored from older
// backups; and a server that never answers, which switching sync off (and quitting, and changing the
// server, which stop the engine the same way) must not wait for.
#include "EventLoopWait.h"
#include "PostgresCluster.h"
#include "RandomHistory.h"
#include "ServiceServer.h"
#include "SimulatedComputer.h"
#include "SyncLog.h"
#include "TestEnvironment.h"
#include "sync/cloud/EncryptedCloudDatabase.h"
#include "sync/cloud/service/ServiceCloudDatabase.h"
#include "sync/engine/SyncEngineWorker.h"

#include <QSet>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <functional>
#include <iostream>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace snipjar::test {
namespace {

constexpr auto expiredMessage = "engine: change token expired; fetching everything";

// The server goes away between two calls of every computer's connection, with changes queued.
bool restartServer(RandomHistory& history, PostgresCluster& cluster, QStringList& failures) {
    history.anyComputer().copy("copied just before the server restarts");
    if (!cluster.restart()) {
        failures.append("the server did not restart: " + cluster.error());
    }
    return true;
}

// One computer is off while another deletes a clip and the server prunes every tombstone, so that
// the computer's change token is older than what the server still knows.
bool expireWhileSwitchedOff(RandomHistory& history, ServiceServer& server, QStringList& failures) {
    const size_t off = size_t(history.pick(int(history.computers.size())));
    SimulatedComputer& sleeper = *history.computers[off];
    SimulatedComputer& other = *history.computers[(off + 1) % history.computers.size()];
    sleeper.quit();
    other.copy(QStringLiteral("deleted while a computer is off %1").arg(history.pick(1000)));
    bool ended = other.syncNow();
    other.store().remove(other.clipIDs()[history.pick(int(other.clipIDs().size()))]);
    ended = other.syncNow() && ended;
    if (!server.admin({"prune", "--retention-seconds", "0"})) {
        failures.append("the prune failed");
    }
    return sleeper.start() && ended;
}

TEST(ServiceConvergence, RandomHistoriesPlainOrSealedWithARestartAndAnExpiredTokenEndTheSame) {
    TestEnvironment environment;
    PostgresCluster cluster;
    ASSERT_TRUE(cluster.isReady()) << cluster.error().toStdString();
    ServiceServer server(cluster);
    ASSERT_TRUE(server.start());
    // SNIPJAR_SEED=N runs that seed alone and prints the engine's log when it fails.
    const unsigned only = qEnvironmentVariableIntValue("SNIPJAR_SEED");
    const unsigned first = only == 0 ? 1 : only;
    const unsigned last = only == 0 ? 15 : only;
    int expired = 0;
    for (unsigned run = 2 * first; run <= 2 * last + 1; ++run) {
        const unsigned seed = run / 2;
        const bool sealed = run % 2 == 1;
        // Swallows the engines' messages, which are many.
        SyncLog log;
        // The computers of a run share one device token: signing in is not what is tested here.
        RandomHistory history(
            seed,
            [account = server.newAccount(QStringLiteral("run%1").arg(run)), sealed,
             key = crypto::HistoryKey::generate()]() -> std::shared_ptr<cloud::CloudDatabase> {
                auto database = std::make_shared<cloud::ServiceCloudDatabase>(account);
                if (!sealed) {
                    return database;
                }
                return std::make_shared<cloud::EncryptedCloudDatabase>(database, key);
            });
        QStringList failures;
        failures += history.run(24, [&](int step) -> std::optional<bool> {
            if (step == 8) {
                return restartServer(history, cluster, failures);
            }
            if (step == 16) {
                return expireWhileSwitchedOff(history, server, failures);
            }
            return std::nullopt;
        });
        expired += log.count(QString::fromLatin1(expiredMessage));
        if (!failures.isEmpty()) {
            if (only != 0) {
                std::cerr << log.messages().join(QLatin1Char('\n')).toStdString() << '\n';
            }
            ADD_FAILURE() << "seed " << seed << (sealed ? " (sealed)" : "") << ":\n"
                          << failures.join(QLatin1Char('\n')).toStdString();
        }
    }
    // Every run switches a computer off that has fetched before; most of them come back to a
    // token the server no longer accepts.
    EXPECT_GE(expired, 1);
}

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

TEST(SilentServer, StoppingSyncDoesNotWaitForAServerThatNeverAnswers) {
    TestEnvironment environment;
    QTemporaryDir folder;
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t length = sizeof(address);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), length), 0);
    ASSERT_EQ(::listen(listener, 8), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
    // Connection attempts give up after a few seconds: the engine must not wait for that.
    const cloud::ServiceAccount account{
        QUrl(QStringLiteral("http://127.0.0.1:%1").arg(ntohs(address.sin_port))), "1.00", "1", "e", {}};
    SimulatedComputer here("here", folder.filePath("here.json"),
                           [account] { return std::make_shared<cloud::ServiceCloudDatabase>(account); });
    here.copy("waiting to be sent");
    here.engine().start();
    // The engine's call and the push socket both connect, and are left without an answer.
    std::vector<int> clients;
    ASSERT_TRUE(waitUntil([&] {
        for (pollfd waiting{listener, POLLIN, 0}; ::poll(&waiting, 1, 0) == 1;) {
            clients.push_back(::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC));
        }
        return clients.size() >= 2;
    }));
    // Quitting returns while the server still has not said a word (it never will): the calls are
    // cancelled, not waited for.
    here.quit();
    for (const int client : clients) {
        ::close(client);
    }
    // The threads left behind end by themselves once the server lets go.
    ::close(listener);
    EXPECT_TRUE(waitUntil([] { return sync::SyncEngineWorker::abandonedThreads() == 0; }));
}

} // namespace
} // namespace snipjar::test
