// The tree builder against a frozen copy of its earlier, straightforward
// self (tests/support/ReferenceObbTreeBuilder): whatever is done to make the
// build faster, every box must keep its 28 bytes, the scale its bits, the
// progress reports their order and the set's own box its value.

#include "TreeTestUtil.h"

#include <tests/support/RecordingDelegate.h>
#include <tests/support/ReferenceObbTreeBuilder.h>
#include <tests/support/SceneFixtures.h>

#include <tvx/bvtree/internal/CtvxObbBuildSet.h>
#include <tvx/bvtree/internal/CtvxObbEigen.h>
#include <tvx/bvtree/internal/CtvxObbRangePasses.h>

#include <tvx/geometry/CtvxPolyhedron.h>
#include <tvx/scene/CtvxObjectOBB.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <sstream>

using namespace tvxtest;

namespace {

std::string hexBox(void const* box)
{
    unsigned char const* b = static_cast<unsigned char const*>(box);
    std::ostringstream s;
    s << std::hex;
    for (int i = 0; i < 28; ++i)
        s << (b[i] < 16 ? "0" : "") << static_cast<int>(b[i]) << (i % 4 == 3 ? " " : "");
    return s.str();
}

// Bit for bit, except that all NaNs are one: the sign and payload of a NaN
// made by arithmetic depend on which operand the compiler puts first, not on
// the source (boxes of NaN appear only when the input overflows the fits).
bool sameBits(double a, double b)
{
    return std::memcmp(&a, &b, sizeof a) == 0 || (a != a && b != b);
}

bool sameBits(float a, float b)
{
    return std::memcmp(&a, &b, sizeof a) == 0 || (a != a && b != b);
}

bool isHalfNaN(std::uint16_t h)
{
    return (h & 0x7C00u) == 0x7C00u && (h & 0x03FFu) != 0;
}

bool sameBox(CtvxOBB const* box, ReferenceBox const& ref)
{
    if (std::memcmp(box, &ref, sizeof ref) == 0)
        return true;
    // Codes first (8 bytes), then the ten binary16 values.
    if (std::memcmp(box, &ref, 8) != 0)
        return false;
    std::uint16_t x[10], y[10];
    std::memcpy(x, reinterpret_cast<unsigned char const*>(box) + 8, sizeof x);
    std::memcpy(y, reinterpret_cast<unsigned char const*>(&ref) + 8, sizeof y);
    for (int i = 0; i < 10; ++i)
        if (x[i] != y[i] && !(isHalfNaN(x[i]) && isHalfNaN(y[i])))
            return false;
    return true;
}

// Builds poly's tree through the library with a recording delegate, builds
// the reference from the same poly, and compares everything.
void expectIdentical(boost::shared_ptr<CtvxPoly> poly, std::string const& label)
{
    SCOPED_TRACE(label);
    auto rec = RecordingDelegate::create();
    boost::shared_ptr<CtvxProgressDelegate> d = rec;
    poly->resetBV();
    poly->buildBV(d, CtvxPoly::BV_OBB_TREE);
    CtvxPolyhedronOBBTree* tree = treeOf(*poly);
    ASSERT_NE(tree, nullptr);

    ReferenceTree const ref = buildReferenceTree(*poly);
    ASSERT_EQ(static_cast<std::size_t>(tree->countObbs()), ref.boxes.size());
    for (std::size_t i = 0; i < ref.boxes.size(); ++i) {
        CtvxOBB const* box = tree->obbs() + i;
        if (!sameBox(box, ref.boxes[i])) {
            ADD_FAILURE() << "box " << i << " of " << ref.boxes.size() << " differs:\n  built     "
                          << hexBox(box) << "\n  reference " << hexBox(&ref.boxes[i]);
            break;
        }
    }
    EXPECT_TRUE(sameBits(tree->storedScale(), ref.storedScale)) << tree->storedScale() << " vs " << ref.storedScale;
    EXPECT_EQ(tree->depth(), ref.depth);
    EXPECT_EQ(rec->nodes, ref.reports);

    ASSERT_EQ(poly->polyObb() != nullptr, ref.hasOwnBox);
    if (ref.hasOwnBox) {
        CqarMat4 P;
        poly->polyObb()->getRelativePosition(P);
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 4; ++c)
                EXPECT_TRUE(sameBits(P(r, c), ref.ownPosition(r, c)))
                    << "own box position (" << r << ", " << c << "): " << P(r, c) << " vs " << ref.ownPosition(r, c);
        float h[3];
        poly->polyObb()->getHalfLengths(h[0], h[1], h[2]);
        for (int k = 0; k < 3; ++k)
            EXPECT_TRUE(sameBits(h[k], ref.ownHalfLengths[k])) << "own half length " << k << ": " << h[k] << " vs "
                                                               << ref.ownHalfLengths[k];
    }
}

