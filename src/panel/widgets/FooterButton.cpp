#include "FooterButton.h"

#include "PanelFonts.h"
#include "PanelPalette.h"
#include "PanelSymbols.h"

#include <QPainter>

namespace snipjar {

namespace {

constexpr int paddingX = 8;
constexpr int paddingY = 3;
constexpr int symbolSize = 12;
constexpr int symbolGap = 4;

} // namespace

FooterButton::FooterButton(QWidget* parent)
    : QAbstractButton(parent) {
    setFont(PanelFonts::caption());
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void FooterButton::setLook(const QString& symbol, const QString& label, const QColor& newColour,
                           bool newDestructive) {
    symbolName = symbol;
    colour = newColour;
    destructive = newDestructive;
    QFont font = PanelFonts::caption();
    font.setWeight(destructive ? QFont::DemiBold : QFont::Normal);
    setFont(font);
    setText(label);
    updateGeometry();
    update();
}

QSize FooterButton::sizeHint() const {
    const QFontMetrics metrics(font());
    return {paddingX * 2 + symbolSize + symbolGap + metrics.horizontalAdvance(text()),
            paddingY * 2 + std::max(symbolSize, metrics.height())};
}

void FooterButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (destructive) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(PanelPalette::instance().destructive);
        painter.drawRoundedRect(QRectF(rect()), 5, 5);
    }
    const QRect symbolRect(paddingX, (height() - symbolSize) / 2, symbolSize, symbolSize);
    painter.drawPixmap(symbolRect.topLeft(),
                       panelSymbolPixmap(symbolName, symbolSize, colour, devicePixelRatioF()));
    painter.setPen(colour);
    painter.drawText(rect().adjusted(symbolRect.right() + 1 + symbolGap, 0, -paddingX, 0),
                     Qt::AlignLeft | Qt::AlignVCenter, text());
}

} // namespace snipjar
