#include "TestEnvironment.h"
#include "X11TestClients.h"

#include "app/AppDelegate.h"
#include "app/settings/SelectedTextSection.h"
#include "app/settings/SettingsEvents.h"
#include "app/settings/SettingsWindow.h"
#include "panel/PanelModel.h"
#include "panel/widgets/PanelController.h"
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

// The X keyboard layout for a while, then the US one again.
struct Layout {
    explicit Layout(const char* name) { QProcess::execute("setxkbmap", {name}); }
    ~Layout() { QProcess::execute("setxkbmap", {"us"}); }
};

class ShellHotKey : public ::testing::Test {
protected:
    TestEnvironment environment;
    const bool onboarded = (UserSettings::setValue(UserSettings::didOnboardKey, true), true);
    std::unique_ptr<X11Platform> platform = X11Platform::create();
    AppDelegate delegate{*platform};
    const bool launched = (delegate.launch(), true);
    PanelController& panel = *delegate.panel();

    // True when the keys opened the panel, which is then hidden again.
    bool opensPanel(const char* keys) {
        const bool opened = xdotool({"key", keys}) && waitUntil([&] { return panel.isVisible(); });
        panel.hide();
        return opened;
    }
    // What the settings window does once the recorder has a combination.
    static void chooseHotKey(const QString& combo) {
        UserSettings::setValue(UserSettings::hotKeyKey, combo);
        emit SettingsEvents::instance().hotKeyChanged();
    }
};
using ShellSelectedText = ShellHotKey;

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

// A combination chosen in the settings takes over at once: it opens the panel, and the one it
// replaced no longer does. One that another program holds replaces nothing, in the settings
// neither.
TEST_F(ShellHotKey, ANewCombinationReplacesTheOldOneAtOnce) {
    ASSERT_TRUE(opensPanel("ctrl+alt+v"));
    chooseHotKey(u"Ctrl+Shift+J"_s);
    ASSERT_TRUE(xdotool({"key", "ctrl+alt+v"}));
    spinEventLoop(500);
    EXPECT_FALSE(panel.isVisible()) << "the old combination still opens the panel";
    EXPECT_TRUE(opensPanel("ctrl+shift+j"));
    spinEventLoop(50); // until J is seen up: a press before that counts as its auto-repeat

    std::unique_ptr<XcbConnection> other = XcbConnection::open();
    xcb_grab_key(other->get(), 1, other->root(), XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_SHIFT,
                 keycodeOf(*other, 'k'), XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
    other->sync();
    chooseHotKey(u"Ctrl+Shift+K"_s);
    EXPECT_EQ(UserSettings::hotKey(), HotKeyCombo::parseLinuxForm("Ctrl+Shift+J")->displayString());
    EXPECT_TRUE(opensPanel("ctrl+shift+j"));
}

// Held down, the hot key repeats: the panel it opened stays open, and the panel it closed stays
// closed, until the keys are let go.
TEST_F(ShellHotKey, HoldingTheHotKeyTogglesThePanelOnce) {
    for (const bool opens : {true, false}) {
        ASSERT_TRUE(xdotool({"keydown", "ctrl+alt+v"}));
        EXPECT_TRUE(waitUntil([&] { return panel.isVisible() == opens; }));
        int otherwise = 0;
        for (int sample = 0; sample < 60; ++sample, spinEventLoop(25)) {
            otherwise += panel.isVisible() != opens ? 1 : 0;
        }
        EXPECT_EQ(otherwise, 0) << (opens ? "opening" : "closing");
        ASSERT_TRUE(xdotool({"keyup", "ctrl+alt+v"}));
        spinEventLoop(100);
        EXPECT_EQ(panel.isVisible(), opens);
    }
}

// Shortcuts name keys of the US layout and work by their place where the layout types no Latin
// letter or digit there: the hot key and Ctrl+P on a Russian-only layout, Ctrl+1 on AZERTY.
TEST_F(ShellHotKey, ShortcutsWorkOnLayoutsWithoutTheirCharacters) {
    Clip clip;
    clip.kind = Clip::Kind::text;
    clip.plainText = u"kept on every layout"_s;
    delegate.store().insert(clip, delegate.store().syncContext());
    {
        Layout russian("ru");
        spinEventLoop(300);
        ASSERT_TRUE(xdotool({"key", "ctrl+alt+Cyrillic_em"}));
        ASSERT_TRUE(waitUntil([&] { return panel.isVisible() && panel.model().visibleCount() == 1; }));
        ASSERT_TRUE(xdotool({"key", "ctrl+Cyrillic_ze"}));
        EXPECT_TRUE(
            waitUntil([&] { return panel.model().selectedRow() && panel.model().selectedRow()->pinned; }));
    }
    Layout azerty("fr");
    spinEventLoop(300);
    ASSERT_TRUE(xdotool({"key", "ctrl+ampersand"}));
    EXPECT_TRUE(waitUntil([&] { return !panel.isVisible(); })) << "Ctrl+1 pastes the first row";
}

// When another program holds the keyboard, the panel does not stay up while the typing goes to
// the window behind: it hides, and says so once.
TEST_F(ShellHotKey, APanelWithoutTheKeyboardHidesAndSaysSoOnce) {
    int told = 0;
    panel.onKeyboardUnavailable = [&] { ++told; };
    std::unique_ptr<XcbConnection> other = XcbConnection::open();
    XcbReply<xcb_grab_keyboard_reply_t> grab(
        xcb_grab_keyboard_reply(other->get(),
                                xcb_grab_keyboard(other->get(), 1, other->root(), XCB_CURRENT_TIME,
                                                  XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC),
                                nullptr));
    ASSERT_TRUE(grab && grab->status == XCB_GRAB_STATUS_SUCCESS);
    int shown = 0;
    panel.onShow = [&] { ++shown; };
    for (int show = 1; show <= 2; ++show) {
        panel.show();
        // The window appears once its rows have arrived, and goes when the grab is refused.
        EXPECT_TRUE(waitUntil([&] { return shown == show && !panel.isVisible(); }));
    }
    EXPECT_EQ(told, 1);
}

// Recording the selected text is off by default; the settings window's switch starts it at once, and
// switching it off stops it at once.
TEST_F(ShellSelectedText, TheSwitchStartsAndStopsRecordingAtOnce) {
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
    EXPECT_TRUE(titles().isEmpty());

    delegate.openSettings();
    QCheckBox* toggle = delegate.settings()->selectedTextSection()->recordToggle();
    toggle->click();
    for (const char* step : {"sel", "selected", "selected while", "selected while on"}) {
        ASSERT_TRUE(selector.select(step));
    }
    ASSERT_TRUE(waitUntil([&] { return !titles().isEmpty(); }, 10000));
    spinEventLoop(2000);
    EXPECT_EQ(titles(), QStringList{"selected while on"});

    toggle->click();
    ASSERT_TRUE(selector.select("selected after switching off"));
    spinEventLoop(2000);
    EXPECT_EQ(titles(), QStringList{"selected while on"});
}
