#pragma once

#include "app/settings/DesktopShortcut.h"
#include "app/settings/SettingsSection.h"
#include "app/settings/ShortcutRecorder.h"

namespace snipjar {

class DesktopShortcutRow;

// "Shortcut": the recorder for the global hot key. A recorded combination is stored under
// "hotKey" in its symbol form (⌥⌘V) and announced, and the shell registers it.
class ShortcutSection : public SettingsSection {
    Q_OBJECT
public:
    ShortcutSection(ShortcutRecorder::TryRegister tryRegister, QWidget* parent = nullptr);

    ShortcutRecorder* recorder() const { return shortcutRecorder; }
    void reload();
    // Where the desktop runs the hot key instead of Snipjar: says how to set it up there (once).
    void showDesktopShortcut(DesktopShortcut::Desktop desktop);
    DesktopShortcutRow* desktopShortcut() const { return desktopRow; }

    // The combination the settings hold: the default ⌥⌘V when there is none or it is unreadable.
    static HotKeyCombo storedCombo();

private:
    void comboRecorded(const HotKeyCombo& combo);

    ShortcutRecorder* shortcutRecorder = nullptr;
    DesktopShortcutRow* desktopRow = nullptr;
};

} // namespace snipjar
