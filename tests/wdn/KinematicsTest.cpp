#include <tests/support/PlannerFixtures.h>
#include <tests/support/Random.h>

#include <wdn/CwdnConfig.h>
#include <wdn/CwdnDevice.h>
#include <wdn/CwdnDirectPath.h>
#include <wdn/CwdnJoint.h>
#include <wdn/CwdnPath.h>
#include <wdn/CwdnSteeringMethod.h>

#include <gtest/gtest.h>

#include <cmath>

using tvxtest::AnalyticObstacles;
using tvxtest::SpheresBody;

namespace {

boost::shared_ptr<AnalyticObstacles> noObstacles()
{
    return boost::shared_ptr<AnalyticObstacles>(new AnalyticObstacles());
}

} // namespace

// Joint frames against hand-computed placements: a planar two-link arm and
// a prismatic joint on a revolute one.
TEST(WdnKinematics, ChainsPlaceTheirJointsAsComputedByHand)
{
    boost::shared_ptr<CwdnDevice> arm = tvxtest::makePlanarArm(2, 1.5, noObstacles());
    CwdnConfig q(arm);
    q[0] = M_PI / 2;
    q[1] = -M_PI / 2;
    ASSERT_EQ(0, arm->setCurrentConfig(q));
    CqarMat4 const& tip = arm->joint(1)->currentPosition();
    // The second joint sits 1.5 up the y axis, turned back to face +x.
    EXPECT_NEAR(0.0, tip(0, 3), 1e-12);
    EXPECT_NEAR(1.5, tip(1, 3), 1e-12);
    EXPECT_NEAR(1.0, tip(0, 0), 1e-12);
    EXPECT_NEAR(0.0, tip(1, 0), 1e-12);
    // Bodies follow their joints.
    std::vector<boost::shared_ptr<CwdnBody>> bodies;
    arm->getBodyVector(bodies);
    ASSERT_EQ(2u, bodies.size());
    EXPECT_NEAR(1.5, bodies[1]->absolutePosition()(1, 3), 1e-12);

    boost::shared_ptr<CwdnDevice> d = CwdnDevice::create();
    boost::shared_ptr<CwdnJoint> r = CwdnJoint::createRevolute();
    boost::shared_ptr<CwdnJoint> p = CwdnJoint::createPrismatic(0.0, 2.0);
    CqarMat4 rel;
    rel(0, 3) = 1.0;
    p->relativePosition(rel);
    ASSERT_EQ(0, d->addJoint(r));
    ASSERT_EQ(0, d->addJoint(p, r));
    EXPECT_EQ(2u, d->configSize());
    CwdnConfig c(d);
    c[0] = M_PI;
    c[1] = 0.5;
    d->setCurrentConfig(c);
    EXPECT_NEAR(-1.0, p->currentPosition()(0, 3), 1e-12);
    EXPECT_NEAR(0.0, p->currentPosition()(1, 3), 1e-12);
    EXPECT_NEAR(0.5, p->currentPosition()(2, 3), 1e-12);
}

TEST(WdnKinematics, DeviceRefusesMalformedTrees)
{
    boost::shared_ptr<CwdnDevice> d = CwdnDevice::create();
    boost::shared_ptr<CwdnJoint> root = CwdnJoint::createRevolute();
    EXPECT_EQ(-1, d->addJoint(boost::shared_ptr<CwdnJoint>()));
    ASSERT_EQ(0, d->addJoint(root));
    EXPECT_EQ(-1, d->addJoint(root)) << "a joint is added once";
    EXPECT_EQ(-1, d->addJoint(CwdnJoint::createRevolute())) << "a second root";
    EXPECT_EQ(-1, d->addJoint(CwdnJoint::createPlanar(0, 1, 0, 1), root)) << "planar joints are roots";
    EXPECT_EQ(-1, d->addJoint(CwdnJoint::createRevolute(), CwdnJoint::createRevolute())) << "a parent from elsewhere";
    EXPECT_EQ(1u, d->countJoints());

    boost::shared_ptr<SpheresBody> b = SpheresBody::create({{{0, 0, 0}, 1.0}}, noObstacles());
    EXPECT_EQ(0, root->addBody(b));
    EXPECT_EQ(-1, CwdnJoint::createRevolute()->addBody(b)) << "a body belongs to one joint";
    EXPECT_EQ(root, b->joint());
}

