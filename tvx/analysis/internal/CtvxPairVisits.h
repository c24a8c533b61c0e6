#pragma once

// The visits of CtvxPairContext, defined inline where the walks see them:
// a walk calls one for nearly every pair it reaches.

#include <tvx/analysis/internal/CtvxPairContext.h>

inline bool CtvxPairContext::names(int first, int second) const
{
    auto holds = [](int ref, CtvxPolyhedronOBBTree const* tree, CtvxPoly const* poly) {
        return CtvxNodeRef::isBox(ref) ? ref < tree->countObbs()
                                       : CtvxNodeRef::triangle(ref) < poly->countTriangles();
    };
    return holds(first, m_tree1, m_poly1) && holds(second, m_tree2, m_poly2);
}

template <CtvxVisit how>
inline bool CtvxPairContext::boxTriangleOutcome(float const (&v)[3][3], float const* h)
{
    float const d0 = m_distance->distance();
    float bound = d0;
    ++m_boxTests;
    int const result = CtvxProximityKernels::boxTriangleSeparation(
        v[0], v[1], v[2], h, m_polyTolerance, how == CtvxVisit::Query && m_distanceMode, bound);
    if (how == CtvxVisit::Overlap)
        return result == 0;
    return boxOutcome(result, d0, bound);
}

template <CtvxVisit how>
inline bool CtvxPairContext::visitBoxes(int box1, int box2, CtvxMat4 const& toBox1, CtvxMat4 const& place2)
{
    static_assert(how != CtvxVisit::Nearest, "the nearest-first walk visits decoded boxes");
    float h1[3], h2[3];
    CtvxObbReader::trueHalfLengths(m_obbs1[box1], *m_tree1, h1);
    CtvxObbReader::trueHalfLengths(m_obbs2[box2], *m_tree2, h2);
    CtvxMat4 const r = toBox1 * place2;
    ++m_boxTests;
    float const d0 = m_distance->distance();
    float bound = d0;
    int const result = CtvxProximityKernels::boxBoxSeparation(
        h1, h2, r, m_polyTolerance, how == CtvxVisit::Query && m_distanceMode, bound);
    if (how == CtvxVisit::Overlap)
        return result == 0;
    return boxOutcome(result, d0, bound);
}

template <CtvxVisit how>
inline bool CtvxPairContext::visitBoxTriangle(int first, int second, CtvxMat4 const& toBox1,
                                              CtvxMat4 const& place2)
{
    static_assert(how != CtvxVisit::Nearest, "the nearest-first walk visits decoded boxes");
    bool const box1 = CtvxNodeRef::isBox(first);
    float h[3];
    if (box1)
        CtvxObbReader::trueHalfLengths(m_obbs1[first], *m_tree1, h);
    else
        CtvxObbReader::trueHalfLengths(m_obbs2[second], *m_tree2, h);
    float v[3][3];
    CtvxMat4 toBox2;
    triangleInBoxFrame(box1, first, second, toBox1, place2, v, toBox2);
    return boxTriangleOutcome<how>(v, h);
}

