// The 28-byte box record, its child codes and quaternion decoding, and the
// tree's storage scale.

#include "TreeTestUtil.h"

#include <tvx/math/CtvxMat4.h>

#include <qar/CqarQuatF.h>

#include <gtest/gtest.h>

#include <cmath>

using namespace tvxtest;

namespace {

Mesh cornerPointsAt(double tx)
{
    Mesh m;
    for (int k = 0; k < 8; ++k) {
        m.points.push_back({tx + ((k & 1) ? 1.0 : -1.0), (k & 2) ? 0.5 : -0.5, (k & 4) ? 0.25 : -0.25});
        unsigned const u = static_cast<unsigned>(k);
        m.triangles.push_back({u, u, u});
    }
    return m;
}

} // namespace

TEST(ObbRecord, ChildCodes)
{
    static_assert(sizeof(CtvxOBB) == 28, "two codes and ten binary16 values");
    CtvxOBB box;
    box.firstTriangle(5);
    box.child2Rank(3);
    EXPECT_TRUE(box.isFirstChildLeaf());
    EXPECT_EQ(box.getChild1Rank(), -5);
    EXPECT_EQ(box.getFirstTriangle(), 5);
    EXPECT_FALSE(box.isSecondChildLeaf());
    EXPECT_EQ(box.getChild2Rank(), 3);
    // Triangle 0 is coded 0, still a leaf.
    box.secondTriangle(0);
    EXPECT_TRUE(box.isSecondChildLeaf());
    EXPECT_EQ(box.getSecondTriangle(), 0);
    // Copies carry the codes and all ten values.
    box.relativeRotation(CqarQuatF(1.0f, 0.0f, 0.0f, 0.0f));
    box.relativeTranslation(1.5f, -2.0f, 3.25f);
    box.halfLengths(0.5f, 0.25f, 0.125f);
    CtvxOBB copy;
    copy = box;
    EXPECT_EQ(std::memcmp(&copy, &box, sizeof box), 0);
    EXPECT_EQ(copy.size(), 0.875f);
}

TEST(ObbRecord, QuaternionIsNormalisedOnRead)
{
    CtvxOBB box;
    box.relativeRotation(CqarQuatF(2.0f, 0.0f, 0.0f, 0.0f)); // w = 2
    float x, y, z, w;
    box.getRelativeRotation(x, y, z, w);
    EXPECT_EQ(x, 0.0f);
    EXPECT_EQ(y, 0.0f);
    EXPECT_EQ(z, 0.0f);
    EXPECT_EQ(w, 1.0f);
    CtvxMat4 m;
    box.getRelativeRotation(m);
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            EXPECT_EQ(m(r, c), r == c ? 1.0f : 0.0f);

    // Random rotations: the decoded matrix is the rotation to binary16
    // precision, orthonormal to float precision although the stored
    // quaternion is not of unit length.
    Random rng(8);
    for (int i = 0; i < runs(1000); ++i) {
        double q[4];
        double n = 0;
        for (double& c : q) {
            c = rng.uniform(-1.0, 1.0);
            n += c * c;
        }
        n = std::sqrt(n);
        for (double& c : q)
            c /= n;
        box.relativeRotation(CqarQuatF(static_cast<float>(q[0]), static_cast<float>(q[1]), static_cast<float>(q[2]),
                                       static_cast<float>(q[3])));
        box.getRelativeRotation(m);
        double const W = q[0], X = q[1], Y = q[2], Z = q[3];
        double const ref[3][3] = {{1 - 2 * (Y * Y + Z * Z), 2 * (X * Y - W * Z), 2 * (X * Z + W * Y)},
                                  {2 * (X * Y + W * Z), 1 - 2 * (X * X + Z * Z), 2 * (Y * Z - W * X)},
                                  {2 * (X * Z - W * Y), 2 * (Y * Z + W * X), 1 - 2 * (X * X + Y * Y)}};
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c)
                EXPECT_NEAR(m(r, c), ref[r][c], 4.0 / 2048.0) << "seed 8 case " << i;
        for (int a = 0; a < 3; ++a)
            for (int b = 0; b < 3; ++b) {
                double dot = 0;
                for (int r = 0; r < 3; ++r)
                    dot += static_cast<double>(m(r, a)) * m(r, b);
                EXPECT_NEAR(dot, a == b ? 1.0 : 0.0, 1e-6) << "seed 8 case " << i;
            }
        box.getRelativeRotation(x, y, z, w);
        EXPECT_NEAR(x * x + y * y + z * z + w * w, 1.0, 1e-6);
    }
}

TEST(ObbRecord, TreeScaleConversions)
{
    // A scale above 1 is kept but not applied.
    auto big = builtPoly(cornerPointsAt(16375.0)); // reach 16376: 65504 / 32752 = 2
    CtvxPolyhedronOBBTree* tree = treeOf(*big);
    EXPECT_EQ(tree->storedScale(), 2.0f);
    EXPECT_EQ(tree->scale(), 1.0);
    EXPECT_EQ(tree->convertToScaledFloat(8.0f), 8.0f);
    EXPECT_EQ(tree->convertFromScaledFloat(8.0f), 8.0f);

    auto far = builtPoly(cornerPointsAt(131007.0)); // reach 131008: 65504 / 262016 = 0.25
    tree = treeOf(*far);
    EXPECT_EQ(tree->storedScale(), 0.25f);
    EXPECT_EQ(tree->scale(), 0.25);
    EXPECT_EQ(tree->convertToScaledFloat(8.0f), 2.0f);
    EXPECT_EQ(tree->convertFromScaledFloat(2.0f), 8.0f);

    // A fresh tree has scale 1 and no box.
    CtvxPolyhedronOBBTree fresh;
    EXPECT_EQ(fresh.storedScale(), 1.0f);
    EXPECT_EQ(fresh.countObbs(), 0);
    EXPECT_EQ(fresh.depth(), 0);
    int rank = 9;
    EXPECT_EQ(fresh.getRootObbRank(rank), -1);
    EXPECT_EQ(rank, 9);
    CtvxOBB box;
    box.child1Rank(4);
    box.child2Rank(-2);
    fresh.addObb(box);
    ASSERT_EQ(fresh.countObbs(), 1);
    EXPECT_EQ(fresh.getObb(0)->getChild1Rank(), 4);
    EXPECT_EQ(fresh.getRootObbRank(rank), 0);
    EXPECT_EQ(rank, 0);
}

TEST(ObbRecord, TreeDoesNotKeepItsPolyAlive)
{
    auto poly = TestPoly::create(makeBox(1, 1, 1));
    boost::weak_ptr<CtvxPoly> weak = boost::shared_ptr<CtvxPoly>(poly);
    CtvxPolyhedronOBBTree tree(weak);
    boost::shared_ptr<CtvxPoly> back;
    EXPECT_EQ(tree.getPoly(back), 0);
    EXPECT_EQ(back.get(), poly.get());
    back.reset();
    poly.reset();
    EXPECT_TRUE(weak.expired());
    EXPECT_EQ(tree.getPoly(back), -1);
    EXPECT_FALSE(back);
}
