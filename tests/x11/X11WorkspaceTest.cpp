#include "X11TestClients.h"

#include "platform/x11/X11Workspace.h"
#include "platform/x11/XcbConnection.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <cstring>

using namespace snipjar;
using namespace snipjar::test;

namespace {

const QStringList keepRunning = {"-e", "sleep", "600"};

class X11WorkspaceTest : public ::testing::Test {
protected:
    void SetUp() override {
        connection = XcbConnection::open();
        if (!connection) {
            GTEST_SKIP() << "no X display";
        }
    }

    // The workspace is made after the test's desktop entries are written, since it reads them once.
    X11Workspace& workspace() {
        if (!workspace_) {
            workspace_ = std::make_unique<X11Workspace>(*connection);
        }
        return *workspace_;
    }

    // Waits until the process's window is active and fully set up: X window ids are reused, so
    // for a moment a new window may carry the id that the root still names as active while the
    // window's class is not yet set.
    bool waitForFrontmost(qint64 processID) {
        return waitUntil([&] {
            auto front = workspace().frontmostApplication();
            return front && front->processID == processID && !front->windowClass.isEmpty();
        });
    }

    static void writeDesktopEntry(const QString& fileName, const QByteArray& contents) {
        const QString folder = qEnvironmentVariable("XDG_DATA_HOME") + "/applications";
        QDir().mkpath(folder);
        QFile file(folder + "/" + fileName);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(contents);
    }

    std::unique_ptr<XcbConnection> connection;
    std::unique_ptr<X11Workspace> workspace_;
};

} // namespace

// The frontmost application is named after its desktop entry when one matches its class (by
// StartupWMClass or by the entry's file name), else after the class itself.
TEST_F(X11WorkspaceTest, NamesTheFrontmostApplication) {
    writeDesktopEntry(
        "snipjar-probe.desktop",
        "[Desktop Entry]\nType=Application\nName=Probe Terminal\nStartupWMClass=snipjarprobe\n");
    writeDesktopEntry("Filematch.desktop", "[Desktop Entry]\nType=Application\nName=File Match\nExec=true\n");

    const struct {
        QStringList classArguments;
        QString windowClass;
        QString bundleID;
        QString name;
    } cases[] = {
        {{}, "XTerm", "debian-xterm", "XTerm"},
        {{"-class", "SnipjarProbe"}, "SnipjarProbe", "snipjar-probe", "Probe Terminal"},
        {{"-class", "FILEMATCH"}, "FILEMATCH", "Filematch", "File Match"},
        {{"-class", "Unlisted"}, "Unlisted", "Unlisted", "Unlisted"},
    };
    for (const auto& testCase : cases) {
        Xterm xterm(testCase.classArguments + keepRunning);
        ASSERT_TRUE(waitForFrontmost(xterm.processId())) << testCase.windowClass.toStdString();
        const RunningApplication front = *workspace().frontmostApplication();
        EXPECT_EQ(front.windowClass, testCase.windowClass);
        EXPECT_EQ(front.bundleID, testCase.bundleID);
        EXPECT_EQ(front.name, testCase.name);
        EXPECT_NE(front.windowID, 0u);
        EXPECT_EQ(workspace().application(xterm.processId()), front);
        EXPECT_TRUE(workspace().isActive(front));
    }
}

// Activation brings a background application's window to the front.
TEST_F(X11WorkspaceTest, ActivatesTheRememberedWindow) {
    Xterm first(keepRunning);
    ASSERT_TRUE(waitForFrontmost(first.processId()));
    const RunningApplication target = *workspace().frontmostApplication();
    Xterm second(keepRunning);
    ASSERT_TRUE(waitForFrontmost(second.processId()));
    EXPECT_FALSE(workspace().isActive(target));

    workspace().activate(target);
    EXPECT_TRUE(waitUntil([&] { return workspace().isActive(target); }));
    EXPECT_EQ(workspace().frontmostApplication(), target);
}

// The application's own windows never count as frontmost.
TEST_F(X11WorkspaceTest, OwnWindowsAreNotFrontmost) {
    Xterm other(keepRunning);
    ASSERT_TRUE(waitForFrontmost(other.processId()));
    const RunningApplication otherApplication = *workspace().frontmostApplication();

    // A window of this process, made active.
    xcb_connection_t* c = connection->get();
    const xcb_window_t window = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, connection->root(), 0, 0, 200, 100, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, connection->screen()->root_visual, 0, nullptr);
    const char wmClass[] = "snipjar\0Snipjar";
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                        sizeof(wmClass), wmClass);
    const quint32 pid = quint32(QCoreApplication::applicationPid());
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, connection->atom("_NET_WM_PID"), XCB_ATOM_CARDINAL,
                        32, 1, &pid);
    xcb_map_window(c, window);
    connection->flush();
    RunningApplication own;
    own.processID = pid;
    own.windowID = window;
    ASSERT_TRUE(waitUntil([&] {
        workspace().activate(own);
        return workspace().isActive(own);
    }));
    EXPECT_EQ(workspace().frontmostApplication(), std::nullopt);

    xcb_destroy_window(c, window);
    connection->flush();
    EXPECT_TRUE(waitUntil([&] { return workspace().frontmostApplication() == otherApplication; }));
}
