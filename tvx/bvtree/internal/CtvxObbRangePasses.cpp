#include <tvx/bvtree/internal/CtvxObbRangePasses.h>

#include <tvx/bvtree/internal/CtvxLanes.h>
#include <tvx/bvtree/internal/CtvxObbBuildSet.h>
#include <tvx/bvtree/internal/CtvxObbRoundingMend.h>

#include <qar/CqarVect3.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>

using tvx_lanes::Float4;

namespace {

// Folds the three vertices of a triangle into lo and hi, lane k gathering
// coordinate k from (x0 y0 z0 .), (x1 y1 z1 .) and (x2 y2 z2 .). The fourth
// lanes carry other coordinates of the same triangle (the third vertex is
// loaded from one float earlier and moved down a lane, so that the load
// stays within the triangle's nine) and are never read.
inline void foldTriangle(float const* v, Float4& lo, Float4& hi)
{
    Float4 const a = Float4::load(v);
    Float4 const c = Float4::load(v + 3);
    Float4 const d = Float4::load(v + 5).permute<1, 2, 3, 3>();
    lo = min(min(min(a, c), d), lo);
    hi = max(max(max(a, c), d), hi);
}

void storeBounds(Float4 lo, Float4 hi, CtvxObbBounds& b)
{
    float l[4], h[4];
    lo.store(l);
    hi.store(h);
    std::memcpy(b.lo, l, sizeof b.lo);
    std::memcpy(b.hi, h, sizeof b.hi);
}

} // namespace

void CtvxObbRangePasses::boundsInOrder(CtvxObbBuildSet const& set, int first, int count, CtvxObbBounds& b)
{
    for (int k = 0; k < 3; ++k)
        b.lo[k] = b.hi[k] = 0.0f;
    for (int i = 0; i < count; ++i) {
        float const* v = set.vertices(first + i);
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k) {
                float const x = v[3 * j + k];
                if (i == 0 && j == 0) {
                    b.lo[k] = b.hi[k] = x;
                } else {
                    b.lo[k] = std::min(b.lo[k], x);
                    b.hi[k] = std::max(b.hi[k], x);
                }
            }
    }
}

void CtvxObbRangePasses::boundsSideBySide(CtvxObbBuildSet const& set, int first, int count, CtvxObbBounds& b)
{
    // Without NaN and -0 the minimum and maximum do not depend on the order.
    Float4 lo = Float4::broadcast(HUGE_VALF), hi = Float4::broadcast(-HUGE_VALF);
    float const* v = set.vertices(first);
    for (int i = 0; i < count; ++i, v += 9)
        foldTriangle(v, lo, hi);
    storeBounds(lo, hi, b);
}

void CtvxObbRangePasses::bounds(CtvxObbBuildSet const& set, int first, int count, CtvxObbBounds& b)
{
    if (set.orderFree() && count > 0)
        boundsSideBySide(set, first, count, b);
    else
        boundsInOrder(set, first, count, b);
}

void CtvxObbRangePasses::scatter(CtvxObbBuildSet const& set, int first, int count, CtvxObbBounds const& b,
                                 float (*scatter)[3])
{
    float const c[3] = {(b.lo[0] + b.hi[0]) * 0.5f, (b.lo[1] + b.hi[1]) * 0.5f, (b.lo[2] + b.hi[2]) * 0.5f};
    // The six sums side by side, (s00 s01 s02 s11) and (s12 s22 . .), from
    // d = (dx dy dz .): each lane adds its products in range order.
    Float4 const centre = Float4::set(c[0], c[1], c[2], 0.0f);
    Float4 accA = Float4::broadcast(0.0f), accB = Float4::broadcast(0.0f);
    float const* v = set.vertices(first);
    for (int i = 0; i < count; ++i, v += 9)
        for (int j = 0; j < 3; ++j) {
            Float4 const d = Float4::load(v + 3 * j) - centre;
            accA = accA + d.permute<0, 0, 0, 1>() * d.permute<0, 1, 2, 1>();
            accB = accB + d.permute<1, 2, 3, 3>() * d.permute<2, 2, 3, 3>();
        }
    float a[4], s[4];
    accA.store(a);
    accB.store(s);
    float const sums[3][3] = {{a[0], a[1], a[2]}, {a[1], a[3], s[0]}, {a[2], s[0], s[1]}};
    std::memcpy(scatter, sums, sizeof sums);
}

void CtvxObbRangePasses::extentsInOrder(CtvxObbBuildSet const& set, int first, int count, float const (*axes)[3],
                                        float (*dims)[3])
{
    for (int k = 0; k < 3; ++k)
        dims[0][k] = dims[1][k] = 0.0f;
    for (int i = 0; i < count; ++i) {
        float const* v = set.vertices(first + i);
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k) {
                float const p = v[3 * j] * axes[0][k] + v[3 * j + 1] * axes[1][k] + v[3 * j + 2] * axes[2][k];
                if (i == 0 && j == 0) {
                    dims[0][k] = dims[1][k] = p;
                } else {
                    dims[0][k] = std::min(dims[0][k], p);
                    dims[1][k] = std::max(dims[1][k], p);
                }
            }
    }
}

