#pragma once

// The in-order walk's loop, for its two units: the walk itself
// (CtvxInOrderWalk.cpp) and the same walk backwards (CtvxLastReachedWalk.cpp).
// Each unit instantiates only its own direction, so that each is compiled
// with the visits inlined as the walk alone would be; so are both over two
// small trees (CtvxSmallTreeWalks.cpp, CtvxSmallTreeLastReached.cpp).
#include <tvx/analysis/internal/CtvxPairWalks.h>
#include <tvx/internal/CtvxDebugAssert.h>

#include <vector>

namespace CtvxInOrderSteps {

// Backwards, the walk meets the pairs the in-order walk reaches in the
// reverse order: whether a pair is reached depends only on the tests of the
// pairs above it, which no outcome of another pair changes while no
// contact is found. It stops at the first triangle pair it reaches.
//
// Between two small trees the boxes come decoded from the scratch's
// smallTrees (the same bits), set 2's without the rank cache, which would
// only copy them once more; the walk over larger trees is compiled without
// that choice.
template <CtvxVisit how, bool backwards, bool small>
void walk(CtvxPairContext& pair)
{
    CtvxQueryScratch& scratch = pair.scratch();
    std::vector<CtvxOrderedStep>& steps = scratch.orderedSteps;
    std::size_t const bound = pair.stackBound();
    steps.clear();
    steps.reserve(bound + 1);
    {
        CtvxOrderedStep root{};
        root.first = pair.root1();
        root.second = pair.root2();
        root.known1 = false;
        root.known2 = false;
        steps.push_back(root);
    }
    CtvxRankCache<CtvxDecodedBox>& cache1 = scratch.decoded1Cache;
    CtvxRankCache<CtvxDecodedBox>& cache2 = scratch.decoded2Cache;
    cache1.reset();
    cache2.reset();

    // The step in hand stays in its slot: a pruned one is dropped, a split
    // one becomes its second child and its first child is pushed above it,
    // so that no step is copied more than once. The side that was split
    // forgets its box; the other keeps it.
    auto split = [&steps, bound](bool firstSide, int const (&refs)[2]) {
        std::size_t const at = steps.size() - 1;
        steps.push_back(steps[at]);
        TVX_DEBUG_ASSERT(steps.size() <= bound);
        CtvxOrderedStep& later = steps[at];
        CtvxOrderedStep& next = steps[at + 1];
        int const nextRef = refs[backwards ? 1 : 0];
        int const laterRef = refs[backwards ? 0 : 1];
        if (firstSide) {
            later.first = laterRef;
            later.known1 = false;
            next.first = nextRef;
            next.known1 = false;
        } else {
            later.second = laterRef;
            later.known2 = false;
            next.second = nextRef;
            next.known2 = false;
        }
    };
    int refs[2];
    while (!steps.empty()) {
        if (pair.done<how>())
            break;
        CtvxOrderedStep& s = steps.back();
        TVX_DEBUG_ASSERT(pair.names(s.first, s.second));
        bool const box1 = CtvxNodeRef::isBox(s.first);
        bool const box2 = CtvxNodeRef::isBox(s.second);
        if (box1 && !s.known1) {
            if (small)
                pair.decodeSmall1(cache1, s.first, s.box1);
            else
                pair.decode1(cache1, s.first, s.box1);
            s.known1 = true;
        }
        if (box2 && !s.known2) {
            if (small)
                pair.decodeSmall2(s.second, s.box2);
            else
                pair.decode2(cache2, s.second, s.box2);
            s.known2 = true;
        }
        if (box1 && box2) {
            if (!pair.visitBoxes<how>(s.box1, s.box2)) {
                steps.pop_back();
                continue;
            }
            bool const splitFirst = CtvxPairContext::splitsFirst(s.box1, s.box2);
            pair.children(splitFirst, splitFirst ? s.first : s.second, refs);
            split(splitFirst, refs);
            continue;
        }
        if (box1 || box2) {
            if (!pair.visitBoxTriangle<how>(s.first, s.second, s.box1, s.box2)) {
                steps.pop_back();
                continue;
            }
            pair.children(box1, box1 ? s.first : s.second, refs);
            split(box1, refs);
            continue;
        }
        int const first = s.first;
        int const second = s.second;
        steps.pop_back();
        if (backwards) {
            pair.reachedLast(first, second);
            break;
        }
        pair.visitTriangles<how>(first, second);
    }
    steps.clear();
}

} // namespace CtvxInOrderSteps
