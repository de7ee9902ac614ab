#include "MacChip.h"

#include "PanelFonts.h"
#include "PanelPalette.h"

#include <QPainter>

namespace snipjar {

namespace {

constexpr int paddingX = 9;
constexpr int paddingY = 3;

} // namespace

MacChip::MacChip(const QString& name, QWidget* parent)
    : QAbstractButton(parent) {
    setText(name);
    setFont(PanelFonts::caption());
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::NoFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void MacChip::setSelected(bool newSelected) {
    if (newSelected != selected) {
        selected = newSelected;
        // Screen readers hear the current chip as checked.
        setCheckable(true);
        setChecked(selected);
        update();
    }
}

QSize MacChip::sizeHint() const {
    const QFontMetrics metrics(font());
    return {metrics.horizontalAdvance(text()) + 2 * paddingX, metrics.height() + 2 * paddingY};
}

void MacChip::paintEvent(QPaintEvent*) {
    const PanelPalette& palette = PanelPalette::instance();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(selected ? palette.accentSelection : palette.secondaryFill);
    const qreal radius = height() / 2.0;
    painter.drawRoundedRect(QRectF(rect()), radius, radius);
    painter.setPen(selected ? palette.primary : palette.secondary);
    painter.drawText(rect(), Qt::AlignCenter, text());
}

} // namespace snipjar
