#pragma once

#include "app/settings/SettingsSection.h"

class QCheckBox;
class QLabel;

namespace snipjar {

// "Sync": whether the history is kept in step through the user's sync server, and how much of it
// is synced. The switch is written under "syncEnabled" and announced; the shell starts or stops
// syncing.
class SyncSection : public SettingsSection {
    Q_OBJECT
public:
    explicit SyncSection(QWidget* parent = nullptr);

    QCheckBox* syncToggle() const { return toggle; }
    QLabel* storageLabel() const { return storage; }

    void reload();
    // The size of the synced history, as in "12.3 MB" (decimal units).
    void showSyncedBytes(qint64 bytes);

private:
    void syncToggled(bool enabled);

    QCheckBox* toggle = nullptr;
    QLabel* storage = nullptr;
};

} // namespace snipjar
