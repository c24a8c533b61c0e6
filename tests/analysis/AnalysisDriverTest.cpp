// The query driver: pair order, remembered pairs and branches, sorting, and
// the pair analysis on hand-computed two-triangle scenes.
#include <tvx/analysis/CtvxAnalysis.h>
#include <tvx/analysis/CtvxCollision.h>
#include <tvx/analysis/CtvxDistance.h>
#include <tvx/analysis/CtvxGeometryPoint.h>
#include <tvx/analysis/CtvxPolyhedronTriangle.h>
#include <tvx/analysis/internal/CtvxBroadPhase.h>
#include <tvx/bvtree/CtvxPolyhedronOBBTree.h>
#include <tvx/geometry/CtvxPolyhedron.h>
#include <tvx/scene/CtvxAssembly.h>
#include <tvx/scene/CtvxCollisionList.h>

#include <tests/support/AnalysisProbe.h>
#include <tests/support/BruteForce.h>
#include <tests/support/Meshes.h>
#include <tests/support/SceneFixtures.h>

#include <gtest/gtest.h>

#include <boost/pointer_cast.hpp>

#include <cmath>

namespace {

using namespace tvxtest;
typedef boost::shared_ptr<CtvxObject> ObjectPtr;

boost::shared_ptr<CtvxProgressDelegate> noDelegate;

boost::shared_ptr<CtvxPolyhedron> boxAt(double x, double y, double z, double half = 0.5)
{
    boost::shared_ptr<CtvxPolyhedron> p = makePolyhedron(makeBox(half, half, half));
    p->makeCollisionEntity(noDelegate);
    p->absolutePosition(translationMat(x, y, z));
    return p;
}


ObjectPtr object2Of(boost::shared_ptr<CtvxDistance> const& d)
{
    ObjectPtr o;
    d->getObject2(o);
    return o;
}

TEST(AnalysisDriver, MissingListStillCountsTheCall)
{
    boost::shared_ptr<CtvxAnalysis> a = CtvxAnalysis::create();
    EXPECT_EQ(a->analysisType(), CtvxAnalysis::FIRST_COLLISION);
    a->setCollisionList1(listOf({boxAt(0, 0, 0)}));
    CtvxAnalysis::resetCollisionCount();
    a->compute();
    a->compute();
    EXPECT_EQ(CtvxAnalysis::getCollisionCount(), 2u);
    EXPECT_EQ(a->countCollisions(), 0u);
    EXPECT_EQ(a->countDistances(), 0u);
    boost::shared_ptr<CtvxCollisionList> out;
    EXPECT_EQ(a->getCollisionList2(out), -1);
    EXPECT_FALSE(out);
}

TEST(AnalysisDriver, AnObjectIsNeverAnalysedAgainstItself)
{
    boost::shared_ptr<CtvxPolyhedron> p = boxAt(0, 0, 0);
    boost::shared_ptr<CtvxCollisionList> l = listOf({p});
    for (int t = 0; t < 4; ++t) {
        boost::shared_ptr<CtvxAnalysis> a = analysisOf(l, l, CtvxAnalysis::EAnalysisType(t));
        a->compute();
        EXPECT_EQ(a->countCollisions(), 0u);
        EXPECT_EQ(a->countDistances(), 0u);
    }
    // The same list on both sides: both orders of a pair are analysed.
    boost::shared_ptr<CtvxCollisionList> both = listOf({p, boxAt(0.5, 0.2, 0)});
    boost::shared_ptr<CtvxAnalysis> all = analysisOf(both, both, CtvxAnalysis::ALL_COLLISIONS);
    all->compute();
    EXPECT_EQ(all->countCollisions(), 2u);
    boost::shared_ptr<CtvxAnalysis> first = analysisOf(both, both, CtvxAnalysis::FIRST_COLLISION);
    first->compute();
    EXPECT_EQ(first->countCollisions(), 1u);
}

// Each pair once: a contact in a list set against itself gives one result,
// ranks in list order, also when the remembered pair has them the other way
// round. Both drivers, every pair and the broad phase's candidates.
TEST(AnalysisDriver, OneListAgainstItselfEachPairOnce)
{
    for (CtvxBroadPhase::EUse use : {CtvxBroadPhase::NEVER, CtvxBroadPhase::ALWAYS}) {
        boost::shared_ptr<CtvxPolyhedron> p = boxAt(0, 0, 0), q = boxAt(0.5, 0.2, 0), r = boxAt(5, 0, 0);
        boost::shared_ptr<CtvxCollisionList> l = listOf({q, p, r});
        boost::shared_ptr<CtvxAnalysis> all = analysisOf(l, l, CtvxAnalysis::ALL_COLLISIONS);
        tvxtest::AnalysisProbe::broadPhase(*all, use);
        all->setEachPairOnce(true);
        all->compute();
        ASSERT_EQ(all->countCollisions(), 1u);
        boost::shared_ptr<CtvxCollision> c;
        all->getCollision(0, c);
        ObjectPtr o1, o2;
        c->getObject1(o1);
        c->getObject2(o2);
        EXPECT_EQ(o1, ObjectPtr(q));
        EXPECT_EQ(o2, ObjectPtr(p));
        // q then p is remembered; with q moved to the end the pair's ranks
        // are (2, 0), examined first and not again as (0, 2).
        l->remove(q);
        l->add(q);
        all->compute();
        EXPECT_EQ(all->countCollisions(), 1u);
        all->setEachPairOnce(false);
        all->compute();
        EXPECT_EQ(all->countCollisions(), 2u);
    }
}

TEST(AnalysisDriver, FirstContactHasOnePairAllContactsHasEveryPair)
{
    Mesh const sphere = makeIcosphere(2, 1.0);
    boost::shared_ptr<CtvxPolyhedron> a = makePolyhedron(sphere), b = makePolyhedron(sphere);
    a->makeCollisionEntity(noDelegate);
    b->makeCollisionEntity(noDelegate);
    b->absolutePosition(translationMat(1.2, 0.3, 0.1));
    boost::shared_ptr<CtvxCollisionList> l1 = listOf({a}), l2 = listOf({b});
    boost::shared_ptr<CtvxAnalysis> first = analysisOf(l1, l2, CtvxAnalysis::FIRST_COLLISION);
    first->compute();
    ASSERT_EQ(first->countCollisions(), 1u);
    boost::shared_ptr<CtvxCollision> c;
    first->getCollision(0, c);
    EXPECT_EQ(c->countPairs(), 1u);
    EXPECT_EQ(first->countDistances(), 0u);

    boost::shared_ptr<CtvxAnalysis> all = analysisOf(l1, l2, CtvxAnalysis::ALL_COLLISIONS);
    all->compute();
    ASSERT_EQ(all->countCollisions(), 1u);
    all->getCollision(0, c);
    WorldSide wa, wb;
    wa.add(sphere, Affine(), a.get(), 0.0);
    wb.add(sphere, Affine::translation(1.2, 0.3, 0.1), b.get(), 0.0);
    BruteForceAnswer const bf = bruteForce(wa, wb, 1e-6);
    EXPECT_GE(c->countPairs(), bf.sureContacts.size());
    EXPECT_LE(c->countPairs(), bf.sureContacts.size() + bf.boundaryContacts.size());
    EXPECT_EQ(all->countDistances(), 0u);

    // One contact per pair: the pair the first-contact query reports.
    all->setOneContactPerPair(true);
    all->compute();
    ASSERT_EQ(all->countCollisions(), 1u);
    boost::shared_ptr<CtvxCollision> one;
    all->getCollision(0, one);
    ASSERT_EQ(one->countPairs(), 1u);
    first->getCollision(0, c);
    boost::shared_ptr<CtvxGeometrySubElement> e1, e2;
    one->getFirst(0, e1);
    c->getFirst(0, e2);
    int r1 = -1, r2 = -2;
    boost::dynamic_pointer_cast<CtvxPolyhedronTriangle>(e1)->getTriangle(r1);
    boost::dynamic_pointer_cast<CtvxPolyhedronTriangle>(e2)->getTriangle(r2);
    EXPECT_EQ(r1, r2);
}

// A in list 1; B and C in list 2, C closer to A than B.
struct ThreeBoxes {
    boost::shared_ptr<CtvxPolyhedron> a = boxAt(0, 0, 0);
    boost::shared_ptr<CtvxPolyhedron> b = boxAt(5, 0, 0);
    boost::shared_ptr<CtvxPolyhedron> c = boxAt(0, 3, 0);
};

TEST(AnalysisDriver, DistancesAreSortedAndBoundTheLaterPairs)
{
    ThreeBoxes s;
    boost::shared_ptr<CtvxAnalysis> an = analysisOf(listOf({s.a}), listOf({s.b, s.c}), CtvxAnalysis::EXACT_DISTANCE);
    an->compute();
    ASSERT_EQ(an->countDistances(), 2u);
    boost::shared_ptr<CtvxDistance> d0, d1;
    an->getDistance(0, d0);
    an->getDistance(1, d1);
    EXPECT_EQ(object2Of(d0), ObjectPtr(s.c));
    EXPECT_EQ(object2Of(d1), ObjectPtr(s.b));
    EXPECT_NEAR(d0->distance(), 2.0, 1e-5);
    EXPECT_NEAR(d1->distance(), 4.0, 1e-5);
    EXPECT_TRUE(d0->isExactDistance());
    EXPECT_TRUE(d1->isExactDistance());

    // The remembered pair (A, C) goes first next time, so B, starting from
    // C's distance, no longer lowers it.
    an->compute();
    ASSERT_EQ(an->countDistances(), 1u);
    an->getDistance(0, d0);
    EXPECT_EQ(object2Of(d0), ObjectPtr(s.c));

    // C listed first: only A-C is recorded.
    boost::shared_ptr<CtvxAnalysis> other =
        analysisOf(listOf({s.a}), listOf({s.c, s.b}), CtvxAnalysis::EXACT_DISTANCE);
    other->compute();
    ASSERT_EQ(other->countDistances(), 1u);

    // Setting a list forgets the remembered pair and the results; setting the
    // type keeps both.
    an->setAnalysisType(CtvxAnalysis::ESTIMATED_DISTANCE);
    EXPECT_EQ(an->countDistances(), 1u);
    an->setAnalysisType(CtvxAnalysis::EXACT_DISTANCE);
    an->setCollisionList2(listOf({s.b, s.c}));
    EXPECT_EQ(an->countDistances(), 0u);
    an->compute();
    EXPECT_EQ(an->countDistances(), 2u);
}

TEST(AnalysisDriver, AContactEndsADistanceQuery)
{
    ThreeBoxes s;
    s.c->absolutePosition(translationMat(0, 0.8, 0));
    boost::shared_ptr<CtvxPolyhedron> d = boxAt(0, -3, 0);
    boost::shared_ptr<CtvxAnalysis> an =
        analysisOf(listOf({s.a}), listOf({s.b, s.c, d}), CtvxAnalysis::EXACT_DISTANCE);
    an->compute();
    EXPECT_EQ(an->countCollisions(), 1u);
    EXPECT_EQ(an->countDistances(), 1u); // A-B, found before the contact; A-D is never examined
}

TEST(AnalysisDriver, EqualDistancesKeepTheirOrder)
{
    boost::shared_ptr<CtvxPolyhedron> a = boxAt(0, 0, 0);
    boost::shared_ptr<CtvxPolyhedron> b = boxAt(3, 0, 0), c = boxAt(-3, 0, 0), e = boxAt(0, 0, 3);
    // ESTIMATED distances: each pair lowers only below the running bound,
    // so use three lists with one object each and the same list 1.
    boost::shared_ptr<CtvxCollisionList> l1 = listOf({b, c, e});
    boost::shared_ptr<CtvxAnalysis> an = analysisOf(l1, listOf({a}), CtvxAnalysis::EXACT_DISTANCE);
    an->compute();
    // Only the first pair lowers the bound when the distances are equal.
    ASSERT_EQ(an->countDistances(), 1u);
    boost::shared_ptr<CtvxDistance> d;
    an->getDistance(0, d);
    ObjectPtr o1;
    d->getObject1(o1);
    EXPECT_EQ(o1, ObjectPtr(b));
}

TEST(AnalysisDriver, AssemblyAndItsChildInOneListGetTheirOwnResults)
{
    boost::shared_ptr<CtvxAssembly> asmb = CtvxAssembly::create();
    boost::shared_ptr<CtvxPolyhedron> leaf = makePolyhedron(makeBox(0.5, 0.5, 0.5));
    asmb->attach(leaf, -1);
    leaf->makeCollisionEntity(noDelegate);
    boost::shared_ptr<CtvxPolyhedron> other = boxAt(0.6, 0, 0);
    boost::shared_ptr<CtvxAnalysis> an =
        analysisOf(listOf({asmb, leaf}), listOf({other}), CtvxAnalysis::ALL_COLLISIONS);
    an->compute();
    ASSERT_EQ(an->countCollisions(), 2u);
    boost::shared_ptr<CtvxCollision> c0, c1;
    an->getCollision(0, c0);
    an->getCollision(1, c1);
    ObjectPtr o;
    c0->getObject1(o);
    EXPECT_EQ(o, ObjectPtr(asmb));
    c1->getObject1(o);
    EXPECT_EQ(o, ObjectPtr(leaf));
    EXPECT_EQ(c0->countPairs(), c1->countPairs());
}

TEST(AnalysisDriver, PrioritaryChildrenFollowTheClosestBranch)
{
    // outer { near-leaf-far, inner { x, y } } against a probe close to y.
    boost::shared_ptr<CtvxAssembly> outer = CtvxAssembly::create(), inner = CtvxAssembly::create();
    boost::shared_ptr<CtvxPolyhedron> far = makePolyhedron(makeBox(0.5, 0.5, 0.5));
    boost::shared_ptr<CtvxPolyhedron> x = makePolyhedron(makeBox(0.5, 0.5, 0.5));
    boost::shared_ptr<CtvxPolyhedron> y = makePolyhedron(makeBox(0.5, 0.5, 0.5));
    outer->attach(far, -1);
    outer->attach(inner, -1);
    inner->attach(x, -1);
    inner->attach(y, -1);
    far->relativePosition(translationMat(-10, 0, 0));
    x->relativePosition(translationMat(0, 5, 0));
    y->relativePosition(translationMat(0, -5, 0));
    for (auto const& p : {far, x, y})
        p->makeCollisionEntity(noDelegate);
    boost::shared_ptr<CtvxPolyhedron> probe = boxAt(0, -7, 0);
    boost::shared_ptr<CtvxCollisionList> l1 = listOf({outer}), l2 = listOf({probe});

    ObjectPtr pc;
    boost::shared_ptr<CtvxAnalysis> all = analysisOf(l1, l2, CtvxAnalysis::ALL_COLLISIONS);
    all->compute();
    EXPECT_EQ(outer->getPrioritaryChild(pc), -1);
    EXPECT_EQ(inner->getPrioritaryChild(pc), -1);

    boost::shared_ptr<CtvxAnalysis> exact = analysisOf(l1, l2, CtvxAnalysis::EXACT_DISTANCE);
    exact->compute();
    ASSERT_EQ(exact->countDistances(), 1u);
    boost::shared_ptr<CtvxDistance> d;
    exact->getDistance(0, d);
    EXPECT_NEAR(d->distance(), 1.0, 1e-5);
    ASSERT_EQ(outer->getPrioritaryChild(pc), 0);
    EXPECT_EQ(pc, ObjectPtr(inner));
    ASSERT_EQ(inner->getPrioritaryChild(pc), 0);
    EXPECT_EQ(pc, ObjectPtr(y));

    // Moving the probe near x: the answer follows, and so do the branches.
    probe->absolutePosition(translationMat(0, 7.5, 0));
    exact->compute();
    exact->getDistance(0, d);
    EXPECT_NEAR(d->distance(), 1.5, 1e-5);
    ASSERT_EQ(inner->getPrioritaryChild(pc), 0);
    EXPECT_EQ(pc, ObjectPtr(x));
    boost::shared_ptr<CtvxGeometryPoint> p1;
    ASSERT_EQ(d->getClosestPoint1(p1), 0);
    boost::shared_ptr<CtvxGeometry> g;
    ASSERT_EQ(p1->getGeometry(g), 0);
    EXPECT_EQ(g, boost::shared_ptr<CtvxGeometry>(x));
}

// Two triangles 0.3 apart (raised along z), with tolerances.
struct TrianglePair {
    boost::shared_ptr<CtvxPolyhedron> s, t;
    explicit TrianglePair(double tolerance)
    {
        Mesh m;
        m.points = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
        m.triangles = {{0, 1, 2}};
        s = makePolyhedron(m);
        t = makePolyhedron(m);
        s->setTolerance(tolerance);
        t->setTolerance(tolerance);
        s->makeCollisionEntity(noDelegate);
        t->makeCollisionEntity(noDelegate);
        t->absolutePosition(translationMat(0.25, 0.25, 0.3));
    }
};

TEST(PairAnalysis, TolerancesDecideContact)
{
    TrianglePair wide(0.2);
    for (int type = 0; type < 4; ++type) {
        boost::shared_ptr<CtvxAnalysis> a = analysisOf(listOf({wide.s}), listOf({wide.t}), CtvxAnalysis::EAnalysisType(type));
        a->compute();
        EXPECT_EQ(a->countCollisions(), 1u) << "type " << type;
    }
    TrianglePair narrow(0.1);
    boost::shared_ptr<CtvxAnalysis> a = analysisOf(listOf({narrow.s}), listOf({narrow.t}), CtvxAnalysis::EXACT_DISTANCE);
    a->compute();
    ASSERT_EQ(a->countDistances(), 1u);
    boost::shared_ptr<CtvxDistance> d;
    a->getDistance(0, d);
    EXPECT_NEAR(d->distance(), 0.1, 1e-6);
    boost::shared_ptr<CtvxGeometryPoint> p1, p2;
    ASSERT_EQ(d->getClosestPoint1(p1), 0);
    ASSERT_EQ(d->getClosestPoint2(p2), 0);
    CqarPoint3 a1, a2;
    p1->pointAbsolute(a1);
    p2->pointAbsolute(a2);
    EXPECT_NEAR(a1.distanceFrom(a2), 0.3, 1e-6);
    for (int type = 0; type < 4; ++type) {
        if (type == CtvxAnalysis::EXACT_DISTANCE)
            continue;
        boost::shared_ptr<CtvxAnalysis> b = analysisOf(listOf({narrow.s}), listOf({narrow.t}), CtvxAnalysis::EAnalysisType(type));
        b->compute();
        EXPECT_EQ(b->countCollisions(), 0u) << "type " << type;
    }
}

// The axis test alone bounds the distance from below: two triangles whose
// closest features are a vertex and an edge, farther apart than the
// tolerances along the diagonal but within them along every axis tested.
TEST(PairAnalysis, ContactWithTolerancesIsDecidedByTheDistance)
{
    Mesh m1, m2;
    m1.points = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    m1.triangles = {{0, 1, 2}};
    // Vertex at (1.1, 1.1, 0.1): 0.1 above the plane, beyond the edge
    // x + y = 1 by 0.85 along the diagonal.
    m2.points = {{1.1, 1.1, 0.1}, {2, 1.1, 0.1}, {1.1, 2, 0.1}};
    m2.triangles = {{0, 1, 2}};
    boost::shared_ptr<CtvxPolyhedron> s = makePolyhedron(m1), t = makePolyhedron(m2);
    s->setTolerance(0.3);
    t->setTolerance(0.3);
    s->makeCollisionEntity(noDelegate);
    t->makeCollisionEntity(noDelegate);
    // True distance: from (1.1, 1.1, 0.1) to the edge: sqrt(2 * 0.6^2 + 0.01)
    double const dist = std::sqrt(2 * 0.6 * 0.6 + 0.01);
    ASSERT_GT(dist, 0.6);
    for (int type = 0; type < 4; ++type) {
        boost::shared_ptr<CtvxAnalysis> a = analysisOf(listOf({s}), listOf({t}), CtvxAnalysis::EAnalysisType(type));
        a->compute();
        EXPECT_EQ(a->countCollisions(), 0u) << "type " << type;
        if (type >= CtvxAnalysis::EXACT_DISTANCE) {
            ASSERT_EQ(a->countDistances(), 1u);
            boost::shared_ptr<CtvxDistance> d;
            a->getDistance(0, d);
            EXPECT_LE(d->distance(), dist - 0.6 + 1e-6);
            if (type == CtvxAnalysis::EXACT_DISTANCE) {
                EXPECT_NEAR(d->distance(), dist - 0.6, 1e-6);
            }
        }
    }
}

TEST(PairAnalysis, DeactivatedPolyhedronAddsNothing)
{
    ThreeBoxes s;
    s.c->absolutePosition(translationMat(0.3, 0, 0));
    s.c->activation(false);
    for (int type = 0; type < 4; ++type) {
        boost::shared_ptr<CtvxAnalysis> a = analysisOf(listOf({s.a}), listOf({s.c}), CtvxAnalysis::EAnalysisType(type));
        a->compute();
        EXPECT_EQ(a->countCollisions(), 0u);
        EXPECT_EQ(a->countDistances(), 0u);
    }
}

TEST(PairAnalysis, RepeatedExactQueryStartsFromTheHint)
{
    Mesh const sphere = makeIcosphere(3, 1.0);
    boost::shared_ptr<CtvxPolyhedron> a = makePolyhedron(sphere), b = makePolyhedron(sphere);
    a->makeCollisionEntity(noDelegate);
    b->makeCollisionEntity(noDelegate);
    b->absolutePosition(translationMat(2.5, 0.4, -0.2));
    boost::shared_ptr<CtvxAnalysis> an = analysisOf(listOf({a}), listOf({b}), CtvxAnalysis::EXACT_DISTANCE);
    an->compute();
    boost::shared_ptr<CtvxDistance> d1, d2;
    an->getDistance(0, d1);
    int const hint1 = a->lastClosestTriangle(), hint2 = b->lastClosestTriangle();
    EXPECT_GE(hint1, 0);
    EXPECT_GE(hint2, 0);
    an->compute();
    an->getDistance(0, d2);
    EXPECT_NEAR(d1->distance(), d2->distance(), 1e-6);
    EXPECT_TRUE(d2->isExactDistance());
    boost::shared_ptr<CtvxGeometryPoint> p, q;
    d1->getClosestPoint1(p);
    d2->getClosestPoint1(q);
    CqarPoint3 pa, qa;
    p->pointAbsolute(pa);
    q->pointAbsolute(qa);
    EXPECT_LT(pa.distanceFrom(qa), 1e-5);
}

// Scaling a polyhedron drops its tree, and with it the recorded point of its
// hint, which lay on the old triangles: the next exact query measures the
// new geometry, not the old points (which here would give 1, not 2.5).
TEST(PairAnalysis, HintsDoNotOutliveTheGeometry)
{
    boost::shared_ptr<CtvxPolyhedron> a = boxAt(0, 0, 0, 1.0), b = boxAt(3, 0, 0, 1.0);
    boost::shared_ptr<CtvxAnalysis> an = analysisOf(listOf({a}), listOf({b}), CtvxAnalysis::EXACT_DISTANCE);
    an->compute();
    boost::shared_ptr<CtvxDistance> d;
    an->getDistance(0, d);
    EXPECT_NEAR(d->distance(), 1.0, 1e-6);
    CqarPoint3 ca(0, 0, 0), cb(3, 0, 0);
    a->scale(ca, 0.25);
    b->scale(cb, 0.25);
    an->compute();
    ASSERT_EQ(an->countDistances(), 1u);
    an->getDistance(0, d);
    EXPECT_NEAR(d->distance(), 2.5, 1e-6);
}

TEST(PairAnalysis, HintWithinTolerancesIsAContactWithoutDescent)
{
    TrianglePair pair(0.2);
    boost::shared_ptr<CtvxAnalysis> an = analysisOf(listOf({pair.s}), listOf({pair.t}), CtvxAnalysis::EXACT_DISTANCE);
    an->compute();
    ASSERT_EQ(an->countCollisions(), 1u);
    boost::shared_ptr<CtvxCollision> c;
    an->getCollision(0, c);
    ASSERT_EQ(c->countPairs(), 1u);
    boost::shared_ptr<CtvxGeometrySubElement> e;
    c->getFirst(0, e);
    int rank = -1;
    boost::dynamic_pointer_cast<CtvxPolyhedronTriangle>(e)->getTriangle(rank);
    EXPECT_EQ(rank, 0);
}

// Replacing the mesh of a collision entity keeps its old tree; a query must
// not follow that tree past the end of the new, smaller mesh.
TEST(PairAnalysis, TreeOverAReplacedMeshIsRebuiltBeforeItIsFollowed)
{
    // The box's tree names 12 triangles; the new mesh has one, which the
    // other box touches. Following the old tree would read past the end.
    boost::shared_ptr<CtvxPolyhedron> big = boxAt(0, 0, 0);
    boost::shared_ptr<CtvxPolyhedron> other = boxAt(0.3, 0, 0);
    Mesh one;
    one.points = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    one.triangles = {{0, 1, 2}};
    big->polyData(makePolyData(one));
    EXPECT_TRUE(big->isBVStale());
    for (int type = 0; type < 4; ++type) {
        boost::shared_ptr<CtvxAnalysis> a = analysisOf(listOf({big}), listOf({other}), CtvxAnalysis::EAnalysisType(type));
        a->compute();
        EXPECT_EQ(a->countCollisions(), 1u);
        EXPECT_TRUE(a->isComplete());
        CtvxPolyhedronBVTree* tree = nullptr;
        ASSERT_EQ(0, big->getBoundingVolumes(tree));
        EXPECT_EQ(0, static_cast<CtvxPolyhedronOBBTree*>(tree)->countObbs());
    }
}

} // namespace