template <CtvxVisit how>
inline bool CtvxPairContext::visitBoxes(CtvxDecodedBox const& box1, CtvxDecodedBox const& box2,
                                        CtvxNearestAxis const* axis, float* outBound)
{
    ++m_boxTests;
    if (how == CtvxVisit::Nearest) {
        float const (&h1)[3] = box1.half;
        float const (&h2)[3] = box2.half;
        // The pair's placement, toBox1 * place2, in lanes rounded as the
        // product of placements rounds it; the bounds read its top three
        // rows only.
        CtvxMat4 r;
        CtvxProximityKernels::composeRows(&box1.m[0][0], &box2.m[0][0], static_cast<float*>(r.getAddress()));
        float const current = m_distance->distance();
        float gap = CtvxProximityKernels::centreLineGapInLanes(h1, h2, r.data());
        if (axis->set) {
            // The axis from frame 2 into box 1's, in lanes summed as the
            // scalar products sum.
            float lanes[4];
            tvxkernels_lanes::MapColumns(&box1.m[0][0]).turn(axis->inFrame2).store(lanes);
            float const u[3] = {lanes[0], lanes[1], lanes[2]};
            float const g = CtvxProximityKernels::axisGapInLanes(h1, h2, r.data(), u);
            gap = g > gap ? g : gap;
        }
        gap = gap - m_polyTolerance - m_margin;
        if (current < gap) {
            *outBound = gap;
            return false;
        }
        // A pair the line gaps keep: along the line of the boxes' nearest
        // points, which costs about one box test and prunes the facing boxes
        // of two surfaces some way apart, more often than the box test does
        // where both are tried, so it goes first (a pair is kept only if
        // both keep it, whichever asks first). It prunes only: taken into
        // the pair's bound it would reorder the walk among pairs bounded the
        // cheap way, which on the meshes measured costs more pairs than it
        // saves. A pair it prunes keeps it as its bound, for a kept front.
        // A pair within the best distance of the largest gap any axis can
        // show is kept by this line whatever it is, and is not asked. The
        // line's gap and that ceiling are each good to a few float roundings
        // of the pair's coordinates, which half the margin (2^-17 of the
        // largest coordinate of the two sets, against which the pair's are
        // at most a few times as large) covers many times over: where the
        // ceiling answers, the gap would not have pruned.
        float const ceiling = CtvxProximityKernels::axisGapCeiling(h1, h2, r.data());
        if (!(ceiling - m_polyTolerance - 0.5f * m_margin <= current)) {
            float const near =
                CtvxProximityKernels::nearestPointsGapInLanes(h1, h2, r.data()) - m_polyTolerance - m_margin;
            if (current < near) {
                *outBound = near;
                return false;
            }
        }
        // A pair the line gaps already put beyond half the best distance is
        // seldom pruned by the box test's own axes where those lines did not
        // prune it (on the meshes measured): skipping the test there opens
        // a few more pairs but spares many more tests, 15 % of the walk's
        // instructions at far clearances; near misses, where the best
        // distance is small, keep it. The bound is the gaps' alone.
        if (gap > 0.5f * current) {
            *outBound = gap;
            return true;
        }
        float bound = CtvxProximityKernels::justAbove(current);
        int const result = CtvxProximityKernels::boxBoxSeparation(h1, h2, r, m_polyTolerance, true, bound);
        return settle(current, gap, result, bound, *outBound);
    }
    // Contact queries and the contact search ask for the verdict alone.
    if (how == CtvxVisit::Overlap || !m_distanceMode)
        return CtvxProximityKernels::boxesOverlap(box1.half, box2.half, box1.m, box2.m, m_polyTolerance);
    float const d0 = m_distance->distance();
    float bound = d0;
    int const result = CtvxProximityKernels::boxBoxSeparation(
        box1.half, box2.half, box1.m, box2.m, m_polyTolerance, how == CtvxVisit::Query && m_distanceMode, bound);
    if (how == CtvxVisit::Overlap)
        return result == 0;
    return boxOutcome(result, d0, bound);
}

inline float const* CtvxPairContext::triangleForBox(int first, int second, CtvxDecodedBox const& box1,
                                                   CtvxDecodedBox const& box2, float (&tri)[3][3],
                                                   CtvxBoxFrameRows& toBox2) const
{
    if (CtvxNodeRef::isBox(first)) {
        readTriangle2(CtvxNodeRef::triangle(second), tri);
        return &box1.m[0][0];
    }
    readTriangle1(CtvxNodeRef::triangle(first), tri);
    if (!m_scratch.toBox2Cache.get(second, toBox2)) {
        // The inverse reads the top three rows only.
        CtvxMat4 placed;
        CtvxProximityKernels::composeRows(m_poly2ToPoly1.data(), &box2.m[0][0],
                                          static_cast<float*>(placed.getAddress()));
        CtvxMat4 const inverse = placed.inverse();
        std::memcpy(toBox2.m, inverse.data(), sizeof toBox2.m);
        m_scratch.toBox2Cache.put(second, toBox2);
    }
    return &toBox2.m[0][0];
}

