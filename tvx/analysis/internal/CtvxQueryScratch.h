#pragma once

#include <tvx/analysis/internal/CtvxBroadPhase.h>
#include <tvx/analysis/internal/CtvxKeptFront.h>
#include <tvx/bvtree/CtvxOBB.h>
#include <tvx/bvtree/CtvxPolyhedronOBBTree.h>
#include <tvx/bvtree/internal/CtvxObbReader.h>
#include <tvx/math/CtvxMat4.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

class CtvxPairContext;

// Which order the pair analysis walks its two trees in. Ordered: contact
// queries and the estimated distance depth first, first child first, with
// box placements kept by rank; the exact distance nearest first. Plain: the
// plain recursive order without kept placements, for every type; slower,
// and the reference the ordered walks are checked against (they must give
// its answers, bit for bit).
enum class CtvxWalk { Ordered, Plain };

// The placements of recently decoded boxes, by rank. A box takes part in
// several pairs, one for each box of the other tree it meets, and every such
// pair would decode it again: a walk keeps the last few hundred for the
// duration of one walk (placements in frame 1 depend on the pose), and
// reset() forgets them all at once by moving to a new stamp. What is kept of
// a box is a CtvxDecodedBox.
//
// The ranks and stamps lie apart from what is kept: a lookup that finds
// another rank reads one line of the small key array only, and a kept
// CtvxDecodedBox (64 bytes) fills one cache line of its own instead of
// straddling two, as it did beside its key (the caches of one walk are
// together twice the first-level cache, and a walk on large trees reads
// them at every pair it takes up again).
template <typename Kept, unsigned int Slots = 512>
class CtvxRankCache {
public:
    void reset()
    {
        if (++m_stamp == 0) {
            for (Key& k : m_keys)
                k.stamp = 0;
            m_stamp = 1;
        }
    }
    // The kept placement of that rank into out; false when none is kept.
    bool get(int rank, Kept& out) const
    {
        unsigned int const slot = static_cast<unsigned int>(rank) % Size;
        Key const& k = m_keys[slot];
        if (k.stamp != m_stamp || k.rank != rank)
            return false;
        out = m_kept[slot];
        return true;
    }
    void put(int rank, Kept const& m)
    {
        unsigned int const slot = static_cast<unsigned int>(rank) % Size;
        m_keys[slot].rank = rank;
        m_keys[slot].stamp = m_stamp;
        m_kept[slot] = m;
    }

private:
    static constexpr unsigned int Size = Slots;
    struct Key {
        int rank = -1;
        unsigned int stamp = 0;
    };
    alignas(64) Kept m_kept[Size];
    Key m_keys[Size];
    unsigned int m_stamp = 0;
};

// A box of either tree as the walks use it, decoded once for all the pairs
// it meets: its placement as the top three rows of an affine map
// (box 1: frame 2 into its frame, toBox1; box 2: its placement in frame 2,
// place2), its half-lengths in true lengths, and its size as stored, which
// chooses the box to split. Plain floats, copied as bytes.
struct CtvxDecodedBox {
    float m[3][4];
    float half[3];
    float size;
};
static_assert(sizeof(CtvxDecodedBox) == 64, "a decoded box fills one line of a rank cache");

// The boxes of small trees decoded once for the pairs of all queries of an
// analysis: a scene of many objects meets the few boxes of each of its
// shared trees in every pair, and a walk of two trees of a dozen boxes
// otherwise decodes most of them afresh (a third of a miss's walk between
// two cubes). What is kept of a box, its placement in its set's frame, that
// placement's inverse, its half lengths and its size, depends on its ten
// stored values and its tree's scale alone: an entry holds those and is
// taken only where the box in hand holds them too, so it can never stand
// for another box, tree or scale, whatever was freed or built since. The
// decodings are CtvxObbReader's, the inverse CtvxMat4::inverse(): the very
// floats a decoding in the walk gives.
class CtvxSmallTreeBoxes {
public:
    // Trees of at most this many boxes are kept (a set of 33 triangles):
    // a cube has 11, and the entries below hold a few such trees at once.
    static constexpr int kLargestTree = 32;

    struct Box {
        std::uint16_t stored[10] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
        float scale = 0.0f;
        bool set = false;
        float placement[3][4];
        float inverse[3][4];
        float half[3];
        float size;
    };

