#include <qar/CqarMat4.h>

#include <cmath>
#include <limits>
#include <utility>

CqarMat4::CqarMat4()
{
    identity();
}

CqarMat4::~CqarMat4() = default;

CqarMat4& CqarMat4::identity()
{
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            m_m[r][c] = (r == c) ? 1.0 : 0.0;
    return *this;
}

CqarMat4 CqarMat4::operator*(CqarMat4 const& o) const
{
    CqarMat4 res;
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            double s = 0.0;
            for (int k = 0; k < 4; ++k)
                s += m_m[r][k] * o.m_m[k][c];
            res.m_m[r][c] = s;
        }
    }
    return res;
}

CqarPoint3 CqarMat4::operator*(CqarPoint3 const& p) const
{
    CqarPoint3 res;
    for (int i = 0; i < 3; ++i)
        res[i] = m_m[i][0] * p[0] + m_m[i][1] * p[1] + m_m[i][2] * p[2] + m_m[i][3];
    return res;
}

CqarVect3 CqarMat4::operator*(CqarVect3 const& v) const
{
    CqarVect3 res;
    for (int i = 0; i < 3; ++i)
        res[i] = m_m[i][0] * v[0] + m_m[i][1] * v[1] + m_m[i][2] * v[2];
    return res;
}

void CqarMat4::setColumn(int c, double r0, double r1, double r2, double r3)
{
    if (c < 1 || c > 4)
        return;
    m_m[0][c - 1] = r0;
    m_m[1][c - 1] = r1;
    m_m[2][c - 1] = r2;
    m_m[3][c - 1] = r3;
}

namespace {

CqarMat4 nanMatrix()
{
    CqarMat4 res;
    double const nan = std::numeric_limits<double>::quiet_NaN();
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            res(r, c) = nan;
    return res;
}

} // namespace

CqarMat4 CqarMat4::inverse() const
{
    bool const affine = m_m[3][0] == 0.0 && m_m[3][1] == 0.0 && m_m[3][2] == 0.0 && m_m[3][3] == 1.0;
    if (affine) {
        // Adjugate over determinant: exact structure, no pivoting needed for
        // the well-conditioned blocks placements are made of.
        double const (&a)[4][4] = m_m;
        double const c00 = a[1][1] * a[2][2] - a[1][2] * a[2][1];
        double const c01 = a[1][2] * a[2][0] - a[1][0] * a[2][2];
        double const c02 = a[1][0] * a[2][1] - a[1][1] * a[2][0];
        double const det = a[0][0] * c00 + a[0][1] * c01 + a[0][2] * c02;
        if (det == 0.0 || !std::isfinite(det))
            return nanMatrix();
        double const inv = 1.0 / det;
        CqarMat4 res;
        res.m_m[0][0] = c00 * inv;
        res.m_m[1][0] = c01 * inv;
        res.m_m[2][0] = c02 * inv;
        res.m_m[0][1] = (a[0][2] * a[2][1] - a[0][1] * a[2][2]) * inv;
        res.m_m[1][1] = (a[0][0] * a[2][2] - a[0][2] * a[2][0]) * inv;
        res.m_m[2][1] = (a[0][1] * a[2][0] - a[0][0] * a[2][1]) * inv;
        res.m_m[0][2] = (a[0][1] * a[1][2] - a[0][2] * a[1][1]) * inv;
        res.m_m[1][2] = (a[0][2] * a[1][0] - a[0][0] * a[1][2]) * inv;
        res.m_m[2][2] = (a[0][0] * a[1][1] - a[0][1] * a[1][0]) * inv;
        for (int i = 0; i < 3; ++i) {
            res.m_m[i][3] = -(res.m_m[i][0] * a[0][3] + res.m_m[i][1] * a[1][3] + res.m_m[i][2] * a[2][3]);
        }
        return res;
    }

    double w[4][8];
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            w[r][c] = m_m[r][c];
            w[r][c + 4] = (r == c) ? 1.0 : 0.0;
        }
    }
    for (int col = 0; col < 4; ++col) {
        int piv = col;
        for (int r = col + 1; r < 4; ++r)
            if (std::fabs(w[r][col]) > std::fabs(w[piv][col]))
                piv = r;
        if (w[piv][col] == 0.0 || !std::isfinite(w[piv][col]))
            return nanMatrix();
        if (piv != col)
            for (int c = 0; c < 8; ++c)
                std::swap(w[piv][c], w[col][c]);
        double const d = 1.0 / w[col][col];
        for (int c = 0; c < 8; ++c)
            w[col][c] *= d;
        for (int r = 0; r < 4; ++r) {
            if (r == col)
                continue;
            double const f = w[r][col];
            if (f == 0.0)
                continue;
            for (int c = 0; c < 8; ++c)
                w[r][c] -= f * w[col][c];
        }
    }
    CqarMat4 res;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            res.m_m[r][c] = w[r][c + 4];
    return res;
}
