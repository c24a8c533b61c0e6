#pragma once

#include <tvx/analysis/CtvxAnalysis.h>
#include <tvx/analysis/CtvxCollision.h>
#include <tvx/analysis/CtvxDistance.h>
#include <tvx/analysis/CtvxPolyhedronTriangle.h>
#include <tvx/analysis/internal/CtvxProximityKernels.h>
#include <tvx/analysis/internal/CtvxQueryScratch.h>
#include <tvx/bvtree/CtvxOBB.h>
#include <tvx/bvtree/CtvxPolyhedronOBBTree.h>
#include <tvx/bvtree/internal/CtvxNodeRef.h>
#include <tvx/bvtree/internal/CtvxObbReader.h>
#include <tvx/geometry/CtvxPoly.h>
#include <tvx/geometry/CtvxPolyhedron.h>
#include <tvx/geometry/internal/CtvxDirectMesh.h>
#include <tvx/math/CtvxMat4.h>

#include <qar/CqarMat4.h>
#include <qar/CqarVect3.h>

#include <boost/shared_ptr.hpp>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>

// What a walk asks of a visit.
enum class CtvxVisit {
    // The query's own test and its outcome: a pair is pruned or descended,
    // an estimated distance takes a box pair's bound, a triangle pair is
    // settled as the query type says.
    Query,
    // Overlap only, a contact the one finding: the contact search that
    // settles which contact an exact distance query reports.
    Overlap,
    // The pair's lower bound, for the nearest-first walk of the exact
    // distance: the box test's, or the gaps along the line of centres and
    // along the best pair's direction where those say more.
    Nearest
};

// The direction of the best pair so far, in frame 1 and in frame 2, along
// which the nearest-first walk bounds pairs besides the box test's axes.
struct CtvxNearestAxis {
    bool set = false;
    float inFrame1[3] = {0.0f, 0.0f, 0.0f};
    float inFrame2[3] = {0.0f, 0.0f, 0.0f};
};

// What a visit of a triangle pair found.
enum class CtvxLeaf { Nothing, Contact, Closer };

class CtvxPolyhedronGroup;

// A set of a pair, with what owns it, for the results that name the set:
// its own shared pointer, the scene object that holds it, or the group of a
// regrouped assembly. Made without touching a reference count: a shared
// pointer to the set is made only for a result that names it, and shares
// the owner's ownership as a copy of that owner's pointer would.
struct CtvxPolyOwner {
    CtvxPoly* poly = nullptr;
    boost::shared_ptr<CtvxPoly> const* set = nullptr;
    boost::shared_ptr<CtvxObject> const* object = nullptr;
    boost::shared_ptr<CtvxPolyhedronGroup> const* group = nullptr;

    boost::shared_ptr<CtvxPoly> shared() const
    {
        if (set)
            return *set;
        if (object)
            return boost::shared_ptr<CtvxPoly>(*object, poly);
        return boost::shared_ptr<CtvxPoly>(*group, poly);
    }
};

// One query between two triangle sets: everything the walks share.
//
// It holds the pair's frames (frame 2 into frame 1, computed once in double
// precision), its tolerances, the trees, the counters, the findings (contact,
// distance, the closest pair) and the hints to leave in the two sets, and it
// says what a node of the descent means: one box-box visit, one box-triangle
// visit, one visit of a triangle pair, one way to record a contact and one a
// closer pair. The walks (CtvxPairWalks.h) only decide the order in which
// pairs are visited; the visits are defined inline in CtvxPairVisits.h, which
// the walks include. compute() runs the whole query through the walk asked
// for; the hints are written to the sets once, at its end. All tests run in
// frame 1 or in a box's frame, in single precision.
//
// Frames. Frame 1 and frame 2 are the sets' own frames. P(b) places box b of
// either tree in its set's frame (CtvxObbReader::placement). A walk hands a
// box pair over as toBox1 = P(box 1)^-1 * (frame 2 into frame 1), which maps
// frame 2 into box 1's frame, and place2 = P(box 2).
class CtvxPairContext {
public:
    // The sets are held by the caller for the whole query; so is the scratch.
    CtvxPairContext(boost::shared_ptr<CtvxPoly> const& poly1, boost::shared_ptr<CtvxPoly> const& poly2,
                    CtvxQueryScratch& scratch);
    // A context for the driver, kept in the scratch from one pair to the
    // next (its construction costs as much as a miss), and given each pair
    // of sets through bind(). The owners are held by the caller for the
    // whole query.
    explicit CtvxPairContext(CtvxQueryScratch& scratch);
    void bind(CtvxPolyOwner const& first, CtvxPolyOwner const& second)
    {
        m_owner1 = first;
        m_owner2 = second;
        m_poly1 = first.poly;
        m_poly2 = second.poly;
    }
    CtvxPairContext(CtvxPairContext const&) = delete;
    CtvxPairContext& operator=(CtvxPairContext const&) = delete;

