#include "ClipStoreTestSupport.h"

#include "app/cli/RecordingPause.h"
#include "app/tray/MenuClipText.h"
#include "app/tray/MenuDrillRow.h"
#include "app/tray/StatusItem.h"
#include "app/tray/TrayMenuBuilder.h"
#include "model/ClipRecords.h"
#include "paste/Paster.h"
#include "paste/StoredClipPaster.h"
#include "platform/UserSettings.h"
#include "platform/fakes/FakePlatform.h"

#include <QDir>
#include <QFontMetrics>
#include <QMenu>
#include <QRegularExpression>
#include <QTest>
#include <QWidgetAction>
#include <gtest/gtest.h>

namespace snipjar::test {
namespace {

using namespace Qt::StringLiterals;

// The shared store fixture on the clock of now, with clips written as they arrive from each computer.
class TrayMenuTest : public StoreTest {
protected:
    void SetUp() override {
        clockNow = QDateTime::currentDateTimeUtc();
        StoreTest::SetUp();
        store->registerThisMac();
    }

    void put(const QString& words, const QString& device, qint64 secondsAgo) {
        putItem(store->syncContainer(), text(words), device, clockNow.addSecs(-secondsAgo));
    }

    void fill(const std::optional<QString>& scope = std::nullopt) {
        TrayMenuBuilder::State state = baseState;
        state.computerScope = scope;
        TrayMenuBuilder::Actions actions;
        actions.drill = [this](const std::optional<QString>& next) {
            drilledTo = next;
            fill(next);
        };
        actions.openSettings = [this] { commands.append(u"settings"_s); };
        actions.quit = [this] { commands.append(u"quit"_s); };
        actions.resumeRecording = [this] { pause.resume(); };
        TrayMenuBuilder::fill(menu, store.get(), state, actions);
    }

    // Each entry as a line: plain items by text, sections in brackets, drill rows after "> ".
    QStringList lines() const {
        QStringList result;
        for (QAction* action : menu.actions()) {
            if (auto* row = qobject_cast<QWidgetAction*>(action)) {
                result.append(u"> "_s + static_cast<MenuDrillRow*>(row->defaultWidget())->title());
            } else if (action->isSeparator()) {
                result.append(
                    action->text().isEmpty() ? u"-"_s : QLatin1Char('[') + action->text() + QLatin1Char(']'));
            } else {
                result.append(action->text());
            }
        }
        return result;
    }

    MenuDrillRow* drillRow(const QString& title) const {
        for (QAction* action : menu.actions()) {
            if (auto* row = qobject_cast<QWidgetAction*>(action)) {
                auto* drill = static_cast<MenuDrillRow*>(row->defaultWidget());
                if (drill->title() == title) {
                    return drill;
                }
            }
        }
        return nullptr;
    }

    // The sync items, the update item and the rest of what the shell tells the menu.
    TrayMenuBuilder::State baseState;
    QMenu menu;
    std::optional<QString> drilledTo;
    QStringList commands;
    RecordingPause pause;
};

// The menu's order: Search with the hot key in Linux form, the newest clip of each group, the
// computers (this one first) when there are several, then Settings, updates and Quit.
TEST_F(TrayMenuTest, TopLevelListsGroupedClipsAndComputers) {
    put(u"shared words"_s, u"OTHER"_s, 30);
    put(u"shared words"_s, thisMac, 20);
    put(u"only here"_s, thisMac, 10);
    fill();
    EXPECT_EQ(lines(),
              (QStringList{"Search\u2026\tCtrl+Alt+V", "-", "only here", "shared words", "-", "[Computers]",
                           "> " + store->devices().first().name, "> Computer", "-", "Settings\u2026\tCtrl+,",
                           "Check for Updates\u2026", "Quit Snipjar\tCtrl+Q"}));
    // The combinations written beside Settings and Quit work while the menu is open, and close it.
    for (const auto& [key, command] : {std::pair{Qt::Key_Comma, "settings"}, std::pair{Qt::Key_Q, "quit"}}) {
        menu.popup(QPoint(100, 100));
        QTest::keyClick(&menu, key, Qt::ControlModifier);
        EXPECT_EQ(std::exchange(commands, {}), QStringList{QLatin1String(command)});
        EXPECT_FALSE(menu.isVisible());
    }
}

// A drill row opens one computer's clips (copies of shared content included) in the open menu,
// "Back" returns; a computer without clips says so; closing starts again at the top.
TEST_F(TrayMenuTest, DrillingIntoAComputerAndBack) {
    put(u"shared words"_s, u"OTHER"_s, 30);
    put(u"shared words"_s, thisMac, 20);
    fill();
    drillRow(u"Computer"_s)->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return drilledTo.has_value(); }, 2000));
    EXPECT_EQ(*drilledTo, u"OTHER"_s);
    EXPECT_EQ(lines().mid(2, 3), (QStringList{"> Back", "[Computer]", "shared words"}));

    drillRow(u"Back"_s)->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !drilledTo.has_value(); }, 2000));
    EXPECT_TRUE(lines().contains(u"[Computers]"_s));

    fill(u"GONE"_s);
    EXPECT_TRUE(lines().contains(u"No clips from Computer"_s));
}

