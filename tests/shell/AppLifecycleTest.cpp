#include "app/AppDelegate.h"
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
#include <gtest/gtest.h>

namespace snipjar {
namespace {

using namespace Qt::StringLiterals;

// Once launch() returns on fake services: the settings' hot key is grabbed, the first run sets
// launch at login, and with no tray host the hot key is named in one notice.
TEST(AppLifecycle, LaunchStartsEveryPartInOrder) {
    test::TestEnvironment environment;
    // This test program runs from the build folder; it stands in for an installed `snipjar`.
    LaunchAtLogin::overrideInstalledCommand(QApplication::applicationFilePath());
    UserSettings::setValue(UserSettings::hotKeyKey, u"Ctrl+Shift+K"_s);
    FakePlatform platform;
    {
        AppDelegate delegate(platform);
        delegate.launch();

        const HotKeyCombo combo = *HotKeyCombo::parseLinuxForm(u"Ctrl+Shift+K"_s);
        EXPECT_EQ(platform.fakeHotKeys().activeGrabs(),
                  (QList{FakeGlobalHotKeys::Combination{combo.keyLabel, combo.carbonModifiers}}));
        EXPECT_TRUE(QFile::exists(LaunchAtLogin::entryPath()));
        // The tray host is looked for from the event loop, once the hot key in use is known.
        EXPECT_TRUE(test::waitUntil([&] { return !platform.fakeNotifier().notifications.empty(); }));
        ASSERT_EQ(platform.fakeNotifier().notifications.size(), 1);
        EXPECT_TRUE(platform.fakeNotifier().notifications.front().body.contains(u"Ctrl+Shift+K"_s));
    }
    // Quitting lets go of every grab.
    EXPECT_TRUE(platform.fakeHotKeys().activeGrabs().isEmpty());
}

} // namespace
} // namespace snipjar