    // The query of CtvxPolyhedronPolyhedronTypedAnalysis::compute(), through
    // the given walk.
    void compute(CtvxAnalysis::EAnalysisType type, CtvxWalk walk, bool& collided,
                 boost::shared_ptr<CtvxCollision>& collision, bool& distanceFound,
                 boost::shared_ptr<CtvxDistance>& distance);

    unsigned long boxTests() const { return m_boxTests; }
    unsigned long triangleTests() const { return m_triangleTests; }
    // Triangle decisions that single precision could not settle.
    unsigned long unsureTests() const { return m_unsureTests; }

    // The steps of compute(), apart for tests of the visits. start() sets
    // the pair up for a query of that type into these results (trees,
    // frames, tolerances, the reading of triangles, no findings); false when
    // there is nothing to walk (a set without tree, deactivated or without
    // triangles, or a tree that does not fit its set). prepareNearest()
    // readies the nearest-first walk's visits. lowerDistance() records a
    // clearance below the best so far: the one way a distance is lowered.
    bool start(CtvxAnalysis::EAnalysisType type, boost::shared_ptr<CtvxCollision>& collision,
               boost::shared_ptr<CtvxDistance>& distance);
    // start() in two steps: what the roots' visit needs, then what reading
    // triangles needs (the direct meshes and the uniform tolerances).
    bool startRoots(CtvxAnalysis::EAnalysisType type, boost::shared_ptr<CtvxCollision>& collision,
                    boost::shared_ptr<CtvxDistance>& distance);
    void readyTriangles();
    // m_rootToBox1, which only the plain walk reads (also in its visit of
    // the roots): made where it starts.
    void readyRootToBox1();
    void prepareNearest();
    void lowerDistance(float d)
    {
        m_distance->setDistance(d);
        m_found.distanceFound = true;
    }

    // --- For the walks --------------------------------------------------------

    CtvxQueryScratch& scratch() const { return m_scratch; }
    // The first step: both roots, or triangle 0 for a tree without boxes.
    int root1() const { return m_obbs1 ? 0 : CtvxNodeRef::ofTriangle(0); }
    int root2() const { return m_obbs2 ? 0 : CtvxNodeRef::ofTriangle(0); }
    int sumOfDepths() const { return m_tree1->depth() + m_tree2->depth(); }
    // The most steps a depth-first walk over these trees holds: one pending
    // sibling for each box split on the way down, and the pair in hand.
    std::size_t stackBound() const { return static_cast<std::size_t>(sumOfDepths()) + 1; }
    // True when both refs name a box or a triangle of their set.
    bool names(int first, int second) const;
    // True when the walk is over: a contact was found and the visits do not
    // gather every contact.
    template <CtvxVisit how>
    bool done() const
    {
        return m_collisionFound && !(how == CtvxVisit::Query && m_type == CtvxAnalysis::ALL_COLLISIONS);
    }

    // Placements, decoded afresh or through one of the scratch's caches.
    // The roots, where every query starts, are decoded once and kept in
    // their sets.
    void toBox1(int box, CtvxMat4& out) const
    {
        if (box == 0) {
            out = m_rootToBox1;
            return;
        }
        CtvxMat4 p;
        CtvxObbReader::placement(m_obbs1[box], *m_tree1, p);
        out = p.inverse() * m_poly2ToPoly1;
    }
    void place2(int box, CtvxMat4& out) const
    {
        if (box == 0)
            out = *m_rootPlacement2;
        else
            CtvxObbReader::placement(m_obbs2[box], *m_tree2, out);
    }

