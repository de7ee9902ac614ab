#include "app/settings/SettingsWindow.h"
#include "ClipStoreTestSupport.h"
#include "EventLoopWait.h"
#include "app/settings/ClipboardSection.h"
#include "app/settings/HistoryLengthStepper.h"
#include "app/settings/HistorySection.h"
#include "app/settings/SelectedTextSection.h"
#include "app/settings/SettingsEvents.h"
#include "app/settings/ShortcutSection.h"
#include "app/settings/SyncSection.h"
#include "platform/LaunchAtLogin.h"

#include <QCoreApplication>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QToolButton>

namespace snipjar::test {
namespace {

using namespace Qt::StringLiterals;

// The window over a real store on temporary folders, counting the announcements it makes.
class SettingsWindowTest : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        // This test program runs from the build folder; it stands in for an installed `snipjar`.
        LaunchAtLogin::overrideInstalledCommand(QCoreApplication::applicationFilePath());
        auto& events = SettingsEvents::instance();
        QObject::connect(&events, &SettingsEvents::hotKeyChanged, &listener, [this] { ++hotKeyChanges; });
        QObject::connect(&events, &SettingsEvents::limitsChanged, &listener, [this] { ++limitsChanges; });
    }

    void openWindow() {
        window = std::make_unique<SettingsWindow>(
            *store, [this](const HotKeyCombo& combo) { return !takenCombos.contains(combo); });
        window->show();
    }

    HistoryLengthStepper& stepper() { return *window->historySection()->lengthStepper(); }
    QComboBox& retention() { return *window->historySection()->retentionPicker(); }
    ShortcutRecorder& recorder() { return *window->shortcutSection()->recorder(); }
    QCheckBox& syncToggle() { return *window->syncSection()->syncToggle(); }

    // The value as it is in the settings file, read without the application's accessors.
    static QVariant inFile(const char* key) {
        return QSettings(UserSettings::filePath(), QSettings::IniFormat).value(QString::fromLatin1(key));
    }

    // Own items, one a minute, the oldest first.
    QList<ClipItem> fillOwn(int count, qint64 oldestSecondsAgo) {
        QList<ClipItem> items;
        const std::unique_ptr<ModelContext> context = store->syncContainer().newContext();
        for (int index = 0; index < count; ++index) {
            ClipItem item = ClipItem::fromClip(text(u"clip %1"_s.arg(index)), std::nullopt, thisMac);
            item.createdAt = clockNow.addSecs(-oldestSecondsAgo + 60 * index);
            context->insert(item);
            items.append(item);
        }
        EXPECT_TRUE(context->save());
        return items;
    }

    QObject listener;
    std::unique_ptr<SettingsWindow> window;
    QList<HotKeyCombo> takenCombos;
    int hotKeyChanges = 0;
    int limitsChanges = 0;
};

// With nothing stored, or a hand-edited file with values of the wrong kind or out of range, the
// window shows the documented defaults; an empty file is not written by showing them.
TEST_F(SettingsWindowTest, ShowsTheDefaultsOfAnEmptyOrBadSettingsFile) {
    for (const bool bad : {false, true}) {
        if (bad) {
            AppPaths::ensurePrivateFolder(AppPaths::configFolder());
            QFile file(UserSettings::filePath());
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write("[General]\nhistoryLength=lots\nretentionDays=-3\nsyncEnabled=maybe\n"
                       "hotKey=Ctrl+Banana+V\nmaxCaptureRepBytes=-1\n");
        }
        openWindow();
        EXPECT_EQ(stepper().text(), u"100"_s);
        EXPECT_EQ(retention().currentText(), u"7 days"_s);
        EXPECT_EQ(recorder().title(), u"Ctrl+Alt+V"_s);
        EXPECT_TRUE(syncToggle().isChecked());
        EXPECT_EQ(QFileInfo::exists(UserSettings::filePath()), bad);
    }
    // 420 wide, and tall enough for the whole form without squeezing a row.
    EXPECT_EQ(window->width(), 420);
    EXPECT_GE(window->height(), std::max(700, window->sizeHint().height()));
    EXPECT_EQ(UserSettings::maxCaptureRepBytes(), 300'000'000);
}

