// The box fits of the tree builder: axes of a lone triangle, principal axes
// of a set against an independent eigen-solver, the tree scale, and the
// axis-aligned fit with its split choice.

#include "TreeTestUtil.h"

#include <tvx/bvtree/CtvxHalf.h>
#include <tvx/bvtree/internal/CtvxObbBuildSet.h>
#include <tvx/bvtree/internal/CtvxObbEigen.h>
#include <tvx/bvtree/internal/CtvxObbFits.h>
#include <tvx/math/CtvxMat4.h>
#include <tvx/scene/CtvxObjectOBB.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

using namespace tvxtest;

namespace {

// The builder's fitting steps on the triangles of one poly.
class FitProbe {
public:
    static boost::shared_ptr<FitProbe> create() { return boost::shared_ptr<FitProbe>(new FitProbe()); }

    // Reads the triangles of poly; unbind() releases them again.
    void bind(boost::shared_ptr<TestPoly> const& poly)
    {
        m_poly = poly;
        m_set.read(*poly);
    }
    void unbind()
    {
        m_set.release();
        m_poly.reset();
    }

    // One solve; the number of sweeps, or -1 without convergence.
    static int jacobi(float (*a)[3], float* d, float (*v)[3])
    {
        CtvxEigenProblem p;
        std::memcpy(p.a, a, sizeof p.a);
        CtvxObbEigen::solve(&p, 1);
        std::memcpy(a, p.a, sizeof p.a);
        std::memcpy(d, p.d, sizeof p.d);
        std::memcpy(v, p.v, sizeof p.v);
        return p.sweeps;
    }
    void triangleAxes(unsigned int triangle, float (*axes)[3]) const
    {
        CqarPoint3 p[3];
        m_poly->getTriangle(triangle, p);
        CtvxObbFits::triangleAxes(p, axes);
    }
    void oneTriangleBox(unsigned int triangle, CtvxOBB& box) const
    {
        CqarPoint3 p[3];
        m_poly->getTriangle(triangle, p);
        CtvxObbFits::oneTriangleBox(p, box);
    }
    // The principal axes of the range, as the build solves them.
    void principalAxes(int first, int count, float (*axes)[3], bool scaleFree = false) const
    {
        CtvxObbPart part{};
        part.first = first;
        part.count = count;
        CtvxObbRangePasses::bounds(m_set, first, count, part.bounds);
        CtvxObbPart* parts = &part;
        CtvxObbFits::principalAxes(m_set, &parts, 1, scaleFree);
        std::memcpy(axes, part.axes, sizeof part.axes);
    }
    void axisAlignedBox(int first, int count, CqarVect3& axis, double& split) const
    {
        CtvxObbBounds b;
        CtvxObbRangePasses::bounds(m_set, first, count, b);
        CtvxOBB box;
        CtvxObbFits::axisAlignedBox(b, box, axis, split);
    }

private:
    boost::shared_ptr<TestPoly> m_poly;
    CtvxObbBuildSet m_set;
};

Mesh oneTriangle(std::array<double, 3> a, std::array<double, 3> b, std::array<double, 3> c)
{
    Mesh m;
    m.points = {a, b, c};
    m.triangles = {{0, 1, 2}};
    return m;
}

void expectAxis(float const (*axes)[3], int k, double x, double y, double z, char const* what)
{
    EXPECT_NEAR(axes[0][k], x, 1e-6) << what << " axis " << k;
    EXPECT_NEAR(axes[1][k], y, 1e-6) << what << " axis " << k;
    EXPECT_NEAR(axes[2][k], z, 1e-6) << what << " axis " << k;
}

void triangleAxes(Mesh const& m, float (*axes)[3])
{
    auto poly = builtPoly(m);
    auto probe = FitProbe::create();
    probe->bind(poly);
    probe->triangleAxes(0, axes);
    probe->unbind();
}

// Symmetric eigen-decomposition in double by the classical Jacobi method
// (largest off-diagonal element first), independent of the builder's cyclic
// float version. Columns of v are the eigenvectors.
void referenceEigen(double a[3][3], double d[3], double v[3][3])
{
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            v[i][j] = i == j;
    for (int iter = 0; iter < 100; ++iter) {
        int p = 0, q = 1;
        for (int i = 0; i < 3; ++i)
            for (int j = i + 1; j < 3; ++j)
                if (std::fabs(a[i][j]) > std::fabs(a[p][q])) {
                    p = i;
                    q = j;
                }
        if (std::fabs(a[p][q]) < 1e-300)
            break;
        double const phi = 0.5 * std::atan2(2.0 * a[p][q], a[q][q] - a[p][p]);
        double const c = std::cos(phi), s = std::sin(phi);
        // A <- G^T A G with G the rotation in the (p, q) plane.
        double g[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
        g[p][p] = c;
        g[q][q] = c;
        g[p][q] = s;
        g[q][p] = -s;
        double t[3][3] = {}, r[3][3] = {}, w[3][3] = {};
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                for (int k = 0; k < 3; ++k)
                    t[i][j] += a[i][k] * g[k][j];
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                for (int k = 0; k < 3; ++k)
                    r[i][j] += g[k][i] * t[k][j];
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j) {
                a[i][j] = r[i][j];
                for (int k = 0; k < 3; ++k)
                    w[i][j] += v[i][k] * g[k][j];
            }
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                v[i][j] = w[i][j];
    }
    for (int i = 0; i < 3; ++i)
        d[i] = a[i][i];
}

// Eight point-like triangles at the corners of a box: every corner counts
// three times in the scatter, so its matrix is exactly diagonal and the
// principal axes are the coordinate axes.
Mesh cornerPoints(double hx, double hy, double hz, double tx)
{
    Mesh m;
    for (int k = 0; k < 8; ++k) {
        m.points.push_back({tx + ((k & 1) ? hx : -hx), (k & 2) ? hy : -hy, (k & 4) ? hz : -hz});
        unsigned const u = static_cast<unsigned>(k);
        m.triangles.push_back({u, u, u});
    }
    return m;
}

} // namespace

