// The double-precision reference used as the oracle of the kernel and query
// tests: hand-computed distances, and randomized checks against two bounds
// that need no clever geometry (sampled point pairs from above, projections
// on axes from below).

#include <tests/support/Random.h>
#include <tests/support/ReferenceGeometry.h>
#include <tests/support/TrianglePairs.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

using tvxtest::Box;
using tvxtest::Tri;
using tvxtest::Vec3;

namespace {

void expectVec(Vec3 const& v, double x, double y, double z)
{
    EXPECT_NEAR(v.x, x, 1e-12);
    EXPECT_NEAR(v.y, y, 1e-12);
    EXPECT_NEAR(v.z, z, 1e-12);
}

TEST(ReferenceGeometry, SegmentDistances)
{
    Vec3 p;
    Vec3 q;
    // Skew and perpendicular.
    EXPECT_DOUBLE_EQ(tvxtest::segmentDistance({0, 0, 0}, {1, 0, 0}, {0.5, -1, 1}, {0.5, 1, 1}, &p, &q), 1.0);
    expectVec(p, 0.5, 0, 0);
    expectVec(q, 0.5, 0, 1);
    // Parallel and overlapping.
    EXPECT_DOUBLE_EQ(tvxtest::segmentDistance({0, 0, 0}, {2, 0, 0}, {1, 1, 0}, {3, 1, 0}), 1.0);
    // Collinear and apart.
    EXPECT_DOUBLE_EQ(tvxtest::segmentDistance({0, 0, 0}, {1, 0, 0}, {3, 0, 0}, {2, 0, 0}, &p, &q), 1.0);
    expectVec(p, 1, 0, 0);
    expectVec(q, 2, 0, 0);
    // Both points.
    EXPECT_DOUBLE_EQ(tvxtest::segmentDistance({1, 1, 1}, {1, 1, 1}, {4, 5, 1}, {4, 5, 1}), 5.0);
    // Crossing.
    EXPECT_DOUBLE_EQ(tvxtest::segmentDistance({-1, 0, 0}, {1, 0, 0}, {0, -1, 0}, {0, 1, 0}), 0.0);
}

TEST(ReferenceGeometry, PointTriangleDistances)
{
    Tri const t = {Vec3(0, 0, 0), Vec3(2, 0, 0), Vec3(0, 2, 0)};
    Vec3 c;
    EXPECT_DOUBLE_EQ(tvxtest::pointTriangleDistance({0.5, 0.5, 3}, t, &c), 3.0);
    expectVec(c, 0.5, 0.5, 0);
    EXPECT_DOUBLE_EQ(tvxtest::pointTriangleDistance({-3, -4, 0}, t, &c), 5.0);
    expectVec(c, 0, 0, 0);
    // Beyond the hypotenuse, in the plane.
    EXPECT_NEAR(tvxtest::pointTriangleDistance({2, 2, 0}, t), std::sqrt(2.0), 1e-15);
    // A collinear triangle is its longest edge.
    Tri const line = {Vec3(0, 0, 0), Vec3(1, 0, 0), Vec3(3, 0, 0)};
    EXPECT_TRUE(tvxtest::isDegenerate(line));
    EXPECT_DOUBLE_EQ(tvxtest::pointTriangleDistance({2, 1, 0}, line), 1.0);
    EXPECT_DOUBLE_EQ(tvxtest::pointTriangleDistance({5, 0, 0}, line), 2.0);
}

TEST(ReferenceGeometry, TriangleDistances)
{
    Tri const unit = {Vec3(0, 0, 0), Vec3(1, 0, 0), Vec3(0, 1, 0)};
    Tri const raised = {Vec3(0, 0, 1), Vec3(1, 0, 1), Vec3(0, 1, 1)};
    EXPECT_DOUBLE_EQ(tvxtest::triangleDistance(unit, raised), 1.0);
    // Coplanar, 2 apart along x.
    Tri const side = {Vec3(3, 0, 0), Vec3(4, 0, 0), Vec3(3, 1, 0)};
    EXPECT_DOUBLE_EQ(tvxtest::triangleDistance(unit, side), 2.0);
    // An edge through the interior: no vertex or edge pair meets, yet they
    // intersect.
    Tri const pierce = {Vec3(0.2, 0.2, -1), Vec3(0.3, 0.2, 1), Vec3(5, 5, 5)};
    EXPECT_TRUE(tvxtest::trianglesIntersect(unit, pierce));
    EXPECT_TRUE(tvxtest::trianglesIntersect(pierce, unit));
    // Points.
    Tri const a = {Vec3(1, 1, 1), Vec3(1, 1, 1), Vec3(1, 1, 1)};
    Tri const b = {Vec3(1, 4, 5), Vec3(1, 4, 5), Vec3(1, 4, 5)};
    EXPECT_DOUBLE_EQ(tvxtest::triangleDistance(a, b), 5.0);
    // A point above a face.
    EXPECT_DOUBLE_EQ(tvxtest::triangleDistance(unit, {Vec3(0.25, 0.25, 2), Vec3(0.25, 0.25, 2), Vec3(0.25, 0.25, 3)}),
                     2.0);
}

TEST(ReferenceGeometry, BoxDistances)
{
    Box const unit = tvxtest::axisBox(1, 1, 1);
    double const I[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    double const h[3] = {1, 1, 1};
    double const t1[3] = {3, 0, 0};
    EXPECT_DOUBLE_EQ(tvxtest::boxDistance(unit, tvxtest::placedBox(h, I, t1)), 1.0);
    double const t2[3] = {3, 3, 3};
    EXPECT_NEAR(tvxtest::boxDistance(unit, tvxtest::placedBox(h, I, t2)), std::sqrt(3.0), 1e-15);
    double const t3[3] = {1.5, 0.5, -0.5};
    EXPECT_EQ(tvxtest::boxDistance(unit, tvxtest::placedBox(h, I, t3)), 0.0);
    // A thin box through the middle of another, no vertex inside either.
    double const thin[3] = {5, 0.1, 0.1};
    double const zero[3] = {0, 0, 0};
    EXPECT_EQ(tvxtest::boxDistance(unit, tvxtest::placedBox(thin, I, zero)), 0.0);

    Tri const beside = {Vec3(3, 0, 0), Vec3(3, 1, 0), Vec3(3, 0, 1)};
    EXPECT_DOUBLE_EQ(tvxtest::boxTriangleDistance(unit, beside), 2.0);
    Tri const diagonal = {Vec3(4, 3, 2), Vec3(2, 4, 3), Vec3(3, 2, 4)};
    EXPECT_NEAR(tvxtest::boxTriangleDistance(unit, diagonal), 6.0 / std::sqrt(3.0), 1e-14);
    // A huge triangle slicing the box: only box edges meet it.
    Tri const slice = {Vec3(-50, -50, 0.3), Vec3(50, -50, 0.3), Vec3(0, 80, 0.3)};
    EXPECT_EQ(tvxtest::boxTriangleDistance(unit, slice), 0.0);
    // A needle through the box: only its edges meet the box.
    Tri const needle = {Vec3(-9, 0.1, 0.1), Vec3(9, 0.1, 0.1), Vec3(9, 0.1, 0.1000001)};
    EXPECT_EQ(tvxtest::boxTriangleDistance(unit, needle), 0.0);
}

// Sampled points of a triangle on a barycentric grid.
std::vector<Vec3> samples(Tri const& t, int n)
{
    std::vector<Vec3> out;
    for (int i = 0; i <= n; ++i)
        for (int j = 0; i + j <= n; ++j) {
            double const u = double(i) / n;
            double const v = double(j) / n;
            out.push_back(t[0] * (1 - u - v) + t[1] * u + t[2] * v);
        }
    return out;
}

double projectionGap(std::vector<Vec3> const& a, std::vector<Vec3> const& b, Vec3 axis)
{
    double const len = tvxtest::norm(axis);
    if (!(len > 1e-9))
        return 0.0;
    axis = axis * (1.0 / len);
    double amin = std::numeric_limits<double>::infinity(), amax = -amin, bmin = amin, bmax = -amin;
    for (Vec3 const& p : a) {
        amin = std::min(amin, tvxtest::dot(p, axis));
        amax = std::max(amax, tvxtest::dot(p, axis));
    }
    for (Vec3 const& p : b) {
        bmin = std::min(bmin, tvxtest::dot(p, axis));
        bmax = std::max(bmax, tvxtest::dot(p, axis));
    }
    return std::max({0.0, amin - bmax, bmin - amax});
}

// Upper bound: no sampled pair is closer than the distance, and the closest
// sampled pair is within the grid spacing of it. Lower bound: no axis
// separates the vertex sets by more than the distance, and the best of the
// candidate axes (normals, edge cross products, the closest-point direction)
// reaches it when the triangles are apart.
TEST(ReferenceGeometry, TriangleDistanceIsBracketedBySamplesAndAxes)
{
    tvxtest::Random rng(77);
    int const n = tvxtest::runs(300);
    for (int it = 0; it < n; ++it) {
        float s[3][3];
        float t[3][3];
        auto const family = static_cast<tvxtest::PairFamily>(it % tvxtest::PairFamilyCount);
        if (family == tvxtest::PairFamily::Large || family == tvxtest::PairFamily::Tiny ||
            family == tvxtest::PairFamily::Scaled)
            continue;
        tvxtest::makeTrianglePair(rng, family, s, t);
        Tri const a = tvxtest::toTri(s);
        Tri const b = tvxtest::toTri(t);
        Vec3 p;
        Vec3 q;
        double const d = tvxtest::triangleDistance(a, b, &p, &q);
        // The closest points are on the triangles and that far apart.
        ASSERT_LE(tvxtest::pointTriangleDistance(p, a), 1e-12) << it;
        ASSERT_LE(tvxtest::pointTriangleDistance(q, b), 1e-12) << it;
        ASSERT_NEAR(tvxtest::distance(p, q), d, 1e-12) << it;

        int const grid = 12;
        std::vector<Vec3> const sa = samples(a, grid);
        std::vector<Vec3> const sb = samples(b, grid);
        double sampled = std::numeric_limits<double>::infinity();
        for (Vec3 const& x : sa)
            for (Vec3 const& y : sb)
                sampled = std::min(sampled, tvxtest::distance(x, y));
        ASSERT_LE(d, sampled + 1e-12) << it;
        double diameter = 0.0;
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j) {
                diameter = std::max(diameter, tvxtest::distance(a[i], a[j]));
                diameter = std::max(diameter, tvxtest::distance(b[i], b[j]));
            }
        ASSERT_LE(sampled, d + 2.0 * diameter / grid + 1e-12) << it;

        std::vector<Vec3> const va(a.begin(), a.end());
        std::vector<Vec3> const vb(b.begin(), b.end());
        double best = projectionGap(va, vb, q - p);
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j) {
                Vec3 const axis = tvxtest::cross(a[(i + 1) % 3] - a[i], b[(j + 1) % 3] - b[j]);
                double const g = projectionGap(va, vb, axis);
                ASSERT_LE(g, d + 1e-9) << it;
                best = std::max(best, g);
            }
        }
        best = std::max(best, projectionGap(va, vb, tvxtest::cross(a[1] - a[0], a[2] - a[0])));
        best = std::max(best, projectionGap(va, vb, tvxtest::cross(b[1] - b[0], b[2] - b[0])));
        // The direction between two closest points nearer than 1e-6 is known
        // only to about 1e-16 / d; their axis then proves nothing.
        if (d > 1e-6) {
            ASSERT_NEAR(best, d, 1e-9) << it;
        }
    }
}

