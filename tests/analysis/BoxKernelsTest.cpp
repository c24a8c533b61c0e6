// Box separation tests (box-box in its tree and enclosing-box forms, box-
// triangle): hand-computed cases of the scan rule, and randomized checks
// that every separation reported is a lower bound of the exact clearance
// from the double-precision reference and that overlapping pairs are never
// pruned. The tree form's factored variants (placement composed as the scan
// reads it, verdict in lanes) must match it bit for bit on the same pairs
// and where its verdict flips. The nearest-first walk's other lower bounds (the gaps along the
// line of centres and along any unit axis) ride along on the same pairs.

#include <tvx/analysis/internal/CtvxProximityKernels.h>

#include <tests/support/Random.h>
#include <tests/support/ReferenceGeometry.h>
#include <tests/support/SceneFixtures.h>
#include <tests/support/TrianglePairs.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

using tvxtest::Box;
using tvxtest::Tri;
using tvxtest::Vec3;

namespace {

constexpr double kFloatEps = 1.1920928955078125e-7;
// Rounding allowed on a reported separation: kErrorUlps float roundings of
// the largest length in play (centre distance plus all half-lengths). The
// projections and radii are sums of a handful of products of those lengths
// with rotation elements, and the float rotation itself is off the exact
// one by a rounding.
constexpr double kErrorUlps = 64.0;
// A pair counts as clearly overlapping when it still overlaps after both
// boxes (or the box alone, against a triangle) shrink by this fraction of
// the largest length. No rounding may then make it look separated.
constexpr double kDeepFraction = 1.0e-4;

float const kUnitHalf[3] = {1, 1, 1};

CtvxMat4 translation(float x, float y, float z)
{
    CtvxMat4 m;
    m.identity();
    m(0, 3) = x;
    m(1, 3) = y;
    m(2, 3) = z;
    return m;
}

// --- Hand-computed cases -------------------------------------------------

TEST(BoxBoxSeparation, BoxesThreeApartAlongTheFirstAxis)
{
    CtvxMat4 const m = translation(3, 0, 0);
    float bound = 10.0f;
    EXPECT_EQ(CtvxProximityKernels::boxBoxSeparation(kUnitHalf, kUnitHalf, m, 0.0f, false, bound), 1);
    EXPECT_EQ(bound, 10.0f);
    EXPECT_EQ(CtvxProximityKernels::boxBoxSeparation(kUnitHalf, kUnitHalf, m, 0.0f, true, bound), 1);
    EXPECT_EQ(bound, 1.0f);
    bound = 10.0f;
    EXPECT_EQ(CtvxProximityKernels::boxBoxSeparation(kUnitHalf, kUnitHalf, m, 0.25f, true, bound), 1);
    EXPECT_EQ(bound, 0.75f);

    // Enclosing boxes: each rotation magnitude is widened by 1e-6, so the
    // radius along axis 0 is 2 + 3e-6.
    bound = 10.0f;
    EXPECT_EQ(CtvxProximityKernels::boxBoxSeparation(kUnitHalf, kUnitHalf, tvxtest::translationMat(3, 0, 0), true, bound),
              1);
    EXPECT_LT(bound, 1.0f);
    EXPECT_NEAR(bound, 1.0f - 3.0e-6f, 3.0e-7f);
}

TEST(BoxBoxSeparation, PairThatCannotBeatTheBoundStopsAtOnce)
{
    float bound = 0.5f;
    EXPECT_EQ(CtvxProximityKernels::boxBoxSeparation(kUnitHalf, kUnitHalf, translation(3, 0, 0), 0.0f, true, bound),
              1);
    EXPECT_EQ(bound, 0.5f);
    bound = 0.5f;
    EXPECT_EQ(CtvxProximityKernels::boxBoxSeparation(kUnitHalf, kUnitHalf, tvxtest::translationMat(3, 0, 0), true, bound), 1);
    EXPECT_EQ(bound, 0.5f);
}

TEST(BoxBoxSeparation, TouchingFacesDoNotSeparate)
{
    float bound = 10.0f;
    EXPECT_EQ(CtvxProximityKernels::boxBoxSeparation(kUnitHalf, kUnitHalf, translation(2, 0, 0), 0.0f, false, bound),
              0);
    EXPECT_EQ(CtvxProximityKernels::boxBoxSeparation(kUnitHalf, kUnitHalf, translation(0, -2, 0), 0.0f, true, bound),
              0);
    EXPECT_EQ(bound, 10.0f);
    EXPECT_EQ(CtvxProximityKernels::boxBoxSeparation(kUnitHalf, kUnitHalf, tvxtest::translationMat(0, 0, 2), true, bound), 0);
    EXPECT_EQ(bound, 10.0f);
}

TEST(BoxBoxSeparation, LaterAxisWithALargerSeparationWins)
{
    // Box 2 turned 45 degrees about z and placed along the diagonal: its
    // own axis 0 (code 2) sees the pair farther apart than box 1's axes.
    double const c = std::sqrt(0.5);
    CqarMat4 r;
    r(0, 0) = c;
    r(0, 1) = -c;
    r(1, 0) = c;
    r(1, 1) = c;
    r(0, 3) = 4;
    r(1, 3) = 4;
    CtvxMat4 const m(r);
    float const half[3] = {1, 1, 1};
    float bound = 100.0f;
    int const code = CtvxProximityKernels::boxBoxSeparation(half, half, m, 0.0f, true, bound);
    EXPECT_EQ(code, 2);
    // Along box 2's axis 0 (the diagonal): centre distance 4 sqrt(2), box 2
    // radius 1, box 1 radius sqrt(2).
    EXPECT_NEAR(bound, 4 * std::sqrt(2.0) - 1 - std::sqrt(2.0), 1e-5);
    // The reference distance is at least that.
    double R[3][3] = {{c, -c, 0}, {c, c, 0}, {0, 0, 1}};
    double const T[3] = {4, 4, 0};
    double const h[3] = {1, 1, 1};
    EXPECT_GE(tvxtest::boxDistance(tvxtest::axisBox(1, 1, 1), tvxtest::placedBox(h, R, T)), bound - 1e-5);
}

TEST(BoxTriangleSeparation, TriangleBesideTheBox)
{
    float const p0[3] = {3, 0, 0};
    float const p1[3] = {3, 1, 0};
    float const p2[3] = {3, 0, 1};
    for (float t : {0.0f, 0.5f}) {
        float bound = 10.0f;
        EXPECT_EQ(CtvxProximityKernels::boxTriangleSeparation(p0, p1, p2, kUnitHalf, t, false, bound), 10);
        EXPECT_EQ(bound, 10.0f);
        // Distance mode: the edge axis Y x (0, 0, 1) and the plane axis see
        // the same 2 - t; the earlier axis (X, code 10) is kept.
        EXPECT_EQ(CtvxProximityKernels::boxTriangleSeparation(p0, p1, p2, kUnitHalf, t, true, bound), 10);
        EXPECT_EQ(bound, 2.0f - t);
    }
    float bound = 1.0f;
    EXPECT_EQ(CtvxProximityKernels::boxTriangleSeparation(p0, p1, p2, kUnitHalf, 0.0f, true, bound), 10);
    EXPECT_EQ(bound, 1.0f);
}

TEST(BoxTriangleSeparation, TrianglePlaneSeparatesAcrossACorner)
{
    // The plane x + y + z = 9 faces the corner (1, 1, 1) at (9 - 3) / sqrt(3),
    // and the foot (3, 3, 3) is the triangle's centroid: that is the exact
    // distance, found on the plane axis (code 13), the last one.
    float const p0[3] = {4, 3, 2};
    float const p1[3] = {2, 4, 3};
    float const p2[3] = {3, 2, 4};
    float bound = 100.0f;
    EXPECT_EQ(CtvxProximityKernels::boxTriangleSeparation(p0, p1, p2, kUnitHalf, 0.0f, true, bound), 13);
    EXPECT_NEAR(bound, 6.0 / std::sqrt(3.0), 1e-5);
    bound = 100.0f;
    EXPECT_EQ(CtvxProximityKernels::boxTriangleSeparation(p0, p1, p2, kUnitHalf, 0.0f, false, bound), 10);
}

TEST(BoxTriangleSeparation, TriangleCrossingAFace)
{
    float const p0[3] = {0.5f, -3, -3};
    float const p1[3] = {1.5f, 3, -3};
    float const p2[3] = {0.8f, 0, 4};
    for (bool distance : {false, true}) {
        float bound = 7.0f;
        EXPECT_EQ(CtvxProximityKernels::boxTriangleSeparation(p0, p1, p2, kUnitHalf, 0.0f, distance, bound), 0);
        EXPECT_EQ(bound, 7.0f);
    }
}

TEST(BoxTriangleSeparation, DegenerateTrianglesNeverSeparateOnTheirNanAxes)
{
    // Repeated vertex and collinear vertices: the edge and plane axes are
    // not numbers and separate nothing, but the face axes still work.
    float const a[3] = {3, 0.5f, 0.5f};
    float const b[3] = {4, 0.5f, 0.5f};
    float bound = 10.0f;
    EXPECT_EQ(CtvxProximityKernels::boxTriangleSeparation(a, a, b, kUnitHalf, 0.0f, true, bound), 10);
    EXPECT_EQ(bound, 2.0f);
    // A segment passing beside an edge of the box, inside all three slabs'
    // projections but clear of the box: only an edge axis could tell, and
    // its direction is fine, so it separates.
    float const c[3] = {-2, 1.5f, 0};
    float const d[3] = {0, 3.5f, 0};
    float const e[3] = {-1, 2.5f, 0};
    bound = 10.0f;
    int const code = CtvxProximityKernels::boxTriangleSeparation(c, d, e, kUnitHalf, 0.0f, true, bound);
    EXPECT_GE(code, 1);
    EXPECT_LE(code, 9);
    EXPECT_NEAR(bound, 1.5 / std::sqrt(2.0), 1e-6);
}

// --- Randomized lower-bound checks ----------------------------------------

struct BoxPair {
    double a[3];
    double b[3];
    double R[3][3]; // exact rotation of box 2 into box 1's frame
    double T[3];
};

std::string describe(BoxPair const& p, CtvxMat4 const& m)
{
    std::ostringstream os;
    os.precision(9);
    os << "a = {" << p.a[0] << ", " << p.a[1] << ", " << p.a[2] << "}, b = {" << p.b[0] << ", " << p.b[1] << ", "
       << p.b[2] << "}, float placement rows:";
    for (int i = 0; i < 3; ++i)
        os << " {" << m(i, 0) << ", " << m(i, 1) << ", " << m(i, 2) << ", " << m(i, 3) << "}";
    return os.str();
}

double scaleOf(BoxPair const& p)
{
    return std::sqrt(p.T[0] * p.T[0] + p.T[1] * p.T[1] + p.T[2] * p.T[2]) + p.a[0] + p.a[1] + p.a[2] + p.b[0] +
           p.b[1] + p.b[2];
}

double shrunkDistance(BoxPair const& p, double by)
{
    double a[3];
    double b[3];
    for (int i = 0; i < 3; ++i) {
        a[i] = std::max(0.0, p.a[i] - by);
        b[i] = std::max(0.0, p.b[i] - by);
    }
    return tvxtest::boxDistance(tvxtest::axisBox(a[0], a[1], a[2]), tvxtest::placedBox(b, p.R, p.T));
}

// Rotation by `angle` about a random axis.
void smallRotation(tvxtest::Random& rng, double angle, double (&R)[3][3])
{
    Vec3 k(rng.uniform(-1, 1), rng.uniform(-1, 1), rng.uniform(-1, 1));
    k = k * (1.0 / tvxtest::norm(k));
    double const c = std::cos(angle);
    double const s = std::sin(angle);
    double const v = 1 - c;
    R[0][0] = c + k.x * k.x * v;
    R[0][1] = k.x * k.y * v - k.z * s;
    R[0][2] = k.x * k.z * v + k.y * s;
    R[1][0] = k.y * k.x * v + k.z * s;
    R[1][1] = c + k.y * k.y * v;
    R[1][2] = k.y * k.z * v - k.x * s;
    R[2][0] = k.z * k.x * v - k.y * s;
    R[2][1] = k.z * k.y * v + k.x * s;
    R[2][2] = c + k.z * k.z * v;
}

void multiply(double const (&A)[3][3], double const (&B)[3][3], double (&C)[3][3])
{
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            C[i][j] = A[i][0] * B[0][j] + A[i][1] * B[1][j] + A[i][2] * B[2][j];
}

CtvxMat4 toFloat(double const (&R)[3][3], double const* T)
{
    CtvxMat4 m;
    m.identity();
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j)
            m(i, j) = static_cast<float>(R[i][j]);
        m(i, 3) = static_cast<float>(T[i]);
    }
    return m;
}

