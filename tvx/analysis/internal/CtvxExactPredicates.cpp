#include <tvx/analysis/internal/CtvxExactPredicates.h>

#include <cmath>

namespace {

// Unit roundoff of double precision.
constexpr double Eps = 1.1102230246251565e-16; // 2^-53

// Error bounds of the double evaluations below, relative to the sum of the
// magnitudes of the terms (the "permanent"). They cover the rounding of the
// coordinate differences, of every product and of every sum, for any double
// inputs that neither overflow nor underflow (floats never do, see the
// header); the derivation is the classical one for these two determinants.
constexpr double Orient3dBound = (7.0 + 56.0 * Eps) * Eps;
constexpr double Orient2dBound = (3.0 + 16.0 * Eps) * Eps;

// The same determinant as a triple product x . (y cross z) of rounded
// differences, for several determinants sharing y cross z: the differences
// (one rounding each), the two products and the difference of each cross
// component (three), then the three products and two sums of the dot
// product (three) perturb each term by at most 8 roundings relative to the
// sum of the magnitudes of the terms; 12 leaves room for the rounding of
// that sum itself.
constexpr double TripleBound = 12.0 * Eps;

// x + y == a + b exactly, x the rounded sum.
inline void twoSum(double a, double b, double& x, double& y)
{
    x = a + b;
    double const bv = x - a;
    double const av = x - bv;
    y = (a - av) + (b - bv);
}

// x + y == a * b exactly, for any double a and a float b (at most 24
// significant bits, so b needs no splitting). a is split into two halves of
// at most 26 bits; every partial product then fits in 53 bits.
inline void twoProductByFloat(double a, double b, double& x, double& y)
{
    x = a * b;
    double const c = 134217729.0 * a; // 2^27 + 1
    double const hi = c - (c - a);
    double const lo = a - hi;
    y = (hi * b - x) + lo * b;
}

// Adds b to the expansion e[0..n) (nonoverlapping components, increasing
// magnitude, no zeros) and returns its new length; the result has the same
// properties.
inline int grow(double* e, int n, double b)
{
    double q = b;
    int k = 0;
    for (int i = 0; i < n; ++i) {
        double s, h;
        twoSum(q, e[i], s, h);
        q = s;
        if (h != 0.0)
            e[k++] = h;
    }
    if (q != 0.0)
        e[k++] = q;
    return k;
}

// The exact sign of the sum of n doubles: the sign of the largest component
// of their expansion, which outweighs all the others together.
int signOfSum(double const* terms, int n)
{
    double e[48];
    int m = 0;
    for (int i = 0; i < n; ++i)
        if (terms[i] != 0.0)
            m = grow(e, m, terms[i]);
    if (m == 0)
        return 0;
    return e[m - 1] > 0.0 ? 1 : -1;
}

inline int signOf(double x)
{
    return x > 0.0 ? 1 : (x < 0.0 ? -1 : 0);
}

// The six monomials of the 3x3 determinant | x ; y ; z | of raw
// coordinates, each exactly as two doubles, with the sign s.
inline double* det3Terms(double* out, float const* x, float const* y, float const* z, double s)
{
    // x0 y1 z2 - x0 y2 z1 + x1 y2 z0 - x1 y0 z2 + x2 y0 z1 - x2 y1 z0
    int const idx[6][3] = {{0, 1, 2}, {0, 2, 1}, {1, 2, 0}, {1, 0, 2}, {2, 0, 1}, {2, 1, 0}};
    for (int m = 0; m < 6; ++m) {
        double const xy = static_cast<double>(x[idx[m][0]]) * y[idx[m][1]]; // exact: 48 bits
        double hi, lo;
        twoProductByFloat(xy, z[idx[m][2]], hi, lo);
        double const sign = (m & 1) ? -s : s;
        *out++ = sign * hi;
        *out++ = sign * lo;
    }
    return out;
}

int orient3dExact(float const* a, float const* b, float const* c, float const* d)
{
    // | a-d ; b-d ; c-d | is the 4x4 determinant with rows (p, 1), expanded
    // along its column of ones: - |b c d| + |a c d| - |a b d| + |a b c|.
    double terms[48];
    double* t = terms;
    t = det3Terms(t, b, c, d, -1.0);
    t = det3Terms(t, a, c, d, 1.0);
    t = det3Terms(t, a, b, d, -1.0);
    det3Terms(t, a, b, c, 1.0);
    return signOfSum(terms, 48);
}

int orient2dExact(float const* a, float const* b, float const* c, int i, int j)
{
    // ai bj - aj bi + bi cj - bj ci + ci aj - cj ai, each product exact.
    double const terms[6] = {double(a[i]) * b[j], -double(a[j]) * b[i], double(b[i]) * c[j],
                             -double(b[j]) * c[i], double(c[i]) * a[j], -double(c[j]) * a[i]};
    return signOfSum(terms, 6);
}

// The triangle decision below, with the predicates' counter at hand and the
// flat projection of each triangle found once.
class Decision {
public:
    explicit Decision(unsigned long& ioExpansions) : m_expansions(ioExpansions) {}

