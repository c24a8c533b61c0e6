// The contact tests of two triangles: the separating axes in single
// precision and the one contact decision of the pair analysis.

#include <tvx/analysis/internal/CtvxProximityKernels.h>

#include <tvx/analysis/internal/CtvxExactPredicates.h>
#include <tvx/analysis/internal/CtvxKernelVectors.h>

#include <algorithm>
#include <cmath>
#include <limits>

using namespace tvxkernels;

namespace {

// Largest and least of three projections, compared in the order given.
inline void span(float a, float b, float c, float& outMax, float& outMin)
{
    outMax = a;
    outMin = a;
    if (b > outMax)
        outMax = b;
    if (b < outMin)
        outMin = b;
    if (c > outMax)
        outMax = c;
    if (c < outMin)
        outMin = c;
}

} // namespace

int CtvxProximityKernels::project6(float* axis, float* p1, float* p2, float* p3, float* q1, float* q2, float* q3,
                                   float& outSeparation) const
{
    float len;
    return project6(axis, p1, p2, p3, q1, q2, q3, outSeparation, len);
}

int CtvxProximityKernels::project6(float* axis, float* p1, float* p2, float* p3, float* q1, float* q2, float* q3,
                                   float& outSeparation, float& outAxisLength) const
{
    float const P1 = vDot(axis, p1);
    float const P2 = vDot(axis, p2);
    float const P3 = vDot(axis, p3);
    float const Q1 = vDot(axis, q1);
    float const Q2 = vDot(axis, q2);
    float const Q3 = vDot(axis, q3);

    float mx1, mn1, mx2, mn2;
    span(P1, P2, P3, mx1, mn1);
    span(Q1, Q2, Q3, mx2, mn2);

    // The axis is not normalised: scale the tolerance to it instead, and
    // divide only the separation that is reported.
    float const len2 = vDot(axis, axis);
    float len = std::sqrt(len2);
    if (len2 < std::numeric_limits<float>::min()) {
        // The squared length of a product of three short edges (triangles
        // below about 1e-6 across) underflows in single precision and its
        // root loses every digit, turning a separation into infinity. The
        // length itself is representable; take it from double precision.
        double const x = axis[0];
        double const y = axis[1];
        double const zz = axis[2];
        len = static_cast<float>(std::sqrt(x * x + y * y + zz * zz));
    }
    outAxisLength = len;
    float const tl = len * m_triangleTolerance;
    if (mn1 > mx2 + tl) {
        outSeparation = (mn1 - mx2 - tl) / len;
        return 0;
    }
    if (mn2 > mx1 + tl) {
        outSeparation = (mn2 - mx1 - tl) / len;
        return 0;
    }
    return 1;
}

// Separating axes of two triangles: the two normals, the nine edge-edge
// cross products (enough for triangles in general position), and the six
// in-plane edge normals (needed when the triangles are coplanar). Vertices
// are taken relative to p0 to keep the products small.
bool CtvxProximityKernels::triContact(float const (*const p)[3], float const (*const q)[3],
                                      float& outSeparation) const
{
    float len;
    if (scanAxes(p, q, outSeparation, len) != 0)
        return false;

    // The axes are complete only when both triangles have a normal. A
    // triangle with repeated or exactly collinear vertices is a segment or
    // a point, and then the separating direction can be one they never
    // form: the in-plane normal of a segment lying in the other triangle's
    // plane, the common normal of two parallel segments, the line between
    // two points. Such pairs would all be reported in contact whatever
    // their distance. Their distance settles them.
    // The distance is taken with the origin moved to p0, as the axes were.
    float pt[3][3] = {{0.0f, 0.0f, 0.0f}, {0.0f, 0.0f, 0.0f}, {0.0f, 0.0f, 0.0f}};
    float qt[3][3];
    vSub(pt[1], p[1], p[0]);
    vSub(pt[2], p[2], p[0]);
    for (int k = 0; k < 3; ++k)
        vSub(qt[k], q[k], p[0]);
    float e[3], f[3], np[3], nq[3];
    vSub(e, pt[1], pt[0]);
    vSub(f, pt[2], pt[1]);
    vCross(np, e, f);
    vSub(e, qt[1], qt[0]);
    vSub(f, qt[2], qt[1]);
    vCross(nq, e, f);
    bool const pFlat = np[0] == 0.0f && np[1] == 0.0f && np[2] == 0.0f;
    bool const qFlat = nq[0] == 0.0f && nq[1] == 0.0f && nq[2] == 0.0f;
    if (pFlat || qFlat) {
        float cp[3];
        float cq[3];
        float const d = TriDist(cp, cq, pt, qt) - m_triangleTolerance;
        if (d > 0.0f) {
            outSeparation = d;
            return false;
        }
    }
    return true;
}

