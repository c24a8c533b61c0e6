// Placements, hierarchy links, locking and box staleness of scene objects.
#include <tests/support/Meshes.h>
#include <tests/support/SceneFixtures.h>
#include <tests/support/MatrixExpect.h>
#include <tests/support/SceneProbes.h>

#include <tvx/geometry/CtvxPolyhedron.h>
#include <tvx/scene/CtvxAssembly.h>
#include <tvx/scene/CtvxPolyhedronGroup.h>

#include <gtest/gtest.h>

namespace {

using tvxtest::rotationZMat;
using tvxtest::translationMat;

boost::shared_ptr<CtvxPolyhedron> boxLeaf()
{
    return tvxtest::makePolyhedron(tvxtest::makeBox(0.5, 0.4, 0.3));
}

TEST(ObjectPlacement, RootAbsoluteIsRelative)
{
    boost::shared_ptr<CtvxPolyhedron> p = boxLeaf();
    CqarMat4 const m = rotationZMat(0.3) * translationMat(1, 2, 3);
    EXPECT_EQ(0, p->absolutePosition(m));
    CqarMat4 rel, abs;
    p->getRelativePosition(rel);
    p->getAbsolutePosition(abs);
    tvxtest::expectMatNear(m, rel, 0.0);
    tvxtest::expectMatNear(m, abs, 0.0);
}

TEST(ObjectPlacement, AbsolutePlacementOfAChildGoesThroughTheParent)
{
    boost::shared_ptr<CtvxAssembly> a = CtvxAssembly::create();
    boost::shared_ptr<CtvxPolyhedron> p = boxLeaf();
    CqarMat4 const pa = translationMat(5, 0, 0) * rotationZMat(1.0);
    a->relativePosition(pa);
    ASSERT_EQ(0, a->attach(p, -1));
    CqarMat4 const m = translationMat(-1, 4, 2) * rotationZMat(-0.4);
    EXPECT_EQ(0, p->absolutePosition(m));
    CqarMat4 abs, rel;
    p->getAbsolutePosition(abs);
    p->getRelativePosition(rel);
    tvxtest::expectMatNear(m, abs, 1e-12);
    tvxtest::expectMatNear(pa.inverse() * m, rel, 1e-12);
}

TEST(ObjectPlacement, MovingAnAncestorInvalidatesEveryDescendant)
{
    boost::shared_ptr<CtvxAssembly> r = CtvxAssembly::create();
    boost::shared_ptr<CtvxAssembly> a = CtvxAssembly::create();
    boost::shared_ptr<CtvxPolyhedron> p = boxLeaf();
    r->attach(a, -1);
    a->attach(p, -1);
    p->relativePosition(translationMat(0, 0, 1));
    CqarMat4 abs;
    p->getAbsolutePosition(abs);
    // The assembly's own cache is already stale when it is moved itself.
    r->relativePosition(translationMat(10, 0, 0));
    a->relativePosition(translationMat(0, 7, 0));
    p->getAbsolutePosition(abs);
    tvxtest::expectMatNear(translationMat(10, 7, 1), abs, 0.0);
    r->relativePosition(rotationZMat(0.5));
    p->getAbsolutePosition(abs);
    tvxtest::expectMatNear(rotationZMat(0.5) * translationMat(0, 7, 1), abs, 1e-15);
    // A root placed in the world keeps that placement as its own cache; the
    // descendants read through it, each time it moves again.
    for (CqarMat4 const& m : {translationMat(0, 0, 5), rotationZMat(-0.25) * translationMat(3, 0, 0)}) {
        EXPECT_EQ(0, r->absolutePosition(m));
        r->getAbsolutePosition(abs);
        tvxtest::expectMatNear(m, abs, 0.0);
        p->getAbsolutePosition(abs);
        tvxtest::expectMatNear(m * translationMat(0, 7, 1), abs, 1e-15);
    }
}

TEST(ObjectHierarchy, ParentsRootsAndAncestry)
{
    boost::shared_ptr<CtvxAssembly> r = CtvxAssembly::create();
    boost::shared_ptr<CtvxAssembly> a = CtvxAssembly::create();
    boost::shared_ptr<CtvxPolyhedron> p = boxLeaf();
    r->attach(a, -1);
    a->attach(p, -1);
    boost::shared_ptr<CtvxAssembly> parent;
    EXPECT_EQ(-1, r->getParent(parent));
    EXPECT_FALSE(parent);
    EXPECT_EQ(0, p->getParent(parent));
    EXPECT_EQ(a, parent);
    EXPECT_EQ(r, p->root());
    EXPECT_EQ(r, r->root());
    EXPECT_TRUE(p->isParentOf(p));
    EXPECT_FALSE(p->isParentOf(a));
    EXPECT_TRUE(r->isParentOf(p));
    EXPECT_FALSE(a->isParentOf(r));
    EXPECT_FALSE(r->firstUnlockedParent());
    EXPECT_EQ(a, p->firstUnlockedParent());
}

TEST(ObjectLocking, LockedObjectsRefuseMovesAndKeepTheirPlacement)
{
    boost::shared_ptr<CtvxAssembly> a = CtvxAssembly::create();
    boost::shared_ptr<CtvxAssembly> sub = CtvxAssembly::create();
    boost::shared_ptr<CtvxPolyhedron> p = boxLeaf();
    boost::shared_ptr<CtvxPolyhedron> q = boxLeaf();
    a->attach(sub, -1);
    sub->attach(p, -1);
    a->attach(q, -1);
    p->relativePosition(translationMat(1, 0, 0));
    boost::shared_ptr<CtvxProgressDelegate> none;
    a->makeCollisionEntity(none);
    ASSERT_TRUE(a->isRegrouped());
    EXPECT_FALSE(a->isLocked());
    EXPECT_TRUE(sub->isLocked());
    EXPECT_TRUE(p->isLocked());

    EXPECT_EQ(-1, p->relativePosition(translationMat(3, 3, 3)));
    EXPECT_EQ(-1, p->absolutePosition(translationMat(3, 3, 3)));
    EXPECT_EQ(-1, sub->relativePosition(translationMat(3, 3, 3)));
    EXPECT_EQ(-1, p->activation(false));
    CqarMat4 rel;
    p->getRelativePosition(rel);
    tvxtest::expectMatNear(translationMat(1, 0, 0), rel, 0.0);
    // A locked leaf's firstUnlockedParent is the regrouped assembly.
    EXPECT_EQ(a, p->firstUnlockedParent());
    // Detaching or attaching what is locked is refused as well.
    boost::shared_ptr<CtvxObject> po = p;
    unsigned int rank = 0;
    EXPECT_EQ(-1, sub->detach(po, rank));
    boost::shared_ptr<CtvxAssembly> other = CtvxAssembly::create();
    EXPECT_EQ(-1, other->attach(p, -1));
    EXPECT_EQ(-1, sub->attach(boxLeaf(), -1));
    // The regrouped assembly itself may move; its group follows it.
    EXPECT_EQ(0, a->relativePosition(translationMat(0, 5, 0)));
    CqarMat4 abs;
    p->getAbsolutePosition(abs);
    tvxtest::expectMatNear(translationMat(1, 5, 0), abs, 0.0);
}

TEST(ObjectBoxes, StaleMarksClimbAndStopAtTheFirstMarkedAncestor)
{
    boost::shared_ptr<tvxtest::ProbeAssembly> r = tvxtest::ProbeAssembly::create();
    boost::shared_ptr<tvxtest::ProbeAssembly> a = tvxtest::ProbeAssembly::create();
    boost::shared_ptr<tvxtest::ProbeAssembly> b = tvxtest::ProbeAssembly::create();
    boost::shared_ptr<tvxtest::ProbePolyhedron> leaf =
        tvxtest::ProbePolyhedron::create(tvxtest::makePolyData(tvxtest::makeBox(1, 1, 1)));
    r->attach(a, -1);
    a->attach(b, -1);
    b->attach(leaf, -1);
    float h[3];
    ASSERT_EQ(0, r->getObbHalfLengths(h[0], h[1], h[2]));
    ASSERT_FALSE(r->needToRecomputeObb());
    ASSERT_FALSE(a->needToRecomputeObb());
    ASSERT_FALSE(b->needToRecomputeObb());
    ASSERT_FALSE(leaf->needToRecomputeObb());

    leaf->setTolerance(0.1);
    EXPECT_TRUE(leaf->needToRecomputeObb());
    EXPECT_TRUE(b->needToRecomputeObb());
    EXPECT_TRUE(a->needToRecomputeObb());
    EXPECT_TRUE(r->needToRecomputeObb());

    // With a marked, the walk from the leaf stops there: r, cleared by hand,
    // stays clear.
    r->needToRecomputeObb(false);
    b->needToRecomputeObb(false);
    a->needToRecomputeObb(true);
    r->needToRecomputeObb(false);
    leaf->needToRecomputeObb(true);
    EXPECT_TRUE(b->needToRecomputeObb());
    EXPECT_TRUE(a->needToRecomputeObb());
    EXPECT_FALSE(r->needToRecomputeObb());
}

TEST(ObjectBoxes, MovingAnObjectStalesItsAncestorsButNotItself)
{
    boost::shared_ptr<tvxtest::ProbeAssembly> a = tvxtest::ProbeAssembly::create();
    boost::shared_ptr<tvxtest::ProbePolyhedron> leaf =
        tvxtest::ProbePolyhedron::create(tvxtest::makePolyData(tvxtest::makeBox(1, 1, 1)));
    boost::shared_ptr<tvxtest::ProbePolyhedron> off =
        tvxtest::ProbePolyhedron::create(tvxtest::makePolyData(tvxtest::makeBox(1, 1, 1)));
    a->attach(leaf, -1);
    a->attach(off, -1);
    off->activation(false);
    float h[3];
    ASSERT_EQ(0, a->getObbHalfLengths(h[0], h[1], h[2]));
    ASSERT_EQ(CtvxObject::OBB_NONE, off->obbState());
    leaf->relativePosition(translationMat(1, 0, 0));
    EXPECT_FALSE(leaf->needToRecomputeObb());
    EXPECT_TRUE(a->needToRecomputeObb());
    a->getObbHalfLengths(h[0], h[1], h[2]);
    // A leaf without a box moves without disturbing its parent's box.
    off->relativePosition(translationMat(50, 0, 0));
    EXPECT_FALSE(a->needToRecomputeObb());
}

TEST(ObjectBoxes, DeactivatedLeafHasNoBox)
{
    boost::shared_ptr<CtvxPolyhedron> p = boxLeaf();
    p->activation(false);
    float x = 1, y = 1, z = 1;
    EXPECT_EQ(-1, p->getObbHalfLengths(x, y, z));
    EXPECT_EQ(0.0f, x);
    EXPECT_EQ(0.0f, y);
    EXPECT_EQ(0.0f, z);
    CqarMat4 m = translationMat(1, 1, 1);
    EXPECT_EQ(-1, p->getObbRelativePosition(m));
    tvxtest::expectMatNear(CqarMat4(), m, 0.0);
}

TEST(GeometryLeaf, ToleranceAndActivation)
{
    boost::shared_ptr<tvxtest::ProbePolyhedron> p =
        tvxtest::ProbePolyhedron::create(tvxtest::makePolyData(tvxtest::makeBox(1, 1, 1)));
    EXPECT_EQ(CtvxObject::ACTIVATED, p->activation());
    EXPECT_EQ(0.0, p->tolerance());
    double m = -1.0;
    EXPECT_EQ(0, p->getMaxTolerance(m));
    EXPECT_EQ(0.0, m);
    p->setTolerance(0.25);
    m = 0.1;
    p->getMaxTolerance(m);
    EXPECT_EQ(0.25, m);

    float h[3];
    p->getObbHalfLengths(h[0], h[1], h[2]);
    ASSERT_FALSE(p->needToRecomputeObb());
    // Switching to the current state changes nothing, not even the flags.
    EXPECT_EQ(0, p->activation(true));
    EXPECT_FALSE(p->needToRecomputeObb());

    EXPECT_EQ(0, p->activation(false));
    EXPECT_EQ(CtvxObject::DEACTIVATED, p->activation());
    m = 0.1;
    p->getMaxTolerance(m);
    EXPECT_EQ(0.1, m);
    EXPECT_EQ(0.25, p->tolerance());
}

TEST(GeometryLeaf, LockedLeafIsSwitchedThroughItsRegroupedAssembly)
{
    boost::shared_ptr<CtvxAssembly> a = CtvxAssembly::create();
    boost::shared_ptr<CtvxPolyhedron> p = boxLeaf();
    boost::shared_ptr<CtvxPolyhedron> q = boxLeaf();
    a->attach(p, -1);
    a->attach(q, -1);
    boost::shared_ptr<CtvxProgressDelegate> none;
    a->makeCollisionEntity(none);
    EXPECT_EQ(-1, p->activation(false));
    EXPECT_EQ(CtvxObject::ACTIVATED, p->activation());
    EXPECT_EQ(0, a->activation(false));
    EXPECT_EQ(CtvxObject::DEACTIVATED, p->activation());
    EXPECT_FALSE(a->regroupedPoly()->isActivatedForAnalysis());
    float h[3];
    EXPECT_EQ(-1, a->getObbHalfLengths(h[0], h[1], h[2]));
}

TEST(GeometryLeaf, ToleranceInsideARegroupedAssemblyReachesTheGroup)
{
    boost::shared_ptr<CtvxAssembly> a = CtvxAssembly::create();
    boost::shared_ptr<CtvxAssembly> sub = CtvxAssembly::create();
    boost::shared_ptr<CtvxPolyhedron> p = boxLeaf();
    boost::shared_ptr<CtvxPolyhedron> q = boxLeaf();
    a->attach(p, -1);
    a->attach(sub, -1);
    sub->attach(q, -1);
    boost::shared_ptr<CtvxProgressDelegate> none;
    a->makeCollisionEntity(none);
    boost::shared_ptr<CtvxPolyhedronGroup> g = a->regroupedPoly();
    EXPECT_EQ(0.0, g->maxTolerance());
    p->setTolerance(0.2);
    EXPECT_EQ(0.2, g->maxTolerance());
    p->setTolerance(0.05);
    EXPECT_EQ(0.05, g->maxTolerance());
    // Through a locked sub-assembly as well: its leaves now carry 0.3, and
    // a group that kept 0.05 would thicken them too little.
    sub->setTolerance(0.3);
    EXPECT_EQ(0.3, q->tolerance());
    EXPECT_EQ(0.3, g->maxTolerance());
    // The regrouped assembly itself sets its group's value directly.
    a->setTolerance(0.01);
    EXPECT_EQ(0.01, g->maxTolerance());
    EXPECT_EQ(0.01, p->tolerance());
    EXPECT_EQ(0.01, q->tolerance());
}

} // namespace
