#pragma once

#include <QWidget>

class QLabel;
class QToolButton;

namespace snipjar {

// The number of items kept, shown as a number beside a pair of step buttons that move it within
// 50 to 250 in steps of 50. A value set outside that range by hand (the store accepts 1 to 1000)
// is shown as it is and stays until a button is pressed, which brings it into the range.
class HistoryLengthStepper : public QWidget {
    Q_OBJECT
public:
    static constexpr int minimum = 50;
    static constexpr int maximum = 250;
    static constexpr int step = 50;

    explicit HistoryLengthStepper(QWidget* parent = nullptr);

    int value() const { return current; }
    // Shows a value without reporting it.
    void setValue(int value);

    void stepUp();
    void stepDown();

    QString text() const;

signals:
    // Only for changes made by the buttons.
    void valueChanged(int value);

private:
    void change(int value);
    void refresh();

    int current = 100;
    QLabel* number = nullptr;
    QToolButton* downButton = nullptr;
    QToolButton* upButton = nullptr;
};

} // namespace snipjar
