// The utility-library stand-in: everything above it trusts these transforms.
#include <qar/CqarLogManager.h>
#include <qar/CqarMat4.h>
#include <qar/CqarQuatF.h>
#include <qar/CqarVect3.h>

#include <tests/support/Random.h>

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <thread>
#include <vector>

namespace {

using tvxtest::Random;

double const kPi = 3.14159265358979323846;

// Rotation matrix of the unit quaternion (w, x, y, z), computed in double
// independently of the classes under test.
CqarMat4 rotationOf(double w, double x, double y, double z)
{
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
    return m;
}

void randomUnitQuat(Random& rng, double q[4])
{
    double n = 0;
    do {
        for (int i = 0; i < 4; ++i)
            q[i] = rng.uniform(-1, 1);
        n = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
    } while (n < 0.1 || n > 1.0);
    for (int i = 0; i < 4; ++i)
        q[i] /= n;
}

CqarMat4 axisAngle(double ax, double ay, double az, double a)
{
    double const n = std::sqrt(ax * ax + ay * ay + az * az);
    double const s = std::sin(a / 2) / n;
    return rotationOf(std::cos(a / 2), ax * s, ay * s, az * s);
}

double maxDiffFromIdentity(CqarMat4 const& m)
{
    double worst = 0;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            worst = std::max(worst, std::fabs(m(r, c) - (r == c ? 1.0 : 0.0)));
    return worst;
}

TEST(QarVect3, ArithmeticAndProducts)
{
    CqarVect3 const a(1, 2, 3), b(-4, 5, 0.5);
    CqarVect3 const c = a * b;
    EXPECT_DOUBLE_EQ(c[0], 2 * 0.5 - 3 * 5);
    EXPECT_DOUBLE_EQ(c[1], 3 * -4 - 1 * 0.5);
    EXPECT_DOUBLE_EQ(c[2], 1 * 5 - 2 * -4);
    // The cross product is orthogonal to both factors.
    EXPECT_NEAR(c.scalarProduct(a), 0.0, 1e-12);
    EXPECT_NEAR(c.scalarProduct(b), 0.0, 1e-12);
    EXPECT_DOUBLE_EQ(a.scalarProduct(b), -4 + 10 + 1.5);
    CqarVect3 const s = (a + b) - a * 2.0;
    EXPECT_DOUBLE_EQ(s[0], -4 - 1);
    EXPECT_DOUBLE_EQ(s[1], 5 - 2);
    EXPECT_DOUBLE_EQ(s[2], 0.5 - 3);
    CqarPoint3 const p(1, 1, 1), q(4, 5, 1);
    EXPECT_DOUBLE_EQ(p.distanceFrom(q), 5.0);
    CqarPoint3 r;
    r = a; // points are copied with the vector assignment
    EXPECT_DOUBLE_EQ(r[2], 3.0);
}

TEST(QarMat4, DefaultIsIdentityAndSetColumnCountsFromOne)
{
    CqarMat4 m;
    EXPECT_EQ(maxDiffFromIdentity(m), 0.0);
    m.setColumn(4, 7, 8, 9, 1);
    EXPECT_EQ(m(0, 3), 7.0);
    EXPECT_EQ(m(1, 3), 8.0);
    EXPECT_EQ(m(2, 3), 9.0);
    m.setColumn(1, 2, 0, 0, 0);
    EXPECT_EQ(m(0, 0), 2.0);
    CqarMat4 const before = m;
    m.setColumn(0, 5, 5, 5, 5);
    m.setColumn(5, 5, 5, 5, 5);
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            EXPECT_EQ(m(r, c), before(r, c));
}

TEST(QarMat4, PointsTakeTheTranslationVectorsDoNot)
{
    CqarMat4 m = axisAngle(0, 0, 1, kPi / 2);
    m.setColumn(4, 10, 20, 30, 1);
    CqarPoint3 const p = m * CqarPoint3(1, 0, 0);
    EXPECT_NEAR(p[0], 10, 1e-12);
    EXPECT_NEAR(p[1], 21, 1e-12);
    EXPECT_NEAR(p[2], 30, 1e-12);
    CqarVect3 const v = m * CqarVect3(1, 0, 0);
    EXPECT_NEAR(v[0], 0, 1e-12);
    EXPECT_NEAR(v[1], 1, 1e-12);
    EXPECT_NEAR(v[2], 0, 1e-12);
}

TEST(QarMat4, ProductAppliesRightOperandFirst)
{
    CqarMat4 t;
    t.setColumn(4, 5, 0, 0, 1);
    CqarMat4 const r = axisAngle(0, 0, 1, kPi / 2);
    // (t * r) p rotates first: (1,0,0) -> (0,1,0) -> (5,1,0).
    CqarPoint3 const p = (t * r) * CqarPoint3(1, 0, 0);
    EXPECT_NEAR(p[0], 5, 1e-12);
    EXPECT_NEAR(p[1], 1, 1e-12);
}

// Random affine transforms: rotation, translation and a scale that is
// uniform, non-uniform or tiny/huge. M * M^-1 and M^-1 * M must both give the
// identity, and the bottom row must come back exactly.
TEST(QarMat4, InverseOfRandomAffineTransforms)
{
    Random rng(20261207);
    int const n = tvxtest::runs(20000);
    for (int i = 0; i < n; ++i) {
        double q[4];
        randomUnitQuat(rng, q);
        CqarMat4 m = rotationOf(q[0], q[1], q[2], q[3]);
        double const uniform = std::pow(10.0, rng.uniform(-3, 3));
        double sx = uniform, sy = uniform, sz = uniform;
        if (i % 3 == 1) {
            sx *= rng.uniform(0.2, 5);
            sy *= rng.uniform(0.2, 5);
            sz *= rng.uniform(0.2, 5);
        }
        for (int r = 0; r < 3; ++r) {
            m(r, 0) *= sx;
            m(r, 1) *= sy;
            m(r, 2) *= sz;
        }
        double const reach = std::pow(10.0, rng.uniform(-2, 4));
        m.setColumn(4, rng.uniform(-reach, reach), rng.uniform(-reach, reach), rng.uniform(-reach, reach), 1);
        CqarMat4 const inv = m.inverse();
        EXPECT_EQ(inv(3, 0), 0.0);
        EXPECT_EQ(inv(3, 1), 0.0);
        EXPECT_EQ(inv(3, 2), 0.0);
        EXPECT_EQ(inv(3, 3), 1.0);
        // Points round-trip relative to their own size and the translation.
        CqarPoint3 const p(rng.uniform(-reach, reach), rng.uniform(-reach, reach), rng.uniform(-reach, reach));
        CqarPoint3 const back = inv * (m * p);
        double const scaleOfProblem = reach * (1 + std::max({sx, sy, sz}) / std::min({sx, sy, sz}));
        ASSERT_LE(back.distanceFrom(p), 1e-11 * scaleOfProblem) << "case " << i;
        // The linear block: M * M^-1 = I.
        CqarMat4 prod = m * inv;
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c)
                ASSERT_NEAR(prod(r, c), r == c ? 1.0 : 0.0, 1e-12) << "case " << i;
    }
}

