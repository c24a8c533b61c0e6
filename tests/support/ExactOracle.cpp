#include <tests/support/ExactOracle.h>

#include <cmath>

namespace tvxtest {

namespace {

QPoint sub(QPoint const& a, QPoint const& b)
{
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}

QPoint along(QPoint const& a, mpq_class const& s, QPoint const& d)
{
    return {a.x + s * d.x, a.y + s * d.y, a.z + s * d.z};
}

mpq_class dot(QPoint const& a, QPoint const& b)
{
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

QPoint cross(QPoint const& a, QPoint const& b)
{
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

mpq_class squared(QPoint const& a, QPoint const& b)
{
    QPoint const d = sub(a, b);
    return dot(d, d);
}

mpq_class clamped(mpq_class const& x)
{
    if (x < 0)
        return 0;
    if (x > 1)
        return 1;
    return x;
}

mpq_class pointSegment(QPoint const& p, QPoint const& a, QPoint const& b)
{
    QPoint const d = sub(b, a);
    mpq_class const dd = dot(d, d);
    if (dd == 0)
        return squared(p, a);
    return squared(p, along(a, clamped(mpq_class(dot(sub(p, a), d) / dd)), d));
}

// The squared distance of two segments at their common perpendicular, when
// its feet are interior to both; false when the segments are parallel or
// the feet fall outside.
bool interiorPair(QPoint const& a0, QPoint const& a1, QPoint const& b0, QPoint const& b1, mpq_class& out)
{
    QPoint const d1 = sub(a1, a0);
    QPoint const d2 = sub(b1, b0);
    QPoint const r = sub(a0, b0);
    mpq_class const A = dot(d1, d1), B = dot(d1, d2), E = dot(d2, d2), C = dot(d1, r), F = dot(d2, r);
    mpq_class const den = A * E - B * B;
    if (den == 0)
        return false;
    mpq_class const s = (B * F - C * E) / den;
    mpq_class const t = (A * F - B * C) / den;
    if (!(s > 0 && s < 1 && t > 0 && t < 1))
        return false;
    out = squared(along(a0, s, d1), along(b0, t, d2));
    return true;
}

// Barycentric coordinates (u, v) of the point of t's plane nearest to p,
// as p = t0 + u e0 + v e1 + normal part; false when t has no plane.
bool barycentric(QPoint const& p, QTri const& t, mpq_class& u, mpq_class& v)
{
    QPoint const e0 = sub(t[1], t[0]);
    QPoint const e1 = sub(t[2], t[0]);
    QPoint const w = sub(p, t[0]);
    mpq_class const a = dot(e0, e0), b = dot(e0, e1), c = dot(e1, e1), d = dot(e0, w), e = dot(e1, w);
    mpq_class const det = a * c - b * b;
    if (det == 0)
        return false;
    u = (c * d - b * e) / det;
    v = (a * e - b * d) / det;
    return true;
}

bool insideBarycentric(mpq_class const& u, mpq_class const& v)
{
    return u >= 0 && v >= 0 && u + v <= 1;
}

// True when segment a b meets the plane of t at a single point that lies in
// t (a segment lying in the plane is left to the distances).
bool crosses(QPoint const& a, QPoint const& b, QTri const& t)
{
    QPoint const n = cross(sub(t[1], t[0]), sub(t[2], t[0]));
    if (dot(n, n) == 0)
        return false;
    mpq_class const da = dot(n, sub(a, t[0]));
    mpq_class const db = dot(n, sub(b, t[0]));
    if (da == db || (da > 0 && db > 0) || (da < 0 && db < 0))
        return false;
    QPoint const x = along(a, mpq_class(da / (da - db)), sub(b, a));
    mpq_class u, v;
    return barycentric(x, t, u, v) && insideBarycentric(u, v);
}

} // namespace

QTri exactTri(float const (*t)[3])
{
    QTri r;
    for (int k = 0; k < 3; ++k)
        r[k] = {mpq_class(double(t[k][0])), mpq_class(double(t[k][1])), mpq_class(double(t[k][2]))};
    return r;
}

QTri placedTri(float const (*t)[3], double const (&m)[3][4])
{
    QTri r;
    for (int k = 0; k < 3; ++k) {
        mpq_class c[3];
        for (int i = 0; i < 3; ++i)
            c[i] = mpq_class(m[i][0]) * double(t[k][0]) + mpq_class(m[i][1]) * double(t[k][1]) +
                   mpq_class(m[i][2]) * double(t[k][2]) + mpq_class(m[i][3]);
        r[k] = {c[0], c[1], c[2]};
    }
    return r;
}

mpq_class squaredDistance(QPoint const& p, QTri const& t)
{
    mpq_class best = pointSegment(p, t[0], t[1]);
    for (int i = 1; i < 3; ++i) {
        mpq_class const c = pointSegment(p, t[i], t[(i + 1) % 3]);
        if (c < best)
            best = c;
    }
    mpq_class u, v;
    if (best > 0 && barycentric(p, t, u, v) && insideBarycentric(u, v)) {
        QPoint const e0 = sub(t[1], t[0]);
        QPoint const e1 = sub(t[2], t[0]);
        QPoint const foot = along(along(t[0], u, e0), v, e1);
        mpq_class const c = squared(p, foot);
        if (c < best)
            best = c;
    }
    return best;
}

mpq_class squaredDistance(QTri const& a, QTri const& b)
{
    // An edge of one crossing the other: they meet.
    for (int side = 0; side < 2; ++side) {
        QTri const& e = side == 0 ? a : b;
        QTri const& f = side == 0 ? b : a;
        for (int i = 0; i < 3; ++i)
            if (crosses(e[i], e[(i + 1) % 3], f))
                return 0;
    }
    // Otherwise the closest pair is a vertex against the other triangle, or
    // the interior stationary point of two edges (where an edge pair comes
    // closest at an endpoint, that endpoint's vertex-triangle distance is no
    // larger); a coplanar overlap shows as a zero among these.
    mpq_class best = squaredDistance(a[0], b);
    for (int side = 0; side < 2; ++side)
        for (int k = side == 0 ? 1 : 0; k < 3 && best > 0; ++k) {
            mpq_class const c = squaredDistance((side == 0 ? a : b)[k], side == 0 ? b : a);
            if (c < best)
                best = c;
        }
    for (int i = 0; i < 3 && best > 0; ++i)
        for (int j = 0; j < 3 && best > 0; ++j) {
            mpq_class c;
            if (interiorPair(a[i], a[(i + 1) % 3], b[j], b[(j + 1) % 3], c) && c < best)
                best = c;
        }
    return best;
}

ExactAnswer exactAnswer(QTri const& a, QTri const& b)
{
    mpq_class const sq = squaredDistance(a, b);
    ExactAnswer r;
    r.touch = sq == 0;
    r.distance = std::sqrt(sq.get_d());
    return r;
}

} // namespace tvxtest
