#include "app/settings/HistoryLengthStepper.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>

#include <algorithm>

namespace snipjar {

HistoryLengthStepper::HistoryLengthStepper(QWidget* parent)
    : QWidget(parent) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);

    number = new QLabel(this);
    number->setObjectName(QStringLiteral("historyLengthValue"));
    // Room for the widest number the store accepts, so the buttons do not move as it changes.
    number->setMinimumWidth(number->fontMetrics().horizontalAdvance(QStringLiteral("0000")));
    number->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    layout->addWidget(number);

    downButton = new QToolButton(this);
    downButton->setObjectName(QStringLiteral("historyLengthDown"));
    downButton->setText(QStringLiteral("−"));
    downButton->setAccessibleName(QStringLiteral("Fewer items"));
    upButton = new QToolButton(this);
    upButton->setObjectName(QStringLiteral("historyLengthUp"));
    upButton->setText(QStringLiteral("+"));
    upButton->setAccessibleName(QStringLiteral("More items"));
    for (QToolButton* button : {downButton, upButton}) {
        button->setAutoRepeat(true);
        button->setFixedWidth(button->sizeHint().height());
    }
    layout->addWidget(downButton);
    layout->addWidget(upButton);

    connect(downButton, &QToolButton::clicked, this, &HistoryLengthStepper::stepDown);
    connect(upButton, &QToolButton::clicked, this, &HistoryLengthStepper::stepUp);
    refresh();
}

void HistoryLengthStepper::setValue(int value) {
    current = value;
    refresh();
}

QString HistoryLengthStepper::text() const {
    return number->text();
}

void HistoryLengthStepper::stepUp() {
    change(std::clamp(current + step, minimum, maximum));
}

void HistoryLengthStepper::stepDown() {
    change(std::clamp(current - step, minimum, maximum));
}

void HistoryLengthStepper::change(int value) {
    if (value == current) {
        return;
    }
    current = value;
    refresh();
    emit valueChanged(current);
}

void HistoryLengthStepper::refresh() {
    number->setText(QString::number(current));
    downButton->setEnabled(current > minimum);
    upButton->setEnabled(current < maximum);
}

} // namespace snipjar
