#pragma once

#include "ResultsCallbacks.h"

#include <QList>
#include <QWidget>

class QHBoxLayout;

namespace snipjar {

class MacChip;
class PanelModel;

// The computer filter above the list: "All computers", one chip per computer in the history, and
// the hint that the left and right arrows step through them.
class MacFilterRow : public QWidget {
    Q_OBJECT
public:
    MacFilterRow(PanelModel& model, ResultsCallbacks callbacks, QWidget* parent = nullptr);

    // In order: "All computers", then one per computer.
    const QList<MacChip*>& chips() const { return chipList; }

private:
    void rebuild();
    void refreshSelection();

    PanelModel& model;
    ResultsCallbacks callbacks;
    QHBoxLayout* chipLayout;
    QList<MacChip*> chipList;
};

} // namespace snipjar
