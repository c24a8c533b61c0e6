#pragma once

// The lane types of the tree build on plain arrays, for targets without
// SSE2 and for builds configured with TVX_SIMD off. Same types and
// operations as CtvxLanesSse.h, with the same results bit for bit: each lane
// is the IEEE operation on that lane alone, comparisons are false for NaN,
// and min, max, abs and the sign flip follow the SSE instructions to the bit
// (which operand a NaN comparison hands back, the sign bit of a NaN).
// Include CtvxLanes.h, which picks one.

#include <cmath>
#include <cstdint>
#include <cstring>

namespace tvx_scalar {

struct Mask4 {
    bool m[4];

    static Mask4 lanes(int bits) { return {{(bits & 1) != 0, (bits & 2) != 0, (bits & 4) != 0, (bits & 8) != 0}}; }
    static Mask4 none() { return {{false, false, false, false}}; }
};

inline Mask4 operator&(Mask4 a, Mask4 b)
{
    return {{a.m[0] && b.m[0], a.m[1] && b.m[1], a.m[2] && b.m[2], a.m[3] && b.m[3]}};
}
inline Mask4 operator|(Mask4 a, Mask4 b)
{
    return {{a.m[0] || b.m[0], a.m[1] || b.m[1], a.m[2] || b.m[2], a.m[3] || b.m[3]}};
}
// a and not b.
inline Mask4 andNot(Mask4 a, Mask4 b)
{
    return {{a.m[0] && !b.m[0], a.m[1] && !b.m[1], a.m[2] && !b.m[2], a.m[3] && !b.m[3]}};
}

struct Float4 {
    float x[4];

    static Float4 load(float const* p) { return {{p[0], p[1], p[2], p[3]}}; }
    static Float4 broadcast(float a) { return {{a, a, a, a}}; }
    static Float4 set(float a, float b, float c, float d) { return {{a, b, c, d}}; }
    void store(float* p) const { std::memcpy(p, x, sizeof x); }
    // Lane k of the result is lane Ik of this.
    template <int I0, int I1, int I2, int I3>
    Float4 permute() const
    {
        return {{x[I0], x[I1], x[I2], x[I3]}};
    }
};

// One lane-wise operation, written once for the arithmetic below.
template <class F>
inline Float4 eachLane(Float4 a, Float4 b, F f)
{
    return {{f(a.x[0], b.x[0]), f(a.x[1], b.x[1]), f(a.x[2], b.x[2]), f(a.x[3], b.x[3])}};
}

template <class F>
inline Mask4 eachCompare(Float4 a, Float4 b, F f)
{
    return {{f(a.x[0], b.x[0]), f(a.x[1], b.x[1]), f(a.x[2], b.x[2]), f(a.x[3], b.x[3])}};
}

inline Float4 operator+(Float4 a, Float4 b) { return eachLane(a, b, [](float p, float q) { return p + q; }); }
inline Float4 operator-(Float4 a, Float4 b) { return eachLane(a, b, [](float p, float q) { return p - q; }); }
inline Float4 operator*(Float4 a, Float4 b) { return eachLane(a, b, [](float p, float q) { return p * q; }); }
inline Float4 operator/(Float4 a, Float4 b) { return eachLane(a, b, [](float p, float q) { return p / q; }); }
// a < b ? a : b, lane by lane: b where either is NaN.
inline Float4 min(Float4 a, Float4 b) { return eachLane(a, b, [](float p, float q) { return p < q ? p : q; }); }
// a > b ? a : b, lane by lane: b where either is NaN.
inline Float4 max(Float4 a, Float4 b) { return eachLane(a, b, [](float p, float q) { return p > q ? p : q; }); }

inline float withSignBit(float a, std::uint32_t andMask, std::uint32_t xorMask)
{
    std::uint32_t u;
    std::memcpy(&u, &a, sizeof u);
    u = (u & andMask) ^ xorMask;
    std::memcpy(&a, &u, sizeof u);
    return a;
}

// Clears the sign bit, of a NaN too.
inline Float4 abs(Float4 a)
{
    return eachLane(a, a, [](float p, float) { return withSignBit(p, 0x7FFFFFFFu, 0u); });
}
inline Float4 sqrt(Float4 a) { return eachLane(a, a, [](float p, float) { return std::sqrt(p); }); }
inline Mask4 operator==(Float4 a, Float4 b) { return eachCompare(a, b, [](float p, float q) { return p == q; }); }
inline Mask4 operator<(Float4 a, Float4 b) { return eachCompare(a, b, [](float p, float q) { return p < q; }); }
inline Mask4 operator>(Float4 a, Float4 b) { return eachCompare(a, b, [](float p, float q) { return p > q; }); }
inline Float4 select(Mask4 m, Float4 yes, Float4 no)
{
    return {{m.m[0] ? yes.x[0] : no.x[0], m.m[1] ? yes.x[1] : no.x[1], m.m[2] ? yes.x[2] : no.x[2],
             m.m[3] ? yes.x[3] : no.x[3]}};
}
// Bit i set where lane i of m is.
inline int laneBits(Mask4 m) { return (m.m[0] ? 1 : 0) | (m.m[1] ? 2 : 0) | (m.m[2] ? 4 : 0) | (m.m[3] ? 8 : 0); }
// Rows a, b, c, d become the columns.
inline void transpose(Float4& a, Float4& b, Float4& c, Float4& d)
{
    Float4* const rows[4] = {&a, &b, &c, &d};
    float m[4][4];
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            m[i][j] = rows[i]->x[j];
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            rows[i]->x[j] = m[j][i];
}
// +0 where m is set.
inline Float4 zeroWhere(Mask4 m, Float4 a) { return select(m, Float4::broadcast(0.0f), a); }
// The sign bit flipped where m is set.
inline Float4 negateWhere(Mask4 m, Float4 a)
{
    Float4 r = a;
    for (int i = 0; i < 4; ++i)
        if (m.m[i])
            r.x[i] = withSignBit(a.x[i], 0xFFFFFFFFu, 0x80000000u);
    return r;
}

struct Double2 {
    double x[2];

