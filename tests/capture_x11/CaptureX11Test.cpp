#include "CaptureTestSupport.h"
#include "TestImages.h"
#include "X11TestClients.h"
#include "platform/TypeIdentifier.h"
#include "platform/x11/X11Pasteboard.h"

#include <QElapsedTimer>
#include <QTimer>
#include <QUrl>

#include <cstdio>
#include <cstring>
#include <map>

namespace snipjar {
namespace {

using namespace std::chrono_literals;
using test::waitUntil;

// Copies made by other processes on a real X server reach the history through the monitor.
class CaptureX11Test : public test::MonitorTest {
protected:
    void SetUp() override {
        pasteboard = X11Pasteboard::create();
        if (!pasteboard) {
            GTEST_SKIP() << "no X display";
        }
        pasteboard->setReadTimeouts({.answer = 300ms, .idle = 300ms, .total = 30s});
    }

    void createMonitor() { createClipboardMonitor(*pasteboard); }
    // Starts a monitor and lets its first capture (of whatever was on the clipboard) pass.
    void startMonitor(CaptureLimits limits = {}) {
        startClipboardMonitor(*pasteboard, limits);
        outcomes.clear();
        filed = 0;
    }

    QProcess* xclip(const QString& target, const QByteArray& bytes) {
        return test::taking(*pasteboard, [&] { return owners.xclip(bytes, target); });
    }
    QProcess* owner(const QStringList& arguments) {
        return test::taking(*pasteboard, [&] { return owners.helper(arguments); });
    }

    // Waits until the owner helper has printed the line (it reports every request).
    bool waitForLine(QProcess* process, const QByteArray& line, std::chrono::milliseconds timeout = 5s) {
        QByteArray& seen = output[process];
        return waitUntil(
            [&] {
                seen += process->readAllStandardOutput();
                return seen.contains(line);
            },
            timeout);
    }

    std::unique_ptr<X11Pasteboard> pasteboard;
    std::unique_ptr<ClipboardMonitor>& monitor = clipboardMonitor;
    test::SelectionOwners owners;
    std::map<QProcess*, QByteArray> output;
};

// Images copied with xclip are stored as they were copied, in the sync store (text is AppProcess's);
// files copied as a URI list become one file clip in the local store, never synced; a password
// manager's copy (KDE's hint) is skipped, also when the hint's value cannot be read.
TEST_F(CaptureX11Test, CapturesWhatOtherProgramsCopy) {
    startMonitor();
    const QString first = QUrl::fromLocalFile(owners.writeFile("Report.pdf", "pdf")).toString();
    const QString second = QUrl::fromLocalFile(owners.writeFile("Notes.txt", "notes")).toString();
    const struct {
        QString target;
        QByteArray bytes;
        Clip::Kind kind;
        const char* dataUTI = nullptr;
        QString hint = {};
    } rows[] = {
        {"image/png", test::makeImage("png", 320, 200), Clip::Kind::image, TypeIdentifier::png},
        {"image/jpeg", test::makeImage("jpg", 320, 200), Clip::Kind::image, TypeIdentifier::jpeg},
        {"text/uri-list", (first + "\r\n" + second + "\r\n").toUtf8(), Clip::Kind::file},
        {"UTF8_STRING", "correct horse battery staple", Clip::Kind::text, nullptr, "secret"},
        {"UTF8_STRING", "correct horse battery staple", Clip::Kind::text, nullptr, "!refuse"},
    };
    int expectedFiled = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.target.toStdString() + " " + row.hint.toStdString());
        outcomes.clear();
        if (row.hint.isEmpty()) {
            xclip(row.target, row.bytes);
            ASSERT_TRUE(waitUntil([&] { return filed == expectedFiled + 1; }));
            ++expectedFiled;
        } else {
            owner({row.target, QString::fromUtf8(row.bytes), "x-kde-passwordManagerHint", row.hint});
            ASSERT_TRUE(waitUntil([&] { return !outcomes.isEmpty(); }));
            EXPECT_EQ(outcomes, QList{CaptureOutcome::skipped});
            continue;
        }
        const std::optional<Clip> clip = newestClip(row.kind == Clip::Kind::file);
        ASSERT_TRUE(clip);
        EXPECT_EQ(clip->kind, row.kind);
        if (row.kind == Clip::Kind::text) {
            EXPECT_EQ(clip->plainText, QString::fromUtf8(row.bytes));
        } else if (row.kind == Clip::Kind::image) {
            EXPECT_EQ(clip->dataUTI, QString::fromLatin1(row.dataUTI));
            EXPECT_EQ(clip->imageData, row.bytes);
        } else {
            EXPECT_EQ(clip->fileURLs, (QStringList{first, second}));
        }
    }
    test::settle(300ms);
    EXPECT_EQ(filed, 3);
    EXPECT_EQ(ClipStore::allItems(store.syncContext()).size(), 2);
    EXPECT_EQ(ClipStore::allItems(store.localContext()).size(), 1);
}