// Nearly parallel boxes as a tree descent produces them: the exact relative
// rotation is a signed axis permutation times a tiny rotation (or none),
// but it arrives as the float product of two rotated frames, so it carries
// independent rounding noise in every element.
void nearParallelPair(tvxtest::Random& rng, BoxPair& p, CtvxMat4& m)
{
    for (int i = 0; i < 3; ++i) {
        p.a[i] = rng.uniform(0.05, 2.0);
        p.b[i] = rng.uniform(0.05, 2.0);
    }
    double P[3][3] = {{0, 0, 0}, {0, 0, 0}, {0, 0, 0}};
    int perm[3] = {0, 1, 2};
    for (int i = 2; i > 0; --i)
        std::swap(perm[i], perm[rng.below(static_cast<std::uint32_t>(i + 1))]);
    for (int i = 0; i < 3; ++i)
        P[i][perm[i]] = rng.chance(0.5) ? 1.0 : -1.0;
    double S[3][3];
    double const angle = rng.chance(0.25) ? 0.0 : std::pow(10.0, -rng.uniform(1.0, 9.0));
    smallRotation(rng, angle, S);
    multiply(P, S, p.R);
    // Deep overlap most of the time: centre within the smaller box.
    double const reach = rng.chance(0.8) ? 0.5 * std::min({p.a[0], p.a[1], p.a[2]}) : 4.0;
    for (int i = 0; i < 3; ++i)
        p.T[i] = rng.uniform(-reach, reach);

    // R = Q * (Q^T R), each factor rounded to float, product in float.
    double Q[3][3];
    tvxtest::randomRotation(rng, Q);
    double Qt[3][3];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            Qt[i][j] = Q[j][i];
    double QtR[3][3];
    multiply(Qt, p.R, QtR);
    double const zero[3] = {0, 0, 0};
    m = toFloat(Q, zero) * toFloat(QtR, p.T);
    // Keep the translation as intended (the product rotated it).
    for (int i = 0; i < 3; ++i)
        m(i, 3) = static_cast<float>(p.T[i]);
}