void CtvxObbRangePasses::extentsSideBySide(CtvxObbBuildSet const& set, int first, int count,
                                           float const (*axes)[3], float (*dims)[3])
{
    // Finite vertices and bounded axes give finite projections, so the
    // extremes are the same values in any order; only a zero extreme can
    // differ, in its sign (a product may give -0), and the in-order fold
    // keeps the first zero it meets, which the scan below finds. Lane k of a
    // projection is v0 * axes[0][k] + v1 * axes[1][k] + v2 * axes[2][k],
    // summed in that order.
    Float4 const ax = Float4::set(axes[0][0], axes[0][1], axes[0][2], 0.0f);
    Float4 const ay = Float4::set(axes[1][0], axes[1][1], axes[1][2], 0.0f);
    Float4 const az = Float4::set(axes[2][0], axes[2][1], axes[2][2], 0.0f);
    Float4 lo[3], hi[3];
    for (int j = 0; j < 3; ++j) {
        lo[j] = Float4::broadcast(HUGE_VALF);
        hi[j] = Float4::broadcast(-HUGE_VALF);
    }
    float const* v = set.vertices(first);
    for (int i = 0; i < count; ++i, v += 9)
        for (int j = 0; j < 3; ++j) {
            Float4 const p = Float4::broadcast(v[3 * j]) * ax + Float4::broadcast(v[3 * j + 1]) * ay +
                             Float4::broadcast(v[3 * j + 2]) * az;
            lo[j] = min(p, lo[j]);
            hi[j] = max(p, hi[j]);
        }
    float l[4], h[4];
    min(lo[0], min(lo[1], lo[2])).store(l);
    max(hi[0], max(hi[1], hi[2])).store(h);
    for (int k = 0; k < 3; ++k) {
        dims[0][k] = l[k];
        dims[1][k] = h[k];
    }
    for (int k = 0; k < 3; ++k) {
        if (dims[0][k] != 0.0f && dims[1][k] != 0.0f)
            continue;
        float const* w = set.vertices(first);
        for (int i = 0; i < 3 * count; ++i, w += 3) {
            float const p = w[0] * axes[0][k] + w[1] * axes[1][k] + w[2] * axes[2][k];
            if (p == 0.0f) {
                if (dims[0][k] == 0.0f)
                    dims[0][k] = p;
                if (dims[1][k] == 0.0f)
                    dims[1][k] = p;
                break;
            }
        }
    }
}

void CtvxObbRangePasses::extents(CtvxObbBuildSet const& set, int first, int count, float const (*axes)[3],
                                 float (*dims)[3])
{
    bool tameAxes = true;
    for (int i = 0; i < 3; ++i)
        for (int k = 0; k < 3; ++k)
            tameAxes = tameAxes && std::fabs(axes[i][k]) <= 2.0f;
    if (set.orderFree() && tameAxes && count > 0)
        extentsSideBySide(set, first, count, axes, dims);
    else
        extentsInOrder(set, first, count, axes, dims);
}

int CtvxObbRangePasses::split(CtvxObbBuildSet& set, int first, int count, CqarVect3 const& axis, double splitValue,
                              CtvxObbRoundingMend* mend, CtvxObbBounds* parts)
{
    // One pass for the jobs that each read every vertex of the range: the
    // split (in range order), the rounding mend of the node's box (a
    // maximum of absolute values, so the order does not matter) and the
    // bounds of both parts. The mend works on a copy that cannot alias the
    // arrays the swaps write, so that its lanes stay in registers.
    CtvxObbRoundingMend localMend = mend ? *mend : CtvxObbRoundingMend();
    bool const lanes = parts && set.orderFree();
    Float4 lo[2] = {Float4::broadcast(HUGE_VALF), Float4::broadcast(HUGE_VALF)};
    Float4 hi[2] = {Float4::broadcast(-HUGE_VALF), Float4::broadcast(-HUGE_VALF)};

    double const a0 = axis[0], a1 = axis[1], a2 = axis[2];
    double const limit = 3.0 * splitValue;
    double const* const sums = set.centroidSums(first);
    int nLeft = 0;
    for (int i = 0; i < count; ++i) {
        int const p = first + i;
        float v[9];
        std::memcpy(v, set.vertices(p), sizeof v);
        if (mend)
            localMend.addTriangle(v);
        double s0, s1, s2;
        if (!sums) {
            s0 = static_cast<double>(v[0]) + static_cast<double>(v[3]) + static_cast<double>(v[6]);
            s1 = static_cast<double>(v[1]) + static_cast<double>(v[4]) + static_cast<double>(v[7]);
            s2 = static_cast<double>(v[2]) + static_cast<double>(v[5]) + static_cast<double>(v[8]);
        } else {
            double const* s = sums + 3 * static_cast<std::ptrdiff_t>(i);
            s0 = s[0];
            s1 = s[1];
            s2 = s[2];
        }
        double const along = a0 * s0 + a1 * s1 + a2 * s2;
        // A NaN centroid compares unordered and goes to the first part.
        int const side = along >= limit ? 1 : 0;
        if (side == 0) {
            if (p != first + nLeft)
                set.swapPositions(p, first + nLeft);
            ++nLeft;
        }
        if (lanes)
            foldTriangle(v, lo[side], hi[side]);
    }
    if (mend)
        *mend = localMend;

    if (nLeft == 0 || nLeft == count) {
        // All centroids on one side: the range is cut in the middle of its
        // order, which the pass left unchanged.
        nLeft = count / 2;
        if (lanes) {
            boundsSideBySide(set, first, nLeft, parts[0]);
            boundsSideBySide(set, first + nLeft, count - nLeft, parts[1]);
        }
    } else if (lanes) {
        storeBounds(lo[0], hi[0], parts[0]);
        storeBounds(lo[1], hi[1], parts[1]);
    }
    return nLeft;
}
