// The distance of two triangles: the search over their features in single
// precision; its answer is checked in CtvxTriangleDistanceCheck.cpp.

#include <tvx/analysis/internal/CtvxProximityKernels.h>

#include <tvx/analysis/internal/CtvxExactPredicates.h>
#include <tvx/analysis/internal/CtvxKernelVectors.h>

#include <algorithm>
#include <cmath>
#include <limits>

using namespace tvxkernels;

namespace {


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
