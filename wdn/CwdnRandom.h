#pragma once

// Internal to the planning library: seeding of OMPL's generators.

#include <cstdint>

// OMPL draws the seed of every new generator from one process-wide seed
// sequence. Reseeding that sequence just before a planner, sampler or
// simplifier is made gives it the same generators every time, so the same
// seed repeats the same run.
void cwdnReseed(unsigned long seed);
// The seed as OMPL takes it (32 bits, never 0).
std::uint_fast32_t cwdnSeed32(unsigned long seed);
