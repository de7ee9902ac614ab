#pragma once

#include "ResultsCallbacks.h"

#include <QWidget>

namespace snipjar {

class Divider;
class MacFilterRow;
class PanelModel;
class PreviewPane;
class RowListColumn;

// The content of the results glass: the computer filter when the history comes from more than one
// computer, then the row list beside the preview of the selected clip.
class ResultsView : public QWidget {
    Q_OBJECT
public:
    static constexpr int listWidth = 320;

    ResultsView(PanelModel& model, ResultsCallbacks callbacks, QWidget* parent = nullptr);

    MacFilterRow* macFilterRow() const { return macRow; }
    RowListColumn* listColumn() const { return list; }
    PreviewPane* previewPane() const { return preview; }

    QSize sizeHint() const override { return {820, 470}; }

private:
    void refreshMacRow();

    PanelModel& model;
    MacFilterRow* macRow;
    Divider* macDivider;
    RowListColumn* list;
    PreviewPane* preview;
};

} // namespace snipjar
