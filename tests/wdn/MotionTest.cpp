#include <tests/support/PlannerFixtures.h>
#include <tests/support/Random.h>

#include <wdn/CwdnConfig.h>
#include <wdn/CwdnDevice.h>
#include <wdn/CwdnJoint.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

using tvxtest::AnalyticObstacles;
using tvxtest::SpheresBody;

namespace {

// The first colliding fraction along the straight motion a -> b, sampled
// every `step` of the metric, or -1.
double bruteForce(boost::shared_ptr<CwdnDevice> const& d, CwdnConfig const& a, CwdnConfig const& b, double step)
{
    double const length = d->distance(a, b);
    int const n = std::max(2, static_cast<int>(std::ceil(length / step)));
    CwdnConfig c;
    for (int i = 0; i <= n; ++i) {
        d->interpolate(a, b, static_cast<double>(i) / n, c);
        bool colliding = false;
        c.isColliding(colliding);
        if (colliding) {
            return static_cast<double>(i) / n;
        }
    }
    return -1.0;
}

CwdnConfig randomFlyer(boost::shared_ptr<CwdnDevice> const& d, tvxtest::Random& rnd, double range)
{
    CwdnConfig c(d);
    for (int i = 0; i < 3; ++i) {
        c[i] = rnd.uniform(-range, range);
    }
    double n = 0.0;
    for (int i = 3; i < 7; ++i) {
        c[i] = rnd.uniform(-1, 1);
        n += c[i] * c[i];
    }
    for (int i = 3; i < 7; ++i) {
        c[i] /= std::sqrt(n);
    }
    return c;
}

} // namespace

// Every motion certified free is free when sampled densely, and a motion
// that the dense sampling finds blocked is never certified; both outcomes
// must be well represented. Run with exact clearances and with clearances
// under-reported by half (a lower bound is all the planner is promised).
TEST(WdnMotion, CertifiedMotionsAgreeWithDenseSampling)
{
    for (double factor : {1.0, 0.5}) {
        auto o = boost::shared_ptr<AnalyticObstacles>(new AnalyticObstacles());
        tvxtest::Random rnd(5);
        for (int i = 0; i < 12; ++i) {
            o->addSphere(rnd.uniform(-3, 3), rnd.uniform(-3, 3), rnd.uniform(-3, 3), rnd.uniform(0.2, 0.6));
        }
        o->addBox(-0.02, -4, -4, 0.02, 4, -1); // a thin plate
        boost::shared_ptr<CwdnDevice> rod = tvxtest::makeFreeFlyerRod(1.5, 0.15, 4.0, o);
        std::vector<boost::shared_ptr<CwdnBody>> bodies;
        rod->getBodyVector(bodies);
        boost::static_pointer_cast<SpheresBody>(bodies[0])->reportFactor = factor;

        int certifiedFree = 0, blocked = 0, refusedButFree = 0;
        // Enough pairs for both outcomes to show, even in the slow builds.
        int const runs = std::max(80, tvxtest::runs(150));
        for (int run = 0; run < runs; ++run) {
            CwdnConfig a = randomFlyer(rod, rnd, 3.0);
            CwdnConfig b = randomFlyer(rod, rnd, 3.0);
            bool ca = true, cb = true;
            a.isColliding(ca);
            b.isColliding(cb);
            if (ca || cb) {
                continue;
            }
            bool free = false;
            ASSERT_EQ(0, rod->isMotionFree(a, b, free));
            double const hit = bruteForce(rod, a, b, 4e-3);
            if (free) {
                ++certifiedFree;
                ASSERT_LT(hit, 0.0) << "factor " << factor << " run " << run << ": certified motion collides at "
                                    << hit;
            } else if (hit >= 0.0) {
                ++blocked;
            } else {
                ++refusedButFree;
            }
        }
        EXPECT_GT(certifiedFree, runs / 20) << "factor " << factor;
        EXPECT_GT(blocked, runs / 20) << "factor " << factor;
        // Refusing a free motion is allowed (grazing motions), but rare.
        EXPECT_LT(refusedButFree, runs / 20) << "factor " << factor;
    }
}

