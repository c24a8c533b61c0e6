#include <tvx/math/CtvxMat4.h>

#include <cmath>
#include <ostream>

float const CtvxMat4::Tolerance = 0.001f;

CtvxMat4::CtvxMat4(float x)
{
    *this = x;
}

CtvxMat4::CtvxMat4(float (*m)[4])
{
    *this = m;
}

CtvxMat4::CtvxMat4(CqarMat4 const& m)
{
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            m_m[4 * r + c] = static_cast<float>(m(r, c));
}


CtvxMat4& CtvxMat4::operator=(float const (*m)[4])
{
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            m_m[4 * r + c] = m[r][c];
    return *this;
}

CtvxMat4& CtvxMat4::operator=(float x)
{
    for (float& e : m_m)
        e = x;
    return *this;
}

CtvxMat4& CtvxMat4::identity()
{
    for (int i = 0; i < 16; ++i)
        m_m[i] = (i % 5 == 0) ? 1.0f : 0.0f;
    return *this;
}

CtvxMat4& CtvxMat4::zero()
{
    return *this = 0.0f;
}

CtvxMat4& CtvxMat4::one()
{
    return *this = 1.0f;
}

CtvxMat4 const& CtvxMat4::translate(float x, float y, float z)
{
    identity();
    m_m[3] = x;
    m_m[7] = y;
    m_m[11] = z;
    return *this;
}

CtvxMat4 const& CtvxMat4::rotateX(float a)
{
    float const c = std::cos(a), s = std::sin(a);
    identity();
    (*this)(1, 1) = c;
    (*this)(1, 2) = -s;
    (*this)(2, 1) = s;
    (*this)(2, 2) = c;
    return *this;
}

CtvxMat4 const& CtvxMat4::rotateY(float a)
{
    float const c = std::cos(a), s = std::sin(a);
    identity();
    (*this)(0, 0) = c;
    (*this)(0, 2) = s;
    (*this)(2, 0) = -s;
    (*this)(2, 2) = c;
    return *this;
}

CtvxMat4 const& CtvxMat4::rotateZ(float a)
{
    float const c = std::cos(a), s = std::sin(a);
    identity();
    (*this)(0, 0) = c;
    (*this)(0, 1) = -s;
    (*this)(1, 0) = s;
    (*this)(1, 1) = c;
    return *this;
}

CtvxMat4 const& CtvxMat4::rotate(float x, float y, float z, float a)
{
    zero();
    float const d = std::sqrt(x * x + y * y + z * z);
    if (d > Tolerance) {
        float const inv = 1.0f / d;
        x = x * inv;
        y = y * inv;
        z = z * inv;
        float const s = std::sin(a), c = std::cos(a), f = 1.0f - c;
        (*this)(0, 0) = x * x * f + c;
        (*this)(0, 1) = x * y * f - z * s;
        (*this)(0, 2) = x * z * f + y * s;
        (*this)(1, 0) = x * y * f + z * s;
        (*this)(1, 1) = y * y * f + c;
        (*this)(1, 2) = y * z * f - x * s;
        (*this)(2, 0) = x * z * f - y * s;
        (*this)(2, 1) = y * z * f + x * s;
        (*this)(2, 2) = z * z * f + c;
        (*this)(3, 3) = 1.0f;
    } else {
        identity();
    }
    return *this;
}

CtvxMat4 const& CtvxMat4::fromQuat(CqarQuatF const& q)
{
    float const* const wxyz = q.data();
    return fromQuat(wxyz[1], wxyz[2], wxyz[3], wxyz[0]);
}

CtvxMat4 const& CtvxMat4::fromQuat(float x, float y, float z, float w)
{
    (*this)(0, 0) = 1.0f - 2.0f * y * y - 2.0f * z * z;
    (*this)(0, 1) = 2.0f * x * y - 2.0f * w * z;
    (*this)(0, 2) = 2.0f * x * z + 2.0f * w * y;
    (*this)(1, 0) = 2.0f * x * y + 2.0f * w * z;
    (*this)(1, 1) = 1.0f - 2.0f * x * x - 2.0f * z * z;
    (*this)(1, 2) = 2.0f * y * z - 2.0f * w * x;
    (*this)(2, 0) = 2.0f * x * z - 2.0f * w * y;
    (*this)(2, 1) = 2.0f * y * z + 2.0f * w * x;
    (*this)(2, 2) = 1.0f - 2.0f * x * x - 2.0f * y * y;
    (*this)(0, 3) = 0.0f;
    (*this)(1, 3) = 0.0f;
    (*this)(2, 3) = 0.0f;
    (*this)(3, 0) = 0.0f;
    (*this)(3, 1) = 0.0f;
    (*this)(3, 2) = 0.0f;
    (*this)(3, 3) = 1.0f;
    return *this;
}