// Values that the store accepts but the controls do not offer are shown as they are and kept
// until the user changes them.
TEST_F(SettingsWindowTest, ValuesOutsideTheChoicesStayUntilChanged) {
    UserSettings::setValue(QString::fromLatin1(UserSettings::historyLengthKey), 500);
    UserSettings::setValue(QString::fromLatin1(UserSettings::retentionDaysKey), 14);
    UserSettings::setValue(QString::fromLatin1(UserSettings::hotKeyKey), u"super+alt+k"_s);
    openWindow();

    EXPECT_EQ(stepper().text(), u"500"_s);
    EXPECT_EQ(retention().currentIndex(), -1);
    EXPECT_EQ(recorder().title(), u"Alt+Super+K"_s);
    EXPECT_EQ(inFile(UserSettings::historyLengthKey).toInt(), 500);

    QTest::mouseClick(window->findChild<QToolButton*>(u"historyLengthDown"_s), Qt::LeftButton);
    EXPECT_EQ(inFile(UserSettings::historyLengthKey).toInt(), 250);
}

// A shorter retention or history is written and applied at once: the oldest own clips go now, not
// at the next copy, and the change is announced.
TEST_F(SettingsWindowTest, ShorterLimitsTrimTheStoreAtOnce) {
    UserSettings::setValue(QString::fromLatin1(UserSettings::retentionDaysKey), 90);
    const QList<ClipItem> old = fillOwn(1, 40 * ClipStore::secondsPerDay);
    const QList<ClipItem> recent = fillOwn(1, 3 * ClipStore::secondsPerDay);
    openWindow();
    ASSERT_EQ(retention().currentText(), u"90 days"_s);
    retention().setFocus();
    QTest::keyClick(&retention(), Qt::Key_Up);
    EXPECT_EQ(inFile(UserSettings::retentionDaysKey).toInt(), 30);
    EXPECT_EQ(limitsChanges, 1);
    ASSERT_EQ(syncItems().size(), 1);
    EXPECT_EQ(syncItems()[0].id, recent[0].id);

    const QList<ClipItem> items = fillOwn(60, 3600);
    QTest::mouseClick(window->findChild<QToolButton*>(u"historyLengthDown"_s), Qt::LeftButton);
    EXPECT_EQ(inFile(UserSettings::historyLengthKey).toInt(), 50);
    EXPECT_EQ(stepper().text(), u"50"_s);
    EXPECT_EQ(limitsChanges, 2);
    const QList<ClipItem> kept = syncItems();
    ASSERT_EQ(kept.size(), 50);
    EXPECT_EQ(kept.constLast().id, items[10].id);
    EXPECT_EQ(kept.constFirst().id, items.constLast().id);
}

