#include "SearchBarContent.h"

#include "PanelFonts.h"
#include "PanelPalette.h"
#include "SymbolLabel.h"
#include "SyncSpinner.h"
#include "panel//PanelModel.h"
#include "panel/TypeScope.h"
#include "paste/KeyComboText.h"

#include <QHBoxLayout>
#include <QLabel>

namespace snipjar {

SearchBarContent::SearchBarContent(PanelModel& model, QWidget* parent)
    : QWidget(parent)
    , model(model)
    , glass(new SymbolLabel(QStringLiteral("magnifyingglass"), 20, PanelPalette::instance().secondary, this))
    , query(new QLabel(this))
    , syncSpinner(new SyncSpinner(this))
    , hint(new QLabel(keyComboText(0, QStringLiteral("Tab")), this)) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(18, 0, 18, 0);
    layout->setSpacing(8);
    layout->addWidget(glass, 0, Qt::AlignVCenter);
    layout->addWidget(query, 1, Qt::AlignVCenter);
    layout->addWidget(syncSpinner, 0, Qt::AlignVCenter);
    layout->addWidget(hint, 0, Qt::AlignVCenter);

    glass->setAccessibleName(tr("Search"));
    query->setFont(PanelFonts::title2());
    query->setTextFormat(Qt::PlainText);
    // The label takes the room left; a long query is elided on the left to fit it.
    query->setMinimumWidth(0);
    query->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    hint->setFont(PanelFonts::title2());
    setForeground(*hint, PanelPalette::instance().secondary);
    hint->setAccessibleName(tr("Tab changes the kind filter"));

    connect(&model, &PanelModel::queryChanged, this, &SearchBarContent::refresh);
    connect(&model, &PanelModel::typeScopeChanged, this, &SearchBarContent::refresh);
    connect(&model, &PanelModel::isSyncingChanged, this, &SearchBarContent::refresh);
    refresh();
}

void SearchBarContent::refresh() {
    const PanelPalette& palette = PanelPalette::instance();
    const bool typed = !model.query().isEmpty();
    // A long query keeps its newest characters in view, as a text field would: the characters
    // just typed are the ones the user looks at.
    query->setText(typed ? query->fontMetrics().elidedText(model.query(), Qt::ElideLeft, query->width())
                         : typeScopePlaceholder(model.typeScope()));
    query->setAlignment(Qt::AlignVCenter | Qt::AlignLeft);
    setForeground(*query, typed ? palette.primary : palette.secondary);
    syncSpinner->setSpinning(model.isSyncing());
    hint->setVisible(!model.isSyncing() && model.typeScope() == TypeScope::all);
}

void SearchBarContent::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    // The layout has already given the label its new width.
    refresh();
}

} // namespace snipjar
