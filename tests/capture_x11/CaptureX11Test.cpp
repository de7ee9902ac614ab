#include "capture/ClipboardMonitor.h"
#include "platform/TypeIdentifier.h"
#include "platform/fakes/FakeWorkspace.h"
#include "platform/x11/X11Pasteboard.h"
#include "store/ClipStore.h"

#include "EventLoopWait.h"
#include "TestEnvironment.h"
#include "TestImages.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>

#include <gtest/gtest.h>

#include <signal.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>

namespace snipjar {
namespace {

using namespace std::chrono_literals;
using test::waitUntil;

QString id(const char* identifier) {
    return QString::fromLatin1(identifier);
}

// Copies made by other processes on a real X server reach the history through the monitor.
class CaptureX11Test : public ::testing::Test {
protected:
    void SetUp() override {
        pasteboard = X11Pasteboard::create();
        if (!pasteboard) {
            GTEST_SKIP() << "no X display";
        }
        pasteboard->setReadTimeouts({.answer = 300ms, .idle = 300ms, .total = 30s});
    }

    void TearDown() override {
        monitor.reset();
        for (const std::unique_ptr<QProcess>& process : processes) {
            ::kill(pid_t(process->processId()), SIGCONT);
            process->kill();
            process->waitForFinished(5000);
        }
    }

    void createMonitor(CaptureLimits limits = {}) {
        monitor = std::make_unique<ClipboardMonitor>(store, *pasteboard, workspace, nullptr, limits);
        QObject::connect(monitor.get(), &ClipboardMonitor::captureFinished,
                         [this](qint64, CaptureOutcome outcome) { outcomes.append(outcome); });
        QObject::connect(&monitor->ingestor(), &ClipIngestor::jobFinished,
                         [this](const QList<ClipSyncChange>&) { ++filed; });
    }
    // Starts a monitor and lets its first capture (of whatever was on the clipboard) pass.
    void startMonitor(CaptureLimits limits = {}) {
        createMonitor(limits);
        monitor->start();
        ASSERT_TRUE(waitUntil([&] { return !outcomes.isEmpty(); }));
        outcomes.clear();
        filed = 0;
    }

    QString writeFile(const QString& name, const QByteArray& bytes) {
        const QString path = directory.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return path;
    }

    // xclip owning the clipboard with one target; returns once the clipboard saw the change.
    QProcess* startXclip(const QString& target, const QByteArray& bytes) {
        const qint64 before = pasteboard->changeCount();
        const QString path = writeFile(QStringLiteral("xclip-input-%1").arg(processes.size()), bytes);
        processes.push_back(std::make_unique<QProcess>());
        QProcess* process = processes.back().get();
        process->start(QStringLiteral("xclip"),
                       {QStringLiteral("-quiet"), QStringLiteral("-selection"), QStringLiteral("clipboard"),
                        QStringLiteral("-t"), target, QStringLiteral("-i"), path});
        EXPECT_TRUE(process->waitForStarted(5000));
        EXPECT_TRUE(waitUntil([&] { return pasteboard->changeCount() > before; }))
            << "xclip took no ownership";
        return process;
    }

    // The helper owning the clipboard with several targets at once.
    QProcess* startOwner(const QStringList& targetsAndValues) {
        const qint64 before = pasteboard->changeCount();
        processes.push_back(std::make_unique<QProcess>());
        QProcess* process = processes.back().get();
        process->start(QStringLiteral(SNIPJAR_X11_CLIPBOARD_OWNER), targetsAndValues);
        EXPECT_TRUE(process->waitForReadyRead(5000));
        EXPECT_TRUE(waitUntil([&] { return pasteboard->changeCount() > before; }))
            << "the owner took no ownership";
        return process;
    }

    // Waits until the process has printed the line (the owner helper reports every request).
    bool waitForLine(QProcess* process, const QByteArray& line, std::chrono::milliseconds timeout = 5s) {
        QByteArray& seen = output[process];
        return waitUntil(
            [&] {
                seen += process->readAllStandardOutput();
                return seen.split('\n').contains(line);
            },
            timeout);
    }

    bool storesAreEmpty() {
        return ClipStore::allItems(store.syncContext()).isEmpty() &&
               ClipStore::allItems(store.localContext()).isEmpty();
    }

