#include <tvx/scene/CtvxCollisionList.h>

#include <tvx/scene/CtvxAssembly.h>
#include <tvx/scene/CtvxObject.h>

#include <boost/pointer_cast.hpp>

#include <algorithm>
#include <unordered_set>

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
    if (other && other.get() != this) {
        m_objects = other->m_objects;
        ++m_revision;
    }
}

void CtvxCollisionList::add(boost::shared_ptr<CtvxObject> const& o)
{
    m_objects.push_back(o);
    ++m_revision;
}

void CtvxCollisionList::remove(boost::shared_ptr<CtvxObject> const& o)
{
    auto const it = std::find(m_objects.begin(), m_objects.end(), o);
    if (it != m_objects.end()) {
        m_objects.erase(it);
        ++m_revision;
    }
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

void CtvxCollisionList::complementStep(boost::shared_ptr<CtvxObject> const& root, CtvxCollisionList& out) const
{
    // Objects with something listed at or below them: the listed objects
    // and their ancestors, gathered once (a walk up from each stops where an
    // earlier one passed), so that deep scenes cost their size, not their
    // depth times their size.
    std::unordered_set<CtvxObject const*> listed;
    std::unordered_set<CtvxObject const*> holding;
    for (auto const& e : m_objects) {
        if (!e)
            continue;
        listed.insert(e.get());
        boost::shared_ptr<CtvxObject> o = e;
        while (o && holding.insert(o.get()).second) {
            boost::shared_ptr<CtvxAssembly> p;
            o->getParent(p);
            o = p;
        }
    }
    // Depth first from root, children in order, on an explicit stack (the
    // scene may be nested to any depth): a sub-tree holding nothing listed is
    // taken whole; a listed object is left out with everything below it; any
    // other object holds something listed below it, hence is an assembly,
    // and is split into its children.
    std::vector<boost::shared_ptr<CtvxObject>> stack{root};
    while (!stack.empty()) {
        boost::shared_ptr<CtvxObject> const x = std::move(stack.back());
        stack.pop_back();
        if (holding.count(x.get()) == 0) {
            out.m_objects.push_back(x);
            ++out.m_revision;
            continue;
        }
        if (listed.count(x.get()) != 0)
            continue;
        boost::shared_ptr<CtvxAssembly> const a = boost::dynamic_pointer_cast<CtvxAssembly>(x);
        if (!a)
            continue;
        for (unsigned int i = a->countChildren(); i-- > 0;)
            stack.push_back(a->child(i));
    }
}