    bool intersect(float const (*p)[3], float const (*q)[3])
    {
        int sq[3], sp[3];
        sides(p, q, sq);
        if (sameSide(sq))
            return false;
        sides(q, p, sp);
        if (sameSide(sp))
            return false;
        // Two closed convex sets that meet share an extreme point of their
        // intersection, and it lies on the boundary of one of them: the
        // triangles meet exactly when an edge of one meets the other. A
        // degenerate triangle is the union of its edges, so this holds for
        // segments and points too.
        Flat fp, fq;
        for (int m = 0; m < 3; ++m)
            if (segmentMeets(p[m], p[(m + 1) % 3], q, fq, sp[m], sp[(m + 1) % 3]))
                return true;
        for (int m = 0; m < 3; ++m)
            if (segmentMeets(q[m], q[(m + 1) % 3], p, fp, sq[m], sq[(m + 1) % 3]))
                return true;
        return false;
    }

private:
    // A coordinate plane in which a triangle's projection has area, and the
    // sign of that area; sign 0 when the triangle is degenerate.
    struct Flat {
        bool known = false;
        int i = 0;
        int j = 1;
        int sign = 0;
    };

    int o3(float const* a, float const* b, float const* c, float const* d)
    {
        return CtvxExactPredicates::orient3d(a, b, c, d, m_expansions);
    }
    int o2(float const* a, float const* b, float const* c, int i, int j)
    {
        return CtvxExactPredicates::orient2d(a, b, c, i, j, m_expansions);
    }

    // A triple product x . y with the magnitudes |x_i| ya_i bounding its
    // terms: its sign when the filter is sure of it, otherwise 2.
    static int filtered(double const* x, double const* y, double const* ya)
    {
        double const det = x[0] * y[0] + x[1] * y[1] + x[2] * y[2];
        double const bound =
            TripleBound * (std::fabs(x[0]) * ya[0] + std::fabs(x[1]) * ya[1] + std::fabs(x[2]) * ya[2]);
        if (det > bound)
            return 1;
        if (-det > bound)
            return -1;
        return 2;
    }

    // y = a cross b and the magnitudes of its terms.
    static void crossTerms(double const* a, double const* b, double* y, double* ya)
    {
        for (int i = 0; i < 3; ++i) {
            int const j = (i + 1) % 3, k = (i + 2) % 3;
            double const l = a[j] * b[k], r = a[k] * b[j];
            y[i] = l - r;
            ya[i] = std::fabs(l) + std::fabs(r);
        }
    }

