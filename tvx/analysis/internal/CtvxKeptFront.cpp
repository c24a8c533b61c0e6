// The fronts kept between exact clearance queries of the same pair of sets,
// and the pair analysis's two hooks around its nearest-first walk: resume
// from the pair's front when that pays, keep the front the walk stops at.
#include <tvx/analysis/internal/CtvxKeptFront.h>
#include <tvx/analysis/internal/CtvxPairContext.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace {

// A front is resumed only while the motion allowance stays under this share
// of set 2's radius: beyond it nearly every kept bound falls below the
// clearance, and re-testing the whole front costs about what a walk from the
// roots does, which prunes on bounds of the new pose from the start.
float const kResumableShare = 0.125f;

} // namespace

CtvxKeptFront& CtvxKeptFronts::place(boost::shared_ptr<CtvxPoly> const& p1, boost::shared_ptr<CtvxPoly> const& p2)
{
    CtvxKeptFront* oldest = &m_fronts[0];
    for (CtvxKeptFront& f : m_fronts) {
        if (f.holds(p1, p2))
            return f;
        if (f.lastUse < oldest->lastUse)
            oldest = &f;
    }
    oldest->poly1 = p1;
    oldest->poly2 = p2;
    oldest->valid = false;
    oldest->lastUse = ++m_clock;
    return *oldest;
}

float CtvxKeptFronts::motionAllowance(CtvxMat4 const& before, CtvxMat4 const& now, float const (&centre)[3],
                                      float radius)
{
    CtvxFrontMotion motion;
    motion.between(before, now);
    return motion.ofBall(centre, radius);
}

void CtvxFrontMotion::between(CtvxMat4 const& before, CtvxMat4 const& now)
{
    // A point x moves by D x + s, D = L1 - L0 and s = t1 - t0, the
    // differences of floats, exact in double.
    m_shift1 = 0.0;
    m_rows = 0.0;
    for (int i = 0; i < 3; ++i) {
        m_s[i] = double(now(i, 3)) - double(before(i, 3));
        m_shift1 += std::fabs(m_s[i]);
        double row = 0.0;
        for (int j = 0; j < 3; ++j) {
            m_d[i][j] = double(now(i, j)) - double(before(i, j));
            row += std::fabs(m_d[i][j]);
        }
        m_rows = std::max(m_rows, row);
    }
    // The spectral norm squared is the largest eigenvalue of M = D^T D,
    // at most its trace (the Frobenius bound), and at most m + s sqrt(2)
    // for a symmetric 3x3 matrix whose eigenvalues have mean m and
    // standard deviation s (taken from the traces of M and M^2): for the
    // difference of two rotations, whose M has eigenvalues (a, a, 0), that
    // is 4a/3 where the Frobenius bound says 2a.
    double m[3][3];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            m[i][j] = m_d[0][i] * m_d[0][j] + m_d[1][i] * m_d[1][j] + m_d[2][i] * m_d[2][j];
    double const trace = m[0][0] + m[1][1] + m[2][2];
    double squares = 0.0;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            squares += m[i][j] * m[i][j];
    double const mean = trace / 3.0;
    double const spread = std::sqrt(std::max(0.0, squares / 3.0 - mean * mean));
    double const largest = std::min(trace, mean + spread * std::sqrt(2.0));
    // The variance's cancellation errs by a few 2^-53 of the trace squared,
    // which its square root turns into some 2^-25 of the trace: 2^-20 of
    // the trace absorbs it.
    m_norm = std::sqrt(std::min(trace, largest + trace * (1.0 / 1048576.0)));
}

float CtvxFrontMotion::ofBall(float const (&centre)[3], float radius) const
{
    // A point x within radius of centre moves by D (x - centre) + D centre
    // + s: at most the spectral norm of D times the radius, plus the
    // centre's own move; 2^-40 of the whole absorbs the roundings.
    double shift2 = 0.0;
    for (int i = 0; i < 3; ++i) {
        double moved = m_s[i];
        for (int j = 0; j < 3; ++j)
            moved += m_d[i][j] * double(centre[j]);
        shift2 += moved * moved;
    }
    double const delta = std::sqrt(shift2) + m_norm * double(radius);
    float const out = static_cast<float>(delta * (1.0 + 1.0 / 1099511627776.0));
    if (!std::isfinite(out))
        return std::numeric_limits<float>::infinity();
    return std::nextafter(out, std::numeric_limits<float>::infinity());
}

float CtvxFrontMotion::roundedUp(double move, double scale) const
{
    // The move's coordinates are sums of a dozen products no larger than
    // scale (the shift plus the change of the linear part times the node's
    // largest coordinate), each rounded to a few 2^-53 of it: 2^-40 of
    // scale covers them with room, as 2^-40 of the whole covers the square
    // root's rounding. 2^-22 of the result covers the rounding to float
    // (2^-24 of it), and 2^-140 the same below float's normal range.
    double const bound = move * (1.0 + 1.0 / 1099511627776.0) + scale * (1.0 / 1099511627776.0);
    float const out = static_cast<float>(bound * (1.0 + 1.0 / 4194304.0) + 7.175e-43);
    return std::isfinite(out) ? out : std::numeric_limits<float>::infinity();
}

