#include <tvx/scene/CtvxGeometry.h>

#include <tvx/scene/CtvxAssembly.h>
#include <tvx/scene/CtvxPolyhedronGroup.h>
#include <tvx/scene/internal/CtvxInputChecks.h>

CtvxGeometry::CtvxGeometry() = default;
CtvxGeometry::~CtvxGeometry() = default;

void CtvxGeometry::init()
{
    m_tolerance = 0.0;
    m_isActivated = true;
    CtvxObject::init();
}

void CtvxGeometry::setToleranceRecurse(double t)
{
    // The box grows or shrinks with the tolerance.
    needToRecomputeObb(true);
    m_tolerance = t;
}

void CtvxGeometry::setTolerance(double t)
{
    if (!CtvxInputChecks::isSoundTolerance(t)) {
        CtvxInputChecks::refuse(className() + "::setTolerance",
                                "tolerance " + CtvxInputChecks::number(t) +
                                    " refused: it must be at least 0 and finite in single precision");
        return;
    }
    parentsMustRecomputeObbs();
    setToleranceRecurse(t);
    if (isLocked()) {
        // A locked leaf lies inside a regrouped assembly, whose group keeps
        // the largest tolerance of its members.
        boost::shared_ptr<CtvxAssembly> const a = firstUnlockedParent();
        if (a) {
            boost::shared_ptr<CtvxPolyhedronGroup> const g = a->regroupedPoly();
            if (g)
                g->updateMaxTolerance();
        }
    }
}

int CtvxGeometry::getMaxTolerance(double& m) const
{
    if (m_isActivated && m_tolerance > m)
        m = m_tolerance;
    return 0;
}

CtvxObject::EActivation CtvxGeometry::activation() const
{
    return m_isActivated ? ACTIVATED : DEACTIVATED;
}

int CtvxGeometry::activation(bool b)
{
    if (isLocked())
        return -1;
    if (b == m_isActivated)
        return 0;
    m_isActivated = b;
    needToRecomputeObb(true);
    parentsMustRecomputeObbs();
    return 0;
}

void CtvxGeometry::activation(bool b, bool& changed)
{
    if (b == m_isActivated)
        return;
    m_isActivated = b;
    needToRecomputeObb(true);
    changed = true;
}

void CtvxGeometry::invalidateSubHierarchyAbsolutePosition()
{
    invalidateAbsolutePos();
}