// A JPEG above the direct limit is read whole (INCR transfer) and transcoded to HEIC, with the
// application in front as its source.
TEST_F(CaptureX11Test, TranscodesLargeJPEG) {
    workspace.setFrontmost(RunningApplication{42, "org.gnome.eog", "Image Viewer", "eog", 7});
    const QByteArray jpeg = test::makeImage("jpg", 1600, 1200);
    ASSERT_GT(jpeg.size(), 300'000); // larger than one X request: read incrementally
    startMonitor(CaptureLimits{jpeg.size() - 1});
    xclip("image/jpeg", jpeg);
    ASSERT_TRUE(waitUntil([&] { return filed == 1; }, 60s));
    const std::optional<Clip> clip = newestClip();
    ASSERT_TRUE(clip);
    EXPECT_EQ(clip->dataUTI, QString::fromLatin1(TypeIdentifier::heic));
    EXPECT_TRUE(clip->imageData && !clip->imageData->isEmpty());
    EXPECT_EQ(ClipStore::allItems(store.syncContext()).front().sourceName, QStringLiteral("Image Viewer"));
    // The clipboard lets go of the bytes it read once the capture is over.
    EXPECT_LE(pasteboard->cachedByteCount(), X11Pasteboard::smallValueBytes);
}

// When a password manager takes the clipboard while an ordinary copy is being read, nothing of
// either is stored: the ordinary owner's type list never meets the password manager's text.
TEST_F(CaptureX11Test, OwnerChangeDuringACaptureStoresNothing) {
    startMonitor();
    QProcess* slow = owner({"--delay-ms", "700", "UTF8_STRING", "ordinary words"});
    ASSERT_TRUE(waitForLine(slow, "request TARGETS"));
    owner({"UTF8_STRING", "hunter2", "x-kde-passwordManagerHint", "secret"});
    ASSERT_TRUE(waitUntil([&] { return outcomes.contains(CaptureOutcome::skipped); }));
    // The slow owner's late answer and any read after it have passed.
    test::settle(1500ms);
    EXPECT_EQ(filed, 0);
    EXPECT_TRUE(items().isEmpty());
}

// An owner slow with its first answer is waited for, and a capture that gave up on it asks again at
// its retry.
TEST_F(CaptureX11Test, SlowOwnerIsAskedAgain) {
    pasteboard->setReadTimeouts({});
    startMonitor();
    owner({"--delay-ms", "1500", "UTF8_STRING", "rendered on request"});
    ASSERT_TRUE(waitUntil([&] { return filed == 1; }, 15s));
    EXPECT_EQ(newestClip()->plainText, QStringLiteral("rendered on request"));

    pasteboard->setReadTimeouts({.answer = 300ms, .idle = 300ms, .total = 30s});
    outcomes.clear();
    owner({"--delay-ms", "400", "UTF8_STRING", "second try"});
    ASSERT_TRUE(waitUntil([&] { return filed == 2; }, 15s));
    EXPECT_EQ(outcomes.first(), CaptureOutcome::empty);
    EXPECT_EQ(newestClip()->plainText, QStringLiteral("second try"));
}

// Quitting in the middle of a slow transfer does not wait for it to end.
TEST_F(CaptureX11Test, QuittingInterruptsASlowTransfer) {
    pasteboard->setReadTimeouts({.answer = 5s, .idle = 5s, .total = 60s});
    startMonitor();
    // 100 chunks, 200 ms apart: about 20 s in all.
    QProcess* trickling =
        owner({"--trickle-ms", "200", "UTF8_STRING", QString(100 * 1024, QLatin1Char('x'))});
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
    QProcess* stopped = xclip("UTF8_STRING", "never delivered");
    ASSERT_EQ(::kill(pid_t(stopped->processId()), SIGSTOP), 0);

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

    xclip("UTF8_STRING", "after the stall");
    ASSERT_TRUE(waitUntil([&] { return filed == 1; }));
    EXPECT_EQ(newestClip()->plainText, QStringLiteral("after the stall"));
}

// A field of /proc/self/status in bytes: VmRSS (resident now) or VmHWM (the peak since the last
// reset through clear_refs).
qint64 statusBytes(const char* field) {
    for (const QByteArray& line : test::fileContents(QStringLiteral("/proc/self/status")).split('\n')) {
        if (line.startsWith(field)) {
            return line.mid(int(std::strlen(field))).trimmed().split(' ').first().toLongLong() * 1024;
        }
    }
    return -1;
}

// A program offering 2 GB of text (made up as it is sent) is read no further than the store
// keeps, whether INCR announces the size or not: the copy is not recorded, the reader's peak
// memory stays far below the offer, and the owner is left before it has sent it all.
TEST_F(CaptureX11Test, HugeTextIsRefusedWithoutBeingRead) {
    startMonitor();
    for (const char* hint : {"2000000000", "0"}) {
        SCOPED_TRACE(hint);
        outcomes.clear();
        QFile clearRefs(QStringLiteral("/proc/self/clear_refs"));
        ASSERT_TRUE(clearRefs.open(QIODevice::WriteOnly) && clearRefs.write("5") == 1);
        clearRefs.close();
        const qint64 idle = statusBytes("VmRSS:");
        QProcess* huge = owner({"--generate-bytes", "2000000000", "--incr-hint", hint, "UTF8_STRING", "-"});
        // A read that got nothing in time (the owner slowed down by a busy machine) is tried again,
        // as every empty read is; the copy must end refused and never recorded.
        ASSERT_TRUE(
            waitUntil([&] { return !outcomes.isEmpty() && outcomes.back() != CaptureOutcome::empty; }, 60s));
        EXPECT_EQ(outcomes.back(), CaptureOutcome::skipped);
        EXPECT_FALSE(outcomes.contains(CaptureOutcome::captured));
        EXPECT_TRUE(items().isEmpty());
        EXPECT_LT(pasteboard->cachedByteCount(), 1024);
        const qint64 growth = statusBytes("VmHWM:") - idle;
#ifndef __SANITIZE_ADDRESS__
        // AddressSanitizer keeps freed blocks in quarantine, so under it the figure says nothing.
        EXPECT_LT(growth, 100 * 1024 * 1024) << "peak growth " << growth << " bytes";
#endif
        std::printf("INCR hint %s: peak resident growth %lld bytes\n", hint, static_cast<long long>(growth));

        ASSERT_TRUE(waitForLine(huge, "served ", 15s));
        const QByteArray& seen = output[huge];
        const qint64 served = seen.mid(seen.indexOf("served ") + 7).split('\n').first().toLongLong();
        EXPECT_LE(served, CaptureLimits::defaultTextLimit + X11SelectionReader::discardAllowance + 65536);
        huge->kill();
        huge->waitForFinished(5000);
    }
}

} // namespace
} // namespace snipjar
