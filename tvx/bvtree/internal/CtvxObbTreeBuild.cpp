#include <tvx/bvtree/internal/CtvxObbTreeBuild.h>

#include <tvx/bvtree/CtvxOBB.h>
#include <tvx/bvtree/CtvxPolyhedronOBBTree.h>
#include <tvx/bvtree/internal/CtvxObbRangePasses.h>
#include <tvx/bvtree/internal/CtvxObbRoundingMend.h>
#include <tvx/geometry/CtvxPoly.h>
#include <tvx/progress/CtvxProgressDelegate.h>
#include <tvx/scene/CtvxObjectOBB.h>

#include <qar/CqarVect3.h>

CtvxObbTreeBuild::CtvxObbTreeBuild(CtvxPolyhedronOBBTree& tree, bool axisAligned, bool mend, bool scaleFreeAxes)
    : m_tree(tree), m_axisAligned(axisAligned), m_mend(mend), m_scaleFreeAxes(scaleFreeAxes)
{
}

std::unique_ptr<CtvxObjectOBB> CtvxObbTreeBuild::run(CtvxPoly const& poly, CtvxProgressDelegate* delegate)
{
    m_delegate = delegate;
    m_firstBox = true;
    unsigned int const n = poly.countTriangles();
    m_tree.m_depth = 0;
    m_tree.m_obbs.clear();
    std::unique_ptr<CtvxObjectOBB> own;
    if (n == 0)
        return own;

    // n - 1 boxes, all written by the descent (none for a lone triangle).
    m_tree.m_obbs.resize(n - 1);
    m_boxes = m_tree.m_obbs.data();
    m_set.read(poly);
    m_nextObbRank = 1;
    if (n >= 2) {
        m_tree.m_depth = 1;
        descend(static_cast<int>(n));
    }
    own = ownBox(poly);
    m_set.release();
    std::vector<SplitNode>().swap(m_stack);
    m_boxes = nullptr;
    return own;
}

void CtvxObbTreeBuild::descend(int n)
{
    m_stack.clear();
    CtvxObbPart root{};
    root.first = 0;
    root.count = n;
    CtvxObbRangePasses::bounds(m_set, 0, n, root.bounds);
    CtvxObbPart* rootPart = &root;
    if (!m_axisAligned)
        CtvxObbFits::principalAxes(m_set, &rootPart, 1, m_scaleFreeAxes);
    SplitNode top{};
    fitAndSplit(root, 0, top);
    top.depth = 1;
    m_stack.push_back(top);

    while (!m_stack.empty()) {
        SplitNode const e = m_stack.back();
        m_stack.pop_back();
        if (e.nodeRank < 0) {
            if (m_delegate)
                m_delegate->didBuildNode(static_cast<unsigned int>(e.first));
            continue;
        }
        if (e.depth > m_tree.m_depth)
            m_tree.m_depth = e.depth;
        SplitNode report{};
        report.nodeRank = -1;
        report.first = e.first;
        m_stack.push_back(report);

        int ranks[2];
        codeChildren(e, ranks);

        // The children of the root come without axes; solve them together.
        CtvxObbPart parts[2] = {e.parts[0], e.parts[1]};
        if (!m_axisAligned) {
            CtvxObbPart* pending[2];
            int nPending = 0;
            for (int side = 0; side < 2; ++side)
                if (ranks[side] >= 0 && !parts[side].hasAxes)
                    pending[nPending++] = &parts[side];
            if (nPending > 0)
                CtvxObbFits::principalAxes(m_set, pending, nPending, m_scaleFreeAxes);
        }

        // Fit and split the boxed children, then solve their own boxed
        // children's axes in one batch.
        SplitNode children[2];
        CtvxObbPart* grand[4];
        int nGrand = 0;
        for (int side = 0; side < 2; ++side) {
            if (ranks[side] < 0)
                continue;
            SplitNode& c = children[side];
            fitAndSplit(parts[side], ranks[side], c);
            c.depth = e.depth + 1;
            for (CtvxObbPart& grandPart : c.parts)
                if (grandPart.count >= 2)
                    grand[nGrand++] = &grandPart;
        }
        if (!m_axisAligned && nGrand > 0)
            CtvxObbFits::principalAxes(m_set, grand, nGrand, m_scaleFreeAxes);
        if (ranks[1] >= 0)
            m_stack.push_back(children[1]);
        if (ranks[0] >= 0)
            m_stack.push_back(children[0]);
    }
}

