// How fast a copy made by another process becomes a committed history item, and how long the main
// thread is kept from its event loop while a large image is captured. Needs an X server with
// xclip, or (where WAYLAND_DISPLAY is set) a compositor with data control and wl-copy, and vips on
// the PATH; see CMakeLists.txt.
#include "capture/ClipboardMonitor.h"
#include "platform/fakes/FakeWorkspace.h"
#include "platform/wayland/WaylandPasteboard.h"
#include "platform/x11/X11Pasteboard.h"
#include "store/ClipStore.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <vector>

namespace snipjar {
namespace {

using Clock = std::chrono::steady_clock;

bool isWayland() {
    return !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

double milliseconds(Clock::duration duration) {
    return std::chrono::duration<double, std::milli>(duration).count();
}

double percentile(std::vector<double> values, double fraction) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(fraction * double(values.size() - 1) + 0.5);
    return values[std::min(index, values.size() - 1)];
}

// One monitor on the real clipboard with an on-disk store in the session's private data folder.
class CaptureRig {
public:
    static CaptureRig* instance() {
        if (!rig) {
            std::unique_ptr<Pasteboard> pasteboard;
            if (isWayland()) {
                pasteboard = WaylandPasteboard::create();
            } else {
                pasteboard = X11Pasteboard::create();
            }
            if (pasteboard) {
                rig.reset(new CaptureRig(std::move(pasteboard)));
            }
        }
        return rig.get();
    }
    // Ends the monitor and the copying clients while the application object still exists.
    static void release() { rig.reset(); }

    ~CaptureRig() {
        monitor.reset();
        for (const std::unique_ptr<QProcess>& process : processes) {
            process->kill();
            process->waitForFinished(5000);
        }
    }

    QString writeFile(const QString& name, const QByteArray& bytes) {
        const QString path = folder.filePath(name);
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(bytes);
        return path;
    }

    // Starts xclip (wl-copy on Wayland) owning the clipboard with the file's bytes.
    void copy(const QString& target, const QString& path) {
        processes.push_back(std::make_unique<QProcess>());
        if (isWayland()) {
            processes.back()->setStandardInputFile(path);
            processes.back()->start(QStringLiteral("wl-copy"),
                                    {QStringLiteral("--foreground"), QStringLiteral("--type"), target});
        } else {
            processes.back()->start(QStringLiteral("xclip"),
                                    {QStringLiteral("-quiet"), QStringLiteral("-selection"),
                                     QStringLiteral("clipboard"), QStringLiteral("-t"), target,
                                     QStringLiteral("-i"), path});
        }
        // xclip exits when the next copy takes the clipboard over; reap the ones that did.
        std::erase_if(processes, [](const std::unique_ptr<QProcess>& process) {
            return process->state() == QProcess::NotRunning;
        });
    }

    // Runs the event loop until the ingestor has filed `count` clips in all; false on time-out.
    bool waitForFiled(int count, std::chrono::milliseconds timeout) {
        if (filed >= count) {
            return true;
        }
        QEventLoop loop;
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, &loop, &QEventLoop::quit);
        QMetaObject::Connection done =
            QObject::connect(&monitor->ingestor(), &ClipIngestor::jobFinished, &loop, [&] {
                if (filed >= count) {
                    loop.quit();
                }
            });
        guard.start(timeout);
        loop.exec();
        QObject::disconnect(done);
        return filed >= count;
    }

    int filed = 0;
    Clock::time_point lastChangeSeen;
    Clock::time_point lastFiled;

private:
    static inline std::unique_ptr<CaptureRig> rig;

    explicit CaptureRig(std::unique_ptr<Pasteboard> clipboard)
        : pasteboard(std::move(clipboard))
        , store(ClipStore::Location::onDisk) {
        // Connected before the monitor's own handler, so this sees the notification first.
        QObject::connect(pasteboard.get(), &Pasteboard::changed, [this] { lastChangeSeen = Clock::now(); });
        monitor = std::make_unique<ClipboardMonitor>(store, *pasteboard, workspace);
        QObject::connect(&monitor->ingestor(), &ClipIngestor::jobFinished, [this] {
            ++filed;
            lastFiled = Clock::now();
        });
        monitor->start();
    }

