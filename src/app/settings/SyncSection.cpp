#include "app/settings/SyncSection.h"

#include "app/settings/SettingsEvents.h"
#include "platform/UserSettings.h"

#include <QCheckBox>
#include <QLabel>
#include <QLocale>
#include <QSignalBlocker>

namespace snipjar {

SyncSection::SyncSection(QWidget* parent)
    : SettingsSection(QStringLiteral("Sync"), parent) {
    toggle = new QCheckBox(QStringLiteral("Sync across your computers"), this);
    toggle->setObjectName(QStringLiteral("syncEnabled"));
    addRow(toggle);

    storage = new QLabel(this);
    storage->setObjectName(QStringLiteral("syncedBytes"));
    makeSecondary(*storage, false);
    storage->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    // The figure is replaced as the window is shown; room for the usual sizes keeps the row from
    // being laid out again, and the text from being cut, at that moment.
    storage->setMinimumWidth(storage->fontMetrics().horizontalAdvance(QStringLiteral("888.8 MB ")));
    addRow(QStringLiteral("Storage used"), storage);

    setFootnote(QStringLiteral("Clipboard history syncs privately through your own sync server. Files and "
                               "secure items stay on this computer and don’t count."));

    showSyncedBytes(0);
    reload();
    connect(toggle, &QCheckBox::toggled, this, &SyncSection::syncToggled);
}

void SyncSection::reload() {
    const QSignalBlocker blocker(toggle);
    toggle->setChecked(UserSettings::syncEnabled());
}

void SyncSection::showSyncedBytes(qint64 bytes) {
    storage->setText(QLocale().formattedDataSize(bytes, 1, QLocale::DataSizeSIFormat));
}

void SyncSection::syncToggled(bool enabled) {
    UserSettings::setValue(QString::fromLatin1(UserSettings::syncEnabledKey), enabled);
    emit SettingsEvents::instance().syncEnabledChanged();
}

} // namespace snipjar
