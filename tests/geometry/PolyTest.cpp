// The triangle-set base: tree building and resetting, the own box, and the
// closest-triangle hint.

#include <tests/support/Meshes.h>
#include <tests/support/TestPoly.h>

#include <tvx/bvtree/CtvxPolyhedronOBBTree.h>
#include <tvx/progress/CtvxProgressDelegate.h>
#include <tvx/scene/CtvxObjectOBB.h>

#include <gtest/gtest.h>

#include <new>

using namespace tvxtest;

namespace {

// A set that runs out of memory while the builder reads it.
class FailingPoly : public TestPoly {
public:
    static boost::shared_ptr<FailingPoly> create(Mesh const& mesh)
    {
        boost::shared_ptr<FailingPoly> poly(new FailingPoly(mesh));
        boost::shared_ptr<CtvxPoly> base = poly;
        poly->initBase(base);
        return poly;
    }
    void getTriangle(unsigned int rank, CqarPoint3* const points) const override
    {
        if (failAt >= 0 && static_cast<int>(rank) == failAt)
            throw std::bad_alloc();
        TestPoly::getTriangle(rank, points);
    }
    int failAt = -1;

private:
    explicit FailingPoly(Mesh const& mesh) : TestPoly(mesh) {}
    void initBase(boost::shared_ptr<CtvxPoly>& self) { init(self); }
};

// A set made without create(): it has no weak pointer to itself.
class BarePoly : public TestPoly {
public:
    BarePoly() : TestPoly(makeBox(1, 1, 1)) {}
};

} // namespace

TEST(Poly, FreshState)
{
    auto poly = TestPoly::create(makeBox(1, 1, 1));
    EXPECT_FALSE(poly->isBVConstructed());
    CtvxPolyhedronOBBTree other;
    CtvxPolyhedronBVTree* tree = &other; // must be overwritten with null
    EXPECT_EQ(poly->getBoundingVolumes(tree), -1);
    EXPECT_EQ(tree, nullptr);
    EXPECT_EQ(poly->lastClosestTriangle(), -1);
    EXPECT_EQ(poly->polyObb(), nullptr);
}

TEST(Poly, BuildOnceResetAndRebuild)
{
    auto poly = TestPoly::create(makeIcosphere(1, 1.0));
    poly->buildBV(s_defaultNullDelegate, CtvxPoly::BV_OBB_TREE);
    EXPECT_TRUE(poly->isBVConstructed());
    CtvxPolyhedronBVTree* tree = nullptr;
    ASSERT_EQ(poly->getBoundingVolumes(tree), 0);
    ASSERT_NE(tree, nullptr);
    EXPECT_NE(dynamic_cast<CtvxPolyhedronOBBTree*>(tree), nullptr);
    CtvxObjectOBB const* box = poly->polyObb();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(poly->optimizeMemoryCalls(), 1);

    // A second build changes nothing and does not trim memory again.
    long long const reads = poly->getTriangleCalls;
    poly->buildBV(s_defaultNullDelegate, CtvxPoly::BV_OBB_TREE);
    CtvxPolyhedronBVTree* again = nullptr;
    poly->getBoundingVolumes(again);
    EXPECT_EQ(again, tree);
    EXPECT_EQ(poly->polyObb(), box);
    EXPECT_EQ(poly->optimizeMemoryCalls(), 1);
    EXPECT_EQ(poly->getTriangleCalls, reads);

    // Reset drops tree and box, and the hint's point, which lay on the
    // triangles the tree was built over; the hint's triangle stays.
    CqarPoint3 p(1, 2, 3);
    poly->setLastClosestInfo(7, p);
    poly->resetBV();
    EXPECT_FALSE(poly->isBVConstructed());
    EXPECT_EQ(poly->getBoundingVolumes(again), -1);
    EXPECT_EQ(again, nullptr);
    EXPECT_EQ(poly->polyObb(), nullptr);
    EXPECT_EQ(poly->lastClosestTriangle(), 7);
    CqarPoint3 q;
    int t = -1;
    poly->getLastClosestPoint(q, t);
    EXPECT_EQ(t, 7);
    auto const& v7 = poly->mesh().points[poly->mesh().triangles[7][0]];
    EXPECT_EQ(q[0], v7[0]);
    EXPECT_EQ(q[1], v7[1]);
    EXPECT_EQ(q[2], v7[2]);

    // Triangles added after a build join the tree only when it is rebuilt.
    poly->buildBV(s_defaultNullDelegate, CtvxPoly::BV_OBB_TREE);
    unsigned int const before = poly->countTriangles();
    poly->mesh().triangles.push_back({0, 1, 2});
    poly->getBoundingVolumes(tree);
    EXPECT_EQ(dynamic_cast<CtvxPolyhedronOBBTree*>(tree)->countObbs(), static_cast<int>(before) - 1);
    poly->rebuild();
    poly->getBoundingVolumes(tree);
    EXPECT_EQ(dynamic_cast<CtvxPolyhedronOBBTree*>(tree)->countObbs(), static_cast<int>(before));
}

