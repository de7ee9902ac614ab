#include "PanelFonts.h"

#include <QApplication>

namespace snipjar {

namespace {

QFont sized(int pixelSize, QFont::Weight weight = QFont::Normal) {
    QFont font = QApplication::font();
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    return font;
}

} // namespace

QFont PanelFonts::title2() {
    return sized(22);
}

QFont PanelFonts::headline() {
    return sized(13, QFont::DemiBold);
}

QFont PanelFonts::body() {
    return sized(13);
}

QFont PanelFonts::callout() {
    return sized(12);
}

QFont PanelFonts::caption() {
    return sized(11);
}

QFont PanelFonts::caption2() {
    return sized(10);
}

} // namespace snipjar
