#include <tvx/analysis/CtvxPolyhedronTriangle.h>

#include <tvx/geometry/CtvxPoly.h>
#include <tvx/geometry/CtvxVirtualPolyhedron.h>
#include <tvx/scene/CtvxAssembly.h>

#include <boost/make_shared.hpp>

namespace {
// A triangle and its reference counts in one allocation, as an all-contacts
// query makes two of them for every pair it records; the derived type only
// opens the protected constructor to make_shared.
struct MadeTriangle : CtvxPolyhedronTriangle {};
} // namespace

CtvxPolyhedronTriangle::CtvxPolyhedronTriangle() : m_triangle(-1) {}
CtvxPolyhedronTriangle::~CtvxPolyhedronTriangle() = default;

boost::shared_ptr<CtvxPolyhedronTriangle> CtvxPolyhedronTriangle::create()
{
    boost::shared_ptr<CtvxPolyhedronTriangle> t(new CtvxPolyhedronTriangle());
    t->init();
    return t;
}

boost::shared_ptr<CtvxPolyhedronTriangle> CtvxPolyhedronTriangle::create(
    boost::shared_ptr<CtvxVirtualPolyhedron> const& p, int t)
{
    boost::shared_ptr<CtvxPolyhedronTriangle> res = boost::make_shared<MadeTriangle>();
    res->init(p, t);
    return res;
}

boost::shared_ptr<CtvxPolyhedronTriangle> CtvxPolyhedronTriangle::create(boost::shared_ptr<CtvxPoly> const& poly,
                                                                         int rank)
{
    boost::shared_ptr<CtvxVirtualPolyhedron> owner;
    int local = -1;
    if (poly)
        poly->getTriangleInfo(static_cast<unsigned int>(rank), owner, local);
    return create(owner, local);
}

void CtvxPolyhedronTriangle::init()
{
    m_triangle = -1;
}

void CtvxPolyhedronTriangle::init(boost::shared_ptr<CtvxVirtualPolyhedron> const& p, int t)
{
    init();
    m_polyhedron = p;
    m_triangle = t;
}

void CtvxPolyhedronTriangle::polyhedron(boost::shared_ptr<CtvxVirtualPolyhedron> const& p)
{
    m_polyhedron = p;
}

int CtvxPolyhedronTriangle::getPolyhedron(boost::shared_ptr<CtvxVirtualPolyhedron>& out) const
{
    out = m_polyhedron.lock();
    return out ? 0 : -1;
}

int CtvxPolyhedronTriangle::getTriangle(int& t) const
{
    t = m_triangle;
    return m_triangle == -1 ? -1 : 0;
}

int CtvxPolyhedronTriangle::getTriangle(CqarPoint3& a, CqarPoint3& b, CqarPoint3& c) const
{
    boost::shared_ptr<CtvxVirtualPolyhedron> const p = m_polyhedron.lock();
    if (!p || m_triangle == -1)
        return -1;
    unsigned int i0, i1, i2;
    p->getTriangle(static_cast<unsigned int>(m_triangle), i0, i1, i2);
    p->getPoint(i0, a);
    p->getPoint(i1, b);
    p->getPoint(i2, c);
    return 0;
}

int CtvxPolyhedronTriangle::getTriangleAbsolute(CqarPoint3& a, CqarPoint3& b, CqarPoint3& c) const
{
    boost::shared_ptr<CtvxVirtualPolyhedron> const p = m_polyhedron.lock();
    if (!p || m_triangle == -1)
        return -1;
    CqarMat4 placement;
    if (p->isLocked()) {
        boost::shared_ptr<CtvxAssembly> const owner = p->firstUnlockedParent();
        if (!owner)
            return -1;
        owner->getAbsolutePosition(placement);
    } else {
        p->getAbsolutePosition(placement);
    }
    CqarPoint3 v[3];
    if (getTriangle(v[0], v[1], v[2]) != 0)
        return -1;
    a = placement * v[0];
    b = placement * v[1];
    c = placement * v[2];
    return 0;
}
