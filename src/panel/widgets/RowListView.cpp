#include "RowListView.h"

#include "RowDelegate.h"
#include "VisibleRowsModel.h"
#include "panel/PanelModel.h"

#include <QScrollBar>
#include <QVariantAnimation>

namespace snipjar {

namespace {

constexpr int scrollDuration = 100;

} // namespace

RowListView::RowListView(PanelModel& model, ResultsCallbacks callbacks, QWidget* parent)
    : QListView(parent)
    , panelModel(model)
    , callbacks(std::move(callbacks))
    , rows(new VisibleRowsModel(model, this))
    , delegate(new RowDelegate(model, this))
    , scrollAnimation(new QVariantAnimation(this)) {
    setModel(rows);
    setItemDelegate(delegate);
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::NoSelection);
    // Keys belong to the panel controller, which drives the selection through the model.
    setFocusPolicy(Qt::NoFocus);
    setFrameShape(QFrame::NoFrame);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    // The glass behind shows through: neither the view nor its viewport fills a background.
    setAutoFillBackground(false);
    viewport()->setAutoFillBackground(false);

    scrollAnimation->setDuration(scrollDuration);
    scrollAnimation->setEasingCurve(QEasingCurve::OutCubic);
    connect(scrollAnimation, &QVariantAnimation::valueChanged, this,
            [this](const QVariant& value) { verticalScrollBar()->setValue(value.toInt()); });

    connect(this, &QListView::clicked, this, [this](const QModelIndex& index) {
        if (this->callbacks.onSelectRow) {
            this->callbacks.onSelectRow(index.row());
        }
    });
    connect(this, &QListView::doubleClicked, this, [this](const QModelIndex& index) {
        if (this->callbacks.onPasteRow) {
            this->callbacks.onPasteRow(index.row());
        }
    });
    connect(&model, &PanelModel::selectionChanged, this, [this] {
        viewport()->update();
        mirrorSelection();
        centreSelection(true);
    });
    connect(rows, &QAbstractItemModel::modelReset, this, [this] {
        mirrorSelection();
        centreSelection(false);
    });
    // A thumbnail that arrives is painted in place of its row's symbol.
    connect(&model, &PanelModel::thumbnailLoaded, viewport(), qOverload<>(&QWidget::update));
}

void RowListView::mirrorSelection() {
    // The view's own selection model is what screen readers read (each row's selected state, and
    // the event the list sends when it changes); the rows are painted from the panel model's.
    const QModelIndex index = rows->index(panelModel.selection());
    if (!index.isValid()) {
        selectionModel()->clear();
    } else if (!selectionModel()->isSelected(index)) {
        selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    }
}

void RowListView::centreSelection(bool animated) {
    const QModelIndex index = rows->index(panelModel.selection());
    if (!index.isValid()) {
        return;
    }
    QScrollBar* bar = verticalScrollBar();
    // The view lays its rows out lazily; the item rectangle is valid once it has.
    executeDelayedItemsLayout();
    const QRect item = visualRect(index);
    const int target = std::clamp(bar->value() + item.center().y() - viewport()->height() / 2, bar->minimum(),
                                  bar->maximum());
    scrollAnimation->stop();
    if (!animated || !isVisible()) {
        bar->setValue(target);
        return;
    }
    scrollAnimation->setStartValue(bar->value());
    scrollAnimation->setEndValue(target);
    scrollAnimation->start();
}

} // namespace snipjar
