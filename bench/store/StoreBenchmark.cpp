// Figures of the history store: filing speed with process-crash durability, grouping a large
// history, loading a large payload, and the peak memory of filing a 50 MB image.

// libvips (through GIO) must come before Qt, whose "signals" keyword clashes with GIO's headers.
#include <vips/vips.h>

#include "platform/MemoryRelief.h"
#include "platform/UserSettings.h"
#include "store/ClipStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <fstream>
#include <string>

using namespace snipjar;

namespace {

const QString thisMac = QStringLiteral("BENCH-MAC");

// A store in a fresh data folder of its own.
struct FreshStore {
    QTemporaryDir folder;
    std::unique_ptr<ClipStore> store;

    FreshStore() {
        qputenv("XDG_DATA_HOME", QFile::encodeName(folder.path()));
        store = std::make_unique<ClipStore>(ClipStore::Location::onDisk, ClipStore::Options{thisMac, {}});
    }
};

Clip textClip(const QString& words) {
    Clip clip;
    clip.kind = Clip::Kind::text;
    clip.plainText = words;
    clip.sourceName = QStringLiteral("Editor");
    return clip;
}

QByteArray noise(qsizetype size, quint32 seed) {
    QByteArray bytes(size, Qt::Uninitialized);
    quint32 state = seed | 1;
    for (qsizetype index = 0; index < size; ++index) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        bytes[index] = char(state);
    }
    return bytes;
}

// An uncompressed-looking PNG of random pixels: large and genuinely decodable.
QByteArray noisePNG(int width, int height) {
    VipsImage* noiseImage = nullptr;
    VipsImage* pixels = nullptr;
    void* buffer = nullptr;
    size_t length = 0;
    QByteArray bytes;
    if (vips_gaussnoise(&noiseImage, width, height, "sigma", 80.0, "mean", 128.0, nullptr) == 0 &&
        vips_cast_uchar(noiseImage, &pixels, nullptr) == 0) {
        VipsImage* bands[3] = {pixels, pixels, pixels};
        VipsImage* colour = nullptr;
        if (vips_bandjoin(bands, &colour, 3, nullptr) == 0) {
            if (vips_pngsave_buffer(colour, &buffer, &length, "compression", 1, nullptr) == 0) {
                bytes = QByteArray(static_cast<const char*>(buffer), qsizetype(length));
            }
            g_object_unref(colour);
        }
    }
    g_free(buffer);
    for (VipsImage* image : {noiseImage, pixels}) {
        if (image) {
            g_object_unref(image);
        }
    }
    return bytes;
}

qint64 statusKilobytes(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field, 0) == 0) {
            return std::stoll(line.substr(std::string(field).size()));
        }
    }
    return 0;
}

// Sets the high-water mark of the resident set back to the current resident set.
void resetPeakResidentSet() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