void generalPair(tvxtest::Random& rng, BoxPair& p, CtvxMat4& m)
{
    for (int i = 0; i < 3; ++i) {
        p.a[i] = rng.uniform(0.05, 2.0);
        p.b[i] = rng.uniform(0.05, 2.0);
        p.T[i] = rng.uniform(-4.0, 4.0);
    }
    tvxtest::randomRotation(rng, p.R);
    m = toFloat(p.R, p.T);
}

struct BoxStats {
    int pairs = 0;
    int deep = 0;
    int deepReportedApart = 0;
    int separated = 0;
    int centreGapPositive = 0;
    // Pairs apart by more than a tenth of their size, and those of them the
    // gap along the line of nearest points puts within 1 % of the distance.
    int clearlyApart = 0;
    int nearestTight = 0;
    // Pairs whose factored forms were also checked where the verdict flips.
    int flipped = 0;
    int failures = 0;
};

void randomUnit(tvxtest::Random& rng, float (&u)[3])
{
    Vec3 v;
    do
        v = Vec3(rng.uniform(-1, 1), rng.uniform(-1, 1), rng.uniform(-1, 1));
    while (!(tvxtest::norm(v) > 0.1));
    v = v * (1.0 / tvxtest::norm(v));
    for (int i = 0; i < 3; ++i)
        u[i] = static_cast<float>(v[i]);
}

// A rigid frame in float: a random rotation, and a translation of up to 8
// half the time.
CtvxMat4 randomFrame(tvxtest::Random& rng)
{
    double Q[3][3];
    tvxtest::randomRotation(rng, Q);
    double T[3] = {0, 0, 0};
    if (rng.chance(0.5))
        for (double& x : T)
            x = rng.uniform(-8.0, 8.0);
    return toFloat(Q, T);
}

void rowsOf(CtvxMat4 const& m, float (&rows)[3][4])
{
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 4; ++j)
            rows[i][j] = m(i, j);
}

bool sameBits(float x, float y)
{
    return std::memcmp(&x, &y, sizeof x) == 0;
}