TEST(ReferenceGeometry, BoxDistancesAreBracketedBySamplesAndAxes)
{
    tvxtest::Random rng(78);
    int const n = tvxtest::runs(200);
    for (int it = 0; it < n; ++it) {
        double h1[3];
        double h2[3];
        double R[3][3];
        double T[3];
        for (int i = 0; i < 3; ++i) {
            h1[i] = rng.uniform(0.1, 2.0);
            h2[i] = rng.uniform(0.1, 2.0);
            T[i] = rng.uniform(-4.0, 4.0);
        }
        tvxtest::randomRotation(rng, R);
        Box const a = tvxtest::axisBox(h1[0], h1[1], h1[2]);
        Box const b = tvxtest::placedBox(h2, R, T);
        double const d = tvxtest::boxDistance(a, b);

        // Vertices and a surface grid of each box.
        auto points = [](Box const& box, int g) {
            std::vector<Vec3> out;
            for (int i = 0; i <= g; ++i)
                for (int j = 0; j <= g; ++j)
                    for (int k = 0; k <= g; ++k) {
                        if (i != 0 && i != g && j != 0 && j != g && k != 0 && k != g)
                            continue;
                        double const c[3] = {2.0 * i / g - 1, 2.0 * j / g - 1, 2.0 * k / g - 1};
                        Vec3 p = box.centre;
                        for (int ax = 0; ax < 3; ++ax)
                            p = p + box.axis[ax] * (c[ax] * box.half[ax]);
                        out.push_back(p);
                    }
            return out;
        };
        std::vector<Vec3> const pa = points(a, 8);
        std::vector<Vec3> const pb = points(b, 8);
        double sampled = std::numeric_limits<double>::infinity();
        for (Vec3 const& x : pa)
            sampled = std::min(sampled, tvxtest::pointBoxDistance(x, b));
        ASSERT_LE(d, sampled + 1e-12) << it;

        std::vector<Vec3> const va = points(a, 1);
        std::vector<Vec3> const vb = points(b, 1);
        double best = 0.0;
        for (int i = 0; i < 3; ++i) {
            best = std::max(best, projectionGap(va, vb, a.axis[i]));
            best = std::max(best, projectionGap(va, vb, b.axis[i]));
            for (int j = 0; j < 3; ++j)
                best = std::max(best, projectionGap(va, vb, tvxtest::cross(a.axis[i], b.axis[j])));
        }
        ASSERT_LE(best, d + 1e-9) << it;
        // The axes decide overlap exactly.
        ASSERT_EQ(best == 0.0, d == 0.0) << it << ": best axis gap " << best << ", distance " << d;
    }
}

} // namespace
