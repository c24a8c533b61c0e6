// Scenes nested far deeper than a call stack reaches: a chain of assemblies,
// each the only child of the one above, with a box at the bottom. Every
// operation that walks the graph must run without recursion, and building
// the chain top down must stay linear (a walk up the chain per level would
// take minutes at this depth). Placements are checked against their
// composition in double by the test's own arithmetic.
#include <tests/support/Meshes.h>
#include <tests/support/SceneFixtures.h>

#include <tvx/analysis/CtvxAnalysis.h>
#include <tvx/analysis/CtvxDistance.h>
#include <tvx/geometry/CtvxPolyhedron.h>
#include <tvx/scene/CtvxAssembly.h>
#include <tvx/scene/CtvxCollisionList.h>

#include <gtest/gtest.h>

#include <cmath>

namespace {

using namespace tvxtest;

boost::shared_ptr<CtvxProgressDelegate> noDelegate;

// Several walks overflowed the call stack near 2 * 10^4 levels, 10^4 under
// the sanitizers, whose frames are larger.
#ifdef TVX_TEST_SLOW_BUILD
int const kDepth = 10000;
#else
int const kDepth = 100000;
#endif

// Level k's placement in level k - 1: a step along x and a turn about z,
// to the left and to the right in turn.
Affine levelPlacement(int k)
{
    return Affine::translation(0.001, 0.0, 0.0) * Affine::rotation(0, 0, 1, k % 2 ? 0.01 : -0.01);
}

double maxDiff(CqarMat4 const& m, Affine const& a)
{
    double d = 0.0;
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j)
            d = std::max(d, std::fabs(m(i, j) - a.r[i][j]));
        d = std::max(d, std::fabs(m(i, 3) - a.t[i]));
    }
    return d;
}

struct Chain {
    boost::shared_ptr<CtvxAssembly> root;
    boost::shared_ptr<CtvxAssembly> middle;
    boost::shared_ptr<CtvxPolyhedron> leaf; // a unit box
    Affine leafWorld;                       // by the test's arithmetic
};

Chain makeChain(bool topDown)
{
    Chain c;
    std::vector<boost::shared_ptr<CtvxAssembly>> levels(kDepth);
    for (auto& a : levels)
        a = CtvxAssembly::create();
    c.leaf = makePolyhedron(makeBox(0.5, 0.5, 0.5));
    c.leaf->makeCollisionEntity(noDelegate);
    auto const link = [&](int k) { // level k (k = kDepth: the leaf) below level k - 1
        boost::shared_ptr<CtvxObject> child = k < kDepth ? boost::shared_ptr<CtvxObject>(levels[k]) : c.leaf;
        EXPECT_EQ(0, levels[k - 1]->attach(child, -1));
        EXPECT_EQ(0, child->relativePosition(toQar(levelPlacement(k))));
    };
    if (topDown)
        for (int k = 1; k <= kDepth; ++k)
            link(k);
    else
        for (int k = kDepth; k >= 1; --k)
            link(k);
    for (int k = 1; k <= kDepth; ++k)
        c.leafWorld = c.leafWorld * levelPlacement(k);
    c.root = levels.front();
    c.middle = levels[kDepth / 2];
    return c;
}

// The clearance between the chain and a unit box whose centre lies gap + 1
// from the leaf's along the leaf's own x axis.
double clearanceTo(Chain const& c, double gap, CtvxAnalysis::EAnalysisType type, unsigned int& contacts)
{
    Affine const obstacleWorld = c.leafWorld * Affine::translation(1.0 + gap, 0.0, 0.0);
    boost::shared_ptr<CtvxPolyhedron> obstacle = makeBoxEntity(0.5, 0.5, 0.5);
    obstacle->absolutePosition(toQar(obstacleWorld));
    boost::shared_ptr<CtvxAnalysis> q = analysisOf(listOf({c.root}), listOf({obstacle}), type);
    q->compute();
    EXPECT_TRUE(q->isComplete());
    contacts = q->countCollisions();
    if (q->countDistances() == 0)
        return -1.0;
    boost::shared_ptr<CtvxDistance> d;
    q->getDistance(0, d);
    return d->distance();
}

