#include "app/settings/SelectedTextSection.h"

#include "app/settings/SettingsEvents.h"
#include "platform/UserSettings.h"

#include <QCheckBox>
#include <QSignalBlocker>

namespace snipjar {

SelectedTextSection::SelectedTextSection(QWidget* parent)
    : SettingsSection(QString(), parent) {
    toggle = new QCheckBox(QStringLiteral("Also record selected text"), this);
    toggle->setObjectName(QStringLiteral("recordSelectedText"));
    addRow(toggle);
    setFootnote(QStringLiteral("Text you select with the mouse is added once you finish selecting."));

    reload();
    connect(toggle, &QCheckBox::toggled, this, &SelectedTextSection::recordToggled);
}

void SelectedTextSection::reload() {
    const QSignalBlocker blocker(toggle);
    toggle->setChecked(UserSettings::recordSelectedText());
}

void SelectedTextSection::recordToggled(bool enabled) {
    UserSettings::setValue(QString::fromLatin1(UserSettings::recordSelectedTextKey), enabled);
    emit SettingsEvents::instance().recordSelectedTextChanged();
}

} // namespace snipjar
