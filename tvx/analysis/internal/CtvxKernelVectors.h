#pragma once

// Vector helpers of the triangle kernels, shared by the contact tests, the
// distance search and its check, so that all of them sum in the same order.

#include <cmath>

namespace tvxkernels {

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

} // namespace tvxkernels
