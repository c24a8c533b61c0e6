// Contact verdicts and clearances of triangle pairs, every query type through
// the public API, against the exact rational oracle of tests/support.
//
// Each pair becomes two one-triangle polyhedra. At the identity (and under a
// placement shared by both, and with one inside a regrouped assembly) the
// float triangles the query sees are the ones given, so every verdict must
// be the oracle's: no missed contact, no spurious one, and all four query
// types agreeing. Under a relative rotation the query rounds one triangle
// into the other's frame, and a verdict may differ from the exact one only
// when both the exact clearance and the query's are within the rounding of
// that placement.
#include <tvx/analysis/CtvxAnalysis.h>
#include <tvx/analysis/CtvxCollision.h>
#include <tvx/analysis/CtvxDistance.h>
#include <tvx/analysis/CtvxGeometryPoint.h>
#include <tvx/analysis/internal/CtvxExactPredicates.h>
#include <tvx/analysis/internal/CtvxProximityKernels.h>
#include <tvx/geometry/CtvxPolyhedron.h>
#include <tvx/scene/CtvxAssembly.h>
#include <tvx/scene/CtvxCollisionList.h>

#include <tests/support/ExactOracle.h>
#include <tests/support/Meshes.h>
#include <tests/support/Random.h>
#include <tests/support/ReferenceGeometry.h>
#include <tests/support/SceneFixtures.h>
#include <tests/support/TrianglePairs.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <cstdio>
#include <sstream>

namespace {

using namespace tvxtest;

constexpr double kU = 5.9604644775390625e-8; // 2^-24, float rounding

enum class Frame { Identity, Shared, Assembly, Rotated };

// The answers of the four query types on one scene.
struct Answers {
    bool contact[4] = {false, false, false, false};
    unsigned int pairs = 0;   // all contacts
    double distance[4] = {0, 0, 0, 0};
    CqarPoint3 p, q;          // closest points of the exact distance, world
};

Answers ask(boost::shared_ptr<CtvxObject> const& a, boost::shared_ptr<CtvxObject> const& b)
{
    Answers r;
    boost::shared_ptr<CtvxCollisionList> const l1 = listOf({a}), l2 = listOf({b});
    for (int type = 0; type < 4; ++type) {
        boost::shared_ptr<CtvxAnalysis> const an = analysisOf(l1, l2, static_cast<CtvxAnalysis::EAnalysisType>(type));
        an->compute();
        r.contact[type] = an->countCollisions() > 0;
        if (type == CtvxAnalysis::ALL_COLLISIONS && r.contact[type]) {
            boost::shared_ptr<CtvxCollision> c;
            an->getCollision(0, c);
            r.pairs = c->countPairs();
        }
        if (!r.contact[type] && an->countDistances() > 0) {
            boost::shared_ptr<CtvxDistance> d;
            an->getDistance(0, d);
            r.distance[type] = d->distance();
            boost::shared_ptr<CtvxGeometryPoint> p1, p2;
            if (type == CtvxAnalysis::EXACT_DISTANCE && d->getClosestPoint1(p1) == 0 && d->getClosestPoint2(p2) == 0) {
                p1->pointAbsolute(r.p);
                p2->pointAbsolute(r.q);
            }
        }
    }
    return r;
}

boost::shared_ptr<CtvxPolyhedron> oneTriangle(float const (*t)[3])
{
    boost::shared_ptr<CtvxPolyhedron> p = CtvxPolyhedron::create();
    unsigned int r[3], tr;
    for (int k = 0; k < 3; ++k)
        p->addPoint(t[k][0], t[k][1], t[k][2], r[k]);
    p->addTriangle(r[0], r[1], r[2], tr);
    return p;
}

void toRows(Affine const& a, double (&m)[3][4])
{
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j)
            m[i][j] = a.r[i][j];
        m[i][3] = a.t[i];
    }
}

