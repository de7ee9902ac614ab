#include "ResultsView.h"

#include "Divider.h"
#include "MacFilterRow.h"
#include "PreviewPane.h"
#include "RowListColumn.h"
#include "panel/PanelModel.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

namespace snipjar {

ResultsView::ResultsView(PanelModel& model, ResultsCallbacks callbacks, QWidget* parent)
    : QWidget(parent)
    , model(model)
    , macRow(new MacFilterRow(model, callbacks, this))
    , macDivider(new Divider(Qt::Horizontal, this))
    , list(new RowListColumn(model, callbacks, this))
    , preview(new PreviewPane(model, std::move(callbacks), this)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(macRow);
    layout->addWidget(macDivider);
    auto* split = new QHBoxLayout;
    split->setContentsMargins(0, 0, 0, 0);
    split->setSpacing(0);
    list->setFixedWidth(listWidth);
    split->addWidget(list);
    split->addWidget(new Divider(Qt::Vertical, this));
    split->addWidget(preview, 1);
    layout->addLayout(split, 1);

    connect(&model, &PanelModel::macsChanged, this, &ResultsView::refreshMacRow);
    refreshMacRow();
}

void ResultsView::refreshMacRow() {
    const bool shown = model.macs().size() >= 2;
    macRow->setVisible(shown);
    macDivider->setVisible(shown);
}

} // namespace snipjar
