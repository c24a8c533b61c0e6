#pragma once

#include <cstdint>
#include <random>

namespace tvxtest {

// Deterministic random numbers for randomized tests.
//
// std::mt19937 produces the same sequence everywhere, but the standard
// distributions do not (their algorithms are left to each library), so the
// conversions to float and double are written here: a failing seed then
// reproduces on any machine.
class Random {
public:
    explicit Random(std::uint32_t seed) : m_engine(seed) {}

    std::uint32_t bits() { return m_engine(); }

    // Uniform in [0, 1) with 53 random bits.
    double unit()
    {
        std::uint64_t const hi = m_engine() >> 5; // 27 bits
        std::uint64_t const lo = m_engine() >> 6; // 26 bits
        return static_cast<double>((hi << 26) | lo) * (1.0 / 9007199254740992.0);
    }

    double uniform(double lo, double hi) { return lo + (hi - lo) * unit(); }
    float uniformf(float lo, float hi) { return static_cast<float>(uniform(lo, hi)); }

    // An integer in [0, n).
    std::uint32_t below(std::uint32_t n) { return static_cast<std::uint32_t>(unit() * n); }

    bool chance(double p) { return unit() < p; }

private:
    std::mt19937 m_engine;
};

// Iteration counts of randomized suites: the nominal count in ordinary
// builds, a tenth (at least 1) under the sanitizers, and the nominal count
// times TVX_TEST_SCALE when that variable is set (for long soak runs).
int runs(int nominal);

} // namespace tvxtest
