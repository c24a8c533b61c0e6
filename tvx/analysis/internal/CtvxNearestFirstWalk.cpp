// The nearest-first walk of the exact distance: both children of a split
// are bounded at once; the walk dives depth first, nearer child first, to a
// first pair of triangles, and then always takes the pending pair of least
// bound, so that it opens no pair bounded beyond the clearance it ends with
// (depth first, on large meshes at working clearances, it opened five times
// as many before the best distance came down). Its answers are those of the
// plain walk, bit for bit: of two pairs at exactly the same distance, the one
// the in-order walk meets first is kept (each pending pair carries its rank
// in that walk), and a contact is left to the in-order contact search.
//
// Where the walk stops is a front: pairs pruned, pairs still pending and
// pairs of triangles tested, which together cover every pair of triangles,
// each with a lower bound. Kept, it lets the next query of the pair, after a
// small motion, start there with every bound lowered by the motion: a
// bound lowered by how far any point can have moved stays a lower bound, so
// the walk resumed opens a subset of what it would open from the roots and
// settles the same pairs the same way.
#include <tvx/analysis/internal/CtvxPairWalks.h>
#include <tvx/internal/CtvxDebugAssert.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace {

// The rank of a pair's second child: its parent's with the bit of the
// parent's level set.
inline void chooseSecond(std::uint64_t (&rank)[2], int level)
{
    if (level < 64)
        rank[0] |= std::uint64_t(1) << (63 - level);
    else
        rank[1] |= std::uint64_t(1) << (127 - level);
}

} // namespace

