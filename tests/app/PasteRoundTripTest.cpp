#include "TestEnvironment.h"
#include "X11TestClients.h"

#include "capture/ClipboardMonitor.h"
#include "model/ClipStore.h"
#include "paste/Paster.h"
#include "platform/x11/X11Platform.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace snipjar;
using namespace snipjar::test;

namespace {

const QStringList pasteBinding = {
    "-xrm", "XTerm*VT100.translations: #override \\n !Shift Ctrl <Key>v: insert-selection(CLIPBOARD)"};

QByteArray fileContents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList titles(ClipStore& store) {
    QStringList result;
    for (const ClipItem& item : ClipStore::allItems(store.syncContext())) {
        result << item.title;
    }
    return result;
}

} // namespace

// The whole road with the real clipboard: a copy by another program is captured; a clip pasted by
// Snipjar reaches a real terminal and is not captured a second time.
TEST(PasteRoundTrip, PastedClipReachesTerminalAndIsNotCapturedAgain) {
    TestEnvironment environment;
    std::unique_ptr<X11Platform> platform = X11Platform::create();
    ASSERT_TRUE(platform);
    ClipStore store;
    ClipboardMonitor monitor(store, *platform->pasteboard, *platform->workspace);
    monitor.start();

    QTemporaryDir folder;
    const QString output = folder.filePath(QStringLiteral("pasted.txt"));
    Xterm target(pasteBinding + QStringList{"-e", "bash", "-c",
                                            "IFS= read -r line; printf '%s' \"$line\" > \"$0\"", output});
    std::optional<RunningApplication> targetApplication;
    ASSERT_TRUE(waitUntil(
        [&] {
            targetApplication = platform->workspace->frontmostApplication();
            return targetApplication && targetApplication->processID == target.processId();
        },
        10000));

    // A copy by another program is captured.
    QFile copied(folder.filePath(QStringLiteral("copied.txt")));
    ASSERT_TRUE(copied.open(QIODevice::WriteOnly));
    copied.write("copied elsewhere");
    copied.close();
    QProcess xclip;
    xclip.start(QStringLiteral("xclip"), {"-quiet", "-selection", "clipboard", "-i", copied.fileName()});
    ASSERT_TRUE(waitUntil([&] { return titles(store).contains(QStringLiteral("copied elsewhere")); }, 10000));

    Paster paster(*platform->pasteboard, *platform->workspace, *platform->keySynthesizer,
                  *platform->desktopNotifier);
    Clip clip;
    clip.kind = Clip::Kind::text;
    clip.plainText = QStringLiteral("pasted from the history\n");
    paster.paste(clip, std::nullopt, targetApplication);

    ASSERT_TRUE(waitUntil([&] { return !fileContents(output).isEmpty(); }, 10000));
    EXPECT_EQ(fileContents(output), QByteArray("pasted from the history"));
    // Several polls and the terminal's own reads of the clipboard later, nothing new was filed.
    spinEventLoop(1500);
    EXPECT_EQ(titles(store), QStringList{QStringLiteral("copied elsewhere")});

    xclip.kill();
    xclip.waitForFinished();
}