// The placement factored as the walks hand it over, toBox1 * place2 with
// toBox1 = `frame`: the factored form must give the tree form's code and
// bound on the float product in both modes, the lanes its overlap verdict,
// and the gaps in lanes (centre line, axis u, nearest points) on the rows
// composed in lanes the scalar gaps on the product, bit for bit. Checked at
// the factors as drawn, then at the two ends of a bisection of the tree
// form's verdict as box b slides along place2's translation from the centre
// of box a outwards: near-touching pairs, where one rounding decides.
// Returns an empty string or what failed.
std::string checkFactored(float const (&a)[3], float const (&b)[3], CtvxMat4 const& frame, CtvxMat4 const& m,
                          float tol, float bound0, float const (&u)[3], bool& outFlipped)
{
    CtvxMat4 place2 = frame.inverse() * m;
    auto differs = [&](CtvxMat4 const& second) -> std::string {
        CtvxMat4 const r = frame * second;
        float l[3][4], k[3][4];
        rowsOf(frame, l);
        rowsOf(second, k);
        bool overlapOld = false;
        for (bool distance : {false, true}) {
            float boundOld = bound0, boundNew = bound0;
            int const old = CtvxProximityKernels::boxBoxSeparation(a, b, r, tol, distance, boundOld);
            int const now = CtvxProximityKernels::boxBoxSeparation(a, b, l, k, tol, distance, boundNew);
            if (old != now || !sameBits(boundOld, boundNew)) {
                std::ostringstream os;
                os.precision(9);
                os << "factored form: code " << now << " for " << old << ", bound " << boundNew << " for "
                   << boundOld << (distance ? " (distance mode)" : " (overlap mode)");
                return os.str();
            }
            overlapOld = overlapOld || (!distance && old == 0);
        }
        if (CtvxProximityKernels::boxesOverlap(a, b, l, k, tol) != overlapOld)
            return std::string("lanes: overlap verdict ") + (overlapOld ? "lost" : "invented");
        float rows[3][4];
        CtvxProximityKernels::composeRows(&l[0][0], &k[0][0], &rows[0][0]);
        float const gaps[3][2] = {
            {CtvxProximityKernels::centreLineGap(a, b, r), CtvxProximityKernels::centreLineGapInLanes(a, b, &rows[0][0])},
            {CtvxProximityKernels::axisGap(a, b, r, u), CtvxProximityKernels::axisGapInLanes(a, b, &rows[0][0], u)},
            {CtvxProximityKernels::nearestPointsGap(a, b, r),
             CtvxProximityKernels::nearestPointsGapInLanes(a, b, &rows[0][0])}};
        char const* const names[3] = {"centre line", "axis", "nearest points"};
        for (int g = 0; g < 3; ++g)
            if (!sameBits(gaps[g][0], gaps[g][1])) {
                std::ostringstream os;
                os.precision(9);
                os << "lanes: gap along the " << names[g] << " " << gaps[g][1] << " for " << gaps[g][0];
                return os.str();
            }
        return std::string();
    };
    std::string why = differs(place2);
    // Place2's translation as c + s d: s = 0 puts b's centre on a's, s = 1
    // is the pair as drawn, and s = hi is far beyond touching.
    CtvxMat4 const back = frame.inverse();
    float const c[3] = {back(0, 3), back(1, 3), back(2, 3)};
    float const d[3] = {place2(0, 3) - c[0], place2(1, 3) - c[1], place2(2, 3) - c[2]};
    double const len = std::sqrt(double(d[0]) * d[0] + double(d[1]) * d[1] + double(d[2]) * d[2]);
    auto at = [&](double s) {
        CtvxMat4 q = place2;
        for (int i = 0; i < 3; ++i)
            q(i, 3) = static_cast<float>(c[i] + s * d[i]);
        return q;
    };
    auto touches = [&](double s) {
        float ignored = 0.0f;
        return CtvxProximityKernels::boxBoxSeparation(a, b, frame * at(s), tol, false, ignored) == 0;
    };
    double lo = 0.0, hi = len > 0.0 ? 64.0 / len : 0.0;
    outFlipped = touches(lo) && !touches(hi);
    if (!outFlipped)
        return why;
    for (int i = 0; i < 60 && why.empty(); ++i) {
        double const mid = 0.5 * (lo + hi);
        (touches(mid) ? lo : hi) = mid;
    }
    for (double s : {lo, hi})
        if (why.empty())
            why = differs(at(s));
    return why;
}

// Runs one box pair through the tree variant in both modes and checks it,
// and its gaps along the line of centres and along the unit axis u; and
// through the factored forms with box 1's placement `frame`.
void checkTreePair(BoxPair const& p, CtvxMat4 const& m, CtvxMat4 const& frame, float tol, float bound0,
                   float const (&u)[3], BoxStats& st)
{
    float const a[3] = {float(p.a[0]), float(p.a[1]), float(p.a[2])};
    float const b[3] = {float(p.b[0]), float(p.b[1]), float(p.b[2])};
    // The float half-lengths are the boxes the kernel sees.
    BoxPair q = p;
    for (int i = 0; i < 3; ++i) {
        q.a[i] = a[i];
        q.b[i] = b[i];
    }
    double const scale = scaleOf(q);
    double const err = kErrorUlps * kFloatEps * scale;
    double const ref = shrunkDistance(q, 0.0);
    bool const deep = shrunkDistance(q, kDeepFraction * scale) == 0.0;
    ++st.pairs;
    st.deep += deep;

    float dummy = bound0;
    int const overlapCode = CtvxProximityKernels::boxBoxSeparation(a, b, m, tol, false, dummy);
    float bound = bound0;
    int const distCode = CtvxProximityKernels::boxBoxSeparation(a, b, m, tol, true, bound);
    std::string why;
    if (dummy != bound0)
        why = "overlap mode wrote the bound";
    else if ((overlapCode == 0) != (distCode == 0))
        why = "modes disagree on separation";
    else if (deep && overlapCode != 0) {
        why = "deeply overlapping boxes reported separated";
        ++st.deepReportedApart;
    } else if (overlapCode != 0 && !(ref - tol >= -err))
        why = "overlapping boxes reported separated";
    else if (distCode == 0 && bound != bound0)
        why = "bound changed without a separating axis";
    else if (distCode != 0 && !(bound <= bound0))
        why = "bound raised";
    else if (distCode != 0 && !(ref - tol >= double(bound) - err))
        why = "separation exceeds the clearance";
    float const centreGap = CtvxProximityKernels::centreLineGap(a, b, m);
    float const axisGap = CtvxProximityKernels::axisGap(a, b, m, u);
    float const nearestGap = CtvxProximityKernels::nearestPointsGap(a, b, m);
    if (ref > 0.1 * scale) {
        ++st.clearlyApart;
        st.nearestTight += double(nearestGap) >= 0.99 * ref;
    }
    // No axis, nor the distance itself, goes beyond the ceiling of axis
    // gaps (each box holds the ball of its thinnest half-length).
    float rowsM[3][4];
    rowsOf(m, rowsM);
    double const ceiling = CtvxProximityKernels::axisGapCeiling(a, b, &rowsM[0][0]);
    if (why.empty() && !(std::max(ceiling, 0.0) >= ref - err &&
                         ceiling >= std::max({double(centreGap), double(axisGap), double(nearestGap)}) - err))
        why = "the distance or a gap exceeds the ceiling of axis gaps " + std::to_string(ceiling);
    else if (why.empty() && !(ref >= double(nearestGap) - err))
        why = "gap along the line of nearest points exceeds the distance";
    else if (why.empty() && !(ref >= double(centreGap) - err))
        why = "gap along the centre line exceeds the distance";
    else if (why.empty() && !(ref >= double(axisGap) - err))
        why = "gap along the axis {" + std::to_string(u[0]) + ", " + std::to_string(u[1]) + ", " +
              std::to_string(u[2]) + "} exceeds the distance";
    bool flipped = false;
    if (why.empty())
        why = checkFactored(a, b, frame, m, tol, bound0, u, flipped);
    st.flipped += flipped;
    st.centreGapPositive += centreGap > 0.0f;
    st.separated += overlapCode != 0;
    if (!why.empty() && ++st.failures <= 10)
        ADD_FAILURE() << why << ": codes " << overlapCode << "/" << distCode << ", bound " << bound0 << " -> " << bound
                      << ", reference " << ref << ", tolerance " << tol << "\n"
                      << describe(q, m);
}

