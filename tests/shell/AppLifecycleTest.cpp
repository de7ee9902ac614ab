#include "app/AppDelegate.h"
#include "app/settings/SettingsEvents.h"
#include "panel/widgets/PanelController.h"
#include "paste/HotKeyCombo.h"
#include "platform/LaunchAtLogin.h"
#include "platform/UserSettings.h"
#include "platform/fakes/FakePlatform.h"
#include "store/ClipStore.h"

#include "EventLoopWait.h"
#include "TestEnvironment.h"

#include <QApplication>
#include <QFile>
#include <QWidget>
#include <gtest/gtest.h>

namespace snipjar {
namespace {

bool welcomeShown() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible() && widget->windowTitle() == QStringLiteral("Welcome to Snipjar")) {
            return true;
        }
    }
    return false;
}

FakeGlobalHotKeys::Combination grabOf(const QString& linuxForm) {
    const HotKeyCombo combo = *HotKeyCombo::parseLinuxForm(linuxForm);
    return {combo.keyLabel, combo.carbonModifiers};
}

// The launch on fake platform services: once launch() returns, the parts stand in the order that
// lets each use the one before. The hot key from the settings opens the panel, which exists by
// then; what was on the clipboard at launch reaches the history; the first run configures launch
// at login and shows the welcome window; with no tray host the hot key is named in one notice; a
// new combination in the settings replaces the old grab at once.
TEST(AppLifecycle, LaunchStartsEveryPartAndTheHotKeyFollowsTheSettings) {
    test::TestEnvironment environment;
    // This test program runs from the build folder; it stands in for an installed `snipjar`.
    LaunchAtLogin::overrideInstalledCommand(QApplication::applicationFilePath());
    UserSettings::setValue(UserSettings::hotKeyKey, QStringLiteral("Ctrl+Shift+K"));
    FakePlatform platform;
    platform.fakePasteboard().setText(QStringLiteral("on the clipboard at launch"));
    {
        AppDelegate delegate(platform);
        delegate.launch();

        EXPECT_EQ(platform.fakeHotKeys().activeGrabs(), QList{grabOf(QStringLiteral("Ctrl+Shift+K"))});
        ASSERT_EQ(platform.fakeHotKeys().press(grabOf(QStringLiteral("Ctrl+Shift+K")).keyLabel,
                                               grabOf(QStringLiteral("Ctrl+Shift+K")).modifierBits),
                  1);
        EXPECT_TRUE(test::waitUntil([&] { return delegate.panel()->isVisible(); }));

        EXPECT_TRUE(
            test::waitUntil([&] { return ClipStore::allItems(delegate.store().syncContext()).size() == 1; }));
        EXPECT_TRUE(QFile::exists(LaunchAtLogin::entryPath()));
        EXPECT_TRUE(test::waitUntil(welcomeShown));
        ASSERT_EQ(platform.fakeNotifier().notifications.size(), 1);
        EXPECT_TRUE(
            platform.fakeNotifier().notifications.front().body.contains(QStringLiteral("Ctrl+Shift+K")));

        UserSettings::setValue(UserSettings::hotKeyKey, QStringLiteral("Ctrl+Alt+J"));
        emit SettingsEvents::instance().hotKeyChanged();
        EXPECT_EQ(platform.fakeHotKeys().activeGrabs(), QList{grabOf(QStringLiteral("Ctrl+Alt+J"))});
    }
    // Quitting lets go of every grab.
    EXPECT_TRUE(platform.fakeHotKeys().activeGrabs().isEmpty());
}

} // namespace
} // namespace snipjar
