#pragma once

#include <qar/qarExport.h>
#include <qar/CqarVect3.h>

// A 4x4 double-precision transform of the geometry utility library.
//
// Placements of scene objects, poses of planner bodies and every transform
// that crosses the collision library's interface use this type. Transforms
// act on column vectors (p' = M p) with the translation in column 3, so A*B
// applies B first and a child's world placement is parent * relative.
// Elements are addressed (row, column) from 0; setColumn() counts columns
// from 1, as the host code that uses it does. A default-constructed matrix is
// the identity.
class QAR_API CqarMat4 {
public:
    CqarMat4();
    CqarMat4(CqarMat4 const&) = default;
    CqarMat4& operator=(CqarMat4 const&) = default;
    virtual ~CqarMat4();

    // Resets to the identity and returns the matrix.
    CqarMat4& identity();

    double& operator()(int r, int c) { return m_m[r][c]; }
    double operator()(int r, int c) const { return m_m[r][c]; }

    CqarMat4 operator*(CqarMat4 const& o) const;
    // Point: with the translation.
    CqarPoint3 operator*(CqarPoint3 const& p) const;
    // Vector: without the translation.
    CqarVect3 operator*(CqarVect3 const& v) const;

    // The true inverse. An affine matrix (bottom row exactly 0 0 0 1) is
    // inverted blockwise, so rotations, translations and scales, uniform or
    // not, come back with an exact bottom row; any other matrix goes through
    // Gauss-Jordan elimination with partial pivoting. A singular matrix gives
    // NaN elements rather than a plausible-looking wrong answer.
    CqarMat4 inverse() const;

    // Column c counted from 1 (1..4); values for rows 0 to 3. Columns outside
    // 1..4 are ignored.
    void setColumn(int c, double r0, double r1, double r2, double r3);

private:
    double m_m[4][4];
};
