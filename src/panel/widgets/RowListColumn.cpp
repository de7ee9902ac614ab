#include "RowListColumn.h"

#include "PanelFonts.h"
#include "PanelPalette.h"
#include "RowListView.h"
#include "SymbolLabel.h"
#include "panel/PanelModel.h"

#include <QLabel>
#include <QVBoxLayout>

namespace snipjar {

namespace {

QLabel* makeLabel(const QString& text, const QFont& font, const QColor& colour, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setFont(font);
    label->setAlignment(Qt::AlignCenter);
    setForeground(*label, colour);
    return label;
}

QWidget* emptyHistoryPage() {
    const PanelPalette& palette = PanelPalette::instance();
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    layout->setSpacing(8);
    layout->addStretch(1);
    layout->addWidget(new SymbolLabel(QStringLiteral("doc.on.clipboard"), 32, palette.tertiary, page), 0,
                      Qt::AlignHCenter);
    layout->addWidget(
        makeLabel(RowListColumn::tr("Nothing copied yet"), PanelFonts::headline(), palette.secondary, page));
    QLabel* explanation =
        makeLabel(RowListColumn::tr(
                      "Copy some text, an image, or a file \u2014 it\u2019ll show up here, ready to paste."),
                  PanelFonts::callout(), palette.tertiary, page);
    explanation->setWordWrap(true);
    // A wrapped label asks its layout for a height at its width only when that width is fixed; at
    // most 280 wide, and the 320-wide column always has room for that.
    explanation->setFixedWidth(280);
    layout->addWidget(explanation, 0, Qt::AlignHCenter);
    layout->addStretch(1);
    return page;
}

QWidget* noMatchesPage() {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(makeLabel(RowListColumn::tr("No matches"), PanelFonts::body(),
                                PanelPalette::instance().secondary, page));
    return page;
}

} // namespace

RowListColumn::RowListColumn(PanelModel& model, ResultsCallbacks callbacks, QWidget* parent)
    : QStackedWidget(parent)
    , model(model)
    , list(new RowListView(model, std::move(callbacks))) {
    // Added in the order of State.
    addWidget(emptyHistoryPage());
    addWidget(noMatchesPage());
    addWidget(list);
    connect(&model, &PanelModel::rowsChanged, this, &RowListColumn::refresh);
    connect(&model, &PanelModel::visibleRowsChanged, this, &RowListColumn::refresh);
    refresh();
}

void RowListColumn::refresh() {
    const State shown = model.all().isEmpty()       ? State::emptyHistory
                        : model.visibleCount() == 0 ? State::noMatches
                                                    : State::rows;
    setCurrentIndex(int(shown));
}

} // namespace snipjar