bool CtvxPairWalks::nearestFirst(CtvxPairContext& pair, CtvxFrontWork* front)
{
    CtvxQueryScratch& scratch = pair.scratch();
    std::vector<CtvxNearStep>& steps = scratch.nearSteps;
    CtvxRankCache<CtvxDecodedBox>& cache1 = scratch.decoded1Cache;
    CtvxRankCache<CtvxDecodedBox>& cache2 = scratch.decoded2Cache;
    cache1.reset();
    cache2.reset();
    scratch.placed2Cache.reset();
    // Near their closest points two surfaces are apart along the line that
    // joins those points, and stay nearly so around them: boxes tested
    // along it prune where the box test's own axes, tied to the boxes, see
    // them almost touching. Every unit axis gives a sound bound, so the axis
    // follows the best pair as it improves, starting from the hint.
    CtvxNearestAxis axis;
    auto aim = [&axis, &pair](CqarPoint3 const& from, CqarPoint3 const& to) {
        float const d[3] = {static_cast<float>(to[0] - from[0]), static_cast<float>(to[1] - from[1]),
                            static_cast<float>(to[2] - from[2])};
        float const len = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
        if (!(len > 0.0f) || !std::isfinite(len))
            return;
        for (int i = 0; i < 3; ++i)
            axis.inFrame1[i] = d[i] / len;
        // The same axis in frame 2: transposed rotation of frame 2 into 1.
        CtvxMat4 const& m = pair.poly2ToPoly1();
        for (int j = 0; j < 3; ++j)
            axis.inFrame2[j] = m(0, j) * axis.inFrame1[0] + m(1, j) * axis.inFrame1[1] + m(2, j) * axis.inFrame1[2];
        axis.set = true;
    };
    if (pair.hasClosestPair())
        aim(pair.closestPoint1(), pair.closestPoint2());
    // Once the dive is over, every pair kept stays in the pool until the
    // walk ends (the heap names it by index): at most two for each pair
    // opened. Both are the scratch's, grown to the largest walk the
    // analysis has made and released with it.
    CtvxNearHeap& heap = scratch.nearHeap;
    steps.clear();
    heap.clear();
    // Until it meets its first pair of triangles the walk dives depth first
    // (the heap is then a stack, the nearer child on top): a first distance
    // early makes the cheap bounds prune most pairs before the box test.
    bool diving = true;
    // The pair in hand was read from the heap's top and is still there: the
    // first pair the step keeps takes its place.
    bool onTop = false;
    auto const keep = [&](CtvxNearStep const& s) {
        CtvxNearKey const key(s.bound, static_cast<std::uint32_t>(steps.size()));
        steps.push_back(s);
        if (diving)
            heap.append(key);
        else if (onTop) {
            heap.replaceTop(key);
            onTop = false;
        } else
            heap.push(key);
    };

    // The front: pairs pruned or tested as triangles, and those left
    // pending at the end, in the order met.
    std::vector<CtvxFrontEntry>* const out = front ? front->record : nullptr;
    auto const note = [&](CtvxFrontEntry const& e) {
        if (out->size() < CtvxKeptFronts::Cap)
            out->push_back(e);
        else
            front->overflow = true;
    };
    auto const noteStep = [&](CtvxNearStep const& s) {
        note(CtvxFrontEntry{s.first, s.second, s.bound, s.level, {s.rank[0], s.rank[1]}});
    };

    bool contact = false;
    // Tests a pair, its boxes decoded as b1 and b2 (a side that is a
    // triangle leaves its own unread), and, unless it is a pair of triangles
    // or is pruned, says to keep it, with its bound.
    auto evaluate = [&](CtvxNearStep& s, CtvxDecodedBox const& b1, CtvxDecodedBox const& b2) -> bool {
        bool const box1 = CtvxNodeRef::isBox(s.first);
        bool const box2 = CtvxNodeRef::isBox(s.second);
        if (box1 || box2) {
            bool const open = box1 && box2
                                  ? pair.visitBoxes<CtvxVisit::Nearest>(b1, b2, &axis, &s.bound)
                                  : pair.visitBoxTriangle<CtvxVisit::Nearest>(s.first, s.second, b1, b2, &axis,
                                                                              &s.bound);
            if (!open && out)
                noteStep(s);
            return open;
        }
        CtvxLeaf const found = pair.visitTriangles<CtvxVisit::Nearest>(s.first, s.second, &axis, s.rank, &s.bound);
        if (out)
            noteStep(s);
        if (diving) {
            diving = false;
            heap.heapify();
        }
        if (found == CtvxLeaf::Contact)
            contact = true;
        else if (found == CtvxLeaf::Closer)
            aim(pair.closestPoint1(), pair.closestPoint2());
        return false;
    };

    // The boxes of the pair in hand, decoded; those of a pair taken from the
    // pool are decoded again by rank, most often from the caches.
    CtvxDecodedBox box1, box2;
    auto decode = [&](CtvxNearStep const& s) {
        if (CtvxNodeRef::isBox(s.first))
            pair.decode1(cache1, s.first, box1);
        if (CtvxNodeRef::isBox(s.second))
            pair.decode2(cache2, s.second, box2);
    };

    std::vector<CtvxFrontEntry> const* const from = front ? front->resume : nullptr;

    CtvxNearStep root;
    root.first = pair.root1();
    root.second = pair.root2();
    root.level = 0;
    root.rank[0] = 0;
    root.rank[1] = 0;
    root.bound = -std::numeric_limits<float>::infinity();
    if (from) {
        // The kept front, its bounds lowered by the motion. The walk starts
        // from the last answer's pair, so the distance is about the answer
        // already and the order the kept pairs are met in saves little: they
        // are taken as kept, without a heap. A pair bounded beyond the best
        // distance passes to the new front as it is; any other is tested
        // afresh at the new pose and pruned, settled, or kept for the walk
        // with the better of its two bounds.
        diving = false;
        CtvxRankCache<float, 2048> const& moves = scratch.frontMoves;
        for (CtvxFrontEntry e : *from) {
            float const measured = e.bound;
            e.bound -= front->lowering;
            if (pair.distance() < e.bound) {
                note(e);
                continue;
            }
            // Lowered by the move of its own node of set 2 instead, which
            // away from the centre of a turn is well below that of set 2's
            // ball; kept by node, since a front pairs a few hundred nodes
            // of each set many times over.
            if (pair.distance() < measured - front->margins) {
                float move;
                if (!moves.get(e.second, move))
                    move = pair.moveOf(front->motion, e.second);
                float const own = measured - (move + front->margins);
                if (pair.distance() < own) {
                    e.bound = own;
                    note(e);
                    continue;
                }
            }
            CtvxNearStep& r = root;
            r.first = e.first;
            r.second = e.second;
            r.level = e.level;
            r.rank[0] = e.rank[0];
            r.rank[1] = e.rank[1];
            decode(r);
            if (evaluate(r, box1, box2)) {
                if (e.bound > r.bound)
                    r.bound = e.bound;
                keep(r);
            }
            if (contact)
                break;
        }
    } else {
        decode(root);
        if (evaluate(root, box1, box2))
            keep(root);
    }

    CtvxNearStep children[2];
    // The split side's boxes of the two children.
    CtvxDecodedBox halves[2];
    bool kept[2];
    int refs[2];
    // The pair in hand: popped, or the nearer child of the last one when no
    // pending pair comes before it (most often, since a child is bounded at
    // least as far as its parent), which spares the heap a push and a pop.
    CtvxNearStep s = root;
    bool inHand = false;
    while ((inHand || !heap.empty()) && !contact) {
        if (!inHand && diving) {
            // The stack's keys and steps lie side by side.
            s = steps.back();
            steps.pop_back();
            heap.popBack();
        } else if (!inHand) {
            s = steps[heap.top().step()];
            onTop = true;
        }
        bool const fromPool = !inHand;
        inHand = false;
        TVX_DEBUG_ASSERT(pair.names(s.first, s.second));
        if (pair.distance() < s.bound) {
            // Taken by least bound, every pair left is bounded as far.
            if (out)
                noteStep(s);
            if (!diving) {
                if (onTop)
                    heap.pop();
                onTop = false;
                break;
            }
            continue;
        }
        if (fromPool)
            decode(s);
        bool splitFirst;
        if (CtvxNodeRef::isBox(s.first) && CtvxNodeRef::isBox(s.second))
            splitFirst = CtvxPairContext::splitsFirst(box1, box2);
        else
            splitFirst = CtvxNodeRef::isBox(s.first);
        pair.children(splitFirst, splitFirst ? s.first : s.second, refs);
        for (int i = 0; i < 2; ++i) {
            CtvxNearStep& c = children[i];
            c = s;
            c.level = s.level + 1;
            if (i == 1)
                chooseSecond(c.rank, s.level);
            if (splitFirst) {
                c.first = refs[i];
                if (CtvxNodeRef::isBox(c.first))
                    pair.decode1(cache1, c.first, halves[i]);
                kept[i] = evaluate(c, halves[i], box2);
            } else {
                c.second = refs[i];
                if (CtvxNodeRef::isBox(c.second))
                    pair.decode2(cache2, c.second, halves[i]);
                kept[i] = evaluate(c, box1, halves[i]);
            }
            if (contact)
                break;
            // A child's triangles are some of its parent's, so they are at
            // least as far as the parent's bound says.
            if (kept[i] && s.bound > c.bound)
                c.bound = s.bound;
        }
        if (contact)
            break;
        // The nearer child goes on in hand, the first child on equal bounds,
        // unless a pending pair comes before it; the other is kept.
        int const nearer = !kept[0] || (kept[1] && children[1].bound < children[0].bound) ? 1 : 0;
        if (kept[1 - nearer])
            keep(children[1 - nearer]);
        if (kept[nearer]) {
            CtvxNearStep const& c = children[nearer];
            CtvxNearKey const key(c.bound, static_cast<std::uint32_t>(steps.size()));
            // The pending pair taken next: the top, or, while the pair in
            // hand is still there, the least of its children.
            CtvxNearKey next = key;
            bool const pending = !diving && (onTop ? heap.next(next) : !heap.empty());
            if (pending && !onTop)
                next = heap.top();
            if (!pending || !key.after(next)) {
                s = c;
                inHand = true;
                (splitFirst ? box1 : box2) = halves[nearer];
            } else
                keep(c);
        }
        if (onTop) {
            heap.pop();
            onTop = false;
        }
    }
    if (out && !contact) {
        // The pairs still pending go into the front in the order they were
        // kept, which any heap holding the same keys gives alike: each is
        // marked by its level's complement (levels are never negative),
        // then the pool is read in order.
        for (CtvxNearKey const& k : heap) {
            CtvxNearStep& p = steps[k.step()];
            p.level = ~p.level;
        }
        for (CtvxNearStep p : steps)
            if (p.level < 0) {
                p.level = ~p.level;
                noteStep(p);
            }
    }
    heap.clear();
    steps.clear();
    return !contact;
}