// Checks one pair in one frame; returns an empty string or what went wrong.
// `unsure` counts the pairs whose exact verdict the placement allows to flip;
// `touches` receives the exact verdict.
std::string checkPair(float const (*s)[3], float const (*t)[3], Frame frame, Random& rng, int& unsure,
                      bool& touches)
{
    boost::shared_ptr<CtvxProgressDelegate> none;
    Affine poseA, poseB;
    float tl[3][3]; // t in B's own frame
    std::copy(&t[0][0], &t[0][0] + 9, &tl[0][0]);
    if (frame != Frame::Identity)
        poseA = randomRigid(rng, 100.0);
    poseB = poseA;
    if (frame == Frame::Rotated) {
        Affine const rel = randomRigid(rng, 1.0);
        Affine const back = rel.inverse();
        for (int k = 0; k < 3; ++k) {
            std::array<double, 3> const x = back.apply({double(t[k][0]), double(t[k][1]), double(t[k][2])});
            for (int i = 0; i < 3; ++i)
                tl[k][i] = static_cast<float>(x[i]);
        }
        poseB = poseA * rel;
    }
    boost::shared_ptr<CtvxPolyhedron> const pa = oneTriangle(s), pb = oneTriangle(tl);
    pa->absolutePosition(toQar(poseA));
    pa->makeCollisionEntity(none);
    boost::shared_ptr<CtvxObject> objB = pb;
    if (frame == Frame::Assembly) {
        boost::shared_ptr<CtvxAssembly> const asm_ = CtvxAssembly::create();
        asm_->attach(pb, -1);
        asm_->absolutePosition(toQar(poseB));
        asm_->makeCollisionEntity(none);
        objB = asm_;
    } else {
        pb->absolutePosition(toQar(poseB));
        pb->makeCollisionEntity(none);
    }
    Answers const got = ask(pa, objB);

    double mA[3][4], mB[3][4];
    toRows(poseA, mA);
    toRows(poseB, mB);
    QTri const qa = placedTri(s, mA), qb = placedTri(tl, mB);
    // The double-precision reference settles pairs clearly apart (its error
    // is a few double roundings of the coordinates); the rational oracle the
    // rest.
    Tri da, db;
    double mw = 0.0;
    for (int k = 0; k < 3; ++k) {
        std::array<double, 3> const x = poseA.apply({double(s[k][0]), double(s[k][1]), double(s[k][2])});
        std::array<double, 3> const y = poseB.apply({double(tl[k][0]), double(tl[k][1]), double(tl[k][2])});
        da[k] = Vec3(x[0], x[1], x[2]);
        db[k] = Vec3(y[0], y[1], y[2]);
        for (int i = 0; i < 3; ++i)
            mw = std::max({mw, std::fabs(x[i]), std::fabs(y[i])});
    }
    ExactAnswer truth;
    truth.distance = triangleDistance(da, db);
    if (!(truth.distance > 1e-9 * mw))
        truth = exactAnswer(qa, qb);
    touches = truth.touch;
    double m = 0.0;
    for (int k = 0; k < 3; ++k)
        for (int i = 0; i < 3; ++i)
            m = std::max({m, std::fabs(double(s[k][i])), std::fabs(double(tl[k][i]))});
    double const slack = CtvxProximityKernels::DistanceSlack * m;
    // A rotation rounds t into s's frame: each coordinate by a few roundings
    // of the coordinates and of the relative translation.
    double const placed =
        frame == Frame::Rotated ? 16.0 * kU * (2.0 * m + std::fabs(poseA.inverse().apply(poseB.apply({0, 0, 0}))[0]) +
                                                 std::fabs(poseA.inverse().apply(poseB.apply({0, 0, 0}))[1]) +
                                                 std::fabs(poseA.inverse().apply(poseB.apply({0, 0, 0}))[2]))
                                : 0.0;

    std::ostringstream why;
    bool const verdict = got.contact[CtvxAnalysis::FIRST_COLLISION];
    for (int type = 1; type < 4; ++type)
        if (got.contact[type] != verdict)
            why << "query types disagree (type " << type << "); ";
    if (verdict != truth.touch) {
        double const queryGap = verdict ? 0.0 : got.distance[CtvxAnalysis::EXACT_DISTANCE];
        if (frame != Frame::Rotated || truth.distance > placed || queryGap > placed + slack)
            why << (verdict ? "spurious contact" : "missed contact") << ", exact distance " << truth.distance << "; ";
        else
            ++unsure;
    }
    if (verdict && got.pairs != 1)
        why << "all contacts reports " << got.pairs << " pairs; ";
    if (!verdict && why.str().empty() && !truth.touch) {
        double const d = got.distance[CtvxAnalysis::EXACT_DISTANCE];
        double const e = got.distance[CtvxAnalysis::ESTIMATED_DISTANCE];
        if (!(std::fabs(d - truth.distance) <= slack + placed))
            why << "exact distance " << d << " against " << truth.distance << "; ";
        if (!(e > 0.0) || !(e <= truth.distance + slack + placed))
            why << "estimated distance " << e << " against " << truth.distance << "; ";
        // The closest points lie on their triangles (placed in the world).
        auto off = [](CqarPoint3 const& x, QTri const& tri) {
            return std::sqrt(squaredDistance(QPoint{x[0], x[1], x[2]}, tri).get_d());
        };
        double const reach = m + 2.0 * poseA.maxAbs();
        if (!(off(got.p, qa) <= 8.0 * kU * reach + placed) || !(off(got.q, qb) <= 8.0 * kU * reach + placed))
            why << "closest points off their triangles by " << off(got.p, qa) << ", " << off(got.q, qb) << "; ";
    }
    return why.str();
}