TEST(ObbFit, OneTriangleAxesAndBox)
{
    // Longest edge from the third vertex to the second: axis 0 along it,
    // axis 2 against the normal, axis 1 completing a right-handed frame.
    Mesh const m = oneTriangle({0, 0, 0}, {2, 0, 0}, {0, 1, 0});
    float axes[3][3];
    triangleAxes(m, axes);
    double const r5 = std::sqrt(5.0);
    expectAxis(axes, 0, 2 / r5, -1 / r5, 0, "triangle");
    expectAxis(axes, 1, -1 / r5, -2 / r5, 0, "triangle");
    expectAxis(axes, 2, 0, 0, -1, "triangle");

    // The box: half lengths sqrt(5)/2 and 1/sqrt(5) in the plane, none
    // across it; centre (0.8, 0.1, 0) by hand. Stored values are binary16.
    auto poly = builtPoly(m);
    auto probe = FitProbe::create();
    probe->bind(poly);
    CtvxOBB box;
    probe->oneTriangleBox(0, box);
    probe->unbind();
    float h[3], c[3];
    box.getHalfLengths(h[0], h[1], h[2]);
    box.getRelativeTranslations(c[0], c[1], c[2]);
    EXPECT_NEAR(h[0], r5 / 2, 1e-3);
    EXPECT_NEAR(h[1], 1 / r5, 1e-3);
    EXPECT_EQ(h[2], 0.0f);
    EXPECT_NEAR(c[0], 0.8, 1e-3);
    EXPECT_NEAR(c[1], 0.1, 1e-3);
    EXPECT_EQ(c[2], 0.0f);
    CtvxMat4 R;
    box.getRelativeRotation(R);
    for (int i = 0; i < 3; ++i)
        for (int k = 0; k < 3; ++k)
            EXPECT_NEAR(R(i, k), axes[i][k], 2e-3);

    // The poly's own box is that box, enlarged only by the rounding mend:
    // across the plane by no more than a few millionths.
    CtvxObjectOBB const* own = poly->polyObb();
    ASSERT_NE(own, nullptr);
    float oh[3];
    own->getHalfLengths(oh[0], oh[1], oh[2]);
    EXPECT_GE(oh[0], h[0]);
    EXPECT_GE(oh[1], h[1]);
    EXPECT_LT(oh[2], 2e-3f);
}

