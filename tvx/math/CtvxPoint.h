#pragma once

#include <tvx/tvxExport.h>

#include <qar/CqarMat4.h>
#include <qar/CqarVect3.h>

// A point of three floats, the element of a polyhedron's point array.
//
// Meshes are stored in single precision to stay compact (12 bytes a point);
// everything that places a point in the world widens it to double first.
// The default constructor leaves the coordinates uninitialised, so that large
// arrays can be sized without being written twice.
class TVX_API CtvxPoint {
public:
    CtvxPoint() {}
    CtvxPoint(float x, float y, float z) : m_x(x), m_y(y), m_z(z) {}
    // Each coordinate narrowed from double.
    explicit CtvxPoint(CqarPoint3 const& p);
    CtvxPoint(CtvxPoint const&) = default;
    CtvxPoint& operator=(CtvxPoint const&) = default;

    float X() const { return m_x; }
    float Y() const { return m_y; }
    float Z() const { return m_z; }
    void X(float x) { m_x = x; }
    void Y(float y) { m_y = y; }
    void Z(float z) { m_z = z; }

    void XYZ(float& x, float& y, float& z) const
    {
        x = m_x;
        y = m_y;
        z = m_z;
    }
    void XYZ(CqarPoint3& p) const;
    void setXYZ(float x, float y, float z)
    {
        m_x = x;
        m_y = y;
        m_z = z;
    }
    void setXYZ(CqarPoint3 const& p);

    // Exact comparison, no tolerance.
    bool operator==(CtvxPoint const& o) const { return m_x == o.m_x && m_y == o.m_y && m_z == o.m_z; }

    // Despite the operand order this is m * p, with translation, computed in
    // double precision from the widened coordinates and narrowed once.
    CtvxPoint operator*(CqarMat4 const& m) const;

private:
    void invariant() const {}

    float m_x;
    float m_y;
    float m_z;
};
