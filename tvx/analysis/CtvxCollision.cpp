#include <tvx/analysis/CtvxCollision.h>

#include <tvx/analysis/CtvxGeometrySubElement.h>
#include <tvx/scene/CtvxObject.h>

#include <boost/make_shared.hpp>

#include <utility>

namespace {
// A result and its reference counts in one allocation; the derived type only
// opens the protected constructor to make_shared.
struct MadeCollision : CtvxCollision {};
} // namespace

CtvxCollision::CtvxCollision() = default;
CtvxCollision::~CtvxCollision() = default;

boost::shared_ptr<CtvxCollision> CtvxCollision::create()
{
    boost::shared_ptr<CtvxCollision> c = boost::make_shared<MadeCollision>();
    c->init();
    return c;
}

boost::shared_ptr<CtvxCollision> CtvxCollision::create(boost::shared_ptr<CtvxObject> const& o1,
                                                       boost::shared_ptr<CtvxObject> const& o2)
{
    boost::shared_ptr<CtvxCollision> c = boost::make_shared<MadeCollision>();
    c->init(o1, o2);
    return c;
}

void CtvxCollision::init() {}

void CtvxCollision::init(boost::shared_ptr<CtvxObject> const& o1, boost::shared_ptr<CtvxObject> const& o2)
{
    m_object1 = o1;
    m_object2 = o2;
}

int CtvxCollision::getObject1(boost::shared_ptr<CtvxObject>& out) const
{
    out = m_object1.lock();
    return out ? 0 : -1;
}

int CtvxCollision::getObject2(boost::shared_ptr<CtvxObject>& out) const
{
    out = m_object2.lock();
    return out ? 0 : -1;
}

void CtvxCollision::getFirst(unsigned int i, boost::shared_ptr<CtvxGeometrySubElement>& out) const
{
    out = m_pairs[i].first;
}

void CtvxCollision::getSecond(unsigned int i, boost::shared_ptr<CtvxGeometrySubElement>& out) const
{
    out = m_pairs[i].second;
}

void CtvxCollision::addPair(boost::shared_ptr<CtvxGeometrySubElement> const& first,
                            boost::shared_ptr<CtvxGeometrySubElement> const& second)
{
    m_pairs.push_back(Pair{first, second});
}

void CtvxCollision::addPair(boost::shared_ptr<CtvxGeometrySubElement>&& first,
                            boost::shared_ptr<CtvxGeometrySubElement>&& second)
{
    m_pairs.push_back(Pair{std::move(first), std::move(second)});
}

void CtvxCollision::reuse()
{
    m_pairs.clear();
}