// Limits: seven computers list five, this one first; menuClipLimit outside 1 … 30 lists 15.
TEST_F(TrayMenuTest, LimitsOfClipsAndComputers) {
    for (int index = 0; index < 40; ++index) {
        put(u"clip %1"_s.arg(index), index < 6 ? u"C%1"_s.arg(index) : thisMac, index + 1);
    }
    const auto clipLines = [this] { return lines().filter(QRegularExpression(u"^clip \\d+$"_s)).size(); };
    for (const auto& [stored, expected] : {std::pair{0, 15}, {31, 15}, {30, 30}, {1, 1}}) {
        UserSettings::setValue(UserSettings::menuClipLimitKey, stored);
        fill();
        EXPECT_EQ(clipLines(), expected) << stored;
    }
    const QStringList all = lines();
    const qsizetype header = all.indexOf(u"[Computers]"_s);
    ASSERT_GE(header, 0);
    EXPECT_EQ(all[header + 1], "> " + store->devices().first().name);
    EXPECT_EQ(all.mid(header + 1).filter(u"> "_s).size(), TrayMenuBuilder::computerLimit);
}

// Between the history and "Settings…": "Sync Now" while sync runs ("Syncing…" above it while
// busy), and what keeps sync from working as a disabled line.
TEST_F(TrayMenuTest, SyncItemsAndTheProblemLine) {
    const auto syncLines = [this] {
        const QStringList all = lines();
        const qsizetype settings = all.indexOf(u"Settings\u2026\tCtrl+,"_s);
        const qsizetype history = all.indexOf(u"No clipboard history"_s);
        return all.mid(history + 1, settings - history - 1);
    };
    const QString unreachable = u"Sync: can\u2019t reach your sync server && retrying"_s;
    const struct {
        bool available, syncing;
        std::optional<QString> problem;
        QStringList lines;
    } cases[] = {
        {false, false, std::nullopt, {u"-"_s}},
        {true, true, std::nullopt, {u"-"_s, u"Syncing\u2026"_s, u"Sync Now"_s, u"-"_s}},
        {true,
         false,
         u"Sync: can\u2019t reach your sync server & retrying"_s,
         {u"-"_s, u"Sync Now"_s, unreachable, u"-"_s}},
        {false, false, u"Sync: no server is set"_s, {u"-"_s, u"Sync: no server is set"_s, u"-"_s}},
    };
    for (const auto& c : cases) {
        baseState.syncAvailable = c.available;
        baseState.isSyncing = c.syncing;
        baseState.syncProblem = c.problem;
        fill();
        EXPECT_EQ(syncLines(), c.lines);
        for (QAction* action : menu.actions()) {
            if (action->text().startsWith(u"Sync"_s)) {
                EXPECT_EQ(action->isEnabled(), action->text() == u"Sync Now"_s)
                    << action->text().toStdString();
            }
        }
    }
}

