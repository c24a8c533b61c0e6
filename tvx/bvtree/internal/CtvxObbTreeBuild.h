#pragma once

#include <tvx/bvtree/internal/CtvxObbBuildSet.h>
#include <tvx/bvtree/internal/CtvxObbFits.h>

#include <memory>
#include <vector>

class CtvxOBB;
class CtvxObjectOBB;
class CtvxPoly;
class CtvxPolyhedronOBBTree;
class CtvxProgressDelegate;

// One build of an OBB tree, top down: fit a box to a range of triangles,
// split the range where the fit proposes, and go on with both parts until
// single triangles remain, which are coded in their parent box.
//
// The descent is the plain recursive build run on an explicit stack (a tree
// can be n - 1 deep), one level ahead: a box depends only on the triangles of
// its range and their order, which nothing changes once its parent has
// split, so a node's boxed children are fitted and split as soon as it is
// popped, and the principal axes of up to four grandchildren are solved
// together. Popping, rank numbering, child codes, depth and the post-order
// of the didBuildNode reports are those of the recursion: both children's
// ranks are handed out before either subtree is built, and a node is
// reported after its whole subtree.
//
// Each node costs three passes over its triangles (scatter, extents along
// the axes, and one pass that mends the box, splits the range and bounds
// both parts). run() fills the tree and returns the set's own box, made from
// the root (or from the lone triangle) and mended like the tree's boxes.
class CtvxObbTreeBuild {
public:
    // axisAligned: the axis-aligned fit instead of principal axes; mend:
    // round every box up until, decoded, it holds its triangles;
    // scaleFreeAxes: principal axes solved to a stop relative to each
    // range's scatter (see CtvxObbEigen::solve).
    CtvxObbTreeBuild(CtvxPolyhedronOBBTree& tree, bool axisAligned, bool mend, bool scaleFreeAxes = false);
    CtvxObbTreeBuild(CtvxObbTreeBuild const&) = delete;
    CtvxObbTreeBuild& operator=(CtvxObbTreeBuild const&) = delete;

    // Null for a poly without triangles.
    std::unique_ptr<CtvxObjectOBB> run(CtvxPoly const& poly, CtvxProgressDelegate* delegate);

private:
    // A node fitted and split, waiting for its children's ranks (nodeRank
    // -1: the report didBuildNode(first) of a finished subtree).
    struct SplitNode {
        int nodeRank;
        int first;
        int count;
        int depth;
        int nLeft;
        CtvxObbPart parts[2];
    };

    void descend(int n);
    // Fits box nodeRank to part, splits the part's range and prepares both
    // halves (their bounds; axes still unsolved).
    void fitAndSplit(CtvxObbPart const& part, int nodeRank, SplitNode& out);
    // Codes the children of a split node; ranks[side] becomes the box rank
    // given to that side, or -1 for a lone triangle.
    void codeChildren(SplitNode const& node, int (&ranks)[2]);
    std::unique_ptr<CtvxObjectOBB> ownBox(CtvxPoly const& poly) const;

    CtvxPolyhedronOBBTree& m_tree;
    bool const m_axisAligned;
    bool const m_mend;
    bool const m_scaleFreeAxes;
    CtvxProgressDelegate* m_delegate = nullptr;
    CtvxOBB* m_boxes = nullptr;
    int m_nextObbRank = 1;
    bool m_firstBox = true;
    CtvxObbBuildSet m_set;
    std::vector<SplitNode> m_stack;
};
