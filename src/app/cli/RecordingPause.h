#pragma once

#include <QDateTime>
#include <QObject>
#include <QTimer>

#include <optional>

namespace snipjar {

// Whether recording is paused, for a number of minutes or until resumed. Nothing is captured
// meanwhile, neither copies nor selected text. Main thread only.
class RecordingPause : public QObject {
    Q_OBJECT
public:
    explicit RecordingPause(QObject* parent = nullptr);

    // Pauses for the minutes given, or until resume() without them; a second pause replaces the
    // first.
    void pause(std::optional<int> minutes);
    void resume();

    bool isPaused() const { return paused; }
    // When the pause ends by itself; none while not paused or paused until resumed.
    std::optional<QDateTime> until() const { return endsAt; }

signals:
    void changed(bool paused);

private:
    bool paused = false;
    std::optional<QDateTime> endsAt;
    QTimer timer;
};

} // namespace snipjar
