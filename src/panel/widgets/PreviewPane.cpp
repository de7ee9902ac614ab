#include "PreviewPane.h"

#include "Divider.h"
#include "PanelFonts.h"
#include "PanelPalette.h"
#include "PreviewContent.h"
#include "PreviewFooter.h"
#include "panel/PanelModel.h"
#include "paste/KeyComboText.h"

#include <QStyle>

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
    updateTextStyle();
    showPreview();
}

void PreviewPane::updateTextStyle() {
    PreviewDocumentStyle text;
    text.body = PanelFonts::body();
    text.note = PanelFonts::caption();
    text.noteColour = PanelPalette::instance().tertiary;
    text.truncationNote =
        tr("Preview truncated \u2014 %1 pastes the full clip").arg(keyComboText(0, QStringLiteral("Return")));
    // The text keeps clear of the scroll bar, which appears only when the text is taller than the
    // pane: the width never depends on the height, so one layout fits.
    text.width = std::max(1, width() - style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this));
    model.setTextPreviewStyle(text);
}

void PreviewPane::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    updateTextStyle();
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