    // Boxes decoded for the walks, afresh or through one of the scratch's
    // caches: box 1 with toBox1, box 2 with place2, rounded as above. Root 1 is composed from its kept inverse, the very bits
    // p.inverse() gives on its decoding.
    void decode1(int box, CtvxDecodedBox& out) const
    {
        if (box == 0) {
            CtvxProximityKernels::composeRows(m_rootInverse1->data(), m_poly2ToPoly1.data(), &out.m[0][0]);
        } else {
            CtvxMat4 p;
            CtvxObbReader::placement(m_obbs1[box], *m_tree1, p);
            CtvxProximityKernels::composeRows(p.inverse().data(), m_poly2ToPoly1.data(), &out.m[0][0]);
        }
        halves(m_obbs1[box], *m_tree1, out);
    }
    void decode2(int box, CtvxDecodedBox& out) const
    {
        CtvxMat4 m;
        place2(box, m);
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 4; ++j)
                out.m[i][j] = m(i, j);
        halves(m_obbs2[box], *m_tree2, out);
    }
    // True when both trees are small enough for the scratch's smallTrees,
    // whose decodings the in-order walk then takes (decodeSmall1/2): the
    // very bits of decode1() and decode2(), kept across pairs and queries.
    bool smallTrees() const { return m_smallTrees; }
    __attribute__((always_inline)) void decodeSmall1(CtvxRankCache<CtvxDecodedBox>& cache, int box, CtvxDecodedBox& out) const
    {
        if (cache.get(box, out))
            return;
        if (box == 0) {
            decode1(0, out);
        } else {
            CtvxSmallTreeBoxes::Box const& b = m_scratch.smallTrees.of(m_obbs1[box], *m_tree1, box);
            CtvxProximityKernels::composeRows(&b.inverse[0][0], m_poly2ToPoly1.data(), &out.m[0][0]);
            std::memcpy(out.half, b.half, sizeof out.half);
            out.size = b.size;
        }
        cache.put(box, out);
    }
    __attribute__((always_inline)) void decodeSmall2(int box, CtvxDecodedBox& out) const
    {
        if (box == 0) {
            decode2(0, out);
            return;
        }
        CtvxSmallTreeBoxes::Box const& b = m_scratch.smallTrees.of(m_obbs2[box], *m_tree2, box);
        std::memcpy(out.m, b.placement, sizeof out.m);
        std::memcpy(out.half, b.half, sizeof out.half);
        out.size = b.size;
    }
    void decode1(CtvxRankCache<CtvxDecodedBox>& cache, int box, CtvxDecodedBox& out) const
    {
        if (!cache.get(box, out)) {
            decode1(box, out);
            cache.put(box, out);
        }
    }
    void decode2(CtvxRankCache<CtvxDecodedBox>& cache, int box, CtvxDecodedBox& out) const
    {
        if (!cache.get(box, out)) {
            decode2(box, out);
            cache.put(box, out);
        }
    }

    // Of two boxes in hand the larger is split, sizes compared as stored.
    bool splitsFirst(int box1, int box2) const
    {
        return CtvxObbReader::size(m_obbs1[box1]) > CtvxObbReader::size(m_obbs2[box2]);
    }
    static bool splitsFirst(CtvxDecodedBox const& box1, CtvxDecodedBox const& box2)
    {
        return box1.size > box2.size;
    }
    // The refs of the two children of a box of tree 1 (ofFirst) or tree 2.
    void children(bool ofFirst, int box, int (&refs)[2]) const
    {
        CtvxOBB const& b = ofFirst ? m_obbs1[box] : m_obbs2[box];
        refs[0] = CtvxNodeRef::fromChildCode(b.getChild1Rank());
        refs[1] = CtvxNodeRef::fromChildCode(b.getChild2Rank());
    }

    // The pair of triangles that a contact query over two sets that cannot
    // touch reaches last (see CtvxPairWalks::lastReached): its test would
    // find them apart, and leave them as the hints.
    void reachedLast(int first, int second)
    {
        hint(CtvxNodeRef::triangle(first), CtvxNodeRef::triangle(second));
    }

    // The visits. True when the pair must be descended. The Query and
    // Overlap visits of a box pair, and of a box and a triangle, on
    // placements (the plain walk's).
    template <CtvxVisit how>
    bool visitBoxes(int box1, int box2, CtvxMat4 const& toBox1, CtvxMat4 const& place2);
    template <CtvxVisit how>
    bool visitBoxTriangle(int first, int second, CtvxMat4 const& toBox1, CtvxMat4 const& place2);
    // The same pairs on decoded boxes (the in-order and nearest-first
    // walks): the same tests on the same floats, so the same outcomes as the
    // two above. In Nearest, `axis` is the walk's direction of the best pair
    // and `outBound` receives the pair's lower bound; a pair at exactly the
    // best distance is kept (the in-order walk may reach one of its triangle
    // pairs first, and that one is reported). A side that is a triangle
    // leaves its decoded box unread.
    template <CtvxVisit how>
    bool visitBoxes(CtvxDecodedBox const& box1, CtvxDecodedBox const& box2, CtvxNearestAxis const* axis = nullptr,
                    float* outBound = nullptr);
    template <CtvxVisit how>
    bool visitBoxTriangle(int first, int second, CtvxDecodedBox const& box1, CtvxDecodedBox const& box2,
                          CtvxNearestAxis const* axis = nullptr, float* outBound = nullptr);
    // A triangle of each set. In Nearest, a contact is only reported (the
    // contact search then finds the one to record), `rank` is the pair's
    // rank in the in-order walk, which settles ties, and `outBound`
    // receives a lower bound of the pair's clearance less the largest
    // summed tolerance. A pair a Nearest visit prunes leaves the bound that
    // pruned it in `outBound`.
    template <CtvxVisit how>
    CtvxLeaf visitTriangles(int first, int second, CtvxNearestAxis const* axis = nullptr,
                            std::uint64_t const* rank = nullptr, float* outBound = nullptr);

    // How far any point of `second`, a node of set 2 (a box or a
    // triangle), can have moved under the motion since the kept front
    // resumed was measured: bounded afresh and kept by ref in the scratch's
    // frontMoves for the query, which the caller looks up first.
    float moveOf(CtvxFrontMotion const& motion, int second) const;

    // The closest pair so far, in frame 1, when there is one.
    bool hasClosestPair() const { return m_found.closestTriangle1 >= 0 && m_found.closestTriangle2 >= 0; }
    CqarPoint3 const& closestPoint1() const { return m_found.closestPoint1; }
    CqarPoint3 const& closestPoint2() const { return m_found.closestPoint2; }
    CtvxMat4 const& poly2ToPoly1() const { return m_poly2ToPoly1; }
    // The best distance so far.
    float distance() const { return m_distance->distance(); }

