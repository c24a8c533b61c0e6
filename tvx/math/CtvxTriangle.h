#pragma once

#include <tvx/tvxExport.h>

// A triangle as three point ranks, the element of a polyhedron's triangle
// array (12 bytes). The ranks index the point array of the data that holds
// the triangle; they are not checked against it. The default constructor
// leaves them uninitialised.
class TVX_API CtvxTriangle {
public:
    CtvxTriangle() {}
    CtvxTriangle(unsigned a, unsigned b, unsigned c) : m_p1(a), m_p2(b), m_p3(c) {}
    CtvxTriangle(CtvxTriangle const&) = default;
    CtvxTriangle& operator=(CtvxTriangle const&) = default;
    ~CtvxTriangle() {}

    void getPoint1(unsigned& p) const { p = m_p1; }
    void getPoint2(unsigned& p) const { p = m_p2; }
    void getPoint3(unsigned& p) const { p = m_p3; }
    void getPoints(unsigned& a, unsigned& b, unsigned& c) const
    {
        a = m_p1;
        b = m_p2;
        c = m_p3;
    }
    void point1(unsigned p) { m_p1 = p; }
    void point2(unsigned p) { m_p2 = p; }
    void point3(unsigned p) { m_p3 = p; }
    void points(unsigned a, unsigned b, unsigned c)
    {
        m_p1 = a;
        m_p2 = b;
        m_p3 = c;
    }

private:
    void invariant() const {}

    unsigned m_p1;
    unsigned m_p2;
    unsigned m_p3;
};
