#pragma once

namespace snipjar {

// A damped spring of mass 1 released at rest from 0 towards 1, described the way a designer tunes
// it: a perceptual duration (the period of the undamped spring) and a bounce. Bounce 0 is critically
// damped, positive values overshoot and swing back (towards 1 the spring barely loses energy),
// negative values are overdamped and creep in slowly. Immutable and cheap to copy.
class SpringCurve {
public:
    // Below this distance from the end and this speed (both in progress units) the remaining motion
    // moves a panel-sized view by well under a pixel.
    static constexpr double restDisplacement = 1e-3;
    static constexpr double restVelocity = 1e-2;

    // The duration is clamped to at least a millisecond and the bounce to the open range (-1, 1),
    // so the spring always comes to rest in finite time.
    SpringCurve(double duration, double bounce);

    double duration() const { return m_duration; }
    double bounce() const { return m_bounce; }
    double stiffness() const { return m_naturalFrequency * m_naturalFrequency; }
    double dampingRatio() const { return m_dampingRatio; }

    // Progress p(t) after t seconds: p(0) = 0, p tends to 1. Negative times give 0.
    double value(double time) const;
    // dp/dt after t seconds: 0 at the start and once at rest.
    double velocity(double time) const;
    // The time from which |1 - p| stays below restDisplacement and |dp/dt| below restVelocity.
    double settlingDuration() const { return m_settlingDuration; }

private:
    // The first time the analytic bounds on |1 - p| and |dp/dt| both fall below the rest thresholds;
    // the real motion is at rest by then, so the search for the last moving instant starts there.
    double envelopeRestTime() const;
    bool isMoving(double time) const;
    double computeSettlingDuration() const;

    double m_duration;
    double m_bounce;
    double m_naturalFrequency;
    double m_dampingRatio;
    double m_settlingDuration;
};

// The springs the panel uses: the snappy one for the search bar and the kind-filter circles, the
// softer one for the results glass.
const SpringCurve& searchBarSpring();
const SpringCurve& resultsSpring();

} // namespace snipjar
