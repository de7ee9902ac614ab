// The engine's send and fetch of 10,000 records against the in-memory cloud: what the engine itself
// costs (queue, batches, events, worker hand-overs), without a network.
#include "sync/cloud/InMemoryCloudDatabase.h"
#include "sync/cloud/InMemoryCloudServer.h"
#include "sync/engine/SyncEngine.h"

#include <QCoreApplication>
#include <QHash>
#include <QTemporaryDir>
#include <QThread>

#include <benchmark/benchmark.h>

namespace {

using namespace snipjar;

const cloud::RecordZoneID zone{QStringLiteral("clips")};
constexpr int recordCount = 10'000;

// Answers every event at once and builds each record from a name and a short text.
class BenchDelegate : public sync::SyncEngineDelegate {
public:
    void handleEvent(const sync::SyncEvent& event, std::function<void()> done) override {
        received += static_cast<int>(event.modifications.size());
        done();
    }
    std::optional<sync::RecordZoneChangeBatch> nextRecordZoneChangeBatch(sync::SyncEngine& engine) override {
        auto pending = engine.state().pendingRecordZoneChanges();
        if (pending.isEmpty()) {
            return std::nullopt;
        }
        pending.resize(std::min<qsizetype>(pending.size(), sync::SyncEngine::batchLimit));
        return sync::RecordZoneChangeBatch{pending, [](const cloud::RecordID& id) {
                                               cloud::CloudRecord record(QStringLiteral("ClipItem"), id);
                                               record.setValue(QStringLiteral("text"),
                                                               QStringLiteral("text of ") + id.recordName);
                                               return std::optional(record);
                                           }};
    }
    int received = 0;
};

void runUntilDone(sync::SyncEngine& engine, bool send) {
    bool finished = false;
    auto done = [&](std::optional<cloud::CloudError>) { finished = true; };
    if (send) {
        engine.sendChanges(done);
    } else {
        engine.fetchChanges(done);
    }
    while (!finished) {
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
    }
}

std::unique_ptr<sync::SyncEngine> engineFor(const std::shared_ptr<cloud::InMemoryCloudServer>& server,
                                            BenchDelegate& delegate) {
    std::shared_ptr<cloud::CloudDatabase> database = server->connect(QStringLiteral("bench"));
    auto engine = std::make_unique<sync::SyncEngine>(
        sync::SyncEngineConfiguration{database, std::nullopt, &delegate, {}});
    engine->state().add(QList<sync::PendingDatabaseChange>{{zone}});
    return engine;
}

void queueAll(sync::SyncEngine& engine, int round) {
    QList<sync::PendingRecordZoneChange> changes;
    for (int i = 0; i < recordCount; ++i) {
        changes.append(
            sync::PendingRecordZoneChange::save({QStringLiteral("clip-%1-%2").arg(round).arg(i), zone}));
    }
    engine.state().add(changes);
}

void BM_Send10000(benchmark::State& state) {
    int round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto server = cloud::InMemoryCloudServer::create();
        BenchDelegate delegate;
        auto engine = engineFor(server, delegate);
        queueAll(*engine, ++round);
        state.ResumeTiming();
        runUntilDone(*engine, true);
    }
    state.SetItemsProcessed(state.iterations() * recordCount);
}
BENCHMARK(BM_Send10000)->Unit(benchmark::kMillisecond);

void BM_Fetch10000(benchmark::State& state) {
    auto server = cloud::InMemoryCloudServer::create();
    {
        BenchDelegate sender;
        auto engine = engineFor(server, sender);
        queueAll(*engine, 0);
        runUntilDone(*engine, true);
    }
    for (auto _ : state) {
        state.PauseTiming();
        BenchDelegate delegate;
        auto engine = engineFor(server, delegate);
        state.ResumeTiming();
        runUntilDone(*engine, false);
        if (delegate.received != recordCount) {
            state.SkipWithError("not every record was fetched");
        }
    }
    state.SetItemsProcessed(state.iterations() * recordCount);
}
BENCHMARK(BM_Fetch10000)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    QTemporaryDir runtime;
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
