#include <tvx/geometry/CtvxPoly.h>

#include <tvx/bvtree/CtvxPolyhedronOBBTree.h>
#include <tvx/bvtree/CtvxPolyhedronOBBTreeFactory.h>
#include <tvx/progress/CtvxProgressDelegate.h>
#include <tvx/geometry/CtvxVirtualPolyhedron.h>
#include <tvx/scene/CtvxObjectOBB.h>
#include <tvx/scene/CtvxPolyhedronGroup.h>

#include <qar/CqarLogManager.h>

#include <string>

CtvxPoly::CtvxPoly()
    : m_polyObb(nullptr), m_lastClosestTriangle(-1), m_hasLastClosestPoint(false), m_isBVConstructed(false)
{
}

CtvxPoly::~CtvxPoly()
{
    delete m_polyObb;
}

void CtvxPoly::init(boost::shared_ptr<CtvxPoly>& self)
{
    m_polyWkPtr = self;
    resetBV();
    m_hasLastClosestPoint = false;
    m_lastClosestTriangle = -1;
}

namespace {

// Triangles may name points added after them, so their ranks are checked
// where they start being read: a tree build over a triangle that names a
// point past the last one would read outside the point array. Logs the
// first such triangle and returns false.
bool trianglesNameTheirPoints(CtvxVirtualPolyhedron const& p)
{
    unsigned int const points = p.countPoints();
    for (unsigned int t = 0, n = p.countTriangles(); t < n; ++t) {
        unsigned int v[3];
        p.getTriangle(t, v[0], v[1], v[2]);
        for (unsigned int k : v)
            if (k >= points) {
                CqarLogManager::addError(p.className() + ": triangle " + std::to_string(t) + " names point " +
                                         std::to_string(k) + ", past the last of " + std::to_string(points) +
                                         " points: no tree built");
                return false;
            }
    }
    return true;
}

bool trianglesNameTheirPoints(CtvxPoly const& poly)
{
    if (auto const* p = dynamic_cast<CtvxVirtualPolyhedron const*>(&poly))
        return trianglesNameTheirPoints(*p);
    if (auto const* group = dynamic_cast<CtvxPolyhedronGroup const*>(&poly)) {
        for (unsigned int i = 0; i < group->countPolyhedra(); ++i)
            if (!trianglesNameTheirPoints(*group->polyhedron(i)))
                return false;
    }
    return true;
}

} // namespace

void CtvxPoly::buildBV(boost::shared_ptr<CtvxProgressDelegate>& delegate, EBVType)
{
    boost::shared_ptr<CtvxPoly> self = m_polyWkPtr.lock();
    // A poly made without its class's create() has no weak pointer to hand
    // to its tree; it stays without one rather than building a tree that
    // cannot find its poly.
    if (!self || m_isBVConstructed || !trianglesNameTheirPoints(*this))
        return;
    m_isBVConstructed = true;
    try {
        obtainTree(self, delegate);
    } catch (...) {
        // Allocation failure: release the half-built tree and let it pass.
        resetBV();
        throw;
    }
}

void CtvxPoly::obtainTree(boost::shared_ptr<CtvxPoly>& self, boost::shared_ptr<CtvxProgressDelegate>& delegate)
{
    optimizeMemory();
    buildOwnTree(self, delegate);
}

void CtvxPoly::buildOwnTree(boost::shared_ptr<CtvxPoly>& self, boost::shared_ptr<CtvxProgressDelegate>& delegate)
{
    m_bvTree.reset(new CtvxPolyhedronOBBTree(m_polyWkPtr));
    boost::shared_ptr<CtvxPolyhedronOBBTreeFactory> factory = CtvxPolyhedronOBBTreeFactory::create();
    factory->build(self, delegate);
}

void CtvxPoly::adoptTree(boost::shared_ptr<CtvxPolyhedronBVTree> const& tree, CtvxObjectOBB const* box)
{
    CtvxObjectOBB* const copy = box ? new CtvxObjectOBB(*box) : nullptr;
    delete m_polyObb;
    m_polyObb = copy;
    m_bvTree = tree;
}

void CtvxPoly::resetBV()
{
    m_bvTree.reset();
    delete m_polyObb;
    m_polyObb = nullptr;
    m_isBVConstructed = false;
}

int CtvxPoly::getBoundingVolumes(CtvxPolyhedronBVTree*& tree) const
{
    tree = m_bvTree.get();
    return m_bvTree ? 0 : -1;
}

void CtvxPoly::setLastClosestInfo(int triangle)
{
    m_lastClosestTriangle = triangle;
    m_hasLastClosestPoint = false;
}

void CtvxPoly::setLastClosestInfo(int triangle, CqarPoint3& point)
{
    m_lastClosestTriangle = triangle;
    m_lastClosestPoint = point;
    m_hasLastClosestPoint = true;
}

void CtvxPoly::getLastClosestPoint(CqarPoint3& point, int& triangle) const
{
    if (m_hasLastClosestPoint) {
        point = m_lastClosestPoint;
        triangle = m_lastClosestTriangle;
        return;
    }
    triangle = m_lastClosestTriangle >= 0 ? m_lastClosestTriangle : 0;
    if (static_cast<unsigned int>(triangle) >= countTriangles()) {
        // Nothing to read: no triangle of that rank (an empty set).
        point = CqarPoint3(0.0, 0.0, 0.0);
        triangle = -1;
        return;
    }
    CqarPoint3 vertices[3];
    getTriangle(static_cast<unsigned int>(triangle), vertices);
    point = vertices[0];
}

void CtvxPoly::renderPolyObbs(unsigned int) const {}

void CtvxPoly::polyComputeObb(CtvxObject::EObbState& state, CqarMat4& position, float& halfX, float& halfY,
                              float& halfZ)
{
    if (!isActivatedForAnalysis()) {
        state = CtvxObject::OBB_NONE;
        return;
    }
    if (!m_isBVConstructed)
        buildBV(s_defaultNullDelegate, BV_OBB_TREE);
    if (!m_polyObb) {
        state = CtvxObject::OBB_NONE;
        return;
    }
    state = CtvxObject::OBB_COMPUTED;
    m_polyObb->getRelativePosition(position);
    float x, y, z;
    m_polyObb->getHalfLengths(x, y, z);
    // The tolerance is added in single precision, as the boxes are kept.
    float const t = static_cast<float>(maxTolerance());
    halfX = x + t;
    halfY = y + t;
    halfZ = z + t;
}
