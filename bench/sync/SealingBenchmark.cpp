// The cost of sealing the synced history: values sealed and opened per second at the sizes clips
// have, and a 50 MB image sealed and opened file to file, with how much the process's peak
// resident memory grew meanwhile (it must stay far below the image's size).
#include "sync/crypto/AssetSealer.h"
#include "sync/crypto/HistoryKey.h"
#include "sync/crypto/ValueSealer.h"

#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <fstream>
#include <string>

namespace {

using namespace snipjar::crypto;

const HistoryKey& benchKey() {
    static const HistoryKey key = HistoryKey::generate();
    return key;
}

const QByteArray associatedData("account, zone, record name, record type");

void BM_SealValue(benchmark::State& state) {
    const ValueSealer sealer(benchKey());
    const QByteArray value(state.range(0), 'v');
    for (auto _ : state) {
        benchmark::DoNotOptimize(sealer.seal(value, associatedData));
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_SealValue)->Arg(300)->Arg(16 * 1024)->Arg(1024 * 1024);

void BM_OpenValue(benchmark::State& state) {
    const ValueSealer sealer(benchKey());
    const QByteArray sealed = sealer.seal(QByteArray(state.range(0), 'v'), associatedData);
    for (auto _ : state) {
        benchmark::DoNotOptimize(sealer.open(sealed, associatedData));
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_OpenValue)->Arg(300)->Arg(16 * 1024)->Arg(1024 * 1024);

// The process's peak resident size in KiB (VmHWM), after resetting it when asked.
long peakResidentKiB(bool reset) {
    if (reset) {
        std::ofstream("/proc/self/clear_refs") << "5";
    }
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return 0;
}

void BM_SealAndOpen50MBAsset(benchmark::State& state) {
    QTemporaryDir folder;
    const QString plain = folder.filePath("image");
    {
        QFile file(plain);
        file.open(QIODevice::WriteOnly);
        const QByteArray block(1024 * 1024, 'i');
        for (int i = 0; i < 50; ++i) {
            file.write(block);
        }
    }
    const AssetSealer sealer(benchKey());
    long growth = 0;
    for (auto _ : state) {
        const long before = peakResidentKiB(true);
        QFile::remove(folder.filePath("sealed"));
        QFile::remove(folder.filePath("opened"));
        sealer.seal(plain, folder.filePath("sealed"), associatedData);
        sealer.open(folder.filePath("sealed"), folder.filePath("opened"), associatedData, 1LL << 30);
        growth = std::max(growth, peakResidentKiB(false) - before);
    }
    state.SetBytesProcessed(state.iterations() * 50LL * 1024 * 1024);
    state.counters["peak_growth_KiB"] = double(growth);
}
BENCHMARK(BM_SealAndOpen50MBAsset)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

BENCHMARK_MAIN();
