#include "TypeCircleContent.h"

#include "PanelPalette.h"
#include "PanelSymbols.h"
#include "panel/PanelModel.h"

#include <QPainter>

namespace snipjar {

namespace {

constexpr int symbolSize = 17;

} // namespace

TypeCircleContent::TypeCircleContent(PanelModel& model, TypeScope scope, const QString& symbol,
                                     QWidget* parent)
    : QWidget(parent)
    , model(model)
    , scope(scope)
    , symbol(symbol) {
    const QString label = scope == TypeScope::all ? tr("All") : typeScopeLabel(scope);
    setAccessibleName(label + tr(" filter"));
    setToolTip(label);
    connect(&model, &PanelModel::typeScopeChanged, this, qOverload<>(&QWidget::update));
}

bool TypeCircleContent::isCurrent() const {
    return scope == model.typeScope();
}

void TypeCircleContent::paintEvent(QPaintEvent*) {
    const PanelPalette& palette = PanelPalette::instance();
    QPainter painter(this);
    const QPixmap pixmap = panelSymbolPixmap(
        symbol, symbolSize, isCurrent() ? palette.primary : palette.secondary, devicePixelRatioF());
    const QRect target(QPoint(0, 0), QSize(symbolSize, symbolSize));
    painter.drawPixmap(target.translated(rect().center() - target.center()), pixmap);
}

} // namespace snipjar
