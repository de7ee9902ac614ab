#include "TestEnvironment.h"
#include "X11TestClients.h"

#include "capture/ClipboardMonitor.h"
#include "paste/Paster.h"
#include "platform/x11/X11Platform.h"
#include "store/ClipStore.h"

#include <QFile>
#include <QTemporaryDir>
#include <QWindow>
#include <gtest/gtest.h>

using namespace snipjar;
using namespace snipjar::test;

// The road of one paste with real parts. The panel (a popup of this process) holds the keyboard and
// lets go of it on Qt's own connection right before the paste, while the hot key's Ctrl and Alt
// are still down. The clip reaches the xterm behind it through the primary selection and
// Shift+Insert, and neither the clipboard change of the paste nor the primary selection's is
// captured as a new clip.
TEST(PasteRoundTrip, ClipFromThePanelReachesTheTerminalAndIsNotCapturedAgain) {
    TestEnvironment environment;
    std::unique_ptr<X11Platform> platform = X11Platform::create();
    ASSERT_TRUE(platform);
    ClipStore store;
    ClipboardMonitor monitor(store, *platform->pasteboard, *platform->workspace);
    monitor.start();

    QTemporaryDir folder;
    const QString output = folder.filePath(QStringLiteral("pasted.txt"));
    Xterm target(xtermPasteBinding + QStringList{"-e", "bash", "-c",
                                                 "IFS= read -r line; printf '%s' \"$line\" > \"$0\"",
                                                 output});
    std::optional<RunningApplication> targetApplication;
    ASSERT_TRUE(waitUntil(
        [&] {
            targetApplication = platform->workspace->frontmostApplication();
            return targetApplication && targetApplication->processID == target.processId();
        },
        10000));
    const qsizetype clipsBefore = ClipStore::allItems(store.syncContext()).size();

    QWindow panel;
    panel.setFlags(Qt::Popup | Qt::FramelessWindowHint);
    panel.setGeometry(100, 100, 300, 200);
    panel.show();
    ASSERT_TRUE(waitUntil([&] { return panel.isExposed(); }));
    ASSERT_TRUE(panel.setKeyboardGrabEnabled(true));
    ASSERT_TRUE(xdotool({"keydown", "ctrl", "alt"}));

    panel.setKeyboardGrabEnabled(false);
    Paster paster(*platform->pasteboard, *platform->workspace, *platform->keySynthesizer,
                  *platform->desktopNotifier, platform->primarySelection.get());
    Clip clip;
    clip.kind = Clip::Kind::text;
    clip.plainText = QStringLiteral("pasted from the history – ünïcode\n");
    paster.paste(clip, std::nullopt, targetApplication);
    panel.hide();

    EXPECT_TRUE(waitUntil([&] { return !fileContents(output).isEmpty(); }, 10000));
    EXPECT_EQ(QString::fromUtf8(fileContents(output)), QStringLiteral("pasted from the history – ünïcode"));
    // Several polls and the terminal's own reads of the clipboard later, nothing new was filed.
    spinEventLoop(1500);
    EXPECT_EQ(ClipStore::allItems(store.syncContext()).size(), clipsBefore);
    xdotool({"keyup", "ctrl", "alt"});
}
