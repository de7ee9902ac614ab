#pragma once

#include "ResultsCallbacks.h"

#include <QListView>
#include <QPointer>

class QVariantAnimation;

namespace snipjar {

class PanelModel;
class RowDelegate;
class VisibleRowsModel;

// The lazily painted list of visible rows. The selection is the panel model's, not the view's: a
// click only reports the row, and the view follows the model by repainting, keeping the selected
// row in the middle and mirroring it into its selection model for screen readers.
class RowListView : public QListView {
    Q_OBJECT
public:
    RowListView(PanelModel& model, ResultsCallbacks callbacks, QWidget* parent = nullptr);

    RowDelegate* rowDelegate() const { return delegate; }

private:
    // Scrolls so that the selected row is centred; animated only when the list is on screen.
    void centreSelection(bool animated);
    void mirrorSelection();

    PanelModel& panelModel;
    ResultsCallbacks callbacks;
    VisibleRowsModel* rows;
    RowDelegate* delegate;
    QVariantAnimation* scrollAnimation;
};

} // namespace snipjar
