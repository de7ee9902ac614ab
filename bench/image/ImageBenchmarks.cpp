// Speed of the image operations on camera-sized images, generated here as noise so that the JPEGs
// are as large as real photographs (noise is the hardest content for the HEIC encoder, so the
// figures are upper bounds). Targets: thumbnail of 12 MP ≤ 150 ms, preview of 12 MP ≤ 1.5 s,
// dedupKey of a 50 MB image ≤ 150 ms; the 48 MP transcode reports its time and number of encodes.
// The CPU column is the time of all the process's threads, which stays meaningful on a busy machine.

#include "ImageTestImages.h"

#include "image/ImageTranscode.h"
#include "model/Clip.h"

#include <QRandomGenerator>

#include <benchmark/benchmark.h>

#include <atomic>

using namespace snipjar;
namespace images = snipjar::test::images;

namespace {

// sigma 40 is heavy noise; sigma 8 compresses more like a photograph.
const QByteArray& jpeg12Megapixels(double sigma) {
    static const QByteArray heavy = images::noisyJpeg(4000, 3000, 40, 92);
    static const QByteArray light = images::noisyJpeg(4000, 3000, 8, 92);
    return sigma > 10 ? heavy : light;
}

void BM_Thumbnail12Megapixels(benchmark::State& state) {
    const QByteArray& jpeg = jpeg12Megapixels(double(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(ImageTranscode::thumbnail(jpeg, 72));
    }
    state.counters["jpegMB"] = double(jpeg.size()) / 1e6;
}
BENCHMARK(BM_Thumbnail12Megapixels)
    ->Arg(40)
    ->Arg(8)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

void BM_PreviewImage12Megapixels(benchmark::State& state) {
    const QByteArray& jpeg = jpeg12Megapixels(double(state.range(0)));
    qsizetype previewBytes = 0;
    for (auto _ : state) {
        const auto preview = ImageTranscode::previewImage(jpeg, 1200);
        previewBytes = preview ? preview->size() : -1;
    }
    state.counters["jpegMB"] = double(jpeg.size()) / 1e6;
    state.counters["previewKB"] = double(previewBytes) / 1e3;
}
BENCHMARK(BM_PreviewImage12Megapixels)
    ->Arg(40)
    ->Arg(8)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

// Counts the encodes of the real encoder.
class CountingEncoder : public ImageTranscode::Encoder {
public:
    CountingEncoder(std::unique_ptr<Encoder> inner, int& prepares, int& encodes)
        : m_inner(std::move(inner))
        , m_prepares(prepares)
        , m_encodes(encodes) {}

    bool prepare(int longestSide, bool keepMetadata) override {
        ++m_prepares;
        return m_inner->prepare(longestSide, keepMetadata);
    }
    std::optional<QByteArray> encode(double quality) override {
        ++m_encodes;
        return m_inner->encode(quality);
    }

private:
    std::unique_ptr<Encoder> m_inner;
    int& m_prepares;
    int& m_encodes;
};

void BM_Transcode48Megapixels(benchmark::State& state) {
    const QByteArray jpeg = images::noisyJpeg(8000, 6000, double(state.range(0)), 95);
    const auto realFactory = ImageTranscode::heicEncoderFactory();
    int prepares = 0;
    int encodes = 0;
    qsizetype resultBytes = 0;
    for (auto _ : state) {
        const auto countingFactory =
            [&](const QByteArray& bytes) -> std::unique_ptr<ImageTranscode::Encoder> {
            return std::make_unique<CountingEncoder>(realFactory(bytes), prepares, encodes);
        };
        const auto result = ImageTranscode::transcode(jpeg, 50'000'000, true, ImageTranscode::pixelSize(jpeg),
                                                      countingFactory);
        resultBytes = result ? result->bytes.size() : -1;
    }
    state.counters["jpegMB"] = double(jpeg.size()) / 1e6;
    state.counters["heicMB"] = double(resultBytes) / 1e6;
    state.counters["prepares"] = prepares;
    state.counters["encodes"] = encodes;
}
BENCHMARK(BM_Transcode48Megapixels)
    ->Arg(40)
    ->Arg(8)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Unit(benchmark::kSecond)
    ->Iterations(1);

void BM_DedupKey50MegabyteImage(benchmark::State& state) {
    QByteArray bytes(50'000'000, '\0');
    QRandomGenerator(7).fillRange(reinterpret_cast<quint32*>(bytes.data()), bytes.size() / 4);
    Clip clip;
    clip.kind = Clip::Kind::image;
    clip.imageData = bytes;
    clip.dataUTI = QStringLiteral("public.jpeg");
    for (auto _ : state) {
        benchmark::DoNotOptimize(clip.dedupKey());
    }
}
BENCHMARK(BM_DedupKey50MegabyteImage)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

} // namespace

BENCHMARK_MAIN();
