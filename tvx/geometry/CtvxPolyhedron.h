#pragma once

#include <tvx/tvxExport.h>
#include <tvx/geometry/CtvxVirtualPolyhedron.h>

#include <qar/CqarMat4.h>

#include <boost/shared_ptr.hpp>

#include <string>

class CtvxPolyhedronData;

// The polyhedron leaf: a mesh (CtvxPolyhedronData, possibly shared with
// other polyhedra) seen through a points transform.
//
// Create it with create() (a fresh mesh) or create(data) (a shared one),
// fill it with addPoint and addTriangle, place it, and make it a collision
// entity to build its OBB tree. Every point read through the polyhedron has
// gone through the points transform, and every point added through it goes
// through the inverse first, so a point reads back as it was added (to
// single-precision storage). Regrouping, scaling and transforming change the
// points transform only; the stored floats are never rewritten, which is
// what lets several polyhedra share one mesh. Polyhedra that share a mesh
// and a points transform share its OBB tree too (built once, by the first of
// them made a collision entity); the last-closest hints stay each their own.
// A subclass that changes how triangles are read builds trees of its own.
class TVX_API CtvxPolyhedron : public CtvxVirtualPolyhedron {
public:
    static boost::shared_ptr<CtvxPolyhedron> create();
    static boost::shared_ptr<CtvxPolyhedron> create(boost::shared_ptr<CtvxPolyhedronData>& data);

    ~CtvxPolyhedron() override;

    std::string const& className() const override;

    void addPoint(float x, float y, float z, unsigned int& rank);
    void addPoint(CqarPoint3 const& point, unsigned int& rank);
    void addTriangle(unsigned int p1, unsigned int p2, unsigned int p3, unsigned int& rank);
    void reserveNPoints(unsigned int n);
    void reserveNTriangles(unsigned int n);

    unsigned int countPoints() const override;
    unsigned int countTriangles() const override;
    // The vertices through the points transform. The queries' inner loop:
    // rank must be below countTriangles() and the triangle's points must
    // exist (every rank of a tree qualifies); nothing is checked.
    void getTriangle(unsigned int rank, CqarPoint3* const points) const override;
    // Checked: a rank past the end reads as zeros (and a point past the end
    // as the origin through the points transform).
    void getTriangle(unsigned int rank, unsigned int& p1, unsigned int& p2, unsigned int& p3) const override;
    void getPoint(unsigned int rank, CqarPoint3& point) const override;
    void getPoint(unsigned int rank, float& x, float& y, float& z) const override;
    void movePoints(CqarMat4 const& transform) override;

    // Applies transform (in the polyhedron's frame) to the points and
    // rebuilds the tree at once if one was built. A product that is not a
    // usable points transform (not finite, singular) is refused and logged,
    // here and in movePoints(); the points stay where they were.
    void polyTransform(CqarMat4 const& transform) override;
    // Releases the mesh's spare capacity, only when this polyhedron is the
    // mesh's sole owner (otherwise others may be reading the arrays).
    void optimizeMemory() override;

    boost::shared_ptr<CtvxPolyhedronData> polyData() const { return m_polyData; }
    // Replaces the mesh; an existing tree (its own, or its regrouped
    // assembly's) becomes stale and is rebuilt over the new mesh at its next
    // use.
    void polyData(boost::shared_ptr<CtvxPolyhedronData> const& data);

    void getPointsTransform(CqarMat4& m) const { m = m_pointsTransform; }

protected:
    CtvxPolyhedron();
    void init(boost::shared_ptr<CtvxPolyhedron>& self, boost::shared_ptr<CtvxPolyhedronData> const& data);
    // Adopts the tree of another polyhedron that sees the same mesh through
    // the same points transform, or builds one and leaves it for the others.
    void obtainTree(boost::shared_ptr<CtvxPoly>& self, boost::shared_ptr<CtvxProgressDelegate>& delegate) override;

private:
    // Reads the mesh arrays in place, under the identity flag kept below.
    friend class CtvxDirectMesh;

    // False, changing nothing (logged), when m is not a usable points
    // transform.
    bool setPointsTransform(CqarMat4 const& m);
    void invariant() const {}

    static std::string const m_className;

    boost::shared_ptr<CtvxPolyhedronData> m_polyData;
    CqarMat4 m_pointsTransform;
    CqarMat4 m_inversePointsTransform;
    // Reading vertices is the inner loop of every query; most polyhedra are
    // never moved, and an exact identity lets the product be skipped.
    bool m_pointsTransformIsIdentity = true;
    // The top three rows of m_pointsTransform as plain doubles, so that the
    // product is computed inline, in the utility matrix's order of
    // operations, without building a temporary point per vertex.
    double m_rows[3][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}};
};