std::string describe(float const (*s)[3], float const (*t)[3])
{
    std::ostringstream os;
    os << "s = ";
    printTriangle(os, s);
    os << "\nt = ";
    printTriangle(os, t);
    return os.str();
}

// --- The reproductions of the faults this suite was written for ----------

struct Named {
    char const* name;
    float s[3][3];
    float t[3][3];
    bool touch;
};

Named const kReproductions[] = {
    {"sliver piercing a triangle",
     {{226.59404f, -167.769913f, -475.834076f}, {257.835205f, 255.017822f, -75.1320114f},
      {-240.379959f, 302.799286f, -148.831512f}},
     {{263.210724f, 580.593628f, -739.616638f}, {-13.7759457f, -505.944824f, 428.404663f},
      {99.1557388f, -62.9465256f, -47.8154297f}},
     true},
    {"point near a small sliver",
     {{-0x1.2p-12f, -0x1.ap-13f, -0x1p-12f}, {-0x1.2p-12f, -0x1.ap-13f, -0x1p-12f}, {-0x1.2p-12f, -0x1.ap-13f, -0x1p-12f}},
     {{-0x1.e00004p-12f, 0x1.6p-13f, -0x1.bffffep-12f}, {-0x1.2ffffcp-12f, -0x1.5ffff8p-13f, -0x1.100002p-12f},
      {-0x1.8p-14f, -0x1.27fffep-11f, -0x1.fffffcp-15f}},
     false},
    {"shared vertex, crossing",
     {{-38.8882256f, 107.621071f, 204.414948f}, {-375.798981f, 128.752167f, -454.661774f},
      {-204.527374f, 478.725769f, -16.5907326f}},
     {{-204.527374f, 478.725769f, -16.5907326f}, {146.693222f, 384.739136f, -127.565025f},
      {-402.49118f, 239.797928f, -7.07401514f}},
     true},
    {"straddling planes, 0.0734 apart",
     {{471.469879f, 103.412384f, 563.8974f}, {234.393692f, 322.571533f, 509.561798f},
      {830.928223f, 450.164276f, 392.106873f}},
     {{234.421204f, 322.527924f, 509.472778f}, {-280.817627f, 981.293579f, 726.773499f},
      {-626.392212f, 515.098389f, 705.635254f}},
     false},
    {"tiny pair whose face normal is near the subnormal range",
     {{1.06677289e-11f, 3.48282306e-11f, 2.97152472e-12f}, {-2.92433404e-11f, 8.74097756e-12f, 1.55082266e-11f},
      {-3.49919295e-11f, 2.09077252e-11f, 2.00665786e-11f}},
     {{-1.48389703e-11f, 6.57306024e-12f, 6.87740073e-11f}, {-2.58514369e-12f, 1.30818602e-11f, 4.31331151e-11f},
      {-1.79617606e-11f, 1.8276056e-11f, 6.42890532e-11f}},
     false},
};

