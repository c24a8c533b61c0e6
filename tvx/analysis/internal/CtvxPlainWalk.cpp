// The plain walk: the plain recursive order over an explicit stack, every
// placement decoded afresh. The other walks must give its answers.
#include <tvx/analysis/internal/CtvxPairWalks.h>
#include <tvx/internal/CtvxDebugAssert.h>

#include <vector>

void CtvxPairWalks::plain(CtvxPairContext& pair)
{
    // The one walk that reads the roots' map of frame 2 into box 1: made
    // here rather than for every pair that goes below its roots.
    pair.readyRootToBox1();
    std::vector<CtvxPlainStep>& steps = pair.scratch().plainSteps;
    // Pushing both children and popping one, a depth-first descent of two
    // binary trees never holds more than depth1 + depth2 + 1 steps.
    std::size_t const bound = pair.stackBound();
    steps.clear();
    steps.reserve(bound + 1);
    steps.push_back(CtvxPlainStep{pair.root1(), pair.root2()});

    // Last in, first out: the second child goes on the stack first so that
    // the first child is examined first.
    auto pushChildren = [&steps, &pair, bound](bool splitFirst, int box, int other) {
        int refs[2];
        pair.children(splitFirst, box, refs);
        if (splitFirst) {
            steps.push_back(CtvxPlainStep{refs[1], other});
            steps.push_back(CtvxPlainStep{refs[0], other});
        } else {
            steps.push_back(CtvxPlainStep{other, refs[1]});
            steps.push_back(CtvxPlainStep{other, refs[0]});
        }
        TVX_DEBUG_ASSERT(steps.size() <= bound);
    };
    CtvxMat4 toBox1, place2;
    toBox1.identity();
    place2.identity();
    while (!steps.empty()) {
        // After the first contact of a query that wants one, everything
        // pending is dropped.
        if (pair.done<CtvxVisit::Query>())
            break;
        CtvxPlainStep const s = steps.back();
        steps.pop_back();
        TVX_DEBUG_ASSERT(pair.names(s.first, s.second));
        bool const box1 = CtvxNodeRef::isBox(s.first);
        bool const box2 = CtvxNodeRef::isBox(s.second);
        if (box1)
            pair.toBox1(s.first, toBox1);
        if (box2)
            pair.place2(s.second, place2);
        if (box1 && box2) {
            if (pair.visitBoxes<CtvxVisit::Query>(s.first, s.second, toBox1, place2)) {
                bool const splitFirst = pair.splitsFirst(s.first, s.second);
                pushChildren(splitFirst, splitFirst ? s.first : s.second, splitFirst ? s.second : s.first);
            }
        } else if (box1 || box2) {
            if (pair.visitBoxTriangle<CtvxVisit::Query>(s.first, s.second, toBox1, place2))
                pushChildren(box1, box1 ? s.first : s.second, box1 ? s.second : s.first);
        } else {
            pair.visitTriangles<CtvxVisit::Query>(s.first, s.second);
        }
    }
    steps.clear();
}