// Every build setting the builder offers (the scale-free axes only with
// the principal axes, which the axis-aligned fit does not solve).
template <class F>
void forEachSetting(F const& f)
{
    FactorySettingsGuard const guard;
    for (bool mend : {true, false})
        for (int fit = 0; fit < 3; ++fit) {
            auto const algo = fit == 2 ? CtvxPolyhedronOBBTreeFactory::OBB_PLACEMENT_AABB_LIKE
                                       : CtvxPolyhedronOBBTreeFactory::OBB_PLACEMENT_DEFAULT;
            CtvxPolyhedronOBBTreeFactory::conservativeBoxes(mend);
            CtvxPolyhedronOBBTreeFactory::algoObbPlacement(algo);
            CtvxPolyhedronOBBTreeFactory::scaleFreeAxes(fit == 1);
            f(std::string(fit == 0 ? " default" : fit == 1 ? " scale-free axes" : " aabb") +
              (mend ? " mended" : " raw"));
        }
}

Mesh collinear(int n)
{
    Mesh m;
    for (int i = 0; i < n + 2; ++i)
        m.points.push_back({static_cast<double>(i) * 0.37, 0.0, 0.0});
    for (unsigned i = 0; i < static_cast<unsigned>(n); ++i)
        m.triangles.push_back({i, i + 1, i + 2});
    return m;
}

Mesh moved(Mesh m, double scale, std::array<double, 3> const& t)
{
    transformMesh(m, scale, t);
    return m;
}

// The procedural shapes, small enough for every setting.
std::vector<std::pair<std::string, Mesh>> shapes()
{
    Random rng(90210);
    std::vector<std::pair<std::string, Mesh>> meshes;
    for (int n : {2, 3, 4, 5, 9, 64, 301, 2000})
        meshes.emplace_back("soup " + std::to_string(n), makeSoup(rng, n, 10.0, 1.0));
    meshes.emplace_back("icosphere", makeIcosphere(3, 2.0));
    meshes.emplace_back("uvsphere", makeUVSphere(17, 9, 1.5));
    meshes.emplace_back("torus", makeTorus(40, 12, 3.0, 1.0));
    meshes.emplace_back("grid", makeGrid(20, 13, 4.0, 2.0));
    meshes.emplace_back("needle", makeNeedle(9, 40.0, 0.02));
    meshes.emplace_back("strip", makeStrip(777, 0.1));
    meshes.emplace_back("box", makeBox(1.0, 2.0, 3.0));
    meshes.emplace_back("identical", makeIdenticalTriangles(41));
    meshes.emplace_back("collinear", collinear(60));
    meshes.emplace_back("chain", makeGeometricChain(100, 2.2));
    meshes.emplace_back("torus far", moved(makeTorus(30, 10, 3.0, 1.0), 1.0, {1.0e4, -2.5e4, 7.0e3}));
    meshes.emplace_back("icosphere very far", moved(makeIcosphere(2, 1.0), 1.0, {3.0e6, 1.0e6, -2.0e6}));
    meshes.emplace_back("grid huge", moved(makeGrid(15, 15, 1.0, 1.0), 1.0e5, {0.0, 0.0, 0.0}));
    meshes.emplace_back("soup tiny", moved(makeSoup(rng, 500, 1.0, 0.2), 1.0e-4, {1.0e-3, 0.0, 0.0}));
    meshes.emplace_back("uvsphere off-centre", moved(makeUVSphere(11, 6, 1.0), 0.25, {-40.0, 3.0, 0.5}));
    return meshes;
}

} // namespace

TEST(TreeBuildIdentity, DoublePrecisionSetsMatchReference)
{
    // TestPoly hands out double vertices that are mostly not floats, so the
    // split compares sums the fits never see.
    auto const meshes = shapes();
    forEachSetting([&](std::string const& setting) {
        for (auto const& [label, mesh] : meshes)
            expectIdentical(TestPoly::create(mesh), "TestPoly " + label + setting);
    });
}