// valuesOfMotion inverts motion for random poses, half-turns included.
TEST(WdnKinematics, FreeFlyerPoseRoundTrip)
{
    boost::shared_ptr<CwdnJoint> j = CwdnJoint::createFreeFlyer(CqarVect3(-9, -9, -9), CqarVect3(9, 9, 9));
    tvxtest::Random rnd(17);
    for (int run = 0; run < 200; ++run) {
        double v[7];
        v[0] = rnd.uniform(-5, 5);
        v[1] = rnd.uniform(-5, 5);
        v[2] = rnd.uniform(-5, 5);
        double n = 0.0;
        for (int i = 3; i < 7; ++i) {
            v[i] = rnd.uniform(-1, 1);
            n += v[i] * v[i];
        }
        if (run == 0) {
            // A half-turn about x: w = 0.
            v[3] = 1.0;
            v[4] = v[5] = v[6] = 0.0;
            n = 1.0;
        }
        for (int i = 3; i < 7; ++i) {
            v[i] /= std::sqrt(n);
        }
        CqarMat4 m;
        j->motion(v, m);
        double back[7];
        ASSERT_EQ(0, j->valuesOfMotion(m, back));
        CqarMat4 m2;
        j->motion(back, m2);
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 4; ++c) {
                ASSERT_NEAR(m(r, c), m2(r, c), 1e-12) << "run " << run;
            }
        }
    }
    EXPECT_EQ(-1, CwdnJoint::createRevolute()->valuesOfMotion(CqarMat4(), nullptr));
}

// Interpolation: ends exact, rotations at constant rate, unbounded angles
// the short way round.
TEST(WdnKinematics, DirectPathsInterpolateAsTheMetricSays)
{
    boost::shared_ptr<CwdnDevice> rod = tvxtest::makeFreeFlyerRod(1.0, 0.2, 5.0, noObstacles());
    CwdnConfig a = tvxtest::flyerConfig(rod, 0, 0, 0, 0.0);
    CwdnConfig b = tvxtest::flyerConfig(rod, 2, 0, 0, 1.0);
    boost::shared_ptr<CwdnDirectPath> dp = rod->steeringMethod()->makeDirectPath(a, b);
    ASSERT_TRUE(dp);
    // Translation 2 plus the quaternion arc, half of the 1 rad turn.
    EXPECT_NEAR(2.5, dp->length(), 1e-12);
    CwdnConfig mid;
    ASSERT_EQ(0, dp->configAt(0.25, mid));
    EXPECT_NEAR(0.5, mid[0], 1e-12);
    EXPECT_NEAR(std::sin(0.125), mid[5], 1e-12);
    EXPECT_NEAR(std::cos(0.125), mid[6], 1e-12);
    dp->configAt(0.0, mid);
    EXPECT_TRUE(mid.isEqual(a, 0.0));
    dp->configAt(1.0, mid);
    EXPECT_TRUE(mid.isEqual(b, 0.0));

    boost::shared_ptr<CwdnDevice> wheel = CwdnDevice::create();
    wheel->addJoint(CwdnJoint::createRevolute());
    CwdnConfig p(wheel), q(wheel);
    p[0] = 3.0;
    q[0] = -3.0;
    EXPECT_NEAR(2.0 * M_PI - 6.0, wheel->distance(p, q), 1e-12);
    CwdnConfig r;
    wheel->interpolate(p, q, 0.5, r);
    EXPECT_NEAR(M_PI, std::fabs(r[0]), 1e-9) << "through the half-turn, not through 0";

    boost::shared_ptr<CwdnDevice> other = CwdnDevice::create();
    other->addJoint(CwdnJoint::createRevolute());
    EXPECT_FALSE(rod->steeringMethod()->makeDirectPath(a, CwdnConfig(other)));
}