TEST(BoxBoxSeparation, TreeVariantIsALowerBound)
{
    tvxtest::Random rng(31);
    BoxStats st;
    // Box 1's placements of the factored forms, drawn apart from the pairs.
    tvxtest::Random frames(311);
    int const n = tvxtest::runs(20000);
    for (int it = 0; it < n; ++it) {
        BoxPair p;
        CtvxMat4 m;
        generalPair(rng, p, m);
        float const tol = rng.chance(0.5) ? 0.0f : rng.uniformf(0.0f, 0.5f);
        float const bound0 = rng.chance(0.5) ? 1.0e30f : rng.uniformf(0.0f, 3.0f);
        float u[3];
        randomUnit(rng, u);
        checkTreePair(p, m, randomFrame(frames), tol, bound0, u, st);
    }
    std::printf("[ boxes    ] general: %d pairs, %.1f%% reported apart, %.1f%% deeply overlapping, %.1f%% apart "
                "along the centre line; %d clearly apart, %d of them bounded within 1%% along the line of nearest "
                "points; %d checked factored where the verdict flips\n",
                st.pairs, 100.0 * st.separated / st.pairs, 100.0 * st.deep / st.pairs,
                100.0 * st.centreGapPositive / st.pairs, st.clearlyApart, st.nearestTight, st.flipped);
    if (n >= 1000) {
        EXPECT_GT(st.nearestTight, st.clearlyApart * 3 / 4);
        EXPECT_GT(st.separated, n / 5);
        EXPECT_GT(st.deep, n / 10);
        EXPECT_GT(st.centreGapPositive, n / 20);
        EXPECT_GT(st.flipped, n / 2);
    }
    EXPECT_EQ(st.failures, 0);
}

// Nearly parallel edges: the cross-product axes have lengths of the order of
// the rotation's rounding noise, so their radii, which assume an exactly
// orthonormal rotation, are wrong by as much as the axes are long.
TEST(BoxBoxSeparation, TreeVariantNeverPrunesOverlapOfParallelBoxes)
{
    tvxtest::Random rng(32);
    BoxStats st;
    // Box 1's placements of the factored forms, drawn apart from the pairs.
    tvxtest::Random frames(321);
    int const n = tvxtest::runs(20000);
    for (int it = 0; it < n; ++it) {
        BoxPair p;
        CtvxMat4 m;
        nearParallelPair(rng, p, m);
        float const tol = rng.chance(0.75) ? 0.0f : rng.uniformf(0.0f, 0.1f);
        float const bound0 = rng.chance(0.5) ? 1.0e30f : rng.uniformf(0.0f, 3.0f);
        // Along one of box 1's own axes half the time: the nearly parallel
        // faces then project almost exactly onto each other.
        float u[3] = {0.0f, 0.0f, 0.0f};
        if (rng.chance(0.5))
            u[rng.below(3)] = rng.chance(0.5) ? 1.0f : -1.0f;
        else
            randomUnit(rng, u);
        checkTreePair(p, m, randomFrame(frames), tol, bound0, u, st);
    }
    std::printf("[ boxes    ] near-parallel: %d pairs, %.1f%% deeply overlapping, %d of them reported apart; %d "
                "checked factored where the verdict flips\n",
                st.pairs, 100.0 * st.deep / st.pairs, st.deepReportedApart, st.flipped);
    if (n >= 1000) {
        EXPECT_GT(st.deep, n / 2);
        EXPECT_GT(st.flipped, n / 2);
    }
    EXPECT_EQ(st.deepReportedApart, 0);
    EXPECT_EQ(st.failures, 0);
}