TEST(TreeBuildIdentity, PolyhedraMatchReference)
{
    // The library's own polyhedron: float points, read through an identity
    // points transform or, after scaling, a real one.
    auto const meshes = shapes();
    forEachSetting([&](std::string const& setting) {
        for (auto const& [label, mesh] : meshes) {
            boost::shared_ptr<CtvxPolyhedron> p = polyhedronOf(mesh);
            expectIdentical(p, "polyhedron " + label + setting);
            CqarPoint3 centre(0.5, -1.25, 2.0);
            p->polyScale(centre, 1.7);
            expectIdentical(p, "scaled polyhedron " + label + setting);
        }
    });
}

TEST(TreeBuildIdentity, NegativeZeroAndTinyCoordinates)
{
    // -0 coordinates reach the fits as +0 through the identity transform;
    // subnormal and zero-area input stresses the fits' degenerate paths.
    Mesh m;
    m.points = {{-0.0, -0.0, -0.0}, {1.0, -0.0, 0.0}, {-0.0, 1.0, -0.0}, {1.0, 1.0, -0.0},
                {1e-40, -1e-40, 0.0}, {-1e-39, 0.0, 1e-38}, {0.0, -0.0, 2.0}};
    m.triangles = {{0, 1, 2}, {1, 3, 2}, {0, 4, 5}, {4, 5, 6}, {0, 0, 0}, {2, 6, 3}, {6, 6, 5}, {0, 1, 6}};
    forEachSetting([&](std::string const& setting) {
        for (std::size_t n = 1; n <= m.triangles.size(); ++n) {
            Mesh part = m;
            part.triangles.resize(n);
            expectIdentical(polyhedronOf(part), "signed zeros, " + std::to_string(n) + setting);
            expectIdentical(TestPoly::create(part), "signed zeros (double), " + std::to_string(n) + setting);
        }
        expectIdentical(polyhedronOf(Mesh()), "empty" + setting);
    });
}

TEST(TreeBuildIdentity, LargeMeshes)
{
    // Sizes where the build's working arrays outgrow the caches, default
    // setting only (the one every query uses).
    FactorySettingsGuard const guard;
    Random rng(4242);
    int const big = runs(10) >= 10 ? 40000 : 8000;
    expectIdentical(polyhedronOf(makeTorus(100, 50, 3.0, 1.0)), "torus 10^4");
    expectIdentical(polyhedronOf(makeSoup(rng, big, 100.0, 1.0)), "soup " + std::to_string(big));
    expectIdentical(TestPoly::create(moved(makeIcosphere(5, 1.0), 3.0, {250.0, 0.0, -90.0})), "icosphere 20480");
    CtvxPolyhedronOBBTreeFactory::algoObbPlacement(CtvxPolyhedronOBBTreeFactory::OBB_PLACEMENT_AABB_LIKE);
    expectIdentical(polyhedronOf(makeTorus(100, 50, 3.0, 1.0)), "torus 10^4 aabb");
    // The opt-in axes on a mesh a tenth of a unit across, where they differ.
    CtvxPolyhedronOBBTreeFactory::algoObbPlacement(CtvxPolyhedronOBBTreeFactory::OBB_PLACEMENT_DEFAULT);
    CtvxPolyhedronOBBTreeFactory::scaleFreeAxes(true);
    expectIdentical(TestPoly::create(moved(makeIcosphere(5, 1.0), 0.05, {0.1, 0.0, -0.02})),
                    "icosphere 20480, radius 0.05, scale-free axes");
}

TEST(TreeBuildIdentity, RandomSoupsMatchReference)
{
    Random rng(31337);
    for (int i = 0; i < runs(60); ++i) {
        int const n = 2 + static_cast<int>(rng.below(400));
        double const extent = rng.uniform(1e-3, 1e4);
        double const edge = extent * rng.uniform(0.001, 0.5);
        std::array<double, 3> const t{rng.uniform(-1e5, 1e5), rng.uniform(-1e5, 1e5), rng.uniform(-1e5, 1e5)};
        Mesh const mesh = moved(makeSoup(rng, n, extent, edge), 1.0, t);
        std::ostringstream label;
        label << "soup #" << i << " seed 31337 n=" << n << " extent=" << extent << " edge=" << edge;
        forEachSetting([&](std::string const& setting) { expectIdentical(polyhedronOf(mesh), label.str() + setting); });
        if (HasFailure())
            return;
    }
}

