#pragma once

#include <tvx/bvtree/CtvxOBB.h>
#include <tvx/bvtree/CtvxPolyhedronBVTree.h>

#include <vector>

// The compact OBB tree of a triangle set: a contiguous array of 28-byte
// boxes addressed by rank, the root at rank 0, and one storage scale.
//
// A set of n >= 2 triangles has n - 1 boxes, each with two children; single
// triangles are coded in their parent and never get a box, so sets of 0 or 1
// triangle have no box at all. Box centres and half lengths are stored
// multiplied by the effective scale (m_scale when at most 1, else 1), chosen
// by the builder so that the root's farthest reach fits half the binary16
// range; read them through convertFromScaledFloat(). The builder
// (CtvxPolyhedronOBBTreeFactory) fills the tree once; it is never edited
// afterwards. depth() is the largest number of boxes on a path from the root
// to a leaf, which bounds the stack of a descent over two trees
// (depthA + depthB + 1 box pairs).
class TVX_API CtvxPolyhedronOBBTree : public CtvxPolyhedronBVTree {
public:
    CtvxPolyhedronOBBTree();
    explicit CtvxPolyhedronOBBTree(boost::weak_ptr<CtvxPoly> const& poly);
    CtvxPolyhedronOBBTree(CtvxPolyhedronOBBTree const&) = default;
    CtvxPolyhedronOBBTree& operator=(CtvxPolyhedronOBBTree const&) = default;

    void f() const override;
    ~CtvxPolyhedronOBBTree() override;

    // Appends a copy (its rank is the previous count).
    void addObb(CtvxOBB& obb);
    // The box of that rank, unchecked; valid until the array is resized.
    CtvxOBB* getObb(int rank) const { return const_cast<CtvxOBB*>(&m_obbs[static_cast<std::size_t>(rank)]); }
    // -1 (rank untouched) for a tree without boxes, else 0 and rank 0.
    int getRootObbRank(int& rank) const;
    int countObbs() const { return static_cast<int>(m_obbs.size()); }
    // Contiguous read access to the boxes, for descents that walk by rank.
    CtvxOBB const* obbs() const { return m_obbs.data(); }
    int depth() const { return m_depth; }

    // The effective scale.
    double scale() const { return m_scale > 1.0f ? 1.0 : static_cast<double>(m_scale); }
    float convertToScaledFloat(float v) const { return m_scale > 1.0f ? v : v * m_scale; }
    float convertFromScaledFloat(float v) const { return m_scale > 1.0f ? v : v / m_scale; }
    // The scale as the builder set it, also when above 1 and not applied.
    float storedScale() const { return m_scale; }

private:
    // The builder sizes the array, writes the boxes in place and sets the
    // scale and the depth.
    friend class CtvxObbTreeBuild;

    std::vector<CtvxOBB> m_obbs;
    float m_scale;
    int m_depth;
};