    // Orientations of q's vertices against t's plane: orient3d(t0, t1, t2,
    // q_k) is (t0 - q_k) . ((t1 - t0) x (t2 - t0)), one cross product for
    // all three.
    void sides(float const (*t)[3], float const (*q)[3], int (&out)[3])
    {
        double e1[3], e2[3], n[3], na[3];
        for (int i = 0; i < 3; ++i) {
            e1[i] = double(t[1][i]) - t[0][i];
            e2[i] = double(t[2][i]) - t[0][i];
        }
        crossTerms(e1, e2, n, na);
        for (int k = 0; k < 3; ++k) {
            double const w[3] = {double(t[0][0]) - q[k][0], double(t[0][1]) - q[k][1], double(t[0][2]) - q[k][2]};
            out[k] = filtered(w, n, na);
            if (out[k] == 2)
                out[k] = o3(t[0], t[1], t[2], q[k]);
        }
    }

    static bool sameSide(int const (&s)[3])
    {
        return (s[0] > 0 && s[1] > 0 && s[2] > 0) || (s[0] < 0 && s[1] < 0 && s[2] < 0);
    }

    void find(float const (*t)[3], Flat& f)
    {
        if (f.known)
            return;
        f.known = true;
        int const planes[3][2] = {{0, 1}, {1, 2}, {2, 0}};
        for (auto const& pl : planes) {
            int const s = o2(t[0], t[1], t[2], pl[0], pl[1]);
            if (s != 0) {
                f.i = pl[0];
                f.j = pl[1];
                f.sign = s;
                return;
            }
        }
    }

    // c on the closed segment a b, given that the three are collinear.
    static bool within(float const* a, float const* b, float const* c, int i, int j)
    {
        auto between = [](float lo, float hi, float x) { return lo <= hi ? lo <= x && x <= hi : hi <= x && x <= lo; };
        return between(a[i], b[i], c[i]) && between(a[j], b[j], c[j]);
    }

    // Closed segments a b and c d of the plane (i, j), either possibly a
    // point.
    bool segmentsMeet2(float const* a, float const* b, float const* c, float const* d, int i, int j)
    {
        int const o1 = o2(a, b, c, i, j);
        int const o2v = o2(a, b, d, i, j);
        int const o3v = o2(c, d, a, i, j);
        int const o4 = o2(c, d, b, i, j);
        if (o1 * o2v < 0 && o3v * o4 < 0)
            return true;
        return (o1 == 0 && within(a, b, c, i, j)) || (o2v == 0 && within(a, b, d, i, j)) ||
               (o3v == 0 && within(c, d, a, i, j)) || (o4 == 0 && within(c, d, b, i, j));
    }

    // Closed segments in space. Four coplanar points project one to one
    // along some coordinate axis, and meeting sets meet in every
    // projection, so coplanar segments meet exactly when all three
    // coordinate projections of them do.
    bool segmentsMeet3(float const* a, float const* b, float const* c, float const* d)
    {
        if (o3(a, b, c, d) != 0)
            return false;
        return segmentsMeet2(a, b, c, d, 0, 1) && segmentsMeet2(a, b, c, d, 1, 2) && segmentsMeet2(a, b, c, d, 2, 0);
    }

