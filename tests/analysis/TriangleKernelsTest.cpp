// Triangle kernels: distance with closest points, segment closest points,
// the tolerance contact test, and the two coordinate helpers. Checked against
// hand-computed values and against the double-precision reference over
// random families of pairs.

#include <tvx/analysis/internal/CtvxProximityKernels.h>

#include <tests/support/Random.h>
#include <tests/support/ReferenceGeometry.h>
#include <tests/support/TrianglePairs.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>

using tvxtest::PairFamily;
using tvxtest::Tri;
using tvxtest::Vec3;

namespace {

// Single-precision error allowed against the reference: kErrorUlps units of
// float rounding (2^-23) times the largest coordinate magnitude of the pair.
// Every kernel quantity is a short chain of sums and products of coordinate
// differences, each rounded relative to the coordinates, so its absolute
// error scales with them and not with the distance itself.
constexpr double kErrorUlps = 64.0;
constexpr double kFloatEps = 1.1920928955078125e-7;

// Nearly parallel and coplanar pairs are the exception. The closest points
// of two edges at a small angle come from a parameter formula whose
// cancellation grows like 1/sin(angle): crossing coplanar edges at 1 degree
// can come out 1e-5 apart instead of meeting. And the edge loop of TriDist
// stops at the first edge pair whose points it proves closest, from the
// signs of projections on the pair's common normal, which for nearly
// parallel edges is known only to rounding; it can then accept a pair up to
// about 4e-4 of the coordinates farther than the true distance. Both are
// rare (about 1 pair in 10^4 of these families exceeds the ordinary bound),
// and the distance stays an actual distance between two points of the
// triangles, never too small. These families get a looser bound, and the
// share of pairs beyond the ordinary one is checked to stay rare.
constexpr double kNearParallelRelative = 1.0 / 1024.0;
constexpr double kNearParallelMaxShare = 1.0e-3;

double errorBound(float const (*s)[3], float const (*t)[3])
{
    double m = 0.0;
    for (int k = 0; k < 3; ++k)
        for (int i = 0; i < 3; ++i)
            m = std::max({m, std::fabs(double(s[k][i])), std::fabs(double(t[k][i]))});
    return kErrorUlps * kFloatEps * m + 1.0e-37;
}

std::string describe(float const (*s)[3], float const (*t)[3])
{
    std::ostringstream os;
    os << "float const s[3][3] = ";
    tvxtest::printTriangle(os, s);
    os << ";\nfloat const t[3][3] = ";
    tvxtest::printTriangle(os, t);
    os << ";";
    return os.str();
}

class TriangleKernels : public ::testing::Test {
protected:
    CtvxProximityKernels k;
};

// --- Hand-computed cases -------------------------------------------------

float const kUnit[3][3] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
float const kRaised[3][3] = {{0, 0, 1}, {1, 0, 1}, {0, 1, 1}};

TEST_F(TriangleKernels, RaisedPairComesFromTheFirstEdgePair)
{
    float p[3];
    float q[3];
    EXPECT_EQ(k.TriDist(p, q, kUnit, kRaised), 1.0f);
    EXPECT_EQ(p[0], 0.0f);
    EXPECT_EQ(p[1], 0.0f);
    EXPECT_EQ(p[2], 0.0f);
    EXPECT_EQ(q[0], 0.0f);
    EXPECT_EQ(q[1], 0.0f);
    EXPECT_EQ(q[2], 1.0f);
}

TEST_F(TriangleKernels, RaisedPairContactDependsOnTolerance)
{
    float d = -1.0f;
    k.triangleTolerance(0.0f);
    EXPECT_FALSE(k.triContact(kUnit, kRaised, d));
    EXPECT_EQ(d, 1.0f);
    k.triangleTolerance(0.25f);
    EXPECT_FALSE(k.triContact(kUnit, kRaised, d));
    EXPECT_FLOAT_EQ(d, 0.75f);
    k.triangleTolerance(1.5f);
    EXPECT_TRUE(k.triContact(kUnit, kRaised, d));
    // Coplanar triangles 2 apart along x: the first separating axis is the
    // in-plane normal of the hypotenuse of the first one, which sees them
    // only 2 / sqrt(2) apart. The first axis found is reported, not the
    // largest, and it stays a lower bound.
    float const side[3][3] = {{3, 0, 0}, {4, 0, 0}, {3, 1, 0}};
    k.triangleTolerance(0.0f);
    EXPECT_FALSE(k.triContact(kUnit, side, d));
    EXPECT_FLOAT_EQ(d, std::sqrt(2.0f));
}

TEST_F(TriangleKernels, CrossingTrianglesTouch)
{
    float const a[3][3] = {{-1, -1, 0}, {2, -1, 0}, {-1, 2, 0}};
    float const b[3][3] = {{0.2f, 0.1f, -1}, {0.3f, 0.2f, 1}, {0.1f, 0.4f, 1}};
    float p[3];
    float q[3];
    EXPECT_EQ(k.TriDist(p, q, a, b), 0.0f);
    EXPECT_EQ(k.TriDist(p, q, b, a), 0.0f);
    float d = 0.0f;
    EXPECT_TRUE(k.triContact(a, b, d));
    EXPECT_TRUE(k.triContact(b, a, d));
}

TEST_F(TriangleKernels, VertexAboveFaceUsesTheFaceTest)
{
    // The apex of t hangs 0.5 above the inside of s; t's edges stay far
    // from s's edges, so only the face test can give 0.5.
    float const s[3][3] = {{-2, -2, 0}, {4, -2, 0}, {-2, 4, 0}};
    float const t[3][3] = {{0.25f, 0.5f, 0.5f}, {0.0f, 0.0f, 3.0f}, {1.0f, 0.5f, 3.0f}};
    float p[3];
    float q[3];
    EXPECT_FLOAT_EQ(k.TriDist(p, q, s, t), 0.5f);
    EXPECT_FLOAT_EQ(p[0], 0.25f);
    EXPECT_FLOAT_EQ(p[1], 0.5f);
    EXPECT_FLOAT_EQ(p[2], 0.0f);
    EXPECT_EQ(q[0], 0.25f);
    EXPECT_EQ(q[1], 0.5f);
    EXPECT_EQ(q[2], 0.5f);
    // With the roles swapped the answer goes through the face of the
    // second triangle (the other face test).
    EXPECT_FLOAT_EQ(k.TriDist(p, q, t, s), 0.5f);
    EXPECT_EQ(p[2], 0.5f);
    EXPECT_FLOAT_EQ(q[2], 0.0f);
}

TEST_F(TriangleKernels, CollinearTrianglesFallBackToEdges)
{
    // Both degenerate (collinear): edges alone decide. Two parallel segments
    // 1 apart, overlapping in x.
    float const s[3][3] = {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}};
    float const t[3][3] = {{0.5f, 1, 0}, {3, 1, 0}, {1, 1, 0}};
    float p[3];
    float q[3];
    EXPECT_FLOAT_EQ(k.TriDist(p, q, s, t), 1.0f);
    EXPECT_FLOAT_EQ(q[1] - p[1], 1.0f);
    // A collinear s piercing a proper triangle: 0.
    float const u[3][3] = {{0.2f, 0.2f, -1}, {0.2f, 0.2f, 1}, {0.2f, 0.2f, 0.5f}};
    EXPECT_EQ(k.TriDist(p, q, kUnit, u), 0.0f);
    EXPECT_EQ(k.TriDist(p, q, u, kUnit), 0.0f);
}

