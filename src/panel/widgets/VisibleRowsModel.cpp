#include "VisibleRowsModel.h"

#include "panel/DisplayText.h"
#include "panel/PanelModel.h"

namespace snipjar {

namespace {

QString kindWord(const PanelRow& row) {
    switch (row.kind) {
    case ClipKind::text:
        return VisibleRowsModel::tr("Text");
    case ClipKind::richText:
        return VisibleRowsModel::tr("Rich text");
    case ClipKind::image:
        return VisibleRowsModel::tr("Image");
    case ClipKind::file:
        return row.fileCount > 1 ? VisibleRowsModel::tr("Files") : VisibleRowsModel::tr("File");
    case ClipKind::unknown:
        break;
    }
    return VisibleRowsModel::tr("Clip");
}

} // namespace

VisibleRowsModel::VisibleRowsModel(PanelModel& model, QObject* parent)
    : QAbstractListModel(parent)
    , model(model) {
    const auto reset = [this] {
        beginResetModel();
        endResetModel();
    };
    // New rows always come with visibleRowsChanged: one reset, one layout of the list.
    connect(&model, &PanelModel::visibleRowsChanged, this, reset);
}

int VisibleRowsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(model.visibleCount());
}

QVariant VisibleRowsModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= model.visibleCount()) {
        return {};
    }
    const PanelRow& row = model.visibleRow(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return row.concealed ? QString(8, QChar(0x2022)) : displayText(row.text);
    case Qt::AccessibleTextRole:
        return accessibleText(row);
    default:
        return {};
    }
}

QString VisibleRowsModel::accessibleText(const PanelRow& row) {
    if (row.concealed) {
        return tr("Secure item, value hidden");
    }
    QString text = kindWord(row) + QStringLiteral(": ") + displayText(row.text);
    if (row.pinned) {
        text += tr(", pinned");
    }
    return text;
}

} // namespace snipjar
