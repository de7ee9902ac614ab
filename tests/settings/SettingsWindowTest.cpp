#include "app/settings/SettingsWindow.h"
#include "ClipStoreTestSupport.h"
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

// The window over a real store on temporary folders, counting the announcements it makes.
class SettingsWindowTest : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        // This test program runs from the build folder; it stands in for an installed `snipjar`.
        LaunchAtLogin::overrideInstalledCommand(QCoreApplication::applicationFilePath());
        auto& events = SettingsEvents::instance();
        QObject::connect(&events, &SettingsEvents::hotKeyChanged, &listener, [this] { ++hotKeyChanges; });
        QObject::connect(&events, &SettingsEvents::syncEnabledChanged, &listener, [this] { ++syncChanges; });
        QObject::connect(&events, &SettingsEvents::limitsChanged, &listener, [this] { ++limitsChanges; });
        QObject::connect(&events, &SettingsEvents::launchAtLoginChanged, &listener,
                         [this] { ++loginChanges; });
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
            ClipItem item =
                ClipItem::fromClip(text(QStringLiteral("clip %1").arg(index)), std::nullopt, thisMac);
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
    int syncChanges = 0;
    int limitsChanges = 0;
    int loginChanges = 0;
};

// With nothing stored, the window shows the documented defaults.
TEST_F(SettingsWindowTest, ShowsTheDefaultsOfAnEmptySettingsFile) {
    openWindow();
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Snipjar Settings"));
    // 420 wide, and tall enough for the whole form without squeezing a row.
    EXPECT_EQ(window->width(), 420);
    EXPECT_GE(window->height(), 700);
    EXPECT_GE(window->height(), window->sizeHint().height());
    EXPECT_EQ(stepper().text(), QStringLiteral("100"));
    EXPECT_EQ(retention().currentText(), QStringLiteral("7 days"));
    EXPECT_EQ(recorder().title(), QStringLiteral("Ctrl+Alt+V"));
    EXPECT_TRUE(syncToggle().isChecked());
    EXPECT_TRUE(window->clipboardSection()->keepClipboardToggle()->isChecked());
    EXPECT_FALSE(window->launchAtLoginToggle()->isChecked());
    EXPECT_FALSE(QFileInfo::exists(UserSettings::filePath()));
}

// A hand-edited file with values of the wrong kind or out of range reads as the defaults, and
// the window shows them.
TEST_F(SettingsWindowTest, BadHandEditedValuesReadAsTheDefaults) {
    AppPaths::ensurePrivateFolder(AppPaths::configFolder());
    QFile file(UserSettings::filePath());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[General]\nhistoryLength=lots\nretentionDays=-3\nmaxStoreBytes=0x10\nsyncEnabled=maybe\n"
               "hotKey=Ctrl+Banana+V\ndidOnboard=perhaps\ndidConfigureLoginItem=soon\nmenuClipLimit=31\n"
               "maxCaptureRepBytes=-1\n");
    file.close();

    EXPECT_EQ(UserSettings::maxStoreBytes(), 500'000'000);
    EXPECT_FALSE(UserSettings::didOnboard());
    EXPECT_EQ(UserSettings::didConfigureLoginItem(), std::nullopt);
    EXPECT_EQ(UserSettings::menuClipLimit(), 15);
    EXPECT_EQ(UserSettings::maxCaptureRepBytes(), 300'000'000);

    openWindow();
    EXPECT_EQ(stepper().text(), QStringLiteral("100"));
    EXPECT_EQ(retention().currentText(), QStringLiteral("7 days"));
    EXPECT_EQ(recorder().title(), QStringLiteral("Ctrl+Alt+V"));
    EXPECT_TRUE(syncToggle().isChecked());
}

