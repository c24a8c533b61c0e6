#include <tvx/bvtree/internal/CtvxObbRoundingMend.h>

#include <tvx/bvtree/CtvxHalf.h>
#include <tvx/bvtree/CtvxOBB.h>
#include <tvx/bvtree/CtvxPolyhedronOBBTree.h>
#include <tvx/math/CtvxMat4.h>
#include <tvx/scene/CtvxObjectOBB.h>

#include <qar/CqarMat4.h>

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace {

// Margin kept beyond exact containment, relative to the box's reach
// (distance of its centre from the origin plus its largest half length):
// absorbs the float rounding of a kernel that maps a vertex into the box
// frame (a few ulps of that reach) and the narrowing of double vertices to
// float in the build.
double const kMendMargin = 1.0 / 1048576.0; // 2^-20

// The smallest stored half length h' >= needed as the queries decode it.
std::uint16_t roundedUpHalf(CtvxPolyhedronOBBTree const& tree, double needed)
{
    std::uint16_t h = CtvxHalf::fromFloatUp(tree.convertToScaledFloat(static_cast<float>(needed)));
    while (h < 0x7C00u && static_cast<double>(tree.convertFromScaledFloat(CtvxHalf::toFloat(h))) < needed)
        ++h;
    return h;
}

} // namespace

void CtvxObbRoundingMend::begin(CtvxOBB const& box, CtvxPolyhedronOBBTree const& tree)
{
    // Decoded exactly as a query decodes it: rotation from the normalised
    // stored quaternion, centre through the tree's scale.
    CtvxMat4 R;
    box.getRelativeRotation(R);
    float cs[3];
    box.getRelativeTranslations(cs[0], cs[1], cs[2]);
    double c[3], r[3][3];
    for (int i = 0; i < 3; ++i) {
        c[i] = static_cast<double>(tree.convertFromScaledFloat(cs[i]));
        for (int k = 0; k < 3; ++k)
            r[i][k] = static_cast<double>(R(i, k));
    }
    begin(r, c);
}

void CtvxObbRoundingMend::begin(CtvxObjectOBB const& box)
{
    CqarMat4 P;
    box.getRelativePosition(P);
    double c[3], r[3][3];
    for (int i = 0; i < 3; ++i) {
        c[i] = P(i, 3);
        for (int k = 0; k < 3; ++k)
            r[i][k] = P(i, k);
    }
    begin(r, c);
}

void CtvxObbRoundingMend::begin(double const (*r)[3], double const* c)
{
    for (int i = 0; i < 3; ++i) {
        m_c[i] = c[i];
        m_r01[i] = tvx_lanes::Double2::set(r[i][0], r[i][1]);
        m_r2[i] = tvx_lanes::Double2::set(r[i][2], 0.0);
    }
    m_e01 = m_e2 = tvx_lanes::Double2::broadcast(0.0);
}

void CtvxObbRoundingMend::needed(double* out) const
{
    double e01[2], e2[2];
    m_e01.store(e01);
    m_e2.store(e2);
    double const e[3] = {e01[0], e01[1], e2[0]};
    double const reach = std::max(std::fabs(m_c[0]), std::max(std::fabs(m_c[1]), std::fabs(m_c[2]))) +
                         std::max(e[0], std::max(e[1], e[2]));
    for (int k = 0; k < 3; ++k)
        out[k] = e[k] + kMendMargin * reach;
}

void CtvxObbRoundingMend::finish(CtvxOBB& box, CtvxPolyhedronOBBTree const& tree) const
{
    double need[3];
    needed(need);
    float hs[3];
    box.getHalfLengths(hs[0], hs[1], hs[2]);
    for (int k = 0; k < 3; ++k)
        if (static_cast<double>(tree.convertFromScaledFloat(hs[k])) < need[k])
            box.m_obbHalfLengths[k] = std::max(box.m_obbHalfLengths[k], roundedUpHalf(tree, need[k]));
}

void CtvxObbRoundingMend::finish(CtvxObjectOBB& box) const
{
    double need[3];
    needed(need);
    float h[3];
    box.getHalfLengths(h[0], h[1], h[2]);
    for (int k = 0; k < 3; ++k)
        if (static_cast<double>(h[k]) < need[k]) {
            float up = static_cast<float>(need[k]);
            if (static_cast<double>(up) < need[k])
                up = std::nextafter(up, HUGE_VALF);
            h[k] = up;
        }
    box.halfLengths(h[0], h[1], h[2]);
}
