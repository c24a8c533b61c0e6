#include <tvx/math/CtvxPoint.h>

CtvxPoint::CtvxPoint(CqarPoint3 const& p)
    : m_x(static_cast<float>(p[0])), m_y(static_cast<float>(p[1])), m_z(static_cast<float>(p[2]))
{
}

void CtvxPoint::XYZ(CqarPoint3& p) const
{
    p[0] = static_cast<double>(m_x);
    p[1] = static_cast<double>(m_y);
    p[2] = static_cast<double>(m_z);
}

void CtvxPoint::setXYZ(CqarPoint3 const& p)
{
    m_x = static_cast<float>(p[0]);
    m_y = static_cast<float>(p[1]);
    m_z = static_cast<float>(p[2]);
}

CtvxPoint CtvxPoint::operator*(CqarMat4 const& m) const
{
    double const x = m_x, y = m_y, z = m_z;
    double r[3];
    for (int i = 0; i < 3; ++i)
        r[i] = m(i, 0) * x + m(i, 1) * y + m(i, 2) * z + m(i, 3);
    return CtvxPoint(static_cast<float>(r[0]), static_cast<float>(r[1]), static_cast<float>(r[2]));
}

static_assert(sizeof(CtvxPoint) == 12, "a point is three floats, packed");
