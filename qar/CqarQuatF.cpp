#include <qar/CqarQuatF.h>

#include <qar/CqarMat4.h>

#include <cmath>

CqarQuatF::CqarQuatF() : m_q{1.0f, 0.0f, 0.0f, 0.0f} {}

CqarQuatF::CqarQuatF(float w, float x, float y, float z) : m_q{w, x, y, z} {}

CqarQuatF::CqarQuatF(CqarMat4 const& m)
{
    // Shepperd's choice of pivot: take the square root of the largest of
    // 1 + trace and the three 1 + 2 m_ii - trace, so the division below is
    // never by a small number, whatever the rotation.
    double const m00 = m(0, 0), m11 = m(1, 1), m22 = m(2, 2);
    double const tr = m00 + m11 + m22;
    double w, x, y, z;
    if (tr >= m00 && tr >= m11 && tr >= m22) {
        double const s = std::sqrt(1.0 + tr) * 2.0;
        w = 0.25 * s;
        x = (m(2, 1) - m(1, 2)) / s;
        y = (m(0, 2) - m(2, 0)) / s;
        z = (m(1, 0) - m(0, 1)) / s;
    } else if (m00 >= m11 && m00 >= m22) {
        double const s = std::sqrt(1.0 + m00 - m11 - m22) * 2.0;
        w = (m(2, 1) - m(1, 2)) / s;
        x = 0.25 * s;
        y = (m(0, 1) + m(1, 0)) / s;
        z = (m(0, 2) + m(2, 0)) / s;
    } else if (m11 >= m22) {
        double const s = std::sqrt(1.0 + m11 - m00 - m22) * 2.0;
        w = (m(0, 2) - m(2, 0)) / s;
        x = (m(0, 1) + m(1, 0)) / s;
        y = 0.25 * s;
        z = (m(1, 2) + m(2, 1)) / s;
    } else {
        double const s = std::sqrt(1.0 + m22 - m00 - m11) * 2.0;
        w = (m(1, 0) - m(0, 1)) / s;
        x = (m(0, 2) + m(2, 0)) / s;
        y = (m(1, 2) + m(2, 1)) / s;
        z = 0.25 * s;
    }
    // Renormalise in double before narrowing: a block that is a rotation
    // only to single precision still gives a unit quaternion.
    double n = std::sqrt(w * w + x * x + y * y + z * z);
    if (!(n > 0.0) || !std::isfinite(n)) {
        m_q[0] = 1.0f;
        m_q[1] = m_q[2] = m_q[3] = 0.0f;
        return;
    }
    if (w < 0.0)
        n = -n;
    m_q[0] = static_cast<float>(w / n);
    m_q[1] = static_cast<float>(x / n);
    m_q[2] = static_cast<float>(y / n);
    m_q[3] = static_cast<float>(z / n);
}
