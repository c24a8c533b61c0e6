#include <tests/support/ReferenceObbTreeBuilder.h>

#include <tvx/bvtree/CtvxHalf.h>
#include <tvx/bvtree/CtvxOBB.h>
#include <tvx/bvtree/internal/CtvxObbEigen.h>
#include <tvx/bvtree/internal/CtvxObbFits.h>
#include <tvx/geometry/CtvxPoly.h>
#include <tvx/math/CtvxMat4.h>
#include <tvx/scene/CtvxObjectOBB.h>

#include <qar/CqarQuatF.h>
#include <qar/CqarVect3.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <type_traits>
#include <utility>

namespace tvxtest {

namespace {

static_assert(std::is_trivially_copyable<CtvxOBB>::value, "boxes are copied as bytes");
static_assert(sizeof(CtvxOBB) == sizeof(ReferenceBox), "same record size");

// Stored values go through the library's binary16 conversion, which
// tests/bvtree/Binary16Test.cpp checks on its own against a model in double.
void setHalfLengths(ReferenceBox& b, float x, float y, float z)
{
    b.halfLengths[0] = CtvxHalf::fromFloat(x);
    b.halfLengths[1] = CtvxHalf::fromFloat(y);
    b.halfLengths[2] = CtvxHalf::fromFloat(z);
}

void setTranslation(ReferenceBox& b, float x, float y, float z)
{
    b.translation[0] = CtvxHalf::fromFloat(x);
    b.translation[1] = CtvxHalf::fromFloat(y);
    b.translation[2] = CtvxHalf::fromFloat(z);
}

void setRotation(ReferenceBox& b, CqarQuatF const& q)
{
    b.rotation[0] = CtvxHalf::fromFloat(q.x());
    b.rotation[1] = CtvxHalf::fromFloat(q.y());
    b.rotation[2] = CtvxHalf::fromFloat(q.z());
    b.rotation[3] = CtvxHalf::fromFloat(q.w());
}

CtvxOBB asObb(ReferenceBox const& b)
{
    CtvxOBB o;
    std::memcpy(static_cast<void*>(&o), &b, sizeof o);
    return o;
}

void rotatePair(float& x, float& y, float s, float tau)
{
    float const g = x;
    float const h = y;
    x = g - s * (h + g * tau);
    y = h + s * (g - h * tau);
}

} // namespace

int referenceJacobi(float (*a)[3], float* d, float (*v)[3], bool scaleFree)
{
    double stop = 1e-5;
    if (scaleFree) {
        double const diagonal = std::fabs(static_cast<double>(a[0][0])) + std::fabs(static_cast<double>(a[1][1])) +
                                std::fabs(static_cast<double>(a[2][2]));
        stop = diagonal < 1.0 ? 1e-5 * diagonal : 1e-5;
    }
    float b[3], z[3];
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j)
            v[i][j] = i == j ? 1.0f : 0.0f;
        b[i] = d[i] = a[i][i];
        z[i] = 0.0f;
    }
    for (int sweep = 0; sweep < 50; ++sweep) {
        float const sm = std::fabs(a[0][1]) + std::fabs(a[0][2]) + std::fabs(a[1][2]);
        if (static_cast<double>(sm) < stop || (scaleFree && static_cast<double>(sm) == stop))
            return sweep;
        float const threshold = sweep < 3 ? 0.2f * sm * 0.11111111f : 0.0f;
        int const pairs[3][2] = {{0, 1}, {0, 2}, {1, 2}};
        for (auto const& pq : pairs) {
            int const p = pq[0];
            int const q = pq[1];
            float const g = 100.0f * std::fabs(a[p][q]);
            if (sweep > 3 && std::fabs(d[p]) + g == std::fabs(d[p]) && std::fabs(d[q]) + g == std::fabs(d[q])) {
                a[p][q] = 0.0f;
            } else if (std::fabs(a[p][q]) > threshold) {
                float h = d[q] - d[p];
                float t;
                if (std::fabs(h) + g == std::fabs(h)) {
                    t = a[p][q] / h;
                } else {
                    float const theta = 0.5f * h / a[p][q];
                    float const theta2 = theta * theta;
                    t = static_cast<float>(1.0 / (static_cast<double>(std::fabs(theta)) +
                                                  std::sqrt(1.0 + static_cast<double>(theta2))));
                    if (theta < 0.0f)
                        t = -t;
                }
                float const c = 1.0f / std::sqrt(1.0f + t * t);
                float const s = t * c;
                float const tau = s / (1.0f + c);
                h = t * a[p][q];
                z[p] -= h;
                z[q] += h;
                d[p] -= h;
                d[q] += h;
                a[p][q] = 0.0f;
                if (p == 0 && q == 1)
                    rotatePair(a[0][2], a[1][2], s, tau);
                else if (p == 0)
                    rotatePair(a[0][1], a[1][2], s, tau);
                else
                    rotatePair(a[0][1], a[0][2], s, tau);
                for (int j = 0; j < 3; ++j)
                    rotatePair(v[j][p], v[j][q], s, tau);
            }
        }
        for (int i = 0; i < 3; ++i) {
            b[i] += z[i];
            d[i] = b[i];
            z[i] = 0.0f;
        }
    }
    return -1;
}

