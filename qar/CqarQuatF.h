#pragma once

#include <qar/qarExport.h>

class CqarMat4;

// A single-precision quaternion of the utility library.
//
// Its storage is four floats in the order w, x, y, z (scalar first); code
// that packs rotations, such as the OBB tree, reads them in that order. It is
// made either from the rotation block of a CqarMat4 or from four floats, also
// given scalar first.
class QAR_API CqarQuatF {
public:
    // The identity rotation (1, 0, 0, 0).
    CqarQuatF();
    CqarQuatF(float w, float x, float y, float z);
    // The unit quaternion of the rotation held in the 3x3 block of m. The
    // block is assumed to be a rotation; the largest of the four candidate
    // pivots is used, so half-turns and near half-turns come out accurate.
    // The result has w >= 0 (q and -q are the same rotation).
    explicit CqarQuatF(CqarMat4 const& m);

    float w() const { return m_q[0]; }
    float x() const { return m_q[1]; }
    float y() const { return m_q[2]; }
    float z() const { return m_q[3]; }
    // The four stored floats, w, x, y, z.
    float const* data() const { return m_q; }

private:
    float m_q[4];
};
