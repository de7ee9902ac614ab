#pragma once

#include "panel/AnimatedView.h"
#include "panel/SpringCurve.h"

#include <QObject>
#include <QRectF>
#include <QTimer>

#include <functional>
#include <vector>

namespace snipjar {

// Each rectangle component moved from `from` towards `to` by the spring's progress; a progress above 1
// overshoots the end frame.
QRectF interpolateFrame(const QRectF& from, const QRectF& to, double progress);

// Moves one group of views from their current frames to target frames along a spring, one step per
// display refresh. Starting a new group first puts the old one at its end frames. Main thread only.
class SpringAnimator : public QObject {
    Q_OBJECT
public:
    // Seconds on a monotonic clock; tests inject their own and call step() themselves.
    using Clock = std::function<double()>;

    struct Move {
        AnimatedView view;
        QRectF to;
    };

    explicit SpringAnimator(SpringCurve curve, QObject* parent = nullptr, Clock clock = {});
    ~SpringAnimator() override;

    const SpringCurve& curve() const { return m_curve; }
    bool isRunning() const { return m_refresh.isActive(); }

    // Reads each view's frame as its start. When nothing would move no refresh timer is started.
    void animate(std::vector<Move> moves);
    // Ends the running animation at once with every view at its end frame; nothing when idle.
    void stop();
    // One refresh: places every view at the spring's progress for the time elapsed, or at its end
    // frame once the spring has settled.
    void step();

private:
    struct Target {
        AnimatedView view;
        QRectF from;
        QRectF to;
    };

    static int refreshInterval();

    SpringCurve m_curve;
    Clock m_clock;
    QTimer m_refresh;
    double m_start = 0;
    std::vector<Target> m_targets;
};

} // namespace snipjar
