// The two versions of the tree build's lanes, SSE registers and plain
// arrays, against each other operation by operation, bit for bit, on the
// values where they could part: signed zeros, infinities, NaNs of either
// sign with payloads, subnormals, and ordinary numbers. The tree tests run
// the whole build with both (scripts/build.sh nosimd); this reaches inputs
// the builds never make.

#include <tests/support/Random.h>

#include <tvx/bvtree/internal/CtvxLanesScalar.h>
#if defined(__SSE2__)
#include <tvx/bvtree/internal/CtvxLanesSse.h>
#endif

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

#if defined(__SSE2__)

namespace {

float pick(tvxtest::Random& rng)
{
    static float const specials[] = {0.0f, -0.0f, 1.0f, -1.0f, HUGE_VALF, -HUGE_VALF, 1e-45f, -3e-39f, 3e38f, 1e-5f};
    switch (rng.below(4)) {
    case 0:
        return specials[rng.below(sizeof specials / sizeof specials[0])];
    case 1: {
        // A NaN of random sign and payload.
        std::uint32_t const u = (rng.bits() & 0x807FFFFFu) | 0x7F800001u;
        float f;
        std::memcpy(&f, &u, sizeof f);
        return f;
    }
    default:
        return rng.uniformf(-4.0f, 4.0f) * std::ldexp(1.0f, static_cast<int>(rng.below(40)) - 20);
    }
}

// Bit for bit, except that all NaNs are one: which operand's NaN an
// addition hands on depends on the order the compiler puts them in, not on
// the source; every other bit, and whether the result is a NaN, must agree.
template <class T, std::size_t N>
bool sameBits(T const (&a)[N], T const (&b)[N])
{
    for (std::size_t i = 0; i < N; ++i)
        if (std::memcmp(&a[i], &b[i], sizeof a[i]) != 0 && !(a[i] != a[i] && b[i] != b[i]))
            return false;
    return true;
}

} // namespace

TEST(BuildLanes, SseAndScalarAgreeBitForBit)
{
    namespace sse = tvx_sse;
    namespace plain = tvx_scalar;
    tvxtest::Random rng(2718);
    for (int it = 0; it < tvxtest::runs(20000); ++it) {
        float a[4], b[4];
        for (int i = 0; i < 4; ++i) {
            a[i] = pick(rng);
            b[i] = rng.chance(0.2) ? a[i] : pick(rng);
        }
        sse::Float4 const sa = sse::Float4::load(a), sb = sse::Float4::load(b);
        plain::Float4 const pa = plain::Float4::load(a), pb = plain::Float4::load(b);
        std::string const where = "seed 2718 case " + std::to_string(it);
        auto expectSame = [&](char const* op, sse::Float4 x, plain::Float4 y) {
            float u[4], w[4];
            x.store(u);
            y.store(w);
            EXPECT_TRUE(sameBits(u, w)) << op << ", " << where;
        };
        // Masks are seen through the selects that use them.
        auto expectSameMask = [&](char const* op, sse::Mask4 x, plain::Mask4 y) {
            expectSame(op, select(x, sa, sb), select(y, pa, pb));
            expectSame(op, zeroWhere(x, sa), zeroWhere(y, pa));
            expectSame(op, negateWhere(x, sb), negateWhere(y, pb));
        };
        expectSame("+", sa + sb, pa + pb);
        expectSame("-", sa - sb, pa - pb);
        expectSame("*", sa * sb, pa * pb);
        expectSame("/", sa / sb, pa / pb);
        expectSame("min", min(sa, sb), min(pa, pb));
        expectSame("max", max(sa, sb), max(pa, pb));
        expectSame("abs", abs(sa), abs(pa));
        expectSame("sqrt", sqrt(sa), sqrt(pa));
        expectSame("permute", sa.permute<3, 0, 2, 2>(), pa.permute<3, 0, 2, 2>());
        expectSameMask("==", sa == sb, pa == pb);
        expectSameMask("<", sa < sb, pa < pb);
        expectSameMask(">", sa > sb, pa > pb);
        int const bits = static_cast<int>(rng.below(16));
        expectSameMask("lanes", sse::Mask4::lanes(bits), plain::Mask4::lanes(bits));
        expectSameMask("and not", andNot(sa < sb, sse::Mask4::lanes(bits)), andNot(pa < pb, plain::Mask4::lanes(bits)));
        expectSameMask("and, or", (sa == sb) | ((sa > sb) & sse::Mask4::lanes(bits)),
                       (pa == pb) | ((pa > pb) & plain::Mask4::lanes(bits)));

        // Doubles: widened floats, their arithmetic, and the way back.
        sse::Double2 const sl = widenLow(sa), sh = widenHigh(sb);
        plain::Double2 const pl = widenLow(pa), ph = widenHigh(pb);
        auto expectSameDouble = [&](char const* op, sse::Double2 x, plain::Double2 y) {
            double u[2], w[2];
            x.store(u);
            y.store(w);
            EXPECT_TRUE(sameBits(u, w)) << op << ", " << where;
        };
        expectSameDouble("widen", sl, pl);
        expectSameDouble("+", sl + sh, pl + ph);
        expectSameDouble("*", sse::Double2::set(b[3], a[2]) * sh, plain::Double2::set(b[3], a[2]) * ph);
        expectSameDouble("/", sl / sh, pl / ph);
        expectSameDouble("sqrt", sqrt(sl), sqrt(pl));
        expectSameDouble("abs", abs(sh), abs(ph));
        expectSameDouble("max", max(sl, sh), max(pl, ph));
        EXPECT_EQ(lessBits(sl, sh), lessBits(pl, ph)) << where;
        expectSame("narrow", narrow(sl * sh, sl + sh), narrow(pl * ph, pl + ph));
    }
}

#else

TEST(BuildLanes, SseAndScalarAgreeBitForBit)
{
    GTEST_SKIP() << "no SSE2 on this target: only the plain lanes exist";
}

#endif