// Opening the menu fetches and sends at once while sync runs, as opening the panel does.
TEST_F(TrayMenuTest, OpeningSyncsWhileSyncRuns) {
    FakePlatform platform;
    Paster paster(*platform.pasteboard, *platform.workspace, *platform.keySynthesizer,
                  *platform.desktopNotifier, nullptr);
    StoredClipPaster clipPaster(*store, paster, *platform.workspace);
    int syncs = 0;
    TrayMenuBuilder::Actions commands;
    commands.syncNow = [&] { ++syncs; };
    StatusItem status(*store, clipPaster, *platform.workspace, *platform.desktopNotifier, commands);
    for (const bool syncOn : {false, true}) {
        status.currentState = [syncOn] {
            TrayMenuBuilder::State state;
            state.syncAvailable = syncOn;
            return state;
        };
        emit status.menu().aboutToShow();
        EXPECT_EQ(syncs, syncOn ? 1 : 0);
    }
}

// While recording is paused the menu opens with an item that resumes it, naming the time the pause
// ends by itself (none when paused until resumed); otherwise there is no such item.
TEST_F(TrayMenuTest, OffersToResumeWhilePaused) {
    fill();
    EXPECT_EQ(menu.findChild<QAction*>(u"ResumeRecording"_s), nullptr);
    pause.pause(5);
    ASSERT_TRUE(pause.isPaused() && pause.until());
    EXPECT_NEAR(QDateTime::currentDateTimeUtc().secsTo(*pause.until()), 300, 5);
    baseState.recordingPaused = true;
    baseState.pausedUntil = pause.until();
    fill();
    QAction* resume = menu.findChild<QAction*>(u"ResumeRecording"_s);
    ASSERT_NE(resume, nullptr);
    EXPECT_EQ(menu.actions().first(), resume);
    EXPECT_TRUE(resume->text().startsWith(u"Recording Paused until "_s)) << resume->text().toStdString();
    EXPECT_TRUE(resume->text().endsWith(u"\u2014 Resume"_s));
    EXPECT_EQ(TrayMenuBuilder::pausedItemText(std::nullopt), u"Recording Paused \u2014 Resume"_s);
    // For a person to look at: the menu as the tray shows it.
    menu.popup(QPoint(200, 200));
    QDir().mkpath(QStringLiteral(SNIPJAR_BINARY_DIR "/screenshots"));
    EXPECT_TRUE(menu.grab().save(QStringLiteral(SNIPJAR_BINARY_DIR "/screenshots/tray-paused.png")));
    menu.hide();

    resume->trigger();
    EXPECT_FALSE(pause.isPaused());
    EXPECT_FALSE(pause.until());
}

// A title reads as one line: runs of white space become one space, control characters go (those
// of bidirectional text too, which could reverse the line), and a long word is cut to the menu's
// width with an ellipsis. A secret shows six bullets.
TEST(MenuClipTextTest, TitlesReadAsOneLineAndFit) {
    ClipItem item;
    item.title = u"\n\tfirst  line\r\n\x01second\x7f\tline \x02 \u202Eend\u2069\t "_s;
    EXPECT_EQ(MenuClipText::oneLine(item), u"first line second line end"_s);
    item.concealed = true;
    EXPECT_EQ(MenuClipText::oneLine(item), QString(6, QChar(0x2022)));

    item.concealed = false;
    item.title = QString(400, QLatin1Char('W'));
    const QFontMetrics metrics(QMenu().font());
    const QString cut = MenuClipText::title(item, metrics);
    EXPECT_TRUE(cut.endsWith(QChar(0x2026)));
    EXPECT_LE(metrics.horizontalAdvance(cut), MenuClipText::titleWidth);
    EXPECT_GT(metrics.horizontalAdvance(cut + QLatin1Char('W')),
              MenuClipText::titleWidth - metrics.horizontalAdvance(QChar(0x2026)));
}

} // namespace
} // namespace snipjar::test
