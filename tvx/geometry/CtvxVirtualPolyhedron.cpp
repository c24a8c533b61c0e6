#include <tvx/geometry/CtvxVirtualPolyhedron.h>

#include <tvx/progress/CtvxProgressDelegate.h>
#include <tvx/scene/CtvxAssembly.h>
#include <tvx/scene/CtvxObjectOBB.h>
#include <tvx/scene/internal/CtvxInputChecks.h>

std::string const CtvxVirtualPolyhedron::m_className = "CtvxVirtualPolyhedron";

CtvxVirtualPolyhedron::CtvxVirtualPolyhedron() = default;
CtvxVirtualPolyhedron::~CtvxVirtualPolyhedron() = default;

void CtvxVirtualPolyhedron::init(boost::shared_ptr<CtvxVirtualPolyhedron>& self)
{
    boost::shared_ptr<CtvxObject> obj = self;
    objectWkPtr(obj);
    m_virtualPolyhedronWkPtr = self;
    boost::shared_ptr<CtvxPoly> poly = self;
    CtvxPoly::init(poly);
    CtvxGeometry::init();
}

std::string const& CtvxVirtualPolyhedron::className() const
{
    return m_className;
}

// ---------------------------------------------------------------------------
// Object side

int CtvxVirtualPolyhedron::scale(CqarPoint3& centre, double factor)
{
    // A locked leaf's points belong to its regrouped assembly's group, whose
    // tree would no longer match them.
    if (!isBVConstructed() || isLocked())
        return -1;
    if (char const* const fault = CtvxInputChecks::scaleFault(centre, factor)) {
        CtvxInputChecks::refuse(className() + "::scale", fault);
        return -1;
    }
    CqarMat4 a;
    getAbsolutePosition(a);
    CqarPoint3 local = a.inverse() * centre;
    polyScale(local, factor);
    needToRecomputeObb(true);
    return 0;
}

int CtvxVirtualPolyhedron::transform(CqarMat4 const& m)
{
    if (!isBVConstructed() || isLocked())
        return -1;
    if (char const* const fault = CtvxInputChecks::pointsTransformFault(m)) {
        CtvxInputChecks::refuse(className() + "::transform", std::string("transform refused: ") + fault);
        return -1;
    }
    CqarMat4 a;
    getAbsolutePosition(a);
    polyTransform(a.inverse() * m * a);
    needToRecomputeObb(true);
    return 0;
}

void CtvxVirtualPolyhedron::makeCollisionEntity(boost::shared_ptr<CtvxObject> const& except,
                                                boost::shared_ptr<CtvxProgressDelegate>& delegate)
{
    if (except.get() == static_cast<CtvxObject const*>(this))
        return;
    makeCollisionEntity(delegate);
}

void CtvxVirtualPolyhedron::makeCollisionEntity(boost::shared_ptr<CtvxProgressDelegate>& delegate)
{
    // The progress delegate may drop the host's last reference to this
    // polyhedron during the build.
    boost::shared_ptr<CtvxObject> const self = m_virtualPolyhedronWkPtr.lock();
    if (isLocked())
        unlock(delegate, false);
    if (!isBVConstructed()) {
        buildBV(delegate, BV_OBB_TREE);
        needToRecomputeObb(true);
    }
    // A refused build (logged) or one that the delegate undid leaves no
    // collision entity to report.
    if (delegate && isBVConstructed())
        delegate->didMakeCollisionEntity(self, countTriangles());
}

void CtvxVirtualPolyhedron::removeCollisionEntities()
{
    if (isBVConstructed()) {
        resetBV();
        needToRecomputeObb(true);
    }
}

bool CtvxVirtualPolyhedron::areCollisionEntitiesMade() const
{
    return isBVConstructed();
}

