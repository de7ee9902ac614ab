// Random histories of a few computers of one user, synced through a real PostgreSQL server, directly
// and through snipjar-server, that restarts in the middle of every run and prunes its tombstones
// while a computer is switched off.
#include "PostgresCluster.h"
#include "RandomHistory.h"
#include "ServiceServer.h"
#include "SyncLog.h"
#include "TestEnvironment.h"
#include "sync/cloud/postgres/PostgresCloudDatabase.h"

#include <gtest/gtest.h>

#include <iostream>

namespace snipjar::test {
namespace {

constexpr auto expiredMessage = "engine: change token expired; fetching everything";

// One way to the server: a new user's database factory, a restart and a prune of every tombstone,
// the last two false on failure.
struct ServerPath {
    std::function<std::function<std::shared_ptr<cloud::CloudDatabase>()>(const QString& user)> newUser;
    std::function<bool()> restart;
    std::function<bool()> prune;
};

// The server goes away between two calls of every computer's connection, with changes queued.
bool restartServer(RandomHistory& history, const ServerPath& path, QStringList& failures) {
    history.anyComputer().copy(QStringLiteral("copied just before the server restarts"));
    if (!path.restart()) {
        failures.append(QStringLiteral("the server did not restart"));
    }
    return true;
}

// One computer is off while another deletes a clip and the server prunes every tombstone, so that
// the computer's change token is older than what the server still knows.
bool expireWhileSwitchedOff(RandomHistory& history, const ServerPath& path, QStringList& failures) {
    const size_t off = size_t(history.pick(int(history.computers.size())));
    SimulatedComputer& sleeper = *history.computers[off];
    SimulatedComputer& other = *history.computers[(off + 1) % history.computers.size()];
    sleeper.quit();
    other.copy(QStringLiteral("deleted while a computer is off %1").arg(history.pick(1000)));
    bool ended = other.syncNow();
    other.store().remove(other.clipIDs()[history.pick(int(other.clipIDs().size()))]);
    ended = other.syncNow() && ended;
    if (!path.prune()) {
        failures.append(QStringLiteral("the prune failed"));
    }
    return sleeper.start() && ended;
}

void runSeeds(const ServerPath& path) {
    // SNIPJAR_SEED=N runs that seed alone and prints the engine's log when it fails.
    const unsigned only = qEnvironmentVariableIntValue("SNIPJAR_SEED");
    const unsigned first = only == 0 ? 1 : only;
    const unsigned last = only == 0 ? 15 : only;
    int expired = 0;
    for (unsigned seed = first; seed <= last; ++seed) {
        // Swallows the engines' messages, which are many.
        SyncLog log;
        RandomHistory history(seed, path.newUser(QStringLiteral("run%1").arg(seed)));
        QStringList failures;
        failures += history.run(24, [&](int step) -> std::optional<bool> {
            if (step == 8) {
                return restartServer(history, path, failures);
            }
            if (step == 16) {
                return expireWhileSwitchedOff(history, path, failures);
            }
            return std::nullopt;
        });
        expired += log.count(QString::fromLatin1(expiredMessage));
        if (!failures.isEmpty()) {
            if (only != 0) {
                std::cerr << log.messages().join(QLatin1Char('\n')).toStdString() << '\n';
            }
            ADD_FAILURE() << "seed " << seed << ":\n" << failures.join(QLatin1Char('\n')).toStdString();
        }
    }
    // Every run switches a computer off that has fetched before; most of them come back to a
    // token the server no longer accepts.
    std::cout << "refetches after an expired token: " << expired << " in " << (last - first + 1) << " runs\n";
    EXPECT_GE(expired, 1);
}

TEST(PostgresConvergence, RandomHistoriesWithARestartAndAnExpiredTokenEndTheSame) {
    TestEnvironment environment;
    PostgresCluster cluster;
    ASSERT_TRUE(cluster.isReady()) << cluster.error().toStdString();
    runSeeds({[&](const QString& user) {
                  EXPECT_TRUE(cluster.addUser(user, "pw-" + user)) << cluster.error().toStdString();
                  return [uri = cluster.socketURI(user), user] {
                      return std::make_shared<cloud::PostgresCloudDatabase>(
                          cloud::PostgresAccount{uri, "pw-" + user});
                  };
              },
              [&] { return cluster.restart(); },
              [&] { return cluster.adminSQL("SELECT snipjar.prune('0 seconds')").has_value(); }});
}

TEST(PostgresConvergence, ThroughTheSyncServiceToo) {
    TestEnvironment environment;
    PostgresCluster cluster;
    ASSERT_TRUE(cluster.isReady()) << cluster.error().toStdString();
    ServiceServer server(cluster);
    ASSERT_TRUE(server.start());
    runSeeds({[&](const QString& user) {
                  // Every computer signs in as a device of its own.
                  const cloud::ServiceAccount first = server.newAccount(user);
                  return [&server, name = server.userOf(first)] {
                      return std::make_shared<cloud::ServiceCloudDatabase>(server.signIn(name));
                  };
              },
              [&] {
                  server.stop();
                  return server.start();
              },
              [&] {
                  return server.admin({"prune", "--retention-seconds", "0"}).has_value();
              }});
}

} // namespace
} // namespace snipjar::test
