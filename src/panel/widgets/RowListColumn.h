#pragma once

#include "ResultsCallbacks.h"

#include <QStackedWidget>

namespace snipjar {

class PanelModel;
class RowListView;

// The left column of the results glass: the rows, or the word that there are none yet or none
// that match.
class RowListColumn : public QStackedWidget {
    Q_OBJECT
public:
    enum class State { emptyHistory, noMatches, rows };

    RowListColumn(PanelModel& model, ResultsCallbacks callbacks, QWidget* parent = nullptr);

    State state() const { return State(currentIndex()); }
    RowListView* listView() const { return list; }

private:
    void refresh();

    PanelModel& model;
    RowListView* list;
};

} // namespace snipjar
