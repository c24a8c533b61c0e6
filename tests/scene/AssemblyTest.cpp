// Assemblies: children, activation, enclosing boxes, regrouping and its
// undoing, geometry changes through the hierarchy, progress reports.
#include <tests/support/Meshes.h>
#include <tests/support/SceneFixtures.h>
#include <tests/support/MatrixExpect.h>
#include <tests/support/SceneProbes.h>

#include <tvx/geometry/CtvxPolyhedron.h>
#include <tvx/scene/CtvxAssembly.h>
#include <tvx/scene/CtvxPolyhedronGroup.h>

#include <gtest/gtest.h>

#include <cmath>

namespace {

using tvxtest::rotationZMat;
using tvxtest::translationMat;

boost::shared_ptr<CtvxProgressDelegate> noDelegate;

tvxtest::Mesh octahedron()
{
    tvxtest::Mesh m;
    m.points = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
    m.triangles = {{0, 2, 4}, {2, 1, 4}, {1, 3, 4}, {3, 0, 4}, {2, 0, 5}, {1, 2, 5}, {3, 1, 5}, {0, 3, 5}};
    return m;
}

std::vector<CqarPoint3> pointsOf(CtvxPolyhedron const& p)
{
    std::vector<CqarPoint3> pts(p.countPoints());
    for (unsigned int i = 0; i < p.countPoints(); ++i)
        p.getPoint(i, pts[i]);
    return pts;
}

// ---------------------------------------------------------------------------
// Children

TEST(AssemblyChildren, AttachAndDetachKeepWorldPlacements)
{
    boost::shared_ptr<CtvxAssembly> a = CtvxAssembly::create();
    a->relativePosition(translationMat(3, 0, 0) * rotationZMat(0.7));
    boost::shared_ptr<CtvxPolyhedron> p = tvxtest::makePolyhedron(octahedron());
    CqarMat4 const w = translationMat(-2, 1, 5) * rotationZMat(-1.2);
    p->relativePosition(w);
    ASSERT_EQ(0, a->attach(p, -1));
    CqarMat4 abs;
    p->getAbsolutePosition(abs);
    tvxtest::expectMatNear(w, abs, 1e-12);

    a->relativePosition(translationMat(0, 9, 0));
    CqarMat4 moved;
    p->getAbsolutePosition(moved);
    boost::shared_ptr<CtvxObject> po = p;
    unsigned int rank = 7;
    ASSERT_EQ(0, a->detach(po, rank));
    EXPECT_EQ(0u, rank);
    EXPECT_EQ(0u, a->countChildren());
    boost::shared_ptr<CtvxAssembly> parent;
    EXPECT_EQ(-1, p->getParent(parent));
    p->getAbsolutePosition(abs);
    tvxtest::expectMatNear(moved, abs, 1e-12);
}

TEST(AssemblyChildren, RanksAndMovingBetweenAssemblies)
{
    boost::shared_ptr<CtvxAssembly> a = CtvxAssembly::create();
    boost::shared_ptr<CtvxAssembly> b = CtvxAssembly::create();
    boost::shared_ptr<CtvxPolyhedron> p = tvxtest::makePolyhedron(octahedron());
    boost::shared_ptr<CtvxPolyhedron> q = tvxtest::makePolyhedron(octahedron());
    boost::shared_ptr<CtvxPolyhedron> r = tvxtest::makePolyhedron(octahedron());
    a->attach(p, -1);
    a->attach(q, 0);
    EXPECT_EQ(q, a->child(0));
    EXPECT_EQ(p, a->child(1));
    a->attach(r, 1);
    EXPECT_EQ(r, a->child(1));
    EXPECT_EQ(p, a->child(2));
    // Attaching a child of another assembly takes it from there first.
    b->attach(r, -1);
    EXPECT_EQ(2u, a->countChildren());
    EXPECT_EQ(1u, b->countChildren());
    // Re-attaching to the same assembly moves it to the new rank.
    a->attach(p, 0);
    EXPECT_EQ(p, a->child(0));
    EXPECT_EQ(q, a->child(1));
    // Detaching a stranger changes nothing.
    boost::shared_ptr<CtvxObject> ro = r;
    unsigned int rank = 5;
    EXPECT_EQ(-1, a->detach(ro, rank));
    EXPECT_EQ(5u, rank);
    EXPECT_EQ(2u, a->countChildren());
}

TEST(AssemblyChildren, CyclesAndRanksPastTheEndAreRefused)
{
    boost::shared_ptr<CtvxAssembly> a = CtvxAssembly::create();
    boost::shared_ptr<CtvxAssembly> b = CtvxAssembly::create();
    boost::shared_ptr<CtvxPolyhedron> p = tvxtest::makePolyhedron(octahedron());
    a->attach(b, -1);
    b->attach(p, -1);
    EXPECT_EQ(-1, a->attach(a, -1));
    EXPECT_EQ(-1, b->attach(a, -1));
    boost::shared_ptr<CtvxAssembly> parent;
    EXPECT_EQ(-1, a->getParent(parent));
    EXPECT_EQ(1u, a->countChildren());
    boost::shared_ptr<CtvxPolyhedron> q = tvxtest::makePolyhedron(octahedron());
    EXPECT_EQ(-1, a->attach(q, 2));
    EXPECT_EQ(-1, a->attach(q, -2));
    EXPECT_EQ(-1, q->getParent(parent));
    EXPECT_EQ(0, a->attach(q, 1));
    // Moving a child within its own assembly counts it once.
    EXPECT_EQ(-1, a->attach(q, 2));
    EXPECT_EQ(0, a->attach(q, 0));
    EXPECT_EQ(q, a->child(0));
    EXPECT_EQ(2u, a->countChildren());
}

TEST(AssemblyChildren, DetachingThePrioritaryChildClearsIt)
{
    boost::shared_ptr<CtvxAssembly> r = CtvxAssembly::create();
    boost::shared_ptr<CtvxAssembly> a = CtvxAssembly::create();
    boost::shared_ptr<tvxtest::ProbePolyhedron> p =
        tvxtest::ProbePolyhedron::create(tvxtest::makePolyData(octahedron()));
    boost::shared_ptr<CtvxPolyhedron> q = tvxtest::makePolyhedron(octahedron());
    r->attach(a, -1);
    a->attach(q, -1);
    a->attach(p, -1);
    boost::shared_ptr<CtvxObject> c;
    EXPECT_EQ(-1, a->getPrioritaryChild(c));
    p->isPrioritaryChildRecurse();
    EXPECT_EQ(0, a->getPrioritaryChild(c));
    EXPECT_EQ(p, c);
    EXPECT_EQ(0, r->getPrioritaryChild(c));
    EXPECT_EQ(a, c);
    boost::shared_ptr<CtvxObject> qo = q;
    unsigned int rank = 0;
    a->detach(qo, rank);
    EXPECT_EQ(0, a->getPrioritaryChild(c));
    boost::shared_ptr<CtvxObject> po = p;
    a->detach(po, rank);
    EXPECT_EQ(-1, a->getPrioritaryChild(c));
    EXPECT_FALSE(c);
}

// ---------------------------------------------------------------------------
// Activation and tolerance

TEST(AssemblyActivation, StateFromTheLeaves)
{
    boost::shared_ptr<CtvxAssembly> a = CtvxAssembly::create();
    EXPECT_EQ(CtvxObject::DEACTIVATED, a->activation());
    double m = 0.5;
    EXPECT_EQ(-1, a->getMaxTolerance(m));
    EXPECT_TRUE(a->areCollisionEntitiesMade());
    boost::shared_ptr<CtvxPolyhedron> p = tvxtest::makePolyhedron(octahedron());
    boost::shared_ptr<CtvxPolyhedron> q = tvxtest::makePolyhedron(octahedron());
    boost::shared_ptr<CtvxAssembly> sub = CtvxAssembly::create();
    a->attach(p, -1);
    a->attach(sub, -1);
    sub->attach(q, -1);
    EXPECT_EQ(CtvxObject::ACTIVATED, a->activation());
    q->activation(false);
    EXPECT_EQ(CtvxObject::DEACTIVATED, sub->activation());
    EXPECT_EQ(CtvxObject::PARTIALLY_ACTIVATED, a->activation());
    a->setTolerance(0.125);
    EXPECT_EQ(0.125, p->tolerance());
    EXPECT_EQ(0.125, q->tolerance());
    q->setTolerance(0.5);
    m = 0.0;
    EXPECT_EQ(0, a->getMaxTolerance(m));
    EXPECT_EQ(0.125, m); // the deactivated leaf does not count
    EXPECT_EQ(0, a->activation(true));
    EXPECT_EQ(CtvxObject::ACTIVATED, a->activation());
    EXPECT_FALSE(a->areCollisionEntitiesMade());
}

TEST(AssemblyActivation, DeactivationDropsTheBoxAndReactivationStalesIt)
{
    boost::shared_ptr<tvxtest::ProbeAssembly> a = tvxtest::ProbeAssembly::create();
    boost::shared_ptr<CtvxPolyhedron> p = tvxtest::makePolyhedron(octahedron());
    a->attach(p, -1);
    float h[3];
    ASSERT_EQ(0, a->getObbHalfLengths(h[0], h[1], h[2]));
    a->activation(false);
    EXPECT_EQ(CtvxObject::OBB_NONE, a->obbState());
    EXPECT_FALSE(a->needToRecomputeObb());
    EXPECT_EQ(-1, a->getObbHalfLengths(h[0], h[1], h[2]));
    a->activation(true);
    EXPECT_TRUE(a->needToRecomputeObb());
    EXPECT_EQ(0, a->getObbHalfLengths(h[0], h[1], h[2]));
}

// ---------------------------------------------------------------------------
// Enclosing boxes

TEST(AssemblyBox, EmptyOrAllOffHasNone)
{
    boost::shared_ptr<CtvxAssembly> a = CtvxAssembly::create();
    float h[3] = {1, 1, 1};
    EXPECT_EQ(-1, a->getObbHalfLengths(h[0], h[1], h[2]));
    EXPECT_EQ(0.0f, h[0] + h[1] + h[2]);
    boost::shared_ptr<CtvxPolyhedron> p = tvxtest::makePolyhedron(octahedron());
    a->attach(p, -1);
    p->activation(false);
    EXPECT_EQ(-1, a->getObbHalfLengths(h[0], h[1], h[2]));
}

TEST(AssemblyBox, SingleBoxedChildIsSeenFromTheAssembly)
{
    boost::shared_ptr<tvxtest::ProbeAssembly> a = tvxtest::ProbeAssembly::create();
    CqarMat4 const box = translationMat(0.5, 0, 0) * rotationZMat(0.3);
    boost::shared_ptr<tvxtest::FixedBoxLeaf> on = tvxtest::FixedBoxLeaf::create(box, 1, 2, 3);
    boost::shared_ptr<tvxtest::FixedBoxLeaf> off = tvxtest::FixedBoxLeaf::create(box, 9, 9, 9);
    off->activation(false);
    a->attach(off, -1);
    a->attach(on, -1);
    CqarMat4 const rel = translationMat(0, 4, 0) * rotationZMat(-1.0);
    on->relativePosition(rel);
    float h[3];
    CqarMat4 m;
    ASSERT_EQ(0, a->getObbHalfLengths(h[0], h[1], h[2]));
    ASSERT_EQ(0, a->getObbRelativePosition(m));
    EXPECT_EQ(CtvxObject::OBB_SINGLE_CHILD, a->obbState());
    EXPECT_EQ(1.0f, h[0]);
    EXPECT_EQ(2.0f, h[1]);
    EXPECT_EQ(3.0f, h[2]);
    tvxtest::expectMatNear(rel * box, m, 1e-15);
}

TEST(AssemblyBox, TwoAlignedBoxesMergeAlongX)
{
    boost::shared_ptr<tvxtest::ProbeAssembly> a = tvxtest::ProbeAssembly::create();
    boost::shared_ptr<tvxtest::FixedBoxLeaf> l = tvxtest::FixedBoxLeaf::create(CqarMat4(), 0.5f, 0.5f, 0.5f);
    boost::shared_ptr<tvxtest::FixedBoxLeaf> r = tvxtest::FixedBoxLeaf::create(CqarMat4(), 0.5f, 0.5f, 0.5f);
    a->attach(l, -1);
    a->attach(r, -1);
    r->relativePosition(translationMat(10, 0, 0));
    float h[3];
    CqarMat4 m;
    ASSERT_EQ(0, a->getObbHalfLengths(h[0], h[1], h[2]));
    a->getObbRelativePosition(m);
    EXPECT_EQ(CtvxObject::OBB_COMPUTED, a->obbState());
    EXPECT_EQ(5.5f, h[0]);
    EXPECT_EQ(0.5f, h[1]);
    EXPECT_EQ(0.5f, h[2]);
    tvxtest::expectMatNear(translationMat(5, 0, 0), m, 0.0);
}

TEST(AssemblyBox, RotatedChildContributesItsCorners)
{
    boost::shared_ptr<tvxtest::ProbeAssembly> a = tvxtest::ProbeAssembly::create();
    boost::shared_ptr<tvxtest::FixedBoxLeaf> turned =
        tvxtest::FixedBoxLeaf::create(CqarMat4(), 0.5f, 0.5f, 0.5f);
    boost::shared_ptr<tvxtest::FixedBoxLeaf> far = tvxtest::FixedBoxLeaf::create(CqarMat4(), 0.5f, 0.5f, 0.5f);
    a->attach(turned, -1);
    a->attach(far, -1);
    turned->relativePosition(rotationZMat(M_PI / 4));
    far->relativePosition(translationMat(10, 0, 0));
    float h[3];
    CqarMat4 m;
    ASSERT_EQ(0, a->getObbHalfLengths(h[0], h[1], h[2]));
    a->getObbRelativePosition(m);
    double const reach = std::sqrt(2.0) / 2.0;
    // x from -reach to 10.5, y from -reach to reach, z from -0.5 to 0.5.
    EXPECT_NEAR((10.5 + reach) / 2, h[0], 1e-6);
    EXPECT_NEAR(reach, h[1], 1e-6);
    EXPECT_NEAR(0.5, h[2], 1e-7);
    EXPECT_NEAR((10.5 - reach) / 2, m(0, 3), 1e-6);
    EXPECT_NEAR(0.0, m(1, 3), 1e-7);
    // The merged box is never rotated relative to the assembly.
    EXPECT_EQ(1.0, m(0, 0));
    EXPECT_EQ(0.0, m(0, 1));
}

TEST(AssemblyBox, OnlyStaleChildrenAreRecomputed)
{
    boost::shared_ptr<tvxtest::ProbeAssembly> a = tvxtest::ProbeAssembly::create();
    boost::shared_ptr<tvxtest::FixedBoxLeaf> l = tvxtest::FixedBoxLeaf::create(CqarMat4(), 1, 1, 1);
    boost::shared_ptr<tvxtest::FixedBoxLeaf> r = tvxtest::FixedBoxLeaf::create(CqarMat4(), 1, 1, 1);
    a->attach(l, -1);
    a->attach(r, -1);
    float h[3];
    a->getObbHalfLengths(h[0], h[1], h[2]);
    EXPECT_EQ(1, l->computeCount);
    EXPECT_EQ(1, r->computeCount);
    r->setTolerance(0.1);
    a->getObbHalfLengths(h[0], h[1], h[2]);
    EXPECT_EQ(1, l->computeCount);
    EXPECT_EQ(2, r->computeCount);
}

// ---------------------------------------------------------------------------
// Regrouping

struct TwoLeafScene {
    boost::shared_ptr<tvxtest::ProbeAssembly> a = tvxtest::ProbeAssembly::create();
    boost::shared_ptr<CtvxPolyhedron> box = tvxtest::makePolyhedron(tvxtest::makeBox(0.5, 0.4, 0.3));
    boost::shared_ptr<CtvxPolyhedron> oct = tvxtest::makePolyhedron(octahedron());
    TwoLeafScene()
    {
        a->relativePosition(translationMat(2, -1, 0) * rotationZMat(0.4));
        a->attach(box, -1);
        a->attach(oct, -1);
        box->relativePosition(rotationZMat(1.1));
        oct->relativePosition(translationMat(3, 0, 1));
    }
};

TEST(AssemblyRegroup, GroupTrianglesNameTheirMembers)
{
    TwoLeafScene s;
    ASSERT_EQ(0, s.a->regroup(noDelegate));
    boost::shared_ptr<CtvxPolyhedronGroup> g = s.a->regroupedPoly();
    ASSERT_TRUE(g);
    EXPECT_EQ(20u, g->countTriangles());
    EXPECT_TRUE(g->isBVConstructed());
    EXPECT_EQ(s.a, g->obj());
    boost::shared_ptr<CtvxVirtualPolyhedron> member;
    int local = -1;
    g->getTriangleInfo(12, member, local);
    EXPECT_EQ(s.oct, member);
    EXPECT_EQ(0, local);
    g->getTriangleInfo(11, member, local);
    EXPECT_EQ(s.box, member);
    EXPECT_EQ(11, local);
    // Group points are in the assembly's frame: the octahedron sits at a
    // translation (3, 0, 1) there, so its triangle 0 (points 0, 2, 4) is
    // reported shifted by it.
    CqarPoint3 pts[3];
    g->getTriangle(12, pts);
    EXPECT_NEAR(4.0, pts[0][0], 1e-12);
    EXPECT_NEAR(0.0, pts[0][1], 1e-12);
    EXPECT_NEAR(1.0, pts[0][2], 1e-12);
    EXPECT_NEAR(3.0, pts[1][0], 1e-12);
    EXPECT_NEAR(1.0, pts[1][1], 1e-12);
    EXPECT_NEAR(2.0, pts[2][2], 1e-12);
    CqarMat4 ga, aa;
    g->getAbsPos(ga);
    s.a->getAbsolutePosition(aa);
    tvxtest::expectMatNear(aa, ga, 0.0);
}

TEST(AssemblyRegroup, DeactivatedLeavesAreNotMembers)
{
    TwoLeafScene s;
    s.box->activation(false);
    s.a->regroup(noDelegate);
    boost::shared_ptr<CtvxPolyhedronGroup> g = s.a->regroupedPoly();
    EXPECT_EQ(8u, g->countTriangles());
    EXPECT_EQ(1u, g->countPolyhedra());
    EXPECT_EQ(s.oct, g->polyhedron(0));
}

TEST(AssemblyRegroup, TwiceDoesNothingAndDegroupRestoresEveryPoint)
{
    TwoLeafScene s;
    std::vector<CqarPoint3> const before = pointsOf(*s.oct);
    EXPECT_EQ(0, s.a->degroup());
    EXPECT_FALSE(s.a->isRegrouped());
    ASSERT_EQ(0, s.a->regroup(noDelegate));
    boost::shared_ptr<CtvxPolyhedronGroup> g = s.a->regroupedPoly();
    EXPECT_EQ(0, s.a->regroup(noDelegate));
    EXPECT_EQ(g, s.a->regroupedPoly());
    // The points are in the assembly's frame now.
    CqarPoint3 p;
    s.oct->getPoint(0, p);
    EXPECT_NEAR(4.0, p[0], 1e-12);
    // Moving the regrouped assembly changes nothing on the way back.
    s.a->relativePosition(translationMat(-7, 2, 2) * rotationZMat(2.0));
    EXPECT_EQ(0, s.a->degroup());
    EXPECT_FALSE(s.oct->isLocked());
    EXPECT_FALSE(s.a->regroupedPoly());
    std::vector<CqarPoint3> const after = pointsOf(*s.oct);
    for (std::size_t i = 0; i < before.size(); ++i)
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(before[i][c], after[i][c], 1e-12);
}

TEST(AssemblyRegroup, LockedAssemblyCannotRegroupOrDegroup)
{
    boost::shared_ptr<CtvxAssembly> top = CtvxAssembly::create();
    boost::shared_ptr<tvxtest::ProbeAssembly> sub = tvxtest::ProbeAssembly::create();
    top->attach(sub, -1);
    sub->attach(tvxtest::makePolyhedron(octahedron()), -1);
    top->makeCollisionEntity(noDelegate);
    ASSERT_TRUE(sub->isLocked());
    EXPECT_EQ(-1, sub->regroup(noDelegate));
    EXPECT_EQ(-1, sub->degroup());
    EXPECT_FALSE(sub->isRegrouped());
}

TEST(AssemblyRegroup, AttachingToARegroupedAssemblyJoinsTheGroup)
{
    TwoLeafScene s;
    s.a->makeCollisionEntity(noDelegate);
    boost::shared_ptr<CtvxPolyhedron> extra = tvxtest::makePolyhedron(octahedron());
    extra->relativePosition(translationMat(20, 20, 20));
    std::vector<CqarPoint3> const before = pointsOf(*extra);
    ASSERT_EQ(0, s.a->attach(extra, -1));
    // The newcomer is handled like its siblings: locked, a member, its
    // triangles in the group.
    EXPECT_TRUE(extra->isLocked());
    EXPECT_EQ(28u, s.a->regroupedPoly()->countTriangles());
    EXPECT_EQ(3u, s.a->regroupedPoly()->countPolyhedra());
    // And degrouping gives it back its own points, not points moved by a
    // transform it never went through.
    s.a->removeCollisionEntities();
    std::vector<CqarPoint3> const after = pointsOf(*extra);
    for (std::size_t i = 0; i < before.size(); ++i)
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(before[i][c], after[i][c], 1e-12);
}

TEST(AssemblyRegroup, ReactivatedLeafJoinsTheGroup)
{
    TwoLeafScene s;
    s.box->activation(false);
    s.a->makeCollisionEntity(noDelegate);
    ASSERT_EQ(8u, s.a->regroupedPoly()->countTriangles());
    // Switching the assembly on switches the box leaf on; a group that kept
    // only the octahedron would leave the box out of every query.
    boost::shared_ptr<tvxtest::RecordingDelegate> rec = tvxtest::RecordingDelegate::create();
    s_defaultDelegate = rec;
    EXPECT_EQ(0, s.a->activation(true));
    s_defaultDelegate.reset();
    EXPECT_EQ(CtvxObject::ACTIVATED, s.box->activation());
    boost::shared_ptr<CtvxPolyhedronGroup> g = s.a->regroupedPoly();
    EXPECT_EQ(20u, g->countTriangles());
    EXPECT_EQ(s.box, g->polyhedron(0));
    EXPECT_TRUE(g->isBVConstructed());
    EXPECT_TRUE(s.box->isLocked());
    ASSERT_GE(rec->events.size(), 3u);
    EXPECT_EQ("will 20", rec->events[0]);
    EXPECT_EQ("reset 0", rec->events[1]);
    EXPECT_EQ("entity 20", rec->events.back());
    EXPECT_EQ(s.a.get(), rec->madeObjects.back());
    for (std::size_t i = 2; i + 1 < rec->events.size(); ++i)
        EXPECT_EQ(0u, rec->events[i].rfind("node ", 0)) << rec->events[i];
    EXPECT_EQ(19u, rec->events.size() - 3); // one report per node of a 20-triangle tree
    // The box of the assembly now holds both leaves.
    float h[3];
    EXPECT_EQ(0, s.a->getObbHalfLengths(h[0], h[1], h[2]));
}

TEST(AssemblyRegroup, EmptyGroupIsRebuiltSilentlyWithoutDefaultDelegate)
{
    TwoLeafScene s;
    s.a->activation(false);
    s.a->makeCollisionEntity(noDelegate);
    EXPECT_EQ(0u, s.a->regroupedPoly()->countTriangles());
    float h[3];
    EXPECT_EQ(-1, s.a->getObbHalfLengths(h[0], h[1], h[2]));
    s_defaultDelegate.reset();
    s.a->activation(true);
    EXPECT_EQ(20u, s.a->regroupedPoly()->countTriangles());
    EXPECT_EQ(0, s.a->getObbHalfLengths(h[0], h[1], h[2]));
}

TEST(AssemblyRegroup, MakeCollisionEntityReportsAfterTheBuild)
{
    TwoLeafScene s;
    boost::shared_ptr<tvxtest::RecordingDelegate> rec = tvxtest::RecordingDelegate::create();
    boost::shared_ptr<CtvxProgressDelegate> d = rec;
    s.a->makeCollisionEntity(d);
    ASSERT_EQ(20u, rec->events.size()); // 19 nodes, then the entity
    EXPECT_EQ("entity 20", rec->events.back());
    EXPECT_EQ(s.a.get(), rec->madeObjects.back());
    rec->events.clear();
    s.a->makeCollisionEntity(d);
    ASSERT_EQ(1u, rec->events.size());
    EXPECT_EQ("entity 20", rec->events[0]);
}

TEST(AssemblyRegroup, UnlockSplitsTheRegroupingAroundTheObject)
{
    // a -> { b -> { b1, c -> { c1, c2 } }, d }
    boost::shared_ptr<CtvxAssembly> a = CtvxAssembly::create();
    boost::shared_ptr<CtvxAssembly> b = CtvxAssembly::create();
    boost::shared_ptr<CtvxAssembly> c = CtvxAssembly::create();
    boost::shared_ptr<CtvxPolyhedron> b1 = tvxtest::makePolyhedron(octahedron());
    boost::shared_ptr<CtvxPolyhedron> c1 = tvxtest::makePolyhedron(octahedron());
    boost::shared_ptr<CtvxPolyhedron> c2 = tvxtest::makePolyhedron(octahedron());
    boost::shared_ptr<CtvxPolyhedron> d = tvxtest::makePolyhedron(octahedron());
    a->attach(b, -1);
    a->attach(d, -1);
    b->attach(b1, -1);
    b->attach(c, -1);
    c->attach(c1, -1);
    c->attach(c2, -1);
    c1->relativePosition(translationMat(1, 2, 3));
    std::vector<CqarPoint3> const before = pointsOf(*c1);
    a->makeCollisionEntity(noDelegate);
    ASSERT_TRUE(b1->isLocked());

    boost::shared_ptr<tvxtest::RecordingDelegate> rec = tvxtest::RecordingDelegate::create();
    boost::shared_ptr<CtvxProgressDelegate> del = rec;
    b1->unlock(del, false);
    EXPECT_FALSE(a->isRegrouped());
    EXPECT_FALSE(b->isRegrouped());
    EXPECT_TRUE(c->isRegrouped());
    EXPECT_FALSE(b1->isLocked());
    EXPECT_FALSE(b1->areCollisionEntitiesMade());
    EXPECT_TRUE(d->areCollisionEntitiesMade());
    EXPECT_FALSE(d->isLocked());
    EXPECT_FALSE(c->isLocked());
    EXPECT_TRUE(c1->isLocked());
    // The branch entities were reported, the unlocked object was not.
    for (CtvxObject const* o : rec->madeObjects)
        EXPECT_NE(b1.get(), o);
    EXPECT_EQ(2u, rec->madeObjects.size());
    // c1's points went back to its own frame and then into c's frame, in
    // which c1 sits at (1, 2, 3).
    CqarPoint3 p;
    c1->getPoint(0, p);
    EXPECT_NEAR(before[0][0] + 1.0, p[0], 1e-12);
    EXPECT_NEAR(before[0][1] + 2.0, p[1], 1e-12);

    b1->unlock(del, true);
    EXPECT_TRUE(b1->areCollisionEntitiesMade());
    EXPECT_EQ(b1.get(), rec->madeObjects.back());
}

// ---------------------------------------------------------------------------
// Scaling and transforming geometry

TEST(AssemblyGeometry, ScalingThroughARegroupedAssemblyReachesItsMembers)
{
    TwoLeafScene s;
    s.a->makeCollisionEntity(noDelegate);
    CqarMat4 oct;
    s.oct->getAbsolutePosition(oct);
    CqarPoint3 v0;
    s.oct->getPoint(0, v0); // assembly frame while regrouped
    CqarPoint3 centre(1, 2, 3);
    ASSERT_EQ(0, s.a->scale(centre, 0.5));
    s.a->removeCollisionEntities();
    // In world terms the vertex moved halfway to the centre.
    CqarPoint3 local;
    s.oct->getPoint(0, local);
    CqarPoint3 const world = oct * local;
    CqarPoint3 const origWorld = oct * CqarPoint3(1, 0, 0);
    for (int c = 0; c < 3; ++c)
        EXPECT_NEAR(centre[c] + 0.5 * (origWorld[c] - centre[c]), world[c], 1e-12);
}

TEST(AssemblyGeometry, LeavesWithoutTreesRefuseButOthersProceed)
{
    TwoLeafScene s;
    s.box->makeCollisionEntity(noDelegate);
    CqarMat4 t = translationMat(0, 0, 1);
    EXPECT_EQ(-1, s.a->transform(t));
    CqarPoint3 p;
    s.oct->getPoint(0, p);
    EXPECT_EQ(1.0, p[0]);
    EXPECT_EQ(0.0, p[2]);
    // The box leaf was moved by one unit along world z, which its own frame
    // (rotated about z only) also calls z.
    s.box->getPoint(0, p);
    EXPECT_NEAR(-0.3 + 1.0, p[2], 1e-7);
}

} // namespace