    // The box of that rank decoded, kept or made now.
    __attribute__((always_inline)) Box const& of(CtvxOBB const& box, CtvxPolyhedronOBBTree const& tree, int rank)
    {
        std::uintptr_t const key = reinterpret_cast<std::uintptr_t>(&tree) >> 4;
        Box& e = m_entries[(static_cast<unsigned int>(key * 0x9e3779b1u) + static_cast<unsigned int>(rank)) % Size];
        float const scale = tree.storedScale();
        if (!e.set || !CtvxObbReader::holdsStoredValues(box, e.stored) ||
            std::memcmp(&e.scale, &scale, sizeof scale) != 0)
            fill(e, box, tree, scale);
        return e;
    }

private:
    static void fill(Box& e, CtvxOBB const& box, CtvxPolyhedronOBBTree const& tree, float scale)
    {
        CtvxMat4 p;
        CtvxObbReader::placement(box, tree, p);
        CtvxMat4 const inverse = p.inverse();
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 4; ++j) {
                e.placement[i][j] = p(i, j);
                e.inverse[i][j] = inverse(i, j);
            }
        CtvxObbReader::trueHalfLengths(box, tree, e.half);
        e.size = CtvxObbReader::size(box);
        CtvxObbReader::storedValues(box, e.stored);
        e.scale = scale;
        e.set = true;
    }

    static constexpr unsigned int Size = 128;
    Box m_entries[Size];
};

// The frame of set 2 in set 1's frame, for the pairs of sets met lately,
// by the stamps of the two placements it was made from (see CtvxPoly): a
// pair of sets neither of which moved since takes it again instead of
// inverting and multiplying in double precision; and with it the map of
// frame 2 into the frame of set 1's root box, and the two roots as the
// in-order walk decodes them, each by the stamps of the roots' decodings it
// was made from. A stamp names one set's placement, or one decoding of a
// root, for good, so an entry can never be taken for another pair, pose or
// tree; stamps start at 1, and the empty entries hold 0. The entry is
// chosen by the two sets, not by the stamps: a pair whose set moved before
// the query finds its own entry again, warm in the caches, and a pose it
// left is never met again anyway (a set's stamps do not repeat).
class CtvxRelativePlacements {
public:
    struct Entry {
        std::uint64_t stamp1 = 0;
        std::uint64_t stamp2 = 0;
        // The decoding of root 1 that rootToBox1 was made from.
        std::uint64_t root1 = 0;
        // The decodings of roots 1 and 2 that roots[0] and roots[1] were
        // made from.
        std::uint64_t decoded1 = 0;
        std::uint64_t decoded2 = 0;
        CtvxMat4 poly2ToPoly1;
        // P(root 1)^-1 * poly2ToPoly1.
        CtvxMat4 rootToBox1;
        // Root 1 with toBox1, root 2 with place2, as decode1(0) and
        // decode2(0) give them.
        CtvxDecodedBox roots[2];
        // The contact queries' verdict on these two roots (overlap within
        // the tolerance), a function of their floats and the tolerance
        // alone: valid while neither root is decoded again and the summed
        // tolerance holds the same bits.
        bool verdictSet = false;
        bool rootsOverlap = false;
        // With it, the sets' fitted boxes found apart where the roots
        // overlap (CtvxPairContext::fittedBox, made with the roots'
        // decodings).
        bool cannotTouch = false;
        float verdictTolerance = 0.0f;
    };
    // The one entry that may hold the frame of this pair of sets.
    Entry& slot(void const* set1, void const* set2)
    {
        std::uint64_t const a = reinterpret_cast<std::uintptr_t>(set1);
        std::uint64_t const b = reinterpret_cast<std::uintptr_t>(set2);
        std::uint64_t const h = (a * 0x9E3779B97F4A7C15ull) ^ (b * 0xC2B2AE3D27D4EB4Full);
        return m_entries[h >> (64 - Bits)];
    }

private:
    static constexpr unsigned int Bits = 6;
    Entry m_entries[1u << Bits];
};

// A triangle of set 2 placed in frame 1, kept by the nearest-first walk
// for the pairs of triangles it visits: a front of facing surfaces pairs
// each such triangle with dozens of set 1's.
struct CtvxPlacedTriangle {
    float v[3][3];
};

