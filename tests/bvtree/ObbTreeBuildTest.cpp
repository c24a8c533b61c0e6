// Shape of the trees the builder makes and the order of its progress
// reports, checked by a walk of the tree written independently of the
// builder.

#include "TreeTestUtil.h"

#include <tests/support/RecordingDelegate.h>

#include <tvx/scene/CtvxObjectOBB.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>

using namespace tvxtest;

namespace {

// Zero-area triangles whose vertices all lie on the x axis.
Mesh collinearStrip(int n)
{
    Mesh m;
    for (int i = 0; i < n + 2; ++i)
        m.points.push_back({static_cast<double>(i), 0.0, 0.0});
    for (unsigned i = 0; i < static_cast<unsigned>(n); ++i)
        m.triangles.push_back({i, i + 1, i + 2});
    return m;
}

void expectSoundShape(TestPoly const& poly, RecordingDelegate const* rec, std::string const& label)
{
    unsigned int const n = poly.countTriangles();
    CtvxPolyhedronOBBTree* tree = treeOf(poly);
    ASSERT_NE(tree, nullptr) << label;
    TreeShape const shape = walkTree(*tree, n);
    EXPECT_EQ(shape.error, "") << label;
    EXPECT_EQ(tree->depth(), shape.depth) << label;
    if (rec) {
        ASSERT_EQ(rec->nodes.size(), n >= 2 ? n - 1 : 0u) << label;
        if (n >= 2) {
            EXPECT_EQ(rec->nodes.back(), 0u) << label;
        }
        // The reports are the post-order of the boxes, each with the
        // position of its first triangle in the final permutation, which is
        // the leaf order of the tree.
        EXPECT_EQ(rec->nodes, shape.postOrderFirsts) << label;
    }
}

} // namespace

TEST(ObbTreeBuild, SmallCountsAsTheTreeHeaderSays)
{
    // 0 triangles: a tree without boxes, no own box, no report.
    {
        auto rec = RecordingDelegate::create();
        auto poly = builtPoly(Mesh(), rec);
        EXPECT_TRUE(poly->isBVConstructed());
        ASSERT_NE(treeOf(*poly), nullptr);
        EXPECT_EQ(treeOf(*poly)->countObbs(), 0);
        EXPECT_EQ(poly->polyObb(), nullptr);
        EXPECT_TRUE(rec->events.empty());
        int rank = 42;
        EXPECT_EQ(treeOf(*poly)->getRootObbRank(rank), -1);
        EXPECT_EQ(rank, 42);
    }
    // 1 triangle: no box in the tree but an own box, no report.
    {
        Mesh m;
        m.points = {{0, 0, 0}, {2, 0, 0}, {0, 1, 0}};
        m.triangles = {{0, 1, 2}};
        auto rec = RecordingDelegate::create();
        auto poly = builtPoly(m, rec);
        EXPECT_EQ(treeOf(*poly)->countObbs(), 0);
        EXPECT_EQ(treeOf(*poly)->depth(), 0);
        ASSERT_NE(poly->polyObb(), nullptr);
        EXPECT_TRUE(rec->events.empty());
    }
    // 2 triangles: one box coding both, one report with 0.
    {
        Mesh m = makeBox(1, 1, 1);
        m.triangles.resize(2);
        auto rec = RecordingDelegate::create();
        auto poly = builtPoly(m, rec);
        CtvxPolyhedronOBBTree* tree = treeOf(*poly);
        ASSERT_EQ(tree->countObbs(), 1);
        CtvxOBB const* root = tree->getObb(0);
        EXPECT_TRUE(root->isFirstChildLeaf());
        EXPECT_TRUE(root->isSecondChildLeaf());
        std::vector<int> codes{root->getFirstTriangle(), root->getSecondTriangle()};
        std::sort(codes.begin(), codes.end());
        EXPECT_EQ(codes, (std::vector<int>{0, 1}));
        EXPECT_EQ(rec->nodes, (std::vector<unsigned int>{0}));
        int rank = -7;
        EXPECT_EQ(tree->getRootObbRank(rank), 0);
        EXPECT_EQ(rank, 0);
    }
    // 3 triangles: the root has one triangle and box 1, which has two.
    {
        Mesh m;
        for (double x : {0.0, 10.0, 10.5}) {
            unsigned const b = static_cast<unsigned>(m.points.size());
            m.points.push_back({x, 0, 0});
            m.points.push_back({x + 0.2, 0, 0});
            m.points.push_back({x, 0.2, 0});
            m.triangles.push_back({b, b + 1, b + 2});
        }
        auto rec = RecordingDelegate::create();
        auto poly = builtPoly(m, rec);
        CtvxPolyhedronOBBTree* tree = treeOf(*poly);
        ASSERT_EQ(tree->countObbs(), 2);
        CtvxOBB const* root = tree->getObb(0);
        EXPECT_NE(root->isFirstChildLeaf(), root->isSecondChildLeaf());
        int const boxChild = root->isFirstChildLeaf() ? root->getChild2Rank() : root->getChild1Rank();
        int const lone = root->isFirstChildLeaf() ? root->getFirstTriangle() : root->getSecondTriangle();
        EXPECT_EQ(boxChild, 1);
        EXPECT_EQ(lone, 0) << "the far triangle is the one alone";
        EXPECT_TRUE(tree->getObb(1)->isFirstChildLeaf());
        EXPECT_TRUE(tree->getObb(1)->isSecondChildLeaf());
        EXPECT_EQ(tree->depth(), 2);
        expectSoundShape(*poly, rec.get(), "three");
    }
}

