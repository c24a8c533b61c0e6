#pragma once

#include <tvx/tvxExport.h>
#include <tvx/geometry/CtvxPoly.h>
#include <tvx/scene/CtvxGeometry.h>

#include <boost/shared_ptr.hpp>
#include <boost/weak_ptr.hpp>

#include <string>

// A scene-graph leaf whose geometry is a triangle set.
//
// It joins the leaf side (placement, tolerance, activation, enclosing box)
// to the triangle-set side (OBB tree, closest-triangle hint) and implements
// everything that links the two: making the leaf a collision entity builds
// its tree, its enclosing box is the tree's root box thickened by the
// tolerance, scaling and transforming its geometry in world coordinates
// rebuild the tree at once. Storage of points and triangles, and the points
// transform through which they are seen, are left to a subclass such as
// CtvxPolyhedron. While the leaf lies below a regrouped assembly its points
// are expressed in that assembly's frame.
class TVX_API CtvxVirtualPolyhedron : public CtvxGeometry, public CtvxPoly {
public:
    ~CtvxVirtualPolyhedron() override;

    // Object side.
    // Both return -1, changing nothing, when the tree is not built.
    int scale(CqarPoint3& centre, double factor) override;
    int transform(CqarMat4 const& m) override;
    void makeCollisionEntity(boost::shared_ptr<CtvxObject> const& except,
                             boost::shared_ptr<CtvxProgressDelegate>& delegate) override;
    void makeCollisionEntity(boost::shared_ptr<CtvxProgressDelegate>& delegate) override;
    void removeCollisionEntities() override;
    bool areCollisionEntitiesMade() const override;
    std::string const& className() const override;
    void movePointsRecurse(bool toAssemblyFrame, boost::shared_ptr<CtvxAssembly> const& assembly) override;
    void renderObbs(unsigned int) override {}
    void computeObb() override;

    virtual unsigned int countPoints() const = 0;
    using CtvxPoly::getTriangle;
    virtual void getTriangle(unsigned int rank, unsigned int& p1, unsigned int& p2, unsigned int& p3) const = 0;
    virtual void getPoint(unsigned int rank, CqarPoint3& point) const = 0;
    virtual void getPoint(unsigned int rank, float& x, float& y, float& z) const = 0;
    // Re-expresses the points: every point p is seen as transform * p
    // afterwards. Neither the tree nor the box is touched.
    virtual void movePoints(CqarMat4 const& transform) = 0;

    // Triangle-set side.
    double toleranceForTriangle(unsigned int rank) const override;
    double maxTolerance() const override;
    bool isActivatedForAnalysis() const override;
    void getAbsPos(CqarMat4& position) override;
    boost::shared_ptr<CtvxObject> obj() const override;
    void getTriangleInfo(unsigned int rank, boost::shared_ptr<CtvxVirtualPolyhedron>& polyhedron) const override;
    void getTriangleInfo(unsigned int rank, boost::shared_ptr<CtvxVirtualPolyhedron>& polyhedron,
                         int& localRank) const override;
    // Uniform scaling about a point of the polyhedron's own frame.
    void polyScale(CqarPoint3& centre, double factor) override;
    void optimizeMemory() override {}

protected:
    CtvxVirtualPolyhedron();
    void init(boost::shared_ptr<CtvxVirtualPolyhedron>& self);
    // A triangle that names a point past the last (getTriangle's ranks
    // against countPoints()).
    std::string meshFault() const override;

private:
    // A group checks its members' triangles before building over them.
    friend class CtvxPolyhedronGroup;

    void invariant() const {}

    static std::string const m_className;

    boost::weak_ptr<CtvxVirtualPolyhedron> m_virtualPolyhedronWkPtr;
};
