#pragma once

#include <QWidget>

class QLabel;
class QVBoxLayout;

namespace snipjar {

// One group of the settings form: an optional title above a rounded box of rows, and an optional
// footnote in small, secondary text under the box.
class SettingsSection : public QWidget {
    Q_OBJECT
public:
    // An empty title leaves the section untitled.
    explicit SettingsSection(const QString& title, QWidget* parent = nullptr);

    // A row with its label on the left and the control on the right. A control that grows
    // downwards (a line shown under it) keeps its label beside its top: labelAlignment.
    QLabel* addRow(const QString& label, QWidget* control, Qt::Alignment labelAlignment = Qt::AlignVCenter);
    // A row that is the control alone (a check box that carries its own text).
    void addRow(QWidget* control);
    void setFootnote(const QString& text);

    // The text style of footnotes, for other secondary lines.
    static void makeSecondary(QLabel& label, bool smaller);

private:
    void addSeparatorIfNeeded();

    QWidget* box = nullptr;
    QVBoxLayout* rows = nullptr;
    QLabel* footnote = nullptr;
};

} // namespace snipjar