// Values that the store accepts but the controls do not offer are shown as they are and kept
// until the user changes them.
TEST_F(SettingsWindowTest, ValuesOutsideTheChoicesStayUntilChanged) {
    UserSettings::setValue(QString::fromLatin1(UserSettings::historyLengthKey), 500);
    UserSettings::setValue(QString::fromLatin1(UserSettings::retentionDaysKey), 14);
    UserSettings::setValue(QString::fromLatin1(UserSettings::hotKeyKey), QStringLiteral("super+alt+k"));
    openWindow();

    EXPECT_EQ(stepper().text(), QStringLiteral("500"));
    EXPECT_EQ(retention().currentIndex(), -1);
    EXPECT_EQ(recorder().title(), QStringLiteral("Alt+Super+K"));
    EXPECT_EQ(inFile(UserSettings::historyLengthKey).toInt(), 500);

    QTest::mouseClick(window->findChild<QToolButton*>(QStringLiteral("historyLengthDown")), Qt::LeftButton);
    EXPECT_EQ(inFile(UserSettings::historyLengthKey).toInt(), 250);
}

// A shorter history is written and applied at once: the oldest own clips go now, not at the next
// copy, and the change is announced.
TEST_F(SettingsWindowTest, HistoryLengthTrimsTheStoreAtOnce) {
    const QList<ClipItem> items = fillOwn(60, 3600);
    openWindow();
    QTest::mouseClick(window->findChild<QToolButton*>(QStringLiteral("historyLengthDown")), Qt::LeftButton);

    EXPECT_EQ(inFile(UserSettings::historyLengthKey).toInt(), 50);
    EXPECT_EQ(stepper().text(), QStringLiteral("50"));
    EXPECT_EQ(limitsChanges, 1);
    const QList<ClipItem> kept = syncItems();
    ASSERT_EQ(kept.size(), 50);
    EXPECT_EQ(kept.constLast().id, items[10].id);
    EXPECT_EQ(kept.constFirst().id, items.constLast().id);
}

// A shorter retention is written and applied at once.
TEST_F(SettingsWindowTest, RetentionTrimsTheStoreAtOnce) {
    UserSettings::setValue(QString::fromLatin1(UserSettings::retentionDaysKey), 90);
    const QList<ClipItem> old = fillOwn(1, 40 * ClipStore::secondsPerDay);
    const QList<ClipItem> recent = fillOwn(1, 3 * ClipStore::secondsPerDay);
    openWindow();
    ASSERT_EQ(retention().currentText(), QStringLiteral("90 days"));

    retention().setFocus();
    QTest::keyClick(&retention(), Qt::Key_Up);

    EXPECT_EQ(retention().currentText(), QStringLiteral("30 days"));
    EXPECT_EQ(inFile(UserSettings::retentionDaysKey).toInt(), 30);
    EXPECT_EQ(limitsChanges, 1);
    const QList<ClipItem> kept = syncItems();
    ASSERT_EQ(kept.size(), 1);
    EXPECT_EQ(kept[0].id, recent[0].id);
}

