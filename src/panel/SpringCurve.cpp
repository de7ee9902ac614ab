#include "panel/SpringCurve.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace snipjar {
namespace {

constexpr double minimumDuration = 1e-3;
constexpr double maximumBounce = 0.999;
// Damping ratios this close to 1 use the critically damped formula: the under- and overdamped ones
// divide by a vanishing frequency there.
constexpr double criticalTolerance = 1e-9;

double dampingRatioForBounce(double bounce) {
    return bounce >= 0 ? 1.0 - bounce : 1.0 / (1.0 + bounce);
}

} // namespace

SpringCurve::SpringCurve(double duration, double bounce)
    : m_duration(std::max(duration, minimumDuration))
    , m_bounce(std::clamp(bounce, -maximumBounce, maximumBounce))
    , m_naturalFrequency(2 * std::numbers::pi / m_duration)
    , m_dampingRatio(dampingRatioForBounce(m_bounce))
    , m_settlingDuration(computeSettlingDuration()) {}

double SpringCurve::value(double time) const {
    if (time <= 0) {
        return 0;
    }
    const double w0 = m_naturalFrequency;
    const double zeta = m_dampingRatio;
    if (std::abs(zeta - 1) < criticalTolerance) {
        return 1 - std::exp(-w0 * time) * (1 + w0 * time);
    }
    if (zeta < 1) {
        const double decay = zeta * w0;
        const double wd = w0 * std::sqrt(1 - zeta * zeta);
        return 1 - std::exp(-decay * time) * (std::cos(wd * time) + decay / wd * std::sin(wd * time));
    }
    const double root = std::sqrt(zeta * zeta - 1);
    const double slow = -w0 * (zeta - root);
    const double fast = -w0 * (zeta + root);
    return 1 - (fast * std::exp(slow * time) - slow * std::exp(fast * time)) / (fast - slow);
}

double SpringCurve::velocity(double time) const {
    if (time <= 0) {
        return 0;
    }
    const double w0 = m_naturalFrequency;
    const double zeta = m_dampingRatio;
    if (std::abs(zeta - 1) < criticalTolerance) {
        return w0 * w0 * time * std::exp(-w0 * time);
    }
    if (zeta < 1) {
        const double wd = w0 * std::sqrt(1 - zeta * zeta);
        return std::exp(-zeta * w0 * time) * w0 * w0 / wd * std::sin(wd * time);
    }
    const double root = std::sqrt(zeta * zeta - 1);
    const double slow = -w0 * (zeta - root);
    const double fast = -w0 * (zeta + root);
    return w0 * w0 * (std::exp(slow * time) - std::exp(fast * time)) / (slow - fast);
}

double SpringCurve::envelopeRestTime() const {
    // Each case is bounded by amplitude * exp(-rate * t) for both the displacement and the velocity.
    const double w0 = m_naturalFrequency;
    const double zeta = m_dampingRatio;
    double rate = 0;
    double displacementAmplitude = 0;
    double velocityAmplitude = 0;
    if (std::abs(zeta - 1) < criticalTolerance) {
        // (1 + x) e^-x and x e^-x both stay below 2 e^(-x/2).
        rate = w0 / 2;
        displacementAmplitude = 2;
        velocityAmplitude = 2 * w0;
    } else if (zeta < 1) {
        const double wd = w0 * std::sqrt(1 - zeta * zeta);
        rate = zeta * w0;
        displacementAmplitude = w0 / wd;
        velocityAmplitude = w0 * w0 / wd;
    } else {
        const double root = std::sqrt(zeta * zeta - 1);
        const double slow = w0 * (zeta - root);
        const double fast = w0 * (zeta + root);
        rate = slow;
        displacementAmplitude = (fast + slow) / (fast - slow);
        velocityAmplitude = w0 * w0 / (fast - slow);
    }
    const auto restAt = [rate](double amplitude, double threshold) {
        return amplitude <= threshold ? 0.0 : std::log(amplitude / threshold) / rate;
    };
    return std::max(restAt(displacementAmplitude, restDisplacement), restAt(velocityAmplitude, restVelocity));
}

bool SpringCurve::isMoving(double time) const {
    return std::abs(1 - value(time)) >= restDisplacement || std::abs(velocity(time)) >= restVelocity;
}

double SpringCurve::computeSettlingDuration() const {
    // Walk back from the bound in steps much shorter than any swing of the spring to the last instant
    // that still moves, then narrow the crossing down by bisection.
    const double bound = envelopeRestTime();
    const double stepLength = m_duration / 2000;
    double moving = bound;
    while (moving > 0 && !isMoving(moving)) {
        moving -= stepLength;
    }
    if (moving <= 0) {
        return 0;
    }
    double atRest = std::min(moving + stepLength, bound);
    for (int i = 0; i < 60; ++i) {
        const double middle = (moving + atRest) / 2;
        (isMoving(middle) ? moving : atRest) = middle;
    }
    return atRest;
}

const SpringCurve& searchBarSpring() {
    static const SpringCurve curve(0.35, 0.6);
    return curve;
}

const SpringCurve& resultsSpring() {
    static const SpringCurve curve(0.45, 0.35);
    return curve;
}

} // namespace snipjar
