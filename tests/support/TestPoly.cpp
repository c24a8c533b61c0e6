#include <tests/support/TestPoly.h>

#include <tvx/progress/CtvxProgressDelegate.h>

#include <qar/CqarMat4.h>

namespace tvxtest {

boost::shared_ptr<TestPoly> TestPoly::create(Mesh const& mesh)
{
    boost::shared_ptr<TestPoly> poly(new TestPoly(mesh));
    boost::shared_ptr<CtvxPoly> base = poly;
    poly->init(base);
    return poly;
}

TestPoly::TestPoly(Mesh const& mesh) : m_mesh(mesh) {}

unsigned int TestPoly::countTriangles() const
{
    return static_cast<unsigned int>(m_mesh.triangles.size());
}

void TestPoly::getTriangle(unsigned int rank, CqarPoint3* const points) const
{
    ++getTriangleCalls;
    auto const& t = m_mesh.triangles[rank];
    for (int j = 0; j < 3; ++j) {
        auto const& p = m_mesh.points[t[static_cast<std::size_t>(j)]];
        points[j].setValue(p[0], p[1], p[2]);
    }
}

double TestPoly::toleranceForTriangle(unsigned int) const
{
    return m_tolerance;
}

double TestPoly::maxTolerance() const
{
    return m_tolerance;
}

bool TestPoly::isActivatedForAnalysis() const
{
    return m_activated;
}

void TestPoly::getAbsPos(CqarMat4& position)
{
    position.identity();
}

boost::shared_ptr<CtvxObject> TestPoly::obj() const
{
    return boost::shared_ptr<CtvxObject>();
}

void TestPoly::getTriangleInfo(unsigned int, boost::shared_ptr<CtvxVirtualPolyhedron>& polyhedron) const
{
    polyhedron.reset();
}

void TestPoly::getTriangleInfo(unsigned int, boost::shared_ptr<CtvxVirtualPolyhedron>& polyhedron,
                               int& localRank) const
{
    polyhedron.reset();
    localRank = -1;
}

void TestPoly::polyScale(CqarPoint3& centre, double factor)
{
    CqarMat4 m;
    for (int i = 0; i < 3; ++i) {
        m(i, i) = factor;
        m(i, 3) = (1.0 - factor) * centre[i];
    }
    polyTransform(m);
}

void TestPoly::polyTransform(CqarMat4 const& transform)
{
    for (auto& p : m_mesh.points) {
        CqarPoint3 const q = transform * CqarPoint3(p[0], p[1], p[2]);
        p = {q[0], q[1], q[2]};
    }
    if (isBVConstructed()) {
        resetBV();
        buildBV(s_defaultNullDelegate, BV_OBB_TREE);
    }
}

void TestPoly::optimizeMemory()
{
    ++m_optimizeMemoryCalls;
}

void TestPoly::rebuild(boost::shared_ptr<CtvxProgressDelegate> delegate)
{
    resetBV();
    buildBV(delegate, BV_OBB_TREE);
}

} // namespace tvxtest