// Filing text clips one by one, each with a fresh context, into a store that holds 1,000 items
// (so every insert also prunes one). Commits are durable against a crash of the process.
void BM_InsertTextIntoThousand(benchmark::State& state) {
    FreshStore fresh;
    UserSettings::setValue(QLatin1String(UserSettings::historyLengthKey), 1000);
    {
        const std::unique_ptr<ModelContext> context = fresh.store->syncContainer().newContext();
        for (int index = 0; index < 1000; ++index) {
            context->insert(
                ClipItem::fromClip(textClip(QStringLiteral("seed %1").arg(index)), std::nullopt, thisMac));
        }
        context->save();
    }
    int counter = 0;
    for (auto _ : state) {
        const std::unique_ptr<ModelContext> context = fresh.store->syncContainer().newContext();
        const QList<ClipSyncChange> changes = fresh.store->insert(
            textClip(QStringLiteral("clip number %1 with some words").arg(counter++)), *context);
        benchmark::DoNotOptimize(changes.size());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_InsertTextIntoThousand)->Unit(benchmark::kMicrosecond);

// The rows of a history of 10,000 items, a third of them copied on two computers: as fetched from
// one store (newest first), and as two stores' lists joined (in no order).
QList<ClipItem> historyOfTenThousand(bool newestFirst) {
    QList<ClipItem> items;
    const QDateTime start = QDateTime::currentDateTimeUtc();
    for (int index = 0; index < 10'000; ++index) {
        const int content = index % 3 == 0 ? index / 3 : index;
        ClipItem item = ClipItem::fromClip(textClip(QStringLiteral("content %1").arg(content)), std::nullopt,
                                           index % 2 ? thisMac : QStringLiteral("OTHER"));
        item.createdAt = start.addSecs(newestFirst ? -index : -(index * 7919 % 10'000));
        items.append(item);
    }
    return items;
}

void BM_Groups10000NewestFirst(benchmark::State& state) {
    const QList<ClipItem> items = historyOfTenThousand(true);
    for (auto _ : state) {
        benchmark::DoNotOptimize(ClipStore::groups(items).size());
    }
}
BENCHMARK(BM_Groups10000NewestFirst)->Unit(benchmark::kMillisecond);

void BM_Groups10000Unordered(benchmark::State& state) {
    const QList<ClipItem> items = historyOfTenThousand(false);
    for (auto _ : state) {
        benchmark::DoNotOptimize(ClipStore::groups(items).size());
    }
}
BENCHMARK(BM_Groups10000Unordered)->Unit(benchmark::kMillisecond);

// Rebuilding the clip of a 20 MB image from its payload file.
void BM_LoadClip20MB(benchmark::State& state) {
    FreshStore fresh;
    Clip clip;
    clip.kind = Clip::Kind::image;
    clip.imageData = noise(20'000'000, 7);
    clip.dataUTI = QStringLiteral("com.compuserve.gif");
    const std::unique_ptr<ModelContext> context = fresh.store->localContainer().newContext();
    const QUuid id = fresh.store->insert(clip, *context).constLast().id;
    for (auto _ : state) {
        const std::optional<Clip> loaded = fresh.store->loadClip(id, fresh.store->localContainer());
        benchmark::DoNotOptimize(loaded->imageData->size());
    }
    state.SetBytesProcessed(state.iterations() * 20'000'000);
}
BENCHMARK(BM_LoadClip20MB)->Unit(benchmark::kMillisecond);

// Peak resident memory added by filing one image of about 50 MB (thumbnail, metadata, payload
// file), compared with three times the image's size.
void peakOfInsert(benchmark::State& state, const QByteArray& bytes, const QString& dataUTI) {
    qint64 worstIncrease = 0;
    for (auto _ : state) {
        state.PauseTiming();
        // A fresh store each time, so the same bytes are filed anew rather than moved to the top.
        auto fresh = std::make_unique<FreshStore>();
        Clip clip;
        clip.kind = Clip::Kind::image;
        clip.imageData = bytes;
        clip.dataUTI = dataUTI;
        std::unique_ptr<ModelContext> context = fresh->store->syncContainer().newContext();
        MemoryRelief::now();
        resetPeakResidentSet();
        const qint64 before = statusKilobytes("VmRSS:");
        state.ResumeTiming();
        fresh->store->insert(clip, *context);
        context.reset();
        state.PauseTiming();
        worstIncrease = std::max(worstIncrease, (statusKilobytes("VmHWM:") - before) * 1024);
        context.reset();
        fresh.reset();
        state.ResumeTiming();
    }
    state.counters["imageMB"] = double(bytes.size()) / 1e6;
    state.counters["peakIncreaseMB"] = double(worstIncrease) / 1e6;
    state.counters["peakOverSize"] = double(worstIncrease) / double(bytes.size());
    state.counters["limitOverSize"] = 3.0;
}

void BM_InsertPeakMemory50MBPNG(benchmark::State& state) {
    // 5700 × 5800 random RGB pixels: just under 50,000,000 bytes of PNG.
    static const QByteArray png = noisePNG(5700, 5800);
    if (png.isEmpty() || png.size() > ClipStore::largestClipBytes) {
        state.SkipWithError("cannot make the test image");
        return;
    }
    peakOfInsert(state, png, QStringLiteral("public.png"));
}
BENCHMARK(BM_InsertPeakMemory50MBPNG)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_InsertPeakMemory50MBUndecodable(benchmark::State& state) {
    peakOfInsert(state, noise(50'000'000, 3), QStringLiteral("com.compuserve.gif"));
}
BENCHMARK(BM_InsertPeakMemory50MBUndecodable)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    VIPS_INIT(argv[0]);
    QTemporaryDir configuration;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(configuration.path()));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
