#pragma once

#include "ThumbnailCache.h"

#include <QStyledItemDelegate>

namespace snipjar {

class PanelModel;
struct PanelRow;

// Paints one row of the result list: the selection fill, the Ctrl+N shortcut badge of the first
// nine rows, the kind icon or thumbnail, the one-line title and the pin. The geometry helpers are
// public so that callers (and tests) can see where each part lands without painting.
class RowDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    static constexpr int rowHeight = 34;
    static constexpr int iconSide = 20;
    // Rows from this position on have no shortcut.
    static constexpr int badgeCount = 9;

    explicit RowDelegate(PanelModel& model, QObject* parent = nullptr);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    // The shortcut text of the row at `position`, empty from the tenth row on: "Ctrl+1".
    static QString badgeText(int position);
    // The rounded selection fill inside the item's rectangle.
    static QRect backgroundRect(const QRect& itemRect);
    // The badge column; every row reserves it, with or without a badge, so the titles line up.
    static QRect badgeRect(const QRect& itemRect);
    static QRect iconRect(const QRect& itemRect);
    // The title's line, up to the pin (which every row leaves room for).
    static QRect titleRect(const QRect& itemRect);
    static QRect pinRect(const QRect& itemRect);

private:
    void paintIcon(QPainter& painter, const PanelRow& row, const QRect& target, qreal devicePixelRatio) const;

    PanelModel& model;
    mutable ThumbnailCache thumbnails;
};

} // namespace snipjar
