#pragma once

// Internal switch for tests and benchmarks: when set, every pair analysis in
// this thread walks its trees in the plain recursive order, without cached
// placements or nearest-first ordering. The faster walks must give the very
// same answers, and the tests check that against this one.
namespace CtvxDescentSwitch {
void straightforward(bool on);
bool straightforward();
} // namespace CtvxDescentSwitch
