#include "app/settings/HistorySection.h"

#include "app/settings/HistoryLengthStepper.h"
#include "app/settings/SettingsEvents.h"
#include "platform/UserSettings.h"
#include "store/ClipStore.h"

#include <QComboBox>
#include <QSignalBlocker>

namespace snipjar {

namespace {

constexpr int retentionChoices[] = {7, 30, 90};

} // namespace

HistorySection::HistorySection(ClipStore& store, QWidget* parent)
    : SettingsSection(QStringLiteral("History"), parent)
    , store(store) {
    stepper = new HistoryLengthStepper(this);
    stepper->setObjectName(QStringLiteral("historyLength"));
    addRow(QStringLiteral("Maximum items"), stepper);

    picker = new QComboBox(this);
    picker->setObjectName(QStringLiteral("retentionDays"));
    for (const int days : retentionChoices) {
        picker->addItem(QStringLiteral("%1 days").arg(days), days);
    }
    addRow(QStringLiteral("Keep for"), picker);

    setFootnote(QStringLiteral("Oldest unpinned items are removed first to stay within the limits. "
                               "Pinned items are always kept."));

    reload();
    connect(stepper, &HistoryLengthStepper::valueChanged, this, &HistorySection::historyLengthChosen);
    connect(picker, &QComboBox::activated, this, &HistorySection::retentionChosen);
}

void HistorySection::reload() {
    stepper->setValue(UserSettings::historyLength());
    const QSignalBlocker blocker(picker);
    // A number of days set by hand (14, say) is no choice of the picker: none is selected, while
    // the store goes on using it.
    picker->setCurrentIndex(picker->findData(UserSettings::retentionDays()));
}

void HistorySection::historyLengthChosen(int length) {
    UserSettings::setValue(QString::fromLatin1(UserSettings::historyLengthKey), length);
    applyLimits();
}

void HistorySection::retentionChosen(int index) {
    const QVariant days = picker->itemData(index);
    if (!days.isValid() || days.toInt() == UserSettings::retentionDays()) {
        return;
    }
    UserSettings::setValue(QString::fromLatin1(UserSettings::retentionDaysKey), days.toInt());
    applyLimits();
}

void HistorySection::applyLimits() {
    store.enforceLimitsNow();
    emit SettingsEvents::instance().limitsChanged();
}

} // namespace snipjar
