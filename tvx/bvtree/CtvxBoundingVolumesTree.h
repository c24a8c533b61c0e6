#pragma once

#include <tvx/tvxExport.h>

// The root of the bounding-volume tree hierarchy.
//
// It holds nothing; its one pure operation exists so that the hierarchy is
// polymorphic and a tree held through a base pointer can be downcast at run
// time. Trees are deleted through CtvxPolyhedronBVTree, whose destructor is
// virtual; this base's destructor is protected so nobody deletes through it.
class TVX_API CtvxBoundingVolumesTree {
public:
    virtual void f() const = 0;

protected:
    CtvxBoundingVolumesTree() = default;
    CtvxBoundingVolumesTree(CtvxBoundingVolumesTree const&) = default;
    CtvxBoundingVolumesTree& operator=(CtvxBoundingVolumesTree const&) = default;
    ~CtvxBoundingVolumesTree() = default;
};