// A recorded shortcut is stored in the symbol form and announced; one another program holds changes
// nothing and the recorder says why, until the next recording starts.
TEST_F(SettingsWindowTest, ARecordedShortcutIsStoredAndAnnounced) {
    takenCombos.append(*HotKeyCombo::parseLinuxForm(u"Ctrl+Alt+T"_s));
    openWindow();

    QTest::mouseClick(recorder().button(), Qt::LeftButton);
    QTest::keyClick(recorder().button(), Qt::Key_T, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_FALSE(inFile(UserSettings::hotKeyKey).isValid());
    EXPECT_EQ(hotKeyChanges, 0);
    EXPECT_EQ(recorder().title(), u"Ctrl+Alt+V"_s);
    EXPECT_EQ(recorder().message(), u"Ctrl+Alt+T is taken by another program."_s);
    EXPECT_FALSE(recorder().isRecording());

    QTest::mouseClick(recorder().button(), Qt::LeftButton);
    EXPECT_TRUE(recorder().message().isEmpty());
    QTest::keyClick(recorder().button(), Qt::Key_K, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(inFile(UserSettings::hotKeyKey).toString(), u"⇧⌘K"_s);
    EXPECT_EQ(hotKeyChanges, 1);
}

// Each switch (sync, keeping the clipboard, recording selected text, launch at login) shows its
// default, and is written and announced each time it is flipped; a selected-text value edited by
// hand that is no yes or no reads as off.
TEST_F(SettingsWindowTest, SwitchesAreWrittenAndAnnouncedEachTime) {
    openWindow();
    using Signal = void (SettingsEvents::*)();
    const struct {
        QCheckBox* toggle;
        Signal announced;
        const char* key;
        bool (*value)();
        bool initially;
    } switches[] = {
        {&syncToggle(), &SettingsEvents::syncEnabledChanged, UserSettings::syncEnabledKey,
         UserSettings::syncEnabled, true},
        {window->clipboardSection()->keepClipboardToggle(), &SettingsEvents::keepClipboardChanged,
         UserSettings::keepClipboardKey, UserSettings::keepClipboard, true},
        {window->selectedTextSection()->recordToggle(), &SettingsEvents::recordSelectedTextChanged,
         UserSettings::recordSelectedTextKey, UserSettings::recordSelectedText, false},
        {window->launchAtLoginToggle(), &SettingsEvents::launchAtLoginChanged, nullptr,
         LaunchAtLogin::isEnabled, false},
    };
    for (const auto& s : switches) {
        const char* name = s.key ? s.key : "launch at login";
        int changes = 0;
        QObject::connect(&SettingsEvents::instance(), s.announced, &listener, [&] { ++changes; });
        EXPECT_EQ(s.toggle->isChecked(), s.initially) << name;
        s.toggle->click();
        if (s.key) {
            EXPECT_EQ(inFile(s.key).toBool(), !s.initially) << name;
        }
        EXPECT_EQ(s.value(), !s.initially) << name;
        s.toggle->click();
        EXPECT_EQ(s.value(), s.initially) << name;
        EXPECT_EQ(changes, 2) << name;
    }
    UserSettings::setValue(UserSettings::recordSelectedTextKey, u"sometimes"_s);
    window->reload();
    EXPECT_FALSE(UserSettings::recordSelectedText());
    EXPECT_FALSE(window->selectedTextSection()->recordToggle()->isChecked());
}

// The synced size is measured, and every value read again, when the window is shown, not while it
// stays open: a window opened again shows what changed meanwhile.
TEST_F(SettingsWindowTest, SyncedSizeIsMeasuredWhenShown) {
    insertSynced(text(QString(5000, QLatin1Char('x'))));
    openWindow();
    QLabel& storage = *window->syncSection()->storageLabel();
    const qint64 first = store->syncedBytes();
    ASSERT_GT(first, 0);
    EXPECT_EQ(storage.text(), QLocale().formattedDataSize(first, 1, QLocale::DataSizeSIFormat));

    insertSynced(text(QString(9000, QLatin1Char('y'))));
    EXPECT_EQ(storage.text(), QLocale().formattedDataSize(first, 1, QLocale::DataSizeSIFormat));
    window->hide();
    UserSettings::setValue(QString::fromLatin1(UserSettings::hotKeyKey), u"Ctrl+Shift+K"_s);
    UserSettings::setValue(QString::fromLatin1(UserSettings::syncEnabledKey), false);
    ASSERT_TRUE(LaunchAtLogin::setEnabled(true));
    window->show();
    EXPECT_EQ(recorder().title(), u"Ctrl+Shift+K"_s);
    EXPECT_FALSE(syncToggle().isChecked());
    EXPECT_TRUE(window->launchAtLoginToggle()->isChecked());
    EXPECT_EQ(storage.text(),
              QLocale().formattedDataSize(store->syncedBytes(), 1, QLocale::DataSizeSIFormat));
}

// Where the desktop runs the hot key, the row that says how is added to an open window, which
// grows to hold it instead of squeezing the other sections.
TEST_F(SettingsWindowTest, TheDesktopShortcutRowFitsWithoutSqueezingTheForm) {
    openWindow();
    window->showDesktopShortcut(DesktopShortcut::Desktop::sway);
    EXPECT_TRUE(waitUntil([this] { return window->height() >= window->sizeHint().height(); }, 2000))
        << window->height() << " < " << window->sizeHint().height();
}

} // namespace
} // namespace snipjar::test
