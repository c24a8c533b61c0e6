#pragma once

// The separation lower bounds of CtvxProximityKernels (centre line, centroid
// line, axis gaps, triangles apart, the next float), inline: the nearest-
// first walk bounds nearly every pair it reaches with them.

#include <tvx/analysis/internal/CtvxProximityKernels.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

inline float CtvxProximityKernels::centreLineGap(float const (&inA)[3], float const (&inB)[3], CtvxMat4 const& inR)
{
    float const tx = inR(0, 3), ty = inR(1, 3), tz = inR(2, 3);
    float const len = std::sqrt(tx * tx + ty * ty + tz * tz);
    if (!(len > 0.0f))
        return -std::numeric_limits<float>::infinity();
    float const inv = 1.0f / len;
    float const ux = tx * inv, uy = ty * inv, uz = tz * inv;
    float reach = inA[0] * std::fabs(ux) + inA[1] * std::fabs(uy) + inA[2] * std::fabs(uz);
    for (int j = 0; j < 3; ++j)
        reach += inB[j] * std::fabs(inR(0, j) * ux + inR(1, j) * uy + inR(2, j) * uz);
    return len - reach;
}

inline float CtvxProximityKernels::centroidLineGap(float const (&inH)[3], float const (&inV)[3][3])
{
    // Any direction gives a sound bound; the centroid's scale does not
    // matter, only its direction.
    float const cx = inV[0][0] + inV[1][0] + inV[2][0];
    float const cy = inV[0][1] + inV[1][1] + inV[2][1];
    float const cz = inV[0][2] + inV[1][2] + inV[2][2];
    float const len = std::sqrt(cx * cx + cy * cy + cz * cz);
    if (!(len > 0.0f))
        return -std::numeric_limits<float>::infinity();
    float const inv = 1.0f / len;
    float const ux = cx * inv, uy = cy * inv, uz = cz * inv;
    float nearest = inV[0][0] * ux + inV[0][1] * uy + inV[0][2] * uz;
    for (int k = 1; k < 3; ++k) {
        float const p = inV[k][0] * ux + inV[k][1] * uy + inV[k][2] * uz;
        if (p < nearest)
            nearest = p;
    }
    return nearest - (inH[0] * std::fabs(ux) + inH[1] * std::fabs(uy) + inH[2] * std::fabs(uz));
}

inline float CtvxProximityKernels::axisGap(float const (&inA)[3], float const (&inB)[3], CtvxMat4 const& inR,
                                           float const (&inU)[3])
{
    float const along = inR(0, 3) * inU[0] + inR(1, 3) * inU[1] + inR(2, 3) * inU[2];
    float reach = inA[0] * std::fabs(inU[0]) + inA[1] * std::fabs(inU[1]) + inA[2] * std::fabs(inU[2]);
    for (int j = 0; j < 3; ++j)
        reach += inB[j] * std::fabs(inR(0, j) * inU[0] + inR(1, j) * inU[1] + inR(2, j) * inU[2]);
    return along - reach;
}

inline float CtvxProximityKernels::axisGap(float const (&inH)[3], float const (&inV)[3][3], float const (&inU)[3],
                                           bool inBehind)
{
    float lo = inV[0][0] * inU[0] + inV[0][1] * inU[1] + inV[0][2] * inU[2];
    float hi = lo;
    for (int k = 1; k < 3; ++k) {
        float const p = inV[k][0] * inU[0] + inV[k][1] * inU[1] + inV[k][2] * inU[2];
        lo = p < lo ? p : lo;
        hi = p > hi ? p : hi;
    }
    float const reach = inH[0] * std::fabs(inU[0]) + inH[1] * std::fabs(inU[1]) + inH[2] * std::fabs(inU[2]);
    return (inBehind ? -hi : lo) - reach;
}

inline bool CtvxProximityKernels::trianglesApart(float const (&inA)[3][3], float const (&inB)[3][3], float const* inU,
                                                 float inBeyond)
{
    auto apart = [&](float const* n) {
        float hiA = inA[0][0] * n[0] + inA[0][1] * n[1] + inA[0][2] * n[2];
        float loB = inB[0][0] * n[0] + inB[0][1] * n[1] + inB[0][2] * n[2];
        for (int k = 1; k < 3; ++k) {
            float const pa = inA[k][0] * n[0] + inA[k][1] * n[1] + inA[k][2] * n[2];
            float const pb = inB[k][0] * n[0] + inB[k][1] * n[1] + inB[k][2] * n[2];
            hiA = pa > hiA ? pa : hiA;
            loB = pb < loB ? pb : loB;
        }
        return loB - hiA > inBeyond;
    };
    if (inU && apart(inU))
        return true;
    float c[3];
    for (int i = 0; i < 3; ++i)
        c[i] = (inB[0][i] + inB[1][i] + inB[2][i]) - (inA[0][i] + inA[1][i] + inA[2][i]);
    float const len = std::sqrt(c[0] * c[0] + c[1] * c[1] + c[2] * c[2]);
    if (!(len > 0.0f))
        return false;
    float const inv = 1.0f / len;
    float const n[3] = {c[0] * inv, c[1] * inv, c[2] * inv};
    return apart(n);
}

inline float CtvxProximityKernels::justAbove(float x)
{
    if (x > 0.0f && x < std::numeric_limits<float>::max()) {
        std::uint32_t b;
        std::memcpy(&b, &x, sizeof b);
        ++b;
        std::memcpy(&x, &b, sizeof b);
        return x;
    }
    return std::nextafter(x, std::numeric_limits<float>::infinity());
}