TEST(ObbFit, DegenerateTriangles)
{
    float axes[3][3];
    // Three equal vertices: identity axes and an empty box.
    triangleAxes(oneTriangle({1, 2, 3}, {1, 2, 3}, {1, 2, 3}), axes);
    expectAxis(axes, 0, 1, 0, 0, "point");
    expectAxis(axes, 1, 0, 1, 0, "point");
    expectAxis(axes, 2, 0, 0, 1, "point");
    {
        auto poly = builtPoly(oneTriangle({1, 2, 3}, {1, 2, 3}, {1, 2, 3}));
        auto probe = FitProbe::create();
        probe->bind(poly);
        CtvxOBB box;
        probe->oneTriangleBox(0, box);
        probe->unbind();
        EXPECT_EQ(box.size(), 0.0f);
    }

    // A needle along x: the cross product of its edges vanishes and the
    // normal falls back to u x (0, 1, 0).
    triangleAxes(oneTriangle({0, 0, 0}, {1, 0, 0}, {3, 0, 0}), axes);
    expectAxis(axes, 0, 1, 0, 0, "needle x");
    expectAxis(axes, 1, 0, -1, 0, "needle x");
    expectAxis(axes, 2, 0, 0, -1, "needle x");
    // Along y the first fallback, u x (1, 0, 0), already works.
    triangleAxes(oneTriangle({0, 0, 0}, {0, 2, 0}, {0, 5, 0}), axes);
    expectAxis(axes, 0, 0, 1, 0, "needle y");
    expectAxis(axes, 1, -1, 0, 0, "needle y");
    expectAxis(axes, 2, 0, 0, 1, "needle y");

    // Two equal vertices: the edge from the distinct one leads.
    triangleAxes(oneTriangle({0, 0, 0}, {0, 0, 0}, {0, 0, 4}), axes);
    EXPECT_NEAR(std::fabs(axes[2][0]), 1.0, 1e-6);
    // Whatever the case, the frame is right-handed and orthonormal.
    for (auto const& m : {oneTriangle({0, 0, 0}, {1, 0, 0}, {3, 0, 0}), oneTriangle({0, 0, 0}, {0, 0, 0}, {0, 0, 4}),
                          oneTriangle({0.3, -2, 1}, {4, 1, 1.5}, {-1, 0.2, 7})}) {
        triangleAxes(m, axes);
        double const det = axes[0][0] * (axes[1][1] * axes[2][2] - axes[2][1] * axes[1][2]) -
                           axes[0][1] * (axes[1][0] * axes[2][2] - axes[2][0] * axes[1][2]) +
                           axes[0][2] * (axes[1][0] * axes[2][1] - axes[2][0] * axes[1][1]);
        EXPECT_NEAR(det, 1.0, 1e-5);
    }
}

TEST(ObbFit, JacobiOnDiagonalStopsAtOnce)
{
    float a[3][3] = {{3, 0, 0}, {0, -1, 0}, {0, 0, 7}};
    float d[3], v[3][3];
    EXPECT_EQ(FitProbe::jacobi(a, d, v), 0);
    EXPECT_EQ(d[0], 3.0f);
    EXPECT_EQ(d[1], -1.0f);
    EXPECT_EQ(d[2], 7.0f);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            EXPECT_EQ(v[i][j], i == j ? 1.0f : 0.0f);
}