TEST(QarMat4, InverseOfGeneralAndSingularMatrices)
{
    // A projective matrix goes through the general path.
    CqarMat4 m;
    double const v[4][4] = {{2, 1, 0, 3}, {0, 1, 4, -1}, {1, 0, 1, 2}, {0.5, 0, 0, 1}};
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            m(r, c) = v[r][c];
    EXPECT_LE(maxDiffFromIdentity(m * m.inverse()), 1e-12);
    EXPECT_LE(maxDiffFromIdentity(m.inverse() * m), 1e-12);

    // A singular block must not come back as a plausible matrix.
    CqarMat4 flat;
    flat(2, 2) = 0.0;
    CqarMat4 const bad = flat.inverse();
    EXPECT_TRUE(std::isnan(bad(0, 0)));
    m(3, 0) = m(3, 1) = m(3, 2) = m(3, 3) = 0.0;
    EXPECT_TRUE(std::isnan(m.inverse()(1, 1)));
}

// A quaternion and its negative are the same rotation; compare matrices.
void expectSameRotation(CqarQuatF const& q, CqarMat4 const& m, double tol, int caseNo)
{
    CqarMat4 const back = rotationOf(q.w(), q.x(), q.y(), q.z());
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            ASSERT_NEAR(back(r, c), m(r, c), tol) << "case " << caseNo << " element " << r << "," << c;
    double const n = std::sqrt(double(q.w()) * q.w() + double(q.x()) * q.x() + double(q.y()) * q.y() +
                               double(q.z()) * q.z());
    ASSERT_NEAR(n, 1.0, 1e-6) << "case " << caseNo;
}