// Paths only grow by pieces that start where they end.
TEST(WdnKinematics, PathsStayContinuous)
{
    boost::shared_ptr<CwdnDevice> rod = tvxtest::makeFreeFlyerRod(1.0, 0.2, 5.0, noObstacles());
    boost::shared_ptr<CwdnSteeringMethod> sm = rod->steeringMethod();
    CwdnConfig a = tvxtest::flyerConfig(rod, 0, 0, 0, 0);
    CwdnConfig b = tvxtest::flyerConfig(rod, 1, 0, 0, 0);
    CwdnConfig c = tvxtest::flyerConfig(rod, 1, 2, 0, 0);
    boost::shared_ptr<CwdnPath> p = CwdnPath::create(rod);
    EXPECT_EQ(0, p->appendDirectPath(sm->makeDirectPath(a, b)));
    EXPECT_EQ(-1, p->appendDirectPath(sm->makeDirectPath(a, c))) << "starts elsewhere";
    EXPECT_EQ(-1, p->appendDirectPath(boost::shared_ptr<CwdnDirectPath>()));
    EXPECT_EQ(0, p->appendDirectPath(sm->makeDirectPath(b, c)));
    EXPECT_NEAR(3.0, p->length(), 1e-12);
    CwdnConfig at;
    p->configAtLength(2.0, at);
    EXPECT_NEAR(1.0, at[0], 1e-12);
    EXPECT_NEAR(1.0, at[1], 1e-12);

    boost::shared_ptr<CwdnPath> q = CwdnPath::create(rod);
    EXPECT_EQ(0, q->appendDirectPath(sm->makeDirectPath(c, a)));
    EXPECT_EQ(0, p->appendPath(q));
    EXPECT_EQ(-1, p->appendPath(CwdnPath::create(CwdnDevice::create()))) << "another device";
    EXPECT_EQ(3u, p->countDirectPaths());
    boost::shared_ptr<CwdnPath> loop = CwdnPath::create(rod);
    loop->appendDirectPath(sm->makeDirectPath(a, b));
    loop->appendDirectPath(sm->makeDirectPath(b, a));
    EXPECT_EQ(0, loop->appendPath(loop)) << "a closed path can follow itself";
    EXPECT_EQ(4u, loop->countDirectPaths());
}

// A configuration asks every body of its device; wrong sizes are refused.
TEST(WdnKinematics, ConfigCollisionStatus)
{
    boost::shared_ptr<AnalyticObstacles> o = noObstacles();
    o->addSphere(3, 0, 0, 1.0);
    boost::shared_ptr<CwdnDevice> rod = tvxtest::makeFreeFlyerRod(2.0, 0.25, 5.0, o);
    bool colliding = false;
    EXPECT_EQ(0, tvxtest::flyerConfig(rod, 0, 0, 0, 0).isColliding(colliding));
    EXPECT_FALSE(colliding);
    // The last ball, at x + 1 with radius 0.25, meets the sphere's surface at
    // x = 2 when x = 0.75.
    tvxtest::flyerConfig(rod, 0.2, 0, 0, 0).isColliding(colliding);
    EXPECT_FALSE(colliding);
    tvxtest::flyerConfig(rod, 0.9, 0, 0, 0).isColliding(colliding);
    EXPECT_TRUE(colliding);
    // Turned a quarter about z, the rod no longer points at the sphere.
    tvxtest::flyerConfig(rod, 0.9, 0, 0, M_PI / 2).isColliding(colliding);
    EXPECT_FALSE(colliding);
    EXPECT_EQ(-1, CwdnConfig().isColliding(colliding));
    EXPECT_TRUE(colliding);
}
