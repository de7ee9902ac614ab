#include "SymbolLabel.h"

#include "PanelSymbols.h"

#include <QPainter>

namespace snipjar {

SymbolLabel::SymbolLabel(const QString& designName, int pixelSize, const QColor& colour, QWidget* parent)
    : QWidget(parent)
    , designName(designName)
    , pixelSize(pixelSize)
    , colour(colour) {
    setFixedSize(pixelSize, pixelSize);
}

void SymbolLabel::setSymbol(const QString& name) {
    if (name != designName) {
        designName = name;
        update();
    }
}

void SymbolLabel::setColour(const QColor& newColour) {
    if (newColour != colour) {
        colour = newColour;
        update();
    }
}

void SymbolLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.drawPixmap(0, 0, panelSymbolPixmap(designName, pixelSize, colour, devicePixelRatioF()));
}

} // namespace snipjar
