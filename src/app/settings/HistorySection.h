#pragma once

#include "app/settings/SettingsSection.h"

class QComboBox;

namespace snipjar {

class ClipStore;
class HistoryLengthStepper;

// "History": how many items are kept and for how long. Each change is written to the settings at
// once and the store applies it at once, so a shorter history is trimmed while the window is open.
class HistorySection : public SettingsSection {
    Q_OBJECT
public:
    explicit HistorySection(ClipStore& store, QWidget* parent = nullptr);

    HistoryLengthStepper* lengthStepper() const { return stepper; }
    QComboBox* retentionPicker() const { return picker; }

    // Shows the values the settings hold now.
    void reload();

private:
    void historyLengthChosen(int length);
    void retentionChosen(int index);
    void applyLimits();

    ClipStore& store;
    HistoryLengthStepper* stepper = nullptr;
    QComboBox* picker = nullptr;
};

} // namespace snipjar