TEST(ObbTreeBuild, IdenticalTrianglesSplitByCount)
{
    // All centroids on one side of every split: each range is cut in the
    // middle of its order, 5 = 2 + 3, then 3 = 1 + 2.
    auto rec = RecordingDelegate::create();
    auto poly = builtPoly(makeIdenticalTriangles(5), rec);
    CtvxPolyhedronOBBTree* tree = treeOf(*poly);
    ASSERT_EQ(tree->countObbs(), 4);
    CtvxOBB const* root = tree->getObb(0);
    ASSERT_EQ(root->getChild1Rank(), 1);
    ASSERT_EQ(root->getChild2Rank(), 2);
    EXPECT_TRUE(tree->getObb(1)->isFirstChildLeaf());
    EXPECT_TRUE(tree->getObb(1)->isSecondChildLeaf());
    EXPECT_TRUE(tree->getObb(2)->isFirstChildLeaf());
    EXPECT_EQ(tree->getObb(2)->getChild2Rank(), 3);
    // Halving keeps the order: ranks 0, 1 | 2 | 3, 4.
    EXPECT_EQ(tree->getObb(1)->getFirstTriangle(), 0);
    EXPECT_EQ(tree->getObb(1)->getSecondTriangle(), 1);
    EXPECT_EQ(tree->getObb(2)->getFirstTriangle(), 2);
    EXPECT_EQ(rec->nodes, (std::vector<unsigned int>{0, 3, 2, 0}));
    expectSoundShape(*poly, rec.get(), "identical");
}

TEST(ObbTreeBuild, ShapeAndReportsOnManyMeshes)
{
    FactorySettingsGuard const settings;
    Random rng(20261207);
    std::vector<std::pair<std::string, Mesh>> meshes;
    for (int n : {2, 3, 4, 5, 7, 8, 16, 33, 100, 257, 1000, 4097})
        meshes.emplace_back("soup " + std::to_string(n), makeSoup(rng, n, 10.0, 1.0));
    meshes.emplace_back("icosphere", makeIcosphere(3, 2.0));
    meshes.emplace_back("uvsphere", makeUVSphere(13, 7, 1.0));
    meshes.emplace_back("torus", makeTorus(31, 9, 3.0, 0.7));
    meshes.emplace_back("grid", makeGrid(17, 9, 4.0, 2.0));
    meshes.emplace_back("needle", makeNeedle(11, 50.0, 0.01));
    meshes.emplace_back("strip", makeStrip(999, 0.1));
    meshes.emplace_back("box", makeBox(1, 2, 3));
    meshes.emplace_back("identical", makeIdenticalTriangles(37));
    meshes.emplace_back("collinear", collinearStrip(50));
    for (auto const& [label, mesh] : meshes) {
        for (auto algo : {CtvxPolyhedronOBBTreeFactory::OBB_PLACEMENT_DEFAULT,
                          CtvxPolyhedronOBBTreeFactory::OBB_PLACEMENT_AABB_LIKE}) {
            CtvxPolyhedronOBBTreeFactory::algoObbPlacement(algo);
            auto rec = RecordingDelegate::create();
            auto poly = builtPoly(mesh, rec);
            expectSoundShape(*poly, rec.get(), label + (algo ? " default" : " aabb"));
        }
    }
    CtvxPolyhedronOBBTreeFactory::algoObbPlacement(CtvxPolyhedronOBBTreeFactory::OBB_PLACEMENT_DEFAULT);
}

TEST(ObbTreeBuild, GeometricChainIsDeep)
{
    // Every split peels the farthest triangle off, so the tree is a chain:
    // as deep as the float range lets positions grow.
    int const n = 100;
    auto rec = RecordingDelegate::create();
    auto poly = builtPoly(makeGeometricChain(n, 2.2), rec);
    expectSoundShape(*poly, rec.get(), "chain");
    EXPECT_EQ(treeOf(*poly)->depth(), n - 1);
}

TEST(ObbTreeBuild, DegenerateLargeInputsBuildQuickly)
{
    // 100,000 identical triangles and a 100,000-triangle strip of zero-area
    // triangles on one line: no stack growth with depth, and every triangle
    // coded once.
    int const n = 100000;
    for (auto const& [label, mesh] :
         std::vector<std::pair<std::string, Mesh>>{{"identical", makeIdenticalTriangles(n)}, {"collinear", collinearStrip(n)},
                                                   {"strip", makeStrip(n, 1.0)}}) {
        auto const start = std::chrono::steady_clock::now();
        auto poly = builtPoly(mesh);
        double const seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        CtvxPolyhedronOBBTree* tree = treeOf(*poly);
        TreeShape const shape = walkTree(*tree, static_cast<unsigned int>(n));
        EXPECT_EQ(shape.error, "") << label;
        EXPECT_EQ(tree->depth(), shape.depth) << label;
        std::cout << label << ": " << n << " triangles, depth " << tree->depth() << ", " << seconds << " s\n";
    }
}

TEST(ObbTreeBuild, ReadsEachTriangleOnce)
{
    // The fits work on a copy of the vertices made in one pass.
    auto poly = TestPoly::create(makeIcosphere(4, 1.0));
    poly->buildBV(s_defaultNullDelegate, CtvxPoly::BV_OBB_TREE);
    EXPECT_EQ(poly->getTriangleCalls, static_cast<long long>(poly->countTriangles()));
}
