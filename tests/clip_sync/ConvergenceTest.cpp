#include "SimulatedComputer.h"

#include "TestEnvironment.h"
#include "sync/cloud/InMemoryCloudDatabase.h"
#include "sync/cloud/InMemoryCloudServer.h"

#include <QLoggingCategory>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <random>

namespace snipjar::test {
namespace {

// Random copies, pins, unpins and deletes on a few computers of one user, synced in random
// interleavings while the server fails in random ways, must leave every computer's sync store the
// same once the server behaves and everyone has synced.
class Simulation {
public:
    static constexpr int steps = 24;

    Simulation(unsigned seed, std::shared_ptr<cloud::InMemoryCloudServer> server)
        : random(seed)
        , server(std::move(server)) {
        const int count = 2 + static_cast<int>(seed % 4);
        for (int i = 0; i < count; ++i) {
            auto* host = this->server.get();
            computers.push_back(std::make_unique<SimulatedComputer>(
                QStringLiteral("computer-%1").arg(i), folder.filePath(QStringLiteral("state-%1.json").arg(i)),
                [host] {
                    return std::shared_ptr<cloud::CloudDatabase>(host->connect(QStringLiteral("alice")));
                }));
        }
    }

    // Runs the steps, then lets everyone sync until nothing is left to send; the failures found.
    QStringList run() {
        QStringList failures;
        for (auto& computer : computers) {
            if (!computer->start()) {
                failures.append(QStringLiteral("a start did not end"));
            }
        }
        for (int step = 0; step < steps; ++step) {
            if (!act()) {
                failures.append(QStringLiteral("step %1 did not end").arg(step));
            }
        }
        server->setDown(false);
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
        return failures;
    }

private:
    int pick(int count) { return std::uniform_int_distribution<int>(0, count - 1)(random); }

    bool agree() {
        const QStringList first = computers.front()->snapshot();
        for (auto& computer : computers) {
            if (computer->hasPendingChanges() || computer->snapshot() != first) {
                return false;
            }
        }
        return true;
    }

    bool act() {
        SimulatedComputer& computer =
            *computers[static_cast<size_t>(pick(static_cast<int>(computers.size())))];
        const int roll = pick(100);
        if (roll < 35) {
            // A small vocabulary, so that the same text is copied again here and elsewhere; now
            // and then a long one, which has a payload.
            const int word = pick(8);
            computer.copy(word == 0 ? QString(6000, QLatin1Char('a' + pick(3)))
                                    : QStringLiteral("text %1").arg(word));
            return true;
        }
        const QList<QUuid> ids = computer.clipIDs();
        if (roll < 50) {
            if (!ids.isEmpty()) {
                computer.store().togglePin(ids[pick(static_cast<int>(ids.size()))]);
            }
            return true;
        }
        if (roll < 60) {
            if (!ids.isEmpty()) {
                computer.store().remove(ids[pick(static_cast<int>(ids.size()))]);
            }
            return true;
        }
        if (roll < 75) {
            return computer.syncNow();
        }
        if (roll < 85) {
            computer.syncSoon();
            return true;
        }
        if (roll < 95) {
            switch (pick(3)) {
            case 0:
                server->failNextCalls(1 + pick(2), cloud::CloudErrorCode::networkFailure);
                break;
            case 1:
                server->loseNextModifyAnswers(1);
                break;
            default:
                server->setDown(!server->isDown());
                break;
            }
            return true;
        }
        return computer.restart();
    }

    std::mt19937 random;
    std::shared_ptr<cloud::InMemoryCloudServer> server;
    QTemporaryDir folder;
    std::vector<std::unique_ptr<SimulatedComputer>> computers;
};

TEST(Convergence, RandomHistoriesOnTwoToFiveComputersEndTheSame) {
    TestEnvironment environment;
    // SNIPJAR_SEED=N runs that seed alone, with the engine's log.
    const unsigned only = qEnvironmentVariableIntValue("SNIPJAR_SEED");
    if (only == 0) {
        QLoggingCategory::setFilterRules(
            QStringLiteral("app.snipjar.Snipjar.sync*.info=false\napp.snipjar.Snipjar.sync*.warning=false"));
    }
    int failedRuns = 0;
    for (unsigned seed = only == 0 ? 1 : only; seed <= (only == 0 ? 200 : only); ++seed) {
        const QStringList failures = Simulation(seed, cloud::InMemoryCloudServer::create()).run();
        if (!failures.isEmpty()) {
            ++failedRuns;
            ADD_FAILURE() << "seed " << seed << ":\n" << failures.join(QLatin1Char('\n')).toStdString();
            if (failedRuns >= 3) {
                break;
            }
        }
    }
}

} // namespace
} // namespace snipjar::test
