// Random histories of a few computers of one user, synced through a real snipjar-server whose
// database restarts in the middle of every run, and which prunes its tombstones while a computer is
// switched off. Every seed runs twice: plain, and with the history sealed, each computer wrapping its
// connection with the account's one history key.
#include "PostgresCluster.h"
#include "RandomHistory.h"
#include "ServiceServer.h"
#include "SyncLog.h"
#include "TestEnvironment.h"
#include "sync/cloud/EncryptedCloudDatabase.h"
#include "sync/cloud/service/ServiceCloudDatabase.h"

#include <gtest/gtest.h>

#include <iostream>

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
    // Each seed twice: plain, then sealed.
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
    std::cout << "refetches after an expired token: " << expired << " in " << 2 * (last - first + 1)
              << " runs\n";
    EXPECT_GE(expired, 1);
}

} // namespace
} // namespace snipjar::test
