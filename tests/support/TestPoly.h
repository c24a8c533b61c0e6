#pragma once

#include <tests/support/Meshes.h>

#include <tvx/geometry/CtvxPoly.h>

#include <boost/shared_ptr.hpp>

namespace tvxtest {

// A triangle set over a Mesh, for tests of the tree and its builder without
// the scene graph: vertices come straight from the mesh in double, there is
// no scene object behind it (obj() is empty, getTriangleInfo gives nothing
// and -1), the absolute position is the identity and one tolerance applies to
// every triangle. polyScale/polyTransform move the points and rebuild a built
// tree silently, as real sets do. It counts the calls the builder makes.
class TestPoly : public CtvxPoly {
public:
    static boost::shared_ptr<TestPoly> create(Mesh const& mesh);

    unsigned int countTriangles() const override;
    void getTriangle(unsigned int rank, CqarPoint3* const points) const override;
    double toleranceForTriangle(unsigned int rank) const override;
    double maxTolerance() const override;
    bool isActivatedForAnalysis() const override;
    void getAbsPos(CqarMat4& position) override;
    boost::shared_ptr<CtvxObject> obj() const override;
    void getTriangleInfo(unsigned int rank, boost::shared_ptr<CtvxVirtualPolyhedron>& polyhedron) const override;
    void getTriangleInfo(unsigned int rank, boost::shared_ptr<CtvxVirtualPolyhedron>& polyhedron,
                         int& localRank) const override;
    void polyScale(CqarPoint3& centre, double factor) override;
    void polyTransform(CqarMat4 const& transform) override;
    void optimizeMemory() override;

    void tolerance(double t) { m_tolerance = t; }
    void activated(bool a) { m_activated = a; }
    Mesh& mesh() { return m_mesh; }
    Mesh const& mesh() const { return m_mesh; }
    int optimizeMemoryCalls() const { return m_optimizeMemoryCalls; }
    mutable long long getTriangleCalls = 0;

    // Drop the tree and build it again (with a delegate, possibly empty).
    void rebuild(boost::shared_ptr<CtvxProgressDelegate> delegate = boost::shared_ptr<CtvxProgressDelegate>());

protected:
    explicit TestPoly(Mesh const& mesh);

private:
    Mesh m_mesh;
    double m_tolerance = 0.0;
    bool m_activated = true;
    int m_optimizeMemoryCalls = 0;
};

} // namespace tvxtest
