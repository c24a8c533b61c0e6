#include <tvx/analysis/CtvxDistance.h>

#include <tvx/analysis/CtvxGeometryPoint.h>
#include <tvx/scene/CtvxObject.h>

#include <boost/make_shared.hpp>

namespace {
// A result and its reference counts in one allocation; the derived type only
// opens the protected constructor to make_shared.
struct MadeDistance : CtvxDistance {};

// The starting bound of every distance query, as single precision.
float const kInitialDistance = 1.0e13f;
} // namespace

CtvxDistance::CtvxDistance() : m_distance(kInitialDistance) {}
CtvxDistance::~CtvxDistance() = default;

boost::shared_ptr<CtvxDistance> CtvxDistance::create()
{
    boost::shared_ptr<CtvxDistance> d = boost::make_shared<MadeDistance>();
    d->init();
    return d;
}

boost::shared_ptr<CtvxDistance> CtvxDistance::create(boost::shared_ptr<CtvxObject> const& o1,
                                                     boost::shared_ptr<CtvxObject> const& o2)
{
    boost::shared_ptr<CtvxDistance> d = boost::make_shared<MadeDistance>();
    d->init(o1, o2);
    return d;
}

void CtvxDistance::init()
{
    m_distance = kInitialDistance;
}

void CtvxDistance::init(boost::shared_ptr<CtvxObject> const& o1, boost::shared_ptr<CtvxObject> const& o2)
{
    init();
    m_object1 = o1;
    m_object2 = o2;
}

int CtvxDistance::getClosestPoint1(boost::shared_ptr<CtvxGeometryPoint>& out) const
{
    out = m_closestPoint1;
    return out ? 0 : -1;
}

int CtvxDistance::getClosestPoint2(boost::shared_ptr<CtvxGeometryPoint>& out) const
{
    out = m_closestPoint2;
    return out ? 0 : -1;
}

int CtvxDistance::getObject1(boost::shared_ptr<CtvxObject>& out) const
{
    out = m_object1.lock();
    return out ? 0 : -1;
}

int CtvxDistance::getObject2(boost::shared_ptr<CtvxObject>& out) const
{
    out = m_object2.lock();
    return out ? 0 : -1;
}

void CtvxDistance::reuse()
{
    m_distance = kInitialDistance;
    m_closestPoint1.reset();
    m_closestPoint2.reset();
}

void CtvxDistance::setDistance(float d)
{
    m_distance = d;
    m_closestPoint1.reset();
    m_closestPoint2.reset();
}

void CtvxDistance::setDistance(float d, boost::shared_ptr<CtvxGeometryPoint> const& p1,
                               boost::shared_ptr<CtvxGeometryPoint> const& p2)
{
    m_distance = d;
    m_closestPoint1 = p1;
    m_closestPoint2 = p2;
}
