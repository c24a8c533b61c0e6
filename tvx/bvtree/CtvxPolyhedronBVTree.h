#pragma once

#include <tvx/bvtree/CtvxBoundingVolumesTree.h>

#include <boost/shared_ptr.hpp>
#include <boost/weak_ptr.hpp>

class CtvxPoly;

// A bounding-volume tree over the triangles of one triangle set.
//
// It refers back to its set by weak pointer: the set owns the tree, so the
// tree never keeps the set alive. getPoly() tells whether the set still
// exists. Trees are owned by their triangle set and deleted through this
// class's virtual destructor.
class TVX_API CtvxPolyhedronBVTree : public CtvxBoundingVolumesTree {
public:
    CtvxPolyhedronBVTree();
    explicit CtvxPolyhedronBVTree(boost::weak_ptr<CtvxPoly> const& poly);
    CtvxPolyhedronBVTree(CtvxPolyhedronBVTree const&) = default;
    CtvxPolyhedronBVTree& operator=(CtvxPolyhedronBVTree const&) = default;

    void f() const override = 0;
    virtual ~CtvxPolyhedronBVTree();

    // 0 and the set while it exists; -1 and an empty pointer once it is gone.
    int getPoly(boost::shared_ptr<CtvxPoly>& poly) const;

private:
    boost::weak_ptr<CtvxPoly> m_polyWkPtr;
};