TEST(QarQuatF, RoundTripOfRandomRotations)
{
    Random rng(7);
    int const n = tvxtest::runs(50000);
    for (int i = 0; i < n; ++i) {
        double q[4];
        randomUnitQuat(rng, q);
        CqarMat4 m = rotationOf(q[0], q[1], q[2], q[3]);
        m.setColumn(4, 100, -3, 7, 1); // the translation plays no part
        CqarQuatF const f(m);
        expectSameRotation(f, m, 2e-6, i);
        EXPECT_GE(f.w(), 0.0f);
    }
}

// Half-turns have w = 0: the trace-based formula divides by ~0 there, so
// they are the cases a naive conversion gets wrong.
TEST(QarQuatF, HalfTurnsAndNearHalfTurns)
{
    double const axes[][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 1, 0}, {1, -1, 1}, {0, 1, -1}};
    int k = 0;
    for (auto const& a : axes) {
        for (double angle : {kPi, kPi - 1e-7, kPi + 1e-5, -kPi, kPi - 1e-3}) {
            CqarMat4 const m = axisAngle(a[0], a[1], a[2], angle);
            expectSameRotation(CqarQuatF(m), m, 2e-6, k++);
        }
    }
    Random rng(99);
    for (int i = 0; i < tvxtest::runs(5000); ++i) {
        double ax = rng.uniform(-1, 1), ay = rng.uniform(-1, 1), az = rng.uniform(-1, 1);
        if (ax * ax + ay * ay + az * az < 1e-3)
            continue;
        CqarMat4 const m = axisAngle(ax, ay, az, kPi + rng.uniform(-1e-4, 1e-4));
        expectSameRotation(CqarQuatF(m), m, 2e-6, i);
    }
}

TEST(QarQuatF, StorageIsScalarFirst)
{
    CqarQuatF const q(0.5f, 0.25f, -0.125f, 1.0f);
    float const* d = q.data();
    EXPECT_EQ(d[0], 0.5f);
    EXPECT_EQ(d[1], 0.25f);
    EXPECT_EQ(d[2], -0.125f);
    EXPECT_EQ(d[3], 1.0f);
    CqarQuatF const id;
    EXPECT_EQ(id.w(), 1.0f);
    EXPECT_EQ(id.x(), 0.0f);
}

TEST(QarLogManager, KeepsMessagesInOrderUntilCleared)
{
    CqarLogManager::clear();
    CqarLogManager::addError("first");
    CqarLogManager::addError("second");
    CqarLogManager::addError("first");
    std::vector<std::string> const m = CqarLogManager::messages();
    ASSERT_EQ(m.size(), 3u);
    EXPECT_EQ(m[0], "first");
    EXPECT_EQ(m[1], "second");
    EXPECT_EQ(m[2], "first");
    CqarLogManager::clear();
    EXPECT_TRUE(CqarLogManager::messages().empty());
}

// Threads that each use their own scene log to the one process-wide log at
// the same time: every message kept, each thread's in its own order, and a
// reader meanwhile sees whole messages only.
TEST(QarLogManager, KeepsEveryMessageOfConcurrentWriters)
{
    CqarLogManager::clear();
    int const writers = 4, each = tvxtest::runs(20000);
    std::vector<std::thread> threads;
    for (int w = 0; w < writers; ++w)
        threads.emplace_back([w, each] {
            for (int i = 0; i < each; ++i)
                CqarLogManager::addError(std::to_string(w) + ":" + std::to_string(i));
        });
    std::size_t seen = 0;
    for (int r = 0; r < 20; ++r) {
        std::vector<std::string> const partial = CqarLogManager::messages();
        EXPECT_GE(partial.size(), seen);
        seen = partial.size();
    }
    for (std::thread& t : threads)
        t.join();
    std::vector<std::string> const m = CqarLogManager::messages();
    ASSERT_EQ(m.size(), static_cast<std::size_t>(writers * each));
    std::vector<int> next(writers, 0);
    for (std::string const& message : m) {
        std::size_t const colon = message.find(':');
        ASSERT_NE(colon, std::string::npos) << message;
        int const w = std::stoi(message.substr(0, colon));
        ASSERT_TRUE(w >= 0 && w < writers) << message;
        ASSERT_EQ(std::stoi(message.substr(colon + 1)), next[w]++) << message;
    }
    CqarLogManager::clear();
}

} // namespace
