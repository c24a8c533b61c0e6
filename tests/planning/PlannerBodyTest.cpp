#include <tests/support/PlannerFixtures.h>
#include <tests/support/SceneFixtures.h>

#include <tvx/analysis/CtvxAnalysis.h>
#include <tvx/geometry/CtvxPolyhedron.h>
#include <tvx/planning/CwdnTVXBody.h>
#include <tvx/progress/CtvxProgressDelegate.h>
#include <tvx/scene/CtvxCollisionList.h>

#include <wdn/CwdnConfig.h>
#include <wdn/CwdnDevice.h>
#include <wdn/CwdnJoint.h>
#include <wdn/CwdnPath.h>
#include <wdn/CwdnRoadmap.h>
#include <wdn/CwdnRoadmapBuilder.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

boost::shared_ptr<CtvxProgressDelegate> noDelegate;

CqarMat4 pose(double x, double y, double z, double angleZ)
{
    CqarMat4 m;
    m(0, 0) = std::cos(angleZ);
    m(0, 1) = -std::sin(angleZ);
    m(1, 0) = std::sin(angleZ);
    m(1, 1) = std::cos(angleZ);
    m(0, 3) = x;
    m(1, 3) = y;
    m(2, 3) = z;
    return m;
}

void expectSame(CqarMat4 const& a, CqarMat4 const& b, double tol = 0.0)
{
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            EXPECT_NEAR(a(r, c), b(r, c), tol) << "(" << r << ", " << c << ")";
        }
    }
}

// Exposes the protected estimatedDistance setter's effect and the body's
// copy for the tests below.
class TestableBody : public CwdnTVXBody {
public:
    using CwdnTVXBody::CwdnTVXBody;
};

} // namespace

TEST(CwdnTVXBody, FreshBodyAnswersZeroAndTrue)
{
    boost::shared_ptr<CwdnTVXBody> b = CwdnTVXBody::create();
    ASSERT_TRUE(b);
    EXPECT_TRUE(b->computeEstimatedDistance());
    EXPECT_EQ(0.0, b->estimatedDistance());
    EXPECT_FALSE(b->innerObjects());
    EXPECT_FALSE(b->outerObjects());
    EXPECT_EQ(0.0, b->getBoundingSphereRadius(CqarPoint3(0, 0, 0)));
    b->placeBody(pose(1, 2, 3, 0.5)); // no inner list: nothing to move, nothing to break
}

// placeBody puts object i at T * R_i, identity R_i by default, and the
// identity for objects past the end of a short vector.
TEST(CwdnTVXBody, PlacementComposesRelativePositions)
{
    auto a = tvxtest::makeBoxEntity(0.1, 0.1, 0.1), b = tvxtest::makeBoxEntity(0.1, 0.1, 0.1), c = tvxtest::makeBoxEntity(0.1, 0.1, 0.1);
    boost::shared_ptr<CwdnTVXBody> body = CwdnTVXBody::create();
    CqarMat4 const t = pose(1.0, -2.0, 0.5, 0.7);
    body->setInnerObjects(tvxtest::listOf({a, b, c}));
    body->placeBody(t);
    for (auto const& o : {a, b, c}) {
        CqarMat4 m;
        o->getAbsolutePosition(m);
        expectSame(t, m);
    }
    CqarMat4 const r0 = pose(0.3, 0, 0, 0.1), r1 = pose(0, 0.4, 0, -0.2);
    body->setInnerObjects(tvxtest::listOf({a, b, c}), {r0, r1});
    body->placeBody(t);
    CqarMat4 m;
    a->getAbsolutePosition(m);
    expectSame(t * r0, m, 1e-15);
    b->getAbsolutePosition(m);
    expectSame(t * r1, m, 1e-15);
    c->getAbsolutePosition(m);
    expectSame(t, m, 1e-15);
}

// The collision status and the clearance bound against a hand-computed
// gap; an empty analysis gives 0.
TEST(CwdnTVXBody, EstimatedDistanceIsALowerBoundAndContactIsACollision)
{
    auto peg = tvxtest::makeBoxEntity(0.5, 0.2, 0.2);
    auto wall = tvxtest::makeBoxEntity(0.1, 2.0, 2.0, 2.0, 0.0, 0.0);
    boost::shared_ptr<CwdnTVXBody> body = CwdnTVXBody::create();
    body->setInnerObjects(tvxtest::listOf({peg}));
    body->setOuterObjects(tvxtest::listOf({wall}));
    for (double x : {0.0, 0.8, 1.3, 1.39}) {
        body->placeBody(pose(x, 0, 0, 0));
        ASSERT_TRUE(body->computeEstimatedDistance()) << x;
        double const gap = (2.0 - 0.1) - (x + 0.5);
        EXPECT_GT(body->estimatedDistance(), 0.0) << x;
        EXPECT_LE(body->estimatedDistance(), gap + 1e-6) << x;
    }
    body->placeBody(pose(1.45, 0, 0, 0));
    double const before = body->estimatedDistance();
    EXPECT_FALSE(body->computeEstimatedDistance());
    EXPECT_EQ(before, body->estimatedDistance()) << "a collision leaves the distance alone";
    // Neither a placement the scene refuses (the peg would stay behind) nor
    // a pair the analysis cannot examine reads as free space.
    body->placeBody(pose(0.0, 0, 0, 0));
    EXPECT_TRUE(body->computeEstimatedDistance());
    body->placeBody(pose(std::nan(""), 0, 0, 0));
    EXPECT_FALSE(body->computeEstimatedDistance());
    peg->removeCollisionEntities();
    body->placeBody(pose(0.0, 0, 0, 0));
    EXPECT_FALSE(body->computeEstimatedDistance());
}