private:
    // The hint to leave in a set at the end of the query: a triangle, and a
    // point on it when one is known.
    struct Hint {
        bool set = false;
        int triangle = -1;
        bool withPoint = false;
        CqarPoint3 point;
    };
    // What the query has found so far; saved and restored whole when an
    // exact distance query starts again the plain way.
    struct Findings {
        bool distanceFound = false;
        int closestTriangle1 = -1;
        CqarPoint3 closestPoint1;
        int closestTriangle2 = -1;
        // In frame 1 during the walk.
        CqarPoint3 closestPoint2;
        // The rank of the closest pair in the in-order walk (nearest first).
        bool bestRanked = false;
        std::uint64_t bestRank[2] = {0, 0};
        Hint hint1;
        Hint hint2;

        // As a fresh Findings holds, without making and dropping four points
        // through the utility library's calls on every query. A point is
        // written only with its triangle (a closest point) or with its hint
        // set, so only those can hold one: a query that found nothing, a
        // miss, leaves nothing to clear.
        void clear()
        {
            distanceFound = false;
            if (closestTriangle1 >= 0) {
                closestTriangle1 = -1;
                closestPoint1.setValue(0.0, 0.0, 0.0);
            }
            if (closestTriangle2 >= 0) {
                closestTriangle2 = -1;
                closestPoint2.setValue(0.0, 0.0, 0.0);
            }
            bestRanked = false;
            bestRank[0] = bestRank[1] = 0;
            for (Hint* h : {&hint1, &hint2}) {
                if (!h->set)
                    continue;
                h->set = false;
                h->triangle = -1;
                h->withPoint = false;
                h->point.setValue(0.0, 0.0, 0.0);
            }
        }
    };

    // The triangle of a box-triangle pair into tri, and the top three rows
    // of the map from its set's frame into the box's: box 1's placement, or
    // frame 1 into box 2's frame for a triangle of set 1, made once a pose
    // for each box of set 2 (a box near the clearance meets a few dozen
    // triangles of set 1), kept in the scratch and copied into toBox2.
    float const* triangleForBox(int first, int second, CtvxDecodedBox const& box1, CtvxDecodedBox const& box2,
                                float (&tri)[3][3], CtvxBoxFrameRows& toBox2) const;
    // The Nearest visit of a box and a triangle (see visitBoxTriangle).
    bool nearestBoxTriangle(int first, int second, CtvxDecodedBox const& box1, CtvxDecodedBox const& box2,
                            CtvxNearestAxis const& axis, float& outBound);
    static void halves(CtvxOBB const& box, CtvxPolyhedronOBBTree const& tree, CtvxDecodedBox& out)
    {
        CtvxObbReader::trueHalfLengths(box, tree, out.half);
        out.size = CtvxObbReader::size(box);
    }
    // Keeps a set's placement as read by this query in the set, and returns
    // its stamp: the same as the last query's while the placement is the
    // same bit for bit.
    static std::uint64_t keepPlacement(CtvxPoly& poly, CqarMat4& placement);
    // The stamp of the set's placement now, kept in the set (read there
    // through m_queryPlacement); read afresh only when the set may have
    // moved.
    static std::uint64_t placementStamp(CtvxPoly& poly);
    // The inverse of the set's kept placement, as CqarMat4::inverse() gives
    // it, made once for each placement kept.
    static CqarMat4 const& inversePlacement(CtvxPoly& poly);
    // What start() reads of one set: its tree, the tree's boxes (null for
    // a tree without boxes), the stamp of its placement and its largest
    // tolerance.
    struct SetStart {
        CtvxPolyhedronOBBTree const* tree = nullptr;
        CtvxOBB const* obbs = nullptr;
        std::uint64_t stamp = 0;
        double maxTolerance = 0.0;
    };
    // The set read through its virtual calls, its root decoded and its
    // placement kept, and what holds until its object or its tree changes
    // kept in it (CtvxPoly::KeptStart); false when the set has nothing to
    // walk (no tree, deactivated, no triangles, or a tree that does not fit
    // it).
    static bool readSet(CtvxPoly& poly, SetStart& out);
    // The same from what the set keeps, when that holds: the library's own
    // polyhedron, not locked, whose tree changes and object's shape
    // revision are those recorded (the tree also proves its decoded root);
    // false when it must be read. While the object's whole revision is the
    // one recorded too, nothing moved and the placement's stamp is the kept
    // one; otherwise the set only moved, and its placement is read afresh.
    static bool keptSet(CtvxPoly& poly, SetStart& out)
    {
        CtvxPoly::KeptStart& kept = poly.m_keptStart;
        if (!kept.set)
            return false;
        CtvxObject& object = static_cast<CtvxPolyhedron&>(poly);
        if (object.isLocked() || kept.treeChanges != poly.m_treeChanges)
            return false;
        if (kept.revision == object.revision()) {
            out.stamp = poly.m_queryPlacementStamp;
        } else {
            if (kept.shapeRevision != object.shapeRevision())
                return false;
            out.stamp = movedStamp(poly, object);
            kept.revision = object.revision();
        }
        out.tree = kept.tree;
        out.obbs = kept.obbs;
        out.maxTolerance = kept.maxTolerance;
        return true;
    }
    // The stamp of the world placement of a kept set's object, read in
    // place, after the object's revision moved; the revision is recorded.
    static std::uint64_t movedStamp(CtvxPoly& poly, CtvxObject& object);
    // The set's root box decoded, kept in the set while the tree's root
    // holds the same values.
    static CtvxPoly::KeptRoot const& keptRoot(CtvxPoly& poly, CtvxPolyhedronOBBTree const& tree);
    // Decodes the root into the set, when the kept one no longer holds.
    static CtvxPoly::KeptRoot const& decodeRoot(CtvxPoly& poly, CtvxPolyhedronOBBTree const& tree);
    // The contact queries' second test where the roots overlap: each set's
    // fitted box where it is tighter than its root, its root elsewhere, in
    // the roots' test with the same tolerance. True when they overlap (and
    // when neither set has a tighter box).
    bool fittedBoxesOverlap();

