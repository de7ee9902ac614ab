#include "app/tray/MenuDrillRow.h"

#include "panel/widgets/PanelSymbols.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

namespace snipjar {

MenuDrillRow::MenuDrillRow(const QString& title, const QString& symbol, Chevron chevron,
                           std::function<void()> onClick, QWidget* parent)
    : QWidget(parent)
    , icon(new QLabel(this))
    , titleLabel(new QLabel(title, this))
    , symbol(symbol)
    , onClick(std::move(onClick)) {
    setMinimumSize(rowSize);
    setMouseTracking(true);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(14, 0, 12, 0);
    layout->setSpacing(8);
    icon->setFixedSize(14, 14);
    layout->addWidget(icon);
    titleLabel->setTextFormat(Qt::PlainText);
    layout->addWidget(titleLabel, 1);
    if (chevron == Chevron::shown) {
        chevronLabel = new QLabel(this);
        chevronLabel->setFixedSize(12, 12);
        layout->addWidget(chevronLabel);
    }
    // The row answers the mouse as a whole.
    for (QLabel* label : findChildren<QLabel*>()) {
        label->setAttribute(Qt::WA_TransparentForMouseEvents);
    }
    updateColours();
}

QString MenuDrillRow::title() const {
    return titleLabel->text();
}

void MenuDrillRow::setHighlighted(bool on) {
    if (highlighted != on) {
        highlighted = on;
        updateColours();
        update();
    }
}

void MenuDrillRow::updateColours() {
    const QColor text = palette().color(highlighted ? QPalette::HighlightedText : QPalette::Text);
    QColor tertiary = palette().color(QPalette::Text);
    tertiary.setAlphaF(0.45);
    QPalette labelPalette = titleLabel->palette();
    labelPalette.setColor(QPalette::WindowText, text);
    titleLabel->setPalette(labelPalette);
    const qreal ratio = devicePixelRatioF();
    icon->setPixmap(panelSymbolPixmap(symbol, 14, text, ratio));
    if (chevronLabel) {
        chevronLabel->setPixmap(
            panelSymbolPixmap(QStringLiteral("chevron.right"), 12, highlighted ? text : tertiary, ratio));
    }
}

void MenuDrillRow::click() {
    if (onClick) {
        onClick();
    }
}

void MenuDrillRow::enterEvent(QEnterEvent*) {
    setHighlighted(true);
}

void MenuDrillRow::leaveEvent(QEvent*) {
    setHighlighted(false);
}

void MenuDrillRow::mousePressEvent(QMouseEvent* event) {
    // Taken, so that the menu does not treat the press as a click on an ordinary item.
    event->accept();
}

void MenuDrillRow::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
    if (rect().contains(event->position().toPoint())) {
        click();
    }
}

void MenuDrillRow::paintEvent(QPaintEvent*) {
    if (!highlighted) {
        return;
    }
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()).adjusted(5, 1, -5, -1), 5, 5);
    painter.fillPath(shape, palette().color(QPalette::Highlight));
}

} // namespace snipjar
