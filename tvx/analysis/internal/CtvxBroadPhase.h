#pragma once

#include <tvx/analysis/CtvxAnalysis.h>
#include <tvx/analysis/internal/CtvxBoxTree.h>

#include <cstdint>
#include <vector>

class CtvxAssembly;
class CtvxCollisionList;
class CtvxObject;
class CtvxObjectOBB;
class CtvxPoly;
class CqarMat4;

// The broad phase of CtvxAnalysis::compute(): which object pairs of the two
// lists can be passed over without changing anything a query leaves behind.
//
// The driver examines the pairs (i, j) of list 1 x list 2 in list order.
// Most of them, far apart, leave no trace: no result, no lowered bound, no
// hint, no prioritary child. This class keeps, for every list entry, the
// world box of the first test its pairs start with (the root box of a
// triangle set, or an assembly's enclosing box) and a sphere around its
// centre, in a dynamic box tree, and hands the driver, row by row, the
// entries j that may leave a trace with entry i; settles(i, j, bound) then
// proves, for the running bound, that a candidate leaves none. Skipping
// exactly the pairs that leave no trace, the driver gives the answers of
// the pair-by-pair walk: the same pairs in the same order, the same
// results, hints and prioritary children.
//
// What a pair leaves depends on the query type:
// - EXACT_DISTANCE: only distances of triangles and hint points, each at
//   least the distance between the two boxes (they enclose the triangles,
//   the tolerances and the hints, all on the triangles): the pair is passed
//   over when a lower bound of the boxes' distance (spheres, world-aligned
//   bounds, face axes) exceeds the running bound;
// - FIRST_COLLISION and ALL_COLLISIONS: the first box test of the pair must
//   find a separating axis, else the walk reaches triangle pairs, whose test
//   rewrites the hints whether or not they touch;
// - ESTIMATED_DISTANCE: the first box test must find an axis along which the
//   boxes are apart by more than the running bound, else its separation may
//   become the pair's estimate.
// The box tests use the fifteen axes of the box kernels (the cross axes not
// normalised). Two triangle sets without boxes (one triangle each) are
// tested triangle to triangle at once: in those three types such pairs are
// always examined.
//
// All contacts take every candidate pair at once, from the pairs of
// overlapping leaves (kept from one compute to the next and updated for the
// leaves that changed), and keep them while nothing moves; the other types
// ask the tree row by row, a first contact ending at the first row that has
// one, a distance query with its bound as it falls.
//
// An entry is re-read when its object's revision() changed (it moved, or
// something below it changed) and costs one integer comparison otherwise.
// The whole cache is rebuilt when a list's revision() changed. Entries
// whose pairs cannot be bounded without side effects the walk would not
// have (an object whose box refresh would build a tree, a class of the
// host's, a locked object, a placement that is not rigid) are examined with
// every entry of the other list, as the pair-by-pair walk does.
class CtvxBroadPhase {
public:
    CtvxBroadPhase() = default;
    // Not copied: it points into itself (m_second), and an analysis's copy
    // starts with a scratch of its own.
    CtvxBroadPhase(CtvxBroadPhase const&) = delete;
    CtvxBroadPhase& operator=(CtvxBroadPhase const&) = delete;

    // When an analysis uses one, set in its scratch (tests and benchmarks
    // reach it through tests/support/AnalysisProbe.h): AUTOMATIC past a
    // number of object pairs, ALWAYS for any list sizes, NEVER keeps the
    // pair-by-pair walk, the reference the broad phase is checked against.
    enum EUse { AUTOMATIC, ALWAYS, NEVER };
    // Whether lists of these sizes go through a broad phase.
    static bool pays(EUse use, unsigned int count1, unsigned int count2);

    // The ranks in list 2 that row i may have to examine, ascending; valid
    // until the next call of row() or prepare().
    struct Row {
        unsigned int const* ranks;
        unsigned int count;
    };

