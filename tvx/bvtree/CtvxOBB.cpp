#include <tvx/bvtree/CtvxOBB.h>

#include <tvx/bvtree/CtvxHalf.h>
#include <tvx/math/CtvxMat4.h>

#include <qar/CqarQuatF.h>

#include <cmath>

void CtvxOBB::relativeRotation(CqarQuatF const& q)
{
    m_rotation[0] = CtvxHalf::fromFloat(q.x());
    m_rotation[1] = CtvxHalf::fromFloat(q.y());
    m_rotation[2] = CtvxHalf::fromFloat(q.z());
    m_rotation[3] = CtvxHalf::fromFloat(q.w());
}

void CtvxOBB::relativeTranslation(float x, float y, float z)
{
    m_translation[0] = CtvxHalf::fromFloat(x);
    m_translation[1] = CtvxHalf::fromFloat(y);
    m_translation[2] = CtvxHalf::fromFloat(z);
}

void CtvxOBB::halfLengths(float a, float b, float c)
{
    m_obbHalfLengths[0] = CtvxHalf::fromFloat(a);
    m_obbHalfLengths[1] = CtvxHalf::fromFloat(b);
    m_obbHalfLengths[2] = CtvxHalf::fromFloat(c);
}

void CtvxOBB::getRelativeRotation(float& x, float& y, float& z, float& w) const
{
    float const qx = CtvxHalf::toFloat(m_rotation[0]);
    float const qy = CtvxHalf::toFloat(m_rotation[1]);
    float const qz = CtvxHalf::toFloat(m_rotation[2]);
    float const qw = CtvxHalf::toFloat(m_rotation[3]);
    float const n = std::sqrt(qx * qx + qy * qy + qz * qz + qw * qw);
    x = qx / n;
    y = qy / n;
    z = qz / n;
    w = qw / n;
}

void CtvxOBB::getRelativeRotation(CtvxMat4& m) const
{
    float const x = CtvxHalf::toFloat(m_rotation[0]);
    float const y = CtvxHalf::toFloat(m_rotation[1]);
    float const z = CtvxHalf::toFloat(m_rotation[2]);
    float const w = CtvxHalf::toFloat(m_rotation[3]);
    // Dividing by |q|^2 rather than normalising q first gives the rotation
    // of the unit quaternion q/|q| without a square root.
    float const s = 1.0f / (x * x + y * y + z * z + w * w);
    float const s2 = 2.0f * s;
    m(0, 0) = 1.0f - s2 * (y * y + z * z);
    m(0, 1) = s2 * (x * y - w * z);
    m(0, 2) = s2 * (x * z + w * y);
    m(0, 3) = 0.0f;
    m(1, 0) = s2 * (x * y + w * z);
    m(1, 1) = 1.0f - s2 * (x * x + z * z);
    m(1, 2) = s2 * (y * z - w * x);
    m(1, 3) = 0.0f;
    m(2, 0) = s2 * (x * z - w * y);
    m(2, 1) = s2 * (y * z + w * x);
    m(2, 2) = 1.0f - s2 * (x * x + y * y);
    m(2, 3) = 0.0f;
    m(3, 0) = 0.0f;
    m(3, 1) = 0.0f;
    m(3, 2) = 0.0f;
    m(3, 3) = 1.0f;
}

void CtvxOBB::getRelativeTranslations(float& x, float& y, float& z) const
{
    x = CtvxHalf::toFloat(m_translation[0]);
    y = CtvxHalf::toFloat(m_translation[1]);
    z = CtvxHalf::toFloat(m_translation[2]);
}

void CtvxOBB::getHalfLengths(float& a, float& b, float& c) const
{
    a = CtvxHalf::toFloat(m_obbHalfLengths[0]);
    b = CtvxHalf::toFloat(m_obbHalfLengths[1]);
    c = CtvxHalf::toFloat(m_obbHalfLengths[2]);
}

float CtvxOBB::size() const
{
    float a, b, c;
    getHalfLengths(a, b, c);
    return a + b + c;
}