TEST(Poly, EmptySet)
{
    auto poly = TestPoly::create(Mesh());
    poly->buildBV(s_defaultNullDelegate, CtvxPoly::BV_OBB_TREE);
    EXPECT_TRUE(poly->isBVConstructed());
    CtvxPolyhedronBVTree* tree = nullptr;
    ASSERT_EQ(poly->getBoundingVolumes(tree), 0);
    EXPECT_EQ(dynamic_cast<CtvxPolyhedronOBBTree*>(tree)->countObbs(), 0);
    EXPECT_EQ(poly->polyObb(), nullptr);
    // No triangle 0 to read: no triangle and the origin.
    CqarPoint3 q(5, 5, 5);
    int t = 3;
    poly->getLastClosestPoint(q, t);
    EXPECT_EQ(t, -1);
    EXPECT_EQ(q[0], 0.0);
}

TEST(Poly, ClosestHint)
{
    Mesh m = makeGrid(3, 3, 3.0, 3.0);
    auto poly = TestPoly::create(m);
    CqarPoint3 q;
    int t = -5;
    // Nothing recorded: triangle 0 and its first vertex.
    poly->getLastClosestPoint(q, t);
    EXPECT_EQ(t, 0);
    auto const& v0 = m.points[m.triangles[0][0]];
    EXPECT_EQ(q[0], v0[0]);
    EXPECT_EQ(q[1], v0[1]);
    // A triangle without point: that triangle's first vertex.
    poly->setLastClosestInfo(4);
    poly->getLastClosestPoint(q, t);
    EXPECT_EQ(t, 4);
    auto const& v4 = m.points[m.triangles[4][0]];
    EXPECT_EQ(q[0], v4[0]);
    EXPECT_EQ(q[1], v4[1]);
    EXPECT_EQ(poly->lastClosestTriangle(), 4);
    // With a point: the point, copied.
    CqarPoint3 p(0.25, -0.5, 9.0);
    poly->setLastClosestInfo(4, p);
    p.setValue(0, 0, 0);
    poly->getLastClosestPoint(q, t);
    EXPECT_EQ(t, 4);
    EXPECT_EQ(q[2], 9.0);
    // A later triangle-only record forgets the point.
    poly->setLastClosestInfo(2);
    poly->getLastClosestPoint(q, t);
    EXPECT_EQ(t, 2);
    EXPECT_EQ(q[2], 0.0);
}

TEST(Poly, OwnBoxFeedsTheEnclosingBox)
{
    auto poly = TestPoly::create(makeBox(1.0, 2.0, 3.0));
    poly->tolerance(0.5);
    CtvxObject::EObbState state = CtvxObject::OBB_NONE;
    CqarMat4 position;
    float hx = 0, hy = 0, hz = 0;
    poly->activated(false);
    poly->polyComputeObb(state, position, hx, hy, hz);
    EXPECT_EQ(state, CtvxObject::OBB_NONE);
    EXPECT_FALSE(poly->isBVConstructed());
    poly->activated(true);
    poly->polyComputeObb(state, position, hx, hy, hz);
    EXPECT_EQ(state, CtvxObject::OBB_COMPUTED);
    ASSERT_TRUE(poly->isBVConstructed());
    float x, y, z;
    poly->polyObb()->getHalfLengths(x, y, z);
    EXPECT_EQ(hx, x + 0.5f);
    EXPECT_EQ(hy, y + 0.5f);
    EXPECT_EQ(hz, z + 0.5f);
}

TEST(Poly, FailedBuildLeavesNoTree)
{
    auto poly = FailingPoly::create(makeIcosphere(1, 1.0));
    poly->failAt = 17;
    EXPECT_THROW(poly->buildBV(s_defaultNullDelegate, CtvxPoly::BV_OBB_TREE), std::bad_alloc);
    EXPECT_FALSE(poly->isBVConstructed());
    CtvxPolyhedronBVTree* tree = nullptr;
    EXPECT_EQ(poly->getBoundingVolumes(tree), -1);
    EXPECT_EQ(poly->polyObb(), nullptr);
    // Once memory is back the build goes through.
    poly->failAt = -1;
    poly->buildBV(s_defaultNullDelegate, CtvxPoly::BV_OBB_TREE);
    EXPECT_TRUE(poly->isBVConstructed());
    EXPECT_NE(poly->polyObb(), nullptr);
}

TEST(Poly, SetWithoutSelfPointerBuildsNothing)
{
    BarePoly bare;
    bare.buildBV(s_defaultNullDelegate, CtvxPoly::BV_OBB_TREE);
    EXPECT_FALSE(bare.isBVConstructed());
    CtvxPolyhedronBVTree* tree = nullptr;
    EXPECT_EQ(bare.getBoundingVolumes(tree), -1);
}

TEST(Poly, OwnershipRunsDownwards)
{
    auto poly = TestPoly::create(makeTorus(8, 4, 2.0, 0.5));
    poly->buildBV(s_defaultNullDelegate, CtvxPoly::BV_OBB_TREE);
    boost::weak_ptr<TestPoly> weak = poly;
    CtvxPolyhedronBVTree* tree = nullptr;
    poly->getBoundingVolumes(tree);
    boost::shared_ptr<CtvxPoly> back;
    EXPECT_EQ(tree->getPoly(back), 0);
    back.reset();
    poly.reset();
    EXPECT_TRUE(weak.expired());
}
