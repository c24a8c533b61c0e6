#include <tvx/analysis/CtvxGeometryPoint.h>

#include <tvx/scene/CtvxGeometry.h>

#include <boost/make_shared.hpp>

namespace {
// A point and its reference counts in one allocation; the derived type only
// opens the protected constructor to make_shared.
struct MadeGeometryPoint : CtvxGeometryPoint {};
} // namespace

CtvxGeometryPoint::CtvxGeometryPoint() = default;
CtvxGeometryPoint::~CtvxGeometryPoint() = default;

boost::shared_ptr<CtvxGeometryPoint> CtvxGeometryPoint::create(boost::shared_ptr<CtvxGeometry> const& g,
                                                               CqarPoint3 const& absolute,
                                                               CqarPoint3 const& relative)
{
    boost::shared_ptr<CtvxGeometryPoint> p = boost::make_shared<MadeGeometryPoint>();
    p->init(g, absolute, relative);
    return p;
}

void CtvxGeometryPoint::init(boost::shared_ptr<CtvxGeometry> const& g, CqarPoint3 const& absolute,
                             CqarPoint3 const& relative)
{
    m_geometry = g;
    m_absolutePoint = absolute;
    m_relativePoint = relative;
}

int CtvxGeometryPoint::getGeometry(boost::shared_ptr<CtvxGeometry>& out)
{
    out = m_geometry.lock();
    return out ? 0 : -1;
}

void CtvxGeometryPoint::geometry(boost::shared_ptr<CtvxGeometry> const& g)
{
    m_geometry = g;
}

void CtvxGeometryPoint::pointAbsolute(CqarPoint3& p) const
{
    p = m_absolutePoint;
}

void CtvxGeometryPoint::pointAbsolute(float& x, float& y, float& z) const
{
    x = static_cast<float>(m_absolutePoint[0]);
    y = static_cast<float>(m_absolutePoint[1]);
    z = static_cast<float>(m_absolutePoint[2]);
}

void CtvxGeometryPoint::pointRelative(CqarPoint3& p) const
{
    p = m_relativePoint;
}

void CtvxGeometryPoint::pointRelative(float& x, float& y, float& z) const
{
    x = static_cast<float>(m_relativePoint[0]);
    y = static_cast<float>(m_relativePoint[1]);
    z = static_cast<float>(m_relativePoint[2]);
}

void CtvxGeometryPoint::setPointAbsolute(CqarPoint3 const& p)
{
    m_absolutePoint = p;
}

void CtvxGeometryPoint::setPointRelative(CqarPoint3 const& p)
{
    m_relativePoint = p;
}