TEST_F(TriangleKernels, SegPointsDegenerateAndParallel)
{
    float vec[3];
    float x[3];
    float y[3];
    float const zero[3] = {0, 0, 0};
    float const p[3] = {1, 2, 3};
    float const q[3] = {4, 6, 3};
    k.SegPoints(vec, x, y, p, zero, q, zero);
    EXPECT_EQ(x[0], 1.0f);
    EXPECT_EQ(x[1], 2.0f);
    EXPECT_EQ(y[0], 4.0f);
    EXPECT_EQ(y[1], 6.0f);
    EXPECT_EQ(vec[0], 3.0f);
    EXPECT_EQ(vec[1], 4.0f);
    EXPECT_EQ(vec[2], 0.0f);

    // Parallel segments overlapping in x: lambda starts at 0, so x is the
    // start of segment 1 and y its foot on segment 2.
    float const a[3] = {2, 0, 0};
    float const p2[3] = {0, 0, 0};
    float const q2[3] = {-1, 1, 0};
    float const b[3] = {4, 0, 0};
    k.SegPoints(vec, x, y, p2, a, q2, b);
    EXPECT_EQ(x[0], 0.0f);
    EXPECT_EQ(y[0], 0.0f);
    EXPECT_EQ(y[1], 1.0f);
    // Parallel and disjoint along their line: end of 1 against start of 2.
    float const q3[3] = {5, 1, 0};
    k.SegPoints(vec, x, y, p2, a, q3, b);
    EXPECT_EQ(x[0], 2.0f);
    EXPECT_EQ(y[0], 5.0f);
    EXPECT_EQ(y[1], 1.0f);
    EXPECT_EQ(vec[0], 3.0f);
    EXPECT_EQ(vec[1], 1.0f);
}

