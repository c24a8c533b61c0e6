// The nearest-first walk of the exact distance: both children of a split
// are bounded at once and the nearer is descended first, so the best
// distance falls fast and prunes the rest. Its answers are those of the
// plain walk, bit for bit: of two pairs at exactly the same distance, the one
// the in-order walk meets first is kept (each pending pair carries its rank
// in that walk), and a contact is left to the in-order contact search.
#include <tvx/analysis/internal/CtvxPairWalks.h>
#include <tvx/internal/CtvxDebugAssert.h>

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

bool CtvxPairWalks::nearestFirst(CtvxPairContext& pair)
{
    CtvxQueryScratch& scratch = pair.scratch();
    std::vector<CtvxNearStep>& steps = scratch.nearSteps;
    CtvxPlacementCache& cache1 = scratch.toBox1Cache;
    CtvxPlacementCache& cache2 = scratch.place2Cache;
    cache1.reset();
    cache2.reset();
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
    // Two children are pushed for one popped, so the stack holds at most one
    // pending sibling per level, and the two children of the pair in hand.
    std::size_t const bound = pair.stackBound();
    steps.clear();
    steps.reserve(bound + 2);

    bool contact = false;
    // Tests a pair and, unless it is a pair of triangles or is pruned, says
    // to keep it, with its bound.
    auto evaluate = [&](CtvxNearStep& s) -> bool {
        bool const box1 = CtvxNodeRef::isBox(s.first);
        bool const box2 = CtvxNodeRef::isBox(s.second);
        if (box1 && box2)
            return pair.visitBoxes<CtvxVisit::Nearest>(s.first, s.second, s.toBox1, s.place2, &axis, &s.bound);
        if (box1 || box2)
            return pair.visitBoxTriangle<CtvxVisit::Nearest>(s.first, s.second, s.toBox1, s.place2, &axis,
                                                             &s.bound);
        CtvxLeaf const found = pair.visitTriangles<CtvxVisit::Nearest>(s.first, s.second, &axis, s.rank);
        if (found == CtvxLeaf::Contact)
            contact = true;
        else if (found == CtvxLeaf::Closer)
            aim(pair.closestPoint1(), pair.closestPoint2());
        return false;
    };

    CtvxNearStep root;
    root.first = pair.root1();
    root.second = pair.root2();
    root.level = 0;
    root.rank[0] = 0;
    root.rank[1] = 0;
    root.bound = -std::numeric_limits<float>::infinity();
    root.toBox1.identity();
    root.place2.identity();
    if (CtvxNodeRef::isBox(root.first))
        pair.toBox1(cache1, 0, root.toBox1);
    if (CtvxNodeRef::isBox(root.second))
        pair.place2(cache2, 0, root.place2);
    if (evaluate(root))
        steps.push_back(root);

    CtvxNearStep children[2];
    bool keep[2];
    int refs[2];
    while (!steps.empty() && !contact) {
        CtvxNearStep const s = steps.back();
        steps.pop_back();
        TVX_DEBUG_ASSERT(pair.names(s.first, s.second));
        if (pair.distance() < s.bound)
            continue;
        bool splitFirst;
        if (CtvxNodeRef::isBox(s.first) && CtvxNodeRef::isBox(s.second))
            splitFirst = pair.splitsFirst(s.first, s.second);
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
                    pair.toBox1(cache1, c.first, c.toBox1);
            } else {
                c.second = refs[i];
                if (CtvxNodeRef::isBox(c.second))
                    pair.place2(cache2, c.second, c.place2);
            }
            keep[i] = evaluate(c);
            if (contact)
                return false;
            // A child's triangles are some of its parent's, so they are at
            // least as far as the parent's bound says.
            if (keep[i] && s.bound > c.bound)
                c.bound = s.bound;
        }
        // The nearer child is examined first (pushed last); on equal bounds,
        // the first child.
        if (keep[0] && keep[1]) {
            bool const secondNearer = children[1].bound < children[0].bound;
            steps.push_back(children[secondNearer ? 0 : 1]);
            steps.push_back(children[secondNearer ? 1 : 0]);
        } else if (keep[0]) {
            steps.push_back(children[0]);
        } else if (keep[1]) {
            steps.push_back(children[1]);
        }
        TVX_DEBUG_ASSERT(steps.size() <= bound);
    }
    steps.clear();
    return !contact;
}
