// Single-precision transforms, checked against double-precision references.
#include <tvx/math/CtvxMat4.h>
#include <tvx/math/CtvxPoint.h>
#include <tvx/math/CtvxTriangle.h>

#include <qar/CqarQuatF.h>

#include <tests/support/Random.h>

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

namespace {

using tvxtest::Random;

double const kPi = 3.14159265358979323846;

// Rigid transform from a random unit quaternion and translation, built in
// double; returned both as the double matrix and rounded to float.
CqarMat4 randomRigid(Random& rng, double reach)
{
    double q[4], n;
    do {
        for (double& c : q)
            c = rng.uniform(-1, 1);
        n = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
    } while (n < 0.1 || n > 1);
    double const w = q[0] / n, x = q[1] / n, y = q[2] / n, z = q[3] / n;
    CqarMat4 m;
    m(0, 0) = 1 - 2 * (y * y + z * z);
    m(0, 1) = 2 * (x * y - w * z);
    m(0, 2) = 2 * (x * z + w * y);
    m(1, 0) = 2 * (x * y + w * z);
    m(1, 1) = 1 - 2 * (x * x + z * z);
    m(1, 2) = 2 * (y * z - w * x);
    m(2, 0) = 2 * (x * z - w * y);
    m(2, 1) = 2 * (y * z + w * x);
    m(2, 2) = 1 - 2 * (x * x + y * y);
    m.setColumn(4, rng.uniform(-reach, reach), rng.uniform(-reach, reach), rng.uniform(-reach, reach), 1);
    return m;
}

CqarMat4 widen(CtvxMat4 const& m)
{
    CqarMat4 r;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            r(i, j) = m(i, j);
    return r;
}

TEST(Mat4, ElementAccessAndRangeRules)
{
    CtvxMat4 m(0.0f);
    m.setComponent(1, 2, 5.0f);
    EXPECT_EQ(m(1, 2), 5.0f);
    EXPECT_EQ(m.getComponent(1, 2), 5.0f);
    EXPECT_EQ(m.getComponent(4, 0), 0.0f);
    EXPECT_EQ(m.getComponent(-1, 2), 0.0f);
    CtvxMat4 const before = m;
    m.setComponent(0, 4, 9.0f);
    m.setRow(0, 1, 2, 3, 4);
    m.setRow(5, 1, 2, 3, 4);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(m.data()[i], before.data()[i]);
    m.setRow(1, 1, 2, 3, 4); // rows count from 1
    EXPECT_EQ(m(0, 0), 1.0f);
    EXPECT_EQ(m(0, 3), 4.0f);
    m.setColumn(4, 7, 8, 9, 1); // columns count from 1
    EXPECT_EQ(m(0, 3), 7.0f);
    EXPECT_EQ(m(1, 3), 8.0f);
    EXPECT_EQ(m(2, 3), 9.0f);
    EXPECT_EQ(m(3, 3), 1.0f);
    // Row-major storage from getAddress().
    float const* raw = static_cast<float const*>(m.getAddress());
    EXPECT_EQ(raw[4 * 1 + 2], 5.0f);
    float rows[4][4] = {{1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10, 11, 12}, {13, 14, 15, 16}};
    CtvxMat4 const fromRows(rows);
    EXPECT_EQ(fromRows(2, 1), 10.0f);
    EXPECT_EQ(fromRows.t()(1, 2), 10.0f);
    CtvxMat4 ones;
    ones.one();
    EXPECT_EQ((ones * 3.0f)(3, 0), 3.0f);
    EXPECT_EQ((ones / 4.0f)(2, 2), 0.25f);
    CtvxMat4 sum = ones + ones;
    sum -= ones;
    sum += ones;
    EXPECT_EQ(sum(1, 1), 2.0f);
}

TEST(Mat4, WholeMatrixSettersDoNotCompose)
{
    CtvxMat4 m;
    m.translate(1, 2, 3);
    m.translate(4, 5, 6);
    EXPECT_EQ(m(0, 3), 4.0f);
    EXPECT_EQ(m(1, 3), 5.0f);
    EXPECT_EQ(m(2, 3), 6.0f);
    EXPECT_EQ(m(0, 0), 1.0f);
    m.rotateZ(static_cast<float>(kPi / 2));
    EXPECT_EQ(m(0, 3), 0.0f);
    CqarPoint3 const p = m * CqarPoint3(1, 0, 0);
    EXPECT_NEAR(p[0], 0.0, 1e-7);
    EXPECT_NEAR(p[1], 1.0, 1e-7);
    EXPECT_NEAR(p[2], 0.0, 1e-7);
}

TEST(Mat4, AxisAngleRotation)
{
    CtvxMat4 a, b;
    for (float angle : {0.0f, 0.3f, -1.2f, 3.0f}) {
        a.rotate(0, 0, 0.0005f, angle); // axis too short: identity
        b.identity();
        for (int i = 0; i < 16; ++i)
            EXPECT_EQ(a.data()[i], b.data()[i]);
        a.rotate(0, 0, 2, angle);
        b.rotateZ(angle);
        EXPECT_TRUE(a == b);
        a.rotate(3, 0, 0, angle);
        b.rotateX(angle);
        EXPECT_TRUE(a == b);
        a.rotate(0, -1, 0, angle);
        b.rotateY(-angle);
        EXPECT_TRUE(a == b);
    }
    // Rodrigues' formula in double for a random axis.
    Random rng(3);
    for (int i = 0; i < 1000; ++i) {
        double ax = rng.uniform(-1, 1), ay = rng.uniform(-1, 1), az = rng.uniform(-1, 1);
        double const n = std::sqrt(ax * ax + ay * ay + az * az);
        if (n < 0.01)
            continue;
        double const angle = rng.uniform(-kPi, kPi);
        a.rotate(float(ax), float(ay), float(az), float(angle));
        ax /= n;
        ay /= n;
        az /= n;
        double const s = std::sin(angle), c = std::cos(angle), f = 1 - c;
        double const ref[3][3] = {{ax * ax * f + c, ax * ay * f - az * s, ax * az * f + ay * s},
                                  {ax * ay * f + az * s, ay * ay * f + c, ay * az * f - ax * s},
                                  {ax * az * f - ay * s, ay * az * f + ax * s, az * az * f + c}};
        for (int r = 0; r < 3; ++r)
            for (int col = 0; col < 3; ++col)
                ASSERT_NEAR(a(r, col), ref[r][col], 1e-5);
        EXPECT_TRUE(a.isTransRot());
    }
}

TEST(Mat4, FromQuaternionBothForms)
{
    CtvxMat4 a, b, id;
    id.identity();
    a.fromQuat(0, 0, 0, 1);
    b.fromQuat(CqarQuatF(1, 0, 0, 0));
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(a.data()[i], id.data()[i]);
        EXPECT_EQ(b.data()[i], id.data()[i]);
    }
    // The utility quaternion is read scalar first; the float form takes the
    // scalar last: both must describe the same rotation.
    Random rng(11);
    for (int i = 0; i < 1000; ++i) {
        CqarMat4 const m = randomRigid(rng, 0);
        CqarQuatF const q(m);
        a.fromQuat(q);
        b.fromQuat(q.x(), q.y(), q.z(), q.w());
        for (int k = 0; k < 16; ++k)
            ASSERT_EQ(a.data()[k], b.data()[k]);
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c)
                ASSERT_NEAR(a(r, c), m(r, c), 2e-6);
        EXPECT_EQ(a(3, 3), 1.0f);
        EXPECT_EQ(a(0, 3), 0.0f);
    }
}

