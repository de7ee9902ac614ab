// Measures what a large clipboard transfer costs the main thread: a 50 MB image offered by xclip
// is read on a worker thread (as the capture does) while a 1 ms timer on the main thread records
// its longest gap; then the same image is written by the application and read by `xclip -o`.
// Targets: main-thread stall at most 100 ms in both directions.
#include "platform/TypeIdentifier.h"
#include "platform/x11/X11Pasteboard.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <thread>

using namespace snipjar;

namespace {

constexpr qsizetype imageSize = 50 * 1000 * 1000;
constexpr int rounds = 3;

// Runs the event loop until `finished` holds, and gives the longest gap between two ticks of a
// 1 ms timer meanwhile.
template <typename Predicate> qint64 longestMainThreadGap(Predicate finished) {
    qint64 longest = 0;
    QElapsedTimer sinceTick;
    sinceTick.start();
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticker, &QTimer::timeout, [&] { longest = std::max(longest, sinceTick.restart()); });
    ticker.start(1);
    while (!finished()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return std::max(longest, sinceTick.elapsed());
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    std::unique_ptr<X11Pasteboard> pasteboard = X11Pasteboard::create();
    if (!pasteboard) {
        std::fprintf(stderr, "no X display\n");
        return 1;
    }
    QTemporaryDir directory;
    QByteArray image(imageSize, Qt::Uninitialized);
    QRandomGenerator(7).fillRange(reinterpret_cast<quint32*>(image.data()), imageSize / 4);
    const QString path = directory.filePath(QStringLiteral("image.png"));
    {
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(image);
    }
    const QString png = QString::fromLatin1(TypeIdentifier::png);

    std::printf("X11 clipboard, %lld-byte image\n", qlonglong(imageSize));
    // The gap the event loop shows with nothing to do, for comparison.
    QElapsedTimer idle;
    idle.start();
    std::printf("idle main loop: longest gap %lld ms over 1 s\n",
                longestMainThreadGap([&] { return idle.elapsed() >= 1000; }));
    for (int round = 1; round <= rounds; ++round) {
        // Reading what another client offers (INCR from xclip).
        const qint64 before = pasteboard->changeCount();
        QProcess xclip;
        xclip.start(QStringLiteral("xclip"),
                    {QStringLiteral("-quiet"), QStringLiteral("-selection"), QStringLiteral("clipboard"),
                     QStringLiteral("-t"), QStringLiteral("image/png"), QStringLiteral("-i"), path});
        QElapsedTimer wait;
        wait.start();
        while (pasteboard->changeCount() == before && wait.elapsed() < 10000) {
            QThread::msleep(2);
        }
        std::atomic<bool> done = false;
        qint64 readMs = 0;
        qsizetype readBytes = 0;
        std::thread reader([&] {
            QElapsedTimer timer;
            timer.start();
            pasteboard->types();
            readBytes = pasteboard->read(png).bytes.size();
            readMs = timer.elapsed();
            done = true;
        });
        const qint64 readStall = longestMainThreadGap([&] { return done.load(); });
        reader.join();
        xclip.kill();
        xclip.waitForFinished();

        // Serving the application's own write to another client (INCR to xclip -o).
        pasteboard->write({{{png, image}}});
        QProcess output;
        QElapsedTimer serveTimer;
        serveTimer.start();
        output.start(QStringLiteral("xclip"),
                     {QStringLiteral("-o"), QStringLiteral("-selection"), QStringLiteral("clipboard"),
                      QStringLiteral("-t"), QStringLiteral("image/png")});
        qsizetype served = 0;
        QObject::connect(&output, &QProcess::readyReadStandardOutput,
                         [&] { served += output.readAllStandardOutput().size(); });
        const qint64 serveStall =
            longestMainThreadGap([&] { return output.state() == QProcess::NotRunning; });
        served += output.readAllStandardOutput().size();
        const qint64 serveMs = serveTimer.elapsed();

        std::printf("round %d: read %lld bytes in %lld ms, main-thread stall %lld ms (target <= 100); "
                    "served %lld bytes in %lld ms, main-thread stall %lld ms\n",
                    round, qlonglong(readBytes), readMs, readStall, qlonglong(served), serveMs, serveStall);
    }
    return 0;
}
