#include <tvx/bvtree/CtvxPolyhedronBVTree.h>

#include <tvx/geometry/CtvxPoly.h>

CtvxPolyhedronBVTree::CtvxPolyhedronBVTree() = default;

CtvxPolyhedronBVTree::CtvxPolyhedronBVTree(boost::weak_ptr<CtvxPoly> const& poly) : m_polyWkPtr(poly) {}

CtvxPolyhedronBVTree::~CtvxPolyhedronBVTree() = default;

int CtvxPolyhedronBVTree::getPoly(boost::shared_ptr<CtvxPoly>& poly) const
{
    poly = m_polyWkPtr.lock();
    return poly ? 0 : -1;
}