// Composition against the double product of the same float elements: the
// float result must be within a few float roundings of it.
TEST(Mat4, CompositionAgainstDoubleReference)
{
    Random rng(5);
    for (int i = 0; i < tvxtest::runs(20000); ++i) {
        CtvxMat4 const a(randomRigid(rng, 100)), b(randomRigid(rng, 100));
        CtvxMat4 const ab = a * b;
        CqarMat4 const ref = widen(a) * widen(b);
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 4; ++c)
                ASSERT_NEAR(ab(r, c), ref(r, c), c == 3 ? 1e-4 : 1e-6) << "case " << i;
        EXPECT_EQ(ab(3, 0), 0.0f);
        EXPECT_EQ(ab(3, 3), 1.0f);
    }
    // Bottom rows are never read.
    CtvxMat4 a, b;
    a.translate(1, 2, 3);
    b.rotateX(0.7f);
    CtvxMat4 const clean = a * b;
    a.setRow(4, 5, 6, 7, 8);
    b.setRow(4, -1, 2, -3, 0);
    CtvxMat4 const dirty = a * b;
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(clean.data()[i], dirty.data()[i]);
}

TEST(Mat4, RigidInverseAndTransRotTest)
{
    Random rng(8);
    for (int i = 0; i < tvxtest::runs(20000); ++i) {
        CqarMat4 const d = randomRigid(rng, 50);
        CtvxMat4 const m(d);
        ASSERT_TRUE(m.isTransRot()) << "case " << i;
        CtvxMat4 const inv = m.inverse();
        CtvxMat4 id;
        id.identity();
        ASSERT_TRUE(m * inv == id) << "case " << i;
        ASSERT_TRUE(inv * m == id) << "case " << i;
        CqarMat4 const dinv = d.inverse();
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 4; ++c)
                ASSERT_NEAR(inv(r, c), dinv(r, c), c == 3 ? 1e-4 : 1e-6);
    }
    CtvxMat4 m;
    m.rotateY(0.4f);
    EXPECT_TRUE((m * 2.0f).isTransRot() == false);
    CtvxMat4 shear;
    shear.identity();
    shear(0, 1) = 0.01f;
    EXPECT_FALSE(shear.isTransRot());
    CtvxMat4 mirror;
    mirror.identity();
    mirror(2, 2) = -1.0f; // orthonormal but not a rotation
    EXPECT_FALSE(mirror.isTransRot());
    CtvxMat4 badRow;
    badRow.identity();
    badRow(3, 1) = 0.002f;
    EXPECT_FALSE(badRow.isTransRot());
    badRow(3, 1) = 0.0005f;
    EXPECT_TRUE(badRow.isTransRot());
    CtvxMat4 farAway;
    farAway.translate(1e30f, -1e30f, 0); // the translation is not examined
    EXPECT_TRUE(farAway.isTransRot());
}