namespace {

class Builder {
public:
    explicit Builder(CtvxPoly const& poly) : m_poly(poly) {}

    ReferenceTree run()
    {
        unsigned int const n = m_poly.countTriangles();
        m_algo = CtvxPolyhedronOBBTreeFactory::algoObbPlacement();
        m_mend = CtvxPolyhedronOBBTreeFactory::conservativeBoxes();
        m_scaleFree = CtvxPolyhedronOBBTreeFactory::scaleFreeAxes();
        if (n == 0)
            return std::move(m_out);
        m_out.boxes.resize(n - 1);
        m_ranks.resize(n);
        m_points.resize(static_cast<std::size_t>(n) * 9);
        for (unsigned int t = 0; t < n; ++t) {
            m_ranks[t] = t;
            CqarPoint3 p[3];
            m_poly.getTriangle(t, p);
            for (int j = 0; j < 3; ++j)
                for (int k = 0; k < 3; ++k)
                    m_points[9 * static_cast<std::size_t>(t) + 3 * static_cast<std::size_t>(j) +
                             static_cast<std::size_t>(k)] = p[j][k];
        }
        m_next = 1;
        CtvxObjectOBB own;
        if (n == 1) {
            // The lone triangle's box is the library's, which ObbFitTest
            // checks against boxes worked out by hand.
            CqarPoint3 p[3];
            m_poly.getTriangle(0, p);
            CtvxOBB o;
            CtvxObbFits::oneTriangleBox(p, o);
            own = CtvxObjectOBB(o, scale());
        } else {
            recurse(0, 0, static_cast<int>(n), 1);
            CtvxOBB o = asObb(m_out.boxes[0]);
            own = CtvxObjectOBB(o, scale());
        }
        if (m_mend)
            mendOwn(own, static_cast<int>(n));
        m_out.hasOwnBox = true;
        own.getRelativePosition(m_out.ownPosition);
        own.getHalfLengths(m_out.ownHalfLengths[0], m_out.ownHalfLengths[1], m_out.ownHalfLengths[2]);
        return std::move(m_out);
    }

private:
    // Vertex j, coordinate k of the triangle at position pos, narrowed.
    float vf(int pos, int j, int k) const { return static_cast<float>(vd(pos, j, k)); }
    double vd(int pos, int j, int k) const
    {
        return m_points[9 * static_cast<std::size_t>(m_ranks[static_cast<std::size_t>(pos)]) +
                        3 * static_cast<std::size_t>(j) + static_cast<std::size_t>(k)];
    }

    double scale() const { return m_out.storedScale > 1.0f ? 1.0 : static_cast<double>(m_out.storedScale); }
    float toScaled(float v) const { return m_out.storedScale > 1.0f ? v : v * m_out.storedScale; }
    float fromScaled(float v) const { return m_out.storedScale > 1.0f ? v : v / m_out.storedScale; }

