#pragma once

#include "app/settings/SettingsSection.h"
#include "app/settings/ShortcutRecorder.h"

namespace snipjar {

// "Shortcut": the recorder for the global hot key. A recorded combination is stored under
// "hotKey" in its symbol form (⌥⌘V) and announced, and the shell registers it.
class ShortcutSection : public SettingsSection {
    Q_OBJECT
public:
    ShortcutSection(ShortcutRecorder::TryRegister tryRegister, QWidget* parent = nullptr);

    ShortcutRecorder* recorder() const { return shortcutRecorder; }
    void reload();

    // The combination the settings hold: the default ⌥⌘V when there is none or it is unreadable.
    static HotKeyCombo storedCombo();

private:
    void comboRecorded(const HotKeyCombo& combo);

    ShortcutRecorder* shortcutRecorder = nullptr;
};

} // namespace snipjar
