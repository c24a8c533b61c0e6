#include <qar/CqarVect3.h>

#include <cmath>

CqarVect3::CqarVect3() : m_v{0.0, 0.0, 0.0} {}
CqarVect3::CqarVect3(double x, double y, double z) : m_v{x, y, z} {}
CqarVect3::~CqarVect3() = default;

void CqarVect3::setValue(double x, double y, double z)
{
    m_v[0] = x;
    m_v[1] = y;
    m_v[2] = z;
}

CqarVect3 CqarVect3::operator+(CqarVect3 const& o) const
{
    return CqarVect3(m_v[0] + o.m_v[0], m_v[1] + o.m_v[1], m_v[2] + o.m_v[2]);
}

CqarVect3 CqarVect3::operator-(CqarVect3 const& o) const
{
    return CqarVect3(m_v[0] - o.m_v[0], m_v[1] - o.m_v[1], m_v[2] - o.m_v[2]);
}

CqarVect3 CqarVect3::operator*(double s) const
{
    return CqarVect3(m_v[0] * s, m_v[1] * s, m_v[2] * s);
}

CqarVect3 CqarVect3::operator*(CqarVect3 const& o) const
{
    return CqarVect3(m_v[1] * o.m_v[2] - m_v[2] * o.m_v[1],
                     m_v[2] * o.m_v[0] - m_v[0] * o.m_v[2],
                     m_v[0] * o.m_v[1] - m_v[1] * o.m_v[0]);
}

double CqarVect3::scalarProduct(CqarVect3 const& o) const
{
    return m_v[0] * o.m_v[0] + m_v[1] * o.m_v[1] + m_v[2] * o.m_v[2];
}

double CqarVect3::norm() const
{
    return std::sqrt(scalarProduct(*this));
}

CqarPoint3::CqarPoint3() = default;
CqarPoint3::CqarPoint3(double x, double y, double z) : CqarVect3(x, y, z) {}
CqarPoint3::CqarPoint3(CqarVect3 const& v) : CqarVect3(v) {}
CqarPoint3::~CqarPoint3() = default;

CqarPoint3& CqarPoint3::operator=(CqarVect3 const& v)
{
    CqarVect3::operator=(v);
    return *this;
}

double CqarPoint3::distanceFrom(CqarPoint3 const& o) const
{
    double const dx = m_v[0] - o.m_v[0];
    double const dy = m_v[1] - o.m_v[1];
    double const dz = m_v[2] - o.m_v[2];
    return std::sqrt(dx * dx + dy * dy + dz * dz);
}