    void recurse(int node, int first, int count, int depth)
    {
        m_out.depth = std::max(m_out.depth, depth);
        CqarVect3 axis(1.0, 0.0, 0.0);
        double splitValue = 0.0;
        if (m_algo == CtvxPolyhedronOBBTreeFactory::OBB_PLACEMENT_AABB_LIKE)
            fitAabbLike(node, first, count, axis, splitValue);
        else
            fitDefault(node, first, count, axis, splitValue);
        int const nLeft = split(first, count, axis, splitValue);
        ReferenceBox& box = m_out.boxes[static_cast<std::size_t>(node)];
        auto tri = [&](int pos) { return -static_cast<int>(m_ranks[static_cast<std::size_t>(pos)]); };
        if (nLeft == 1) {
            box.child1 = tri(first);
            if (count == 2) {
                box.child2 = tri(first + 1);
            } else {
                int const r = m_next++;
                box.child2 = r;
                recurse(r, first + 1, count - 1, depth + 1);
            }
        } else if (count - nLeft == 1) {
            int const r = m_next++;
            box.child1 = r;
            box.child2 = tri(first + nLeft);
            recurse(r, first, nLeft, depth + 1);
        } else {
            int const r = m_next;
            m_next += 2;
            box.child1 = r;
            box.child2 = r + 1;
            recurse(r, first, nLeft, depth + 1);
            recurse(r + 1, first + nLeft, count - nLeft, depth + 1);
        }
        m_out.reports.push_back(static_cast<unsigned int>(first));
    }

    int split(int first, int count, CqarVect3 const& axis, double splitValue)
    {
        int nLeft = 0;
        for (int i = 0; i < count; ++i) {
            int const p = first + i;
            double s[3];
            for (int k = 0; k < 3; ++k)
                s[k] = vd(p, 0, k) + vd(p, 1, k) + vd(p, 2, k);
            double const along = axis[0] * s[0] + axis[1] * s[1] + axis[2] * s[2];
            if (!(along >= 3.0 * splitValue)) {
                std::swap(m_ranks[static_cast<std::size_t>(p)], m_ranks[static_cast<std::size_t>(first + nLeft)]);
                ++nLeft;
            }
        }
        if (nLeft == 0 || nLeft == count)
            nLeft = count / 2;
        return nLeft;
    }

    void bounds(int first, int count, float* lo, float* hi) const
    {
        for (int k = 0; k < 3; ++k)
            lo[k] = hi[k] = 0.0f;
        for (int i = 0; i < count; ++i)
            for (int j = 0; j < 3; ++j)
                for (int k = 0; k < 3; ++k) {
                    float const x = vf(first + i, j, k);
                    if (i == 0 && j == 0) {
                        lo[k] = hi[k] = x;
                    } else {
                        lo[k] = std::min(lo[k], x);
                        hi[k] = std::max(hi[k], x);
                    }
                }
    }

    void fitAabbLike(int node, int first, int count, CqarVect3& axis, double& splitValue)
    {
        float lo[3], hi[3];
        bounds(first, count, lo, hi);
        float const e[3] = {hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2]};
        ReferenceBox& box = m_out.boxes[static_cast<std::size_t>(node)];
        setHalfLengths(box, e[0] * 0.5f, e[1] * 0.5f, e[2] * 0.5f);
        setTranslation(box, (lo[0] + hi[0]) * 0.5f, (lo[1] + hi[1]) * 0.5f, (lo[2] + hi[2]) * 0.5f);
        setRotation(box, CqarQuatF(0.0f, 1.0f, 0.0f, 0.0f));
        if (e[0] > e[1] && e[0] > e[2]) {
            axis.setValue(1.0, 0.0, 0.0);
            splitValue = CtvxHalf::toFloat(box.translation[0]);
        } else if (e[2] > e[1]) {
            axis.setValue(0.0, 0.0, 1.0);
            splitValue = CtvxHalf::toFloat(box.translation[2]);
        } else {
            axis.setValue(0.0, 1.0, 0.0);
            splitValue = CtvxHalf::toFloat(box.translation[1]);
        }
        if (m_mend)
            mend(box, first, count);
    }

