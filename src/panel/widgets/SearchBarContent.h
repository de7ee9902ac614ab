#pragma once

#include <QPointer>
#include <QWidget>

class QLabel;

namespace snipjar {

class PanelModel;
class SymbolLabel;
class SyncSpinner;

// The content of the search bar: the magnifying glass, the typed query (or the kind filter's
// placeholder while nothing is typed) and, at the end, the sync spinner or the "Tab" hint. Typing
// never goes into a text field here; the controller writes the model's query and this follows it.
class SearchBarContent : public QWidget {
    Q_OBJECT
public:
    SearchBarContent(PanelModel& model, QWidget* parent = nullptr);

    // The parts, for the controller's layout checks and for tests.
    QLabel* queryLabel() const { return query; }
    QLabel* hintLabel() const { return hint; }
    SyncSpinner* spinner() const { return syncSpinner; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void refresh();

    PanelModel& model;
    SymbolLabel* glass;
    QLabel* query;
    SyncSpinner* syncSpinner;
    QLabel* hint;
};

} // namespace snipjar
