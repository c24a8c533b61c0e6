#include <tests/support/TrianglePairs.h>

#include <cmath>
#include <iomanip>
#include <ostream>

namespace tvxtest {

namespace {

Vec3 randomIn(Random& rng, double lo, double hi)
{
    return {rng.uniform(lo, hi), rng.uniform(lo, hi), rng.uniform(lo, hi)};
}

Vec3 rotate(double const (&R)[3][3], Vec3 const& v)
{
    return {R[0][0] * v.x + R[0][1] * v.y + R[0][2] * v.z, R[1][0] * v.x + R[1][1] * v.y + R[1][2] * v.z,
            R[2][0] * v.x + R[2][1] * v.y + R[2][2] * v.z};
}

void store(float (&out)[3][3], Tri const& t)
{
    for (int k = 0; k < 3; ++k) {
        out[k][0] = static_cast<float>(t[k].x);
        out[k][1] = static_cast<float>(t[k].y);
        out[k][2] = static_cast<float>(t[k].z);
    }
}

Tri randomTri(Random& rng, Vec3 const& centre, double size)
{
    return {centre + randomIn(rng, -size, size), centre + randomIn(rng, -size, size),
            centre + randomIn(rng, -size, size)};
}

Tri moved(Tri const& t, double const (&R)[3][3], Vec3 const& d)
{
    return {rotate(R, t[0]) + d, rotate(R, t[1]) + d, rotate(R, t[2]) + d};
}

// A point of the triangle from random barycentric coordinates; on an edge
// when `onEdge`.
Vec3 pointOn(Random& rng, Tri const& t, bool onEdge)
{
    double u = rng.unit();
    double v = rng.unit();
    if (u + v > 1.0) {
        u = 1.0 - u;
        v = 1.0 - v;
    }
    if (onEdge)
        v = 1.0 - u;
    return t[0] * (1.0 - u - v) + t[1] * u + t[2] * v;
}

void makeGeneral(Random& rng, float (&s)[3][3], float (&t)[3][3], double scale, Vec3 const& offset)
{
    Tri const a = randomTri(rng, offset, scale);
    Tri const b = randomTri(rng, offset + randomIn(rng, -scale, scale), scale);
    store(s, a);
    store(t, b);
}

} // namespace

char const* familyName(PairFamily f)
{
    switch (f) {
    case PairFamily::General: return "general";
    case PairFamily::NearParallel: return "near-parallel";
    case PairFamily::Coplanar: return "coplanar";
    case PairFamily::Touching: return "touching";
    case PairFamily::Crossing: return "crossing";
    case PairFamily::SharedVertex: return "shared-vertex";
    case PairFamily::SharedEdge: return "shared-edge";
    case PairFamily::Degenerate: return "degenerate";
    case PairFamily::Large: return "large";
    case PairFamily::Tiny: return "tiny";
    case PairFamily::Sliver: return "sliver";
    case PairFamily::NearVertex: return "near-vertex";
    case PairFamily::Scaled: return "scaled";
    }
    return "?";
}

void randomRotation(Random& rng, double (&R)[3][3])
{
    // Uniform unit quaternion by rejection from the 4-cube.
    double w, x, y, z, n;
    do {
        w = rng.uniform(-1, 1);
        x = rng.uniform(-1, 1);
        y = rng.uniform(-1, 1);
        z = rng.uniform(-1, 1);
        n = w * w + x * x + y * y + z * z;
    } while (n > 1.0 || n < 1.0e-6);
    n = std::sqrt(n);
    w /= n;
    x /= n;
    y /= n;
    z /= n;
    R[0][0] = 1 - 2 * (y * y + z * z);
    R[0][1] = 2 * (x * y - w * z);
    R[0][2] = 2 * (x * z + w * y);
    R[1][0] = 2 * (x * y + w * z);
    R[1][1] = 1 - 2 * (x * x + z * z);
    R[1][2] = 2 * (y * z - w * x);
    R[2][0] = 2 * (x * z - w * y);
    R[2][1] = 2 * (y * z + w * x);
    R[2][2] = 1 - 2 * (x * x + y * y);
}

void makeTrianglePair(Random& rng, PairFamily f, float (&s)[3][3], float (&t)[3][3])
{
    double R[3][3];
    switch (f) {
    case PairFamily::General:
        makeGeneral(rng, s, t, 1.0, Vec3());
        return;
    case PairFamily::NearParallel: {
        // Two triangles in planes a little apart and a little tilted, then
        // placed anywhere.
        randomRotation(rng, R);
        double const gap = rng.uniform(-0.01, 0.01);
        double const tilt = rng.chance(0.5) ? 0.0 : rng.uniform(-1.0e-3, 1.0e-3);
        Tri a;
        Tri b;
        for (int k = 0; k < 3; ++k) {
            a[k] = Vec3(rng.uniform(-1, 1), rng.uniform(-1, 1), 0.0);
            b[k] = Vec3(rng.uniform(-1, 1), rng.uniform(-1, 1), 0.0);
            b[k].z = gap + tilt * b[k].x;
        }
        Vec3 const d = randomIn(rng, -2, 2);
        store(s, moved(a, R, d));
        store(t, moved(b, R, d));
        return;
    }
    case PairFamily::Coplanar: {
        // Exactly coplanar in a coordinate plane (so the floats are too), or
        // coplanar up to rounding after a rotation.
        double const z0 = static_cast<float>(rng.uniform(-2, 2));
        Tri a;
        Tri b;
        for (int k = 0; k < 3; ++k) {
            a[k] = Vec3(rng.uniform(-1, 1), rng.uniform(-1, 1), z0);
            b[k] = Vec3(rng.uniform(-1, 1), rng.uniform(-1, 1), z0);
        }
        if (rng.chance(0.5)) {
            randomRotation(rng, R);
            Vec3 const d = randomIn(rng, -2, 2);
            a = moved(a, R, d);
            b = moved(b, R, d);
        }
        store(s, a);
        store(t, b);
        return;
    }
    case PairFamily::Touching: {
        // A vertex of t on s (inside or on an edge), the rest of t on one
        // side of the plane of s.
        Tri const a = randomTri(rng, Vec3(), 1.0);
        Vec3 n = cross(a[1] - a[0], a[2] - a[0]);
        n = n * (1.0 / norm(n));
        Vec3 const x = pointOn(rng, a, rng.chance(0.3));
        double const side = rng.chance(0.5) ? 1.0 : -1.0;
        Tri b;
        b[0] = x;
        for (int k = 1; k < 3; ++k)
            b[k] = x + randomIn(rng, -1, 1) + n * (side * rng.uniform(0.05, 1.0));
        store(s, a);
        store(t, b);
        return;
    }
    case PairFamily::Crossing: {
        // A point inside s is the centroid of t.
        Tri const a = randomTri(rng, Vec3(), 1.0);
        Vec3 const x = pointOn(rng, a, false);
        Vec3 const v0 = randomIn(rng, -1, 1);
        Vec3 const v1 = randomIn(rng, -1, 1);
        Tri const b = {x + v0, x + v1, x - v0 - v1};
        store(s, a);
        store(t, b);
        return;
    }
    case PairFamily::SharedVertex: {
        Tri const a = randomTri(rng, Vec3(), 1.0);
        store(s, a);
        int const k = static_cast<int>(rng.below(3));
        Tri const b = {Vec3(), randomIn(rng, -1, 1), randomIn(rng, -1, 1)};
        store(t, b);
        for (int i = 0; i < 3; ++i) {
            t[1][i] = static_cast<float>(a[k][i] + b[1][i]);
            t[2][i] = static_cast<float>(a[k][i] + b[2][i]);
            t[0][i] = s[k][i];
        }
        return;
    }
    case PairFamily::SharedEdge: {
        // t shares the edge s0-s1 (reversed, as a neighbour in a mesh does);
        // its third vertex anywhere, coplanar fold included.
        Tri const a = randomTri(rng, Vec3(), 1.0);
        store(s, a);
        Vec3 c = randomIn(rng, -1, 1);
        if (rng.chance(0.2))
            c = a[0] + a[1] - a[2]; // flat fold to the other side
        for (int i = 0; i < 3; ++i) {
            t[0][i] = s[1][i];
            t[1][i] = s[0][i];
            t[2][i] = static_cast<float>(c[i]);
        }
        return;
    }
    case PairFamily::Degenerate: {
        makeGeneral(rng, s, t, 1.0, Vec3());
        // Degrade t, s, or both.
        int const which = static_cast<int>(rng.below(3));
        for (int side = 0; side < 2; ++side) {
            if (which != 2 && which != side)
                continue;
            float (&d)[3][3] = side == 0 ? s : t;
            switch (rng.below(4)) {
            case 0: // repeated vertex
                for (int i = 0; i < 3; ++i)
                    d[2][i] = d[0][i];
                break;
            case 1: { // exactly collinear: a line along a coordinate axis
                int const ax = static_cast<int>(rng.below(3));
                for (int k = 1; k < 3; ++k)
                    for (int i = 0; i < 3; ++i)
                        if (i != ax)
                            d[k][i] = d[0][i];
                break;
            }
            case 2: { // nearly collinear: third vertex near the first edge
                double const u = rng.uniform(-0.5, 1.5);
                double const off = rng.uniform(-1.0e-5, 1.0e-5);
                for (int i = 0; i < 3; ++i)
                    d[2][i] = static_cast<float>(d[0][i] + u * (double(d[1][i]) - d[0][i]) + off * (i + 1));
                break;
            }
            default: // a single point
                for (int k = 1; k < 3; ++k)
                    for (int i = 0; i < 3; ++i)
                        d[k][i] = d[0][i];
                break;
            }
        }
        return;
    }
    case PairFamily::Large: {
        double const scale = std::pow(10.0, rng.uniform(1.0, 3.0));
        makeGeneral(rng, s, t, scale, randomIn(rng, -1.0e5, 1.0e5));
        return;
    }
    case PairFamily::Tiny: {
        double const scale = std::pow(10.0, -rng.uniform(3.0, 7.0));
        makeGeneral(rng, s, t, scale, randomIn(rng, -2.0 * scale, 2.0 * scale));
        return;
    }
    case PairFamily::Sliver: {
        // t nearly collinear (its third vertex 1e-7 to 1e-2 of its length
        // off the line of the other two, or on it), long or short, passing
        // through a point of s, near it, or through a vertex or edge of s.
        Tri const a = randomTri(rng, Vec3(), 1.0);
        Vec3 const x = pointOn(rng, a, rng.chance(0.3)) + randomIn(rng, -1, 1) * (rng.chance(0.5) ? 0.0 : 1e-3);
        Vec3 dir = randomIn(rng, -1, 1);
        double const len = std::pow(10.0, rng.uniform(-1.0, 3.0));
        dir = dir * (len / norm(dir));
        double const u = rng.uniform(0.0, 1.0);
        Vec3 const off = randomIn(rng, -1, 1) * (len * (rng.chance(0.2) ? 0.0 : std::pow(10.0, -rng.uniform(2.0, 7.0))));
        Tri const b = {x - dir * u, x + dir * (1.0 - u), x + dir * rng.uniform(-0.5, 1.5) + off};
        store(s, a);
        store(t, b);
        return;
    }
    case PairFamily::NearVertex: {
        // A vertex of t at a vertex of s or on an edge of s, moved by 0 to
        // a few float roundings, the rest of t anywhere.
        Tri const a = randomTri(rng, Vec3(), 1.0);
        store(s, a);
        int const k = static_cast<int>(rng.below(3));
        Vec3 x = a[k];
        if (rng.chance(0.5)) {
            double const w = rng.unit();
            x = a[k] * (1.0 - w) + a[(k + 1) % 3] * w;
        }
        Tri const b = {x + randomIn(rng, -1, 1) * (rng.chance(0.3) ? 0.0 : 1e-7 * rng.unit()), x + randomIn(rng, -1, 1),
                       x + randomIn(rng, -1, 1)};
        store(t, b);
        if (rng.chance(0.3))
            for (int i = 0; i < 3; ++i)
                t[0][i] = s[k][i];
        return;
    }
    case PairFamily::Scaled: {
        PairFamily const inner = static_cast<PairFamily>(rng.below(static_cast<std::uint32_t>(PairFamily::Sliver) + 2));
        makeTrianglePair(rng, inner == PairFamily::Scaled ? PairFamily::Crossing : inner, s, t);
        double const scale = std::pow(10.0, rng.uniform(-4.0, 4.0));
        Vec3 const offset = rng.chance(0.5) ? Vec3() : randomIn(rng, -1.0e5, 1.0e5);
        for (int k = 0; k < 3; ++k)
            for (int i = 0; i < 3; ++i) {
                s[k][i] = static_cast<float>(s[k][i] * scale + offset[i]);
                t[k][i] = static_cast<float>(t[k][i] * scale + offset[i]);
            }
        return;
    }
    }
}

void printTriangle(std::ostream& s, float const (*t)[3])
{
    std::ios::fmtflags const flags = s.flags();
    std::streamsize const prec = s.precision();
    s << std::setprecision(9) << "{";
    for (int k = 0; k < 3; ++k)
        s << (k ? ", " : "") << "{" << t[k][0] << "f, " << t[k][1] << "f, " << t[k][2] << "f}";
    s << "}";
    s.flags(flags);
    s.precision(prec);
}

} // namespace tvxtest
