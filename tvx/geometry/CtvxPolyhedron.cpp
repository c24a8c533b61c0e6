#include <tvx/geometry/CtvxPolyhedron.h>

#include <tvx/geometry/CtvxPolyhedronData.h>
#include <tvx/geometry/internal/CtvxDirectMesh.h>
#include <tvx/geometry/internal/CtvxTreeShelf.h>
#include <tvx/progress/CtvxProgressDelegate.h>
#include <tvx/scene/CtvxAssembly.h>
#include <tvx/scene/CtvxPolyhedronGroup.h>
#include <tvx/scene/internal/CtvxInputChecks.h>

#include <cmath>
#include <mutex>
#include <typeinfo>

std::string const CtvxPolyhedron::m_className = "CtvxPolyhedron";

namespace {

// What the identity's product gives for a stored float: each coordinate
// plus zeros, the last of them the +0 translation, which turns a -0 into +0.
// Adding 0.0 reproduces that bit for bit for every finite coordinate.
inline void widenThroughIdentity(CtvxPoint const& p, CqarPoint3& out)
{
    out[0] = static_cast<double>(p.X()) + 0.0;
    out[1] = static_cast<double>(p.Y()) + 0.0;
    out[2] = static_cast<double>(p.Z()) + 0.0;
}

// rows * p with the translation, summed left to right exactly as the
// utility matrix's point product does, hence to the same bits.
inline void transformPoint(double const (&rows)[3][4], CtvxPoint const& p, CqarPoint3& out)
{
    double const x = p.X(), y = p.Y(), z = p.Z();
    for (int i = 0; i < 3; ++i)
        out[i] = rows[i][0] * x + rows[i][1] * y + rows[i][2] * z + rows[i][3];
}

} // namespace

boost::shared_ptr<CtvxPolyhedron> CtvxPolyhedron::create()
{
    boost::shared_ptr<CtvxPolyhedron> p(new CtvxPolyhedron());
    p->init(p, CtvxPolyhedronData::create());
    return p;
}

boost::shared_ptr<CtvxPolyhedron> CtvxPolyhedron::create(boost::shared_ptr<CtvxPolyhedronData>& data)
{
    boost::shared_ptr<CtvxPolyhedron> p(new CtvxPolyhedron());
    p->init(p, data);
    return p;
}

CtvxPolyhedron::CtvxPolyhedron() = default;
CtvxPolyhedron::~CtvxPolyhedron() = default;

void CtvxPolyhedron::init(boost::shared_ptr<CtvxPolyhedron>& self, boost::shared_ptr<CtvxPolyhedronData> const& data)
{
    m_polyData = data;
    m_pointsTransform.identity();
    m_inversePointsTransform.identity();
    m_pointsTransformIsIdentity = true;
    boost::shared_ptr<CtvxVirtualPolyhedron> vp = self;
    CtvxVirtualPolyhedron::init(vp);
}

std::string const& CtvxPolyhedron::className() const
{
    return m_className;
}

// Without data (created or reset with an empty pointer) the polyhedron is
// empty: it counts nothing and ignores additions, so that building its tree
// or boxes is safe.
void CtvxPolyhedron::addPoint(float x, float y, float z, unsigned int& rank)
{
    CqarPoint3 const p(x, y, z);
    addPoint(p, rank);
}

void CtvxPolyhedron::addPoint(CqarPoint3 const& point, unsigned int& rank)
{
    if (m_polyData)
        m_polyData->addPoint(m_inversePointsTransform * point, rank);
}

void CtvxPolyhedron::addTriangle(unsigned int p1, unsigned int p2, unsigned int p3, unsigned int& rank)
{
    if (m_polyData)
        m_polyData->addTriangle(p1, p2, p3, rank);
}

void CtvxPolyhedron::reserveNPoints(unsigned int n)
{
    if (m_polyData)
        m_polyData->reserveNPoints(n);
}

void CtvxPolyhedron::reserveNTriangles(unsigned int n)
{
    if (m_polyData)
        m_polyData->reserveNTriangles(n);
}

unsigned int CtvxPolyhedron::countPoints() const
{
    return m_polyData ? m_polyData->countPoints() : 0u;
}

unsigned int CtvxPolyhedron::countTriangles() const
{
    return m_polyData ? m_polyData->countTriangles() : 0u;
}

void CtvxPolyhedron::getTriangle(unsigned int rank, CqarPoint3* const points) const
{
    // The inner loop of queries through groups and moved polyhedra, which
    // pass only ranks of their trees (built over triangles whose points all
    // exist): unchecked, as the header says.
    CtvxTriangle const& t = m_polyData->triangles()[rank];
    unsigned int a, b, c;
    t.getPoints(a, b, c);
    CtvxPoint const* const pts = m_polyData->points();
    if (m_pointsTransformIsIdentity) {
        widenThroughIdentity(pts[a], points[0]);
        widenThroughIdentity(pts[b], points[1]);
        widenThroughIdentity(pts[c], points[2]);
        return;
    }
    transformPoint(m_rows, pts[a], points[0]);
    transformPoint(m_rows, pts[b], points[1]);
    transformPoint(m_rows, pts[c], points[2]);
}

