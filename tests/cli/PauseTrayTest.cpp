#include "app/cli/RecordingPause.h"
#include "app/tray/TrayMenuBuilder.h"

#include <QAction>
#include <QDir>
#include <QMenu>
#include <QSignalSpy>
#include <gtest/gtest.h>

using namespace snipjar;

namespace {

QAction* resumeItem(QMenu& menu) {
    return menu.findChild<QAction*>(QStringLiteral("ResumeRecording"));
}

} // namespace

// While recording is paused the tray menu opens with an item that resumes it, naming the time the
// pause ends by itself; otherwise there is no such item.
TEST(PauseTray, MenuOffersToResumeWhilePaused) {
    RecordingPause pause;
    QSignalSpy changes(&pause, &RecordingPause::changed);
    TrayMenuBuilder::Actions actions;
    actions.resumeRecording = [&pause] { pause.resume(); };

    QMenu menu;
    TrayMenuBuilder::fill(menu, nullptr, {}, actions);
    EXPECT_EQ(resumeItem(menu), nullptr);

    pause.pause(5);
    ASSERT_TRUE(pause.isPaused());
    ASSERT_TRUE(pause.until());
    EXPECT_NEAR(QDateTime::currentDateTimeUtc().secsTo(*pause.until()), 300, 5);
    TrayMenuBuilder::State state;
    state.recordingPaused = true;
    state.pausedUntil = pause.until();
    menu.clear();
    TrayMenuBuilder::fill(menu, nullptr, state, actions);
    QAction* resume = resumeItem(menu);
    ASSERT_NE(resume, nullptr);
    EXPECT_EQ(menu.actions().first(), resume);
    EXPECT_TRUE(resume->text().startsWith(QStringLiteral("Recording Paused until ")))
        << resume->text().toStdString();
    EXPECT_TRUE(resume->text().endsWith(QStringLiteral("\u2014 Resume")));

    // For a person to look at: the menu as the tray shows it.
    menu.popup(QPoint(200, 200));
    const QString folder = QStringLiteral(SNIPJAR_BINARY_DIR "/screenshots");
    QDir().mkpath(folder);
    EXPECT_TRUE(menu.grab().save(folder + QStringLiteral("/tray-paused.png")));
    menu.hide();

    resume->trigger();
    EXPECT_FALSE(pause.isPaused());
    EXPECT_FALSE(pause.until());
    ASSERT_EQ(changes.size(), 2);
    EXPECT_EQ(changes.at(1).at(0).toBool(), false);

    // Paused until resumed: no time to name.
    EXPECT_EQ(TrayMenuBuilder::pausedItemText(std::nullopt),
              QStringLiteral("Recording Paused \u2014 Resume"));
}
