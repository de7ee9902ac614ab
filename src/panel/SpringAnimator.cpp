#include "panel/SpringAnimator.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QScreen>

#include <algorithm>
#include <cmath>
#include <memory>

namespace snipjar {
namespace {

constexpr double fallbackRefreshRate = 60;

// Exact equality: QRectF's own comparison is fuzzy, and a view a fraction of a pixel away from its
// end frame still has to be moved there.
bool sameFrame(const QRectF& a, const QRectF& b) {
    return a.x() == b.x() && a.y() == b.y() && a.width() == b.width() && a.height() == b.height();
}

SpringAnimator::Clock monotonicClock() {
    auto timer = std::make_shared<QElapsedTimer>();
    timer->start();
    return [timer] { return timer->nsecsElapsed() / 1e9; };
}

} // namespace

QRectF interpolateFrame(const QRectF& from, const QRectF& to, double progress) {
    const auto mix = [progress](qreal a, qreal b) { return a + progress * (b - a); };
    return QRectF(mix(from.x(), to.x()), mix(from.y(), to.y()), mix(from.width(), to.width()),
                  mix(from.height(), to.height()));
}

SpringAnimator::SpringAnimator(SpringCurve curve, QObject* parent, Clock clock)
    : QObject(parent)
    , m_curve(curve)
    , m_clock(clock ? std::move(clock) : monotonicClock()) {
    m_refresh.setTimerType(Qt::PreciseTimer);
    connect(&m_refresh, &QTimer::timeout, this, &SpringAnimator::step);
}

SpringAnimator::~SpringAnimator() = default;

int SpringAnimator::refreshInterval() {
    // Read at every start: the primary screen, and so its rate, can change while the panel lives.
    const QScreen* screen = QGuiApplication::primaryScreen();
    double rate = screen ? screen->refreshRate() : 0;
    if (!(rate >= 1)) {
        rate = fallbackRefreshRate;
    }
    return std::max(1, static_cast<int>(std::lround(1000 / rate)));
}

void SpringAnimator::animate(std::vector<Move> moves) {
    stop();
    m_targets.reserve(moves.size());
    bool anyMoves = false;
    for (Move& move : moves) {
        const QRectF from = move.view.frame();
        anyMoves = anyMoves || !sameFrame(from, move.to);
        m_targets.push_back(Target{std::move(move.view), from, move.to});
    }
    if (!anyMoves) {
        m_targets.clear();
        return;
    }
    m_start = m_clock();
    m_refresh.start(refreshInterval());
}

void SpringAnimator::stop() {
    m_refresh.stop();
    // Taken out first so that a view's setter may start the next animation.
    std::vector<Target> finishing;
    finishing.swap(m_targets);
    for (const Target& target : finishing) {
        target.view.setFrame(target.to);
    }
}

void SpringAnimator::step() {
    if (m_targets.empty()) {
        return;
    }
    const double elapsed = m_clock() - m_start;
    if (elapsed >= m_curve.settlingDuration()) {
        stop();
        return;
    }
    const double progress = m_curve.value(elapsed);
    for (const Target& target : m_targets) {
        target.view.setFrame(interpolateFrame(target.from, target.to, progress));
    }
}

} // namespace snipjar