TEST(BoxBoxSeparation, EnclosingVariantIsALowerBound)
{
    tvxtest::Random rng(33);
    int failures = 0;
    int separated = 0;
    int const n = tvxtest::runs(20000);
    for (int it = 0; it < n; ++it) {
        BoxPair p;
        CtvxMat4 unused;
        if (rng.chance(0.5))
            generalPair(rng, p, unused);
        else
            nearParallelPair(rng, p, unused);
        CqarMat4 r;
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j)
                r(i, j) = p.R[i][j];
            r(i, 3) = p.T[i];
        }
        float const a[3] = {float(p.a[0]), float(p.a[1]), float(p.a[2])};
        float const b[3] = {float(p.b[0]), float(p.b[1]), float(p.b[2])};
        for (int i = 0; i < 3; ++i) {
            p.a[i] = a[i];
            p.b[i] = b[i];
        }
        double const scale = scaleOf(p);
        double const err = kErrorUlps * kFloatEps * scale;
        double const ref = shrunkDistance(p, 0.0);
        bool const deep = shrunkDistance(p, kDeepFraction * scale) == 0.0;
        float const bound0 = rng.chance(0.5) ? 1.0e30f : rng.uniformf(0.0f, 3.0f);
        float dummy = bound0;
        int const overlapCode = CtvxProximityKernels::boxBoxSeparation(a, b, r, false, dummy);
        float bound = bound0;
        int const distCode = CtvxProximityKernels::boxBoxSeparation(a, b, r, true, bound);
        separated += overlapCode != 0;
        std::string why;
        if ((overlapCode == 0) != (distCode == 0))
            why = "modes disagree";
        else if (deep && overlapCode != 0)
            why = "deeply overlapping boxes reported separated";
        else if (overlapCode != 0 && !(ref >= -err))
            why = "overlapping boxes reported separated";
        else if (distCode != 0 && !(bound <= bound0 && ref >= double(bound) - err))
            why = "separation exceeds the clearance";
        else if (distCode == 0 && bound != bound0)
            why = "bound changed without a separating axis";
        if (!why.empty() && ++failures <= 10)
            ADD_FAILURE() << why << ": bound " << bound0 << " -> " << bound << ", reference " << ref << "\n"
                          << describe(p, CtvxMat4(r));
    }
    if (n >= 1000) {
        EXPECT_GT(separated, n / 10);
    }
    EXPECT_EQ(failures, 0);
}

// Triangles against a box at the origin: random ones around it, large ones
// through it, slivers and degenerate ones, tiny ones near its surface.
void randomBoxTriangle(tvxtest::Random& rng, float (&h)[3], float (&tri)[3][3], int kind)
{
    for (int i = 0; i < 3; ++i)
        h[i] = rng.uniformf(0.05f, 2.0f);
    float s[3][3];
    float t[3][3];
    switch (kind) {
    case 0: // around the box
        for (int k = 0; k < 3; ++k)
            for (int i = 0; i < 3; ++i)
                tri[k][i] = rng.uniformf(-4.0f, 4.0f);
        break;
    case 1: { // large, through the box's neighbourhood
        Vec3 const c(rng.uniform(-3, 3), rng.uniform(-3, 3), rng.uniform(-3, 3));
        for (int k = 0; k < 3; ++k)
            for (int i = 0; i < 3; ++i)
                tri[k][i] = static_cast<float>(c[i] + rng.uniform(-20, 20));
        break;
    }
    case 2: // degenerate or sliver
        tvxtest::makeTrianglePair(rng, tvxtest::PairFamily::Degenerate, s, t);
        for (int k = 0; k < 3; ++k)
            for (int i = 0; i < 3; ++i)
                tri[k][i] = 2.5f * t[k][i];
        break;
    case 4: { // long and thin, as CAD faces are, often flat on a face plane of the box
        int const ax = static_cast<int>(rng.below(3));
        Vec3 a(rng.uniform(-3, 3), rng.uniform(-3, 3), rng.uniform(-3, 3));
        Vec3 dir(rng.uniform(-1, 1), rng.uniform(-1, 1), rng.uniform(-1, 1));
        Vec3 side(rng.uniform(-1, 1), rng.uniform(-1, 1), rng.uniform(-1, 1));
        bool const flat = rng.chance(0.5);
        if (flat) {
            double const plane = (rng.chance(0.5) ? 1.0 : -1.0) * h[ax];
            double* const ends[3] = {&a.x, &a.y, &a.z};
            *ends[ax] = plane;
            double* const d[3] = {&dir.x, &dir.y, &dir.z};
            double* const w[3] = {&side.x, &side.y, &side.z};
            *d[ax] = 0.0;
            *w[ax] = 0.0;
        }
        double const length = std::pow(10.0, rng.uniform(0.5, 2.0));
        double const width = length * std::pow(10.0, -rng.uniform(2.0, 6.0));
        for (int i = 0; i < 3; ++i) {
            tri[0][i] = static_cast<float>(a[i] - 0.5 * length * dir[i]);
            tri[1][i] = static_cast<float>(a[i] + 0.5 * length * dir[i]);
            tri[2][i] = static_cast<float>(a[i] + width * side[i]);
        }
        break;
    }
    default: { // small, near a face of the box
        int const ax = static_cast<int>(rng.below(3));
        double const side = rng.chance(0.5) ? 1.0 : -1.0;
        double const size = std::pow(10.0, -rng.uniform(1.0, 4.0));
        Vec3 c(rng.uniform(-h[0], h[0]), rng.uniform(-h[1], h[1]), rng.uniform(-h[2], h[2]));
        double cc[3] = {c.x, c.y, c.z};
        cc[ax] = side * (h[ax] + rng.uniform(-2.0, 2.0) * size);
        for (int k = 0; k < 3; ++k)
            for (int i = 0; i < 3; ++i)
                tri[k][i] = static_cast<float>(cc[i] + rng.uniform(-size, size));
        break;
    }
    }
}