// A recorded shortcut is stored in the symbol form and announced; a taken one changes nothing.
TEST_F(SettingsWindowTest, ARecordedShortcutIsStoredAndAnnounced) {
    takenCombos.append(*HotKeyCombo::parseLinuxForm(QStringLiteral("Ctrl+Alt+T")));
    openWindow();

    QTest::mouseClick(recorder().button(), Qt::LeftButton);
    QTest::keyClick(recorder().button(), Qt::Key_T, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_FALSE(inFile(UserSettings::hotKeyKey).isValid());
    EXPECT_EQ(hotKeyChanges, 0);

    QTest::mouseClick(recorder().button(), Qt::LeftButton);
    QTest::keyClick(recorder().button(), Qt::Key_K, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(inFile(UserSettings::hotKeyKey).toString(), QStringLiteral("⇧⌘K"));
    EXPECT_EQ(hotKeyChanges, 1);
    EXPECT_EQ(ShortcutSection::storedCombo().linuxDisplayString(), QStringLiteral("Ctrl+Shift+K"));
}

// Each switch (sync, keeping the clipboard) is written and announced, each time it is flipped.
TEST_F(SettingsWindowTest, SwitchesAreWrittenAndAnnouncedEachTime) {
    openWindow();
    syncToggle().click();
    EXPECT_EQ(inFile(UserSettings::syncEnabledKey).toBool(), false);
    EXPECT_FALSE(UserSettings::syncEnabled());
    syncToggle().click();
    EXPECT_EQ(inFile(UserSettings::syncEnabledKey).toBool(), true);
    EXPECT_EQ(syncChanges, 2);

    int keepChanges = 0;
    QObject::connect(&SettingsEvents::instance(), &SettingsEvents::keepClipboardChanged, &listener,
                     [&] { ++keepChanges; });
    window->clipboardSection()->keepClipboardToggle()->click();
    EXPECT_EQ(inFile(UserSettings::keepClipboardKey).toBool(), false);
    EXPECT_FALSE(UserSettings::keepClipboard());
    EXPECT_EQ(keepChanges, 1);
}

// Recording selected text is off until switched on; each switch is written and announced, and a
// value edited by hand that is no yes or no reads as off.
TEST_F(SettingsWindowTest, SelectedTextSwitchIsWrittenAndAnnouncedEachTime) {
    int changes = 0;
    QObject::connect(&SettingsEvents::instance(), &SettingsEvents::recordSelectedTextChanged, &listener,
                     [&] { ++changes; });
    openWindow();
    QCheckBox& toggle = *window->selectedTextSection()->recordToggle();
    EXPECT_EQ(toggle.text(), QStringLiteral("Also record selected text"));
    EXPECT_FALSE(toggle.isChecked());
    toggle.click();
    EXPECT_EQ(inFile(UserSettings::recordSelectedTextKey).toBool(), true);
    EXPECT_TRUE(UserSettings::recordSelectedText());
    toggle.click();
    EXPECT_FALSE(UserSettings::recordSelectedText());
    EXPECT_EQ(changes, 2);

    UserSettings::setValue(UserSettings::recordSelectedTextKey, QStringLiteral("sometimes"));
    window->reload();
    EXPECT_FALSE(UserSettings::recordSelectedText());
    EXPECT_FALSE(toggle.isChecked());
}

// The login toggle writes and removes the autostart entry and shows what it holds.
TEST_F(SettingsWindowTest, LaunchAtLoginFollowsTheAutostartEntry) {
    openWindow();
    window->launchAtLoginToggle()->click();
    EXPECT_TRUE(LaunchAtLogin::isEnabled());
    EXPECT_EQ(loginChanges, 1);
    window->launchAtLoginToggle()->click();
    EXPECT_FALSE(QFileInfo::exists(LaunchAtLogin::entryPath()));
    EXPECT_EQ(loginChanges, 2);
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
    UserSettings::setValue(QString::fromLatin1(UserSettings::hotKeyKey), QStringLiteral("Ctrl+Shift+K"));
    UserSettings::setValue(QString::fromLatin1(UserSettings::syncEnabledKey), false);
    ASSERT_TRUE(LaunchAtLogin::setEnabled(true));
    window->show();
    EXPECT_EQ(recorder().title(), QStringLiteral("Ctrl+Shift+K"));
    EXPECT_FALSE(syncToggle().isChecked());
    EXPECT_TRUE(window->launchAtLoginToggle()->isChecked());
    EXPECT_EQ(storage.text(),
              QLocale().formattedDataSize(store->syncedBytes(), 1, QLocale::DataSizeSIFormat));

    // A picture of the window for a person to look at, when asked for.
    const QByteArray snapshot = qgetenv("SNIPJAR_SETTINGS_SNAPSHOT");
    if (!snapshot.isEmpty()) {
        window->grab().save(QString::fromLocal8Bit(snapshot));
    }
}

} // namespace
} // namespace snipjar::test