    void principalAxes(int first, int count, float (*axes)[3]) const
    {
        float lo[3], hi[3];
        bounds(first, count, lo, hi);
        float const c[3] = {(lo[0] + hi[0]) * 0.5f, (lo[1] + hi[1]) * 0.5f, (lo[2] + hi[2]) * 0.5f};
        float s00 = 0.0f, s01 = 0.0f, s02 = 0.0f, s11 = 0.0f, s12 = 0.0f, s22 = 0.0f;
        for (int i = 0; i < count; ++i)
            for (int j = 0; j < 3; ++j) {
                float const dx = vf(first + i, j, 0) - c[0];
                float const dy = vf(first + i, j, 1) - c[1];
                float const dz = vf(first + i, j, 2) - c[2];
                s00 += dx * dx;
                s01 += dx * dy;
                s02 += dx * dz;
                s11 += dy * dy;
                s12 += dy * dz;
                s22 += dz * dz;
            }
        float a[3][3] = {{s00, s01, s02}, {s01, s11, s12}, {s02, s12, s22}};
        float d[3], v[3][3];
        referenceJacobi(a, d, v, m_scaleFree);
        // Which eigenvector becomes which axis is the library's rule, which
        // ObbFitTest checks on every order and tie of three eigenvalues.
        CtvxObbEigen::axesFromEigen(d, v, axes);
    }

    void fitDefault(int node, int first, int count, CqarVect3& axis, double& splitValue)
    {
        float axes[3][3];
        principalAxes(first, count, axes);
        float lo[3] = {0.0f, 0.0f, 0.0f}, hi[3] = {0.0f, 0.0f, 0.0f};
        for (int i = 0; i < count; ++i)
            for (int j = 0; j < 3; ++j)
                for (int k = 0; k < 3; ++k) {
                    float const p = vf(first + i, j, 0) * axes[0][k] + vf(first + i, j, 1) * axes[1][k] +
                                    vf(first + i, j, 2) * axes[2][k];
                    if (i == 0 && j == 0) {
                        lo[k] = hi[k] = p;
                    } else {
                        lo[k] = std::min(lo[k], p);
                        hi[k] = std::max(hi[k], p);
                    }
                }
        CqarMat4 M;
        for (int i = 0; i < 3; ++i)
            for (int k = 0; k < 3; ++k)
                M(i, k) = static_cast<double>(axes[i][k]);
        float const c[3] = {(lo[0] + hi[0]) * 0.5f, (lo[1] + hi[1]) * 0.5f, (lo[2] + hi[2]) * 0.5f};
        CqarPoint3 const C = M * CqarPoint3(c[0], c[1], c[2]);
        if (m_firstBox) {
            float m = 0.0f;
            double w = 0.0;
            for (int k = 0; k < 3; ++k) {
                m = std::max(m, (hi[k] - lo[k]) * 0.5f);
                w = std::max(w, std::fabs(C[k]));
            }
            m_out.storedScale = static_cast<float>(65504.0 / ((w + static_cast<double>(m)) * 2.0));
            m_firstBox = false;
        }
        float const sigma = m_out.storedScale <= 1.0f ? m_out.storedScale : 1.0f;
        ReferenceBox& box = m_out.boxes[static_cast<std::size_t>(node)];
        setHalfLengths(box, ((hi[0] - lo[0]) * 0.505f) * sigma, ((hi[1] - lo[1]) * 0.505f) * sigma,
                       ((hi[2] - lo[2]) * 0.505f) * sigma);
        setRotation(box, CqarQuatF(M));
        axis.setValue(axes[0][0], axes[1][0], axes[2][0]);
        splitValue = axis.scalarProduct(C);
        setTranslation(box, static_cast<float>(C[0]) * sigma, static_cast<float>(C[1]) * sigma,
                       static_cast<float>(C[2]) * sigma);
        if (m_mend)
            mend(box, first, count);
    }

