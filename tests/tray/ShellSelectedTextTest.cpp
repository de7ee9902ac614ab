#include "TestEnvironment.h"
#include "X11TestClients.h"

#include "app/AppDelegate.h"
#include "app/settings/SelectedTextSection.h"
#include "app/settings/SettingsWindow.h"
#include "platform/UserSettings.h"
#include "platform/x11/X11Platform.h"
#include "store/ClipStore.h"

#include <QCheckBox>
#include <gtest/gtest.h>

#include <memory>
#include <vector>

using namespace snipjar;
using namespace snipjar::test;

namespace {

using namespace Qt::StringLiterals;

// xclip processes owning the primary selection, each until the next one takes it.
class PrimarySelector {
public:
    ~PrimarySelector() {
        for (const std::unique_ptr<QProcess>& xclip : owners) {
            xclip->kill();
            xclip->waitForFinished(5000);
        }
    }
    // Returns once the text is what the primary selection answers.
    bool select(const QByteArray& text) {
        owners.push_back(std::make_unique<QProcess>());
        QProcess& xclip = *owners.back();
        xclip.start(u"xclip"_s, {"-quiet", "-selection", "primary", "-t", "UTF8_STRING"});
        xclip.write(text);
        xclip.closeWriteChannel();
        return waitUntil([&] {
            QProcess read;
            read.start(u"xclip"_s, {"-o", "-selection", "primary"});
            read.waitForFinished(5000);
            return read.readAllStandardOutput() == text;
        });
    }

private:
    std::vector<std::unique_ptr<QProcess>> owners;
};

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
    PrimarySelector selector;

    ASSERT_TRUE(selector.select("selected while off"));
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
        ASSERT_TRUE(selector.select(step));
    }
    ASSERT_TRUE(waitUntil([&] { return !titles().isEmpty(); }, 10000));
    spinEventLoop(2000);
    EXPECT_EQ(titles(), QStringList{"selected while on"});

    toggle->click();
    EXPECT_FALSE(UserSettings::recordSelectedText());
    EXPECT_FALSE(delegate.isRecordingSelectedText());
    ASSERT_TRUE(selector.select("selected after switching off"));
    spinEventLoop(2000);
    EXPECT_EQ(titles(), QStringList{"selected while on"});
}