// The map of frame 1 into a box of set 2's frame, its top three rows,
// kept by the nearest-first walk for the triangles of set 1 that box meets.
struct CtvxBoxFrameRows {
    float m[3][4];
};

// Pending steps of the walks. Each names a box or a triangle of each tree
// (CtvxNodeRef); a walk keeps them on an explicit stack, because degenerate
// meshes make trees as deep as they have triangles, and popping in last-in-
// first-out order visits pairs in the order a recursive descent would.

// The plain walk: the two refs only.
struct CtvxPlainStep {
    int first;
    int second;
};

// The in-order walk, with the boxes already decoded: the side that was not
// split keeps its parent's, so a step decodes one box at most.
struct CtvxOrderedStep {
    int first;
    int second;
    bool known1; // box1 holds box 1 decoded, with toBox1
    bool known2; // box2 holds box 2 decoded, with place2
    CtvxDecodedBox box1;
    CtvxDecodedBox box2;
};

// The nearest-first walk: a pair already tested, with the lower bound of its
// clearance that the test gave (minus infinity when the boxes overlap), its
// depth and its rank in the in-order walk (child choices as bits, first
// split highest, one bit a level, up to 128 levels). 32 bytes: the boxes'
// placements are not kept with it (a pending pair is copied into the pool,
// moved in the heap's order and copied out again) but decoded again by rank
// when it is taken, most often from the rank caches.
struct CtvxNearStep {
    int first;
    int second;
    float bound;
    int level;
    std::uint64_t rank[2];
};

// A pending pair of the nearest-first walk: its bound, raised to zero, and
// where its step is kept. The walk takes the pair of least bound next, of
// two equal bounds the later kept: among pairs that may touch (bounds of
// zero or below, whose order says nothing of where a contact lies) it goes
// depth first, as a stack would, down to a contact or a first distance.
struct CtvxNearKey {
    // The bound's bits above the step's complement: a bound of zero or more
    // orders as its bits do, so one integer comparison orders the pairs.
    std::uint64_t order;

    CtvxNearKey(float bound, std::uint32_t step)
    {
        float const b = bound > 0.0f ? bound : 0.0f;
        std::uint32_t bits;
        std::memcpy(&bits, &b, sizeof bits);
        order = (std::uint64_t(bits) << 32) | std::uint64_t(~step);
    }
    std::uint32_t step() const { return ~static_cast<std::uint32_t>(order); }
    // True when this pair is taken after `other`.
    bool after(CtvxNearKey const& other) const { return order > other.order; }
};

// The nearest-first walk's pending pairs, least key on top: a heap of four
// children a node, half as deep as a binary one, whose children lie side
// by side in one cache line. Keys are distinct (each names its own step),
// so the order pairs are taken in is that of their keys, whatever the
// heap's shape. While it dives, the walk uses it as a stack (append,
// popBack) and orders it once (heapify). The top can be taken and replaced
// in one pass (replaceTop), which a step that keeps one child and takes
// the other in hand does instead of a pop and a push.
class CtvxNearHeap {
public:
    bool empty() const { return m_keys.empty(); }
    std::size_t size() const { return m_keys.size(); }
    void clear() { m_keys.clear(); }
    CtvxNearKey const* begin() const { return m_keys.data(); }
    CtvxNearKey const* end() const { return m_keys.data() + m_keys.size(); }

    void append(CtvxNearKey k) { m_keys.push_back(k); }
    void popBack() { m_keys.pop_back(); }
    void heapify()
    {
        std::size_t const n = m_keys.size();
        for (std::size_t i = n > 1 ? (n - 2) / 4 + 1 : 0; i-- > 0;)
            siftDown(i, m_keys[i]);
    }

