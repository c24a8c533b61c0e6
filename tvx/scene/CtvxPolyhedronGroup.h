#pragma once

#include <tvx/tvxExport.h>
#include <tvx/geometry/CtvxPoly.h>

#include <boost/shared_ptr.hpp>
#include <boost/weak_ptr.hpp>

#include <vector>

class CtvxAssembly;
class CtvxVirtualPolyhedron;

// One triangle of a polyhedron group: the member polyhedron that holds it
// and its rank within that member.
struct TVX_API CtvxGroupTriangle {
    boost::shared_ptr<CtvxVirtualPolyhedron> polyhedron;
    int localRank = 0;
};

// The single triangle set of a regrouped assembly.
//
// When an assembly is made a collision entity, the activated polyhedra below
// it (its members) have their points re-expressed in the assembly's frame and
// this group gathers all their triangles, member after member, so that one
// OBB tree covers them and an analysis treats the assembly like a single
// polyhedron. Group triangle i is entry i of the triangle table, which names
// the member and the member's own triangle rank, so results can still report
// the member. The group is created and owned by its assembly; it shares its
// members with the scene graph and refers to the assembly weakly.
class TVX_API CtvxPolyhedronGroup : public CtvxPoly {
public:
    // Gathers the activated polyhedra below assembly; the tree is not built.
    static boost::shared_ptr<CtvxPolyhedronGroup> create(boost::shared_ptr<CtvxAssembly>& assembly);

    ~CtvxPolyhedronGroup() override;

    unsigned int countTriangles() const override { return static_cast<unsigned int>(m_triangles.size()); }
    // In the assembly's frame. rank must be below countTriangles()
    // (unchecked, the queries' inner loop); the other readers check it.
    void getTriangle(unsigned int rank, CqarPoint3* const points) const override;
    double toleranceForTriangle(unsigned int rank) const override;
    double maxTolerance() const override { return m_maxTolerance; }
    bool isActivatedForAnalysis() const override { return m_isActivatedForAnalysis; }
    // The regrouped assembly's world placement (identity once it is gone).
    void getAbsPos(CqarMat4& position) override;
    boost::shared_ptr<CtvxObject> obj() const override;
    void getTriangleInfo(unsigned int rank, boost::shared_ptr<CtvxVirtualPolyhedron>& polyhedron) const override;
    void getTriangleInfo(unsigned int rank, boost::shared_ptr<CtvxVirtualPolyhedron>& polyhedron,
                         int& localRank) const override;
    // Both pass the change on to every member (arguments in the assembly's
    // frame) and rebuild the group's tree if it was built.
    void polyScale(CqarPoint3& centre, double factor) override;
    void polyTransform(CqarMat4 const& transform) override;
    void optimizeMemory() override;

    // Raises changed (never clears it) when b differs from the current flag.
    void isActivatedForAnalysis(bool b, bool& changed);
    void maxTolerance(double t) { m_maxTolerance = t; }
    // The largest tolerance of all members, activated or not.
    void updateMaxTolerance();

    unsigned int countPolyhedra() const { return static_cast<unsigned int>(m_polyhedra.size()); }
    boost::shared_ptr<CtvxVirtualPolyhedron> polyhedron(unsigned int rank) const { return m_polyhedra[rank]; }

protected:
    CtvxPolyhedronGroup();
    void init(boost::shared_ptr<CtvxPolyhedronGroup>& self, boost::shared_ptr<CtvxAssembly>& assembly);
    // Watches the members' meshes, then builds.
    void obtainTree(boost::shared_ptr<CtvxPoly>& self, boost::shared_ptr<CtvxProgressDelegate>& delegate) override;
    // A member's own fault (see CtvxPolyhedron), or a member that lost
    // triangles since the group was made.
    std::string meshFault() const override;

private:
    void gather(CtvxAssembly const& a);
    void rebuildTreeIfBuilt();
    void invariant() const {}

    std::vector<boost::shared_ptr<CtvxVirtualPolyhedron>> m_polyhedra;
    double m_maxTolerance = 0.0;
    bool m_isActivatedForAnalysis = true;
    std::vector<CtvxGroupTriangle> m_triangles;
    boost::weak_ptr<CtvxAssembly> m_assembly;
    // Every member is a plain CtvxPolyhedron: vertices are then read with a
    // direct call instead of one virtual call per triangle.
    bool m_allPlainPolyhedra = true;
};