    QTemporaryDir folder;
    std::unique_ptr<Pasteboard> pasteboard;
    ClipStore store;
    FakeWorkspace workspace;
    std::unique_ptr<ClipboardMonitor> monitor;
    std::vector<std::unique_ptr<QProcess>> processes;
};

// Text copied by xclip: time from launching xclip, and from the clipboard's change notification,
// to the item committed in the store.
void BM_TextCaptureLatency(benchmark::State& state) {
    CaptureRig* rig = CaptureRig::instance();
    if (!rig) {
        state.SkipWithError("no clipboard to watch");
        return;
    }
    std::vector<double> fromLaunch;
    std::vector<double> fromChange;
    int index = 0;
    for (auto _ : state) {
        const QString path =
            rig->writeFile(QStringLiteral("text-%1").arg(index),
                           QStringLiteral("benchmark text %1 copied by xclip").arg(index).toUtf8());
        ++index;
        const int before = rig->filed;
        const Clock::time_point launched = Clock::now();
        rig->copy(isWayland() ? QStringLiteral("text/plain;charset=utf-8") : QStringLiteral("UTF8_STRING"),
                  path);
        if (!rig->waitForFiled(before + 1, std::chrono::seconds(10))) {
            state.SkipWithError("the copy was not filed");
            return;
        }
        const double elapsed = milliseconds(rig->lastFiled - launched);
        state.SetIterationTime(elapsed / 1000.0);
        fromLaunch.push_back(elapsed);
        fromChange.push_back(milliseconds(rig->lastFiled - rig->lastChangeSeen));
    }
    state.counters["median_from_launch_ms"] = percentile(fromLaunch, 0.5);
    state.counters["p90_from_launch_ms"] = percentile(fromLaunch, 0.9);
    state.counters["median_from_change_ms"] = percentile(fromChange, 0.5);
    state.counters["p90_from_change_ms"] = percentile(fromChange, 0.9);
}
BENCHMARK(BM_TextCaptureLatency)->UseManualTime()->Iterations(40)->Unit(benchmark::kMillisecond);

// A large JPEG (noise at quality 100, made by vips) copied by xclip: the longest time the main
// thread's event loop did not turn while the image was read, handed over, transcoded when above
// the direct limit, and filed. The argument is the side of the square image in pixels: 6000 gives
// about 43 MB (stored directly), 7000 about 59 MB (transcoded to HEIC).
void BM_LargeImageMainThreadStall(benchmark::State& state) {
    CaptureRig* rig = CaptureRig::instance();
    if (!rig) {
        state.SkipWithError("no clipboard to watch");
        return;
    }
    const int side = int(state.range(0));
    const QString path = rig->writeFile(QStringLiteral("large-%1.jpg").arg(side), {});
    QProcess vips;
    vips.start(QStringLiteral("vips"), {QStringLiteral("gaussnoise"), path + QStringLiteral("[Q=100]"),
                                        QString::number(side), QString::number(side)});
    vips.waitForFinished(300'000);
    const qint64 bytes = QFile(path).size();
    if (bytes <= 0) {
        state.SkipWithError("vips could not make the image");
        return;
    }

    double longestStall = 0;
    double totalMilliseconds = 0;
    for (auto _ : state) {
        Clock::time_point lastTurn = Clock::now();
        double stall = 0;
        QTimer heartbeat;
        heartbeat.setTimerType(Qt::PreciseTimer);
        QObject::connect(&heartbeat, &QTimer::timeout, [&] {
            const Clock::time_point now = Clock::now();
            stall = std::max(stall, milliseconds(now - lastTurn));
            lastTurn = now;
        });
        heartbeat.start(1);
        const int before = rig->filed;
        const Clock::time_point launched = Clock::now();
        rig->copy(QStringLiteral("image/jpeg"), path);
        if (!rig->waitForFiled(before + 1, std::chrono::minutes(5))) {
            state.SkipWithError("the image was not filed");
            return;
        }
        heartbeat.stop();
        const double elapsed = milliseconds(rig->lastFiled - launched);
        state.SetIterationTime(elapsed / 1000.0);
        longestStall = std::max(longestStall, stall);
        totalMilliseconds += elapsed;
    }
    state.counters["image_MB"] = double(bytes) / 1e6;
    state.counters["longest_main_thread_stall_ms"] = longestStall;
    state.counters["copy_to_commit_ms"] = totalMilliseconds / double(state.iterations());
}
BENCHMARK(BM_LargeImageMainThreadStall)
    ->Arg(6000)
    ->Arg(7000)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

} // namespace
} // namespace snipjar

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    snipjar::CaptureRig::release();
    benchmark::Shutdown();
    return 0;
}