TEST(CwdnTVXBody, BoundingRadiusFromTheEnclosingBoxCorners)
{
    auto b = tvxtest::makeBoxEntity(1.0, 2.0, 3.0);
    boost::shared_ptr<CwdnTVXBody> body = CwdnTVXBody::create();
    body->setInnerObjects(tvxtest::listOf({b}));
    // The farthest corner of the object's enclosing box, in plain doubles.
    CqarMat4 e;
    float hx = 0, hy = 0, hz = 0;
    ASSERT_EQ(0, b->getObbRelativePosition(e));
    ASSERT_EQ(0, b->getObbHalfLengths(hx, hy, hz));
    auto farthest = [&](double cx, double cy, double cz, CqarMat4 const& place) {
        double best = 0.0;
        for (int i = 0; i < 8; ++i) {
            double const l[3] = {(i & 4 ? -1.0 : 1.0) * hx, (i & 2 ? -1.0 : 1.0) * hy, (i & 1 ? -1.0 : 1.0) * hz};
            double w[3];
            for (int r = 0; r < 3; ++r) {
                double inBox = e(r, 3);
                for (int k = 0; k < 3; ++k) {
                    inBox += e(r, k) * l[k];
                }
                w[r] = inBox;
            }
            double q[3];
            for (int r = 0; r < 3; ++r) {
                q[r] = place(r, 3) + place(r, 0) * w[0] + place(r, 1) * w[1] + place(r, 2) * w[2];
            }
            best = std::max(best, std::sqrt((q[0] - cx) * (q[0] - cx) + (q[1] - cy) * (q[1] - cy) +
                                            (q[2] - cz) * (q[2] - cz)));
        }
        return best;
    };
    EXPECT_NEAR(farthest(0, 0, 0, CqarMat4()), body->getBoundingSphereRadius(CqarPoint3(0, 0, 0)), 1e-9);
    EXPECT_NEAR(farthest(3, 0, 0, CqarMat4()), body->getBoundingSphereRadius(CqarPoint3(3, 0, 0)), 1e-9);
    // At least the half diagonal of the mesh itself.
    EXPECT_GE(body->getBoundingSphereRadius(CqarPoint3(0, 0, 0)), std::sqrt(14.0) - 1e-6);
    // With a relative position, the box goes where the body would put it,
    // even though the object itself was never moved.
    CqarMat4 const rel = pose(10, 0, 0, 0.3);
    body->setInnerObjects(tvxtest::listOf({b}), {rel});
    EXPECT_NEAR(farthest(0, 0, 0, rel), body->getBoundingSphereRadius(CqarPoint3(0, 0, 0)), 1e-9);
    EXPECT_GT(body->getBoundingSphereRadius(CqarPoint3(0, 0, 0)), 10.0);

    // Whatever the fit, the radius covers every vertex of the geometry.
    auto round = tvxtest::makePolyhedron(tvxtest::makeIcosphere(2, 1.5));
    round->makeCollisionEntity(noDelegate);
    body->setInnerObjects(tvxtest::listOf({round}));
    double const r = body->getBoundingSphereRadius(CqarPoint3(0.5, 0, 0));
    for (unsigned int i = 0; i < round->countPoints(); ++i) {
        CqarPoint3 p;
        round->getPoint(i, p);
        EXPECT_LE(p.distanceFrom(CqarPoint3(0.5, 0, 0)), r + 1e-9);
    }
}

// The body copies the caller's lists; copies of the body share them.
TEST(CwdnTVXBody, ListsAreCopiedAndBodyCopiesShare)
{
    auto peg = tvxtest::makeBoxEntity(0.5, 0.2, 0.2);
    auto wall = tvxtest::makeBoxEntity(0.1, 2.0, 2.0, 2.0, 0.0, 0.0);
    auto near = tvxtest::makeBoxEntity(0.1, 0.1, 0.1, 0.0, 0.0, 0.0);
    boost::shared_ptr<CwdnTVXBody> body = CwdnTVXBody::create();
    boost::shared_ptr<CtvxCollisionList> outer = tvxtest::listOf({wall});
    body->setInnerObjects(tvxtest::listOf({peg}));
    body->setOuterObjects(outer);
    outer->add(near); // overlaps the peg, but the body never sees it
    body->placeBody(CqarMat4());
    EXPECT_TRUE(body->computeEstimatedDistance());
    EXPECT_EQ(1u, body->outerObjects()->countObjects());
    EXPECT_NE(outer, body->outerObjects());

    CwdnTVXBody copy(*body);
    EXPECT_EQ(body->innerObjects(), copy.innerObjects());
    EXPECT_EQ(body->outerObjects(), copy.outerObjects());
}

