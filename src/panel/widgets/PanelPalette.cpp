#include "PanelPalette.h"

#include <QApplication>
#include <QPalette>
#include <QWidget>

namespace snipjar {

namespace {

QColor withAlpha(QColor colour, qreal alpha) {
    colour.setAlphaF(float(colour.alphaF() * alpha));
    return colour;
}

PanelPalette make() {
    const QPalette palette = QApplication::palette();
    const QColor text = palette.color(QPalette::Active, QPalette::Text);
    PanelPalette made;
    made.primary = withAlpha(text, 0.85);
    made.secondary = withAlpha(text, 0.5);
    made.tertiary = withAlpha(text, 0.26);
    made.quaternary = withAlpha(text, 0.1);
    made.accent = palette.color(QPalette::Active, QPalette::Highlight);
    made.accentSelection = withAlpha(made.accent, 0.45);
    made.secondaryFill = withAlpha(made.secondary, 0.14);
    made.destructive = QColor(0xFF, 0x3B, 0x30);
    return made;
}

} // namespace

const PanelPalette& PanelPalette::instance() {
    static const PanelPalette palette = make();
    return palette;
}

void setForeground(QWidget& widget, const QColor& colour) {
    QPalette palette = widget.palette();
    palette.setColor(QPalette::WindowText, colour);
    palette.setColor(QPalette::Text, colour);
    widget.setPalette(palette);
}

} // namespace snipjar
