#include <tvx/scene/CtvxObject.h>

#include <tvx/scene/CtvxAssembly.h>
#include <tvx/scene/CtvxObjectOBB.h>
#include <tvx/scene/internal/CtvxInputChecks.h>
#include <tvx/scene/internal/CtvxWalkStack.h>

CtvxObject::CtvxObject() = default;

CtvxObject::~CtvxObject()
{
    delete m_enclosingObb;
}

void CtvxObject::init()
{
    m_isAbsolutePositionValid = false;
    m_relativePosition.identity();
    m_needToRecomputeObb = true;
    if (!m_enclosingObb)
        m_enclosingObb = new CtvxObjectOBB();
    m_obbState = OBB_NONE;
    m_isLocked = false;
}

int CtvxObject::relativePosition(CqarMat4 const& m)
{
    if (m_isLocked)
        return -1;
    if (char const* const fault = CtvxInputChecks::placementFault(m)) {
        CtvxInputChecks::refuse(className() + "::relativePosition", std::string("placement refused: ") + fault);
        return -1;
    }
    placeRelative(m);
    return 0;
}

void CtvxObject::placeRelative(CqarMat4 const& m)
{
    m_relativePosition = m;
    ++m_revision;
    ++m_placementRevisions;
    // Raised first so that an assembly, whose invalidation stops at a node
    // that is already invalid, always runs down into its descendants.
    m_isAbsolutePositionValid = true;
    invalidateSubHierarchyAbsolutePosition();
    // The object's own box is in its own frame and stays valid; only the
    // boxes of the ancestors, which contain it, move.
    if (m_needToRecomputeObb || m_obbState != OBB_NONE)
        parentsMustRecomputeObbs();
}

void CtvxObject::getRelativePosition(CqarMat4& m) const
{
    m = m_relativePosition;
}

int CtvxObject::absolutePosition(CqarMat4 const& m)
{
    if (m_isLocked)
        return -1;
    if (char const* const fault = CtvxInputChecks::placementFault(m)) {
        CtvxInputChecks::refuse(className() + "::absolutePosition", std::string("placement refused: ") + fault);
        return -1;
    }
    m_absolutePosition = m;
    boost::shared_ptr<CtvxAssembly> const p = m_parent.lock();
    if (!p) {
        placeRelative(m);
        // A root's world placement is its relative one, m: the cache the
        // invalidation cleared is filled here, with the bits the next
        // reader would have copied.
        m_isAbsolutePositionValid = true;
        return 0;
    }
    CqarMat4 parentPos;
    p->getAbsolutePosition(parentPos);
    // Both factors are rigid, so the product is too, up to rounding: it is
    // not checked again, or a placement accepted here could be refused
    // for the rounding of its own composition.
    placeRelative(parentPos.inverse() * m);
    if (m_needToRecomputeObb || m_obbState != OBB_NONE)
        parentsMustRecomputeObbs();
    return 0;
}

void CtvxObject::getAbsolutePosition(CqarMat4& m)
{
    m = currentAbsolutePosition();
}

CqarMat4 const& CtvxObject::currentAbsolutePosition()
{
    if (!m_isAbsolutePositionValid) {
        // The invalid caches from here up to the first valid ancestor (or
        // the root) are filled top down, each as its parent's placement
        // times its own relative one. The walk keeps raw pointers: nothing
        // runs during it that could release an ancestor.
        CtvxWalkStack<CtvxObject*> path;
        CtvxObject* above = nullptr;
        for (CtvxObject* o = this;;) {
            path.push(o);
            boost::shared_ptr<CtvxAssembly> const p = o->m_parent.lock();
            if (!p)
                break;
            if (p->m_isAbsolutePositionValid) {
                above = p.get();
                break;
            }
            o = p.get();
        }
        for (std::size_t i = path.size(); i-- > 0;) {
            CtvxObject* const o = path[i];
            if (above)
                o->m_absolutePosition = above->m_absolutePosition * o->m_relativePosition;
            else
                o->m_absolutePosition = o->m_relativePosition;
            o->m_isAbsolutePositionValid = true;
            above = o;
        }
    }
    return m_absolutePosition;
}

void CtvxObject::parent(boost::shared_ptr<CtvxAssembly> const& p)
{
    m_parent = p;
}

int CtvxObject::getParent(boost::shared_ptr<CtvxAssembly>& p) const
{
    p = m_parent.lock();
    return p ? 0 : -1;
}

boost::shared_ptr<CtvxObject> CtvxObject::root() const
{
    CtvxObject const* o = this;
    for (boost::shared_ptr<CtvxAssembly> p = o->m_parent.lock(); p; p = p->m_parent.lock())
        o = p.get();
    return o->objectShPtr();
}

bool CtvxObject::isParentOf(boost::shared_ptr<CtvxObject> const& o) const
{
    if (!o)
        return false;
    if (o.get() == this)
        return true;
    for (boost::shared_ptr<CtvxAssembly> p = o->m_parent.lock(); p; p = p->m_parent.lock()) {
        if (static_cast<CtvxObject const*>(p.get()) == this)
            return true;
    }
    return false;
}

boost::shared_ptr<CtvxAssembly> CtvxObject::firstUnlockedParent() const
{
    boost::shared_ptr<CtvxAssembly> p = m_parent.lock();
    while (p && p->isLocked())
        p = p->m_parent.lock();
    return p;
}

void CtvxObject::unlock(boost::shared_ptr<CtvxProgressDelegate>& delegate, bool makeEntity)
{
    // A progress delegate may drop the host's last reference to this object
    // while the regrouping is split or the tree built.
    boost::shared_ptr<CtvxObject> const keepAlive = objectShPtr();
    if (m_isLocked) {
        boost::shared_ptr<CtvxAssembly> const a = firstUnlockedParent();
        if (a) {
            static_cast<CtvxObject*>(a.get())->lockSubHierarchy(false);
            a->makeCollisionEntity(objectShPtr(), delegate);
        }
    }
    if (makeEntity)
        makeCollisionEntity(delegate);
}

void CtvxObject::parentsMustRecomputeObbs() const
{
    boost::shared_ptr<CtvxAssembly> p = m_parent.lock();
    while (p && !p->m_needToRecomputeObb) {
        p->markObbStale();
        p = p->m_parent.lock();
    }
}

void CtvxObject::needToRecomputeObb(bool b)
{
    m_needToRecomputeObb = b;
    ++m_revision;
    parentsMustRecomputeObbs();
}

int CtvxObject::getObbHalfLengths(float& x, float& y, float& z)
{
    if (m_needToRecomputeObb)
        computeObb();
    if (m_obbState != OBB_NONE) {
        m_enclosingObb->getHalfLengths(x, y, z);
        return 0;
    }
    x = y = z = 0.0f;
    return -1;
}

int CtvxObject::getObbRelativePosition(CqarMat4& m)
{
    if (m_needToRecomputeObb)
        computeObb();
    if (m_obbState != OBB_NONE) {
        m_enclosingObb->getRelativePosition(m);
        return 0;
    }
    m.identity();
    return -1;
}

void CtvxObject::isPrioritaryChildRecurse() const
{
    CtvxObject const* o = this;
    for (boost::shared_ptr<CtvxAssembly> p = o->m_parent.lock(); p; p = p->m_parent.lock()) {
        p->prioritaryChild(o->objectShPtr());
        o = p.get();
    }
}
