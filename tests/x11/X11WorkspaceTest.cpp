#include "X11TestClients.h"

#include "platform/x11/DesktopEntryIndexCache.h"
#include "platform/x11/X11Workspace.h"

#include <QDir>
#include <QFile>
#include <QSemaphore>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>

using namespace snipjar;
using namespace snipjar::test;

namespace {

void writeDesktopEntry(const QString& dataFolder, const QString& fileName, const QByteArray& contents) {
    QDir().mkpath(dataFolder + "/applications");
    QFile file(dataFolder + "/applications/" + fileName);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[Desktop Entry]\nType=Application\n" + contents);
}

} // namespace

// The frontmost application is named after its desktop entry when one matches its class (by
// StartupWMClass or by the entry's file name), else after the class itself. This process's own
// windows never count as frontmost.
TEST(X11Workspace, NamesTheFrontmostApplicationButNeverItself) {
    const QString data = qEnvironmentVariable("XDG_DATA_HOME");
    writeDesktopEntry(data, "snipjar-probe.desktop", "Name=Probe Terminal\nStartupWMClass=snipjarprobe\n");
    writeDesktopEntry(data, "Filematch.desktop", "Name=File Match\nExec=true\n");
    std::unique_ptr<XcbConnection> connection = XcbConnection::open();
    std::unique_ptr<XcbConnection> client = XcbConnection::open();
    ASSERT_TRUE(connection && client);
    X11Workspace workspace(*connection);
    // The desktop entries arrive from the background, so the name is waited for.
    auto frontmostNamed = [&](const QString& bundleID) {
        RunningApplication front;
        waitUntil([&] {
            front = workspace.frontmostApplication().value_or(RunningApplication{});
            return front.bundleID == bundleID;
        });
        return front;
    };

    Xterm xterm({"-e", "sleep", "600"});
    const RunningApplication front = frontmostNamed("debian-xterm");
    EXPECT_EQ(front.windowClass, "XTerm");
    EXPECT_EQ(front.name, "XTerm");
    EXPECT_EQ(workspace.application(xterm.processId()), front);
    const struct {
        const char *windowClass, *bundleID, *name;
    } cases[] = {{"SnipjarProbe", "snipjar-probe", "Probe Terminal"},
                 {"FILEMATCH", "Filematch", "File Match"},
                 {"Unlisted", "Unlisted", "Unlisted"}};
    for (const auto& [windowClass, bundleID, name] : cases) {
        TestWindow window(*client, 999'999, windowClass);
        const RunningApplication named = frontmostNamed(bundleID);
        EXPECT_EQ(named.windowID, window.window);
        EXPECT_EQ(named.name, name);
    }

    TestWindow own(*client, quint32(QCoreApplication::applicationPid()), "Snipjar");
    RunningApplication ownApplication;
    ownApplication.windowID = own.window;
    ASSERT_TRUE(waitUntil([&] {
        workspace.activate(ownApplication);
        return workspace.isActive(ownApplication);
    }));
    EXPECT_EQ(workspace.frontmostApplication(), std::nullopt);
}

// Looking up a class never waits for the entries to be read: that happens on a pool thread. A miss
// is answered at once and, once the index is old enough, starts a read in the background that
// finds an entry installed since; a younger index is not read again for a miss.
TEST(DesktopEntryIndexCache, MissesAreAnsweredAtOnceAndReadAgainInTheBackground) {
    QTemporaryDir data;
    writeDesktopEntry(data.path(), "known.desktop", "Name=Known\n");
    QSemaphore mayFinish;
    std::atomic<int> scans = 0;
    std::atomic<bool> scannedOnMainThread = false;
    const auto scanner = [&] {
        scannedOnMainThread = scannedOnMainThread || QThread::currentThread() == qApp->thread();
        mayFinish.tryAcquire(1, 10'000);
        ++scans;
        return DesktopEntryIndex::scan({data.path()});
    };
    DesktopEntryIndexCache cache(scanner, 0);
    EXPECT_EQ(cache.entryForWindowClass("known"), std::nullopt);
    mayFinish.release();
    EXPECT_TRUE(waitUntil([&] { return cache.entryForWindowClass("known").has_value(); }));

    writeDesktopEntry(data.path(), "later.desktop", "Name=Later\n");
    EXPECT_EQ(cache.entryForWindowClass("later"), std::nullopt);
    mayFinish.release();
    EXPECT_TRUE(waitUntil([&] { return cache.entryForWindowClass("later").has_value(); }));
    EXPECT_EQ(scans, 2);
    EXPECT_FALSE(scannedOnMainThread);

    mayFinish.release(10);
    DesktopEntryIndexCache young(scanner);
    ASSERT_TRUE(waitUntil([&] { return young.entryForWindowClass("known").has_value(); }));
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(young.entryForWindowClass("unlisted"), std::nullopt);
    }
    spinEventLoop(100);
    EXPECT_EQ(scans, 3);
}
