#include "RandomHistory.h"
#include "TestEnvironment.h"
#include "sync/cloud/InMemoryCloudDatabase.h"
#include "sync/cloud/InMemoryCloudServer.h"

#include <QLoggingCategory>
#include <gtest/gtest.h>

namespace snipjar::test {
namespace {

// Random histories synced in random interleavings while the server fails in random ways (calls
// that fail, answers lost, the server down) end the same once the server behaves.
TEST(Convergence, RandomHistoriesOnTwoToFiveComputersEndTheSame) {
    TestEnvironment environment;
    // SNIPJAR_SEED=N runs that seed alone, with the engine's log.
    const unsigned only = qEnvironmentVariableIntValue("SNIPJAR_SEED");
    if (only == 0) {
        QLoggingCategory::setFilterRules(
            QStringLiteral("app.snipjar.Snipjar.sync*.info=false\napp.snipjar.Snipjar.sync*.warning=false"));
    }
    int failedRuns = 0;
    for (unsigned seed = only == 0 ? 1 : only; seed <= (only == 0 ? 200 : only) && failedRuns < 3; ++seed) {
        const auto server = cloud::InMemoryCloudServer::create();
        RandomHistory history(seed, [host = server.get()] {
            return std::shared_ptr<cloud::CloudDatabase>(host->connect("alice"));
        });
        const auto fault = [&] {
            switch (history.pick(3)) {
            case 0:
                return server->failNextCalls(1 + history.pick(2), cloud::CloudErrorCode::networkFailure);
            case 1:
                return server->loseNextModifyAnswers(1);
            default:
                return server->setDown(!server->isDown());
            }
        };
        const auto special = [&](int step) -> std::optional<bool> {
            // A last step brings the server back, so that everyone can sync in the end.
            if (step == 24) {
                server->setDown(false);
                return true;
            }
            return std::nullopt;
        };
        const QStringList failures = history.run(25, special, fault);
        if (!failures.isEmpty()) {
            ++failedRuns;
            ADD_FAILURE() << "seed " << seed << ":\n" << failures.join(QLatin1Char('\n')).toStdString();
        }
    }
}

} // namespace
} // namespace snipjar::test
