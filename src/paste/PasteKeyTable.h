#pragma once

#include "platform/KeySynthesizer.h"

#include <QString>

#include <optional>

namespace snipjar {

// Which keystroke pastes the clipboard in a window, by its WM_CLASS (class or instance name,
// compared without regard to case). Most applications paste with Ctrl+V. In a terminal emulator
// Ctrl+V is a control character, so most of them paste with Ctrl+Shift+V; xterm and the rxvt
// family bind nothing to the clipboard by default, and their Shift+Insert pastes the primary
// selection, so the clip must be put there as well.
//
// The user adds or overrides entries in the settings file, one per class:
// pasteKeys/<WM_CLASS>=Ctrl+V, Ctrl+Shift+V or Shift+Insert. A value that is none of these is
// ignored (with a log line) and the built-in entry applies. Read anew at every lookup.
class PasteKeyTable {
public:
    // By the user's entry for the class or the instance name, else by the built-in ones.
    static PasteKeystroke keystrokeFor(const QString& windowClass, const QString& instanceName = {});
    // The built-in entry alone, without the user's.
    static PasteKeystroke defaultKeystrokeFor(const QString& windowClass);
    // "Ctrl+V", "Ctrl+Shift+V", "Shift+Insert" (any case, spaces and modifier order ignored).
    static std::optional<PasteKeystroke> parse(const QString& text);
    // The keystroke in the form parse() reads.
    static QString text(PasteKeystroke keystroke);

private:
    // The user's entry for one name, when there is one that reads as a keystroke.
    static std::optional<PasteKeystroke> userKeystrokeFor(const QString& name);
};

} // namespace snipjar
