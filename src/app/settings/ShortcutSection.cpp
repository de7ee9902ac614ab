#include "app/settings/ShortcutSection.h"

#include "app/settings/DesktopShortcutRow.h"
#include "app/settings/SettingsEvents.h"
#include "platform/UserSettings.h"

#include <QLabel>
#include <QPushButton>

namespace snipjar {

ShortcutSection::ShortcutSection(ShortcutRecorder::TryRegister tryRegister, QWidget* parent)
    : SettingsSection(QStringLiteral("Shortcut"), parent) {
    shortcutRecorder = new ShortcutRecorder(std::move(tryRegister), this);
    shortcutRecorder->setObjectName(QStringLiteral("shortcutRecorder"));
    // The label stays level with the button when a line appears under it.
    QLabel* label = addRow(QStringLiteral("Open Snipjar"), shortcutRecorder, Qt::AlignTop);
    label->setMinimumHeight(shortcutRecorder->button()->sizeHint().height());
    setFootnote(QStringLiteral("Click to record. Needs Ctrl, Alt or Super."));

    reload();
    connect(shortcutRecorder, &ShortcutRecorder::comboRecorded, this, &ShortcutSection::comboRecorded);
}

HotKeyCombo ShortcutSection::storedCombo() {
    return HotKeyCombo::fromSettings();
}

void ShortcutSection::reload() {
    shortcutRecorder->setCombo(storedCombo());
    if (desktopRow) {
        desktopRow->setCombo(storedCombo(), false);
    }
}

void ShortcutSection::showDesktopShortcut(DesktopShortcut::Desktop desktop) {
    if (desktopRow) {
        return;
    }
    desktopRow = new DesktopShortcutRow(desktop, this);
    desktopRow->setObjectName(QStringLiteral("desktopShortcut"));
    addRow(desktopRow);
    // Shown now rather than at the next turn of the event loop, so that the window measures it.
    desktopRow->show();
    desktopRow->setCombo(storedCombo(), false);
}

void ShortcutSection::comboRecorded(const HotKeyCombo& combo) {
    UserSettings::setValue(QString::fromLatin1(UserSettings::hotKeyKey), combo.displayString());
    if (desktopRow) {
        desktopRow->setCombo(combo, true);
    }
    emit SettingsEvents::instance().hotKeyChanged();
}

} // namespace snipjar
