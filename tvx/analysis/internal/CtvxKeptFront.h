#pragma once

#include <tvx/math/CtvxMat4.h>

#include <boost/shared_ptr.hpp>
#include <boost/weak_ptr.hpp>

#include <cstddef>
#include <cstdint>
#include <vector>

class CtvxPoly;
class CtvxPolyhedronBVTree;

// A pair where the nearest-first walk stopped: pruned by a bound, still
// pending when the walk ended, or a pair of triangles tested. Everything
// needed to resume there: the two refs (placements are decoded from the
// box ranks), the lower bound of the pair's clearance at the pose it was
// measured at, its depth and its rank in the in-order walk.
struct CtvxFrontEntry {
    int first;
    int second;
    float bound;
    int level;
    std::uint64_t rank[2];
};

// How far the points of set 2 can have moved relative to set 1 between the
// pose a kept front was measured at and the pose of the query that resumes
// it: the map of frame 2 into frame 1 changed by x -> D x + s, in double.
// The front's first test lowers every entry by the move of set 2's whole
// ball (ofBall); an entry that does not pass on it is lowered by the move
// of its own node of set 2, a box (its centre's move plus the change of
// the linear part times its half diagonal) or a triangle (its farthest
// corner's move, the move being affine), which near the axis of a turn is
// far smaller.
class CtvxFrontMotion {
public:
    void between(CtvxMat4 const& before, CtvxMat4 const& now);
    // Each a bound of the move of any point of the node, rounded up: the
    // ball of that centre and radius, a triangle of set 2 (frame 2), box 2
    // placed by the three rows of place (frame 2) with half-lengths h.
    float ofBall(float const (&centre)[3], float radius) const;
    float ofTriangle(float const (&v)[3][3]) const;
    float ofBox(float const (&place)[3][4], float const (&h)[3]) const;

private:
    float roundedUp(double move, double scale) const;
    double m_d[3][3] = {};
    double m_s[3] = {};
    // A bound of the spectral norm of D.
    double m_norm = 0.0;
    // |s| summed and the largest row sum of |D|: what the roundings of a
    // move are measured against.
    double m_shift1 = 0.0;
    double m_rows = 0.0;
};

// What a nearest-first walk does with fronts: the front to resume from, with
// how far its bounds are lowered (null: walk from the roots), and where to
// record the front it stops at (null: record none). overflow is raised when
// the recorded front would pass CtvxKeptFronts::Cap, which makes it useless.
// An entry that the lowering does not settle is lowered again by its own
// node's move (motion) and the rounding margins of both poses (margins)
// before it is tested afresh.
struct CtvxFrontWork {
    std::vector<CtvxFrontEntry> const* resume = nullptr;
    float lowering = 0.0f;
    CtvxFrontMotion motion;
    float margins = 0.0f;
    std::vector<CtvxFrontEntry>* record = nullptr;
    bool overflow = false;
};

// The front of the last exact clearance query of one pair of triangle sets
// that ended without contact: pairs that together cover every triangle pair
// of the two trees, each with a lower bound of its clearance. The next
// exact query of the same pair, after a small motion, lowers every bound by
// how far the motion can have carried any point of set 2 relative to set 1
// and resumes the nearest-first walk from these pairs instead of the roots:
// it opens only those whose lowered bound is not above the best distance,
// and gives the fresh walk's answers, bit for bit. Valid only while both
// sets, both trees and the summed tolerance the bounds subtract are those
// it was measured with (matches()); nothing else a bound depends on can
// change without replacing a tree.
struct CtvxKeptFront {
    // The sets and trees by owner: a weak pointer keeps the owner's count
    // block allocated, so a new object at a freed one's address is never
    // taken for it.
    boost::weak_ptr<CtvxPoly> poly1;
    boost::weak_ptr<CtvxPoly> poly2;
    boost::weak_ptr<CtvxPolyhedronBVTree> tree1;
    boost::weak_ptr<CtvxPolyhedronBVTree> tree2;
    float polyTolerance = 0.0f;
    // Frame 2 into frame 1 as the walk used it, and the walk's margin.
    CtvxMat4 poly2ToPoly1;
    float margin = 0.0f;
    // The size of the front the last walk from the roots ended with: a
    // front that grows well beyond it is dropped.
    std::size_t freshSize = 0;
    // The tests (box and triangle) of the walks since the front was last
    // measured from the roots, that walk's included, how many walks those
    // were, and the tests of the last one.
    unsigned long cycleTests = 0;
    unsigned long cycleWalks = 0;
    unsigned long lastTests = 0;
    bool valid = false;
    unsigned long lastUse = 0;
    std::vector<CtvxFrontEntry> entries;

