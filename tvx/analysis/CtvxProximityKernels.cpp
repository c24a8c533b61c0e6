#include <tvx/analysis/CtvxProximityKernels.h>

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
inline bool hasFaceNormal(float nl, float const* e0, float const* e1, float const* e2)
{
    double const n2 = nl;
    if (n2 > DegenerateNormal2)
        return true;
    if (!(n2 > 0.0))
        return false;
    double l = vDot(e0, e0);
    double const l1 = vDot(e1, e1);
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
float CtvxProximityKernels::TriDist(float* const p, float* const q, float const (*const s)[3],
                                    float const (*const t)[3]) const
{
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

                vSub(z, s[(i + 2) % 3], p);
                float alpha = vDot(z, vec);
                vSub(z, t[(j + 2) % 3], q);
                float beta = vDot(z, vec);
                if (!(alpha > 0.0f) && beta >= 0.0f)
                    return std::sqrt(dd);

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
                }
            }
        }
        vCopy(p, minP);
        vCopy(q, minQ);
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
    if (project6(np, p1, p2, p3, q1, q2, q3, outSeparation) == 0)
        return false;
    if (project6(nq, p1, p2, p3, q1, q2, q3, outSeparation) == 0)
        return false;
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            vCross(axis, e[i], f[j]);
            if (project6(axis, p1, p2, p3, q1, q2, q3, outSeparation) == 0)
                return false;
        }
    }
    for (int i = 0; i < 3; ++i) {
        vCross(axis, e[i], np);
        if (project6(axis, p1, p2, p3, q1, q2, q3, outSeparation) == 0)
            return false;
    }
    for (int j = 0; j < 3; ++j) {
        vCross(axis, f[j], nq);
        if (project6(axis, p1, p2, p3, q1, q2, q3, outSeparation) == 0)
            return false;
    }

    // The axes above are complete only when both triangles have a normal.
    // A triangle with repeated or exactly collinear vertices is a segment or
    // a point, and then the separating direction can be one they never
    // form: the in-plane normal of a segment lying in the other triangle's
    // plane, the common normal of two parallel segments, the line between
    // two points. Such pairs would all be reported in contact whatever
    // their distance. Their exact distance through the edges settles them.
    bool const pFlat = np[0] == 0.0f && np[1] == 0.0f && np[2] == 0.0f;
    bool const qFlat = nq[0] == 0.0f && nq[1] == 0.0f && nq[2] == 0.0f;
    if (pFlat || qFlat) {
        float const pt[3][3] = {{p1[0], p1[1], p1[2]}, {p2[0], p2[1], p2[2]}, {p3[0], p3[1], p3[2]}};
        float const qt[3][3] = {{q1[0], q1[1], q1[2]}, {q2[0], q2[1], q2[2]}, {q3[0], q3[1], q3[2]}};
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
