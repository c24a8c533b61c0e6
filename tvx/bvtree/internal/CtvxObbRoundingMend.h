#pragma once

#include <tvx/bvtree/internal/CtvxLanes.h>

class CtvxOBB;
class CtvxObjectOBB;
class CtvxPolyhedronOBBTree;

// The rounding mend: rounds the half lengths of a box up, just enough that
// the box as the queries decode it holds every vertex given to it; axes and
// centre are left alone.
//
// A stored box is binary16, and rounding its centre and quaternion can move
// and turn it by more than the 1 % margin of the fit (a flat box has no
// margin at all across its plane). begin() decodes the box (a tree box
// through its tree's scale, or a set's own box), addTriangle() takes the
// vertices one triangle at a time, in any order, so that a pass that reads
// them for another purpose can mend on the way, and finish() writes the
// enlarged half lengths: rounded up to binary16 for a tree box, to float
// for the set's own box.
class CtvxObbRoundingMend {
public:
    void begin(CtvxOBB const& box, CtvxPolyhedronOBBTree const& tree);
    void begin(CtvxObjectOBB const& box);

    // The nine coordinates of one triangle.
    void addTriangle(float const* v)
    {
        for (int j = 0; j < 3; ++j) {
            // Lane k of a term is r[0][k] * d0 + r[1][k] * d1 + r[2][k] * d2,
            // summed in that order; max(x, e) keeps e when x is NaN.
            tvx_lanes::Double2 const d0 = tvx_lanes::Double2::broadcast(static_cast<double>(v[3 * j]) - m_c[0]);
            tvx_lanes::Double2 const d1 = tvx_lanes::Double2::broadcast(static_cast<double>(v[3 * j + 1]) - m_c[1]);
            tvx_lanes::Double2 const d2 = tvx_lanes::Double2::broadcast(static_cast<double>(v[3 * j + 2]) - m_c[2]);
            m_e01 = max(abs(m_r01[0] * d0 + m_r01[1] * d1 + m_r01[2] * d2), m_e01);
            m_e2 = max(abs(m_r2[0] * d0 + m_r2[1] * d1 + m_r2[2] * d2), m_e2);
        }
    }

    void finish(CtvxOBB& box, CtvxPolyhedronOBBTree const& tree) const;
    void finish(CtvxObjectOBB& box) const;

private:
    void begin(double const (*r)[3], double const* c);
    // The half length each axis needs: the largest distance of a vertex
    // from the centre along it, plus the margin.
    void needed(double* out) const;

    double m_c[3];
    // Rows of the rotation by lanes: (r[i][0], r[i][1]) and (r[i][2], 0).
    tvx_lanes::Double2 m_r01[3];
    tvx_lanes::Double2 m_r2[3];
    // Largest |coordinate| along axes (0, 1) and (2, unused) so far.
    tvx_lanes::Double2 m_e01;
    tvx_lanes::Double2 m_e2;
};
