#include <tvx/geometry/CtvxPoly.h>

#include <tvx/bvtree/CtvxPolyhedronOBBTree.h>
#include <tvx/bvtree/CtvxPolyhedronOBBTreeFactory.h>
#include <tvx/progress/CtvxProgressDelegate.h>
#include <tvx/scene/CtvxObjectOBB.h>
#include <tvx/scene/internal/CtvxInputChecks.h>

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

void CtvxPoly::buildBV(boost::shared_ptr<CtvxProgressDelegate>& delegate, EBVType)
{
    // Held for the whole build: a progress delegate may drop the host's last
    // reference to the set.
    boost::shared_ptr<CtvxPoly> self = m_polyWkPtr.lock();
    // A poly made without its class's create() has no weak pointer to hand
    // to its tree; it stays without one rather than building a tree that
    // cannot find its poly.
    if (!self || m_isBVConstructed)
        return;
    treeChanged();
    m_isBVConstructed = true;
    // Cleared before the triangles are read: a delegate that adds to the
    // mesh during the build leaves the new tree stale.
    m_isBVStale = false;
    m_isBVRefused = false;
    m_isBuildingBV = true;
    try {
        obtainTree(self, delegate);
    } catch (...) {
        // Allocation failure: release the half-built tree and let it pass.
        m_isBuildingBV = false;
        resetBV();
        throw;
    }
    m_isBuildingBV = false;
    treeChanged();
    // Refused, or dropped by the delegate meanwhile: no tree.
    if (!m_bvTree)
        resetBV();
}

void CtvxPoly::obtainTree(boost::shared_ptr<CtvxPoly>& self, boost::shared_ptr<CtvxProgressDelegate>& delegate)
{
    optimizeMemory();
    buildOwnTree(self, delegate);
}

std::string CtvxPoly::meshFault() const
{
    return std::string();
}

bool CtvxPoly::buildOwnTree(boost::shared_ptr<CtvxPoly>& self, boost::shared_ptr<CtvxProgressDelegate>& delegate)
{
    std::string const fault = meshFault();
    if (!fault.empty()) {
        boost::shared_ptr<CtvxObject> const o = obj();
        CtvxInputChecks::refuse(o ? o->className() : std::string("CtvxPoly"), "no OBB tree built: " + fault);
        m_isBVRefused = true;
        treeChanged();
        m_bvTree.reset();
        delete m_polyObb;
        m_polyObb = nullptr;
        return false;
    }
    // Held here for the build, not only by the set: a progress delegate that
    // drops or replaces the set's tree must not free it under the builder.
    boost::shared_ptr<CtvxPolyhedronBVTree> const tree(new CtvxPolyhedronOBBTree(m_polyWkPtr));
    treeChanged();
    m_bvTree = tree;
    boost::shared_ptr<CtvxPolyhedronOBBTreeFactory> factory = CtvxPolyhedronOBBTreeFactory::create();
    factory->build(self, delegate);
    return m_bvTree == tree;
}

void CtvxPoly::adoptTree(boost::shared_ptr<CtvxPolyhedronBVTree> const& tree, CtvxObjectOBB const* box)
{
    CtvxObjectOBB* const copy = box ? new CtvxObjectOBB(*box) : nullptr;
    treeChanged();
    delete m_polyObb;
    m_polyObb = copy;
    m_bvTree = tree;
}

void CtvxPoly::takeBuiltBox(CtvxPolyhedronBVTree const* builtTree, CtvxObjectOBB* box)
{
    // The builder fills a tree in place: a build outside buildBV() changes
    // the tree it hands over too.
    treeChanged();
    if (m_bvTree.get() != builtTree) {
        delete box;
        return;
    }
    delete m_polyObb;
    m_polyObb = box;
}

void CtvxPoly::markBVStale()
{
    m_isBVStale = true;
    // The scene's boxes around the set were fitted to the old triangles:
    // they must be refreshed (which rebuilds the tree) before they prune.
    if (boost::shared_ptr<CtvxObject> const o = obj())
        o->needToRecomputeObb(true);
}

void CtvxPoly::resetBV()
{
    treeChanged();
    m_bvTree.reset();
    delete m_polyObb;
    m_polyObb = nullptr;
    m_isBVConstructed = false;
    // A tree is dropped when the triangles move (a transform, a scaling, a
    // change of frame): a recorded point lay on the old triangles and would
    // hand the next distance query a bound that is not a distance of the
    // new ones. The triangle stays; its first vertex is on the geometry.
    m_hasLastClosestPoint = false;
}

int CtvxPoly::getBoundingVolumes(CtvxPolyhedronBVTree*& tree) const
{
    tree = m_isBuildingBV ? nullptr : m_bvTree.get();
    return tree ? 0 : -1;
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
    if (m_isBVConstructed && m_isBVStale)
        resetBV();
    // A refusal stands (it was logged once) until the triangles change.
    if (!m_isBVConstructed && !(m_isBVRefused && !m_isBVStale))
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
