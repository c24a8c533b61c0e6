// The binary16 conversion of stored box values, against an independent
// double-precision model of the rounding it promises: ties away from zero,
// flush to +0 below 2^-24, overflow to infinity, NaN payloads kept.

#include <tests/support/Random.h>

#include <tvx/bvtree/CtvxHalf.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>

using tvxtest::Random;

namespace {

std::uint32_t bitsOf(float f)
{
    std::uint32_t u;
    std::memcpy(&u, &f, 4);
    return u;
}

float floatOf(std::uint32_t u)
{
    float f;
    std::memcpy(&f, &u, 4);
    return f;
}

// The value of a pattern from the textbook formula, in double.
double referenceDecode(std::uint16_t h)
{
    int const s = h >> 15;
    int const e = (h >> 10) & 0x1F;
    int const m = h & 0x3FF;
    double v;
    if (e == 0x1F)
        v = m ? std::nan("") : HUGE_VAL;
    else if (e == 0)
        v = std::ldexp(static_cast<double>(m), -24);
    else
        v = std::ldexp(1.0 + m / 1024.0, e - 15);
    return s ? -v : v;
}

// Rounding to the binary16 grid in double: floor(q + 0.5) on the scaled
// magnitude rounds ties up in magnitude.
std::uint16_t referenceEncode(float f)
{
    std::uint16_t const s = (bitsOf(f) >> 31) ? 0x8000 : 0;
    if (std::isnan(f)) {
        std::uint32_t const payload = (bitsOf(f) & 0x7FFFFF) >> 13;
        return static_cast<std::uint16_t>(s | 0x7C00 | (payload ? payload : 1));
    }
    double const a = std::fabs(static_cast<double>(f));
    if (a < std::ldexp(1.0, -24))
        return 0;
    if (std::isinf(a))
        return static_cast<std::uint16_t>(s | 0x7C00);
    if (a < std::ldexp(1.0, -14)) {
        double const k = std::floor(std::ldexp(a, 24) + 0.5);
        return static_cast<std::uint16_t>(s | static_cast<std::uint16_t>(k));
    }
    int e2;
    std::frexp(a, &e2);
    int E = e2 - 1;
    double k = std::floor(std::ldexp(a, 10 - E) + 0.5);
    if (k == 2048.0) {
        ++E;
        k = 1024.0;
    }
    if (E > 15)
        return static_cast<std::uint16_t>(s | 0x7C00);
    return static_cast<std::uint16_t>(s | ((E + 15) << 10) | (static_cast<int>(k) - 1024));
}

} // namespace

TEST(Binary16, EveryPatternReadsBackExactly)
{
    for (std::uint32_t h = 0; h < 65536; ++h) {
        float const f = CtvxHalf::toFloat(static_cast<std::uint16_t>(h));
        double const ref = referenceDecode(static_cast<std::uint16_t>(h));
        if (std::isnan(ref)) {
            ASSERT_TRUE(std::isnan(f)) << std::hex << h;
            // The payload survives the widening.
            ASSERT_EQ((bitsOf(f) & 0x7FFFFF) >> 13, h & 0x3FF) << std::hex << h;
        } else {
            ASSERT_EQ(static_cast<double>(f), ref) << std::hex << h;
            ASSERT_EQ(std::signbit(f), (h & 0x8000) != 0) << std::hex << h;
        }
        // Every value that is not a NaN converts back to its own pattern,
        // except -0, which the flush turns into +0.
        if (!std::isnan(ref) && h != 0x8000) {
            ASSERT_EQ(CtvxHalf::fromFloat(f), h) << std::hex << h;
        }
    }
}

