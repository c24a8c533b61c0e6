// The check of a triangle distance found in single precision, and the
// double-precision distance that replaces an answer the check cannot prove.

#include <tvx/analysis/internal/CtvxProximityKernels.h>

#include <tvx/analysis/internal/CtvxKernelVectors.h>

#include <algorithm>
#include <cmath>
#include <limits>

using namespace tvxkernels;

namespace {

// Double-precision helpers of the checks and of the fallback distance.
// Double-precision helpers of the checks and of the fallback distance.
struct Wide {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
};

inline Wide wide(float const* a)
{
    return {a[0], a[1], a[2]};
}

inline Wide operator-(Wide const& a, Wide const& b)
{
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}

inline Wide operator+(Wide const& a, Wide const& b)
{
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}

inline Wide operator*(Wide const& a, double s)
{
    return {a.x * s, a.y * s, a.z * s};
}

inline double dot(Wide const& a, Wide const& b)
{
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

inline Wide cross(Wide const& a, Wide const& b)
{
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

inline double clamp01(double x)
{
    return x < 0.0 ? 0.0 : (x > 1.0 ? 1.0 : x);
}

// Closest points of segments a0..a1 and b0..b1, in double precision: the
// clamped common perpendicular, then each parameter re-clamped against the
// other, which copes with parallel and zero-length segments.
inline double segmentPair(Wide const& a0, Wide const& a1, Wide const& b0, Wide const& b1, Wide& x, Wide& y)
{
    Wide const d1 = a1 - a0;
    Wide const d2 = b1 - b0;
    Wide const r = a0 - b0;
    double const A = dot(d1, d1);
    double const E = dot(d2, d2);
    double const F = dot(d2, r);
    double sp = 0.0;
    double tp = 0.0;
    if (A == 0.0 && E == 0.0) {
        sp = tp = 0.0;
    } else if (A == 0.0) {
        tp = clamp01(F / E);
    } else {
        double const C = dot(d1, r);
        if (E == 0.0) {
            sp = clamp01(-C / A);
        } else {
            double const B = dot(d1, d2);
            double const denom = A * E - B * B;
            sp = denom > 0.0 ? clamp01((B * F - C * E) / denom) : 0.0;
            tp = (B * sp + F) / E;
            if (tp < 0.0) {
                tp = 0.0;
                sp = clamp01(-C / A);
            } else if (tp > 1.0) {
                tp = 1.0;
                sp = clamp01((B - C) / A);
            }
        }
    }
    x = a0 + d1 * sp;
    y = b0 + d2 * tp;
    Wide const v = y - x;
    return dot(v, v);
}


} // namespace

// Any direction gives a lower bound of the distance: the gap between the
// projections of the two triangles on it, divided by its length. Along the
// direction of the true closest points that gap is the distance itself (s
// lies behind the plane through p, t beyond the plane through q); an answer
// whose points are not the closest ones shows a smaller gap, or none at all.
// The direction q - p is known only as well as the rounded points, which
// tilts it by their rounding over d; over the triangles' extent that tilt
// can cost more than the slack when d is small beside the triangles. The
// features the answer came from then give the exact direction in double
// precision: the common perpendicular of two edges, the normal of a face,
// or q - p with its component along an edge removed.
bool CtvxProximityKernels::certified(float d, float const* p, float const* q, float const (*s)[3],
                                     float const (*t)[3], int feature) const
{
    float m = 0.0f;
    for (int k = 0; k < 3; ++k)
        for (int i = 0; i < 3; ++i) {
            float const a = std::fabs(s[k][i]), b = std::fabs(t[k][i]);
            m = a > m ? a : m;
            m = b > m ? b : m;
        }
    // Infinite coordinates, or a NaN distance (NaN coordinates, dropped by
    // the maximum, make NaN projections below).
    if (!(m <= std::numeric_limits<float>::max()) || !(d <= std::numeric_limits<float>::max()))
        return false;
    double const slack = DistanceSlack * m;
    double const over = double(d) - slack;

    // First along v = q - p in single precision. The gap of the projections
    // is off by at most 2 * 4 * 2^-24 * |v|_1 * m (v rounded once, three
    // products and two sums for each projection), plus 2^-146 for products
    // that underflow; it proves the pair apart when it exceeds that, and
    // the distance right when it reaches (d - slack) |v|.
    float v[3];
    vSub(v, q, p);
    float hiS, loT;
    facing([&](int k) { return vDot(v, s[k]); }, [&](int k) { return vDot(v, t[k]); }, hiS, loT);
    double const v1 = double(std::fabs(v[0])) + std::fabs(v[1]) + std::fabs(v[2]);
    double const gapF = double(loT) - hiS - (8.0 * 5.9604644775390625e-8 * v1 * m + 8.4077907859e-45);
    if (gapF > 0.0 && feature < FaceOfS &&
        !(over > 0.0 && gapF * gapF < over * over * (double(v[0]) * v[0] + double(v[1]) * v[1] + double(v[2]) * v[2])))
        return true;

    Wide S[3], T[3];
    for (int k = 0; k < 3; ++k) {
        S[k] = wide(s[k]);
        T[k] = wide(t[k]);
    }
    Wide const vw = wide(q) - wide(p);
    // True when direction n (any length, pointing from s towards t) proves
    // the triangles apart by at least d - slack, in double precision.
    auto proves = [&](Wide const& n) {
        double hi, lo;
        facing([&](int k) { return dot(n, S[k]); }, [&](int k) { return dot(n, T[k]); }, hi, lo);
        // Rounding of the six dot products: each product of two doubles (n
        // itself rounded once from exact float differences) and each sum is
        // rounded once, so every projection is off by less than
        // 4 * 2^-53 * |n|_1 * m, and the gap by twice that.
        double const n1 = std::fabs(n.x) + std::fabs(n.y) + std::fabs(n.z);
        double const gap = lo - hi - 8.0 * 1.1102230246251565e-16 * n1 * m;
        if (!(gap > 0.0))
            return false;
        // gap / |n| >= d - slack, without the division.
        return !(over > 0.0 && gap * gap < over * over * dot(n, n));
    };
    auto along = [&](Wide const& n) { return dot(n, vw) < 0.0 ? n * -1.0 : n; };
    auto without = [&](Wide const& e) {
        double const ee = dot(e, e);
        return ee > 0.0 ? vw - e * (dot(vw, e) / ee) : vw;
    };
    if (feature < FaceOfS) {
        int const i = feature / 3, j = feature % 3;
        Wide const a = S[(i + 1) % 3] - S[i];
        Wide const b = T[(j + 1) % 3] - T[j];
        return proves(along(cross(a, b))) || proves(without(a)) || proves(without(b));
    }
    // A vertex against a face: the face's normal in double precision. The
    // foot itself is only as good as the face's single-precision normal,
    // which rounding turns by up to about 3 * 2^-24 / sin(angle of the two
    // edges crossed): that moves the foot off the face by the angle times
    // its distance from the face's first vertex (at most the longest edge)
    // and along the face by the angle times d. Slivers, whose normal is
    // rounding noise, fail here and are measured in double precision.
    Wide const* f = feature < FaceOfT ? S : T;
    Wide const e0 = f[1] - f[0];
    Wide const e1 = f[2] - f[1];
    Wide const e2 = f[0] - f[2];
    Wide const n = cross(e0, e1);
    double const l0 = dot(e0, e0), l1 = dot(e1, e1);
    double const reach = std::sqrt(std::max({l0, l1, dot(e2, e2)})) + double(d);
    double const k = 3.0 * 5.9604644775390625e-8 * reach;
    double const nn = dot(n, n);
    if (!(k * k * l0 * l1 <= slack * slack * nn))
        return false;
    // The search divided by the normal's squared length in single
    // precision; below 2^-100 (edges around 1e-8 and shorter) that length
    // is close enough to the subnormal range to have lost digits, and the
    // foot with it.
    if (!(nn > 7.8886090522101181e-31)) // 2^-100
        return false;
    return (gapF > 0.0 && !(over > 0.0 && gapF * gapF < over * over * (double(v[0]) * v[0] + double(v[1]) * v[1] +
                                                                       double(v[2]) * v[2]))) ||
           proves(along(n));
}

float CtvxProximityKernels::closestPairWide(float* p, float* q, float const (*s)[3], float const (*t)[3]) const
{
    Wide a[3] = {wide(s[0]), wide(s[1]), wide(s[2])};
    Wide b[3] = {wide(t[0]), wide(t[1]), wide(t[2])};
    double best = std::numeric_limits<double>::infinity();
    Wide bp, bq;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            Wide x, y;
            double const dd = segmentPair(a[i], a[(i + 1) % 3], b[j], b[(j + 1) % 3], x, y);
            if (dd < best) {
                best = dd;
                bp = x;
                bq = y;
            }
        }
    // A vertex facing the interior of the other triangle. The face's normal
    // in double is off by about 2^-53 / sin(angle of its edges); faces with
    // edges within 2^-25 of parallel are left to their edges, which are
    // then within 2^-25 of their longest edge's length of every point of the
    // face, below a float rounding of the coordinates.
    for (int side = 0; side < 2; ++side) {
        Wide const* f = side == 0 ? a : b;
        Wide const* o = side == 0 ? b : a;
        Wide const e0 = f[1] - f[0];
        Wide const e1 = f[2] - f[0];
        Wide const n = cross(e0, e1);
        double const nn = dot(n, n);
        if (!(nn > 2.842170943040401e-14 * dot(e0, e0) * dot(e1, e1))) // 2^-45: sin^2 > 2^-45
            continue;
        for (int k = 0; k < 3; ++k) {
            double const h = dot(o[k] - f[0], n);
            Wide const foot = o[k] - n * (h / nn);
            bool inside = true;
            for (int m = 0; m < 3 && inside; ++m)
                inside = dot(cross(f[(m + 1) % 3] - f[m], foot - f[m]), n) >= 0.0;
            if (!inside)
                continue;
            double const dd = h * h / nn;
            if (dd < best) {
                best = dd;
                bp = side == 0 ? foot : o[k];
                bq = side == 0 ? o[k] : foot;
            }
        }
    }
    p[0] = static_cast<float>(bp.x);
    p[1] = static_cast<float>(bp.y);
    p[2] = static_cast<float>(bp.z);
    q[0] = static_cast<float>(bq.x);
    q[1] = static_cast<float>(bq.y);
    q[2] = static_cast<float>(bq.z);
    // The triangles are apart, so the distance is positive, however small.
    float const d = static_cast<float>(std::sqrt(best));
    return d > 0.0f ? d : std::numeric_limits<float>::denorm_min();
}
