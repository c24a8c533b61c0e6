#include <tvx/analysis/internal/CtvxProximityKernels.h>

#include <tvx/analysis/internal/CtvxExactPredicates.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// Small vector helpers, single precision, components summed in the order
// x, y, z.
inline void vSub(float* r, float const* a, float const* b)
{
    r[0] = a[0] - b[0];
    r[1] = a[1] - b[1];
    r[2] = a[2] - b[2];
}

inline void vAdd(float* r, float const* a, float const* b)
{
    r[0] = a[0] + b[0];
    r[1] = a[1] + b[1];
    r[2] = a[2] + b[2];
}

// r = a + s * b
inline void vAddScaled(float* r, float const* a, float s, float const* b)
{
    r[0] = a[0] + s * b[0];
    r[1] = a[1] + s * b[1];
    r[2] = a[2] + s * b[2];
}

inline void vCopy(float* r, float const* a)
{
    r[0] = a[0];
    r[1] = a[1];
    r[2] = a[2];
}

inline float vDot(float const* a, float const* b)
{
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

inline void vCross(float* r, float const* a, float const* b)
{
    r[0] = a[1] * b[2] - a[2] * b[1];
    r[1] = a[2] * b[0] - a[0] * b[2];
    r[2] = a[0] * b[1] - a[1] * b[0];
}

// A face test needs a normal that means something. Below this squared length
// (twice the area, squared) a triangle is treated as degenerate and its edges
// alone decide. The constant absorbs the rounding of the cross product of two
// float edges of unit length (about 1e-7 relative, squared: 1e-14), so that a
// noise-only normal is not trusted.
constexpr double DegenerateNormal2 = 1.0e-15;

// The same threshold for a triangle whose longest edge is shorter than 1:
// scaled by the fourth power of that edge, so that a small triangle is judged
// by its shape as a unit-sized copy of it would be. An absolute threshold
// would call every triangle with edges near 1e-4 degenerate, skip its face
// test, and then report a separated pair as touching. Triangles with an edge
// of length 1 or more compare against DegenerateNormal2 unchanged.
//
// Either way the normal must also stand out from its own rounding: the cross
// product of edges e0 and e1 is off by about 3 * 2^-24 |e0| |e1|, so a normal
// shorter than 2^-18 |e0| |e1| (edges within 4e-6 rad of parallel) points
// anywhere within a twentieth of a radian or worse, and the side and foot
// tests read noise from it. Such slivers are left to their edges (and to the
// check of TriDist's answer).
constexpr double NoiseNormal2 = 1.4551915228366852e-11; // (2^-18)^2

inline bool hasFaceNormal(float nl, float const* e0, float const* e1, float const* e2)
{
    double const n2 = nl;
    double const l0 = vDot(e0, e0);
    double const l1 = vDot(e1, e1);
    if (!(n2 > NoiseNormal2 * l0 * l1))
        return false;
    if (n2 > DegenerateNormal2)
        return true;
    double l = l0;
    double const l2 = vDot(e2, e2);
    if (l1 > l)
        l = l1;
    if (l2 > l)
        l = l2;
    return l < 1.0 && n2 > DegenerateNormal2 * (l * l);
}

// The vertex of `d` (three signed plane distances) farthest on the side they
// all share: the one nearest the plane. -1 when they do not share a side
// strictly (the other triangle meets the plane, or touches it).
inline int nearestSameSide(float const* d)
{
    int k;
    if (d[0] > 0.0f && d[1] > 0.0f && d[2] > 0.0f) {
        k = d[0] < d[1] ? 0 : 1;
        if (d[2] < d[k])
            k = 2;
        return k;
    }
    if (d[0] < 0.0f && d[1] < 0.0f && d[2] < 0.0f) {
        k = d[0] > d[1] ? 0 : 1;
        if (d[2] > d[k])
            k = 2;
        return k;
    }
    return -1;
}

// True when v projects strictly inside the triangle f (edges fv, normal n):
// on the inner side of the plane through each edge that contains n.
inline bool insideFace(float const* v, float const (*f)[3], float const (*fv)[3], float const* n)
{
    float w[3];
    float z[3];
    for (int m = 0; m < 3; ++m) {
        vCross(w, n, fv[m]);
        vSub(z, v, f[m]);
        if (!(vDot(z, w) > 0.0f))
            return false;
    }
    return true;
}


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

// Largest coordinate magnitude of a pair of triangles; NaN when one is not
// a number (x - x is NaN for infinities and NaNs alone).
inline float largestCoordinate(float const (*s)[3], float const (*t)[3])
{
    float m = 0.0f;
    float nan = 0.0f;
    for (int k = 0; k < 3; ++k)
        for (int i = 0; i < 3; ++i) {
            float const a = std::fabs(s[k][i]);
            float const b = std::fabs(t[k][i]);
            m = a > m ? a : m;
            m = b > m ? b : m;
            nan += (a - a) + (b - b);
        }
    return m + nan;
}

// The largest projection of s's vertices and the least of t's, from the
// projection of vertex k of each.
template <typename ProjectS, typename ProjectT, typename Real>
inline void facing(ProjectS ps, ProjectT pt, Real& outHiS, Real& outLoT)
{
    outHiS = ps(0);
    outLoT = pt(0);
    for (int k = 1; k < 3; ++k) {
        Real const a = ps(k);
        Real const b = pt(k);
        outHiS = a > outHiS ? a : outHiS;
        outLoT = b < outLoT ? b : outLoT;
    }
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

void CtvxProximityKernels::SegPoints(float* const vec, float* const x, float* const y, float const* const p,
                                     float const* const a, float const* const q, float const* const b) const
{
    float T[3];
    vSub(T, q, p);
    float const AA = vDot(a, a);
    float const BB = vDot(b, b);
    float const AB = vDot(a, b);
    float const AT = vDot(a, T);
    float const BT = vDot(b, T);

    // Parameter on segment 1 of the point nearest the line of segment 2.
    // Parallel (or zero-length) segments have no single such point; 0 will
    // do, the clamping below finds the right pair.
    float lambda = 0.0f;
    float const denom = AA * BB - AB * AB;
    if (denom != 0.0f && denom == denom) {
        lambda = (AT * BB - BT * AB) / denom;
        if (!(lambda >= 0.0f))
            lambda = 0.0f;
        else if (lambda > 1.0f)
            lambda = 1.0f;
    }

    float mu = 0.0f;
    bool const muPositive = BB != 0.0f && (mu = (lambda * AB - BT) / BB) > 0.0f;
    float tmp[3];
    if (muPositive) {
        if (mu >= 1.0f) {
            // Beyond the far end of segment 2: y is that end, x its nearest
            // point on segment 1.
            vAdd(y, q, b);
            float lp = 0.0f;
            if (AA != 0.0f && (lp = (AB + AT) / AA) > 0.0f) {
                if (lp >= 1.0f) {
                    vAdd(x, p, a);
                    vSub(vec, y, x);
                } else {
                    vAddScaled(x, p, lp, a);
                    float yp[3];
                    vSub(yp, y, p);
                    vCross(tmp, yp, a);
                    vCross(vec, a, tmp);
                }
            } else {
                vCopy(x, p);
                vSub(vec, y, p);
            }
        } else {
            vAddScaled(y, q, mu, b);
            if (lambda > 0.0f && lambda < 1.0f) {
                // Interior to both: the common perpendicular, pointing from
                // segment 1 towards segment 2.
                vAddScaled(x, p, lambda, a);
                vCross(vec, a, b);
                if (vDot(vec, T) < 0.0f) {
                    vec[0] = -vec[0];
                    vec[1] = -vec[1];
                    vec[2] = -vec[2];
                }
            } else if (lambda == 1.0f) {
                vAdd(x, p, a);
                float qx[3];
                vSub(qx, q, x);
                vCross(tmp, qx, b);
                vCross(vec, b, tmp);
            } else {
                vCopy(x, p);
                vCross(tmp, T, b);
                vCross(vec, b, tmp);
            }
        }
    } else {
        // Before the start of segment 2 (or segment 2 is a point).
        vCopy(y, q);
        float lp = 0.0f;
        if (AA != 0.0f && (lp = AT / AA) > 0.0f) {
            if (lp >= 1.0f) {
                vAdd(x, p, a);
                vSub(vec, q, x);
            } else {
                vAddScaled(x, p, lp, a);
                vCross(tmp, T, a);
                vCross(vec, a, tmp);
            }
        } else {
            vCopy(x, p);
            vSub(vec, q, p);
        }
    }
}

// Edge pairs first: the closest pair of two disjoint triangles is on two
// edges unless a vertex faces the interior of the other triangle. For each
// edge pair, vec separates the two closest points; when the rest of both
// triangles lies beyond them along vec, that pair is the answer. An edge pair
// can also prove the triangles disjoint without being the closest one, which
// the face tests below rely on when no vertex projects into a face.
float CtvxProximityKernels::searchFeatures(float* const p, float* const q, float const (*const s)[3],
                                           float const (*const t)[3], int& outFeature) const
{
    outFeature = 0;
    int minFeature = 0;
    float sv[3][3];
    float tv[3][3];
    vSub(sv[0], s[1], s[0]);
    vSub(sv[1], s[2], s[1]);
    vSub(sv[2], s[0], s[2]);
    vSub(tv[0], t[1], t[0]);
    vSub(tv[1], t[2], t[1]);
    vSub(tv[2], t[0], t[2]);

    float v[3];
    vSub(v, s[0], t[0]);
    float mindd = vDot(v, v) + 1.0f;
    bool shownDisjoint = false;
    float minP[3] = {0.0f, 0.0f, 0.0f};
    float minQ[3] = {0.0f, 0.0f, 0.0f};
    float vec[3];
    float z[3];

    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            SegPoints(vec, p, q, s[i], sv[i], t[j], tv[j]);
            vSub(v, q, p);
            float const dd = vDot(v, v);
            if (dd <= mindd) {
                vCopy(minP, p);
                vCopy(minQ, q);
                mindd = dd;
                minFeature = 3 * i + j;

                vSub(z, s[(i + 2) % 3], p);
                float alpha = vDot(z, vec);
                vSub(z, t[(j + 2) % 3], q);
                float beta = vDot(z, vec);
                if (!(alpha > 0.0f) && beta >= 0.0f) {
                    outFeature = 3 * i + j;
                    return std::sqrt(dd);
                }

                if (!(alpha > 0.0f))
                    alpha = 0.0f;
                if (beta > 0.0f)
                    beta = 0.0f;
                if (vDot(v, vec) - alpha + beta > 0.0f)
                    shownDisjoint = true;
            }
        }
    }

    // Face of s against the vertices of t.
    float sn[3];
    vCross(sn, sv[0], sv[1]);
    float const snl = vDot(sn, sn);
    bool const sFace = hasFaceNormal(snl, sv[0], sv[1], sv[2]);
    float tp[3] = {0.0f, 0.0f, 0.0f};
    if (sFace) {
        for (int k = 0; k < 3; ++k) {
            vSub(z, s[0], t[k]);
            tp[k] = vDot(z, sn);
        }
        int const k = nearestSameSide(tp);
        if (k >= 0) {
            // t lies on one side of the plane of s. If its nearest vertex
            // projects inside s, that vertex and its foot are the answer.
            if (insideFace(t[k], s, sv, sn)) {
                outFeature = FaceOfS + k;
                vAddScaled(p, t[k], tp[k] / snl, sn);
                vCopy(q, t[k]);
                vSub(z, p, q);
                return std::sqrt(vDot(z, z));
            }
            shownDisjoint = true;
        }
    }

    // Face of t against the vertices of s.
    float tn[3];
    vCross(tn, tv[0], tv[1]);
    float const tnl = vDot(tn, tn);
    bool const tFace = hasFaceNormal(tnl, tv[0], tv[1], tv[2]);
    float sp[3] = {0.0f, 0.0f, 0.0f};

    // The pair is disjoint and the best edge pair is taken as the closest.
    // In exact arithmetic no vertex facing the other triangle's interior can
    // be closer on the paths that come here, but the side tests above read
    // signs of plane distances that rounding can flip when the triangles
    // are nearly coplanar: a triangle resting on another, rotated off the
    // coordinate planes, could then come out a whole edge length apart.
    // Every vertex that projects inside the other face is therefore also a
    // candidate; it can only lower the answer, and it is an actual pair of
    // points of the two triangles. A vertex whose side was misjudged lies
    // within rounding of the plane, so when this matters the candidate is
    // far closer than the best edge pair; one that is closer only by a
    // little (rounding, when a vertex lies on an edge) is left alone, so
    // that every other result stays what the edge pair gives.
    auto edgesOrFaces = [&]() -> float {
        float foot[3];
        if (sFace) {
            for (int k = 0; k < 3; ++k) {
                if (!insideFace(t[k], s, sv, sn))
                    continue;
                vAddScaled(foot, t[k], tp[k] / snl, sn);
                vSub(z, foot, t[k]);
                float const dd = vDot(z, z);
                if (dd < 0.25f * mindd) {
                    mindd = dd;
                    vCopy(minP, foot);
                    vCopy(minQ, t[k]);
                    minFeature = FaceOfS + k;
                }
            }
        }
        if (tFace) {
            for (int k = 0; k < 3; ++k) {
                if (!insideFace(s[k], t, tv, tn))
                    continue;
                vAddScaled(foot, s[k], sp[k] / tnl, tn);
                vSub(z, s[k], foot);
                float const dd = vDot(z, z);
                if (dd < 0.25f * mindd) {
                    mindd = dd;
                    vCopy(minP, s[k]);
                    vCopy(minQ, foot);
                    minFeature = FaceOfT + k;
                }
            }
        }
        vCopy(p, minP);
        vCopy(q, minQ);
        outFeature = minFeature;
        return std::sqrt(mindd);
    };

    if (tFace) {
        for (int k = 0; k < 3; ++k) {
            vSub(z, t[0], s[k]);
            sp[k] = vDot(z, tn);
        }
        int const k = nearestSameSide(sp);
        if (k < 0) {
            // s meets the plane of t. Unless an edge pair or the face of s
            // showed the triangles apart, they intersect.
            if (shownDisjoint)
                return edgesOrFaces();
            return 0.0f;
        }
        if (insideFace(s[k], t, tv, tn)) {
            outFeature = FaceOfT + k;
            vCopy(p, s[k]);
            vAddScaled(q, s[k], sp[k] / tnl, tn);
            vSub(z, p, q);
            return std::sqrt(vDot(z, z));
        }
        // Disjoint, and no vertex faces the other triangle: the closest
        // pair is the best edge pair.
        return edgesOrFaces();
    }

    if (shownDisjoint)
        return edgesOrFaces();
    return 0.0f;
}

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

    float mx1 = P1;
    float mn1 = P1;
    if (P2 > mx1)
        mx1 = P2;
    if (P2 < mn1)
        mn1 = P2;
    if (P3 > mx1)
        mx1 = P3;
    if (P3 < mn1)
        mn1 = P3;
    float mx2 = Q1;
    float mn2 = Q1;
    if (Q2 > mx2)
        mx2 = Q2;
    if (Q2 < mn2)
        mn2 = Q2;
    if (Q3 > mx2)
        mx2 = Q3;
    if (Q3 < mn2)
        mn2 = Q3;

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

