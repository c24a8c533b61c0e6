#include <tvx/scene/CtvxPolyhedronGroup.h>

#include <tvx/geometry/CtvxPolyhedron.h>
#include <tvx/geometry/CtvxPolyhedronData.h>
#include <tvx/geometry/CtvxVirtualPolyhedron.h>
#include <tvx/progress/CtvxProgressDelegate.h>
#include <tvx/scene/CtvxAssembly.h>

#include <boost/pointer_cast.hpp>

#include <string>
#include <typeinfo>
#include <utility>

boost::shared_ptr<CtvxPolyhedronGroup> CtvxPolyhedronGroup::create(boost::shared_ptr<CtvxAssembly>& assembly)
{
    boost::shared_ptr<CtvxPolyhedronGroup> g(new CtvxPolyhedronGroup());
    g->init(g, assembly);
    return g;
}

CtvxPolyhedronGroup::CtvxPolyhedronGroup() = default;
CtvxPolyhedronGroup::~CtvxPolyhedronGroup() = default;

void CtvxPolyhedronGroup::init(boost::shared_ptr<CtvxPolyhedronGroup>& self, boost::shared_ptr<CtvxAssembly>& assembly)
{
    m_assembly = assembly;
    m_maxTolerance = 0.0;
    m_isActivatedForAnalysis = true;
    boost::shared_ptr<CtvxPoly> poly = self;
    CtvxPoly::init(poly);

    if (assembly)
        gather(*assembly);
    std::size_t total = 0;
    for (auto const& p : m_polyhedra)
        total += p->countTriangles();
    m_triangles.resize(total);
    std::size_t rank = 0;
    m_allPlainPolyhedra = true;
    for (auto const& p : m_polyhedra) {
        CtvxVirtualPolyhedron const& member = *p;
        if (typeid(member) != typeid(CtvxPolyhedron))
            m_allPlainPolyhedra = false;
        unsigned int const n = p->countTriangles();
        for (unsigned int k = 0; k < n; ++k, ++rank) {
            m_triangles[rank].polyhedron = p;
            m_triangles[rank].localRank = static_cast<int>(k);
        }
    }
    updateMaxTolerance();
}

void CtvxPolyhedronGroup::gather(CtvxAssembly const& a)
{
    // Depth first in child order; sub-assemblies are walked whatever their
    // activation, deactivated leaves are left out. On an explicit stack: the
    // assembly may be nested to any depth.
    std::vector<std::pair<CtvxAssembly const*, unsigned int>> stack;
    stack.emplace_back(&a, 0u);
    while (!stack.empty()) {
        CtvxAssembly const* const at = stack.back().first;
        unsigned int const next = stack.back().second++;
        if (next >= at->countChildren()) {
            stack.pop_back();
            continue;
        }
        boost::shared_ptr<CtvxObject> const c = at->child(next);
        if (boost::shared_ptr<CtvxAssembly> const sub = boost::dynamic_pointer_cast<CtvxAssembly>(c)) {
            stack.emplace_back(sub.get(), 0u);
        } else if (boost::shared_ptr<CtvxVirtualPolyhedron> const p =
                       boost::dynamic_pointer_cast<CtvxVirtualPolyhedron>(c)) {
            if (p->activation() == CtvxObject::ACTIVATED)
                m_polyhedra.push_back(p);
        }
    }
}

void CtvxPolyhedronGroup::obtainTree(boost::shared_ptr<CtvxPoly>& self,
                                     boost::shared_ptr<CtvxProgressDelegate>& delegate)
{
    // Points or triangles added to a member's mesh, from now on, leave the
    // group's tree stale.
    for (auto const& p : m_polyhedra)
        if (CtvxPolyhedron const* const member = dynamic_cast<CtvxPolyhedron const*>(p.get()))
            if (boost::shared_ptr<CtvxPolyhedronData> const data = member->polyData())
                data->watch(self);
    CtvxPoly::obtainTree(self, delegate);
    // Rebuilt (scaled, transformed) after a member gained triangles, the
    // tree still holds only the triangles of the table: it stays stale, so
    // that the assembly regroups before a query reads it.
    std::size_t rank = 0;
    for (auto const& p : m_polyhedra) {
        std::size_t const first = rank;
        while (rank < m_triangles.size() && m_triangles[rank].polyhedron == p)
            ++rank;
        if (rank - first != p->countTriangles()) {
            markBVStale();
            return;
        }
    }
}

