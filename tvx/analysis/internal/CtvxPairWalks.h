#pragma once

#include <tvx/analysis/internal/CtvxPairContext.h>
#include <tvx/analysis/internal/CtvxPairVisits.h>

// The walks of a pair analysis, each in its own unit: each decides the order
// in which pairs are visited, and visits them through the context.
namespace CtvxPairWalks {
// Depth first, first child first, each pair tested when it is reached, box
// placements kept by rank in the scratch's caches. The walk of every type
// but the exact distance (Query), and the exact distance's contact search
// (Overlap).
void inOrder(CtvxPairContext& pair, CtvxVisit how);
// A contact query's in-order walk over two sets that cannot touch (their
// fitted boxes are apart): of all it would do, only the hints of the last
// triangle pair it tests remain, and that pair is the first the same walk
// reaches backwards, where this walk stops (CtvxPairContext::reachedLast).
void lastReached(CtvxPairContext& pair);
// The two above between two small trees (CtvxPairContext::smallTrees()),
// which they hand over to: the same walks, the boxes decoded once for all
// pairs in the scratch's smallTrees.
void inOrderSmall(CtvxPairContext& pair, CtvxVisit how);
void lastReachedSmall(CtvxPairContext& pair);
// Exact distance only: both children of a split are bounded at once and the
// nearer is descended first, so the best distance falls fast and prunes the
// rest. Returns false when it meets a contact, which it leaves to the
// contact search to record. With `front`, it may resume from a kept front
// and records the front it stops at (see CtvxFrontWork).
bool nearestFirst(CtvxPairContext& pair, CtvxFrontWork* front = nullptr);
// The plain recursive order, placements decoded afresh for every pair: for
// trees too deep to rank ties, and the reference the other walks are
// checked against.
void plain(CtvxPairContext& pair);
} // namespace CtvxPairWalks