TEST(DeepScene, ChainsOfAHundredThousandLevels)
{
    for (bool const topDown : {true, false}) {
        SCOPED_TRACE(topDown ? "built top down" : "built bottom up");
        Chain c = makeChain(topDown);
        CqarMat4 m;
        c.leaf->getAbsolutePosition(m);
        EXPECT_LT(maxDiff(m, c.leafWorld), 1e-9);

        // Boxes: every level has one boxed child, so the root's box is the
        // leaf's box (a cube's, centred on the leaf) seen from the root.
        float h[3], hLeaf[3];
        ASSERT_EQ(0, c.root->getObbHalfLengths(h[0], h[1], h[2]));
        ASSERT_EQ(0, c.leaf->getObbHalfLengths(hLeaf[0], hLeaf[1], hLeaf[2]));
        EXPECT_TRUE(h[0] == hLeaf[0] && h[1] == hLeaf[1] && h[2] == hLeaf[2]);
        ASSERT_EQ(0, c.root->getObbRelativePosition(m));
        for (int i = 0; i < 3; ++i)
            EXPECT_NEAR(c.leafWorld.t[i], m(i, 3), 1e-6);

        // Queries descend the whole chain, with and without regrouping.
        unsigned int contacts = 0;
        for (int regrouped = 0; regrouped < 2; ++regrouped) {
            EXPECT_NEAR(0.25, clearanceTo(c, 0.25, CtvxAnalysis::EXACT_DISTANCE, contacts), 1e-4);
            double const estimate = clearanceTo(c, 0.25, CtvxAnalysis::ESTIMATED_DISTANCE, contacts);
            EXPECT_TRUE(estimate > 0.0 && estimate <= 0.2501);
            clearanceTo(c, 0.25, CtvxAnalysis::FIRST_COLLISION, contacts);
            EXPECT_EQ(0u, contacts);
            clearanceTo(c, -0.25, CtvxAnalysis::ALL_COLLISIONS, contacts);
            EXPECT_EQ(1u, contacts);
            c.root->makeCollisionEntity(noDelegate);
            EXPECT_TRUE(c.leaf->isLocked() && c.root->isRegrouped());
        }
        // Unlocking the leaf degroups every level on the way down to it.
        c.leaf->unlock(noDelegate, true);
        EXPECT_FALSE(c.leaf->isLocked() || c.middle->isLocked() || c.root->isRegrouped());
        EXPECT_TRUE(c.root->areCollisionEntitiesMade());

        // Tolerance, activation and a geometry transform reach the leaf.
        c.root->setTolerance(0.125);
        double t = 0.0;
        EXPECT_EQ(0, c.root->getMaxTolerance(t));
        EXPECT_EQ(0.125, t);
        EXPECT_EQ(0, c.root->activation(false));
        EXPECT_EQ(CtvxObject::DEACTIVATED, c.leaf->activation());
        EXPECT_EQ(CtvxObject::DEACTIVATED, c.root->activation());
        EXPECT_EQ(0, c.root->activation(true));
        EXPECT_EQ(CtvxObject::ACTIVATED, c.root->activation());
        c.root->setTolerance(0.0);

        // Moving the root moves the leaf (every cache below is invalidated).
        Affine const moved = Affine::translation(3, 4, 5) * Affine::rotation(1, 2, 3, 0.5);
        EXPECT_EQ(0, c.root->absolutePosition(toQar(moved)));
        c.leaf->getAbsolutePosition(m);
        EXPECT_LT(maxDiff(m, moved * c.leafWorld), 1e-9);

        // The complement of the leaf holds the sibling given to the middle.
        boost::shared_ptr<CtvxPolyhedron> sibling = makeBoxEntity(0.5, 0.5, 0.5);
        EXPECT_EQ(0, c.middle->attach(sibling, -1));
        boost::shared_ptr<CtvxCollisionList> out = CtvxCollisionList::create();
        listOf({c.leaf})->computeComplementary(c.root, out, false);
        ASSERT_EQ(1u, out->countObjects());
        EXPECT_EQ(sibling, out->object(0));

        // The chain dies with its root, one level at a time; a regrouped
        // chain gives the leaf, which outlives it, its own frame back.
        c.root->makeCollisionEntity(noDelegate);
        CqarPoint3 corner;
        c.leaf->getPoint(0, corner);
        EXPECT_GT(std::fabs(corner[0] + 0.5), 1.0); // in the root's frame while regrouped
        boost::weak_ptr<CtvxAssembly> root = c.root;
        boost::weak_ptr<CtvxAssembly> middle = c.middle;
        c.root.reset();
        c.middle.reset();
        EXPECT_TRUE(root.expired() && middle.expired());
        EXPECT_FALSE(c.leaf->isLocked());
        c.leaf->getPoint(0, corner);
        EXPECT_NEAR(-0.5, corner[0], 1e-5);
    }
}

} // namespace
