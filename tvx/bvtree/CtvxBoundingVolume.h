#pragma once

#include <tvx/tvxExport.h>

#include <cstdint>

// The two child codes of a node of a bounding-volume tree.
//
// A code greater than 0 is the rank of a child box in the same tree; a code
// of 0 or less is a single triangle, of rank minus the code (so triangle 0 is
// coded 0: the root box, rank 0, is nobody's child). The constructor leaves
// the codes undefined, so that a tree can size its box array without paying
// for values the builder overwrites.
class TVX_API CtvxBoundingVolume {
public:
    CtvxBoundingVolume() {}
    CtvxBoundingVolume(CtvxBoundingVolume const&) = default;
    CtvxBoundingVolume& operator=(CtvxBoundingVolume const&) = default;
    ~CtvxBoundingVolume() = default;

    bool isFirstChildLeaf() const { return m_child1Rank <= 0; }
    bool isSecondChildLeaf() const { return m_child2Rank <= 0; }
    int getChild1Rank() const { return m_child1Rank; }
    int getChild2Rank() const { return m_child2Rank; }
    void child1Rank(int code) { m_child1Rank = code; }
    void child2Rank(int code) { m_child2Rank = code; }

protected:
    std::int32_t m_child1Rank;
    std::int32_t m_child2Rank;
};
