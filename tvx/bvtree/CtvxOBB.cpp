#include <tvx/bvtree/CtvxOBB.h>

#include <tvx/bvtree/CtvxHalf.h>
#include <tvx/bvtree/internal/CtvxObbReader.h>
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
    CtvxObbReader::rotation(*this, m);
}

void CtvxOBB::getRelativeTranslations(float& x, float& y, float& z) const
{
    CtvxObbReader::translation(*this, x, y, z);
}

void CtvxOBB::getHalfLengths(float& a, float& b, float& c) const
{
    CtvxObbReader::halfLengths(*this, a, b, c);
}

float CtvxOBB::size() const
{
    return CtvxObbReader::size(*this);
}
