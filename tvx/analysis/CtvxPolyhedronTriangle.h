#pragma once

#include <tvx/tvxExport.h>
#include <tvx/analysis/CtvxGeometrySubElement.h>

#include <qar/CqarVect3.h>

#include <boost/shared_ptr.hpp>
#include <boost/weak_ptr.hpp>

class CtvxPoly;
class CtvxVirtualPolyhedron;

// One triangle of a polyhedron, as a collision result names it.
//
// It holds the polyhedron weakly and the triangle's rank within it, so it
// stays a valid object after the polyhedron is destroyed and then reports
// -1. For a triangle of a regrouped assembly it names the member polyhedron
// and the member's own rank, never the group's. getTriangle() gives the
// vertices in the polyhedron's stored frame, getTriangleAbsolute() in the
// world.
class TVX_API CtvxPolyhedronTriangle : public CtvxGeometrySubElement {
public:
    static boost::shared_ptr<CtvxPolyhedronTriangle> create();
    static boost::shared_ptr<CtvxPolyhedronTriangle> create(boost::shared_ptr<CtvxVirtualPolyhedron> const& p,
                                                            int t);
    // The polyhedron and local rank that the triangle set reports for its
    // triangle of the given rank.
    static boost::shared_ptr<CtvxPolyhedronTriangle> create(boost::shared_ptr<CtvxPoly> const& poly, int rank);

    CtvxPolyhedronTriangle(CtvxPolyhedronTriangle const&) = default;
    CtvxPolyhedronTriangle& operator=(CtvxPolyhedronTriangle const&) = default;
    ~CtvxPolyhedronTriangle() override;

    void polyhedron(boost::shared_ptr<CtvxVirtualPolyhedron> const& p);
    void triangle(int t) { m_triangle = t; }

    int getPolyhedron(boost::shared_ptr<CtvxVirtualPolyhedron>& out) const;
    // t receives the rank; -1 when there is none.
    int getTriangle(int& t) const;
    // The vertices as the polyhedron reads them (its points transform
    // applied). -1 without touching a, b, c when the polyhedron is gone or
    // there is no triangle.
    int getTriangle(CqarPoint3& a, CqarPoint3& b, CqarPoint3& c) const;
    // The vertices in world coordinates. A locked polyhedron lies in a
    // regrouped assembly and its points are in that assembly's frame, so the
    // assembly's placement applies; -1 when there is no unlocked ancestor.
    int getTriangleAbsolute(CqarPoint3& a, CqarPoint3& b, CqarPoint3& c) const;

protected:
    CtvxPolyhedronTriangle();
    void init();
    void init(boost::shared_ptr<CtvxVirtualPolyhedron> const& p, int t);

private:
    void invariant() const {}

    boost::weak_ptr<CtvxVirtualPolyhedron> m_polyhedron;
    int m_triangle;
};
