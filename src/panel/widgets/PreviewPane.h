#pragma once

#include "ResultsCallbacks.h"

#include <QPointer>
#include <QWidget>

namespace snipjar {

class PanelModel;
class PreviewFooter;
class Divider;

// The right-hand side of the results glass: the selected clip's content, a divider and the footer
// with its details and the pin and delete buttons. Empty while there is no preview.
class PreviewPane : public QWidget {
    Q_OBJECT
public:
    PreviewPane(PanelModel& model, ResultsCallbacks callbacks, QWidget* parent = nullptr);

    // True when the model's armed delete is the selected row's.
    bool isDeleteArmed() const;

    // The current content widget (null without a preview) and the footer.
    QWidget* content() const { return contentWidget; }
    PreviewFooter* footer() const { return footerWidget; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void showPreview();
    // Tells the model how text previews are set and how wide they are at the pane's width.
    void updateTextStyle();
    void refreshDeleteArmed();

    PanelModel& model;
    QPointer<QWidget> contentWidget;
    Divider* divider;
    PreviewFooter* footerWidget;
};

} // namespace snipjar