    std::uint16_t roundedUp(double needed) const
    {
        std::uint16_t h = CtvxHalf::fromFloatUp(toScaled(static_cast<float>(needed)));
        while (h < 0x7C00u && static_cast<double>(fromScaled(CtvxHalf::toFloat(h))) < needed)
            ++h;
        return h;
    }

    void mend(ReferenceBox& box, int first, int count) const
    {
        CtvxOBB const decoded = asObb(box);
        CtvxMat4 R;
        decoded.getRelativeRotation(R);
        double c[3], r[3][3];
        for (int i = 0; i < 3; ++i) {
            c[i] = static_cast<double>(fromScaled(CtvxHalf::toFloat(box.translation[i])));
            for (int k = 0; k < 3; ++k)
                r[i][k] = static_cast<double>(R(i, k));
        }
        double e[3] = {0.0, 0.0, 0.0};
        for (int i = 0; i < count; ++i)
            for (int j = 0; j < 3; ++j) {
                double const d0 = static_cast<double>(vf(first + i, j, 0)) - c[0];
                double const d1 = static_cast<double>(vf(first + i, j, 1)) - c[1];
                double const d2 = static_cast<double>(vf(first + i, j, 2)) - c[2];
                for (int k = 0; k < 3; ++k)
                    e[k] = std::max(e[k], std::fabs(r[0][k] * d0 + r[1][k] * d1 + r[2][k] * d2));
            }
        double const reach = std::max(std::fabs(c[0]), std::max(std::fabs(c[1]), std::fabs(c[2]))) +
                             std::max(e[0], std::max(e[1], e[2]));
        for (int k = 0; k < 3; ++k) {
            double const needed = e[k] + reach / 1048576.0;
            if (static_cast<double>(fromScaled(CtvxHalf::toFloat(box.halfLengths[k]))) < needed)
                box.halfLengths[k] = std::max(box.halfLengths[k], roundedUp(needed));
        }
    }

    void mendOwn(CtvxObjectOBB& box, int count) const
    {
        CqarMat4 P;
        box.getRelativePosition(P);
        float h[3];
        box.getHalfLengths(h[0], h[1], h[2]);
        double e[3] = {0.0, 0.0, 0.0};
        for (int i = 0; i < count; ++i)
            for (int j = 0; j < 3; ++j) {
                double const d0 = static_cast<double>(vf(i, j, 0)) - P(0, 3);
                double const d1 = static_cast<double>(vf(i, j, 1)) - P(1, 3);
                double const d2 = static_cast<double>(vf(i, j, 2)) - P(2, 3);
                for (int k = 0; k < 3; ++k)
                    e[k] = std::max(e[k], std::fabs(P(0, k) * d0 + P(1, k) * d1 + P(2, k) * d2));
            }
        double const reach = std::max(std::fabs(P(0, 3)), std::max(std::fabs(P(1, 3)), std::fabs(P(2, 3)))) +
                             std::max(e[0], std::max(e[1], e[2]));
        for (int k = 0; k < 3; ++k) {
            double const needed = e[k] + reach / 1048576.0;
            if (static_cast<double>(h[k]) < needed) {
                float up = static_cast<float>(needed);
                if (static_cast<double>(up) < needed)
                    up = std::nextafter(up, HUGE_VALF);
                h[k] = up;
            }
        }
        box.halfLengths(h[0], h[1], h[2]);
    }

    CtvxPoly const& m_poly;
    ReferenceTree m_out;
    std::vector<unsigned int> m_ranks;
    std::vector<double> m_points; // by triangle rank, nine doubles each
    int m_next = 1;
    bool m_firstBox = true;
    CtvxPolyhedronOBBTreeFactory::EAlgoObbPlacement m_algo = CtvxPolyhedronOBBTreeFactory::OBB_PLACEMENT_DEFAULT;
    bool m_mend = true;
    bool m_scaleFree = false;
};

} // namespace

ReferenceTree buildReferenceTree(CtvxPoly const& poly)
{
    return Builder(poly).run();
}

} // namespace tvxtest
