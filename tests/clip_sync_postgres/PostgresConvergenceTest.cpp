// Random histories of a few computers of one user, synced through a real PostgreSQL server that
// restarts in the middle of every run and prunes its tombstones while a computer is switched off.
#include "PostgresCluster.h"
#include "SimulatedComputer.h"
#include "SyncLog.h"
#include "TestEnvironment.h"
#include "sync/cloud/postgres/PostgresCloudDatabase.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <iostream>
#include <random>

namespace snipjar::test {
namespace {

constexpr auto expiredMessage = "engine: change token expired; fetching everything";

class PostgresSimulation {
public:
    static constexpr int steps = 24;
    static constexpr int serverRestartStep = 8;
    static constexpr int expiryStep = 16;

    PostgresSimulation(unsigned seed, PostgresCluster& cluster)
        : random(seed)
        , cluster(cluster)
        , user(QStringLiteral("run%1").arg(seed)) {
        const QString password = QStringLiteral("pw-") + user;
        if (!cluster.addUser(user, password)) {
            return;
        }
        const QString uri = cluster.socketURI(user);
        const int count = 2 + static_cast<int>(seed % 4);
        for (int i = 0; i < count; ++i) {
            computers.push_back(std::make_unique<SimulatedComputer>(
                QStringLiteral("computer-%1").arg(i), folder.filePath(QStringLiteral("state-%1.json").arg(i)),
                [uri, password] {
                    return std::make_shared<cloud::PostgresCloudDatabase>(
                        cloud::PostgresAccount{uri, password});
                }));
        }
    }

    // Runs the steps, then lets everyone sync until nothing is left to send; the failures found.
    QStringList run() {
        if (computers.empty()) {
            return {QStringLiteral("the user could not be added: ") + cluster.error()};
        }
        QStringList failures;
        for (auto& computer : computers) {
            if (!computer->start()) {
                failures.append(QStringLiteral("a start did not end"));
            }
        }
        for (int step = 0; step < steps; ++step) {
            const bool ended = step == serverRestartStep ? restartServer(failures)
                               : step == expiryStep      ? expireWhileSwitchedOff(failures)
                                                         : act();
            if (!ended) {
                failures.append(QStringLiteral("step %1 did not end").arg(step));
            }
        }
        for (int round = 0; round < 6; ++round) {
            for (auto& computer : computers) {
                if (!computer->syncNow()) {
                    failures.append(QStringLiteral("a final sync did not end"));
                }
            }
            if (agree()) {
                return failures;
            }
        }
        const QStringList first = computers.front()->snapshot();
        for (size_t i = 1; i < computers.size(); ++i) {
            const QStringList other = computers[i]->snapshot();
            if (other != first) {
                failures.append(
                    QStringLiteral("computer %1 differs from computer 0:\n  %2\nvs\n  %3")
                        .arg(i)
                        .arg(other.join(QStringLiteral("\n  ")), first.join(QStringLiteral("\n  "))));
            }
        }
        if (failures.isEmpty()) {
            failures.append(QStringLiteral("changes were still waiting to be sent"));
        }
        return failures;
    }

private:
    int pick(int count) { return std::uniform_int_distribution<int>(0, count - 1)(random); }
    SimulatedComputer& anyComputer() { return *computers[static_cast<size_t>(pick(int(computers.size())))]; }

    bool agree() {
        const QStringList first = computers.front()->snapshot();
        for (auto& computer : computers) {
            if (computer->hasPendingChanges() || computer->snapshot() != first) {
                return false;
            }
        }
        return true;
    }

    // The server goes away between two calls of every computer's connection, with changes queued.
    bool restartServer(QStringList& failures) {
        anyComputer().copy(QStringLiteral("copied just before the server restarts"));
        if (!cluster.restart()) {
            failures.append(QStringLiteral("the server did not restart: ") + cluster.error());
        }
        return true;
    }

    // One computer is off while another deletes a clip and the server prunes every tombstone, so
    // that the computer's change token is older than what the server still knows.
    bool expireWhileSwitchedOff(QStringList& failures) {
        const size_t off = static_cast<size_t>(pick(int(computers.size())));
        SimulatedComputer& sleeper = *computers[off];
        SimulatedComputer& other = *computers[(off + 1) % computers.size()];
        sleeper.quit();
        other.copy(QStringLiteral("deleted while a computer is off %1").arg(pick(1000)));
        bool ended = other.syncNow();
        other.store().remove(other.clipIDs()[pick(int(other.clipIDs().size()))]);
        ended = other.syncNow() && ended;
        if (!cluster.adminSQL(QStringLiteral("SELECT snipjar.prune('0 seconds')"))) {
            failures.append(QStringLiteral("the prune failed: ") + cluster.error());
        }
        return sleeper.start() && ended;
    }

    bool act() {
        SimulatedComputer& computer = anyComputer();
        const int roll = pick(100);
        if (roll < 40) {
            // A small vocabulary, so that the same text is copied again here and elsewhere; now
            // and then a long one, which has a payload.
            const int word = pick(8);
            computer.copy(word == 0 ? QString(6000, QLatin1Char('a' + pick(3)))
                                    : QStringLiteral("text %1").arg(word));
            return true;
        }
        const QList<QUuid> ids = computer.clipIDs();
        if (roll < 55) {
            if (!ids.isEmpty()) {
                computer.store().togglePin(ids[pick(static_cast<int>(ids.size()))]);
            }
            return true;
        }
        if (roll < 67) {
            if (!ids.isEmpty()) {
                computer.store().remove(ids[pick(static_cast<int>(ids.size()))]);
            }
            return true;
        }
        if (roll < 82) {
            return computer.syncNow();
        }
        if (roll < 94) {
            computer.syncSoon();
            return true;
        }
        return computer.restart();
    }

    std::mt19937 random;
    PostgresCluster& cluster;
    QString user;
    QTemporaryDir folder;
    std::vector<std::unique_ptr<SimulatedComputer>> computers;
};

TEST(PostgresConvergence, RandomHistoriesWithARestartAndAnExpiredTokenEndTheSame) {
    TestEnvironment environment;
    PostgresCluster cluster;
    ASSERT_TRUE(cluster.isReady()) << cluster.error().toStdString();
    // SNIPJAR_SEED=N runs that seed alone and prints the engine's log when it fails.
    const unsigned only = qEnvironmentVariableIntValue("SNIPJAR_SEED");
    const unsigned first = only == 0 ? 1 : only;
    const unsigned last = only == 0 ? 15 : only;
    int expired = 0;
    for (unsigned seed = first; seed <= last; ++seed) {
        // Swallows the engines' messages, which are many.
        SyncLog log;
        const QStringList failures = PostgresSimulation(seed, cluster).run();
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

} // namespace
} // namespace snipjar::test
