#include "RowDelegate.h"

#include "PanelFonts.h"
#include "PanelPalette.h"
#include "PanelSymbols.h"
#include "panel/PanelModel.h"
#include "paste/HotKeyCombo.h"
#include "paste/KeyComboText.h"

#include <QPainter>
#include <QPainterPath>
#include <QTextOption>

namespace snipjar {

namespace {

constexpr int outerInset = 6;
constexpr int contentInsetX = 10;
constexpr int contentInsetY = 7;
constexpr int spacing = 8;
constexpr qreal rowRadius = 7;
constexpr int badgePaddingX = 4;
constexpr int badgePaddingY = 2;
constexpr int pinSide = 12;

// The widest of the nine badges, so the column is the same for every row.
int badgeColumnWidth() {
    static const int width = [] {
        const QFontMetrics metrics(PanelFonts::caption2());
        int widest = 0;
        for (int position = 0; position < RowDelegate::badgeCount; ++position) {
            widest = std::max(widest, metrics.horizontalAdvance(RowDelegate::badgeText(position)));
        }
        return widest + 2 * badgePaddingX;
    }();
    return width;
}

QString kindSymbol(const PanelRow& row) {
    if (row.concealed) {
        return QStringLiteral("key.fill");
    }
    switch (row.kind) {
    case ClipKind::text:
        return QStringLiteral("text.alignleft");
    case ClipKind::richText:
        return QStringLiteral("textformat");
    case ClipKind::image:
        return QStringLiteral("photo");
    case ClipKind::file:
        return row.fileCount > 1 ? QStringLiteral("doc.on.doc") : QStringLiteral("doc");
    case ClipKind::unknown:
        break;
    }
    return QStringLiteral("questionmark.square.dashed");
}

} // namespace

RowDelegate::RowDelegate(PanelModel& model, QObject* parent)
    : QStyledItemDelegate(parent)
    , model(model) {}

QString RowDelegate::badgeText(int position) {
    if (position < 0 || position >= badgeCount) {
        return {};
    }
    return keyComboText(HotKeyCombo::commandBit, QString::number(position + 1));
}

QRect RowDelegate::backgroundRect(const QRect& itemRect) {
    return itemRect.adjusted(outerInset, 0, -outerInset, 0);
}

namespace {

QRect contentRect(const QRect& itemRect) {
    return RowDelegate::backgroundRect(itemRect).adjusted(contentInsetX, contentInsetY, -contentInsetX,
                                                          -contentInsetY);
}

} // namespace

QRect RowDelegate::badgeRect(const QRect& itemRect) {
    const QRect content = contentRect(itemRect);
    const int height = QFontMetrics(PanelFonts::caption2()).height() + 2 * badgePaddingY;
    return {content.left(), content.center().y() - height / 2, badgeColumnWidth(), height};
}

QRect RowDelegate::iconRect(const QRect& itemRect) {
    const QRect content = contentRect(itemRect);
    return {badgeRect(itemRect).right() + 1 + spacing, content.center().y() - iconSide / 2 + 1, iconSide,
            iconSide};
}

QRect RowDelegate::pinRect(const QRect& itemRect) {
    const QRect content = contentRect(itemRect);
    return {content.right() + 1 - pinSide, content.center().y() - pinSide / 2 + 1, pinSide, pinSide};
}

QRect RowDelegate::titleRect(const QRect& itemRect) {
    const QRect content = contentRect(itemRect);
    const int left = iconRect(itemRect).right() + 1 + spacing;
    // The flexible space before the pin is at least 4 wide.
    const int right = pinRect(itemRect).left() - 4;
    return {left, content.top(), std::max(0, right - left), content.height()};
}

QSize RowDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const {
    return {option.rect.width(), rowHeight};
}

void RowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                        const QModelIndex& index) const {
    if (index.row() >= model.visibleCount()) {
        return;
    }
    const PanelRow& row = model.visibleRow(index.row());
    const bool selected = index.row() == model.selection();
    const PanelPalette& palette = PanelPalette::instance();
    const QRect item = option.rect;
    const qreal dpr = painter->device()->devicePixelRatioF();

    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    if (selected) {
        painter->setPen(Qt::NoPen);
        painter->setBrush(palette.accentSelection);
        painter->drawRoundedRect(QRectF(backgroundRect(item)), rowRadius, rowRadius);
    }

    if (const QString badge = badgeText(index.row()); !badge.isEmpty()) {
        const QRect badgeArea = badgeRect(item);
        painter->setPen(Qt::NoPen);
        painter->setBrush(palette.quaternary);
        painter->drawRoundedRect(QRectF(badgeArea), 4, 4);
        painter->setFont(PanelFonts::caption2());
        painter->setPen(selected ? palette.primary : palette.secondary);
        painter->drawText(badgeArea, Qt::AlignCenter, badge);
    }

    paintIcon(*painter, row, iconRect(item), dpr);

    const QRect title = titleRect(item);
    painter->setFont(PanelFonts::body());
    painter->setPen(palette.primary);
    const QString text = index.data(Qt::DisplayRole).toString();
    // A right-to-left title (Hebrew, Arabic) reads from the column's right edge, in its own
    // direction: the leading edge follows the text's direction. Its end is elided like any other's.
    QTextOption layout(Qt::AlignVCenter | Qt::AlignLeading);
    layout.setTextDirection(text.isRightToLeft() ? Qt::RightToLeft : Qt::LeftToRight);
    layout.setWrapMode(QTextOption::NoWrap);
    painter->drawText(QRectF(title), painter->fontMetrics().elidedText(text, Qt::ElideRight, title.width()),
                      layout);

    if (row.pinned) {
        painter->drawPixmap(pinRect(item).topLeft(),
                            panelSymbolPixmap(QStringLiteral("pin.fill"), pinSide,
                                              selected ? palette.primary : palette.accent, dpr));
    }
    painter->restore();
}

void RowDelegate::paintIcon(QPainter& painter, const PanelRow& row, const QRect& target,
                            qreal devicePixelRatio) const {
    // Until its thumbnail is loaded, an image row shows the kind's symbol.
    const std::optional<QImage> image =
        !row.concealed && row.kind == ClipKind::image ? model.thumbnail(row.id) : std::nullopt;
    if (image) {
        const QPixmap thumbnail = thumbnails.thumbnail(row.id, *image, iconSide, devicePixelRatio);
        if (!thumbnail.isNull()) {
            painter.drawPixmap(target.topLeft(), thumbnail);
            return;
        }
    }
    painter.drawPixmap(
        target.topLeft(),
        panelSymbolPixmap(kindSymbol(row), iconSide, PanelPalette::instance().secondary, devicePixelRatio));
}

} // namespace snipjar