public:
    // The set's fitted box (CtvxPoly::KeptRoot::fit), made into its kept
    // root when first asked for: the box along the set's own axes around
    // every vertex as the walks read it (stored floats, or the set's points
    // narrowed to float), centre rounded to float, half lengths rounded up
    // to float with a margin for the rounding of the box test, no
    // tolerance (the tests subtract it, as they do from the root). Valid
    // while the kept root is: the set's root must be decoded for the tree
    // in hand (keptRoot()), and every change of the triangles changes the
    // tree before a query walks it (a stale tree is rebuilt first, a
    // transformed or rescaled set drops its tree), which counts in
    // m_treeChanges and so decodes the root, and drops the box, again.
    static CtvxPoly::KeptRoot const& fittedBox(CtvxPoly& poly);

private:
    // A distance query tries the closest pair of the last query first.
    void startFromHint();
    // True when the roots' visit, the first of every walk but the
    // nearest-first one, ends the query: the walk is then not set up.
    bool rootsSettle(CtvxWalk walk);
    void descend(CtvxWalk walk);
    // The closest points of an exact distance, and the hints from them.
    void makeClosestPoints();
    // A sound margin for lower bounds that are not the box test's own: far
    // above the rounding of any distance this pair can produce.
    float boundMargin() const;
    // The kept front of this pair, or null; when it is valid for these
    // trees and tolerances and the motion since is small enough to pay,
    // `work` is set to resume from it. Always sets `work` to record.
    CtvxKeptFront* resumeFront(CtvxFrontWork& work);
    // After the walk: the front recorded becomes the pair's (in `kept`, or
    // in a place of its own) when the walk ended clear, and `kept` is
    // dropped otherwise.
    void keepFront(CtvxKeptFront* kept, bool clear, bool resumed);

    // The Query or Overlap test of a box (half-lengths h) and a triangle
    // given in its frame: true to descend.
    template <CtvxVisit how>
    bool boxTriangleOutcome(float const (&v)[3][3], float const* h);
    // The outcome of a box test in the query's own mode: true to descend.
    bool boxOutcome(int result, float d0, float bound)
    {
        if (result == 0)
            return true;
        switch (m_type) {
        case CtvxAnalysis::EXACT_DISTANCE:
            return m_distance->distance() > bound;
        case CtvxAnalysis::ESTIMATED_DISTANCE:
            if (bound < d0)
                lowerDistance(bound);
            return false;
        default:
            return false;
        }
    }
    // The nearest-first outcome: the pair's bound is the box test's, or the
    // gap's when that says more; kept unless the bound is above the best.
    static bool settle(float current, float gap, int result, float bound, float& outBound)
    {
        outBound = result == 0 ? -std::numeric_limits<float>::infinity() : bound;
        if (gap > outBound)
            outBound = gap;
        return !(current < outBound);
    }

    // A triangle of a set as float rows, in place when the set allows it.
    void readTriangle(CtvxPoly const* poly, CtvxDirectMesh const& direct, unsigned int rank,
                      float (&tri)[3][3]) const
    {
        if (direct.valid()) {
            direct.triangle(rank, tri);
            return;
        }
        CqarPoint3 v[3];
        poly->getTriangle(rank, v);
        m_kernels.TcT(tri, v);
    }
    void readTriangle1(unsigned int rank, float (&tri)[3][3]) const { readTriangle(m_poly1, m_direct1, rank, tri); }
    void readTriangle2(unsigned int rank, float (&tri)[3][3]) const { readTriangle(m_poly2, m_direct2, rank, tri); }
    // A triangle of set 2 placed in frame 1, through the scratch's cache of
    // the nearest-first walk: the same bits as placing it afresh.
    void placedTriangle2(int ref, float (&b)[3][3]) const
    {
        CtvxPlacedTriangle placed;
        if (m_scratch.placed2Cache.get(ref, placed)) {
            std::memcpy(b, placed.v, sizeof b);
            return;
        }
        float tri2[3][3];
        readTriangle2(CtvxNodeRef::triangle(ref), tri2);
        for (int k = 0; k < 3; ++k)
            m_kernels.PmM(b[k], tri2[k], m_poly2ToPoly1);
        std::memcpy(placed.v, b, sizeof b);
        m_scratch.placed2Cache.put(ref, placed);
    }
    // The summed tolerances of two triangles, each rounded to single first.
    float pairTolerance(unsigned int t1, unsigned int t2) const
    {
        float const tol1 =
            m_uniformTolerance1 ? m_tolerance1 : static_cast<float>(m_poly1->toleranceForTriangle(t1));
        float const tol2 =
            m_uniformTolerance2 ? m_tolerance2 : static_cast<float>(m_poly2->toleranceForTriangle(t2));
        return tol1 + tol2;
    }
    // The triangle of a box-triangle pair in the box's frame: a triangle of
    // set 2 against box 1 (through toBox1), or of set 1 against box 2, in
    // which case toBox2 receives the map of frame 1 into box 2's frame.
    void triangleInBoxFrame(bool boxOfFirst, int first, int second, CtvxMat4 const& toBox1, CtvxMat4 const& place2,
                            float (&v)[3][3], CtvxMat4& toBox2) const
    {
        float tri[3][3];
        if (boxOfFirst) {
            readTriangle2(CtvxNodeRef::triangle(second), tri);
            for (int k = 0; k < 3; ++k)
                m_kernels.PmM(v[k], tri[k], toBox1);
        } else {
            readTriangle1(CtvxNodeRef::triangle(first), tri);
            toBox2 = (m_poly2ToPoly1 * place2).inverse();
            for (int k = 0; k < 3; ++k)
                m_kernels.PmM(v[k], tri[k], toBox2);
        }
    }
    float triangleDistance(float* p, float* q, float const (&a)[3][3], float const (&b)[3][3], float tolerance) const
    {
        CtvxProximityKernels k;
        k.triangleTolerance(tolerance);
        float const d = k.TriDist(p, q, a, b);
        m_unsureTests += k.unsureDecisions();
        return d;
    }

    // The hints become the two triangles, without points.
    void hint(unsigned int t1, unsigned int t2)
    {
        m_found.hint1.set = true;
        m_found.hint1.triangle = static_cast<int>(t1);
        m_found.hint1.withPoint = false;
        m_found.hint2.set = true;
        m_found.hint2.triangle = static_cast<int>(t2);
        m_found.hint2.withPoint = false;
    }
    // A contact between triangle t1 of set 1 and t2 of set 2: a pair of the
    // collision result, the end of the distance, the hints.
    void recordContact(unsigned int t1, unsigned int t2)
    {
        m_found.distanceFound = false;
        m_collisionFound = true;
        m_collision->addPair(CtvxPolyhedronTriangle::create(sharedPoly1(), static_cast<int>(t1)),
                             CtvxPolyhedronTriangle::create(sharedPoly2(), static_cast<int>(t2)));
        hint(t1, t2);
    }
    // A triangle pair at clearance d, below the best so far (lower) or, for
    // the nearest-first walk, tied with it and met first by the in-order
    // walk: the distance result takes d when lower, an exact distance keeps
    // the closest points (p on t1, q on t2, frame 1; null for an estimated
    // distance), the hints the triangles.
    void recordCloser(unsigned int t1, float const* p, unsigned int t2, float const* q, float d, bool lower)
    {
        if (p) {
            m_found.closestTriangle1 = static_cast<int>(t1);
            m_found.closestPoint1.setValue(p[0], p[1], p[2]);
            m_found.closestTriangle2 = static_cast<int>(t2);
            m_found.closestPoint2.setValue(q[0], q[1], q[2]);
        }
        if (lower)
            lowerDistance(d);
        m_found.distanceFound = true;
        hint(t1, t2);
    }
    void writeHints();
    // The sets' shared pointers, for what names or remembers them.
    boost::shared_ptr<CtvxPoly> const& sharedPoly1()
    {
        if (!m_shared1)
            m_shared1 = m_owner1.shared();
        return m_shared1;
    }
    boost::shared_ptr<CtvxPoly> const& sharedPoly2()
    {
        if (!m_shared2)
            m_shared2 = m_owner2.shared();
        return m_shared2;
    }

    CtvxPoly* m_poly1 = nullptr;
    CtvxPoly* m_poly2 = nullptr;
    CtvxPolyOwner m_owner1;
    CtvxPolyOwner m_owner2;
    // The sets' shared pointers, made when first asked for (a contact
    // recorded, a front kept) and dropped at the end of the query (a kept
    // context must not keep the sets alive).
    boost::shared_ptr<CtvxPoly> m_shared1;
    boost::shared_ptr<CtvxPoly> m_shared2;
    CtvxQueryScratch& m_scratch;
    CtvxProximityKernels m_kernels;

    CtvxAnalysis::EAnalysisType m_type = CtvxAnalysis::FIRST_COLLISION;
    bool m_distanceMode = false;
    // The results being filled, held by the caller.
    CtvxCollision* m_collision = nullptr;
    CtvxDistance* m_distance = nullptr;
    bool m_collisionFound = false;
    Findings m_found;

    CtvxPolyhedronOBBTree const* m_tree1 = nullptr;
    CtvxPolyhedronOBBTree const* m_tree2 = nullptr;
    // The box arrays, null for a tree without boxes.
    CtvxOBB const* m_obbs1 = nullptr;
    CtvxOBB const* m_obbs2 = nullptr;
    // The roots' placements: P(root 1)^-1 * m_poly2ToPoly1 (once
    // readyRootToBox1() made it), and P(root 2) (kept in set 2).
    CtvxMat4 m_rootToBox1;
    CtvxMat4 const* m_rootPlacement2 = nullptr;
    // P(root 1)^-1 (kept in set 1), for the in-order walk's decoding.
    CtvxMat4 const* m_rootInverse1 = nullptr;
    bool m_rootToBox1Ready = false;
    // Both trees are small enough for the scratch's smallTrees.
    bool m_smallTrees = false;
    // The roots decoded, kept in the sets; null for a tree without boxes.
    CtvxPoly::KeptRoot const* m_keptRoot1 = nullptr;
    CtvxPoly::KeptRoot const* m_keptRoot2 = nullptr;
    // The pair's entry among the scratch's relative placements, for this
    // query.
    CtvxRelativePlacements::Entry* m_relative = nullptr;

    CtvxMat4 m_poly2ToPoly1;
    // maxTolerance() of both sets, summed in double and rounded: what the
    // box tests subtract.
    float m_polyTolerance = 0.0f;
    float m_margin = 0.0f;
    // The library's own polyhedron has one tolerance for all its triangles.
    bool m_uniformTolerance1 = false;
    bool m_uniformTolerance2 = false;
    float m_tolerance1 = 0.0f;
    float m_tolerance2 = 0.0f;
    CtvxDirectMesh m_direct1;
    CtvxDirectMesh m_direct2;

    unsigned long m_boxTests = 0;
    unsigned long m_triangleTests = 0;
    mutable unsigned long m_unsureTests = 0;
};