float CtvxMat4::getComponent(int r, int c) const
{
    if (r < 0 || r > 3 || c < 0 || c > 3)
        return 0.0f;
    return m_m[4 * r + c];
}

void CtvxMat4::setComponent(int r, int c, float v)
{
    if (r < 0 || r > 3 || c < 0 || c > 3)
        return;
    m_m[4 * r + c] = v;
}

void CtvxMat4::setRow(int row, float a, float b, float c, float d)
{
    if (row < 1 || row > 4)
        return;
    float* const e = m_m + 4 * (row - 1);
    e[0] = a;
    e[1] = b;
    e[2] = c;
    e[3] = d;
}



CqarPoint3 CtvxMat4::operator*(CqarPoint3 const& p) const
{
    CqarPoint3 res;
    for (int i = 0; i < 3; ++i) {
        float const* const a = m_m + 4 * i;
        res[i] = static_cast<double>(a[0]) * p[0] + static_cast<double>(a[1]) * p[1] +
                 static_cast<double>(a[2]) * p[2] + static_cast<double>(a[3]);
    }
    return res;
}

CqarVect3 CtvxMat4::operator*(CqarVect3 const& v) const
{
    CqarVect3 res;
    for (int i = 0; i < 3; ++i) {
        float const* const a = m_m + 4 * i;
        res[i] = static_cast<double>(a[0]) * v[0] + static_cast<double>(a[1]) * v[1] +
                 static_cast<double>(a[2]) * v[2];
    }
    return res;
}

CtvxMat4 CtvxMat4::operator+(CtvxMat4 const& b) const
{
    CtvxMat4 res(*this);
    res += b;
    return res;
}

CtvxMat4& CtvxMat4::operator+=(CtvxMat4 const& b)
{
    for (int i = 0; i < 16; ++i)
        m_m[i] += b.m_m[i];
    return *this;
}

CtvxMat4& CtvxMat4::operator-=(CtvxMat4 const& b)
{
    for (int i = 0; i < 16; ++i)
        m_m[i] -= b.m_m[i];
    return *this;
}

CtvxMat4 CtvxMat4::operator*(float s) const
{
    CtvxMat4 res;
    for (int i = 0; i < 16; ++i)
        res.m_m[i] = m_m[i] * s;
    return res;
}

CtvxMat4 CtvxMat4::operator/(float s) const
{
    float const inv = 1.0f / s;
    return *this * inv;
}

CtvxMat4 CtvxMat4::t() const
{
    CtvxMat4 res;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            res.m_m[4 * c + r] = m_m[4 * r + c];
    return res;
}


bool CtvxMat4::operator==(CtvxMat4 const& b) const
{
    for (int i = 0; i < 16; ++i) {
        if (!(b.m_m[i] - Tolerance <= m_m[i] && m_m[i] <= b.m_m[i] + Tolerance))
            return false;
    }
    return true;
}

bool CtvxMat4::isTransRot() const
{
    double const tol = 0.001;
    if (!(std::fabs(static_cast<double>(m_m[12])) <= tol && std::fabs(static_cast<double>(m_m[13])) <= tol &&
          std::fabs(static_cast<double>(m_m[14])) <= tol && std::fabs(static_cast<double>(m_m[15]) - 1.0) <= tol))
        return false;
    float const* const r0 = m_m;
    float const* const r1 = m_m + 4;
    float const* const r2 = m_m + 8;
    for (float const* r : {r0, r1, r2}) {
        float const sq = r[0] * r[0] + r[1] * r[1] + r[2] * r[2];
        if (!(std::fabs(static_cast<double>(sq) - 1.0) <= tol))
            return false;
    }
    float const d01 = r0[0] * r1[0] + r0[1] * r1[1] + r0[2] * r1[2];
    float const d02 = r0[0] * r2[0] + r0[1] * r2[1] + r0[2] * r2[2];
    float const d12 = r1[0] * r2[0] + r1[1] * r2[1] + r1[2] * r2[2];
    if (!(std::fabs(d01) <= Tolerance && std::fabs(d02) <= Tolerance && std::fabs(d12) <= Tolerance))
        return false;
    float const det = r0[0] * r1[1] * r2[2] + r0[1] * r1[2] * r2[0] + r0[2] * r1[0] * r2[1] -
                      r0[2] * r1[1] * r2[0] - r0[1] * r1[0] * r2[2] - r0[0] * r1[2] * r2[1];
    if (!(std::fabs(static_cast<double>(det) - 1.0) <= tol))
        return false;
    return true;
}

void CtvxMat4::print(std::ostream& s)
{
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c)
            s << m_m[4 * r + c] << " ";
        s << std::endl;
    }
}

CqarMat4 CtvxMat4::toQar() const
{
    CqarMat4 res;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            res(r, c) = static_cast<double>(m_m[4 * r + c]);
    return res;
}
