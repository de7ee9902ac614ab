#pragma once

#include <QColor>

class QWidget;

namespace snipjar {

// The colours of the panel's views. The foreground levels are the application palette's text
// colour at decreasing opacity, so they follow a light or dark desktop; the accent is the
// palette's highlight. Built once, on first use, after the application exists.
struct PanelPalette {
    QColor primary;
    QColor secondary;
    QColor tertiary;
    QColor quaternary;
    QColor accent;
    // The selected row and the selected computer chip.
    QColor accentSelection;
    // An unselected computer chip.
    QColor secondaryFill;
    // The armed delete button.
    QColor destructive;

    static const PanelPalette& instance();
};

// Makes a label-like widget draw its text in `colour`, leaving its background unpainted.
void setForeground(QWidget& widget, const QColor& colour);

} // namespace snipjar