// A fixed-step check would jump over a plate much thinner than a step; with
// a resolution of 0 the clearance certificate cannot, wherever the plate
// falls between the checked configurations.
TEST(WdnMotion, ThinObstaclesAreNotSteppedOver)
{
    auto o = boost::shared_ptr<AnalyticObstacles>(new AnalyticObstacles());
    o->addBox(-0.001, -5, -5, 0.001, 5, 5);
    boost::shared_ptr<CwdnDevice> d = CwdnDevice::create();
    boost::shared_ptr<CwdnJoint> j = CwdnJoint::createPlanar(-5, 5, -5, 5);
    d->addJoint(j);
    j->addBody(SpheresBody::create({{{0, 0, 0}, 0.001}}, o));
    d->resolution(0.0);
    CwdnConfig a(d), b(d);
    a[0] = -2.0;
    bool free = true;
    for (double x : {2.0, 1.3, 0.7071, 0.01}) {
        b[0] = x;
        ASSERT_EQ(0, d->isMotionFree(a, b, free));
        EXPECT_FALSE(free) << x;
    }
    // Parallel to the plate it is free, and certified in few checks.
    b[0] = -2.0;
    b[1] = 4.0;
    d->resetCounters();
    ASSERT_EQ(0, d->isMotionFree(a, b, free));
    EXPECT_TRUE(free);
    EXPECT_LT(d->countConfigChecks(), 20u);
}

// A body with nothing in reach reports a clearance of 0: its motions are
// then checked every resolution() of travel, and accepted.
TEST(WdnMotion, BodiesWithoutClearanceAreSteppedAtTheResolution)
{
    auto none = boost::shared_ptr<AnalyticObstacles>(new AnalyticObstacles());
    boost::shared_ptr<CwdnDevice> d = CwdnDevice::create();
    boost::shared_ptr<CwdnJoint> j = CwdnJoint::createPlanar(-5, 5, -5, 5);
    d->addJoint(j);
    boost::shared_ptr<SpheresBody> body = SpheresBody::create({{{0, 0, 0}, 0.1}}, none);
    body->reportFactor = 0.0;
    j->addBody(body);
    d->resolution(0.05);
    CwdnConfig a(d), b(d);
    b[0] = 1.0;
    bool free = false;
    d->resetCounters();
    ASSERT_EQ(0, d->isMotionFree(a, b, free));
    EXPECT_TRUE(free);
    // 1.0 of travel in pieces of at most 0.05: 32 pieces after bisection,
    // 31 midpoints and the two ends.
    EXPECT_EQ(33u, d->countConfigChecks());
}

// On a chain, the arm of a rotation grows with the links below it: moving
// the root joint sweeps the tip far more than the root link.
TEST(WdnMotion, ChainTravelIncludesTheLinksBelow)
{
    auto o = boost::shared_ptr<AnalyticObstacles>(new AnalyticObstacles());
    // A small ball 2.6 from the root: only the tip of the stretched
    // three-link arm (links of 1, tip balls reaching 3.1) sweeps it.
    o->addSphere(0.0, 2.6, 0.0, 0.05);
    boost::shared_ptr<CwdnDevice> arm = tvxtest::makePlanarArm(3, 1.0, o);
    CwdnConfig a(arm), b(arm);
    a[0] = -0.3;
    b[0] = 2.0;
    bool free = true;
    ASSERT_EQ(0, arm->isMotionFree(a, b, free));
    EXPECT_FALSE(free);
    EXPECT_GE(bruteForce(arm, a, b, 1e-3), 0.0);
    // Folded, the same root motion clears it.
    a[1] = b[1] = 2.5;
    ASSERT_EQ(0, arm->isMotionFree(a, b, free));
    EXPECT_LT(bruteForce(arm, a, b, 1e-3), 0.0);
    EXPECT_TRUE(free);
}