float CtvxFrontMotion::ofTriangle(float const (&v)[3][3]) const
{
    // The move is affine in the point: no point of the triangle moves
    // farther than its farthest corner.
    double worst = 0.0;
    double reach = 0.0;
    for (int k = 0; k < 3; ++k) {
        double moved = 0.0;
        for (int i = 0; i < 3; ++i) {
            double const e = m_s[i] + m_d[i][0] * double(v[k][0]) + m_d[i][1] * double(v[k][1]) +
                             m_d[i][2] * double(v[k][2]);
            moved += e * e;
            reach = std::max(reach, std::fabs(double(v[k][i])));
        }
        worst = std::max(worst, moved);
    }
    return roundedUp(std::sqrt(worst), m_shift1 + m_rows * reach);
}

float CtvxFrontMotion::ofBox(float const (&place)[3][4], float const (&h)[3]) const
{
    // The centre's move, and the spectral norm times the half diagonal.
    double moved = 0.0, reach = 0.0;
    for (int i = 0; i < 3; ++i) {
        double const e = m_s[i] + m_d[i][0] * double(place[0][3]) + m_d[i][1] * double(place[1][3]) +
                         m_d[i][2] * double(place[2][3]);
        moved += e * e;
        reach = std::max(reach, std::fabs(double(place[i][3])));
    }
    double const half = std::sqrt(double(h[0]) * h[0] + double(h[1]) * h[1] + double(h[2]) * h[2]);
    return roundedUp(std::sqrt(moved) + m_norm * half, m_shift1 + m_rows * (reach + half));
}

float CtvxPairContext::moveOf(CtvxFrontMotion const& motion, int second) const
{
    float move;
    if (CtvxNodeRef::isBox(second)) {
        CtvxDecodedBox box;
        decode2(m_scratch.decoded2Cache, second, box);
        move = motion.ofBox(box.m, box.half);
    } else {
        float v[3][3];
        readTriangle2(CtvxNodeRef::triangle(second), v);
        move = motion.ofTriangle(v);
    }
    m_scratch.frontMoves.put(second, move);
    return move;
}

CtvxKeptFront* CtvxPairContext::resumeFront(CtvxFrontWork& work)
{
    CtvxKeptFronts& fronts = m_scratch.fronts;
    fronts.working.clear();
    work.record = &fronts.working;
    CtvxKeptFront* const kept = fronts.find(sharedPoly1(), sharedPoly2());
    if (!kept)
        return nullptr;
    // A new tree (the triangles, the points transform or the mesh changed,
    // or the set was rebuilt) or a new tolerance: the bounds say nothing.
    if (!kept->matches(m_poly1->m_bvTree, m_poly2->m_bvTree, m_polyTolerance) || CtvxKeptFronts::outgrown(*kept) ||
        CtvxKeptFronts::spent(*kept))
        return kept;
    // Set 2 as a ball in its own frame: its root box, or its one triangle.
    float centre[3] = {0.0f, 0.0f, 0.0f};
    float radius = 0.0f;
    if (m_obbs2) {
        CtvxMat4 p;
        place2(0, p);
        float h[3];
        CtvxObbReader::trueHalfLengths(m_obbs2[0], *m_tree2, h);
        for (int i = 0; i < 3; ++i)
            centre[i] = p(i, 3);
        // The half diagonal, in double and rounded up.
        double const r = std::sqrt(double(h[0]) * h[0] + double(h[1]) * h[1] + double(h[2]) * h[2]);
        radius = std::nextafter(static_cast<float>(r), std::numeric_limits<float>::infinity());
    } else {
        CqarPoint3 v[3];
        m_poly2->getTriangle(0, v);
        double r = 0.0;
        for (CqarPoint3 const& q : v)
            r = std::max(r, std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2]));
        radius = std::nextafter(static_cast<float>(r), std::numeric_limits<float>::infinity());
    }
    work.motion.between(kept->poly2ToPoly1, m_poly2ToPoly1);
    float const delta = work.motion.ofBall(centre, radius);
    if (!(delta <= kResumableShare * radius))
        return kept;
    work.resume = &kept->entries;
    m_scratch.frontMoves.reset();
    ++fronts.resumes;
    // The bounds were measured with the margin of the pose they were
    // measured at and will be compared with distances of this one: each
    // margin absorbs the rounding of its own pose's tests, twice over for
    // the roundings of both tests a kept bound and a new distance stand on.
    work.margins = 2.0f * (kept->margin + m_margin);
    work.lowering = delta + work.margins;
    return kept;
}

void CtvxPairContext::keepFront(CtvxKeptFront* kept, bool clear, bool resumed)
{
    CtvxKeptFronts& fronts = m_scratch.fronts;
    if (!clear) {
        // A contact (or a front past the cap): the next query walks afresh.
        if (kept)
            kept->valid = false;
        return;
    }
    CtvxKeptFront& f = kept ? *kept : fronts.place(sharedPoly1(), sharedPoly2());
    std::swap(f.entries, fronts.working);
    if (!resumed) {
        // Measured afresh: the trees and tolerance may be new.
        if (!CtvxKeptFront::sameOwner(f.tree1, m_poly1->m_bvTree))
            f.tree1 = m_poly1->m_bvTree;
        if (!CtvxKeptFront::sameOwner(f.tree2, m_poly2->m_bvTree))
            f.tree2 = m_poly2->m_bvTree;
        f.polyTolerance = m_polyTolerance;
        f.freshSize = f.entries.size();
    }
    CtvxKeptFronts::count(f, resumed, m_boxTests + m_triangleTests);
    f.poly2ToPoly1 = m_poly2ToPoly1;
    f.margin = m_margin;
    f.valid = true;
}
