#include <tvx/scene/CtvxCollisionList.h>

#include <tvx/scene/CtvxAssembly.h>
#include <tvx/scene/CtvxObject.h>

#include <boost/pointer_cast.hpp>

#include <algorithm>

boost::shared_ptr<CtvxCollisionList> CtvxCollisionList::create()
{
    boost::shared_ptr<CtvxCollisionList> l(new CtvxCollisionList());
    l->init();
    return l;
}

boost::shared_ptr<CtvxCollisionList> CtvxCollisionList::create(boost::shared_ptr<CtvxCollisionList> const& other)
{
    boost::shared_ptr<CtvxCollisionList> l(new CtvxCollisionList());
    l->init(other);
    return l;
}

CtvxCollisionList::CtvxCollisionList() = default;
CtvxCollisionList::~CtvxCollisionList() = default;

void CtvxCollisionList::init(boost::shared_ptr<CtvxCollisionList> const& other)
{
    if (other && other.get() != this)
        m_objects = other->m_objects;
}

void CtvxCollisionList::add(boost::shared_ptr<CtvxObject> const& o)
{
    m_objects.push_back(o);
}

void CtvxCollisionList::remove(boost::shared_ptr<CtvxObject> const& o)
{
    auto const it = std::find(m_objects.begin(), m_objects.end(), o);
    if (it != m_objects.end())
        m_objects.erase(it);
}

int CtvxCollisionList::getObjectRank(boost::shared_ptr<CtvxObject> const& o, unsigned int& rank) const
{
    auto const it = std::find(m_objects.begin(), m_objects.end(), o);
    if (it == m_objects.end())
        return -1;
    rank = static_cast<unsigned int>(it - m_objects.begin());
    return 0;
}

void CtvxCollisionList::computeComplementary(boost::shared_ptr<CtvxObject> const& root,
                                             boost::shared_ptr<CtvxCollisionList>& out, bool append) const
{
    if (!out)
        return;
    // out may be this very list: work on a copy of the listed objects.
    if (out.get() == this) {
        boost::shared_ptr<CtvxCollisionList> const copy = create(out);
        copy->computeComplementary(root, out, append);
        return;
    }
    if (!append)
        out->resetList();
    if (root)
        complementStep(root, *out);
}

void CtvxCollisionList::complementStep(boost::shared_ptr<CtvxObject> const& x, CtvxCollisionList& out) const
{
    bool below = false;
    for (auto const& e : m_objects) {
        if (x->isParentOf(e)) {
            below = true;
            break;
        }
    }
    // Nothing listed at or below x: the whole sub-tree is free.
    if (!below) {
        out.m_objects.push_back(x);
        return;
    }
    if (std::find(m_objects.begin(), m_objects.end(), x) != m_objects.end())
        return;
    // x is a strict ancestor of a listed object, hence an assembly.
    boost::shared_ptr<CtvxAssembly> const a = boost::dynamic_pointer_cast<CtvxAssembly>(x);
    if (!a)
        return;
    for (unsigned int i = 0; i < a->countChildren(); ++i)
        complementStep(a->child(i), out);
}