TEST_F(TriangleKernels, SegPointsAgreesWithReference)
{
    tvxtest::Random rng(7);
    int const n = tvxtest::runs(20000);
    for (int it = 0; it < n; ++it) {
        float p[3], a[3], q[3], b[3];
        for (int i = 0; i < 3; ++i) {
            p[i] = rng.uniformf(-1, 1);
            a[i] = rng.uniformf(-1, 1);
            q[i] = rng.uniformf(-1, 1);
            b[i] = rng.uniformf(-1, 1);
        }
        if (rng.chance(0.1)) // parallel
            for (int i = 0; i < 3; ++i)
                b[i] = -0.5f * a[i];
        float vec[3], x[3], y[3];
        k.SegPoints(vec, x, y, p, a, q, b);
        Vec3 const P(p), Q(q);
        Vec3 const A = P + Vec3(a);
        Vec3 const B = Q + Vec3(b);
        double const ref = tvxtest::segmentDistance(P, A, Q, B);
        double const got = tvxtest::distance(Vec3(x), Vec3(y));
        double const tol = 64 * kFloatEps * 4;
        ASSERT_NEAR(got, ref, tol) << "iteration " << it;
        ASSERT_LE(tvxtest::distance(Vec3(x), tvxtest::closestOnSegment(Vec3(x), P, A)), tol);
        ASSERT_LE(tvxtest::distance(Vec3(y), tvxtest::closestOnSegment(Vec3(y), Q, B)), tol);
    }
}

TEST_F(TriangleKernels, Project6MeasuresAlongTheUnitAxis)
{
    float axis[3] = {0, 0, 2};
    float p1[3] = {0, 0, 0}, p2[3] = {1, 0, 0}, p3[3] = {0, 1, 0};
    float q1[3] = {0, 0, 3}, q2[3] = {1, 0, 4}, q3[3] = {0, 1, 5};
    float sep = -1.0f;
    k.triangleTolerance(0.5f);
    EXPECT_EQ(k.project6(axis, p1, p2, p3, q1, q2, q3, sep), 0);
    EXPECT_FLOAT_EQ(sep, 2.5f);
    // Swapped roles: the other branch.
    EXPECT_EQ(k.project6(axis, q1, q2, q3, p1, p2, p3, sep), 0);
    EXPECT_FLOAT_EQ(sep, 2.5f);
    k.triangleTolerance(3.0f);
    EXPECT_EQ(k.project6(axis, p1, p2, p3, q1, q2, q3, sep), 1);
    // A zero axis never separates.
    float zero[3] = {0, 0, 0};
    k.triangleTolerance(0.0f);
    EXPECT_EQ(k.project6(zero, p1, p2, p3, q1, q2, q3, sep), 1);
}

TEST_F(TriangleKernels, PmMAndTcT)
{
    CtvxMat4 m;
    m.rotateZ(0.5f);
    m(0, 3) = 1.0f;
    m(1, 3) = -2.0f;
    m(2, 3) = 3.0f;
    float const in[3] = {0.25f, -4.0f, 8.0f};
    float out[3];
    k.PmM(out, in, m);
    for (int i = 0; i < 3; ++i) {
        float const want = m(i, 0) * in[0] + m(i, 1) * in[1] + m(i, 2) * in[2] + m(i, 3);
        EXPECT_EQ(out[i], want);
    }
    // Against the double-precision product of the matrix type.
    CqarPoint3 const wide = m * CqarPoint3(in[0], in[1], in[2]);
    for (int i = 0; i < 3; ++i)
        EXPECT_NEAR(out[i], wide[i], 1e-5);

    CqarPoint3 const pts[3] = {CqarPoint3(0.1, 1e10, -3), CqarPoint3(1, 2, 3), CqarPoint3(-0.0, 1.0 / 3.0, 7)};
    float tri[3][3];
    k.TcT(tri, pts);
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            EXPECT_EQ(tri[r][c], static_cast<float>(pts[r][c]));
}

