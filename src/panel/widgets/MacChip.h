#pragma once

#include <QAbstractButton>

namespace snipjar {

// One chip of the computer filter row: its name on a rounded fill, the accent when it is the
// current filter. A plain button otherwise; the row connects its click.
class MacChip : public QAbstractButton {
    Q_OBJECT
public:
    MacChip(const QString& name, QWidget* parent = nullptr);

    void setSelected(bool selected);
    bool isSelected() const { return selected; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool selected = false;
};

} // namespace snipjar