TEST(TreeBuildIdentity, ReferenceSeesAChangedBox)
{
    // The comparison is live: a tree edited after its build no longer
    // matches the reference in the bytes of that box.
    auto poly = builtPoly(makeIcosphere(2, 1.0));
    CtvxPolyhedronOBBTree* tree = treeOf(*poly);
    ReferenceTree const ref = buildReferenceTree(*poly);
    ASSERT_EQ(static_cast<std::size_t>(tree->countObbs()), ref.boxes.size());
    EXPECT_EQ(std::memcmp(tree->obbs(), ref.boxes.data(), ref.boxes.size() * sizeof(CtvxOBB)), 0);
    CtvxOBB* box = tree->getObb(7);
    float a, b, c;
    box->getHalfLengths(a, b, c);
    box->halfLengths(a, b, std::nextafter(c * 1.01f, 1e9f));
    EXPECT_NE(std::memcmp(tree->obbs(), ref.boxes.data(), ref.boxes.size() * sizeof(CtvxOBB)), 0);
}

namespace {

void randomSymmetric(Random& rng, float (*a)[3])
{
    // Magnitudes from nearly diagonal to large, so that runs stop after
    // different numbers of sweeps and one solve of a pair outlives the other.
    double const scale = std::pow(10.0, rng.uniform(-4.0, 6.0));
    double const offDiagonal = rng.chance(0.2) ? 1e-7 : 1.0;
    for (int i = 0; i < 3; ++i)
        for (int j = i; j < 3; ++j)
            a[i][j] = a[j][i] = static_cast<float>(rng.uniform(-scale, scale) * (i == j ? 1.0 : offDiagonal));
}

} // namespace

TEST(TreeBuildIdentity, BatchedSolvesGiveEachSingleSolve)
{
    // The builder's solves, up to four in lanes, against the plain Jacobi
    // method of the reference builder run on each matrix alone, with either
    // stop.
    Random rng(8086);
    int differentLengths = 0;
    int const n = runs(2000);
    for (int it = 0; it < n; ++it) {
        int const batch = 1 + it % CtvxObbEigen::kMaxProblems;
        CtvxEigenProblem many[CtvxObbEigen::kMaxProblems];
        float single[CtvxObbEigen::kMaxProblems][3][3];
        int sweeps[CtvxObbEigen::kMaxProblems];
        for (int i = 0; i < batch; ++i) {
            randomSymmetric(rng, many[i].a);
            std::memcpy(single[i], many[i].a, sizeof single[i]);
        }
        bool const scaleFree = (it / CtvxObbEigen::kMaxProblems) % 2 == 1;
        CtvxObbEigen::solve(many, batch, scaleFree);
        for (int i = 0; i < batch; ++i) {
            float d[3], v[3][3];
            sweeps[i] = referenceJacobi(single[i], d, v, scaleFree);
            differentLengths += i > 0 && sweeps[i] != sweeps[0];
            bool const same = std::memcmp(d, many[i].d, sizeof d) == 0 && std::memcmp(v, many[i].v, sizeof v) == 0 &&
                              std::memcmp(single[i], many[i].a, sizeof single[i]) == 0 && many[i].sweeps == sweeps[i];
            ASSERT_TRUE(same) << "seed 8086 case " << it << ", solve " << i << " of " << batch << " (" << sweeps[i]
                              << " sweeps)";
        }
    }
    // The sample must exercise batches whose runs end at different sweeps.
    EXPECT_GT(differentLengths, n / 10);
}