// The lanes' forms of the box-triangle scan against the scan, bit for bit:
// the overlap verdict, and the separation's code and bound in both modes,
// from the caller's bound, from none, and from bounds at and below the
// scan's own best separation (where the first axis to exceed the bound
// stops the scan and the largest separation is kept otherwise); the
// triangle as the walk hands it over, given in a frame of its own with
// `frame` into the box's, placed there as PmM places it, in lanes too, and
// a unit axis turned by the frame as the walk's scalar sums turn it.
// Checked as drawn, then at the two ends of a bisection of the scan's
// verdict as the triangle slides from the box's centre out along the line
// through its centroid, where one rounding decides. Returns an empty string
// or what failed; `outFlipped` says whether the slide crossed the verdict.
std::string checkLanes(float const (&h)[3], float const (&tri)[3][3], CtvxMat4 const& frame, float tol,
                       float bound0, float const (&axis)[3], bool& outFlipped)
{
    CtvxMat4 const back = frame.inverse();
    float local[3][3], c[3] = {0.0f, 0.0f, 0.0f};
    CtvxProximityKernels k;
    for (int v = 0; v < 3; ++v) {
        k.PmM(local[v], tri[v], back);
        for (int i = 0; i < 3; ++i)
            c[i] += local[v][i] / 3.0f;
    }
    // The slid triangle in its own frame, and placed in the box's.
    float at[3][3], placed[3][3];
    auto slide = [&](double s) {
        for (int v = 0; v < 3; ++v) {
            for (int i = 0; i < 3; ++i)
                at[v][i] = static_cast<float>(local[v][i] - c[i] + s * c[i]);
            k.PmM(placed[v], at[v], frame);
        }
    };
    auto scanOverlaps = [&]() {
        float ignored = 0.0f;
        return CtvxProximityKernels::boxTriangleSeparation(placed[0], placed[1], placed[2], h, tol, false,
                                                           ignored) == 0;
    };
    auto differs = [&]() -> std::string {
        bool const scan = scanOverlaps();
        if (CtvxProximityKernels::boxTriangleOverlap(placed[0], placed[1], placed[2], h, tol) != scan ||
            CtvxProximityKernels::boxTriangleOverlap(at, frame.data(), h, tol) != scan)
            return "overlap verdict";
        tvxkernels_lanes::MapColumns const map(frame.data());
        float lanes[4];
        for (int v = 0; v < 3; ++v) {
            map.place(at[v]).store(lanes);
            for (int i = 0; i < 3; ++i)
                if (!sameBits(lanes[i], placed[v][i]))
                    return "vertex placed";
        }
        map.turn(axis).store(lanes);
        for (int i = 0; i < 3; ++i)
            if (!sameBits(lanes[i], frame(i, 0) * axis[0] + frame(i, 1) * axis[1] + frame(i, 2) * axis[2]))
                return "axis turned";
        float best = std::numeric_limits<float>::max();
        CtvxProximityKernels::boxTriangleSeparation(placed[0], placed[1], placed[2], h, tol, true, best);
        // The scan stops where a separation less its rounding allowance
        // exceeds the bound: bounds at and beside that difference too.
        float m = 0.0f;
        for (float const(&v)[3] : placed)
            for (float const x : v)
                m = std::max(m, std::fabs(x));
        float const reach = best - CtvxProximityKernels::FarVertexRounding * m;
        float const down = -std::numeric_limits<float>::infinity(), up = -down;
        for (float const bound : {bound0, std::numeric_limits<float>::max(), best, std::nextafter(best, down),
                                  0.5f * best, 0.0f, reach, std::nextafter(reach, down), std::nextafter(reach, up)})
            for (bool const distance : {false, true}) {
                float b1 = bound, b2 = bound;
                int const c1 =
                    CtvxProximityKernels::boxTriangleSeparation(placed[0], placed[1], placed[2], h, tol, distance, b1);
                int const c2 = CtvxProximityKernels::boxTriangleSeparationInLanes(placed[0], placed[1], placed[2],
                                                                                  h, tol, distance, b2);
                if (c1 != c2 || !sameBits(b1, b2)) {
                    std::ostringstream os;
                    os.precision(9);
                    os << "separation: code " << c2 << " for " << c1 << ", bound " << b2 << " for " << b1
                       << " from " << bound << (distance ? " (distance mode)" : " (overlap mode)");
                    return os.str();
                }
            }
        return std::string();
    };
    slide(1.0);
    std::string why = differs();
    if (!why.empty())
        return "lanes: " + why + " differs from the scan's as drawn";
    double lo = 0.0, hi = 64.0;
    slide(lo);
    bool const inside = scanOverlaps();
    slide(hi);
    outFlipped = inside && !scanOverlaps();
    if (!outFlipped)
        return std::string();
    for (int i = 0; i < 60; ++i) {
        double const mid = 0.5 * (lo + hi);
        slide(mid);
        (scanOverlaps() ? lo : hi) = mid;
    }
    for (double s : {lo, hi}) {
        slide(s);
        why = differs();
        if (!why.empty())
            return "lanes: " + why + " differs from the scan's where it flips";
    }
    return std::string();
}

