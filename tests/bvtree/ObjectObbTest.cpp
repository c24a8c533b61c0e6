// The enclosing box record made from a tree node.

#include "TreeTestUtil.h"

#include <tvx/scene/CtvxObjectOBB.h>

#include <qar/CqarMat4.h>
#include <qar/CqarQuatF.h>

#include <gtest/gtest.h>

#include <cmath>

using namespace tvxtest;

TEST(ObjectObb, SizeAndCopies)
{
    CtvxObjectOBB box;
    box.halfLengths(1.0f, 2.0f, 3.0f);
    EXPECT_EQ(box.size(), 6.0f);
    CqarMat4 p;
    p(0, 3) = 7.0;
    box.relativePosition(p);
    CtvxObjectOBB copy(box);
    CtvxObjectOBB assigned;
    assigned = box;
    for (CtvxObjectOBB const* b : {&copy, &assigned}) {
        float x, y, z;
        b->getHalfLengths(x, y, z);
        EXPECT_EQ(x, 1.0f);
        EXPECT_EQ(z, 3.0f);
        CqarMat4 q;
        b->getRelativePosition(q);
        EXPECT_EQ(q(0, 3), 7.0);
    }
}

TEST(ObjectObb, FromTreeNodeAtScale)
{
    // Identity quaternion, centre (2, 4, 6), half lengths 1, read at scale
    // 0.5: placed at (4, 8, 12), half lengths 2, the owner's axes.
    CtvxOBB node;
    node.relativeRotation(CqarQuatF(1.0f, 0.0f, 0.0f, 0.0f));
    node.relativeTranslation(2.0f, 4.0f, 6.0f);
    node.halfLengths(1.0f, 1.0f, 1.0f);
    CtvxObjectOBB const box(node, 0.5);
    CqarMat4 p;
    box.getRelativePosition(p);
    EXPECT_EQ(p(0, 3), 4.0);
    EXPECT_EQ(p(1, 3), 8.0);
    EXPECT_EQ(p(2, 3), 12.0);
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 3; ++c)
            EXPECT_EQ(p(r, c), r == c ? 1.0 : 0.0);
    EXPECT_EQ(p(3, 3), 1.0);
    float x, y, z;
    box.getHalfLengths(x, y, z);
    EXPECT_EQ(x, 2.0f);
    EXPECT_EQ(y, 2.0f);
    EXPECT_EQ(z, 2.0f);
}

TEST(ObjectObb, QuaternionIsNormalisedBeforeUse)
{
    // (0, 0, 0, 2) normalised is the identity.
    CtvxOBB node;
    node.relativeRotation(CqarQuatF(2.0f, 0.0f, 0.0f, 0.0f));
    node.relativeTranslation(0.0f, 0.0f, 0.0f);
    node.halfLengths(1.0f, 1.0f, 1.0f);
    CqarMat4 p;
    CtvxObjectOBB(node, 1.0).getRelativePosition(p);
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            EXPECT_EQ(p(r, c), r == c ? 1.0 : 0.0);

    // A turn of 0.3 rad about z, stored in binary16 and so about 1e-3 off
    // unit length: unnormalised, the axes would be off unit length by as
    // much; normalised they are orthonormal to float precision.
    float const h = 0.15f;
    node.relativeRotation(CqarQuatF(std::cos(h), 0.0f, 0.0f, std::sin(h)));
    CtvxObjectOBB(node, 1.0).getRelativePosition(p);
    for (int a = 0; a < 3; ++a)
        for (int b = 0; b < 3; ++b) {
            double dot = 0.0;
            for (int r = 0; r < 3; ++r)
                dot += p(r, a) * p(r, b);
            EXPECT_NEAR(dot, a == b ? 1.0 : 0.0, 1e-6);
        }
    EXPECT_NEAR(p(1, 0), std::sin(0.3), 1e-3);
}

TEST(ObjectObb, OwnBoxOfATriangleSetIsTheRootInTrueLengths)
{
    Mesh m = makeTorus(24, 8, 2.0, 0.5);
    transformMesh(m, 1.0, {3e5, 0.0, 0.0}); // forces a scale below 1
    auto poly = builtPoly(m);
    CtvxPolyhedronOBBTree* tree = treeOf(*poly);
    ASSERT_LT(tree->scale(), 1.0);
    CtvxObjectOBB const* own = poly->polyObb();
    ASSERT_NE(own, nullptr);
    CqarMat4 p;
    own->getRelativePosition(p);
    float c[3];
    tree->getObb(0)->getRelativeTranslations(c[0], c[1], c[2]);
    EXPECT_NEAR(p(0, 3), c[0] / tree->scale(), 1e-6 * 3e5);
    float h[3], rh[3];
    own->getHalfLengths(h[0], h[1], h[2]);
    tree->getObb(0)->getHalfLengths(rh[0], rh[1], rh[2]);
    for (int k = 0; k < 3; ++k)
        EXPECT_GE(h[k], tree->convertFromScaledFloat(rh[k]) * (1.0f - 1e-6f));
}
