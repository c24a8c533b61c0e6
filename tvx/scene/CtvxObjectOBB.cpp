#include <tvx/scene/CtvxObjectOBB.h>

#include <tvx/bvtree/CtvxHalf.h>
#include <tvx/bvtree/CtvxOBB.h>
#include <tvx/math/CtvxMat4.h>

#include <cmath>

CtvxObjectOBB::CtvxObjectOBB() : m_halfLengths{0.0f, 0.0f, 0.0f} {}

CtvxObjectOBB::CtvxObjectOBB(CtvxOBB& obb, double scale)
{
    float x = CtvxHalf::toFloat(obb.m_rotation[0]);
    float y = CtvxHalf::toFloat(obb.m_rotation[1]);
    float z = CtvxHalf::toFloat(obb.m_rotation[2]);
    float w = CtvxHalf::toFloat(obb.m_rotation[3]);
    // The stored quaternion is unit length only to binary16 precision.
    float const inverseNorm = 1.0f / std::sqrt(x * x + y * y + z * z + w * w);
    x *= inverseNorm;
    y *= inverseNorm;
    z *= inverseNorm;
    w *= inverseNorm;

    CtvxMat4 m;
    m.fromQuat(x, y, z, w);
    float cx, cy, cz;
    obb.getRelativeTranslations(cx, cy, cz);
    double const k = 1.0 / scale;
    m.setColumn(4, static_cast<float>(cx * k), static_cast<float>(cy * k), static_cast<float>(cz * k), 1.0f);
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            m_relativePosition(r, c) = static_cast<double>(m(r, c));

    float const inverseScale = 1.0f / static_cast<float>(scale);
    float a, b, c;
    obb.getHalfLengths(a, b, c);
    m_halfLengths[0] = a * inverseScale;
    m_halfLengths[1] = b * inverseScale;
    m_halfLengths[2] = c * inverseScale;
}

void CtvxObjectOBB::halfLengths(float x, float y, float z)
{
    m_halfLengths[0] = x;
    m_halfLengths[1] = y;
    m_halfLengths[2] = z;
}

void CtvxObjectOBB::getHalfLengths(float& x, float& y, float& z) const
{
    x = m_halfLengths[0];
    y = m_halfLengths[1];
    z = m_halfLengths[2];
}

float CtvxObjectOBB::size() const
{
    return m_halfLengths[0] + m_halfLengths[1] + m_halfLengths[2];
}
