#pragma once

#include "app/settings/SettingsSection.h"

class QCheckBox;

namespace snipjar {

// The clipboard's own behaviour: whether the clipboard outlives the program that copied.
class ClipboardSection : public SettingsSection {
    Q_OBJECT
public:
    explicit ClipboardSection(QWidget* parent = nullptr);

    QCheckBox* keepClipboardToggle() const { return keepToggle; }
    void reload();

private:
    void keepToggled(bool enabled);

    QCheckBox* keepToggle = nullptr;
};

} // namespace snipjar