std::string CtvxPolyhedronGroup::meshFault() const
{
    // The table was sized from the members' meshes when the group was made;
    // a member given a smaller mesh since would be read past its end.
    for (std::size_t i = 0, rank = 0; i < m_polyhedra.size(); ++i) {
        CtvxVirtualPolyhedron const& p = *m_polyhedra[i];
        unsigned int const n = p.countTriangles();
        for (; rank < m_triangles.size() && m_triangles[rank].polyhedron.get() == &p; ++rank)
            if (static_cast<unsigned int>(m_triangles[rank].localRank) >= n)
                return "member " + std::to_string(i) + " (" + p.className() + ") has fewer triangles than when the "
                       "assembly was regrouped";
        std::string const fault = p.meshFault();
        if (!fault.empty())
            return "member " + std::to_string(i) + " (" + p.className() + "): " + fault;
    }
    return std::string();
}

void CtvxPolyhedronGroup::getTriangle(unsigned int rank, CqarPoint3* const points) const
{
    CtvxGroupTriangle const& t = m_triangles[rank];
    if (m_allPlainPolyhedra) {
        static_cast<CtvxPolyhedron const*>(t.polyhedron.get())
            ->CtvxPolyhedron::getTriangle(static_cast<unsigned int>(t.localRank), points);
        return;
    }
    t.polyhedron->getTriangle(static_cast<unsigned int>(t.localRank), points);
}

double CtvxPolyhedronGroup::toleranceForTriangle(unsigned int rank) const
{
    return rank < m_triangles.size() ? m_triangles[rank].polyhedron->tolerance() : m_maxTolerance;
}

void CtvxPolyhedronGroup::getAbsPos(CqarMat4& position)
{
    boost::shared_ptr<CtvxAssembly> const a = m_assembly.lock();
    if (a)
        a->getAbsolutePosition(position);
    else
        position.identity();
}

boost::shared_ptr<CtvxObject> CtvxPolyhedronGroup::obj() const
{
    return m_assembly.lock();
}

void CtvxPolyhedronGroup::getTriangleInfo(unsigned int rank, boost::shared_ptr<CtvxVirtualPolyhedron>& polyhedron) const
{
    int localRank = -1;
    getTriangleInfo(rank, polyhedron, localRank);
}

void CtvxPolyhedronGroup::getTriangleInfo(unsigned int rank, boost::shared_ptr<CtvxVirtualPolyhedron>& polyhedron,
                                          int& localRank) const
{
    if (rank >= m_triangles.size()) {
        polyhedron.reset();
        localRank = -1;
        return;
    }
    polyhedron = m_triangles[rank].polyhedron;
    localRank = m_triangles[rank].localRank;
}

void CtvxPolyhedronGroup::rebuildTreeIfBuilt()
{
    if (isBVConstructed()) {
        resetBV();
        buildBV(s_defaultNullDelegate, BV_OBB_TREE);
    }
}

void CtvxPolyhedronGroup::polyScale(CqarPoint3& centre, double factor)
{
    for (auto const& p : m_polyhedra)
        p->polyScale(centre, factor);
    rebuildTreeIfBuilt();
}

void CtvxPolyhedronGroup::polyTransform(CqarMat4 const& transform)
{
    for (auto const& p : m_polyhedra)
        p->polyTransform(transform);
    rebuildTreeIfBuilt();
}

void CtvxPolyhedronGroup::optimizeMemory()
{
    for (auto const& p : m_polyhedra)
        p->optimizeMemory();
}

void CtvxPolyhedronGroup::isActivatedForAnalysis(bool b, bool& changed)
{
    if (b != m_isActivatedForAnalysis)
        changed = true;
    m_isActivatedForAnalysis = b;
}

void CtvxPolyhedronGroup::updateMaxTolerance()
{
    m_maxTolerance = 0.0;
    for (auto const& p : m_polyhedra) {
        if (p->tolerance() > m_maxTolerance)
            m_maxTolerance = p->tolerance();
    }
}