TEST(ContactVerdict, ReproducedFaults)
{
    Random rng(13);
    int unsure = 0;
    bool touches = false;
    for (Named const& c : kReproductions) {
        EXPECT_EQ(exactAnswer(exactTri(c.s), exactTri(c.t)).touch, c.touch) << c.name;
        for (Frame f : {Frame::Identity, Frame::Shared, Frame::Assembly})
            EXPECT_EQ(checkPair(c.s, c.t, f, rng, unsure, touches), "") << c.name << "\n" << describe(c.s, c.t);
    }
    // A triangle and a copy turned by 0.3 rad about z and moved 2.04 along
    // x, overlapping in their common plane: coplanar only up to the rounding
    // of the copy, so the exact verdict may go either way, but all four
    // query types must give it.
    float const s[3][3] = {{0.0f, 0.0f, 0.0f}, {3.0f, 0.5f, 1.0f}, {0.5f, 3.0f, 2.0f}};
    float t[3][3];
    for (int k = 0; k < 3; ++k) {
        double const c = std::cos(0.3), sn = std::sin(0.3);
        t[k][0] = static_cast<float>(c * s[k][0] - sn * s[k][1] + 2.04);
        t[k][1] = static_cast<float>(sn * s[k][0] + c * s[k][1]);
        t[k][2] = s[k][2];
    }
    EXPECT_EQ(checkPair(s, t, Frame::Identity, rng, unsure, touches), "") << describe(s, t);
    // The same overlap in a coordinate plane is exactly coplanar: contact.
    float flatS[3][3], flatT[3][3];
    for (int k = 0; k < 3; ++k)
        for (int i = 0; i < 3; ++i) {
            flatS[k][i] = i == 2 ? 7.0f : s[k][i];
            flatT[k][i] = i == 2 ? 7.0f : t[k][i];
        }
    EXPECT_TRUE(exactAnswer(exactTri(flatS), exactTri(flatT)).touch);
    EXPECT_EQ(checkPair(flatS, flatT, Frame::Identity, rng, unsure, touches), "");
    EXPECT_EQ(unsure, 0);
}

// Cubes of side 2e7 with 1e7 between them, and of side 2e-12 with 1e-12:
// the squared lengths of the 17-axis test's axes overflow or underflow in
// single precision; the decision must not.
TEST(ContactVerdict, ExtremeScalesOfCubes)
{
    boost::shared_ptr<CtvxProgressDelegate> none;
    for (double side : {2e7, 2e-12, 2e30}) {
        // Clearances beyond 1e13 are not reported (the driver's starting bound).
        boost::shared_ptr<CtvxPolyhedron> const a = makePolyhedron(makeBox(side / 2, side / 2, side / 2));
        Mesh m = makeBox(side / 2, side / 2, side / 2);
        transformMesh(m, 1.0, {1.5 * side, 0.0, 0.0});
        boost::shared_ptr<CtvxPolyhedron> const b = makePolyhedron(m);
        a->makeCollisionEntity(none);
        b->makeCollisionEntity(none);
        Answers const got = ask(a, b);
        for (int type = 0; type < 4; ++type)
            EXPECT_FALSE(got.contact[type]) << "side " << side << ", type " << type;
        if (side < 1e13) {
            EXPECT_NEAR(got.distance[CtvxAnalysis::EXACT_DISTANCE], side / 2, side * 1e-6) << side;
            EXPECT_GT(got.distance[CtvxAnalysis::ESTIMATED_DISTANCE], 0.0) << side;
        }
    }
}