// --- Randomized differential suite ----------------------------------------

struct FamilyRange {
    PairFamily family;
    double minTouching; // share of pairs within the bound of each other
    double maxTouching;
};

// Expected shares of intersecting or touching pairs: a family that drifted
// into all-separated or all-crossing would no longer test what it claims.
FamilyRange const kFamilies[] = {
    {PairFamily::General, 0.05, 0.6},      {PairFamily::NearParallel, 0.001, 0.7},
    {PairFamily::Coplanar, 0.2, 0.95},     {PairFamily::Touching, 0.95, 1.0},
    {PairFamily::Crossing, 0.99, 1.0},     {PairFamily::SharedVertex, 1.0, 1.0},
    {PairFamily::SharedEdge, 1.0, 1.0},    {PairFamily::Degenerate, 0.002, 0.6},
    {PairFamily::Large, 0.05, 0.6},        {PairFamily::Tiny, 0.05, 0.6},
};

TEST_F(TriangleKernels, TriDistAgreesWithReference)
{
    int const n = tvxtest::runs(10000);
    int failures = 0;
    for (FamilyRange const& fr : kFamilies) {
        tvxtest::Random rng(1000u + static_cast<unsigned>(fr.family));
        int touching = 0;
        int beyondBound = 0;
        double worst = 0.0;
        for (int it = 0; it < n; ++it) {
            float s[3][3];
            float t[3][3];
            tvxtest::makeTrianglePair(rng, fr.family, s, t);
            double const bound = errorBound(s, t);
            Tri const a = tvxtest::toTri(s);
            Tri const b = tvxtest::toTri(t);
            double const ref = tvxtest::triangleDistance(a, b);
            if (ref <= bound)
                ++touching;

            float p[3];
            float q[3];
            float const d = k.TriDist(p, q, s, t);
            std::string why;
            bool const parallel = fr.family == PairFamily::NearParallel || fr.family == PairFamily::Coplanar;
            if (parallel && !(std::fabs(d - ref) <= bound)) {
                ++beyondBound;
                double const loose = bound / kErrorUlps / kFloatEps * kNearParallelRelative;
                if (!(d - ref <= loose && d - ref >= -bound))
                    why = "distance off";
            } else if (!(std::fabs(d - ref) <= bound))
                why = "distance off";
            else
                worst = std::max(worst, std::fabs(d - ref) / bound);
            if (why.empty() && d > 0.0f) {
                // Closest points on their triangles, that distance apart.
                if (!(tvxtest::pointTriangleDistance(Vec3(p), a) <= bound))
                    why = "p off s";
                else if (!(tvxtest::pointTriangleDistance(Vec3(q), b) <= bound))
                    why = "q off t";
                else if (!(std::fabs(tvxtest::distance(Vec3(p), Vec3(q)) - d) <= bound))
                    why = "|p - q| differs from the distance";
            }
            if (!why.empty() && ++failures <= 10)
                ADD_FAILURE() << tvxtest::familyName(fr.family) << " #" << it << ": " << why << ": TriDist " << d
                              << ", reference " << ref << ", bound " << bound << "\n"
                              << describe(s, t);
        }
        double const share = double(touching) / n;
        std::printf("[ family   ] %-14s touching %5.1f%%, worst error %.3f of the bound, %d beyond it\n",
                    tvxtest::familyName(fr.family), 100.0 * share, worst, beyondBound);
        EXPECT_LE(beyondBound, kNearParallelMaxShare * n) << tvxtest::familyName(fr.family);
        if (n >= 1000) {
            EXPECT_GE(share, fr.minTouching) << tvxtest::familyName(fr.family);
            EXPECT_LE(share, fr.maxTouching) << tvxtest::familyName(fr.family);
        }
    }
    EXPECT_EQ(failures, 0);
}