TEST(BoxTriangleSeparation, IsALowerBound)
{
    tvxtest::Random rng(34);
    int const n = tvxtest::runs(20000);
    int failures = 0;
    int separated[5] = {0, 0, 0, 0, 0};
    int deepCount[5] = {0, 0, 0, 0, 0};
    int centroidGapPositive = 0;
    int clearlyApart = 0, nearestTight = 0, flips = 0;
    for (int it = 0; it < n; ++it) {
        int const kind = it % 5;
        float h[3];
        float tri[3][3];
        randomBoxTriangle(rng, h, tri, kind);
        Tri const t = tvxtest::toTri(tri);
        double scale = h[0] + h[1] + h[2];
        for (int k = 0; k < 3; ++k)
            scale = std::max(scale, tvxtest::norm(t[k]));
        double const err = kErrorUlps * kFloatEps * scale;
        double const ref = tvxtest::boxTriangleDistance(tvxtest::axisBox(h[0], h[1], h[2]), t);
        double const shrink = kDeepFraction * scale;
        bool const deep = h[0] > shrink && h[1] > shrink && h[2] > shrink &&
                          tvxtest::boxTriangleDistance(
                              tvxtest::axisBox(h[0] - shrink, h[1] - shrink, h[2] - shrink), t) == 0.0;
        deepCount[kind] += deep;
        float const tol = rng.chance(0.5) ? 0.0f : rng.uniformf(0.0f, 0.3f);
        float const bound0 = rng.chance(0.5) ? 1.0e30f : rng.uniformf(0.0f, 3.0f);
        float dummy = bound0;
        int const overlapCode = CtvxProximityKernels::boxTriangleSeparation(tri[0], tri[1], tri[2], h, tol, false, dummy);
        float bound = bound0;
        int const distCode = CtvxProximityKernels::boxTriangleSeparation(tri[0], tri[1], tri[2], h, tol, true, bound);
        separated[kind] += overlapCode != 0;
        std::string why;
        if ((overlapCode == 0) != (distCode == 0))
            why = "modes disagree";
        else if (deep && overlapCode != 0)
            why = "triangle through the box reported separated";
        else if (overlapCode != 0 && !(ref - tol >= -err))
            why = "touching pair reported separated";
        else if (distCode != 0 && !(bound <= bound0 && ref - tol >= double(bound) - err))
            why = "separation exceeds the clearance";
        else if (distCode == 0 && bound != bound0)
            why = "bound changed without a separating axis";
        // The nearest-first walk's gaps: along the line to the centroid, and
        // along a unit axis with the triangle ahead of the box or behind it.
        float u[3];
        randomUnit(rng, u);
        bool flipped = false;
        if (why.empty()) {
            CtvxMat4 identity;
            identity.identity();
            why = checkLanes(h, tri, rng.chance(0.5) ? randomFrame(rng) : identity, tol, bound0, u, flipped);
        }
        flips += flipped;
        bool const behind = rng.chance(0.5);
        float const centroidGap = CtvxProximityKernels::centroidLineGap(h, tri);
        float const axisGap = CtvxProximityKernels::axisGap(h, tri, u, behind);
        centroidGapPositive += centroidGap > 0.0f;
        // And along the line of nearest points, close to the distance for a
        // sound triangle clearly apart.
        float const nearestGap = CtvxProximityKernels::nearestPointsGap(h, tri);
        if (kind != 2 && ref > 0.1 * scale) {
            ++clearlyApart;
            nearestTight += double(nearestGap) >= 0.99 * ref;
        }
        double const ceiling = CtvxProximityKernels::axisGapCeiling(h, tri);
        if (why.empty() &&
            !(std::max(ceiling, 0.0) >= ref - err &&
              ceiling >= std::max({double(centroidGap), double(axisGap), double(nearestGap)}) - err))
            why = "the distance or a gap exceeds the ceiling of axis gaps " + std::to_string(ceiling);
        else if (why.empty() && !(ref >= double(nearestGap) - err))
            why = "gap along the line of nearest points exceeds the distance";
        else if (why.empty() && !(ref >= double(centroidGap) - err))
            why = "gap along the centroid line exceeds the distance";
        else if (why.empty() && !(ref >= double(axisGap) - err))
            why = std::string("gap along the axis exceeds the distance (triangle ") + (behind ? "behind" : "ahead") +
                  ")";
        if (!why.empty() && ++failures <= 10) {
            std::ostringstream os;
            os.precision(9);
            os << "h = {" << h[0] << "f, " << h[1] << "f, " << h[2] << "f}, triangle ";
            tvxtest::printTriangle(os, tri);
            ADD_FAILURE() << why << " (kind " << kind << "): codes " << overlapCode << "/" << distCode << ", bound "
                          << bound0 << " -> " << bound << ", reference " << ref << ", tolerance " << tol << "\n"
                          << os.str();
        }
    }
    char const* const names[5] = {"around", "large", "degenerate", "small near a face", "long and thin"};
    for (int kind = 0; kind < 5; ++kind)
        std::printf("[ box-tri  ] %-18s %.1f%% reported apart, %.1f%% through the box\n", names[kind],
                    500.0 * separated[kind] / n, 500.0 * deepCount[kind] / n);
    std::printf("[ box-tri  ] %d clearly apart, %d of them bounded within 1%% along the line of nearest points\n",
                clearlyApart, nearestTight);
    if (n >= 1000) {
        EXPECT_GT(flips, n / 4);
        EXPECT_GT(centroidGapPositive, n / 20);
        EXPECT_GT(nearestTight, clearlyApart / 4);
    }
    EXPECT_EQ(failures, 0);
}

// The bound a nearest-first box test starts from: the next float above the
// best distance, so that a test stopping at an axis proves the pair cannot
// even tie. Against the standard library's next float, on the values the
// walk meets (zero, subnormal, ordinary, huge) and on random patterns.
TEST(SeparationBounds, JustAboveIsTheNextFloat)
{
    float const inf = std::numeric_limits<float>::infinity();
    std::vector<float> values = {0.0f, -0.0f, std::numeric_limits<float>::denorm_min(),
                                 std::numeric_limits<float>::min(), 1.0f, 1.0e13f,
                                 std::numeric_limits<float>::max(), -1.0f, -std::numeric_limits<float>::max(), inf};
    tvxtest::Random rng(35);
    for (int i = 0; i < tvxtest::runs(100000); ++i) {
        std::uint32_t const bits = rng.below(0xFFFFFFFFu);
        float f;
        std::memcpy(&f, &bits, sizeof f);
        if (f == f)
            values.push_back(f);
    }
    int failures = 0;
    for (float x : values) {
        float const got = CtvxProximityKernels::justAbove(x);
        float const want = std::nextafter(x, inf);
        if (std::memcmp(&got, &want, sizeof got) != 0 && ++failures <= 10)
            ADD_FAILURE() << "justAbove(" << x << ") = " << got << ", the next float is " << want;
    }
    EXPECT_EQ(failures, 0);
}

} // namespace
