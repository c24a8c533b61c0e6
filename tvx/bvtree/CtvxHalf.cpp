#include <tvx/bvtree/CtvxHalf.h>

#include <cstring>

namespace {

std::uint32_t bitsOf(float f)
{
    std::uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    return u;
}

float floatOf(std::uint32_t u)
{
    float f;
    std::memcpy(&f, &u, sizeof f);
    return f;
}

// The exact float of a binary16 pattern, built from the bits of the
// pattern (every binary16 value, denormals included, is a normal float).
float decode(std::uint16_t h)
{
    std::uint32_t const sign = static_cast<std::uint32_t>(h & 0x8000u) << 16;
    std::uint32_t const exponent = (h >> 10) & 0x1Fu;
    std::uint32_t mantissa = h & 0x3FFu;
    if (exponent == 0x1Fu)
        return floatOf(sign | 0x7F800000u | (mantissa << 13));
    if (exponent != 0)
        return floatOf(sign | ((exponent - 15u + 127u) << 23) | (mantissa << 13));
    if (mantissa == 0)
        return floatOf(sign);
    // Denormal: shift the leading one up to the hidden-bit position.
    std::uint32_t e = 127u - 14u;
    while ((mantissa & 0x400u) == 0) {
        mantissa <<= 1;
        --e;
    }
    return floatOf(sign | (e << 23) | ((mantissa & 0x3FFu) << 13));
}

struct Table {
    float values[65536];
    Table()
    {
        for (std::uint32_t h = 0; h < 65536u; ++h)
            values[h] = decode(static_cast<std::uint16_t>(h));
    }
};

Table const s_halfTable;

} // namespace

float const* const CtvxHalf::s_table = s_halfTable.values;

std::uint16_t CtvxHalf::fromFloat(float value)
{
    std::uint32_t const u = bitsOf(value);
    std::uint32_t const magnitude = u & 0x7FFFFFFFu;
    // Below 2^-24 (the smallest binary16 denormal) everything becomes +0,
    // negative values included. A NaN compares as unordered and goes on.
    if (magnitude < 0x33800000u)
        return 0;
    std::uint16_t const s = static_cast<std::uint16_t>((u >> 16) & 0x8000u);
    int const e = static_cast<int>((u >> 23) & 0xFFu) - 127;
    std::uint32_t const m = u & 0x7FFFFFu;
    if (e == 128) {
        if (m == 0)
            return static_cast<std::uint16_t>(s | 0x7C00u);
        std::uint32_t const payload = m >> 13;
        return static_cast<std::uint16_t>(s | 0x7C00u | (payload == 0 ? 1u : payload));
    }
    if (e > 15)
        return static_cast<std::uint16_t>(s | 0x7C00u);
    if (e >= -14) {
        // Adding half a unit of the last kept place rounds ties up in
        // magnitude; a carry out of the mantissa steps the exponent, and out
        // of exponent 30 it lands exactly on infinity (0x7C00).
        std::uint32_t const r = (static_cast<std::uint32_t>(e + 15) << 10) + ((m + 0x1000u) >> 13);
        return static_cast<std::uint16_t>(s | r);
    }
    // Denormal range, e from -24 to -15.
    std::uint32_t shifted = (m | 0x800000u) >> (-14 - e);
    if (shifted & 0x1000u)
        shifted += 0x2000u;
    return static_cast<std::uint16_t>(s | (shifted >> 13));
}

std::uint16_t CtvxHalf::fromFloatUp(float value)
{
    if (!(value > 0.0f))
        return 0;
    std::uint16_t h = fromFloat(value);
    // Positive patterns are ordered like their values, so stepping the
    // pattern moves to the next binary16 value up (and 0x7BFF steps to
    // infinity).
    while (h < 0x7C00u && toFloat(h) < value)
        ++h;
    return h;
}
