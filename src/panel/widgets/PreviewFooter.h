#pragma once

#include "ResultsCallbacks.h"

#include <QStringList>
#include <QWidget>

class QHBoxLayout;
class QLabel;

namespace snipjar {

class FooterButton;
class SymbolLabel;
struct PanelPreview;

// The preview pane's footer: the pin and delete buttons, the not-synced mark and the paste hint,
// and below them the clip's details (source, computers, age, size, counts).
class PreviewFooter : public QWidget {
    Q_OBJECT
public:
    explicit PreviewFooter(ResultsCallbacks callbacks, QWidget* parent = nullptr);

    void showPreview(const PanelPreview& preview, bool deleteArmed);
    void setDeleteArmed(bool armed);

    FooterButton* pinButton() const { return pin; }
    FooterButton* deleteButton() const { return remove; }
    SymbolLabel* localOnlyMark() const { return localOnly; }
    // The texts of the details row, in order.
    QStringList detailTexts() const;
    // Whether the source application's icon is shown.
    bool showsSourceIcon() const;

private:
    void rebuildDetails(const PanelPreview& preview);

    ResultsCallbacks callbacks;
    FooterButton* pin;
    FooterButton* remove;
    SymbolLabel* localOnly;
    QWidget* details;
    QHBoxLayout* detailsLayout;
};

} // namespace snipjar
