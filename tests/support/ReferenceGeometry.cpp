#include <tests/support/ReferenceGeometry.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <ostream>

namespace tvxtest {

double dot(Vec3 const& a, Vec3 const& b)
{
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

Vec3 cross(Vec3 const& a, Vec3 const& b)
{
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

double norm(Vec3 const& a)
{
    return std::sqrt(dot(a, a));
}

double distance(Vec3 const& a, Vec3 const& b)
{
    return norm(a - b);
}

Tri toTri(float const (*t)[3])
{
    return {Vec3(t[0]), Vec3(t[1]), Vec3(t[2])};
}

namespace {

double longestEdge2(Tri const& t)
{
    Vec3 const e0 = t[1] - t[0];
    Vec3 const e1 = t[2] - t[1];
    Vec3 const e2 = t[0] - t[2];
    return std::max({dot(e0, e0), dot(e1, e1), dot(e2, e2)});
}

Vec3 normalOf(Tri const& t)
{
    return cross(t[1] - t[0], t[2] - t[0]);
}

// Point inside the triangle's prism: on the inner side of all three edges,
// with the normal n = (t1 - t0) x (t2 - t0). Points on an edge count.
bool insidePrism(Vec3 const& x, Tri const& t, Vec3 const& n)
{
    for (int i = 0; i < 3; ++i) {
        Vec3 const& a = t[i];
        Vec3 const& b = t[(i + 1) % 3];
        if (dot(cross(b - a, x - a), n) < 0.0)
            return false;
    }
    return true;
}

} // namespace

bool isDegenerate(Tri const& t)
{
    double const l2 = longestEdge2(t);
    return !(norm(normalOf(t)) > 1.0e-12 * l2);
}

Vec3 closestOnSegment(Vec3 const& p, Vec3 const& a, Vec3 const& b)
{
    Vec3 const d = b - a;
    double const dd = dot(d, d);
    if (!(dd > 0.0))
        return a;
    double s = dot(p - a, d) / dd;
    s = std::min(1.0, std::max(0.0, s));
    return a + d * s;
}

double segmentDistance(Vec3 const& a0, Vec3 const& a1, Vec3 const& b0, Vec3 const& b1, Vec3* outP, Vec3* outQ)
{
    // Candidates: each endpoint against the other segment, and the common
    // perpendicular when it falls inside both segments. The minimum over
    // these is the distance, whatever the segments' degeneracy.
    double best = std::numeric_limits<double>::infinity();
    Vec3 bp;
    Vec3 bq;
    auto consider = [&](Vec3 const& p, Vec3 const& q) {
        double const d = distance(p, q);
        if (d < best) {
            best = d;
            bp = p;
            bq = q;
        }
    };
    consider(a0, closestOnSegment(a0, b0, b1));
    consider(a1, closestOnSegment(a1, b0, b1));
    consider(closestOnSegment(b0, a0, a1), b0);
    consider(closestOnSegment(b1, a0, a1), b1);

    Vec3 const d1 = a1 - a0;
    Vec3 const d2 = b1 - b0;
    Vec3 const n = cross(d1, d2);
    double const nn = dot(n, n);
    if (nn > 1.0e-24 * dot(d1, d1) * dot(d2, d2)) {
        Vec3 const r = b0 - a0;
        double const s = dot(cross(r, d2), n) / nn;
        double const t = dot(cross(r, d1), n) / nn;
        if (s > 0.0 && s < 1.0 && t > 0.0 && t < 1.0)
            consider(a0 + d1 * s, b0 + d2 * t);
    }
    if (outP)
        *outP = bp;
    if (outQ)
        *outQ = bq;
    return best;
}

double pointTriangleDistance(Vec3 const& p, Tri const& t, Vec3* outClosest)
{
    Vec3 best = closestOnSegment(p, t[0], t[1]);
    double bestD = distance(p, best);
    for (int i = 1; i < 3; ++i) {
        Vec3 const c = closestOnSegment(p, t[i], t[(i + 1) % 3]);
        double const d = distance(p, c);
        if (d < bestD) {
            bestD = d;
            best = c;
        }
    }
    if (!isDegenerate(t)) {
        Vec3 const n = normalOf(t);
        Vec3 const foot = p - n * (dot(p - t[0], n) / dot(n, n));
        if (insidePrism(foot, t, n)) {
            double const d = distance(p, foot);
            if (d < bestD) {
                bestD = d;
                best = foot;
            }
        }
    }
    if (outClosest)
        *outClosest = best;
    return bestD;
}

bool segmentPiercesTriangle(Vec3 const& a, Vec3 const& b, Tri const& t, Vec3* outPoint)
{
    if (isDegenerate(t))
        return false;
    Vec3 const n = normalOf(t);
    double const da = dot(a - t[0], n);
    double const db = dot(b - t[0], n);
    if ((da > 0.0 && db > 0.0) || (da < 0.0 && db < 0.0) || da == db)
        return false;
    Vec3 const x = a + (b - a) * (da / (da - db));
    if (!insidePrism(x, t, n))
        return false;
    if (outPoint)
        *outPoint = x;
    return true;
}

double segmentTriangleDistance(Vec3 const& a, Vec3 const& b, Tri const& t)
{
    if (segmentPiercesTriangle(a, b, t))
        return 0.0;
    double d = std::min(pointTriangleDistance(a, t), pointTriangleDistance(b, t));
    for (int i = 0; i < 3; ++i)
        d = std::min(d, segmentDistance(a, b, t[i], t[(i + 1) % 3]));
    return d;
}

double triangleDistance(Tri const& a, Tri const& b, Vec3* outP, Vec3* outQ)
{
    // An edge of one crossing the other: they intersect.
    for (int i = 0; i < 3; ++i) {
        Vec3 x;
        if (segmentPiercesTriangle(a[i], a[(i + 1) % 3], b, &x)) {
            if (outP)
                *outP = x;
            if (outQ)
                *outQ = x;
            return 0.0;
        }
        if (segmentPiercesTriangle(b[i], b[(i + 1) % 3], a, &x)) {
            if (outP)
                *outP = x;
            if (outQ)
                *outQ = x;
            return 0.0;
        }
    }
    // Otherwise the closest pair is a vertex against the other triangle or
    // an edge against an edge (coplanar overlaps show up as a zero there).
    double best = std::numeric_limits<double>::infinity();
    Vec3 bp;
    Vec3 bq;
    for (int i = 0; i < 3; ++i) {
        Vec3 c;
        double d = pointTriangleDistance(a[i], b, &c);
        if (d < best) {
            best = d;
            bp = a[i];
            bq = c;
        }
        d = pointTriangleDistance(b[i], a, &c);
        if (d < best) {
            best = d;
            bp = c;
            bq = b[i];
        }
    }
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            Vec3 p;
            Vec3 q;
            double const d = segmentDistance(a[i], a[(i + 1) % 3], b[j], b[(j + 1) % 3], &p, &q);
            if (d < best) {
                best = d;
                bp = p;
                bq = q;
            }
        }
    }
    if (outP)
        *outP = bp;
    if (outQ)
        *outQ = bq;
    return best;
}

bool trianglesIntersect(Tri const& a, Tri const& b)
{
    return triangleDistance(a, b) == 0.0;
}

Box axisBox(double hx, double hy, double hz)
{
    Box b;
    b.half[0] = hx;
    b.half[1] = hy;
    b.half[2] = hz;
    return b;
}

Box placedBox(double const* h, double const (&R)[3][3], double const* T)
{
    Box b;
    b.centre = Vec3(T[0], T[1], T[2]);
    for (int j = 0; j < 3; ++j) {
        b.axis[j] = Vec3(R[0][j], R[1][j], R[2][j]);
        b.half[j] = h[j];
    }
    return b;
}

Vec3 closestOnBox(Vec3 const& p, Box const& b)
{
    Vec3 const d = p - b.centre;
    Vec3 r = b.centre;
    for (int i = 0; i < 3; ++i) {
        double const u = std::min(b.half[i], std::max(-b.half[i], dot(d, b.axis[i])));
        r = r + b.axis[i] * u;
    }
    return r;
}

double pointBoxDistance(Vec3 const& p, Box const& b)
{
    return distance(p, closestOnBox(p, b));
}

bool segmentIntersectsBox(Vec3 const& a, Vec3 const& b, Box const& box)
{
    // Clip the segment's parameter range against the three slabs.
    double t0 = 0.0;
    double t1 = 1.0;
    for (int i = 0; i < 3; ++i) {
        double const la = dot(a - box.centre, box.axis[i]);
        double const lb = dot(b - box.centre, box.axis[i]);
        double const h = box.half[i];
        double const d = lb - la;
        if (d == 0.0) {
            if (la < -h || la > h)
                return false;
            continue;
        }
        double ta = (-h - la) / d;
        double tb = (h - la) / d;
        if (ta > tb)
            std::swap(ta, tb);
        t0 = std::max(t0, ta);
        t1 = std::min(t1, tb);
        if (t0 > t1)
            return false;
    }
    return true;
}

namespace {

void boxVertices(Box const& b, Vec3 (&v)[8])
{
    for (int k = 0; k < 8; ++k) {
        Vec3 p = b.centre;
        for (int i = 0; i < 3; ++i)
            p = p + b.axis[i] * (((k >> i) & 1) ? b.half[i] : -b.half[i]);
        v[k] = p;
    }
}

// The 12 edges as vertex index pairs: vertices differing in one bit.
void boxEdges(Box const& b, Vec3 (&e)[12][2])
{
    Vec3 v[8];
    boxVertices(b, v);
    int n = 0;
    for (int k = 0; k < 8; ++k)
        for (int i = 0; i < 3; ++i)
            if (!((k >> i) & 1)) {
                e[n][0] = v[k];
                e[n][1] = v[k | (1 << i)];
                ++n;
            }
}

} // namespace

double boxDistance(Box const& a, Box const& b)
{
    Vec3 ea[12][2];
    Vec3 eb[12][2];
    boxEdges(a, ea);
    boxEdges(b, eb);
    // Two convex polyhedra meet exactly when an edge of one meets the other.
    for (int i = 0; i < 12; ++i)
        if (segmentIntersectsBox(ea[i][0], ea[i][1], b) || segmentIntersectsBox(eb[i][0], eb[i][1], a))
            return 0.0;
    Vec3 va[8];
    Vec3 vb[8];
    boxVertices(a, va);
    boxVertices(b, vb);
    double best = std::numeric_limits<double>::infinity();
    for (int k = 0; k < 8; ++k) {
        best = std::min(best, pointBoxDistance(va[k], b));
        best = std::min(best, pointBoxDistance(vb[k], a));
    }
    for (int i = 0; i < 12; ++i)
        for (int j = 0; j < 12; ++j)
            best = std::min(best, segmentDistance(ea[i][0], ea[i][1], eb[j][0], eb[j][1]));
    return best;
}

double boxTriangleDistance(Box const& box, Tri const& t)
{
    for (int i = 0; i < 3; ++i)
        if (segmentIntersectsBox(t[i], t[(i + 1) % 3], box))
            return 0.0;
    Vec3 e[12][2];
    boxEdges(box, e);
    double best = std::numeric_limits<double>::infinity();
    for (int i = 0; i < 12; ++i)
        best = std::min(best, segmentTriangleDistance(e[i][0], e[i][1], t));
    for (int i = 0; i < 3; ++i)
        best = std::min(best, pointBoxDistance(t[i], box));
    return best;
}

std::ostream& operator<<(std::ostream& s, Vec3 const& v)
{
    return s << "(" << v.x << ", " << v.y << ", " << v.z << ")";
}

} // namespace tvxtest