TEST(TreeBuildIdentity, NonFiniteAndHugeCoordinates)
{
    // Values for which extremes depend on the order they are met in (NaN),
    // or projections may overflow: the builder must take its in-order paths
    // and still give the reference's tree.
    float const nan = std::nanf("");
    float const inf = HUGE_VALF;
    for (auto const& [label, value] : std::vector<std::pair<std::string, float>>{
             {"NaN", nan}, {"infinity", inf}, {"-infinity", -inf}, {"1e19", 1e19f}, {"3e38", 3e38f}}) {
        Mesh m = makeIcosphere(2, 1.0);
        for (std::size_t k : {std::size_t(0), std::size_t(17), m.points.size() - 1})
            m.points[k][k % 3] = static_cast<double>(value);
        forEachSetting([&](std::string const& setting) {
            expectIdentical(polyhedronOf(m), label + " polyhedron" + setting);
            expectIdentical(TestPoly::create(m), label + " double set" + setting);
        });
    }
    // Finite coordinates small enough to be gathered out of order, whose
    // scatter sums still overflow to infinity near the root.
    Random rng(5);
    Mesh big = moved(makeSoup(rng, 3000, 1.0, 0.1), 8e17, {0.0, 0.0, 0.0});
    forEachSetting([&](std::string const& setting) {
        expectIdentical(polyhedronOf(big), "overflowing scatter" + setting);
    });
}

TEST(TreeBuildIdentity, SideBySideExtremesEqualInOrderOnes)
{
    // Bounds and extents gathered out of order must be the very floats of
    // the in-order folds, zero signs included: flat meshes through the
    // origin project to +0 and -0 alike along their normal.
    Random rng(606);
    std::vector<std::pair<std::string, Mesh>> meshes;
    meshes.emplace_back("grid", makeGrid(9, 7, 2.0, 1.0));
    meshes.emplace_back("box", makeBox(1.0, 1.0, 0.5));
    meshes.emplace_back("soup", makeSoup(rng, 200, 4.0, 1.0));
    meshes.emplace_back("strip", makeStrip(60, 0.5));
    int zeroExtremes = 0;
    for (auto const& [label, mesh] : meshes) {
        CtvxObbBuildSet set;
        set.read(*polyhedronOf(mesh));
        int const n = static_cast<int>(set.count());
        ASSERT_GE(n, 2) << label;
        ASSERT_TRUE(set.orderFree()) << label;
        for (int it = 0; it < 200; ++it) {
            int const first = static_cast<int>(rng.below(static_cast<std::uint32_t>(n - 1)));
            int const count = 1 + static_cast<int>(rng.below(static_cast<std::uint32_t>(n - first)));
            std::string const where = label + " first " + std::to_string(first) + " count " + std::to_string(count);
            CtvxObbBounds side, inOrder;
            CtvxObbRangePasses::boundsSideBySide(set, first, count, side);
            CtvxObbRangePasses::boundsInOrder(set, first, count, inOrder);
            EXPECT_EQ(std::memcmp(side.lo, inOrder.lo, sizeof side.lo), 0) << where;
            EXPECT_EQ(std::memcmp(side.hi, inOrder.hi, sizeof side.hi), 0) << where;

            // Random rotations, and the identity, whose products with zero
            // coordinates give signed zeros.
            float axes[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
            if (it % 2 == 1) {
                double const a = rng.uniform(0.0, 6.283), b = rng.uniform(0.0, 6.283);
                float const ca = static_cast<float>(std::cos(a)), sa = static_cast<float>(std::sin(a));
                float const cb = static_cast<float>(std::cos(b)), sb = static_cast<float>(std::sin(b));
                float const r[3][3] = {{ca, -sa * cb, sa * sb}, {sa, ca * cb, -ca * sb}, {0.0f, sb, cb}};
                std::memcpy(axes, r, sizeof axes);
            } else if (it % 4 == 2) {
                float const flip[3][3] = {{-1, 0, 0}, {0, 1, 0}, {0, 0, -1}};
                std::memcpy(axes, flip, sizeof axes);
            }
            float fast[2][3], ordered[2][3];
            CtvxObbRangePasses::extentsSideBySide(set, first, count, axes, fast);
            CtvxObbRangePasses::extentsInOrder(set, first, count, axes, ordered);
            for (int k = 0; k < 3; ++k)
                zeroExtremes += ordered[0][k] == 0.0f || ordered[1][k] == 0.0f;
            EXPECT_EQ(std::memcmp(fast, ordered, sizeof fast), 0)
                << where << ": " << fast[0][0] << " " << fast[0][1] << " " << fast[0][2] << " / " << ordered[0][0]
                << " " << ordered[0][1] << " " << ordered[0][2] << " .. " << fast[1][2] << " / " << ordered[1][2];
        }
    }
    // The sample must reach the zero extremes it is about.
    EXPECT_GT(zeroExtremes, 100);
}
