#pragma once

#include <tvx/tvxExport.h>

#include <qar/CqarMat4.h>
#include <qar/CqarQuatF.h>
#include <qar/CqarVect3.h>

#include <iosfwd>

// A 4x4 single-precision transform.
//
// Placements in the scene graph are double precision (CqarMat4); this is the
// compact form in which the box and triangle kernels work. Storage is sixteen
// floats, row-major: element (r, c) is number 4r + c from getAddress().
// Transforms act on column vectors with the translation in column 3, and the
// matrix product composes affinely (bottom rows are never read). Products with
// double-precision points widen every element and sum in double. The
// arithmetic and its order of operations are fixed, because kernel results
// built on it are compared bit for bit; equality and the rigid-transform test
// use an absolute tolerance of 0.001 per element.
class TVX_API CtvxMat4 {
public:
    // Elements uninitialised.
    CtvxMat4() {}
    explicit CtvxMat4(float x);
    explicit CtvxMat4(float (*m)[4]);
    explicit CtvxMat4(CqarMat4 const& m);
    CtvxMat4(CtvxMat4 const&) = default;
    virtual ~CtvxMat4() = default;

    CtvxMat4& operator=(CtvxMat4 const&) = default;
    CtvxMat4& operator=(float const (*m)[4]);
    CtvxMat4& operator=(float x);

    CtvxMat4& identity();
    CtvxMat4& zero();
    CtvxMat4& one();
    // Each of these overwrites the whole matrix; none composes.
    CtvxMat4 const& translate(float x, float y, float z);
    CtvxMat4 const& rotateX(float a);
    CtvxMat4 const& rotateY(float a);
    CtvxMat4 const& rotateZ(float a);
    // Rotation by a radians about (x, y, z); an axis of length 0.001 or less
    // gives the identity.
    CtvxMat4 const& rotate(float x, float y, float z, float a);
    // Unit quaternion to rotation, not normalised. The utility quaternion is
    // read scalar first (w, x, y, z); the four-float form takes it last.
    CtvxMat4 const& fromQuat(CqarQuatF const& q);
    CtvxMat4 const& fromQuat(float x, float y, float z, float w);

    float& operator()(int r, int c) { return m_m[4 * r + c]; }
    float operator()(int r, int c) const { return m_m[4 * r + c]; }
    // Out-of-range indices read 0 and write nothing.
    float getComponent(int r, int c) const;
    void setComponent(int r, int c, float v);
    // Rows and columns counted from 1. setRow ignores rows outside 1..4;
    // setColumn ignores columns outside 1..4 as well.
    void setRow(int row, float a, float b, float c, float d);
    void setColumn(int column, float a, float b, float c, float d);
    void* getAddress() { return m_m; }
    float const* data() const { return m_m; }

    // Affine composition this * b (b applied first); bottom row (0, 0, 0, 1).
    CtvxMat4 operator*(CtvxMat4 const& b) const;
    CqarPoint3 operator*(CqarPoint3 const& p) const;
    CqarVect3 operator*(CqarVect3 const& v) const;
    CtvxMat4 operator+(CtvxMat4 const& b) const;
    CtvxMat4& operator+=(CtvxMat4 const& b);
    CtvxMat4& operator-=(CtvxMat4 const& b);
    CtvxMat4 operator*(float s) const;
    CtvxMat4 operator/(float s) const;
    CtvxMat4 t() const;
    // Inverse of a rigid transform: transposed rotation, -R^T t. Meaningless
    // for anything else; test isTransRot() first when in doubt.
    CtvxMat4 inverse() const;

    // Every element within 0.001 of the other's (a NaN compares unequal).
    bool operator==(CtvxMat4 const& b) const;
    bool operator!=(CtvxMat4 const& b) const { return !(*this == b); }
    // Bottom row (0, 0, 0, 1), orthonormal rows and determinant 1, each to
    // 0.001; the translation is not examined.
    bool isTransRot() const;

    void print(std::ostream& s);

    // Converts to the utility library's double-precision matrix, exactly.
    CqarMat4 toQar() const;

private:
    void invariant() const {}

    static float const Tolerance;
    float m_m[16];
};

// The descent of two trees composes and inverts box placements for every
// pair it visits: these stay inline so that the compiler sees through them.

inline void CtvxMat4::setColumn(int column, float a, float b, float c, float d)
{
    if (column < 1 || column > 4)
        return;
    int const k = column - 1;
    m_m[k] = a;
    m_m[4 + k] = b;
    m_m[8 + k] = c;
    m_m[12 + k] = d;
}

inline CtvxMat4 CtvxMat4::operator*(CtvxMat4 const& b) const
{
    CtvxMat4 res;
    for (int r = 0; r < 3; ++r) {
        float const* const a = m_m + 4 * r;
        for (int c = 0; c < 4; ++c) {
            float v = a[0] * b.m_m[c] + a[1] * b.m_m[4 + c] + a[2] * b.m_m[8 + c];
            if (c == 3)
                v = v + a[3];
            res.m_m[4 * r + c] = v;
        }
    }
    res.m_m[12] = 0.0f;
    res.m_m[13] = 0.0f;
    res.m_m[14] = 0.0f;
    res.m_m[15] = 1.0f;
    return res;
}

inline CtvxMat4 CtvxMat4::inverse() const
{
    CtvxMat4 res;
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            res.m_m[4 * r + c] = m_m[4 * c + r];
    float const t0 = m_m[3], t1 = m_m[7], t2 = m_m[11];
    for (int i = 0; i < 3; ++i) {
        float v = 0.0f;
        v -= m_m[i] * t0;
        v -= m_m[4 + i] * t1;
        v -= m_m[8 + i] * t2;
        res.m_m[4 * i + 3] = v;
    }
    res.m_m[12] = 0.0f;
    res.m_m[13] = 0.0f;
    res.m_m[14] = 0.0f;
    res.m_m[15] = 1.0f;
    return res;
}