    std::optional<Clip> onlyClip(ModelContainer& container, ModelContext& context) {
        const QList<ClipItem> items = ClipStore::allItems(context);
        EXPECT_EQ(items.size(), 1);
        if (items.isEmpty()) {
            return std::nullopt;
        }
        return store.loadClip(items.front().id, container);
    }
    std::optional<Clip> onlySyncedClip() { return onlyClip(store.syncContainer(), store.syncContext()); }

    test::TestEnvironment environment;
    QTemporaryDir directory;
    ClipStore store{ClipStore::Location::inMemory};
    FakeWorkspace workspace;
    std::unique_ptr<X11Pasteboard> pasteboard;
    std::unique_ptr<ClipboardMonitor> monitor;
    std::vector<std::unique_ptr<QProcess>> processes;
    std::map<QProcess*, QByteArray> output;
    QList<CaptureOutcome> outcomes;
    int filed = 0;
};

// Text copied with xclip becomes a text clip in the sync store.
TEST_F(CaptureX11Test, CapturesText) {
    startMonitor();
    const QString text = QStringLiteral("Grüße aus xclip ✓");
    startXclip(QStringLiteral("UTF8_STRING"), text.toUtf8());
    ASSERT_TRUE(waitUntil([&] { return filed == 1; }));
    const std::optional<Clip> clip = onlySyncedClip();
    ASSERT_TRUE(clip);
    EXPECT_EQ(clip->kind, Clip::Kind::text);
    EXPECT_EQ(clip->plainText, text);
}

// PNG and JPEG images are stored as they were copied.
TEST_F(CaptureX11Test, CapturesImages) {
    startMonitor();
    const QByteArray png = test::makeImage("png", 320, 200);
    startXclip(QStringLiteral("image/png"), png);
    ASSERT_TRUE(waitUntil([&] { return filed == 1; }));
    std::optional<Clip> clip = onlySyncedClip();
    ASSERT_TRUE(clip);
    EXPECT_EQ(clip->kind, Clip::Kind::image);
    EXPECT_EQ(clip->dataUTI, id(TypeIdentifier::png));
    EXPECT_EQ(clip->imageData, png);

    store.remove(ClipStore::allItems(store.syncContext()).front().id);
    const QByteArray jpeg = test::makeImage("jpg", 320, 200);
    startXclip(QStringLiteral("image/jpeg"), jpeg);
    ASSERT_TRUE(waitUntil([&] { return filed == 2; }));
    clip = onlySyncedClip();
    ASSERT_TRUE(clip);
    EXPECT_EQ(clip->dataUTI, id(TypeIdentifier::jpeg));
    EXPECT_EQ(clip->imageData, jpeg);
}

// A JPEG above the direct limit is read whole (INCR transfer) and transcoded to HEIC.
TEST_F(CaptureX11Test, TranscodesLargeJPEG) {
    const QByteArray jpeg = test::makeImage("jpg", 1600, 1200);
    ASSERT_GT(jpeg.size(), 300'000); // larger than one X request: read incrementally
    startMonitor(CaptureLimits{jpeg.size() - 1});
    startXclip(QStringLiteral("image/jpeg"), jpeg);
    ASSERT_TRUE(waitUntil([&] { return filed == 1; }, 60s));
    const std::optional<Clip> clip = onlySyncedClip();
    ASSERT_TRUE(clip);
    EXPECT_EQ(clip->dataUTI, id(TypeIdentifier::heic));
    EXPECT_TRUE(clip->imageData && !clip->imageData->isEmpty());
    // The clipboard lets go of the bytes it read once the capture is over.
    EXPECT_LE(pasteboard->cachedByteCount(), X11Pasteboard::smallValueBytes);
}

// Two files copied as a URI list become one file clip in the local store, never synced.
TEST_F(CaptureX11Test, CapturesFilesLocally) {
    QList<ClipSyncChange> syncChanges;
    store.onSyncChange = [&](const ClipSyncChange& change) { syncChanges.append(change); };
    startMonitor();
    const QString first = QUrl::fromLocalFile(writeFile(QStringLiteral("Report.pdf"), "pdf")).toString();
    const QString second = QUrl::fromLocalFile(writeFile(QStringLiteral("Notes.txt"), "notes")).toString();
    startXclip(QStringLiteral("text/uri-list"), (first + "\r\n" + second + "\r\n").toUtf8());
    ASSERT_TRUE(waitUntil([&] { return filed == 1; }));
    const std::optional<Clip> clip = onlyClip(store.localContainer(), store.localContext());
    ASSERT_TRUE(clip);
    EXPECT_EQ(clip->kind, Clip::Kind::file);
    EXPECT_EQ(clip->fileURLs, (QStringList{first, second}));
    EXPECT_TRUE(ClipStore::allItems(store.syncContext()).isEmpty());
    EXPECT_TRUE(syncChanges.isEmpty());
}

// A password manager's copy (KDE's hint) is skipped and nothing is stored, also when the hint's
// value cannot be read.
TEST_F(CaptureX11Test, SkipsPasswordManagerCopies) {
    startMonitor();
    for (const QString& hint : {QStringLiteral("secret"), QStringLiteral("!refuse")}) {
        outcomes.clear();
        startOwner({QStringLiteral("UTF8_STRING"), QStringLiteral("correct horse battery staple"),
                    QStringLiteral("x-kde-passwordManagerHint"), hint});
        ASSERT_TRUE(waitUntil([&] { return !outcomes.isEmpty(); }));
        EXPECT_EQ(outcomes, QList{CaptureOutcome::skipped}) << hint.toStdString();
    }
    test::settle(300ms);
    EXPECT_EQ(filed, 0);
    EXPECT_TRUE(storesAreEmpty());
}

// When a password manager takes the clipboard while an ordinary copy is being read, nothing of
// either is stored: the ordinary owner's type list never meets the password manager's text.
TEST_F(CaptureX11Test, OwnerChangeDuringACaptureStoresNothing) {
    startMonitor();
    QProcess* slow = startOwner({QStringLiteral("--delay-ms"), QStringLiteral("700"),
                                 QStringLiteral("UTF8_STRING"), QStringLiteral("ordinary words")});
    ASSERT_TRUE(waitForLine(slow, "request TARGETS"));
    startOwner({QStringLiteral("UTF8_STRING"), QStringLiteral("hunter2"),
                QStringLiteral("x-kde-passwordManagerHint"), QStringLiteral("secret")});
    ASSERT_TRUE(waitUntil([&] { return outcomes.contains(CaptureOutcome::skipped); }));
    // The slow owner's late answer and any read after it have passed.
    test::settle(1500ms);
    EXPECT_EQ(filed, 0);
    EXPECT_TRUE(storesAreEmpty());
}

// An owner slow with its first answer is waited for, and a capture that gave up on it asks again at
// its retry.
TEST_F(CaptureX11Test, SlowOwnerIsAskedAgain) {
    pasteboard->setReadTimeouts({});
    startMonitor();
    startOwner({QStringLiteral("--delay-ms"), QStringLiteral("1500"), QStringLiteral("UTF8_STRING"),
                QStringLiteral("rendered on request")});
    ASSERT_TRUE(waitUntil([&] { return filed == 1; }, 15s));
    EXPECT_EQ(onlySyncedClip()->plainText, QStringLiteral("rendered on request"));

    pasteboard->setReadTimeouts({.answer = 300ms, .idle = 300ms, .total = 30s});
    outcomes.clear();
    startOwner({QStringLiteral("--delay-ms"), QStringLiteral("400"), QStringLiteral("UTF8_STRING"),
                QStringLiteral("second try")});
    ASSERT_TRUE(waitUntil([&] { return filed == 2; }, 15s));
    EXPECT_EQ(outcomes.first(), CaptureOutcome::empty);
    EXPECT_EQ(
        store.loadClip(ClipStore::allItems(store.syncContext()).front().id, store.syncContainer())->plainText,
        QStringLiteral("second try"));
}

// Quitting in the middle of a slow transfer does not wait for it to end.
TEST_F(CaptureX11Test, QuittingInterruptsASlowTransfer) {
    pasteboard->setReadTimeouts({.answer = 5s, .idle = 5s, .total = 60s});
    startMonitor();
    // 100 chunks, 200 ms apart: about 20 s in all.
    QProcess* trickling = startOwner({QStringLiteral("--trickle-ms"), QStringLiteral("200"),
                                      QStringLiteral("UTF8_STRING"), QString(100 * 1024, QLatin1Char('x'))});
    ASSERT_TRUE(waitForLine(trickling, "request UTF8_STRING"));
    test::settle(500ms);
    QElapsedTimer quitting;
    quitting.start();
    monitor.reset();
    EXPECT_LT(quitting.elapsed(), 5000);
    EXPECT_EQ(filed, 0);
}

// An owner that stops answering leaves the main thread free; the capture ends empty and the next
// copy is captured as usual.
TEST_F(CaptureX11Test, UnresponsiveOwnerDoesNotBlockTheMainThread) {
    QProcess* xclip = startXclip(QStringLiteral("UTF8_STRING"), "never delivered");
    ASSERT_EQ(::kill(pid_t(xclip->processId()), SIGSTOP), 0);

    createMonitor();
    bool mainThreadRan = false;
    int mainThreadTurns = 0;
    bool turnsBeforeCapture = false;
    QTimer heartbeat;
    QObject::connect(&heartbeat, &QTimer::timeout, [&] { ++mainThreadTurns; });
    heartbeat.start(10);
    QObject::connect(monitor.get(), &ClipboardMonitor::captureFinished,
                     [&] { turnsBeforeCapture = mainThreadTurns > 5; });
    monitor->start();
    QTimer::singleShot(0, [&] { mainThreadRan = outcomes.isEmpty(); });
    ASSERT_TRUE(waitUntil([&] { return !outcomes.isEmpty(); }, 30s));
    EXPECT_TRUE(mainThreadRan);
    EXPECT_TRUE(turnsBeforeCapture);
    EXPECT_EQ(outcomes.front(), CaptureOutcome::empty);
    EXPECT_EQ(filed, 0);

    startXclip(QStringLiteral("UTF8_STRING"), "after the stall");
    ASSERT_TRUE(waitUntil([&] { return filed == 1; }));
    EXPECT_EQ(onlySyncedClip()->plainText, QStringLiteral("after the stall"));
}

// This process's resident set now, and its peak since the last resetPeakResident(), in bytes.
qint64 statusBytes(const char* field) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) {
        return -1;
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field)) {
            return line.mid(int(std::strlen(field))).trimmed().split(' ').first().toLongLong() * 1024;
        }
    }
    return -1;
}