TEST(Mat4, EqualityToleranceBoundaries)
{
    CtvxMat4 a, b;
    a.identity();
    b.identity();
    b(1, 3) = 0.0009f;
    EXPECT_TRUE(a == b);
    EXPECT_FALSE(a != b);
    b(1, 3) = 0.0011f;
    EXPECT_FALSE(a == b);
    EXPECT_TRUE(a != b);
    b(1, 3) = -0.0011f;
    EXPECT_FALSE(a == b);
    b(1, 3) = std::nanf("");
    EXPECT_FALSE(a == b);
    EXPECT_FALSE(b == b);
}

TEST(Mat4, PointAndVectorProductsSumInDouble)
{
    // Elements whose float products would lose the small terms if summed in
    // float: the double sum keeps them.
    CtvxMat4 m;
    m.identity();
    m(0, 1) = 1.0f;
    m(0, 3) = 16777216.0f; // 2^24
    CqarPoint3 const p = m * CqarPoint3(0.25, 0.5, 0);
    EXPECT_EQ(p[0], 16777216.0 + 0.75);
    CqarVect3 const v = m * CqarVect3(0.25, 0.5, 0);
    EXPECT_EQ(v[0], 0.75);
    Random rng(2);
    for (int i = 0; i < 1000; ++i) {
        CtvxMat4 const f(randomRigid(rng, 1000));
        CqarPoint3 const q(rng.uniform(-10, 10), rng.uniform(-10, 10), rng.uniform(-10, 10));
        CqarPoint3 const r = f * q;
        CqarPoint3 const ref = widen(f) * q;
        ASSERT_NEAR(r[0], ref[0], 1e-12);
        ASSERT_NEAR(r[1], ref[1], 1e-12);
        ASSERT_NEAR(r[2], ref[2], 1e-12);
    }
}

TEST(Mat4, ConversionFromDoubleNarrowsEachElement)
{
    CqarMat4 d;
    d(0, 1) = 0.1;
    d(2, 3) = 1e-50; // below float range: 0
    CtvxMat4 const f(d);
    EXPECT_EQ(f(0, 1), 0.1f);
    EXPECT_EQ(f(2, 3), 0.0f);
    EXPECT_EQ(f(3, 3), 1.0f);
    CqarMat4 const back = f.toQar();
    EXPECT_EQ(back(0, 1), static_cast<double>(0.1f));
}

TEST(Mat4, PrintWritesRowsWithTrailingBlanks)
{
    CtvxMat4 m(0.0f);
    std::ostringstream s;
    m.print(s);
    EXPECT_EQ(s.str(), "0 0 0 0 \n0 0 0 0 \n0 0 0 0 \n0 0 0 0 \n");
    m.identity();
    m(0, 3) = 2.5f;
    std::ostringstream t;
    m.print(t);
    EXPECT_EQ(t.str(), "1 0 0 2.5 \n0 1 0 0 \n0 0 1 0 \n0 0 0 1 \n");
}

TEST(Point, ConversionsAndTransform)
{
    CtvxPoint const p(CqarPoint3(0.1, 0.2, 0.3));
    EXPECT_EQ(p.X(), 0.1f);
    EXPECT_EQ(p.Y(), 0.2f);
    EXPECT_EQ(p.Z(), 0.3f);
    CqarPoint3 w;
    p.XYZ(w);
    EXPECT_EQ(w[0], static_cast<double>(0.1f));
    CqarMat4 t;
    t.setColumn(4, 10, 0, 0, 1);
    CtvxPoint const moved = CtvxPoint(1, 2, 3) * t;
    EXPECT_TRUE(moved == CtvxPoint(11, 2, 3));
    EXPECT_FALSE(moved == CtvxPoint(11, 2, 3.0000005f));
    // The sum runs in double and is narrowed once: 2^24 + 1 + 0.5 + 0.5 in
    // float steps would round twice.
    CqarMat4 s;
    s.setColumn(4, 16777216.0 + 1.0, 0, 0, 1);
    CtvxPoint const q = CtvxPoint(1.0f, 0, 0) * s;
    EXPECT_EQ(q.X(), 16777218.0f);
    CtvxPoint r;
    r.setXYZ(CqarPoint3(-1.5, 2.5, 1e40));
    EXPECT_EQ(r.X(), -1.5f);
    EXPECT_TRUE(std::isinf(r.Z()));
}

TEST(Triangle, RanksStayInOrder)
{
    CtvxTriangle t(4, 5, 6);
    unsigned a, b, c;
    t.getPoints(a, b, c);
    EXPECT_EQ(a, 4u);
    EXPECT_EQ(b, 5u);
    EXPECT_EQ(c, 6u);
    t.point2(9);
    t.getPoint2(b);
    EXPECT_EQ(b, 9u);
    t.points(1, 2, 3);
    t.getPoint3(c);
    EXPECT_EQ(c, 3u);
}

} // namespace
