#pragma once

#include <tvx/bvtree/CtvxBoundingVolume.h>

// The same two child codes, read and written as triangle ranks.
//
// The tree builder uses these accessors for a child that is a single
// triangle: the stored code is the negated rank and the getters negate it
// back. No field is added, so a box record keeps its size.
class TVX_API CtvxTrianglesBoundingVolume : public CtvxBoundingVolume {
public:
    CtvxTrianglesBoundingVolume() {}
    CtvxTrianglesBoundingVolume(CtvxTrianglesBoundingVolume const&) = default;
    CtvxTrianglesBoundingVolume& operator=(CtvxTrianglesBoundingVolume const&) = default;
    ~CtvxTrianglesBoundingVolume() = default;

    void firstTriangle(int rank) { m_child1Rank = -rank; }
    void secondTriangle(int rank) { m_child2Rank = -rank; }
    int getFirstTriangle() const { return -m_child1Rank; }
    int getSecondTriangle() const { return -m_child2Rank; }
};