bool resetPeakResident() {
    QFile clearRefs(QStringLiteral("/proc/self/clear_refs"));
    return clearRefs.open(QIODevice::WriteOnly) && clearRefs.write("5") == 1;
}

// A program offering 2 GB of text (made up as it is sent) is read no further than the store
// keeps, whether INCR announces the size or not: the copy is not recorded, the reader's peak
// memory stays far below the offer, and the owner is left before it has sent it all.
TEST_F(CaptureX11Test, HugeTextIsRefusedWithoutBeingRead) {
    constexpr qint64 offered = 2'000'000'000;
    constexpr qint64 memoryBound = 100 * 1024 * 1024;
    startMonitor();
    for (const char* hint : {"2000000000", "0"}) {
        SCOPED_TRACE(hint);
        outcomes.clear();
        ASSERT_TRUE(resetPeakResident());
        const qint64 idle = statusBytes("VmRSS:");
        QProcess* owner = startOwner({QStringLiteral("--generate-bytes"), QString::number(offered),
                                      QStringLiteral("--incr-hint"), QString::fromLatin1(hint),
                                      QStringLiteral("UTF8_STRING"), QStringLiteral("-")});
        ASSERT_TRUE(waitUntil([&] { return !outcomes.isEmpty(); }, 60s));
        EXPECT_EQ(outcomes, QList{CaptureOutcome::skipped});
        EXPECT_TRUE(storesAreEmpty());
        EXPECT_LT(pasteboard->cachedByteCount(), 1024);
        const qint64 growth = statusBytes("VmHWM:") - idle;
#ifndef __SANITIZE_ADDRESS__
        // AddressSanitizer keeps freed blocks in quarantine, so under it the figure says nothing.
        EXPECT_LT(growth, memoryBound) << "peak growth " << growth << " bytes";
#else
        (void)memoryBound;
#endif
        std::printf("INCR hint %s: peak resident growth %lld bytes\n", hint, static_cast<long long>(growth));

        QByteArray& seen = output[owner];
        ASSERT_TRUE(waitUntil(
            [&] {
                seen += owner->readAllStandardOutput();
                return seen.contains("served ");
            },
            15s));
        const qint64 served = seen.mid(seen.indexOf("served ") + 7).split('\n').first().toLongLong();
        EXPECT_LE(served, CaptureLimits::defaultTextLimit + X11SelectionReader::discardAllowance + 65536);
        owner->kill();
        owner->waitForFinished(5000);
    }
}

} // namespace
} // namespace snipjar
