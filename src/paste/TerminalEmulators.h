#pragma once

#include <QString>

namespace snipjar {

// True when a window class (WM_CLASS class or instance name) belongs to a terminal emulator, where
// Ctrl+V is a control character and pasting is Ctrl+Shift+V. Compared without regard to case.
bool isTerminalEmulator(const QString& windowClass);

} // namespace snipjar
