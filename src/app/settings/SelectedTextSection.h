#pragma once

#include "app/settings/SettingsSection.h"

class QCheckBox;

namespace snipjar {

// Whether the text selected with the mouse is recorded as well as what is copied. The switch is
// written under "recordSelectedText" and announced; the shell starts or stops recording at once.
class SelectedTextSection : public SettingsSection {
    Q_OBJECT
public:
    explicit SelectedTextSection(QWidget* parent = nullptr);

    QCheckBox* recordToggle() const { return toggle; }

    void reload();

private:
    void recordToggled(bool enabled);

    QCheckBox* toggle = nullptr;
};

} // namespace snipjar