// The orientation predicates against the rational determinant, on points
// made to be nearly or exactly coplanar (collinear), at magnitudes from
// 2^-100 to 2^100 and with coordinates of very different exponents in one
// determinant, where the double-precision filter cannot decide alone.
TEST(ContactVerdict, OrientationSignsAreExact)
{
    Random rng(77);
    unsigned long expansions = 0;
    int const n = runs(20000);
    for (int it = 0; it < n; ++it) {
        float pts[4][3];
        double const scale = std::ldexp(1.0, static_cast<int>(rng.below(201)) - 100);
        for (int k = 0; k < 3; ++k)
            for (int i = 0; i < 3; ++i)
                pts[k][i] = static_cast<float>(rng.uniform(-1, 1) * scale * (rng.chance(0.1) ? 1e-20 : 1.0));
        // The fourth point on the plane (or line) of the first three, rounded.
        double const u = rng.uniform(-2, 2), v = it % 3 == 0 ? 0.0 : rng.uniform(-2, 2);
        for (int i = 0; i < 3; ++i)
            pts[3][i] = static_cast<float>(pts[0][i] + u * (double(pts[1][i]) - pts[0][i]) +
                                           v * (double(pts[2][i]) - pts[0][i]));
        if (it % 7 == 0)
            std::copy(pts[1], pts[1] + 3, pts[3]);
        if (it % 5 == 1) {
            // Lattice points, the fourth completing a parallelogram (or, in
            // one plane, a line) exactly: zero determinants with nonzero
            // terms, which only the exact stage can call zero.
            for (int k = 0; k < 3; ++k)
                for (int i = 0; i < 3; ++i)
                    pts[k][i] = static_cast<float>(std::ldexp(double(static_cast<int>(rng.below(2001)) - 1000),
                                                              static_cast<int>(rng.below(21)) - 20) *
                                                   scale);
            for (int i = 0; i < 3; ++i)
                pts[3][i] = it % 2 ? pts[0][i] + pts[1][i] - pts[2][i] : 2.0f * pts[0][i] - pts[1][i];
        }
        auto Q = [](float x) { return mpq_class(static_cast<double>(x)); };
        mpq_class e[3][3];
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c)
                e[r][c] = Q(pts[r][c]) - Q(pts[3][c]);
        mpq_class const det = e[0][0] * (e[1][1] * e[2][2] - e[1][2] * e[2][1]) -
                              e[0][1] * (e[1][0] * e[2][2] - e[1][2] * e[2][0]) +
                              e[0][2] * (e[1][0] * e[2][1] - e[1][1] * e[2][0]);
        ASSERT_EQ(CtvxExactPredicates::orient3d(pts[0], pts[1], pts[2], pts[3], expansions), sgn(det))
            << "iteration " << it;
        // In each coordinate plane: is point 3 on the line of points 0, 1?
        for (int pl = 0; pl < 3; ++pl) {
            int const i = pl, j = (pl + 1) % 3;
            mpq_class const d2 = (Q(pts[0][i]) - Q(pts[3][i])) * (Q(pts[1][j]) - Q(pts[3][j])) -
                                 (Q(pts[0][j]) - Q(pts[3][j])) * (Q(pts[1][i]) - Q(pts[3][i]));
            ASSERT_EQ(CtvxExactPredicates::orient2d(pts[0], pts[1], pts[3], i, j, expansions), sgn(d2))
                << "iteration " << it << ", plane " << pl;
        }
    }
    // The exact stage was reached, not only the filters.
    EXPECT_GT(expansions, static_cast<unsigned long>(n / 20));
}

// --- The kernels' two contact decisions against the oracle ----------------

// Two faces of a CAD model: long thin triangles on a coarse binary grid, so
// that the floats are exact, in one coordinate plane. b is a's long edge
// slid along itself, with its far vertex across that edge, on it, or
// standing up from a's plane (two faces of a box along their common edge);
// sometimes a vertex of b is lifted a few units of the last place off the
// plane, and half the time both are turned by one rotation and rounded.
void cadFacePair(Random& rng, float (&s)[3][3], float (&t)[3][3])
{
    auto grid = [&](double lo, double hi) { return std::ldexp(std::floor(rng.uniform(lo, hi) * 64.0), -6); };
    double const length = grid(4.0, 400.0), width = std::ldexp(1.0, -static_cast<int>(rng.below(12)));
    double const x0 = grid(-50.0, 50.0), y0 = grid(-50.0, 50.0), z = grid(-20.0, 20.0);
    double const shift = grid(-length, length), side = rng.chance(0.5) ? width : -width;
    double const a[3][3] = {{x0, y0, z}, {x0 + length, y0, z}, {x0 + grid(0.0, length), y0 + width, z}};
    double const far[3][3] = {{0.0, -side, 0.0}, {0.0, 0.0, side}, {grid(-length, length), 0.0, 0.0}};
    double const* const f = far[rng.below(3)];
    for (int k = 0; k < 3; ++k)
        for (int i = 0; i < 3; ++i) {
            s[k][i] = static_cast<float>(a[k][i]);
            t[k][i] = static_cast<float>(k < 2 ? a[k][i] + (i == 0 ? shift : 0.0) : a[k == 2 ? 0 : k][i] + f[i]);
        }
    for (int step = rng.chance(0.3) ? static_cast<int>(rng.below(3)) + 1 : 0; step > 0; --step)
        t[2][2] = std::nextafter(t[2][2], side > 0.0 ? 1e30f : -1e30f);
    if (rng.chance(0.5)) {
        double R[3][3];
        randomRotation(rng, R);
        for (float(*tri)[3] : {s, t})
            for (int k = 0; k < 3; ++k) {
                double const x = tri[k][0], y = tri[k][1], w = tri[k][2];
                for (int i = 0; i < 3; ++i)
                    tri[k][i] = static_cast<float>(R[i][0] * x + R[i][1] * y + R[i][2] * w);
            }
    }
}