    // Brings the cache up to date with the lists for one query. With
    // eachPairOnce and the same list on both sides, rows hold only ranks
    // above their own.
    void prepare(CtvxCollisionList const& list1, CtvxCollisionList const& list2, CtvxAnalysis::EAnalysisType type,
                 bool eachPairOnce);
    // Drops what was read from the lists (keeping the memory): for an
    // analysis given another list, which may even live where the old one did.
    void forget();
    // Rows are asked in increasing order of i within one query (a query
    // still in its lazy rows builds its tree first).
    Row row(unsigned int i, float bound);
    // A first contact on lists whose boxes were never gathered: the rows
    // are examined pair by pair in list order, reading each entry when it
    // is first met, before any tree is built; most such queries end within
    // a few rows, having read only the entries those rows met. The driver
    // asks meets(i, j) for each j of row i in increasing order, then
    // rowDone(); once a few rows went by without a contact the tree is
    // built there and lazy() turns false, the remaining rows being asked of
    // row() as in any other query.
    bool lazy() const { return m_lazy; }
    // Whether row i holds rank j of list 2: what row(i) would list.
    bool meets(unsigned int i, unsigned int j);
    void rowDone();
    // True when pair (i, j), examined with the running bound, provably
    // leaves no trace.
    bool settles(unsigned int i, unsigned int j, float bound) const;

    // Bytes held, for the benchmarks' memory figures.
    std::size_t bytes() const;

private:
    enum EState : unsigned char {
        UNSEEN, // not read yet
        INERT,  // no pair with it can leave a trace (empty entry, nothing active)
        BOXED,  // bounded by its box
        WILD    // examined with every entry of the other list
    };

    // One list entry and the box of the first test of its pairs.
    struct Slot {
        CtvxObject* object = nullptr;
        std::uint64_t revision = 0;
        EState state = UNSEEN;
        bool polyEnd = false; // the first test is on a triangle set's tree
        bool bare = false;    // ... whose tree has no box (a lone triangle)
        bool direct = false;  // ... the listed polyhedron's own, placed by it
        int leaf = CtvxBoxTree::kNone;
        std::uint64_t shape = 0; // the object's shapeRevision() when read
        unsigned int readAt = 0; // the prepare() that last read it
        float tolerance = 0;     // a triangle set's, included in half
        double centre[3] = {0, 0, 0};
        double axis[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}; // axis[k]: the box's k-th axis in the world
        double half[3] = {0, 0, 0};
        double extent[3] = {0, 0, 0}; // half extents along the world axes
        double reach = 0;             // radius of the sphere the coarse test uses
        double size = 0;              // scale of the rounding allowance
    };
    static_assert(sizeof(Slot) <= 200, "an entry's slot stays within 200 bytes");

    // The axes of the first box test of a pair: two enclosing boxes (BOXES),
    // two tree roots with the tolerances subtracted (TREES), the faces of
    // both boxes or of one box against a lone triangle.
    enum EAxes { BOXES, TREES, FACES, FACES_A, FACES_B };

    // A slot's centre and sphere radius, packed apart from the slots: the
    // pair walks test these for every pair of leaves they meet.
    struct Sphere {
        double centre[3];
        double reach;
    };

    struct Side {
        CtvxCollisionList const* list = nullptr;
        std::uint64_t listRevision = 0;
        std::vector<Slot> slots;
        std::vector<Sphere> spheres;
        CtvxBoxTree tree;
        std::vector<unsigned int> wild; // ranks of WILD entries
        std::vector<unsigned int> bare; // ranks of BOXED entries that are lone triangles
        std::vector<unsigned int> live; // ranks of entries that are not INERT
        bool fresh = false;             // the tree is to be built from scratch
        std::size_t refits = 0;         // leaves refitted since the tree was built
        // The prepare() that last made sure an entry is read (lazy rows).
        std::vector<unsigned int> checkedAt;
        // Entries whose leaf changed since the pairs of leaves were last
        // brought up to date.
        std::vector<unsigned int> touched;
        std::vector<bool> isTouched;
    };