float CtvxProximityKernels::TriDist(float* const p, float* const q, float const (*const s)[3],
                                    float const (*const t)[3]) const
{
    int feature;
    float const d = searchFeatures(p, q, s, t, feature);
    if (d > 0.0f && certified(d, p, q, s, t, feature))
        return d;
    // Non-finite coordinates (a placement that overflowed single precision)
    // prove no contact, and none is reported.
    if (!(largestCoordinate(s, t) <= std::numeric_limits<float>::max()))
        return std::numeric_limits<float>::infinity();
    ++m_unsure;
    if (CtvxExactPredicates::trianglesIntersect(s, t, m_expansions))
        return 0.0f;
    return closestPairWide(p, q, s, t);
}

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

void CtvxProximityKernels::PmM(float* const out, float const* const in, CtvxMat4 const& m) const
{
    for (int i = 0; i < 3; ++i)
        out[i] = m(i, 0) * in[0] + m(i, 1) * in[1] + m(i, 2) * in[2] + m(i, 3);
}

void CtvxProximityKernels::TcT(float (&out)[3][3], CqarPoint3 const* const points) const
{
    for (int k = 0; k < 3; ++k)
        for (int i = 0; i < 3; ++i)
            out[k][i] = static_cast<float>(points[k][i]);
}
