#pragma once

#include <QString>
#include <QtGlobal>

namespace snipjar {

// Writes a key combination the way people on Linux read it: the modifiers in the order Ctrl, Alt,
// Shift, Super, then the key, joined by "+" ("Ctrl+Alt+V", "Ctrl+1", "Ctrl+Backspace"). The
// modifier bits are HotKeyCombo's (⌘ 0x100 is Ctrl, ⌥ 0x800 Alt, ⇧ 0x200 Shift, ⌃ 0x1000 Super).
// Every place that shows a combination to the user goes through this one function.
QString keyComboText(quint32 modifierBits, const QString& keyName);

} // namespace snipjar
