#include "app/settings/ClipboardSection.h"

#include "app/settings/SettingsEvents.h"
#include "platform/UserSettings.h"

#include <QCheckBox>
#include <QSignalBlocker>

namespace snipjar {

ClipboardSection::ClipboardSection(QWidget* parent)
    : SettingsSection(QStringLiteral("Clipboard"), parent) {
    keepToggle = new QCheckBox(QStringLiteral("Keep the clipboard when its program quits"), this);
    keepToggle->setObjectName(QStringLiteral("keepClipboard"));
    addRow(keepToggle);
    setFootnote(QStringLiteral("What you copied stays on the clipboard after the program you copied it from "
                               "is closed. Passwords are never kept."));
    reload();
    connect(keepToggle, &QCheckBox::toggled, this, &ClipboardSection::keepToggled);
}

void ClipboardSection::reload() {
    const QSignalBlocker blocker(keepToggle);
    keepToggle->setChecked(UserSettings::keepClipboard());
}

void ClipboardSection::keepToggled(bool enabled) {
    UserSettings::setValue(QString::fromLatin1(UserSettings::keepClipboardKey), enabled);
    emit SettingsEvents::instance().keepClipboardChanged();
}

} // namespace snipjar