// The contact test against the reference. With a tolerance, the separation
// it reports must not exceed the true clearance (minus rounding), and a pair
// that the reference shows overlapping must never be reported apart. Without
// a tolerance its 17 axes are complete for non-degenerate triangles, so a
// clearly separated pair must be reported apart.
//
// The same pairs go through the test by which the nearest-first walk skips
// the exact distance of a pair that two projections show farther apart than
// the best distance (along the line of the centroids, and along the best
// pair's direction: any unit axis). A pair said apart beyond a distance must
// be that far apart; asked about distances around its own, some pairs of
// every family not in contact by construction must be told apart.
TEST_F(TriangleKernels, TriContactIsALowerBound)
{
    int const n = tvxtest::runs(10000);
    int failures = 0;
    for (FamilyRange const& fr : kFamilies) {
        tvxtest::Random rng(2000u + static_cast<unsigned>(fr.family));
        tvxtest::Random asked(3000u + static_cast<unsigned>(fr.family));
        int missedSeparation = 0;
        int separated = 0;
        int apart = 0;
        for (int it = 0; it < n; ++it) {
            float s[3][3];
            float t[3][3];
            tvxtest::makeTrianglePair(rng, fr.family, s, t);
            double const bound = errorBound(s, t);
            Tri const a = tvxtest::toTri(s);
            Tri const b = tvxtest::toTri(t);
            double const ref = tvxtest::triangleDistance(a, b);
            double extent = 0.0;
            for (int kk = 0; kk < 3; ++kk)
                for (int i = 0; i < 3; ++i)
                    extent = std::max(extent, std::fabs(double(s[kk][i]) - t[kk][i]));
            float const tol = rng.chance(0.5) ? 0.0f : static_cast<float>(rng.uniform(0, 0.5) * extent);
            k.triangleTolerance(tol);
            float sep = -1.0f;
            bool const contact = k.triContact(s, t, sep);
            std::string why;
            if (!contact) {
                ++separated;
                if (!(ref - tol >= double(sep) - bound))
                    why = "separation exceeds the clearance";
                else if (!(sep > 0.0f))
                    why = "non-positive separation reported";
            } else if (tol == 0.0f && ref > bound) {
                why = "separated pair reported in contact";
                if (tvxtest::isDegenerate(a) || tvxtest::isDegenerate(b))
                    ++missedSeparation;
            }
            float const beyond = static_cast<float>(ref * asked.uniform(0.25, 1.5));
            float u[3] = {static_cast<float>(asked.uniform(-1, 1)), static_cast<float>(asked.uniform(-1, 1)), 1.0f};
            float const len = std::sqrt(u[0] * u[0] + u[1] * u[1] + u[2] * u[2]);
            for (float& c : u)
                c /= len;
            // The gap it reports is kept as a lower bound of the clearance:
            // beyond what was asked, and itself within the error bound.
            float gap = 0.0f;
            bool const said =
                CtvxProximityKernels::trianglesApart(s, t, asked.chance(0.5) ? u : nullptr, beyond, gap);
            apart += said;
            if (why.empty() && said && !(ref >= double(beyond) - bound))
                why = "said apart beyond " + std::to_string(beyond);
            else if (why.empty() && said && !(gap > beyond && ref >= double(gap) - bound))
                why = "gap " + std::to_string(gap) + " given for apart beyond " + std::to_string(beyond);
            if (!why.empty() && ++failures <= 10)
                ADD_FAILURE() << tvxtest::familyName(fr.family) << " #" << it << ": " << why << ": separation "
                              << sep << ", reference " << ref << ", tolerance " << tol << ", bound " << bound
                              << "\n"
                              << describe(s, t);
        }
        std::printf("[ family   ] %-14s reported apart %5.1f%%, degenerate pairs kept in contact %d, told apart "
                    "%5.1f%%\n",
                    tvxtest::familyName(fr.family), 100.0 * separated / n, missedSeparation, 100.0 * apart / n);
        if (n >= 1000 && fr.minTouching < 0.9) {
            EXPECT_GT(apart, n / 100) << tvxtest::familyName(fr.family);
        }
        // Pairs that meet by construction (with exactly shared vertices, or
        // through each other) are never reported apart.
        if (fr.family == PairFamily::Crossing || fr.family == PairFamily::SharedVertex ||
            fr.family == PairFamily::SharedEdge) {
            EXPECT_EQ(separated, 0) << tvxtest::familyName(fr.family);
        }
    }
    EXPECT_EQ(failures, 0);
}

} // namespace