    static Double2 broadcast(double a) { return {{a, a}}; }
    static Double2 set(double a, double b) { return {{a, b}}; }
    void store(double* p) const { std::memcpy(p, x, sizeof x); }
};

inline Double2 operator+(Double2 a, Double2 b) { return {{a.x[0] + b.x[0], a.x[1] + b.x[1]}}; }
inline Double2 operator*(Double2 a, Double2 b) { return {{a.x[0] * b.x[0], a.x[1] * b.x[1]}}; }
inline Double2 operator/(Double2 a, Double2 b) { return {{a.x[0] / b.x[0], a.x[1] / b.x[1]}}; }
inline Double2 sqrt(Double2 a) { return {{std::sqrt(a.x[0]), std::sqrt(a.x[1])}}; }
// Clears the sign bit, of a NaN too.
inline Double2 abs(Double2 a)
{
    Double2 r;
    for (int i = 0; i < 2; ++i) {
        std::uint64_t u;
        std::memcpy(&u, &a.x[i], sizeof u);
        u &= 0x7FFFFFFFFFFFFFFFull;
        std::memcpy(&r.x[i], &u, sizeof u);
    }
    return r;
}
// a > b ? a : b, lane by lane: b where either is NaN.
inline Double2 max(Double2 a, Double2 b)
{
    return {{a.x[0] > b.x[0] ? a.x[0] : b.x[0], a.x[1] > b.x[1] ? a.x[1] : b.x[1]}};
}
// Bit i set where lane i of a is below lane i of b.
inline int lessBits(Double2 a, Double2 b) { return (a.x[0] < b.x[0] ? 1 : 0) | (a.x[1] < b.x[1] ? 2 : 0); }
// Lanes 0, 1 (low) or 2, 3 (high) of a, widened exactly.
inline Double2 widenLow(Float4 a) { return {{static_cast<double>(a.x[0]), static_cast<double>(a.x[1])}}; }
inline Double2 widenHigh(Float4 a) { return {{static_cast<double>(a.x[2]), static_cast<double>(a.x[3])}}; }
// (low 0, low 1, high 0, high 1), each rounded to nearest.
inline Float4 narrow(Double2 low, Double2 high)
{
    return {{static_cast<float>(low.x[0]), static_cast<float>(low.x[1]), static_cast<float>(high.x[0]),
             static_cast<float>(high.x[1])}};
}

} // namespace tvx_scalar