void CtvxVirtualPolyhedron::movePointsRecurse(bool toAssemblyFrame, boost::shared_ptr<CtvxAssembly> const& assembly)
{
    CqarMat4 a;
    assembly->getAbsolutePosition(a);
    CqarMat4 p;
    getAbsolutePosition(p);
    if (toAssemblyFrame)
        movePoints(a.inverse() * p);
    else
        movePoints(p.inverse() * a);
    // Regrouping drops the leaves' trees before moving their points; a tree
    // built since (a box asked of a locked leaf) is over the other frame.
    if (isBVConstructed()) {
        resetBV();
        needToRecomputeObb(true);
    }
}

void CtvxVirtualPolyhedron::computeObb()
{
    EObbState state = OBB_NONE;
    CqarMat4 pos;
    float hx = 0.0f, hy = 0.0f, hz = 0.0f;
    polyComputeObb(state, pos, hx, hy, hz);
    obbState(state);
    // Left out of the box, and out of every query, until it gets a tree.
    holdsUnbuiltGeometry(isActivatedForAnalysis() && !hasUsableTree() && countTriangles() > 0);
    if (state == OBB_COMPUTED) {
        // Below a regrouped assembly the points, hence the triangle set's
        // box, are in the assembly's frame; the enclosing box is in ours.
        if (isLocked()) {
            boost::shared_ptr<CtvxAssembly> const a = firstUnlockedParent();
            if (a) {
                CqarMat4 aPos;
                a->getAbsolutePosition(aPos);
                CqarMat4 own;
                getAbsolutePosition(own);
                pos = own.inverse() * aPos * pos;
            }
        }
        enclosingObb()->halfLengths(hx, hy, hz);
        enclosingObb()->relativePosition(pos);
    }
    needToRecomputeObb(false);
}

// ---------------------------------------------------------------------------
// Triangle-set side

std::string CtvxVirtualPolyhedron::meshFault() const
{
    // Triangles may name points added after them, so their ranks are
    // checked where they start being read: a tree build over a triangle that
    // names a point past the last would read outside the points.
    unsigned int const points = countPoints();
    for (unsigned int t = 0, n = countTriangles(); t < n; ++t) {
        unsigned int v[3];
        getTriangle(t, v[0], v[1], v[2]);
        for (unsigned int const k : v)
            if (k >= points)
                return "triangle " + std::to_string(t) + " names point " + std::to_string(k) + ", past the last of " +
                       std::to_string(points) + " points";
    }
    return std::string();
}

double CtvxVirtualPolyhedron::toleranceForTriangle(unsigned int) const
{
    return tolerance();
}

double CtvxVirtualPolyhedron::maxTolerance() const
{
    return tolerance();
}

bool CtvxVirtualPolyhedron::isActivatedForAnalysis() const
{
    return activation() == ACTIVATED;
}

void CtvxVirtualPolyhedron::getAbsPos(CqarMat4& position)
{
    // The triangles are read in the frame their points are expressed in:
    // the regrouped assembly's while the leaf is locked below it.
    if (isLocked()) {
        boost::shared_ptr<CtvxAssembly> const a = firstUnlockedParent();
        if (a) {
            a->getAbsolutePosition(position);
            return;
        }
    }
    getAbsolutePosition(position);
}

boost::shared_ptr<CtvxObject> CtvxVirtualPolyhedron::obj() const
{
    return objectShPtr();
}

void CtvxVirtualPolyhedron::getTriangleInfo(unsigned int, boost::shared_ptr<CtvxVirtualPolyhedron>& polyhedron) const
{
    polyhedron = m_virtualPolyhedronWkPtr.lock();
}

void CtvxVirtualPolyhedron::getTriangleInfo(unsigned int rank, boost::shared_ptr<CtvxVirtualPolyhedron>& polyhedron,
                                            int& localRank) const
{
    polyhedron = m_virtualPolyhedronWkPtr.lock();
    localRank = static_cast<int>(rank);
}

void CtvxVirtualPolyhedron::polyScale(CqarPoint3& centre, double factor)
{
    CqarMat4 m;
    m.identity();
    for (int i = 0; i < 3; ++i) {
        m(i, i) = factor;
        m(i, 3) = (1.0 - factor) * centre[i];
    }
    polyTransform(m);
}