template <CtvxVisit how>
inline bool CtvxPairContext::visitBoxTriangle(int first, int second, CtvxDecodedBox const& box1,
                                              CtvxDecodedBox const& box2, CtvxNearestAxis const* axis,
                                              float* outBound)
{
    if (how == CtvxVisit::Nearest)
        return nearestBoxTriangle(first, second, box1, box2, *axis, *outBound);
    bool const ofFirst = CtvxNodeRef::isBox(first);
    float tri[3][3];
    CtvxBoxFrameRows toBox2;
    float const* const rows = triangleForBox(first, second, box1, box2, tri, toBox2);
    float const (&h)[3] = ofFirst ? box1.half : box2.half;
    // Contact queries and the contact search ask for the verdict alone,
    // the triangle placed in the box's frame in the same lanes.
    if (how == CtvxVisit::Overlap || !m_distanceMode) {
        ++m_boxTests;
        return CtvxProximityKernels::boxTriangleOverlap(tri, rows, h, m_polyTolerance);
    }
    float v[3][3];
    for (int k = 0; k < 3; ++k)
        for (int i = 0; i < 3; ++i)
            v[k][i] = rows[4 * i] * tri[k][0] + rows[4 * i + 1] * tri[k][1] + rows[4 * i + 2] * tri[k][2] +
                      rows[4 * i + 3];
    return boxTriangleOutcome<how>(v, h);
}

inline bool CtvxPairContext::nearestBoxTriangle(int first, int second, CtvxDecodedBox const& box1,
                                                CtvxDecodedBox const& box2, CtvxNearestAxis const& axis,
                                                float& outBound)
{
    bool const ofFirst = CtvxNodeRef::isBox(first);
    float tri[3][3];
    CtvxBoxFrameRows toBox2;
    float const* const rows = triangleForBox(first, second, box1, box2, tri, toBox2);
    float const (&h)[3] = ofFirst ? box1.half : box2.half;
    // The vertices placed in the box's frame, and the axis turned into it
    // (from frame 2 into box 1's, or from frame 1 into box 2's), in lanes
    // summed as the scalar products sum.
    using tvx_lanes::Float4;
    tvxkernels_lanes::MapColumns const map(rows);
    Float4 const p[3] = {map.place(tri[0]), map.place(tri[1]), map.place(tri[2])};
    float v[3][3];
    for (int k = 0; k < 3; ++k) {
        float lanes[4];
        p[k].store(lanes);
        std::memcpy(v[k], lanes, sizeof v[k]);
    }
    float const current = m_distance->distance();
    ++m_boxTests;
    float gap = CtvxProximityKernels::centroidLineGap(h, v);
    if (axis.set) {
        float lanes[4];
        map.turn(ofFirst ? axis.inFrame2 : axis.inFrame1).store(lanes);
        float const u[3] = {lanes[0], lanes[1], lanes[2]};
        // A triangle of set 2 lies ahead of a box of set 1 along the axis,
        // a triangle of set 1 behind a box of set 2.
        float const g = CtvxProximityKernels::axisGap(h, v, u, !ofFirst);
        gap = g > gap ? g : gap;
    }
    gap = gap - m_polyTolerance - m_margin;
    if (current < gap) {
        outBound = gap;
        return false;
    }
    // The same for a box and a triangle, which the leaves of a tree of
    // single triangles meet most, with the same ceiling on what it can show.
    if (!(CtvxProximityKernels::axisGapCeiling(h, v) - m_polyTolerance - 0.5f * m_margin <= current)) {
        float const near = CtvxProximityKernels::nearestPointsGap(h, v) - m_polyTolerance - m_margin;
        if (current < near) {
            outBound = near;
            return false;
        }
    }
    // As for two boxes: a pair the line gaps put beyond half the best
    // distance is all but never pruned by the separation test where those
    // lines and the nearest points did not prune it (at far clearances it
    // pruned 39 of the 223,000 pairs it was asked about on two bunnies, 81
    // of 49,000 on procedural 10^4), so such a pair is kept with the gaps'
    // bound, untested.
    if (gap > 0.5f * current) {
        outBound = gap;
        return true;
    }
    float bound = CtvxProximityKernels::justAbove(current);
    int const result =
        tvxkernels_lanes::boxTriangleSeparation(p[0], p[1], p[2], h, m_polyTolerance, true, bound);
    return settle(current, gap, result, bound, outBound);
}