TEST(ObbFit, AxesOrderedByEigenvalueWithDocumentedTies)
{
    // Every order and tie of three eigenvalues, with the unit vectors as
    // eigenvectors so that the axes show which index each took. Axis 0 is
    // the largest, ties going to index 1, then 0, then 2; axis 1 the larger
    // of the other two, ties going to index 2, then 1, then 0.
    float const v[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    for (int code = 0; code < 27; ++code) {
        float const d[3] = {static_cast<float>(code % 3), static_cast<float>(code / 3 % 3),
                            static_cast<float>(code / 9)};
        int const firstPriority[3] = {1, 0, 2};
        int h = firstPriority[0];
        for (int i : firstPriority)
            h = d[i] > d[h] ? i : h;
        int const secondPriority[3] = {2, 1, 0};
        int l = -1;
        for (int i : secondPriority)
            if (i != h && (l < 0 || d[i] > d[l]))
                l = i;
        float axes[3][3];
        CtvxObbEigen::axesFromEigen(d, v, axes);
        std::string const what = "eigenvalues " + std::to_string(code % 3) + " " + std::to_string(code / 3 % 3) +
                                 " " + std::to_string(code / 9);
        expectAxis(axes, 0, h == 0, h == 1, h == 2, what.c_str());
        expectAxis(axes, 1, l == 0, l == 1, l == 2, what.c_str());
        int const n = 3 - h - l; // the third index, with the sign of a right-handed frame
        double const sign = (h + 1) % 3 == l ? 1.0 : -1.0;
        expectAxis(axes, 2, n == 0 ? sign : 0.0, n == 1 ? sign : 0.0, n == 2 ? sign : 0.0, what.c_str());
    }
}

TEST(ObbFit, JacobiAgreesWithReferenceEigenSolver)
{
    Random rng(3);
    for (int it = 0; it < runs(2000); ++it) {
        double ref[3][3];
        float a[3][3];
        for (int i = 0; i < 3; ++i)
            for (int j = i; j < 3; ++j) {
                a[i][j] = a[j][i] = static_cast<float>(rng.uniform(-10.0, 10.0));
                ref[i][j] = ref[j][i] = a[i][j];
            }
        float d[3], v[3][3];
        ASSERT_GE(FitProbe::jacobi(a, d, v), 0) << "no convergence, seed 3 case " << it;
        double rd[3], rv[3][3];
        referenceEigen(ref, rd, rv);
        double scale = 0.0;
        for (double x : rd)
            scale = std::max(scale, std::fabs(x));
        // Each computed pair satisfies A v = lambda v and matches a
        // reference eigenvalue.
        for (int k = 0; k < 3; ++k) {
            double best = HUGE_VAL;
            for (double x : rd)
                best = std::min(best, std::fabs(x - d[k]));
            EXPECT_LT(best, 1e-5 * scale + 1e-5) << "seed 3 case " << it;
        }
        // Orthonormal columns.
        for (int p = 0; p < 3; ++p)
            for (int q = 0; q < 3; ++q) {
                double dot = 0;
                for (int i = 0; i < 3; ++i)
                    dot += static_cast<double>(v[i][p]) * v[i][q];
                EXPECT_NEAR(dot, p == q ? 1.0 : 0.0, 1e-5);
            }
    }
}

TEST(ObbFit, PrincipalAxesOfPointCloudsMatchReference)
{
    // Triangles with vertices drawn in a randomly turned box of very unequal
    // sides: the spreads are well separated, so the axes are well defined.
    // With the scale-free axes, also the same clouds a thousand and a
    // million times smaller, whose scatter is far below 1 (the fixed stop
    // returns the set's own axes for those).
    Random rng(11);
    for (int it = 0; it < runs(300); ++it) {
        bool const scaleFree = it % 3 != 0;
        double const unit = it % 3 == 2 ? 1e-6 : it % 6 == 1 ? 1e-3 : 1.0;
        double const ang[3] = {rng.uniform(0, 6.3), rng.uniform(0, 6.3), rng.uniform(0, 6.3)};
        CtvxMat4 rot;
        rot.rotate(std::cos(ang[0]), std::sin(ang[0]) * std::cos(ang[1]), std::sin(ang[0]) * std::sin(ang[1]),
                   static_cast<float>(ang[2]));
        double const sides[3] = {5.0, 2.0, 0.5};
        Mesh m;
        int const n = 20 + static_cast<int>(rng.below(200));
        for (int t = 0; t < n; ++t) {
            for (int j = 0; j < 3; ++j) {
                double p[3];
                for (int k = 0; k < 3; ++k)
                    p[k] = rng.uniform(-sides[k], sides[k]);
                CqarPoint3 const q = rot * CqarPoint3(p[0], p[1], p[2]);
                m.points.push_back({(q[0] + 3.0) * unit, (q[1] - 1.0) * unit, (q[2] + 0.5) * unit});
            }
            unsigned const b = static_cast<unsigned>(3 * t);
            m.triangles.push_back({b, b + 1, b + 2});
        }
        auto poly = builtPoly(m);
        auto probe = FitProbe::create();
        probe->bind(poly);
        float axes[3][3];
        probe->principalAxes(0, n, axes, scaleFree);
        probe->unbind();

        // Reference: scatter about the centre of the bounds, in double,
        // from the same float vertices.
        double lo[3] = {HUGE_VAL, HUGE_VAL, HUGE_VAL}, hi[3] = {-HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
        for (auto const& p : m.points)
            for (int k = 0; k < 3; ++k) {
                lo[k] = std::min(lo[k], static_cast<double>(static_cast<float>(p[k])));
                hi[k] = std::max(hi[k], static_cast<double>(static_cast<float>(p[k])));
            }
        double s[3][3] = {};
        for (auto const& p : m.points)
            for (int i = 0; i < 3; ++i)
                for (int j = 0; j < 3; ++j)
                    s[i][j] += (static_cast<float>(p[i]) - 0.5 * (lo[i] + hi[i])) *
                               (static_cast<float>(p[j]) - 0.5 * (lo[j] + hi[j]));
        double d[3], v[3][3];
        referenceEigen(s, d, v);
        int order[3] = {0, 1, 2};
        std::sort(order, order + 3, [&](int x, int y) { return d[x] > d[y]; });
        if (d[order[0]] < 1.05 * d[order[1]] || d[order[1]] < 1.05 * d[order[2]])
            continue; // too close to call; the draw is designed to avoid it
        for (int k = 0; k < 2; ++k) {
            double dot = 0.0;
            for (int i = 0; i < 3; ++i)
                dot += axes[i][k] * v[i][order[k]];
            EXPECT_GT(std::fabs(dot), 1.0 - 1e-4)
                << "seed 11 case " << it << " unit " << unit << (scaleFree ? " scale-free" : "") << " axis " << k;
        }
        // Axis 2 completes a right-handed frame.
        double const c[3] = {axes[1][0] * axes[2][1] - axes[2][0] * axes[1][1],
                             axes[2][0] * axes[0][1] - axes[0][0] * axes[2][1],
                             axes[0][0] * axes[1][1] - axes[1][0] * axes[0][1]};
        for (int i = 0; i < 3; ++i)
            EXPECT_NEAR(axes[i][2], c[i], 1e-6);
    }
}

TEST(ObbFit, TreeScaleFromTheRootBox)
{
    FactorySettingsGuard const settings;
    CtvxPolyhedronOBBTreeFactory::conservativeBoxes(false);
    // Centred at the origin with largest half extent 0.5: 65504 / (0.5 * 2),
    // above 1, so kept but not applied.
    {
        auto poly = builtPoly(cornerPoints(0.5, 0.25, 0.125, 0.0));
        CtvxPolyhedronOBBTree* tree = treeOf(*poly);
        EXPECT_EQ(tree->storedScale(), 65504.0f);
        EXPECT_EQ(tree->scale(), 1.0);
        EXPECT_EQ(tree->convertToScaledFloat(3.0f), 3.0f);
        float h[3];
        tree->getObb(0)->getHalfLengths(h[0], h[1], h[2]);
        EXPECT_EQ(h[0], CtvxHalf::toFloat(CtvxHalf::fromFloat(1.0f * 0.505f)));
    }
    // Reach w + m = 99999 + 1: 65504 / 200000 = 0.32752 and every stored
    // length is multiplied by it.
    {
        auto poly = builtPoly(cornerPoints(1.0, 0.5, 0.25, 99999.0));
        CtvxPolyhedronOBBTree* tree = treeOf(*poly);
        float const s = static_cast<float>(65504.0 / 200000.0);
        // Seven boxes were fitted; had any box after the root set the scale
        // again, a child's smaller reach would show here.
        EXPECT_EQ(tree->countObbs(), 7);
        EXPECT_EQ(tree->storedScale(), s);
        EXPECT_DOUBLE_EQ(tree->scale(), static_cast<double>(s));
        CtvxOBB const* root = tree->getObb(0);
        float c[3], h[3];
        root->getRelativeTranslations(c[0], c[1], c[2]);
        root->getHalfLengths(h[0], h[1], h[2]);
        EXPECT_EQ(c[0], CtvxHalf::toFloat(CtvxHalf::fromFloat(99999.0f * s)));
        EXPECT_EQ(h[0], CtvxHalf::toFloat(CtvxHalf::fromFloat((2.0f * 0.505f) * s)));
        EXPECT_EQ(h[1], CtvxHalf::toFloat(CtvxHalf::fromFloat((1.0f * 0.505f) * s)));
        // The own box is in true lengths again: the stored centre read back
        // through the scale.
        CtvxObjectOBB const* own = poly->polyObb();
        CqarMat4 P;
        own->getRelativePosition(P);
        EXPECT_NEAR(P(0, 3), 100000.0, 1.0);
    }
    CtvxPolyhedronOBBTreeFactory::conservativeBoxes(true);
    // With the mend the root must still hold the box, whose decoded centre
    // is a whole unit off (binary16 spacing at 32752 is 32 stored units).
    {
        auto poly = builtPoly(cornerPoints(1.0, 0.5, 0.25, 99999.0));
        CtvxPolyhedronOBBTree* tree = treeOf(*poly);
        float h[3];
        tree->getObb(0)->getHalfLengths(h[0], h[1], h[2]);
        EXPECT_GE(tree->convertFromScaledFloat(h[0]), 2.0f);
    }
}

TEST(ObbFit, AxisAlignedFit)
{
    FactorySettingsGuard const settings;
    CtvxPolyhedronOBBTreeFactory::algoObbPlacement(CtvxPolyhedronOBBTreeFactory::OBB_PLACEMENT_AABB_LIKE);
    CtvxPolyhedronOBBTreeFactory::conservativeBoxes(false);
    // A set longest along z, far from the origin: no scale, boxes exactly
    // the bounds, the split along z.
    Mesh m = makeNeedle(6, 8.0, 0.5);
    for (auto& p : m.points)
        p = {p[1] + 100.0, p[2], p[0] + 50.0}; // x -> z
    auto poly = builtPoly(m);
    CtvxPolyhedronOBBTree* tree = treeOf(*poly);
    EXPECT_EQ(tree->storedScale(), 1.0f);
    CtvxOBB const* root = tree->getObb(0);
    float h[3], c[3];
    root->getHalfLengths(h[0], h[1], h[2]);
    root->getRelativeTranslations(c[0], c[1], c[2]);
    EXPECT_EQ(h[2], 4.0f);
    EXPECT_EQ(c[0], 100.0f);
    EXPECT_EQ(c[2], 50.0f);
    CtvxMat4 R;
    root->getRelativeRotation(R);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(std::fabs(R(i, i)), 1.0f);
    // Every triangle of the first child lies below the split at z = 50.
    TreeShape const shape = walkTree(*tree, poly->countTriangles());
    ASSERT_EQ(shape.error, "");
    int const c1 = root->getChild1Rank();
    ASSERT_GT(c1, 0);

    auto probe = FitProbe::create();
    probe->bind(poly);
    CqarVect3 axis;
    double split = 0.0;
    probe->axisAlignedBox(0, static_cast<int>(poly->countTriangles()), axis, split);
    EXPECT_EQ(axis[0], 0.0);
    EXPECT_EQ(axis[1], 0.0);
    EXPECT_EQ(axis[2], 1.0);
    EXPECT_EQ(split, 50.0);
    probe->unbind();

    // Equal extents in x and y: y wins the tie.
    Mesh square = makeGrid(4, 4, 2.0, 2.0);
    auto flat = builtPoly(square);
    probe->bind(flat);
    probe->axisAlignedBox(0, static_cast<int>(flat->countTriangles()), axis, split);
    EXPECT_EQ(axis[1], 1.0);
    probe->unbind();
    CtvxPolyhedronOBBTreeFactory::conservativeBoxes(true);
    CtvxPolyhedronOBBTreeFactory::algoObbPlacement(CtvxPolyhedronOBBTreeFactory::OBB_PLACEMENT_DEFAULT);
}
