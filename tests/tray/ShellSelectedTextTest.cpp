#include "TestEnvironment.h"
#include "X11TestClients.h"

#include "app/AppDelegate.h"
#include "app/settings/SelectedTextSection.h"
#include "app/settings/SettingsWindow.h"
#include "platform/UserSettings.h"
#include "platform/x11/X11Platform.h"
#include "store/ClipStore.h"

#include <QCheckBox>
#include <QProcess>
#include <gtest/gtest.h>

using namespace snipjar;
using namespace snipjar::test;

namespace {

using namespace Qt::StringLiterals;

// Returns once the primary selection answers the text, owned by a new xclip. Read with the event
// loop running and a short limit: the application under test may own the selection for a moment
// (it keeps a selection whose owner quit), and it answers on this very thread.
bool selectPrimary(SelectionOwners& owners, const QByteArray& text) {
    owners.xclip(text, u"UTF8_STRING"_s, u"primary"_s);
    return waitUntil([&] {
        QProcess read;
        read.start(u"xclip"_s, {"-o", "-selection", "primary"});
        if (!waitUntil([&] { return read.state() == QProcess::NotRunning; }, 5000)) {
            read.kill();
            read.waitForFinished(5000);
            return false;
        }
        return read.readAllStandardOutput() == text;
    });
}

} // namespace

// Recording the selected text is off by default; the settings window's switch starts it at once, and
// switching it off stops it at once.
TEST(ShellSelectedText, TheSwitchStartsAndStopsRecordingAtOnce) {
    TestEnvironment environment;
    UserSettings::setValue(UserSettings::didOnboardKey, true);
    std::unique_ptr<X11Platform> platform = X11Platform::create();
    ASSERT_TRUE(platform);
    AppDelegate delegate(*platform);
    delegate.launch();
    auto titles = [&] {
        QStringList result;
        for (const ClipItem& item : ClipStore::allItems(delegate.store().syncContext())) {
            result << item.title;
        }
        return result;
    };
    SelectionOwners selector;

    ASSERT_TRUE(selectPrimary(selector, "selected while off"));
    spinEventLoop(2000);
    EXPECT_FALSE(delegate.isRecordingSelectedText());
    EXPECT_TRUE(titles().isEmpty());

    delegate.openSettings();
    QCheckBox* toggle = delegate.settings()->selectedTextSection()->recordToggle();
    EXPECT_FALSE(toggle->isChecked());
    toggle->click();
    EXPECT_TRUE(UserSettings::recordSelectedText());
    EXPECT_TRUE(delegate.isRecordingSelectedText());
    for (const char* step : {"sel", "selected", "selected while", "selected while on"}) {
        ASSERT_TRUE(selectPrimary(selector, step));
    }
    ASSERT_TRUE(waitUntil([&] { return !titles().isEmpty(); }, 10000));
    spinEventLoop(2000);
    EXPECT_EQ(titles(), QStringList{"selected while on"});

    toggle->click();
    EXPECT_FALSE(UserSettings::recordSelectedText());
    EXPECT_FALSE(delegate.isRecordingSelectedText());
    ASSERT_TRUE(selectPrimary(selector, "selected after switching off"));
    spinEventLoop(2000);
    EXPECT_EQ(titles(), QStringList{"selected while on"});
}
