#include "EventLoopWait.h"
#include "TestEnvironment.h"

#include "app/settings/DesktopShortcut.h"
#include "app/settings/KdeShortcutWriter.h"
#include "platform/TypeIdentifier.h"
#include "platform/UserSettings.h"
#include "platform/wayland/WaylandPasteboard.h"
#include "platform/wayland/WaylandSeatControl.h"
#include "platform/wayland/WaylandWorkspace.h"

#include <QBuffer>
#include <QDBusInterface>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QRandomGenerator>
#include <QSet>
#include <gtest/gtest.h>

#include <csignal>
#include <thread>

using namespace snipjar;
using namespace snipjar::test;
using namespace std::chrono_literals;

namespace {

QString id(const char* identifier) {
    return QString::fromLatin1(identifier);
}

QByteArray run(const QString& program, const QStringList& arguments, const QByteArray& input = {}) {
    QProcess process;
    process.start(program, arguments);
    process.waitForStarted();
    process.write(input);
    process.closeWriteChannel();
    process.waitForFinished(30000);
    return process.readAllStandardOutput();
}

// A PNG of noise, so that it does not compress below the size asked for.
QByteArray noisePNG(int side) {
    QImage image(side, side, QImage::Format_RGB32);
    QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(image.bits()), side * side);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// Whether the output's middle, where the panel shows, holds the panel's many colours rather than
// a terminal's few; the screenshot taken is kept at path.
bool panelOnScreen(const QString& path) {
    if (QProcess::execute(QStringLiteral("grim"), {path}) != 0) {
        return false;
    }
    const QImage shot(path);
    QSet<QRgb> colours;
    for (int y = shot.height() / 2 - 250; y < shot.height() / 2 + 250 && !shot.isNull(); y += 3) {
        for (int x = shot.width() / 2 - 380; x < shot.width() / 2 + 380; x += 3) {
            colours.insert(shot.pixel(x, y));
        }
    }
    return colours.size() > 20;
}

// A helper process owning the clipboard with several types, running until it is replaced.
struct Owner {
    explicit Owner(const QStringList& offers) {
        process.start(QStringLiteral(SNIPJAR_WAYLAND_CLIENT), QStringList{"own"} + offers);
    }
    ~Owner() {
        process.kill();
        process.waitForFinished();
    }
    bool said(const QByteArray& line) {
        return waitUntil([&] { return (output += process.readAllStandardOutput()).contains(line); });
    }
    QProcess process;
    QByteArray output;
};

class WaylandPasteboardTest : public ::testing::Test {
protected:
    void SetUp() override {
        pasteboard = WaylandPasteboard::create();
        ASSERT_TRUE(pasteboard) << "no data-control manager on "
                                << qPrintable(qEnvironmentVariable("WAYLAND_DISPLAY"));
    }
    bool changedFrom(qint64 count) {
        return waitUntil([&] { return pasteboard->changeCount() != count; });
    }
    std::unique_ptr<WaylandPasteboard> pasteboard;
};

// Each copy is seen with its type and its bytes, the concealing markers included.
TEST_F(WaylandPasteboardTest, CopiesAreSeenWithTheirTypes) {
    const QByteArray png = noisePNG(400);
    const QByteArray uris = "file:///tmp/a%20b\r\nfile:///etc/hosts\r\n";
    const QString concealed = id(TypeIdentifier::concealedMarker);
    const QString utf8 = QStringLiteral("text/plain;charset=utf-8:");
    const QString hint = QStringLiteral("x-kde-passwordManagerHint:");
    // wl-copy's arguments and input, or else the helper's offers; a concealed copy is seen by its
    // marker alone.
    struct Row {
        const char* name;
        QStringList wlCopy;
        QStringList offers;
        QByteArray input;
        QString type;
        QByteArray bytes;
    };
    const QList<Row> rows = {
        {"png larger than a pipe", {"--type", "image/png"}, {}, png, id(TypeIdentifier::png), png},
        {"file list", {"--type", "text/uri-list"}, {}, uris, id(TypeIdentifier::fileURL), uris},
        {"password manager", {}, {utf8 + "hunter2", hint + "secret"}, {}, concealed, "secret"},
        {"sensitive state", {}, {utf8 + "hunter2", "CLIPBOARD_STATE:sensitive"}, {}, concealed, "sensitive"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const qint64 before = pasteboard->changeCount();
        std::unique_ptr<Owner> owner;
        if (row.offers.isEmpty()) {
            run(QStringLiteral("wl-copy"), row.wlCopy, row.input);
        } else {
            owner = std::make_unique<Owner>(row.offers);
            ASSERT_TRUE(owner->said("ready"));
        }
        ASSERT_TRUE(changedFrom(before));
        ASSERT_TRUE(waitUntil([&] { return pasteboard->data(row.type) == row.bytes; }));
        pasteboard->beginCapture();
        const QStringList types = pasteboard->types();
        EXPECT_TRUE(types.contains(row.type)) << types.join(QLatin1Char(' ')).toStdString();
        EXPECT_EQ(types.contains(concealed), row.type == concealed);
        EXPECT_EQ(pasteboard->data(row.type), row.bytes);
        EXPECT_TRUE(pasteboard->endCapture());
    }
}

// A write is on the clipboard for other programs, counted once when write() returns and not again
// when the compositor announces it; a large value reaches a reader whole.
TEST_F(WaylandPasteboardTest, WritesAreServedAndCountedOnce) {
    const QByteArray png = noisePNG(1500);
    const qint64 before = pasteboard->changeCount();
    pasteboard->write({{{id(TypeIdentifier::plainText), "written ü"}, {id(TypeIdentifier::png), png}}});
    EXPECT_EQ(pasteboard->changeCount(), before + 1);
    EXPECT_EQ(run(QStringLiteral("wl-paste"), {"--no-newline"}), "written ü");
    EXPECT_EQ(run(QStringLiteral("wl-paste"), {"--type", "image/png"}), png);
    ASSERT_TRUE(waitUntil([&] { return pasteboard->types().contains(id(TypeIdentifier::png)); }));
    EXPECT_EQ(pasteboard->changeCount(), before + 1);
    EXPECT_FALSE(pasteboard->types().join(QLatin1Char(' ')).contains(QLatin1String("snipjar")));

    // The primary selection, both ways.
    const std::unique_ptr<WaylandPasteboard> primary =
        WaylandPasteboard::create(WaylandDataControl::Selection::primary);
    ASSERT_TRUE(primary);
    primary->write({{{id(TypeIdentifier::plainText), "selected"}}});
    EXPECT_EQ(run(QStringLiteral("wl-paste"), {"--primary", "--no-newline"}), "selected");
    const qint64 selected = primary->changeCount();
    run(QStringLiteral("wl-copy"), {"--primary", "selected elsewhere"});
    ASSERT_TRUE(waitUntil([&] { return primary->changeCount() != selected; }));
    EXPECT_EQ(primary->string(), QStringLiteral("selected elsewhere"));
    EXPECT_EQ(pasteboard->string(), QStringLiteral("written ü"));
}

// A read from an owner that stops in the middle ends at once when a new copy comes or reads are
// interrupted, not when its (here far longer than the test's own limit) timeout runs out.
TEST_F(WaylandPasteboardTest, SlowReadEndsWithNewOfferOrInterruption) {
    pasteboard->setReadTimeouts({.answer = 1h, .idle = 1h, .total = 1h});
    for (const bool byNewOffer : {true, false}) {
        SCOPED_TRACE(byNewOffer ? "new offer" : "interrupted");
        const qint64 before = pasteboard->changeCount();
        Owner owner({"text/plain;charset=utf-8:@stall", "application/x-snipjar-stall:1"});
        ASSERT_TRUE(owner.said("ready"));
        ASSERT_TRUE(changedFrom(before));
        // The change seen first may be the previous owner's selection going away, which a compositor
        // may announce after the next copy began.
        ASSERT_TRUE(waitUntil([&] { return pasteboard->types().contains("application/x-snipjar-stall"); }));
        PasteboardRead result{PasteboardRead::Status::ok, "unset"};
        bool isCurrent = true;
        std::thread reader([&] {
            pasteboard->beginCapture();
            result = pasteboard->read(id(TypeIdentifier::plainText));
            isCurrent = pasteboard->endCapture();
        });
        ASSERT_TRUE(owner.said("stalled"));
        if (byNewOffer) {
            run(QStringLiteral("wl-copy"), {"next"});
        } else {
            pasteboard->interruptReads();
        }
        reader.join();
        EXPECT_EQ(result.status, PasteboardRead::Status::absent);
        EXPECT_FALSE(isCurrent);
        pasteboard->resumeReads();
    }
}

// On KDE the hot key joins the desktop's own shortcuts: KWin's shortcut service takes the entry
// written as a component of its own, keeps the combination and runs the command on it; a
// combination KWin holds itself (Meta+W, its overview) is refused with the reason.
TEST(KdeShortcutTest, TheDesktopRunsTheCommandOnTheCombination) {
    if (qEnvironmentVariable("SNIPJAR_TEST_COMPOSITOR") != QLatin1String("kwin")) {
        GTEST_SKIP() << "KDE's shortcut service runs in KWin";
    }
    const QString launched = qEnvironmentVariable("XDG_RUNTIME_DIR") + "/launched by KDE";
    KdeShortcutWriter writer;
    const auto write = [&](const QString& keys) {
        std::optional<std::optional<QString>> result;
        writer.write(*HotKeyCombo::parseLinuxForm(keys), "touch " + DesktopShortcut::shellQuoted(launched),
                     [&](std::optional<QString> error) { result = error; });
        EXPECT_TRUE(waitUntil([&] { return result.has_value(); }, 20s));
        return result.value_or(QStringLiteral("no answer"));
    };
    EXPECT_EQ(write(QStringLiteral("Ctrl+Alt+V")), std::nullopt);
    QDBusInterface(QStringLiteral("org.kde.kglobalaccel"),
                   QStringLiteral("/component/app_snipjar_Snipjar_ShowPanel_desktop"),
                   QStringLiteral("org.kde.kglobalaccel.Component"))
        .call(QStringLiteral("invokeShortcut"), QStringLiteral("_launch"));
    EXPECT_TRUE(waitUntil([&] { return QFile::exists(launched); }, 20s));
    EXPECT_EQ(write(QStringLiteral("Super+W")), QStringLiteral("Super+W is taken by another KDE shortcut"));
}

// The whole application on Wayland: it says which backend runs and, with no tray and no key grabs,
// how to open the panel; a copy is recorded, when the program that copied quits the clipboard still
// holds it; a clip chosen in the panel (sway: a layer above the windows, which a click outside
// closes), or with `snipjar paste`, is pasted into the native window in front with its keystroke,
// whatever the compositor's layout: foot on sway, typed on a virtual keyboard, and on KWin (where
// foot cannot start) a Qt text field, typed with fake input that the application's desktop entry
// grants; `snipjar status` says so; and when the compositor dies the application ends, after filing
// the copy it was reading then.
TEST(WaylandApplicationTest, RecordsCopyPastesIntoTheFrontWindowAndEndsWithTheCompositor) {
    UserSettings::setValue(UserSettings::didOnboardKey, true);
    QProcess app;
    app.setProcessChannelMode(QProcess::SeparateChannels);
    app.start(QStringLiteral(SNIPJAR_EXECUTABLE), {});
    ASSERT_TRUE(waitUntil(
        [] { return QFile::exists(qEnvironmentVariable("XDG_RUNTIME_DIR") + "/Snipjar/instance.socket"); },
        30s));
    const auto listed = [](const QString& title) {
        for (const QJsonValue& row :
             QJsonDocument::fromJson(run(QStringLiteral(SNIPJAR_EXECUTABLE), {"list", "--json"})).array()) {
            if (row[QLatin1String("title")].toString() == title) {
                return row[QLatin1String("id")].toString();
            }
        }
        return QString();
    };
    const QJsonValue desktop =
        QJsonDocument::fromJson(run(QStringLiteral(SNIPJAR_EXECUTABLE), {"status", "--json"}))["desktop"];
    EXPECT_EQ(desktop["pasting"].toString(), "typed into the window in front");
    EXPECT_TRUE(desktop["hotKey"].toString().startsWith("run by the desktop"));
    QProcess copier;
    copier.start(QStringLiteral("wl-copy"), {"--foreground", "kept after its owner"});
    EXPECT_TRUE(waitUntil([&] { return !listed(QStringLiteral("kept after its owner")).isEmpty(); }, 20s));
    copier.kill();
    copier.waitForFinished();
    EXPECT_TRUE(waitUntil(
        [] { return run(QStringLiteral("wl-paste"), {"--no-newline"}) == "kept after its owner"; }, 20s));

    const bool onSway = qEnvironmentVariable("SNIPJAR_TEST_COMPOSITOR") == QLatin1String("sway");
    const std::shared_ptr<WaylandSeatControl> seat = WaylandSeatControl::open();
    ASSERT_TRUE(seat && seat->canType() && seat->knowsToplevels());
    WaylandWorkspace workspace(seat);
    // The layout is the compositor's for every keyboard, the virtual and fake ones included: sway's
    // is set over its socket, KWin's in its settings file, which it reads again when told.
    const QString setLayout = QString::fromUtf8(onSway ? R"sh(
        for s in "xkb_layout '$0'" "xkb_variant '$1'"; do
            swaymsg -s "$(dirname "$WAYLAND_DISPLAY")"/sway-ipc.* "input type:keyboard $s" |
                grep -q '"success": true' || exit 1
        done)sh"
                                                       : R"sh(
        printf '[Layout]\nUse=true\nLayoutList=%s\nVariantList=%s\n' "$0" "$1" >"$XDG_CONFIG_HOME/kxkbrc" &&
            dbus-send --session --type=signal /Layouts org.kde.keyboard.reloadConfig)sh");
    // Through the panel (typed into with wtype, whose keys need a US layout and sway's virtual
    // keyboard) and through `snipjar paste`: V elsewhere (Dvorak), AZERTY, and Latin letters only in
    // the second layout.
    struct Row {
        QString layout, variant;
        bool viaPanel;
    };
    const QList<Row> rows = {
        {"us", "", true}, {"us", "dvorak", false}, {"fr", "", false}, {"ru,us", "", false}};
    quint64 previousWindow = 0;
    for (const Row& row : rows) {
        if (row.viaPanel && !onSway) {
            continue;
        }
        const QString name = row.layout + "-" + row.variant;
        SCOPED_TRACE(name.toStdString());
        EXPECT_EQ(QProcess::execute(QStringLiteral("sh"), {"-c", setLayout, row.layout, row.variant}), 0);
        // Raw mode: the terminal hands cat every byte at once, and a Ctrl+V typed instead of the
        // terminal's paste key would arrive as a byte of its own.
        const QString file = qEnvironmentVariable("XDG_RUNTIME_DIR") + "/pasted-" + name;
        QProcess target;
        target.start(QString::fromUtf8(onSway ? "foot" : SNIPJAR_WAYLAND_PASTE_TARGET),
                     onSway ? QStringList{"sh", "-c", "stty raw -echo && exec cat > " + file}
                            : QStringList{file});
        ASSERT_TRUE(waitUntil([&] { return QFile::exists(file); }, 20s));
        // The new window in front (foot may start its shell before its window is up).
        std::optional<RunningApplication> front;
        ASSERT_TRUE(waitUntil([&] {
            front = workspace.frontmostApplication();
            return front && front->windowID != previousWindow;
        }));
        previousWindow = front->windowID;
        EXPECT_EQ(front->windowClass, QString::fromUtf8(onSway ? "foot" : "snipjar-paste-target"));

        const QString text = QStringLiteral("pasted ü ") + name;
        run(QStringLiteral("wl-copy"), {text});
        QString id;
        ASSERT_TRUE(waitUntil([&] { return !(id = listed(text)).isEmpty(); }, 20s));
        if (row.viaPanel) {
            // A newer clip above it: the panel's filter has to find the text.
            run(QStringLiteral("wl-copy"), {"newer decoy"});
            ASSERT_TRUE(waitUntil([&] { return !listed(QStringLiteral("newer decoy")).isEmpty(); }, 20s));
            // The panel is a layer above foot, in the middle of the output, with the keyboard; a
            // click outside it closes it. The screenshot stays in the build folder to be looked at.
            const QString shot = QStringLiteral(SNIPJAR_BINARY_DIR "/screenshots/panel-sway.png");
            QDir().mkpath(QFileInfo(shot).path());
            run(QStringLiteral(SNIPJAR_EXECUTABLE), {"show-panel"});
            ASSERT_TRUE(waitUntil([&] { return panelOnScreen(shot); }, 20s));
            // Resting on its Pin button, which has a tooltip elsewhere, opens no popup that the layer
            // could not hold: the panel stays.
            EXPECT_EQ(QProcess::execute(QStringLiteral(SNIPJAR_WAYLAND_CLIENT),
                                        {"click", "593", "581", "1280", "720", "hover"}),
                      0);
            EXPECT_TRUE(panelOnScreen(shot));
            EXPECT_EQ(QProcess::execute(QStringLiteral(SNIPJAR_WAYLAND_CLIENT),
                                        {"click", "20", "700", "1280", "720"}),
                      0);
            EXPECT_TRUE(waitUntil([&] { return !panelOnScreen(shot + ".closed.png"); }, 20s));
            run(QStringLiteral(SNIPJAR_EXECUTABLE), {"show-panel"});
            ASSERT_TRUE(waitUntil([&] { return panelOnScreen(shot); }, 20s));
            run(QStringLiteral("wtype"), {"pasted", "-k", "Return"});
        } else {
            run(QStringLiteral(SNIPJAR_EXECUTABLE), {"paste", id});
        }
        const auto pasted = [&] {
            QFile pasted(file);
            return pasted.open(QIODevice::ReadOnly) ? pasted.readAll() : QByteArray();
        };
        EXPECT_TRUE(waitUntil([&] { return pasted() == text.toUtf8(); }, 20s)) << pasted().toStdString();
        target.kill();
        target.waitForFinished();
    }
    // On KWin too the panel is a layer (on sway it was seen above; KWin lends no screenshots).
    QString log;
    if (!onSway) {
        run(QStringLiteral(SNIPJAR_EXECUTABLE), {"show-panel"});
        EXPECT_TRUE(waitUntil(
            [&] {
                return (log += QString::fromUtf8(app.readAllStandardError()))
                    .contains(QLatin1String("The panel is a layer of the desktop"));
            },
            20s))
            << log.toStdString();
    }
    // The compositor dies while Snipjar reads a copy, whose owner ends the transfer only afterwards.
    Owner last({"text/plain;charset=utf-8:@slow read as the compositor died"});
    ASSERT_TRUE(last.said("sent"));
    ::kill(qEnvironmentVariableIntValue("SNIPJAR_COMPOSITOR_PID"), SIGKILL);
    ASSERT_TRUE(app.waitForFinished(20000));
    EXPECT_EQ(app.exitCode(), 1);
    log += QString::fromUtf8(app.readAllStandardError());
    EXPECT_FALSE(listed(QStringLiteral("read as the compositor died")).isEmpty()) << log.toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("Run “snipjar show-panel”"))) << log.toStdString();
}

} // namespace
