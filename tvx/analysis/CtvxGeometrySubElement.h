#pragma once

#include <tvx/tvxExport.h>

// A piece of a geometry named by a query result.
//
// Collision results list pairs of sub-elements, one on each object; in this
// library every sub-element is a triangle of a polyhedron
// (CtvxPolyhedronTriangle), which a host reaches with a dynamic cast of the
// shared pointer. The base carries no data.
class TVX_API CtvxGeometrySubElement {
public:
    CtvxGeometrySubElement() = default;
    CtvxGeometrySubElement(CtvxGeometrySubElement const&) = default;
    CtvxGeometrySubElement& operator=(CtvxGeometrySubElement const&) = default;
    virtual ~CtvxGeometrySubElement();
};
