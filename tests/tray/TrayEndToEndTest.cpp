#include "../cli/CliRunner.h"

#include "app/tray/TrayIconEngine.h"
#include "panel/widgets/PanelSymbols.h"
#include "platform/x11/X11Platform.h"

#include <QDir>
#include <QIcon>
#include <QImage>
#include <QPoint>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace snipjar;
using namespace snipjar::test;

namespace {

using namespace Qt::StringLiterals;

// The middle of Snipjar's icon inside the tray host, in root coordinates, once it is docked and
// shown: a small visible window of class snipjar whose parent is not the root.
std::optional<QPoint> embeddedIcon() {
    QProcess search;
    search.start(u"xdotool"_s, {"search", "--onlyvisible", "--class", "^snipjar$"});
    search.waitForFinished(5000);
    const QRegularExpression position(u"Position: (-?\\d+),(-?\\d+)"_s);
    const QRegularExpression size(u"Geometry: (\\d+)x(\\d+)"_s);
    for (const QByteArray& window : search.readAllStandardOutput().split('\n')) {
        if (window.trimmed().isEmpty()) {
            continue;
        }
        QProcess geometry;
        geometry.start(u"xdotool"_s, {"getwindowgeometry", QString::fromLatin1(window.trimmed())});
        geometry.waitForFinished(5000);
        const QString text = QString::fromUtf8(geometry.readAllStandardOutput());
        const QRegularExpressionMatch at = position.match(text);
        const QRegularExpressionMatch extent = size.match(text);
        if (at.hasMatch() && extent.hasMatch() && extent.captured(1).toInt() < 64 &&
            extent.captured(1).toInt() > 4) {
            return QPoint(at.captured(1).toInt() + extent.captured(1).toInt() / 2,
                          at.captured(2).toInt() + extent.captured(2).toInt() / 2);
        }
    }
    return std::nullopt;
}

} // namespace

// The tray icon is drawn from the paperclip's outline without the SVG engine; at every size a tray
// asks for it covers the same pixels as the bundled symbol, give or take the edges' antialiasing.
TEST(TrayIcon, TheDrawnPaperclipIsTheBundledSymbol) {
    const QIcon drawn(new TrayIconEngine(Qt::black));
    for (const int side : {16, 22, 48, 96}) {
        const QImage ours = drawn.pixmap(side, side).toImage().convertToFormat(QImage::Format_ARGB32);
        const QImage bundled = panelSymbolPixmap(u"paperclip"_s, side, Qt::black)
                                   .toImage()
                                   .convertToFormat(QImage::Format_ARGB32);
        ASSERT_EQ(ours.size(), bundled.size());
        qint64 difference = 0;
        qint64 coverage = 0;
        for (int y = 0; y < side; ++y) {
            for (int x = 0; x < side; ++x) {
                difference += std::abs(qAlpha(ours.pixel(x, y)) - qAlpha(bundled.pixel(x, y)));
                coverage += qAlpha(bundled.pixel(x, y));
            }
        }
        EXPECT_LT(difference, coverage / 20) << side << " px";
    }
}

// With a real tray host the icon is embedded; a click opens the menu, and the clip chosen from it
// is pasted into the terminal that was in front. The icon also appears when the tray host starts
// after Snipjar.
using TrayEndToEnd = RunningSnipjar;
TEST_F(TrayEndToEnd, TheMenuPastesIntoTheWindowInFront) {
    std::unique_ptr<X11Platform> platform = X11Platform::create();
    ASSERT_TRUE(platform);
    QProcessEnvironment withLog = QProcessEnvironment::systemEnvironment();
    withLog.insert(u"QT_LOGGING_RULES"_s, u"app.snipjar.Snipjar.app.debug=true"_s);
    app.setProcessEnvironment(withLog);
    startSnipjar();
    // The tray host comes later, as on a desktop whose panel starts after the applications.
    QThread::msleep(1500);
    QProcess tray;
    tray.start(u"trayer"_s, {"--edge", "top", "--align", "right", "--widthtype", "pixel", "--width", "120",
                             "--heighttype", "pixel", "--height", "24"});
    ASSERT_TRUE(tray.waitForStarted());
    std::optional<QPoint> icon;
    ASSERT_TRUE(waitUntil([&] { return (icon = embeddedIcon()).has_value(); }, 15000))
        << "the icon was not embedded";

    for (const char* text : {"first from the tray", "second from the tray"}) {
        const qsizetype before = listed().size();
        SelectionOwners owner;
        owner.xclip(text);
        ASSERT_TRUE(waitUntil([&] { return listed().size() == before + 1; }, 15000));
    }

    QTemporaryDir folder;
    const QString output = folder.filePath(u"typed.txt"_s);
    Xterm terminal(typingTerminal(output));
    ASSERT_TRUE(waitUntil(
        [&] {
            const auto front = platform->workspace->frontmostApplication();
            return front && front->processID == terminal.processId();
        },
        10000));
    // The docked icon, once the tray host has had a moment to settle it, for a person to look at.
    const QString shots = QStringLiteral(SNIPJAR_BINARY_DIR "/screenshots");
    QDir().mkpath(shots);
    spinEventLoop(1000);
    QProcess::execute(u"import"_s, {"-window", "root", shots + u"/tray-icon.png"_s});
    // The pointer rests on the icon before the click; a click that opened no menu is repeated (a tray
    // host that has just docked an icon may not pass clicks on yet).
    const auto menuOpened = [&] { return readLog().contains("Tray menu opened"); };
    for (int attempt = 0; attempt < 4 && !menuOpened(); ++attempt) {
        ASSERT_TRUE(xdotool({"mousemove", QString::number(icon->x()), QString::number(icon->y())}));
        spinEventLoop(300);
        ASSERT_TRUE(xdotool({"click", "1"}));
        waitUntil(menuOpened, 2000);
    }
    ASSERT_TRUE(menuOpened()) << "the menu did not open";
    spinEventLoop(300);
    QProcess::execute(u"import"_s, {"-window", "root", shots + u"/tray-menu.png"_s});
    // Search…, then the newest clip, then the one before it.
    ASSERT_TRUE(xdotool({"key", "--delay", "80", "Down", "Down", "Down", "Return"}));
    EXPECT_TRUE(waitUntil([&] { return fileContents(output) == "first from the tray"; }, 10000))
        << fileContents(output).constData();

    tray.kill();
    tray.waitForFinished();
}
