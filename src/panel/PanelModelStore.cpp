// The procedures of the panel that read and change the history store: loading the rows, the pin
// toggle, the two-step delete, and the state at show and hide.

#include "panel/PanelModel.h"

#include "model/ClipStore.h"
#include "panel/RowLoader.h"

namespace snipjar {

QList<PanelModel::Row> PanelModel::loadRows() const {
    return RowLoader::loadRows(store);
}

void PanelModel::reloadKeepingSelection() {
    const int remembered = selected;
    setRows(loadRows());
    setSelection(remembered);
    clampSelection();
    schedulePreview();
}

void PanelModel::togglePinSelected() {
    const std::optional<Row> row = selectedRow();
    if (!row) {
        return;
    }
    store.togglePin(row->id);
    reloadKeepingSelection();
}

void PanelModel::deleteSelected() {
    const std::optional<Row> row = selectedRow();
    if (!row) {
        return;
    }
    if (armedDelete == row->id) {
        performDelete(*row);
        return;
    }
    armedDelete = row->id;
    emit armedDeleteIDChanged();
}

void PanelModel::performDelete(const Row& row) {
    disarmDelete();
    store.remove(row.id);
    // The same index now holds the row after the deleted one.
    reloadKeepingSelection();
}

void PanelModel::resetForShow() {
    setQuery(QString());
    resetScopes();
    setRows(loadRows());
    loadPreview();
}

void PanelModel::resetForHide() {
    cancelPreview();
    setPreview(std::nullopt);
    setRows({});
}

} // namespace snipjar