    // Both return whether anything changed.
    bool sync(Side& side, CtvxCollisionList const& list);
    bool refresh(Side& side);
    void endLazy();
    // Reads entry k anew and brings its sphere along.
    void reread(Side& side, unsigned int k);
    // Entry k read for this query, in the lazy rows.
    Slot const& current(Side& side, unsigned int k);
    void read(Slot& slot);
    bool replace(Slot& slot);
    bool readChain(Slot& slot, CtvxObject* end);
    bool readPoly(Slot& slot, CtvxPoly* poly, CtvxObject* owner);
    static bool frame(Slot& slot, CqarMat4 const& placement, CqarMat4 const& boxFrame);
    bool place(Slot& slot, CtvxObject* owner, CtvxObjectOBB const& box, float const (&half)[3], double tolerance,
               bool polyEnd, bool bare);
    // Whether refreshing the stale boxes at and below the assembly is free
    // of side effects: no tree gets built, no class of the host is asked.
    bool refreshIsQuiet(CtvxAssembly* top);
    void collectPairs();
    void updateLeafPairs();
    void touch(Side& side, unsigned int k);
    void emit(std::vector<std::uint64_t>& pairs, unsigned int i, unsigned int j) const;
    static bool near(Sphere const& a, Sphere const& b, double inflation);
    // Which entries of list 2 a row holds, the one rule that row() and
    // meets() follow: an entry that leaves no trace meets nothing (INERT
    // on either side: NONE); one that cannot be bounded meets every live
    // entry (ALL); a lone triangle meets every other lone triangle (ALL;
    // but in the exact clearance, whose bound holds for them too); other
    // pairs meet where their spheres do (SPHERES). pairMeets() is the rule;
    // rowMeets() what entry a settles of it alone (NONE: the row is empty
    // and reads nothing of list 2; ALL: it holds every live entry), so that
    // row() and meets() can skip the rest.
    enum EMeet : unsigned char { NONE, ALL, SPHERES };
    static EMeet rowMeets(Slot const& a)
    {
        return a.state == WILD ? ALL : a.state == BOXED ? SPHERES : NONE;
    }
    static EMeet pairMeets(Slot const& a, Slot const& b, bool lonesMeet)
    {
        if (a.state == INERT || b.state == INERT)
            return NONE;
        if (a.state == WILD || b.state == WILD || (lonesMeet && a.polyEnd && a.bare && b.polyEnd && b.bare))
            return ALL;
        return SPHERES;
    }
    static bool apartBy(Slot const& a, Slot const& b, double threshold, EAxes axes);

    Side m_sides[2];
    Side* m_second = &m_sides[1];
    // The rows are being examined before the tree is built (lazy()), and
    // the row slots met since.
    bool m_lazy = false;
    std::size_t m_lazyMet = 0;
    bool m_same = false;
    bool m_once = false;
    CtvxAnalysis::EAnalysisType m_type = CtvxAnalysis::FIRST_COLLISION;
    // All contacts: every candidate pair, as (i << 32) | j, sorted; kept
    // while no entry changes.
    std::vector<std::uint64_t> m_pairs;
    // What rows are read from: m_pairs, or m_boxPairs when no entry meets
    // every other.
    std::vector<std::uint64_t> const* m_rowPairs = &m_pairs;
    bool m_pairsValid = false;
    bool m_pairsSame = false;
    bool m_pairsOnce = false;
    // The pairs of m_pairs that come from boxes (not from entries that meet
    // every other), sorted: a pair's verdict depends on its two boxes only,
    // so only the pairs of moved entries are looked at again.
    std::vector<std::uint64_t> m_boxPairs;
    bool m_boxPairsValid = false;
    bool m_boxPairsSame = false;
    bool m_boxPairsOnce = false;
    std::vector<std::uint64_t> m_newPairs;
    // prepare() calls, counted; the one that last brought m_boxPairs up to
    // date; entries read since.
    unsigned int m_epoch = 0;
    unsigned int m_boxEpoch = 0;
    std::size_t m_readSince = 0;
    // Pairs of overlapping leaves, (i << 32) | j (i < j for one list).
    std::vector<std::uint64_t> m_leafPairs;
    bool m_leafPairsValid = false;
    bool m_leafPairsSame = false;
    std::size_t m_cursor = 0;
    std::vector<unsigned int> m_row;
    // All contacts: the row m_row holds; every pair in it was found
    // unsettled when the pairs were collected.
    unsigned int m_rowOf = kNoRow;
    static constexpr unsigned int kNoRow = ~0u;
    std::vector<CtvxObject*> m_walk;
    std::vector<unsigned int> m_escaped;
    std::vector<unsigned int> m_bulkItems;
    std::vector<CtvxBoxTree::Box> m_bulkBoxes;
    std::vector<int> m_bulkLeaves;
};
