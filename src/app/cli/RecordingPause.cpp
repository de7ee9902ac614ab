#include "app/cli/RecordingPause.h"

#include "platform/LogCategories.h"

namespace snipjar {

RecordingPause::RecordingPause(QObject* parent)
    : QObject(parent) {
    timer.setSingleShot(true);
    timer.setTimerType(Qt::VeryCoarseTimer);
    connect(&timer, &QTimer::timeout, this, &RecordingPause::resume);
}

void RecordingPause::pause(std::optional<int> minutes) {
    timer.stop();
    endsAt.reset();
    if (minutes) {
        endsAt = QDateTime::currentDateTimeUtc().addSecs(qint64(*minutes) * 60);
        timer.start(std::chrono::minutes(*minutes));
    }
    paused = true;
    qCInfo(lcCapture) << "Recording paused";
    emit changed(true);
}

void RecordingPause::resume() {
    timer.stop();
    endsAt.reset();
    if (!paused) {
        return;
    }
    paused = false;
    qCInfo(lcCapture) << "Recording resumed";
    emit changed(false);
}

} // namespace snipjar