    CtvxNearKey const& top() const { return m_keys.front(); }
    // The key taken after the top (the least of its children) into out;
    // false when the top is alone.
    bool next(CtvxNearKey& out) const
    {
        std::size_t const n = m_keys.size();
        if (n < 2)
            return false;
        std::uint64_t least = m_keys[1].order;
        for (std::size_t c = 2; c < n && c < 5; ++c)
            least = m_keys[c].order < least ? m_keys[c].order : least;
        out.order = least;
        return true;
    }
    void push(CtvxNearKey k)
    {
        std::size_t i = m_keys.size();
        m_keys.push_back(k);
        while (i > 0) {
            std::size_t const parent = (i - 1) / 4;
            if (!(k.order < m_keys[parent].order))
                break;
            m_keys[i] = m_keys[parent];
            i = parent;
        }
        m_keys[i] = k;
    }
    void pop()
    {
        CtvxNearKey const last = m_keys.back();
        m_keys.pop_back();
        if (!m_keys.empty())
            siftDown(0, last);
    }
    void replaceTop(CtvxNearKey k) { siftDown(0, k); }

private:
    // Places k at the hole or below it, moving up the least child while it
    // comes before k.
    void siftDown(std::size_t hole, CtvxNearKey k)
    {
        std::size_t const n = m_keys.size();
        CtvxNearKey* const keys = m_keys.data();
        for (;;) {
            std::size_t const first = 4 * hole + 1;
            if (first >= n)
                break;
            std::size_t least = first;
            if (first + 3 < n) {
                std::size_t const a = keys[first + 1].order < keys[first].order ? first + 1 : first;
                std::size_t const b = keys[first + 3].order < keys[first + 2].order ? first + 3 : first + 2;
                least = keys[b].order < keys[a].order ? b : a;
            } else
                for (std::size_t c = first + 1; c < n; ++c)
                    least = keys[c].order < keys[least].order ? c : least;
            if (!(keys[least].order < k.order))
                break;
            keys[hole] = keys[least];
            hole = least;
        }
        keys[hole] = k;
    }

    std::vector<CtvxNearKey> m_keys;
};

// What the queries of one analysis work in, owned by that analysis and
// handed down to each of its pair analyses: the step stacks and placement
// caches (kept between queries, so that a query allocates nothing once the
// deepest pair of trees has been seen), the walk its pairs take and the
// counters of its last compute(), and the broad phase that its driver keeps
// from one compute() to the next. Nothing here is shared between analyses,
// so a query that runs inside another on the same thread (a host's
// getTriangle that asks a question of its own) works in its own scratch and
// leaves the outer query's steps and placements alone.
struct CtvxQueryScratch {
    CtvxWalk walk = CtvxWalk::Ordered;
    CtvxBroadPhase::EUse broadUse = CtvxBroadPhase::AUTOMATIC;
    // Box tests (enclosing boxes and tree boxes), triangle tests, and the
    // triangle decisions that single precision could not settle, of the last
    // compute(), for benchmarks and tests.
    unsigned long boxTests = 0;
    unsigned long triangleTests = 0;
    unsigned long unsureTests = 0;

    std::vector<CtvxPlainStep> plainSteps;
    std::vector<CtvxOrderedStep> orderedSteps;
    std::vector<CtvxNearStep> nearSteps;
    // The nearest-first walk's pending pairs, ordered as a heap over their
    // steps in nearSteps.
    CtvxNearHeap nearHeap;
    // The boxes the walks decoded, by rank, box 1 with the map of frame 2
    // into its frame, box 2 with its own placement in frame 2.
    CtvxRankCache<CtvxDecodedBox> decoded1Cache;
    CtvxRankCache<CtvxDecodedBox> decoded2Cache;
    // The boxes of small trees, kept from one pair and query to the next.
    CtvxSmallTreeBoxes smallTrees;
    // Triangles of set 2 in frame 1, by ref, for one nearest-first walk.
    CtvxRankCache<CtvxPlacedTriangle> placed2Cache;
    // Frame 1 into the frames of boxes of set 2, by ref, for the visits
    // of one pose of one pair of sets (reset as the pair starts).
    CtvxRankCache<CtvxBoxFrameRows> toBox2Cache;
    // Frame 2 into frame 1 of the pairs of sets met lately.
    CtvxRelativePlacements relative;

    // The world boxes of the lists' entries, kept between computes.
    CtvxBroadPhase broad;
    // The fronts of the last exact clearance queries, by pair of sets, and
    // how far each node of set 2 met in the front resumed moved since it
    // was kept, by ref: the fronts of facing surfaces pair a few hundred
    // nodes of set 2 with as many of set 1.
    CtvxKeptFronts fronts;
    CtvxRankCache<float, 2048> frontMoves;
    // The driver's pair context, made at its first pair.
    std::unique_ptr<CtvxPairContext> pair;
};