// The body inside the real planner: a peg on a planar joint through a slot
// in a plate, re-checked densely at full size afterwards.
TEST(CwdnTVXBody, PlannerFindsAFreePathThroughASlot)
{
    auto peg = tvxtest::makeBoxEntity(0.5, 0.15, 0.15);
    auto lower = tvxtest::makeBoxEntity(0.05, 1.0, 1.0, 0.0, -1.5, 0.0);
    auto upper = tvxtest::makeBoxEntity(0.05, 1.0, 1.0, 0.0, 1.5, 0.0);
    boost::shared_ptr<CwdnTVXBody> body = CwdnTVXBody::create();
    body->setInnerObjects(tvxtest::listOf({peg}));
    body->setOuterObjects(tvxtest::listOf({lower, upper}));
    boost::shared_ptr<CwdnDevice> d = CwdnDevice::create();
    boost::shared_ptr<CwdnJoint> j = CwdnJoint::createPlanar(-1.8, 1.8, -1.8, 1.8);
    d->addJoint(j);
    j->addBody(body);
    d->movingObstacles(false);
    CwdnConfig start(d), goal(d);
    start[0] = -1.0;
    start[1] = 1.0;
    start[2] = M_PI / 2;
    goal[0] = 1.0;
    goal[1] = -1.0;
    goal[2] = M_PI / 2;
    boost::shared_ptr<CwdnRoadmapBuilder> b = CwdnRoadmapBuilder::create(d);
    boost::shared_ptr<CwdnPath> path = CwdnPath::create(d);
    CtvxAnalysis::resetCollisionCount();
    ASSERT_EQ(0, b->solveProblem(start, goal, path));
    EXPECT_GT(CtvxAnalysis::getCollisionCount(), 0u);
    CwdnConfig c;
    path->getStart(c);
    EXPECT_TRUE(c.isEqual(start, 0.0));
    path->getEnd(c);
    EXPECT_TRUE(c.isEqual(goal, 0.0));
    EXPECT_LT(tvxtest::firstCollisionAlong(*path, 2e-3), 0.0);
}

// The same in space: a rod on a free flyer, longer than the hole in a plate
// is wide, has to turn to pass; the path is re-checked densely at full size.
TEST(CwdnTVXBody, FreeFlyerRodThroughAHole)
{
    auto rod = tvxtest::makeBoxEntity(0.6, 0.1, 0.1);
    double const h = 0.45, t = 0.05, e = 1.5;
    boost::shared_ptr<CtvxCollisionList> plate = CtvxCollisionList::create();
    plate->add(tvxtest::makeBoxEntity(t, 0.5 * (e - h), e, 0.0, 0.5 * (e + h), 0.0));
    plate->add(tvxtest::makeBoxEntity(t, 0.5 * (e - h), e, 0.0, -0.5 * (e + h), 0.0));
    plate->add(tvxtest::makeBoxEntity(t, h, 0.5 * (e - h), 0.0, 0.0, 0.5 * (e + h)));
    plate->add(tvxtest::makeBoxEntity(t, h, 0.5 * (e - h), 0.0, 0.0, -0.5 * (e + h)));
    boost::shared_ptr<CwdnTVXBody> body = CwdnTVXBody::create();
    body->setInnerObjects(tvxtest::listOf({rod}));
    body->setOuterObjects(plate);
    boost::shared_ptr<CwdnDevice> d = CwdnDevice::create();
    boost::shared_ptr<CwdnJoint> j = CwdnJoint::createFreeFlyer(CqarVect3(-1.2, -e, -e), CqarVect3(1.2, e, e));
    d->addJoint(j);
    j->addBody(body);
    d->movingObstacles(false);
    // Rod along y on both sides: it cannot pass the hole that way.
    CwdnConfig start = tvxtest::flyerConfig(d, -0.8, 0.3, 0.0, M_PI / 2);
    CwdnConfig goal = tvxtest::flyerConfig(d, 0.8, -0.3, 0.2, M_PI / 2);
    bool direct = true;
    d->isMotionFree(start, goal, direct);
    EXPECT_FALSE(direct);
    boost::shared_ptr<CwdnRoadmapBuilder> b = CwdnRoadmapBuilder::create(d);
    boost::shared_ptr<CwdnPath> path = CwdnPath::create(d);
    ASSERT_EQ(0, b->solveProblem(start, goal, path));
    CwdnConfig c;
    path->getStart(c);
    EXPECT_TRUE(c.isEqual(start, 0.0));
    path->getEnd(c);
    EXPECT_TRUE(c.isEqual(goal, 0.0));
    EXPECT_LT(tvxtest::firstCollisionAlong(*path, 2e-3), 0.0);
}