template <CtvxVisit how>
inline CtvxLeaf CtvxPairContext::visitTriangles(int first, int second, CtvxNearestAxis const* axis,
                                                std::uint64_t const* rank, float* outBound)
{
    unsigned int const t1 = CtvxNodeRef::triangle(first);
    unsigned int const t2 = CtvxNodeRef::triangle(second);
    float tri1[3][3];
    readTriangle1(t1, tri1);
    ++m_triangleTests;
    float const tolerance = pairTolerance(t1, t2);
    // Both triangles in frame 1; the nearest-first walk places each
    // triangle of set 2 once.
    float b[3][3];
    if (how == CtvxVisit::Nearest) {
        placedTriangle2(second, b);
    } else {
        float tri2[3][3];
        readTriangle2(t2, tri2);
        for (int k = 0; k < 3; ++k)
            m_kernels.PmM(b[k], tri2[k], m_poly2ToPoly1);
    }
    float p[3] = {0.0f, 0.0f, 0.0f}, q[3] = {0.0f, 0.0f, 0.0f};

    if (how == CtvxVisit::Nearest) {
        float const current = m_distance->distance();
        // The exact distance costs as much as a few dozen box tests; two
        // projections first settle most pairs that cannot even tie.
        // The bound a kept front takes for the pair is the gap that pruned
        // it, read as the box gaps are (the margin for its roundings, the
        // largest summed tolerance, which the front is kept under, rather
        // than this pair's own): the clearance it beat would leave nearly
        // every such pair to be tested again after the least motion.
        float apart;
        if (CtvxProximityKernels::trianglesApart(tri1, b, axis->set ? axis->inFrame1 : nullptr,
                                                 current + tolerance + m_margin, apart)) {
            *outBound = apart - m_margin - m_polyTolerance;
            return CtvxLeaf::Nothing;
        }
        float const raw = triangleDistance(p, q, tri1, b, tolerance);
        *outBound = raw - m_polyTolerance;
        float const d = raw - tolerance;
        if (!(d > 0.0f))
            return CtvxLeaf::Contact;
        bool const lower = d < current;
        bool const tiedEarlier = d == current && m_found.bestRanked &&
                                 (rank[0] < m_found.bestRank[0] ||
                                  (rank[0] == m_found.bestRank[0] && rank[1] < m_found.bestRank[1]));
        if (!lower && !tiedEarlier)
            return CtvxLeaf::Nothing;
        recordCloser(t1, p, t2, q, d, lower);
        m_found.bestRanked = true;
        m_found.bestRank[0] = rank[0];
        m_found.bestRank[1] = rank[1];
        return lower ? CtvxLeaf::Closer : CtvxLeaf::Nothing;
    }
    if (how == CtvxVisit::Overlap) {
        if (triangleDistance(p, q, tri1, b, tolerance) - tolerance > 0.0f)
            return CtvxLeaf::Nothing;
        recordContact(t1, t2);
        return CtvxLeaf::Contact;
    }

    float d = 0.0f;
    bool contact;
    if (m_type == CtvxAnalysis::EXACT_DISTANCE) {
        d = triangleDistance(p, q, tri1, b, tolerance) - tolerance;
        contact = !(d > 0.0f);
    } else if (!m_distanceMode) {
        // First and all contacts ask whether the pair touches, nothing more.
        CtvxProximityKernels k;
        k.triangleTolerance(tolerance);
        contact = k.touches(tri1, b);
        m_unsureTests += k.unsureDecisions();
    } else {
        // The kernels' one decision, which the distance above agrees with.
        CtvxProximityKernels k;
        k.triangleTolerance(tolerance);
        contact = k.contact(tri1, b, d);
        m_unsureTests += k.unsureDecisions();
    }
    if (contact) {
        recordContact(t1, t2);
        return CtvxLeaf::Contact;
    }
    switch (m_type) {
    case CtvxAnalysis::FIRST_COLLISION:
    case CtvxAnalysis::ALL_COLLISIONS:
        hint(t1, t2);
        return CtvxLeaf::Nothing;
    case CtvxAnalysis::EXACT_DISTANCE:
        if (!(d < m_distance->distance()))
            return CtvxLeaf::Nothing;
        recordCloser(t1, p, t2, q, d, true);
        return CtvxLeaf::Closer;
    case CtvxAnalysis::ESTIMATED_DISTANCE:
        if (!(d < m_distance->distance()))
            return CtvxLeaf::Nothing;
        recordCloser(t1, nullptr, t2, nullptr, d, true);
        return CtvxLeaf::Closer;
    }
    return CtvxLeaf::Nothing;
}
