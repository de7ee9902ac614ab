#include "panel/SpringAnimator.h"

#include <QObject>
#include <QRect>

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

namespace snipjar::test {
namespace {

// Bounce 0 is critically damped, positive bounces underdamped, negative ones overdamped; a bounce of
// 1 would never come to rest and is held just below. Every curve starts at 0 at rest and ends at 1 at
// rest, its velocity the slope of its progress; only a positive bounce passes the end, the others
// rise to it from below. The settling duration is the last instant the spring moves noticeably.
TEST(SpringCurveTest, DampingShapeAndSettling) {
    EXPECT_DOUBLE_EQ(SpringCurve(0.5, 0).dampingRatio(), 1);
    EXPECT_DOUBLE_EQ(SpringCurve(0.5, -0.5).dampingRatio(), 2);
    EXPECT_GT(SpringCurve(0.5, 1).dampingRatio(), 0);
    EXPECT_LT(SpringCurve(0.5, 1).settlingDuration(), 1000);
    for (const SpringCurve& curve :
         {SpringCurve(0.4, 0.6), SpringCurve(0.4, 0.35), SpringCurve(0.4, 0.3), SpringCurve(0.4, 0),
          SpringCurve(0.4, -0.3), SpringCurve(0.4, -0.5), SpringCurve(0.4, -0.8), SpringCurve(0.2, 0.9),
          searchBarSpring(), resultsSpring()}) {
        SCOPED_TRACE(curve.bounce());
        EXPECT_DOUBLE_EQ(curve.value(0), 0);
        EXPECT_DOUBLE_EQ(curve.value(-1), 0);
        EXPECT_DOUBLE_EQ(curve.velocity(0), 0);
        EXPECT_NEAR(curve.value(20), 1, 1e-9);
        EXPECT_NEAR(curve.velocity(20), 0, 1e-9);
        for (const double t : {1e-6, 0.02, 0.1, 0.25, 0.6}) {
            const double h = 1e-7;
            const double slope = (curve.value(t + h) - curve.value(t - h)) / (2 * h);
            EXPECT_NEAR(curve.velocity(t), slope, 1e-4 * std::max(1.0, std::abs(slope))) << t;
        }
        double previous = 0;
        double peak = 0;
        for (double t = 1e-3; t < 5; t += 1e-3) {
            const double p = curve.value(t);
            peak = std::max(peak, p);
            if (curve.bounce() <= 0) {
                ASSERT_LE(p, 1.0);
                ASSERT_GE(p, previous);
            }
            previous = p;
        }
        EXPECT_EQ(peak > 1.01, curve.bounce() > 0);
        const double settle = curve.settlingDuration();
        ASSERT_GT(settle, 0);
        for (double t = settle; t < settle + 10 * curve.duration(); t += 1e-4) {
            ASSERT_LT(std::abs(1 - curve.value(t)), SpringCurve::restDisplacement) << t;
            ASSERT_LT(std::abs(curve.velocity(t)), SpringCurve::restVelocity) << t;
        }
        const double before = settle - 1e-6;
        EXPECT_TRUE(std::abs(1 - curve.value(before)) >= SpringCurve::restDisplacement ||
                    std::abs(curve.velocity(before)) >= SpringCurve::restVelocity);
    }
    // More bounce takes longer to die down, and so does a slower spring.
    EXPECT_GT(SpringCurve(0.35, 0.6).settlingDuration(), SpringCurve(0.35, 0.3).settlingDuration());
    EXPECT_GT(SpringCurve(0.7, 0.6).settlingDuration(), 1.5 * SpringCurve(0.35, 0.6).settlingDuration());
    // Frames move component by component with the progress, past the end when it overshoots.
    EXPECT_EQ(interpolateFrame(QRectF(0, 100, 200, 40), QRectF(100, 50, 400, 40), 1.2),
              QRectF(120, 40, 440, 40));
}

// A view as a plain rectangle the test can watch.
struct FakeView {
    QRectF frame;
    int writes = 0;
    AnimatedView handle() {
        return AnimatedView{[this] { return frame; },
                            [this](const QRectF& to) {
                                frame = to;
                                ++writes;
                            }};
    }
};

class SpringAnimatorTest : public ::testing::Test {
protected:
    double now = 100;
    SpringAnimator animator{searchBarSpring(), nullptr, [this] { return now; }};
    FakeView first{QRectF(0, 0, 100, 20)};
    FakeView second{QRectF(10, 10, 50, 50)};
};

// Each step places every view at the spring's progress for the elapsed time; the group arrives
// exactly at its end frames once settled and the refresh stops.
TEST_F(SpringAnimatorTest, StepsFollowTheSpringAndFinishAtTheEnd) {
    const QRectF firstEnd(0, 200, 100, 300);
    const QRectF secondEnd(30, 10, 50, 50);
    animator.animate({{first.handle(), firstEnd}, {second.handle(), secondEnd}});
    EXPECT_EQ(first.writes, 0);

    bool overshot = false;
    for (int frame = 1; animator.isRunning(); ++frame) {
        ASSERT_LT(frame, 1000);
        now += 1.0 / 60;
        const double p = searchBarSpring().value(now - 100);
        animator.step();
        if (!animator.isRunning()) {
            break;
        }
        EXPECT_EQ(first.frame, interpolateFrame(QRectF(0, 0, 100, 20), firstEnd, p));
        EXPECT_EQ(second.frame, interpolateFrame(QRectF(10, 10, 50, 50), secondEnd, p));
        overshot = overshot || first.frame.y() > firstEnd.y();
    }
    EXPECT_TRUE(overshot);
    EXPECT_GE(now - 100, searchBarSpring().settlingDuration());
    EXPECT_EQ(first.frame, firstEnd);
    EXPECT_EQ(second.frame, secondEnd);
}

// stop puts the group at its end frames at once; stopping an idle animator, or views already at
// their targets (to the last bit), touch nothing, while a tiny difference does start a refresh.
TEST_F(SpringAnimatorTest, StopAndNewGroupsSnapToTheEndAndNothingToMoveStartsNothing) {
    animator.animate({{first.handle(), first.frame}, {second.handle(), second.frame}});
    EXPECT_FALSE(animator.isRunning());
    animator.step();
    EXPECT_EQ(first.writes + second.writes, 0);
    animator.animate({{first.handle(), first.frame.adjusted(0, 0, 1e-9, 0)}});
    EXPECT_TRUE(animator.isRunning());

    animator.animate({{first.handle(), QRectF(5, 5, 10, 10)}});
    now += 0.05;
    animator.step();
    ASSERT_NE(first.frame, QRectF(5, 5, 10, 10));
    animator.stop();
    EXPECT_FALSE(animator.isRunning());
    EXPECT_EQ(first.frame, QRectF(5, 5, 10, 10));
    const int writes = first.writes;
    animator.stop();
    EXPECT_EQ(first.writes, writes);
    // A new group first puts the old group at its old end frames, then starts from where they are.
    animator.animate({{first.handle(), QRectF(0, 300, 100, 20)}});
    now += 0.1;
    animator.step();
    now += 0.01;
    animator.animate({{first.handle(), QRectF(0, 0, 100, 20)}, {second.handle(), QRectF(0, 0, 50, 50)}});
    now += 0.05;
    animator.step();
    const double p = searchBarSpring().value(0.05);
    EXPECT_EQ(first.frame, interpolateFrame(QRectF(0, 300, 100, 20), QRectF(0, 0, 100, 20), p));
}

// Views behind QObject properties: QWidget's integer geometry is written rounded, and a destroyed
// object is skipped rather than touched.
class GeometryHolder : public QObject {
    Q_OBJECT
    Q_PROPERTY(QRect geometry MEMBER geometry)
public:
    QRect geometry{0, 0, 100, 100};
};

TEST_F(SpringAnimatorTest, PropertyViewsRoundAndOutliveTheirObjects) {
    auto holder = std::make_unique<GeometryHolder>();
    animator.animate({{AnimatedView::ofProperty(holder.get()), QRectF(0, 0, 200, 101)}});
    now += 0.02;
    animator.step();
    const QRectF expected =
        interpolateFrame(QRectF(0, 0, 100, 100), QRectF(0, 0, 200, 101), searchBarSpring().value(0.02));
    EXPECT_EQ(holder->geometry, expected.toRect());

    holder.reset();
    now += 0.02;
    animator.step();
    animator.stop();
}

} // namespace
} // namespace snipjar::test

#include "SpringAnimatorTest.moc"
