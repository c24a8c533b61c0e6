#include <tvx/bvtree/CtvxPolyhedronOBBTree.h>

CtvxPolyhedronOBBTree::CtvxPolyhedronOBBTree() : m_scale(1.0f), m_depth(0) {}

CtvxPolyhedronOBBTree::CtvxPolyhedronOBBTree(boost::weak_ptr<CtvxPoly> const& poly)
    : CtvxPolyhedronBVTree(poly), m_scale(1.0f), m_depth(0)
{
}

CtvxPolyhedronOBBTree::~CtvxPolyhedronOBBTree() = default;

void CtvxPolyhedronOBBTree::f() const {}

void CtvxPolyhedronOBBTree::addObb(CtvxOBB& obb)
{
    m_obbs.push_back(obb);
}

int CtvxPolyhedronOBBTree::getRootObbRank(int& rank) const
{
    if (m_obbs.empty())
        return -1;
    rank = 0;
    return 0;
}