// contact() and touches(), the decisions the query types share, must both
// be the oracle's verdict with a zero tolerance, on every pair family and
// on pairs of CAD faces, where nearly every pair touches or nearly does
// and single precision can settle few of them.
TEST(ContactVerdict, KernelDecisionsAreExact)
{
    int const n = runs(2000);
    int failures = 0, cadTouching = 0;
    for (int f = 0; f <= PairFamilyCount; ++f) {
        bool const cad = f == PairFamilyCount;
        Random rng(9000u + static_cast<unsigned>(f));
        for (int it = 0; it < n; ++it) {
            float s[3][3], t[3][3];
            if (cad)
                cadFacePair(rng, s, t);
            else
                makeTrianglePair(rng, static_cast<PairFamily>(f), s, t);
            bool const truth = exactAnswer(exactTri(s), exactTri(t)).touch;
            cadTouching += cad && truth;
            CtvxProximityKernels k;
            float separation = 0.0f;
            bool const scanned = k.contact(s, t, separation);
            bool const touched = k.touches(s, t);
            if ((scanned != truth || touched != truth) && ++failures <= 10)
                ADD_FAILURE() << (cad ? "CAD faces" : familyName(static_cast<PairFamily>(f))) << " #" << it
                              << ": oracle " << truth << ", contact() " << scanned << ", touches() " << touched
                              << "\n"
                              << describe(s, t);
        }
    }
    std::printf("[ CAD      ] %d of %d pairs of faces touch\n", cadTouching, n);
    // The CAD pairs are the hard ones only while many of them touch and
    // many do not.
    if (n >= 1000) {
        EXPECT_GT(cadTouching, n / 5);
        EXPECT_LT(cadTouching, n - n / 10);
    }
    EXPECT_EQ(failures, 0);
}

// --- Randomized differential over the pair families ----------------------

TEST(ContactVerdict, PairFamiliesAgreeWithTheExactOracle)
{
    int const n = runs(7700); // about 10^5 pairs over the 13 families
    int failures = 0;
    for (int f = 0; f < PairFamilyCount; ++f) {
        PairFamily const family = static_cast<PairFamily>(f);
        Random rng(5000u + static_cast<unsigned>(f));
        int touching = 0, unsure = 0;
        for (int it = 0; it < n; ++it) {
            float s[3][3], t[3][3];
            makeTrianglePair(rng, family, s, t);
            // Most pairs at the identity; one in eight in each other frame.
            Frame const frame = it % 8 == 1 ? Frame::Shared
                                : it % 8 == 3 ? Frame::Assembly
                                : it % 8 == 5 ? Frame::Rotated
                                              : Frame::Identity;
            bool touches = false;
            std::string const why = checkPair(s, t, frame, rng, unsure, touches);
            touching += touches ? 1 : 0;
            if (!why.empty() && ++failures <= 10)
                ADD_FAILURE() << familyName(family) << " #" << it << " frame " << int(frame) << ": " << why << "\n"
                              << describe(s, t);
        }
        std::printf("[ family   ] %-14s touching %5.1f%%, rotated verdicts within the placement's rounding %d\n",
                    familyName(family), 100.0 * touching / n, unsure);
    }
    EXPECT_EQ(failures, 0);
}

} // namespace
