#pragma once

#include <QFont>

namespace snipjar {

// The text styles of the panel, as sizes and weights of the application font.
struct PanelFonts {
    static QFont title2();   // the search text, 22 px
    static QFont headline(); // 13 px semibold
    static QFont body();     // 13 px, row titles
    static QFont callout();  // 12 px
    static QFont caption();  // 11 px
    static QFont caption2(); // 10 px, badges and hints
};

} // namespace snipjar