    bool holds(boost::shared_ptr<CtvxPoly> const& p1, boost::shared_ptr<CtvxPoly> const& p2) const
    {
        return sameOwner(poly1, p1) && sameOwner(poly2, p2);
    }
    bool matches(boost::shared_ptr<CtvxPolyhedronBVTree> const& t1, boost::shared_ptr<CtvxPolyhedronBVTree> const& t2,
                 float tolerance) const
    {
        return valid && sameOwner(tree1, t1) && sameOwner(tree2, t2) && polyTolerance == tolerance;
    }
    template <class T>
    static bool sameOwner(boost::weak_ptr<T> const& w, boost::shared_ptr<T> const& s)
    {
        return s && !w.owner_before(s) && !s.owner_before(w);
    }
};

// The fronts an analysis keeps, one per pair of sets for the few pairs it
// queried last (an exact query between lists of many objects walks several
// pairs of sets), with the working front of the walk in progress. Fronts
// grow to the largest walk seen and are released with the analysis; no
// memory is allocated once every kept pair has been walked at its largest.
class CtvxKeptFronts {
public:
    // Off by default: a query made once (a typed analysis of its own) keeps
    // nothing for a next one.
    bool enabled = false;
    // The front a walk records into, swapped with its pair's afterwards.
    std::vector<CtvxFrontEntry> working;
    // Walks resumed from a kept front so far, for tests and benchmarks.
    unsigned long resumes = 0;

    // The front kept for this pair of sets, or null.
    CtvxKeptFront* find(boost::shared_ptr<CtvxPoly> const& p1, boost::shared_ptr<CtvxPoly> const& p2)
    {
        for (CtvxKeptFront& f : m_fronts)
            if (f.valid && f.holds(p1, p2)) {
                f.lastUse = ++m_clock;
                return &f;
            }
        return nullptr;
    }
    // A place for this pair's front: its own, or the one least recently
    // used.
    CtvxKeptFront& place(boost::shared_ptr<CtvxPoly> const& p1, boost::shared_ptr<CtvxPoly> const& p2);
    // Forgets every front (memory stays for the next ones).
    void forget()
    {
        for (CtvxKeptFront& f : m_fronts)
            f.valid = false;
    }

    // The largest front kept for a pair: 2^18 entries, 8 MB. A walk whose
    // front would exceed it keeps none.
    static constexpr std::size_t Cap = std::size_t(1) << 18;
    // How far a front may grow beyond the one a walk from the roots ended
    // with before it is dropped: resumed over many motions, bounds lowered
    // again and again leave more pairs in it than a fresh walk would.
    static bool outgrown(CtvxKeptFront const& f) { return f.entries.size() > 4 * f.freshSize + 256; }
    // Whether the next walk of the pair is cheaper from the roots. A front
    // only grows finer as it is resumed, so each resumed walk costs about
    // as much as the last or more; a cycle of one walk from the roots and k
    // resumed walks costs least on average where the next resumed walk
    // would cost more than that average, so the cycle ends once the last
    // resumed walk cost at least the average of its cycle so far.
    static bool spent(CtvxKeptFront const& f) { return f.cycleWalks > 1 && f.lastTests * f.cycleWalks >= f.cycleTests; }
    // Counts a walk of the front's cycle: from the roots (a new cycle) or
    // resumed, and its tests.
    static void count(CtvxKeptFront& f, bool resumed, unsigned long tests)
    {
        f.cycleTests = resumed ? f.cycleTests + tests : tests;
        f.cycleWalks = resumed ? f.cycleWalks + 1 : 1;
        f.lastTests = tests;
    }

    // A sound bound on how far any point within radius of centre (frame 2)
    // moves, in frame 1, between the maps before and now of frame 2 into
    // frame 1, rounded up; infinity when it cannot be bounded.
    static float motionAllowance(CtvxMat4 const& before, CtvxMat4 const& now, float const (&centre)[3], float radius);

private:
    static constexpr int Count = 4;
    CtvxKeptFront m_fronts[Count];
    unsigned long m_clock = 0;
};
