// Initial sync through snipjar-server over a private PostgreSQL server: ten computers of one
// account file 1,000 clips each (a computer keeps at most 1,000 of its own; mostly short texts,
// every tenth long enough for a payload) and send them; then a fresh computer B, with an empty
// store and no state, starts. Prints how long B took until its sync store held every clip. With
// --sealed every computer seals the history with one history key, for the cost of encryption.
#include "PostgresCluster.h"
#include "ServiceServer.h"
#include "SimulatedComputer.h"
#include "TestEnvironment.h"
#include "platform/UserSettings.h"
#include "sync/cloud/EncryptedCloudDatabase.h"
#include "sync/cloud/service/ServiceCloudDatabase.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QTemporaryDir>

#include <cstdio>

namespace {

using namespace snipjar;
using test::SimulatedComputer;

constexpr int senderCount = 10;
constexpr int clipsPerSender = 1'000;
constexpr int clipCount = senderCount * clipsPerSender;

// Runs the event loop until the condition holds, checking it every tenth of a second.
template <typename Condition> bool waitFor(Condition condition, std::chrono::seconds timeout) {
    QDeadlineTimer deadline(timeout);
    QElapsedTimer sinceCheck;
    sinceCheck.start();
    while (!condition()) {
        if (deadline.hasExpired()) {
            return false;
        }
        while (sinceCheck.elapsed() < 100) {
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
        }
        sinceCheck.restart();
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    test::TestEnvironment environment;
    QLoggingCategory::setFilterRules(QStringLiteral("app.snipjar.Snipjar.sync*.info=false"));
    test::PostgresCluster cluster;
    if (!cluster.isReady()) {
        std::fprintf(stderr, "no PostgreSQL server: %s\n", qPrintable(cluster.error()));
        return 1;
    }
    test::ServiceServer server(cluster);
    if (!server.start()) {
        std::fprintf(stderr, "snipjar-server did not start\n");
        return 1;
    }
    const cloud::ServiceAccount account = server.newAccount(QStringLiteral("bench"));
    const bool sealed = application.arguments().contains(QStringLiteral("--sealed"));
    const SimulatedComputer::Connect connect =
        [account, sealed, key = crypto::HistoryKey::generate()]() -> std::shared_ptr<cloud::CloudDatabase> {
        auto database = std::make_shared<cloud::ServiceCloudDatabase>(account);
        if (!sealed) {
            return database;
        }
        return std::make_shared<cloud::EncryptedCloudDatabase>(database, key);
    };
    QTemporaryDir folder;

    UserSettings::setValue(QLatin1String(UserSettings::historyLengthKey), clipsPerSender);
    UserSettings::setValue(QLatin1String(UserSettings::maxStoreBytesKey), qint64(100'000'000'000));
    std::unique_ptr<SimulatedComputer> last;
    QElapsedTimer timer;
    timer.start();
    for (int s = 0; s < senderCount; ++s) {
        last =
            std::make_unique<SimulatedComputer>(QStringLiteral("computer-a%1").arg(s),
                                                folder.filePath(QStringLiteral("a%1.json").arg(s)), connect);
        for (int i = 0; i < clipsPerSender; ++i) {
            last->copy(i % 10 == 0
                           ? QStringLiteral("long clip %1 of computer %2 ").arg(i).arg(s).repeated(400)
                           : QStringLiteral("clip %1: a short text copied on computer %2").arg(i).arg(s));
        }
        if (!last->start() ||
            !waitFor([&last] { return !last->hasPendingChanges(); }, std::chrono::minutes(10))) {
            std::fprintf(stderr, "computer %d did not send its clips\n", s);
            return 1;
        }
        if (s + 1 < senderCount) {
            last.reset();
        }
    }
    std::printf("%d computers filed and sent %d clips each%s: %.2f s\n", senderCount, clipsPerSender,
                sealed ? " sealed" : "", double(timer.elapsed()) / 1000);
    SimulatedComputer& a = *last;
    if (!a.syncNow()) {
        std::fprintf(stderr, "the last sender did not fetch\n");
        return 1;
    }

    SimulatedComputer b(QStringLiteral("computer-b"), folder.filePath(QStringLiteral("b.json")), connect);
    timer.restart();
    const bool started = b.start();
    const bool complete =
        started && waitFor([&b] { return b.clipIDs().size() >= clipCount; }, std::chrono::minutes(10));
    const double seconds = double(timer.elapsed()) / 1000;
    if (!complete) {
        std::fprintf(stderr, "B holds %lld of %d clips after %.2f s\n", qlonglong(b.clipIDs().size()),
                     clipCount, seconds);
        return 1;
    }
    std::printf("initial sync of %d%s clips to a fresh computer: %.2f s (target <= 10 s)\n", clipCount,
                sealed ? " sealed" : "", seconds);
    const bool same = a.snapshot() == b.snapshot();
    std::printf("B's sync store is the same as the last sender's: %s\n", same ? "yes" : "no");
    return same ? 0 : 1;
}
