#include "TestEnvironment.h"
#include "X11TestClients.h"

#include "app/AppDelegate.h"
#include "app/settings/SettingsEvents.h"
#include "panel/widgets/PanelController.h"
#include "platform/UserSettings.h"
#include "platform/x11/X11Platform.h"

#include <gtest/gtest.h>

using namespace snipjar;
using namespace snipjar::test;

// A combination chosen in the settings takes over at once: it opens the panel, and the one it
// replaced no longer does.
TEST(ShellHotKey, ANewCombinationReplacesTheOldOneAtOnce) {
    TestEnvironment environment;
    UserSettings::setValue(UserSettings::didOnboardKey, true);
    std::unique_ptr<X11Platform> platform = X11Platform::create();
    ASSERT_TRUE(platform);
    AppDelegate delegate(*platform);
    delegate.launch();
    PanelController& panel = *delegate.panel();

    ASSERT_TRUE(xdotool({"key", "ctrl+alt+v"}));
    ASSERT_TRUE(waitUntil([&] { return panel.isVisible(); }));
    panel.hide();

    // What the settings window does once the recorder has a combination.
    UserSettings::setValue(UserSettings::hotKeyKey, QStringLiteral("Ctrl+Shift+J"));
    emit SettingsEvents::instance().hotKeyChanged();

    ASSERT_TRUE(xdotool({"key", "ctrl+alt+v"}));
    spinEventLoop(500);
    EXPECT_FALSE(panel.isVisible()) << "the old combination still opens the panel";
    ASSERT_TRUE(xdotool({"key", "ctrl+shift+j"}));
    EXPECT_TRUE(waitUntil([&] { return panel.isVisible(); }));
    panel.hide();
}
