#pragma once

#include <QAbstractListModel>

namespace snipjar {

class PanelModel;
struct PanelRow;

// The panel model's visible rows as an item model, so that a list view creates and paints only the
// rows on screen. It copies nothing: every call reads the panel model, and the row set is reset
// whenever the panel model's rows or filters change.
class VisibleRowsModel : public QAbstractListModel {
    Q_OBJECT
public:
    explicit VisibleRowsModel(PanelModel& model, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    // What a screen reader says for a row: "Text: hello world, pinned", "Secure item, value hidden".
    static QString accessibleText(const PanelRow& row);

private:
    PanelModel& model;
};

} // namespace snipjar