TEST(Binary16, KnownValuesAndRoundingEdges)
{
    EXPECT_EQ(CtvxHalf::fromFloat(1.0f), 0x3C00);
    EXPECT_EQ(CtvxHalf::fromFloat(65504.0f), 0x7BFF);
    EXPECT_EQ(CtvxHalf::fromFloat(65519.99f), 0x7BFF);
    EXPECT_EQ(CtvxHalf::fromFloat(65520.0f), 0x7C00); // the tie rounds up, into infinity
    EXPECT_EQ(CtvxHalf::fromFloat(-65520.0f), 0xFC00);
    EXPECT_EQ(CtvxHalf::fromFloat(1e-8f), 0);
    EXPECT_EQ(CtvxHalf::fromFloat(-1e-8f), 0); // +0, not -0
    EXPECT_EQ(CtvxHalf::fromFloat(-0.0f), 0);
    EXPECT_EQ(CtvxHalf::fromFloat(std::ldexp(1.0f, -24)), 0x0001);
    EXPECT_EQ(CtvxHalf::fromFloat(std::nextafter(std::ldexp(1.0f, -24), 0.0f)), 0);
    EXPECT_EQ(CtvxHalf::fromFloat(1.0f + std::ldexp(1.0f, -11)), 0x3C01); // tie, away from zero
    EXPECT_EQ(CtvxHalf::fromFloat(-(1.0f + std::ldexp(1.0f, -11))), 0xBC01);
    EXPECT_EQ(CtvxHalf::fromFloat(1.0f + 3 * std::ldexp(1.0f, -11)), 0x3C02); // to even would also give 2
    EXPECT_EQ(CtvxHalf::fromFloat(1.5f * std::ldexp(1.0f, -24)), 0x0002);  // denormal tie up
    EXPECT_EQ(CtvxHalf::fromFloat(2.5f * std::ldexp(1.0f, -24)), 0x0003);  // not to even
    EXPECT_EQ(CtvxHalf::fromFloat(std::ldexp(1.0f, -14)), 0x0400);         // smallest normal
    // The largest denormal rounds up into the smallest normal.
    EXPECT_EQ(CtvxHalf::fromFloat(std::nextafter(std::ldexp(1.0f, -14), 0.0f)), 0x0400);
    EXPECT_EQ(CtvxHalf::fromFloat(1e10f), 0x7C00);
    EXPECT_EQ(CtvxHalf::fromFloat(HUGE_VALF), 0x7C00);
    EXPECT_EQ(CtvxHalf::fromFloat(-HUGE_VALF), 0xFC00);
    // NaN: payload bits kept, an empty top payload becomes 1.
    EXPECT_EQ(CtvxHalf::fromFloat(floatOf(0x7FC00000u)), 0x7E00);
    EXPECT_EQ(CtvxHalf::fromFloat(floatOf(0x7F800001u)), 0x7C01);
    EXPECT_EQ(CtvxHalf::fromFloat(floatOf(0xFF802000u)), 0xFC01);
}

TEST(Binary16, AgreesWithReferenceAroundEveryRoundingBoundary)
{
    // For each positive finite pattern: the value, its float neighbours and
    // the midpoint to the next pattern with its neighbours (the midpoint is
    // a tie and must go up).
    int checked = 0;
    for (std::uint32_t h = 0; h < 0x7C00; ++h) {
        double const lo = referenceDecode(static_cast<std::uint16_t>(h));
        double const hi = h + 1 < 0x7C00 ? referenceDecode(static_cast<std::uint16_t>(h + 1)) : 65536.0;
        float const mid = static_cast<float>((lo + hi) / 2.0); // exact in float
        float const val = static_cast<float>(lo);
        for (float f : {val, std::nextafter(val, 0.0f), std::nextafter(val, HUGE_VALF), mid,
                        std::nextafter(mid, 0.0f), std::nextafter(mid, HUGE_VALF)}) {
            for (float g : {f, -f}) {
                ASSERT_EQ(CtvxHalf::fromFloat(g), referenceEncode(g)) << std::hexfloat << g;
                ++checked;
            }
        }
    }
    EXPECT_GT(checked, 300000);
}

TEST(Binary16, AgreesWithReferenceOnRandomFloats)
{
    Random rng(16);
    int const n = tvxtest::runs(10000000);
    for (int i = 0; i < n; ++i) {
        // Half of the draws are arbitrary bit patterns (NaNs, infinities,
        // denormals included), half land in or near the binary16 range.
        float f;
        if (i & 1)
            f = floatOf(rng.bits());
        else
            f = static_cast<float>(std::ldexp(rng.uniform(-1.0, 1.0), static_cast<int>(rng.below(48)) - 28));
        std::uint16_t const got = CtvxHalf::fromFloat(f);
        std::uint16_t const want = referenceEncode(f);
        if (got != want) {
            ADD_FAILURE() << "float bits 0x" << std::hex << bitsOf(f) << ": got 0x" << got << ", want 0x" << want;
            return;
        }
    }
}

TEST(Binary16, RoundingUpNeverGoesBelow)
{
    Random rng(17);
    for (int i = 0; i < tvxtest::runs(200000); ++i) {
        float const f = static_cast<float>(std::ldexp(rng.unit(), static_cast<int>(rng.below(44)) - 28));
        std::uint16_t const h = CtvxHalf::fromFloatUp(f);
        if (f == 0.0f) {
            EXPECT_EQ(h, 0);
            continue;
        }
        ASSERT_GE(CtvxHalf::toFloat(h), f) << std::hexfloat << f;
        // ... and is the smallest such value.
        if (h > 0) {
            ASSERT_LT(CtvxHalf::toFloat(static_cast<std::uint16_t>(h - 1)), f) << std::hexfloat << f;
        }
    }
    EXPECT_EQ(CtvxHalf::fromFloatUp(1.0f), 0x3C00);
    EXPECT_EQ(CtvxHalf::fromFloatUp(std::nextafter(1.0f, 2.0f)), 0x3C01);
    EXPECT_EQ(CtvxHalf::fromFloatUp(1e-9f), 0x0001); // not flushed when rounding up
    EXPECT_EQ(CtvxHalf::fromFloatUp(65505.0f), 0x7C00);
    EXPECT_EQ(CtvxHalf::fromFloatUp(-3.0f), 0);
}