    // Segment a b against triangle t, with oa and ob the orientations of a
    // and b against t's plane.
    bool segmentMeets(float const* a, float const* b, float const (*t)[3], Flat& f, int oa, int ob)
    {
        if ((oa > 0 && ob > 0) || (oa < 0 && ob < 0))
            return false;
        if (oa == 0 && ob == 0) {
            find(t, f);
            if (f.sign == 0)
                return segmentsMeet3(a, b, t[0], t[1]) || segmentsMeet3(a, b, t[1], t[2]) ||
                       segmentsMeet3(a, b, t[2], t[0]);
            // The segment lies in the triangle's plane, which projects one
            // to one onto the plane (i, j).
            int const i = f.i, j = f.j;
            auto inside = [&](float const* x) {
                for (int m = 0; m < 3; ++m)
                    if (o2(t[m], t[(m + 1) % 3], x, i, j) * f.sign < 0)
                        return false;
                return true;
            };
            if (inside(a) || inside(b))
                return true;
            for (int m = 0; m < 3; ++m)
                if (segmentsMeet2(a, b, t[m], t[(m + 1) % 3], i, j))
                    return true;
            return false;
        }
        // The segment reaches the plane at one point (t has a plane: a
        // degenerate t gives every orientation 0). That point is in t when
        // the line a b passes on the same side of all three edges, or on one.
        // orient3d(a, b, c, d) is (b - a) . ((d - a) x (c - a)).
        double u[3], r[3][3];
        for (int i = 0; i < 3; ++i) {
            u[i] = double(b[i]) - a[i];
            for (int m = 0; m < 3; ++m)
                r[m][i] = double(t[m][i]) - a[i];
        }
        bool pos = false, neg = false;
        for (int m = 0; m < 3 && !(pos && neg); ++m) {
            double y[3], ya[3];
            crossTerms(r[(m + 1) % 3], r[m], y, ya);
            int sgn = filtered(u, y, ya);
            if (sgn == 2)
                sgn = o3(a, b, t[m], t[(m + 1) % 3]);
            pos = pos || sgn > 0;
            neg = neg || sgn < 0;
        }
        return !(pos && neg);
    }

    unsigned long& m_expansions;
};

} // namespace

int CtvxExactPredicates::orient3d(float const* a, float const* b, float const* c, float const* d,
                                  unsigned long& ioExpansions)
{
    double const adx = double(a[0]) - d[0], ady = double(a[1]) - d[1], adz = double(a[2]) - d[2];
    double const bdx = double(b[0]) - d[0], bdy = double(b[1]) - d[1], bdz = double(b[2]) - d[2];
    double const cdx = double(c[0]) - d[0], cdy = double(c[1]) - d[1], cdz = double(c[2]) - d[2];
    double const bdxcdy = bdx * cdy, cdxbdy = cdx * bdy;
    double const cdxady = cdx * ady, adxcdy = adx * cdy;
    double const adxbdy = adx * bdy, bdxady = bdx * ady;
    double const det = adz * (bdxcdy - cdxbdy) + bdz * (cdxady - adxcdy) + cdz * (adxbdy - bdxady);
    double const permanent = (std::fabs(bdxcdy) + std::fabs(cdxbdy)) * std::fabs(adz) +
                             (std::fabs(cdxady) + std::fabs(adxcdy)) * std::fabs(bdz) +
                             (std::fabs(adxbdy) + std::fabs(bdxady)) * std::fabs(cdz);
    double const bound = Orient3dBound * permanent;
    if (det > bound || -det > bound)
        return signOf(det);
    // Every product is zero: a rounded difference is zero only when its
    // two floats are equal, and nothing underflows, so the exact value is 0.
    if (permanent == 0.0)
        return 0;
    ++ioExpansions;
    return orient3dExact(a, b, c, d);
}

int CtvxExactPredicates::orient2d(float const* a, float const* b, float const* c, int i, int j,
                                  unsigned long& ioExpansions)
{
    double const left = (double(a[i]) - c[i]) * (double(b[j]) - c[j]);
    double const right = (double(a[j]) - c[j]) * (double(b[i]) - c[i]);
    double const det = left - right;
    double sum;
    if (left > 0.0) {
        if (right <= 0.0)
            return signOf(det);
        sum = left + right;
    } else if (left < 0.0) {
        if (right >= 0.0)
            return signOf(det);
        sum = -left - right;
    } else {
        return signOf(det);
    }
    double const bound = Orient2dBound * sum;
    if (det >= bound || -det >= bound)
        return signOf(det);
    ++ioExpansions;
    return orient2dExact(a, b, c, i, j);
}

bool CtvxExactPredicates::trianglesIntersect(float const (*p)[3], float const (*q)[3], unsigned long& ioExpansions)
{
    Decision d(ioExpansions);
    return d.intersect(p, q);
}