void CtvxObbTreeBuild::fitAndSplit(CtvxObbPart const& part, int nodeRank, SplitNode& out)
{
    CtvxOBB& box = m_boxes[nodeRank];
    CqarVect3 axis(1.0, 0.0, 0.0);
    double splitValue = 0.0;
    if (m_axisAligned) {
        CtvxObbFits::axisAlignedBox(part.bounds, box, axis, splitValue);
    } else {
        float dims[2][3];
        CtvxObbRangePasses::extents(m_set, part.first, part.count, part.axes, dims);
        CtvxObbFits::boxFromAxes(part.axes, dims, m_firstBox, m_tree.m_scale, box, axis, splitValue);
        m_firstBox = false;
    }

    CtvxObbRoundingMend mend;
    if (m_mend)
        mend.begin(box, m_tree);
    CtvxObbBounds bounds[2];
    int const nLeft = CtvxObbRangePasses::split(m_set, part.first, part.count, axis, splitValue,
                                                m_mend ? &mend : nullptr, bounds);
    if (m_mend)
        mend.finish(box, m_tree);

    out.nodeRank = nodeRank;
    out.first = part.first;
    out.count = part.count;
    out.nLeft = nLeft;
    int const firsts[2] = {part.first, part.first + nLeft};
    int const counts[2] = {nLeft, part.count - nLeft};
    for (int side = 0; side < 2; ++side) {
        CtvxObbPart& p = out.parts[side];
        p.first = firsts[side];
        p.count = counts[side];
        p.hasAxes = false;
        // Gathered by the split when the set allows it, else in range order
        // now that the range is final.
        if (m_set.orderFree())
            p.bounds = bounds[side];
        else if (p.count >= 2)
            CtvxObbRangePasses::boundsInOrder(m_set, p.first, p.count, p.bounds);
    }
}

void CtvxObbTreeBuild::codeChildren(SplitNode const& node, int (&ranks)[2])
{
    CtvxOBB& box = m_boxes[node.nodeRank];
    int const nLeft = node.nLeft;
    int const nRight = node.count - nLeft;
    ranks[0] = ranks[1] = -1;
    if (nLeft == 1) {
        box.firstTriangle(static_cast<int>(m_set.rank(node.first)));
        if (nRight == 1) {
            box.secondTriangle(static_cast<int>(m_set.rank(node.first + 1)));
        } else {
            ranks[1] = m_nextObbRank++;
            box.child2Rank(ranks[1]);
        }
    } else if (nRight == 1) {
        ranks[0] = m_nextObbRank++;
        box.child1Rank(ranks[0]);
        box.secondTriangle(static_cast<int>(m_set.rank(node.first + nLeft)));
    } else {
        ranks[0] = m_nextObbRank;
        ranks[1] = m_nextObbRank + 1;
        m_nextObbRank += 2;
        box.child1Rank(ranks[0]);
        box.child2Rank(ranks[1]);
    }
}

std::unique_ptr<CtvxObjectOBB> CtvxObbTreeBuild::ownBox(CtvxPoly const& poly) const
{
    int const n = static_cast<int>(m_set.count());
    std::unique_ptr<CtvxObjectOBB> box;
    if (n == 1) {
        CqarPoint3 p[3];
        poly.getTriangle(0, p);
        CtvxOBB lone;
        CtvxObbFits::oneTriangleBox(p, lone);
        box.reset(new CtvxObjectOBB(lone, m_tree.scale()));
    } else {
        box.reset(new CtvxObjectOBB(m_boxes[0], m_tree.scale()));
    }
    if (m_mend) {
        CtvxObbRoundingMend mend;
        mend.begin(*box);
        for (int i = 0; i < n; ++i)
            mend.addTriangle(m_set.vertices(i));
        mend.finish(*box);
    }
    return box;
}
