#include "PreviewPane.h"

#include "Divider.h"
#include "PreviewContent.h"
#include "PreviewFooter.h"
#include "panel/PanelModel.h"

#include <QVBoxLayout>

namespace snipjar {

PreviewPane::PreviewPane(PanelModel& model, ResultsCallbacks callbacks, QWidget* parent)
    : QWidget(parent)
    , model(model)
    , divider(new Divider(Qt::Horizontal, this))
    , footerWidget(new PreviewFooter(std::move(callbacks), this)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(divider);
    layout->addWidget(footerWidget);

    connect(&model, &PanelModel::previewChanged, this, &PreviewPane::showPreview);
    connect(&model, &PanelModel::armedDeleteIDChanged, this, &PreviewPane::refreshDeleteArmed);
    // The armed delete belongs to a row; another selected row is not armed even before the
    // controller disarms.
    connect(&model, &PanelModel::selectionChanged, this, &PreviewPane::refreshDeleteArmed);
    showPreview();
}

bool PreviewPane::isDeleteArmed() const {
    const std::optional<PanelRow> selected = model.selectedRow();
    return model.armedDeleteID() && selected && *model.armedDeleteID() == selected->id;
}

void PreviewPane::showPreview() {
    delete contentWidget;
    const std::optional<PanelPreview>& preview = model.preview();
    divider->setVisible(preview.has_value());
    footerWidget->setVisible(preview.has_value());
    if (!preview) {
        return;
    }
    contentWidget = makePreviewContent(*preview, this);
    static_cast<QVBoxLayout*>(layout())->insertWidget(0, contentWidget, 1);
    // A layout shows a child added to a visible parent only at the next turn of the event loop;
    // the new content should be there at once, in the same frame as its footer.
    contentWidget->show();
    footerWidget->showPreview(*preview, isDeleteArmed());
}

void PreviewPane::refreshDeleteArmed() {
    if (model.preview()) {
        footerWidget->setDeleteArmed(isDeleteArmed());
    }
}

} // namespace snipjar
