#include <tvx/scene/CtvxObject.h>

#include <tvx/scene/CtvxAssembly.h>
#include <tvx/scene/CtvxObjectOBB.h>

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
    m_relativePosition = m;
    // Raised first so that an assembly, whose invalidation stops at a node
    // that is already invalid, always runs down into its descendants.
    m_isAbsolutePositionValid = true;
    invalidateSubHierarchyAbsolutePosition();
    // The object's own box is in its own frame and stays valid; only the
    // boxes of the ancestors, which contain it, move.
    if (m_needToRecomputeObb || m_obbState != OBB_NONE)
        parentsMustRecomputeObbs();
    return 0;
}

void CtvxObject::getRelativePosition(CqarMat4& m) const
{
    m = m_relativePosition;
}

int CtvxObject::absolutePosition(CqarMat4 const& m)
{
    if (m_isLocked)
        return -1;
    m_absolutePosition = m;
    boost::shared_ptr<CtvxAssembly> const p = m_parent.lock();
    if (!p) {
        relativePosition(m);
        return 0;
    }
    CqarMat4 parentPos;
    p->getAbsolutePosition(parentPos);
    relativePosition(parentPos.inverse() * m);
    if (m_needToRecomputeObb || m_obbState != OBB_NONE)
        parentsMustRecomputeObbs();
    return 0;
}

void CtvxObject::getAbsolutePosition(CqarMat4& m)
{
    if (!m_isAbsolutePositionValid) {
        boost::shared_ptr<CtvxAssembly> const p = m_parent.lock();
        if (!p) {
            m_absolutePosition = m_relativePosition;
        } else {
            CqarMat4 parentPos;
            p->getAbsolutePosition(parentPos);
            m_absolutePosition = parentPos * m_relativePosition;
        }
        m_isAbsolutePositionValid = true;
    }
    m = m_absolutePosition;
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
        p->m_needToRecomputeObb = true;
        p = p->m_parent.lock();
    }
}

void CtvxObject::needToRecomputeObb(bool b)
{
    m_needToRecomputeObb = b;
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
