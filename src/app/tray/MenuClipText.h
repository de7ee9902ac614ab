#pragma once

#include <QIcon>
#include <QString>

class QFontMetrics;

namespace snipjar {

struct ClipItem;

// How a clip reads and looks as a line of the tray menu.
struct MenuClipText {
    // The widest a clip's title may be in the menu, in pixels.
    static constexpr int titleWidth = 270;

    // The first 500 characters of the title on one line: every run of white space and line
    // breaks becomes one space, control characters go, and spaces and tabs at both ends are
    // trimmed. A secret reads as six bullets.
    static QString oneLine(const ClipItem& item);
    // oneLine cut to titleWidth in the given font, with a trailing "…" when it was cut.
    static QString title(const ClipItem& item, const QFontMetrics& metrics);
    // The clip's kind symbol, or its thumbnail (never enlarged beyond 16 pixels).
    static QIcon icon(const ClipItem& item);
};

} // namespace snipjar
