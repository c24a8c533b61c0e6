#pragma once

// The lane types of the tree build on SSE2 registers: four floats, two
// doubles and a four-lane mask. CtvxLanesScalar.h defines the same types
// with plain arrays; every operation here rounds lane by lane exactly as the
// scalar operation of that file does, so a pass written against the types
// gives the same floats with either. Include CtvxLanes.h, which picks one.

#include <emmintrin.h>

namespace tvx_sse {

struct Mask4 {
    __m128 v;

    // Lane i set where bit i of bits is.
    static Mask4 lanes(int bits)
    {
        __m128i const index = _mm_setr_epi32(1, 2, 4, 8);
        return {_mm_castsi128_ps(_mm_cmpeq_epi32(_mm_and_si128(_mm_set1_epi32(bits), index), index))};
    }
    static Mask4 none() { return {_mm_setzero_ps()}; }
};

inline Mask4 operator&(Mask4 a, Mask4 b) { return {_mm_and_ps(a.v, b.v)}; }
inline Mask4 operator|(Mask4 a, Mask4 b) { return {_mm_or_ps(a.v, b.v)}; }
// a and not b.
inline Mask4 andNot(Mask4 a, Mask4 b) { return {_mm_andnot_ps(b.v, a.v)}; }

struct Float4 {
    __m128 v;

    static Float4 load(float const* p) { return {_mm_loadu_ps(p)}; }
    static Float4 broadcast(float x) { return {_mm_set1_ps(x)}; }
    static Float4 set(float a, float b, float c, float d) { return {_mm_setr_ps(a, b, c, d)}; }
    void store(float* p) const { _mm_storeu_ps(p, v); }
    // Lane k of the result is lane Ik of this.
    template <int I0, int I1, int I2, int I3>
    Float4 permute() const
    {
        return {_mm_shuffle_ps(v, v, _MM_SHUFFLE(I3, I2, I1, I0))};
    }
};

inline Float4 operator+(Float4 a, Float4 b) { return {_mm_add_ps(a.v, b.v)}; }
inline Float4 operator-(Float4 a, Float4 b) { return {_mm_sub_ps(a.v, b.v)}; }
inline Float4 operator*(Float4 a, Float4 b) { return {_mm_mul_ps(a.v, b.v)}; }
inline Float4 operator/(Float4 a, Float4 b) { return {_mm_div_ps(a.v, b.v)}; }
// a < b ? a : b, lane by lane: b where either is NaN.
inline Float4 min(Float4 a, Float4 b) { return {_mm_min_ps(a.v, b.v)}; }
// a > b ? a : b, lane by lane: b where either is NaN.
inline Float4 max(Float4 a, Float4 b) { return {_mm_max_ps(a.v, b.v)}; }
// Clears the sign bit, of a NaN too.
inline Float4 abs(Float4 a) { return {_mm_and_ps(a.v, _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF)))}; }
inline Float4 sqrt(Float4 a) { return {_mm_sqrt_ps(a.v)}; }
inline Mask4 operator==(Float4 a, Float4 b) { return {_mm_cmpeq_ps(a.v, b.v)}; }
inline Mask4 operator<(Float4 a, Float4 b) { return {_mm_cmplt_ps(a.v, b.v)}; }
inline Mask4 operator>(Float4 a, Float4 b) { return {_mm_cmpgt_ps(a.v, b.v)}; }
inline Float4 select(Mask4 m, Float4 yes, Float4 no)
{
    return {_mm_or_ps(_mm_and_ps(m.v, yes.v), _mm_andnot_ps(m.v, no.v))};
}
// Bit i set where lane i of m is.
inline int laneBits(Mask4 m) { return _mm_movemask_ps(m.v); }
// Rows a, b, c, d become the columns.
inline void transpose(Float4& a, Float4& b, Float4& c, Float4& d) { _MM_TRANSPOSE4_PS(a.v, b.v, c.v, d.v); }
// +0 where m is set.
inline Float4 zeroWhere(Mask4 m, Float4 a) { return {_mm_andnot_ps(m.v, a.v)}; }
// The sign bit flipped where m is set.
inline Float4 negateWhere(Mask4 m, Float4 a)
{
    return {_mm_xor_ps(a.v, _mm_and_ps(m.v, _mm_castsi128_ps(_mm_set1_epi32(static_cast<int>(0x80000000u)))))};
}

struct Double2 {
    __m128d v;

    static Double2 broadcast(double x) { return {_mm_set1_pd(x)}; }
    static Double2 set(double a, double b) { return {_mm_setr_pd(a, b)}; }
    void store(double* p) const { _mm_storeu_pd(p, v); }
};

inline Double2 operator+(Double2 a, Double2 b) { return {_mm_add_pd(a.v, b.v)}; }
inline Double2 operator*(Double2 a, Double2 b) { return {_mm_mul_pd(a.v, b.v)}; }
inline Double2 operator/(Double2 a, Double2 b) { return {_mm_div_pd(a.v, b.v)}; }
inline Double2 sqrt(Double2 a) { return {_mm_sqrt_pd(a.v)}; }
inline Double2 abs(Double2 a) { return {_mm_and_pd(a.v, _mm_castsi128_pd(_mm_set1_epi64x(0x7FFFFFFFFFFFFFFFLL)))}; }
// a > b ? a : b, lane by lane: b where either is NaN.
inline Double2 max(Double2 a, Double2 b) { return {_mm_max_pd(a.v, b.v)}; }
// Bit i set where lane i of a is below lane i of b.
inline int lessBits(Double2 a, Double2 b) { return _mm_movemask_pd(_mm_cmplt_pd(a.v, b.v)); }
// Lanes 0, 1 (low) or 2, 3 (high) of a, widened exactly.
inline Double2 widenLow(Float4 a) { return {_mm_cvtps_pd(a.v)}; }
inline Double2 widenHigh(Float4 a) { return {_mm_cvtps_pd(_mm_movehl_ps(a.v, a.v))}; }
// (low 0, low 1, high 0, high 1), each rounded to nearest.
inline Float4 narrow(Double2 low, Double2 high) { return {_mm_movelh_ps(_mm_cvtpd_ps(low.v), _mm_cvtpd_ps(high.v))}; }

} // namespace tvx_sse
