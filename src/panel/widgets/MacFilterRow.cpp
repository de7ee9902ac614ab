#include "MacFilterRow.h"

#include "MacChip.h"
#include "PanelFonts.h"
#include "PanelPalette.h"
#include "panel/PanelModel.h"

#include <QHBoxLayout>
#include <QLabel>

namespace snipjar {

MacFilterRow::MacFilterRow(PanelModel& model, ResultsCallbacks callbacks, QWidget* parent)
    : QWidget(parent)
    , model(model)
    , callbacks(std::move(callbacks))
    , chipLayout(new QHBoxLayout) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(12, 7, 12, 7);
    layout->setSpacing(8);
    chipLayout->setContentsMargins(0, 0, 0, 0);
    chipLayout->setSpacing(6);
    layout->addLayout(chipLayout);
    auto* hint = new QLabel(QStringLiteral("\u2190 \u2192 ") + tr("computer"), this);
    hint->setFont(PanelFonts::caption2());
    setForeground(*hint, PanelPalette::instance().tertiary);
    layout->addWidget(hint);
    layout->addStretch(1);

    connect(&model, &PanelModel::macsChanged, this, &MacFilterRow::rebuild);
    connect(&model, &PanelModel::macScopeChanged, this, &MacFilterRow::refreshSelection);
    rebuild();
}

void MacFilterRow::rebuild() {
    qDeleteAll(chipList);
    chipList.clear();
    const auto addChip = [this](const QString& name, const std::optional<QString>& deviceID) {
        auto* chip = new MacChip(name, this);
        connect(chip, &MacChip::clicked, this, [this, deviceID] {
            if (callbacks.onSelectMac) {
                callbacks.onSelectMac(deviceID);
            }
        });
        chip->setProperty("deviceID", deviceID ? QVariant(*deviceID) : QVariant());
        chipLayout->addWidget(chip);
        chipList.append(chip);
    };
    addChip(tr("All computers"), std::nullopt);
    for (const MacRef& mac : model.macs()) {
        addChip(mac.name, mac.id);
    }
    refreshSelection();
}

void MacFilterRow::refreshSelection() {
    for (MacChip* chip : std::as_const(chipList)) {
        const QVariant deviceID = chip->property("deviceID");
        const bool selected =
            deviceID.isValid() ? model.macScope() == deviceID.toString() : !model.macScope();
        chip->setSelected(selected);
    }
}

} // namespace snipjar