int CtvxProximityKernels::scanAxes(float const (*const p)[3], float const (*const q)[3], float& outSeparation,
                                   float& outAxisLength) const
{
    float p1[3] = {0.0f, 0.0f, 0.0f};
    float p2[3];
    float p3[3];
    float q1[3];
    float q2[3];
    float q3[3];
    vSub(p2, p[1], p[0]);
    vSub(p3, p[2], p[0]);
    vSub(q1, q[0], p[0]);
    vSub(q2, q[1], p[0]);
    vSub(q3, q[2], p[0]);

    float e[3][3];
    float f[3][3];
    vSub(e[0], p2, p1);
    vSub(e[1], p3, p2);
    vSub(e[2], p1, p3);
    vSub(f[0], q2, q1);
    vSub(f[1], q3, q2);
    vSub(f[2], q1, q3);

    float np[3];
    float nq[3];
    vCross(np, e[0], e[1]);
    vCross(nq, f[0], f[1]);

    float axis[3];
    if (project6(np, p1, p2, p3, q1, q2, q3, outSeparation, outAxisLength) == 0)
        return 1;
    if (project6(nq, p1, p2, p3, q1, q2, q3, outSeparation, outAxisLength) == 0)
        return 1;
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            vCross(axis, e[i], f[j]);
            if (project6(axis, p1, p2, p3, q1, q2, q3, outSeparation, outAxisLength) == 0)
                return 1;
        }
    }
    for (int i = 0; i < 3; ++i) {
        vCross(axis, e[i], np);
        if (project6(axis, p1, p2, p3, q1, q2, q3, outSeparation, outAxisLength) == 0)
            return 1;
    }
    for (int j = 0; j < 3; ++j) {
        vCross(axis, f[j], nq);
        if (project6(axis, p1, p2, p3, q1, q2, q3, outSeparation, outAxisLength) == 0)
            return 1;
    }

    return 0;
}

bool CtvxProximityKernels::contact(float const (*const s)[3], float const (*const t)[3], float& outSeparation) const
{
    float len = 0.0f;
    float sep = 0.0f;
    bool const separated = scanAxes(t, s, sep, len) != 0;
    if (separated && sep <= std::numeric_limits<float>::max() && len <= std::numeric_limits<float>::max()) {
        // Error of the separation along a float axis a: the coordinates are
        // taken relative to t0 (each rounded once, relative 2^-24), and each
        // projection is a three-term dot product (three roundings), so a
        // projection is off by at most 4.01 * 2^-24 * sqrt(3) |a| M' for the
        // largest relative coordinate M'; the gap of two projections by
        // twice that, and the tolerance term, the subtraction, the axis
        // length and the division add a few roundings of the separation and
        // of the tolerance. 32 * 2^-24 (M' + tol) covers all of it; the last
        // term covers products that underflow (2^-150 each), which matter
        // only for axes far shorter than any coordinate.
        float m = 0.0f;
        for (int k = 0; k < 3; ++k)
            for (int i = 0; i < 3; ++i) {
                m = std::max(m, std::fabs(t[k][i] - t[0][i]));
                m = std::max(m, std::fabs(s[k][i] - t[0][i]));
            }
        double bound = 32.0 * 5.9604644775390625e-8 * (double(m) + m_triangleTolerance) +
                       8.4077907859e-45 / double(len); // 2^-146 / |a|
        if (m_triangleTolerance > 0.0f) {
            // The decision with a tolerance compares TriDist to it, so a
            // separation settles the pair only when TriDist, with its slack
            // and the rounding of its closest points, cannot fall below the
            // tolerance.
            bound += (DistanceSlack + 8.0 * 5.9604644775390625e-8) * double(largestCoordinate(s, t));
        }
        if (double(sep) > bound) {
            outSeparation = sep;
            return false;
        }
    }
    if (m_triangleTolerance > 0.0f) {
        float p[3], q[3];
        float const d = TriDist(p, q, s, t) - m_triangleTolerance;
        if (d > 0.0f) {
            outSeparation = d;
            return false;
        }
        return true;
    }
    if (!(largestCoordinate(s, t) <= std::numeric_limits<float>::max())) {
        // Coordinates that overflowed in the query's frame: no contact can
        // be proven, and none is reported.
        outSeparation = std::numeric_limits<float>::infinity();
        return false;
    }
    ++m_unsure;
    if (CtvxExactPredicates::trianglesIntersect(s, t, m_expansions))
        return true;
    if (separated && sep > 0.0f) {
        outSeparation = sep;
        return false;
    }
    // Apart, and no axis showed it: the distance is the lower bound.
    float p[3], q[3];
    int feature;
    float const d = searchFeatures(p, q, s, t, feature);
    outSeparation = d > 0.0f && certified(d, p, q, s, t, feature) ? d : closestPairWide(p, q, s, t);
    return false;
}

bool CtvxProximityKernels::touches(float const (*const s)[3], float const (*const t)[3]) const
{
    if (!(m_triangleTolerance == 0.0f)) {
        float ignored;
        return contact(s, t, ignored);
    }
    // Coordinates that overflowed in the query's frame: no contact can be
    // proven, and contact() reports none.
    if (!(largestCoordinate(s, t) <= std::numeric_limits<float>::max()))
        return false;
    ++m_unsure;
    return CtvxExactPredicates::trianglesIntersect(s, t, m_expansions);
}

void CtvxProximityKernels::TcT(float (&out)[3][3], CqarPoint3 const* const points) const
{
    for (int k = 0; k < 3; ++k)
        for (int i = 0; i < 3; ++i)
            out[k][i] = static_cast<float>(points[k][i]);
}
