#pragma once

#include <cstdint>

// IEEE 754 binary16 conversion for the stored boxes of the OBB trees.
//
// Every writer of a box goes through fromFloat, so the rounding is the same
// everywhere: ties away from zero (not to even), magnitudes below 2^-24
// flushed to +0 whatever their sign, overflow to infinity, NaN payloads kept
// in their top ten bits (a payload that would vanish becomes 1, so a NaN
// stays a NaN). Reading is exact, through a table of the 65536 patterns.
// Internal: the installed headers never expose it.
class CtvxHalf {
public:
    static std::uint16_t fromFloat(float value);
    static float toFloat(std::uint16_t bits) { return s_table[bits]; }
    // The smallest binary16 value not below value (value >= 0, finite):
    // used where a stored length must never shrink in the rounding.
    static std::uint16_t fromFloatUp(float value);

private:
    static float const* const s_table;
};
