#include "CliRunner.h"

#include <QImage>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace snipjar;
using namespace snipjar::test;

namespace {

xcb_window_t ownerOf(const QByteArray& selection) {
    std::unique_ptr<XcbConnection> connection = XcbConnection::open();
    xcb_connection_t* c = connection->get();
    XcbReply<xcb_get_selection_owner_reply_t> reply(
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, connection->atom(selection)), nullptr));
    return reply ? reply->owner : xcb_window_t(XCB_WINDOW_NONE);
}

class ClipboardKeeping : public RunningSnipjar {
protected:
    // xclip copies the text, and goes once the copy is filed.
    void copyWithXclipAndKillIt(const QByteArray& text) {
        const qsizetype before = listed().size();
        QProcess* xclip = owners.xclip(text);
        EXPECT_TRUE(waitUntil([&] { return listed().size() == before + 1; }, 10000)) << text.constData();
        xclip->kill();
        xclip->waitForFinished();
    }

    // A Qt program copies, is filed, and quits; returns what it said of the clipboard at its exit.
    QByteArray copyInQtAndQuit(const QStringList& arguments) {
        const qsizetype before = listed().size();
        QProcess program;
        program.start(QStringLiteral(SNIPJAR_QT_COPY_HELPER), arguments);
        EXPECT_TRUE(program.waitForReadyRead(10000));
        EXPECT_TRUE(waitUntil([&] { return listed().size() == before + 1; }, 10000));
        program.write("quit\n");
        program.waitForFinished(15000);
        return program.readAllStandardOutput();
    }

    SelectionOwners owners;
};

} // namespace

// A copy outlives the program it came from: xclip killed, a Qt program quitting (which hands its
// text or image over before it exits), each leaves its copy on the clipboard. A password
// manager's copy is not kept: after its owner goes, the clipboard is empty.
TEST_F(ClipboardKeeping, TheClipboardOutlivesTheProgramThatCopiedButNotASecret) {
    startSnipjar();
    EXPECT_NE(ownerOf("CLIPBOARD_MANAGER"), xcb_window_t(XCB_WINDOW_NONE));

    copyWithXclipAndKillIt("copied with xclip");
    EXPECT_TRUE(waitUntil([] { return xclipOutput() == "copied with xclip"; }, 5000));

    EXPECT_EQ(copyInQtAndQuit({"--text", "copied in a Qt program"}), QByteArray("ready\nowner kept\n"));
    EXPECT_EQ(xclipOutput(), "copied in a Qt program");

    QTemporaryDir folder;
    QImage picture(120, 80, QImage::Format_RGB32);
    picture.fill(QColor(30, 120, 200));
    const QString path = folder.filePath(QStringLiteral("picture.png"));
    ASSERT_TRUE(picture.save(path));
    EXPECT_EQ(copyInQtAndQuit({"--image", path}), QByteArray("ready\nowner kept\n"));
    // The image comes back in the format it was stored in, whichever Qt's offer led to.
    QString imageTarget;
    for (const QByteArray& target : xclipOutput(QStringLiteral("TARGETS")).split('\n')) {
        if (target.startsWith("image/") && imageTarget.isEmpty()) {
            imageTarget = QString::fromLatin1(target);
        }
    }
    ASSERT_FALSE(imageTarget.isEmpty());
    EXPECT_EQ(QImage::fromData(xclipOutput(imageTarget)).size(), QSize(120, 80));
    // The secret is skipped, and its owner's exit leaves the clipboard empty.
    QProcess* secret = owners.helper({"UTF8_STRING", "hunter2", "x-kde-passwordManagerHint", "secret"});
    spinEventLoop(1000);
    secret->kill();
    secret->waitForFinished();
    spinEventLoop(1500);
    EXPECT_TRUE(xclipOutput().isEmpty());
    EXPECT_EQ(listed().size(), 3);
}

// Switched off, the clipboard empties with its owner and the clipboard-manager role stays free.
TEST_F(ClipboardKeeping, SwitchedOffTheClipboardGoesWithItsOwner) {
    UserSettings::setValue(UserSettings::keepClipboardKey, false);
    startSnipjar();
    EXPECT_EQ(ownerOf("CLIPBOARD_MANAGER"), xcb_window_t(XCB_WINDOW_NONE));
    copyWithXclipAndKillIt("not kept");
    spinEventLoop(1500);
    EXPECT_TRUE(xclipOutput().isEmpty());
}

// Another clipboard manager that runs first keeps its role; Snipjar still keeps the clipboard when
// an owner goes, and when it quits owning the clipboard it hands what it holds to that manager.
TEST_F(ClipboardKeeping, AnotherClipboardManagerIsLeftAloneAndGetsTheClipboardAtQuit) {
    QProcess manager;
    manager.start(QStringLiteral(SNIPJAR_MANAGER_HELPER), QStringList{});
    ASSERT_TRUE(manager.waitForReadyRead(5000));
    manager.readAllStandardOutput();
    const xcb_window_t other = ownerOf("CLIPBOARD_MANAGER");
    ASSERT_NE(other, xcb_window_t(XCB_WINDOW_NONE));

    startSnipjar();
    EXPECT_TRUE(waitUntil([&] { return readLog().contains("Another clipboard manager is running"); }));
    EXPECT_EQ(ownerOf("CLIPBOARD_MANAGER"), other);

    copyWithXclipAndKillIt("handed over at quit");
    ASSERT_TRUE(waitUntil([] { return xclipOutput() == "handed over at quit"; }, 5000));

    app.terminate();
    EXPECT_TRUE(app.waitForFinished(10000));
    EXPECT_TRUE(
        waitUntil([&] { return manager.readAllStandardOutput().contains("saved handed over at quit"); }));
    manager.kill();
    manager.waitForFinished();
}