void CtvxPolyhedron::getTriangle(unsigned int rank, unsigned int& p1, unsigned int& p2, unsigned int& p3) const
{
    p1 = p2 = p3 = 0;
    if (m_polyData)
        m_polyData->getTriangle(rank, p1, p2, p3);
}

void CtvxPolyhedron::getPoint(unsigned int rank, CqarPoint3& point) const
{
    CtvxPoint const zero(0.0f, 0.0f, 0.0f);
    CtvxPoint const& p = m_polyData && rank < m_polyData->m_points.size() ? m_polyData->m_points[rank] : zero;
    if (m_pointsTransformIsIdentity) {
        widenThroughIdentity(p, point);
        return;
    }
    transformPoint(m_rows, p, point);
}

void CtvxPolyhedron::getPoint(unsigned int rank, float& x, float& y, float& z) const
{
    CqarPoint3 p;
    getPoint(rank, p);
    x = static_cast<float>(p[0]);
    y = static_cast<float>(p[1]);
    z = static_cast<float>(p[2]);
}

bool CtvxPolyhedron::setPointsTransform(CqarMat4 const& m)
{
    if (char const* const fault = CtvxInputChecks::pointsTransformFault(m)) {
        CtvxInputChecks::refuse(className(), std::string("points transform refused: ") + fault);
        return false;
    }
    m_pointsTransform = m;
    m_inversePointsTransform = m.inverse();
    m_pointsTransformIsIdentity = CtvxDirectMesh::actsAsIdentityOnPoints(m_pointsTransform);
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 4; ++c)
            m_rows[r][c] = m_pointsTransform(r, c);
    return true;
}

void CtvxPolyhedron::movePoints(CqarMat4 const& transform)
{
    setPointsTransform(transform * m_pointsTransform);
}

void CtvxPolyhedron::polyTransform(CqarMat4 const& transform)
{
    if (!setPointsTransform(transform * m_pointsTransform))
        return;
    if (isBVConstructed()) {
        resetBV();
        buildBV(s_defaultNullDelegate, BV_OBB_TREE);
        needToRecomputeObb(true);
    }
}

void CtvxPolyhedron::obtainTree(boost::shared_ptr<CtvxPoly>& self,
                                boost::shared_ptr<CtvxProgressDelegate>& delegate)
{
    // Listed before the build, so that points or triangles added from
    // inside it (by the progress delegate) leave the new tree stale.
    if (m_polyData)
        m_polyData->watch(self);
    // A subclass may read its triangles otherwise than through the mesh and
    // the points transform, which is all the shelf's key knows of.
    if (!m_polyData || typeid(*this) != typeid(CtvxPolyhedron)) {
        CtvxPoly::obtainTree(self, delegate);
        return;
    }
    CtvxTreeShelf& shelf = m_polyData->treeShelf();
    std::lock_guard<std::recursive_mutex> const lock(shelf.mutex);
    CtvxTreeShelf::Key const key = CtvxTreeShelf::keyOf(m_polyData->revision(), m_pointsTransform);
    if (CtvxTreeShelf::Entry const* const entry = shelf.find(key)) {
        boost::shared_ptr<CtvxPolyhedronBVTree> const tree = entry->tree.lock();
        if (tree) {
            adoptTree(tree, entry->box.get());
            return;
        }
    }
    optimizeMemory();
    // The mesh, and the shelf locked above, must outlive the build even if
    // the progress delegate gives the polyhedron another mesh meanwhile.
    boost::shared_ptr<CtvxPolyhedronData> const keepMesh = m_polyData;
    if (!buildOwnTree(self, delegate))
        return;
    CtvxTreeShelf::Entry entry;
    entry.key = key;
    entry.tree = sharedTree();
    if (CtvxObjectOBB const* const box = polyObb())
        entry.box.reset(new CtvxObjectOBB(*box));
    shelf.entries.push_back(entry);
}

void CtvxPolyhedron::polyData(boost::shared_ptr<CtvxPolyhedronData> const& data)
{
    if (data == m_polyData)
        return;
    m_polyData = data;
    // A tree over the former mesh would name triangles this one may lack.
    markBVStale();
    // So would the group of the regrouped assembly this leaf belongs to.
    if (isLocked())
        if (boost::shared_ptr<CtvxAssembly> const a = firstUnlockedParent())
            if (boost::shared_ptr<CtvxPolyhedronGroup> const g = a->regroupedPoly())
                g->markBVStale();
}

void CtvxPolyhedron::optimizeMemory()
{
    // Releasing spare capacity moves the arrays, which other polyhedra of
    // the mesh (of other threads, say, or members of a group being built)
    // may be reading: only a sole owner may do it.
    if (m_polyData && m_polyData.use_count() == 1)
        m_polyData->optimizeMemory();
}
