#include <tvx/analysis/internal/CtvxBroadPhase.h>

#include <tvx/bvtree/CtvxPolyhedronOBBTree.h>
#include <tvx/bvtree/CtvxPolyhedronOBBTreeFactory.h>
#include <tvx/internal/CtvxDebugAssert.h>
#include <tvx/geometry/CtvxPolyhedron.h>
#include <tvx/scene/CtvxAssembly.h>
#include <tvx/scene/CtvxCollisionList.h>
#include <tvx/scene/CtvxObjectOBB.h>
#include <tvx/scene/CtvxPolyhedronGroup.h>

#include <qar/CqarMat4.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <limits>
#include <typeinfo>

namespace {

// Rounding allowance, relative to the magnitudes in play (the distance of
// the two box centres, the half lengths, the offset of each box centre from
// its own frame's origin). It absorbs what separates our double-precision
// view of a pair from the walk's own arithmetic: a few float roundings
// (2^-24 each) in the walk's box and triangle kernels and in the placement
// they compose, the float decoding of the root box against the set's own
// box, the mend margin of the boxes (2^-20), and the 1e-6 by which the
// enclosing-box test widens its rotation magnitudes. 2^-14 is sixteen times
// the largest of these and still too small to matter to the pruning.
double const kAllowance = 1.0 / 16384.0;

// The coarse test's sphere radii carry the sqrt(3) of the face-axis bound
// (see place()) and 1 + 2 kAllowance for the allowance on the centre
// distance itself.
double const kReachFactor = 1.7320508075688772 * (1.0 + 2.0 * kAllowance);

// A placement whose rotation block departs from orthonormal by more than
// this (in any element of its Gram matrix) is not treated as rigid; the
// bounds below assume unit, orthogonal box axes. Drift from composing
// thousands of placements stays near 1e-15.
double const kRigidity = 1.0 / 1048576.0; // 2^-20

// Leaves are stored grown by this fraction of their sphere's radius, so that
// an object moving by less than that costs no change of the tree; larger,
// the walks meet more pairs of leaves.
double const kFatMargin = 0.1;

// When more than this share of the boxed entries left their leaves, the tree
// is built anew: a top-down build costs about what a few dozen insertions
// (each a descent and a rebalancing walk back up) cost per hundred entries.
double const kRebuildShare = 0.125;

// Object pairs (count1 x count2) from which the broad phase is used.
// Measured with callgrind (bench/manager_compare --crossover, every object
// moved before every query, the broad phase's worst case): with two or
// three objects, re-reading the moved entries costs a first contact or an
// estimated clearance up to three quarters more than the few box tests it
// saves; from four objects on it is never dearer, and at 64 pairs (eight
// objects against each other) 2 to 6 times cheaper.
unsigned long const kCrossoverPairs = 64;

float roundDown(double v)
{
    float f = static_cast<float>(v);
    if (static_cast<double>(f) > v)
        f = std::nextafter(f, -std::numeric_limits<float>::infinity());
    return f;
}

float roundUp(double v)
{
    float f = static_cast<float>(v);
    if (static_cast<double>(f) < v)
        f = std::nextafter(f, std::numeric_limits<float>::infinity());
    return f;
}

// Whether the box holds cubeAround(c, r), asked without rounding: a float
// bound lies below the largest float under c - r exactly when it lies below
// c - r itself, so the answer is the same.
bool holds(CtvxBoxTree::Box const& b, double const (&c)[3], double r)
{
    for (int k = 0; k < 3; ++k)
        if (!(static_cast<double>(b.lo[k]) <= c[k] - r && c[k] + r <= static_cast<double>(b.hi[k])))
            return false;
    return true;
}

CtvxBoxTree::Box cubeAround(double const (&c)[3], double r)
{
    CtvxBoxTree::Box b;
    for (int k = 0; k < 3; ++k) {
        b.lo[k] = roundDown(c[k] - r);
        b.hi[k] = roundUp(c[k] + r);
    }
    return b;
}

// Whether refreshing the box of this set builds its tree, as the set's box
// refresh does when activated: a stale tree is rebuilt, a missing one built
// unless its last build was refused and the triangles have not changed.
bool boxRefreshBuilds(CtvxPoly const& p)
{
    return p.isActivatedForAnalysis() && (p.isBVStale() || (!p.isBVConstructed() && !p.isBVRefused()));
}

double dot3(double const (&a)[3], double const (&b)[3])
{
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

} // namespace

bool CtvxBroadPhase::pays(EUse use, unsigned int count1, unsigned int count2)
{
    if (use == NEVER)
        return false;
    bool const many = static_cast<unsigned long>(count1) * count2 >= kCrossoverPairs;
    if (use == AUTOMATIC && !many)
        return false;
    // Boxes enlarged to survive their binary16 rounding are what lets a
    // set's own box stand for its triangles; without them (a setting for
    // measurements) the walk over all pairs stays the only one.
    if (!CtvxPolyhedronOBBTreeFactory::conservativeBoxes())
        return false;
    return true;
}

// ---------------------------------------------------------------------------
// Reading the entries

void CtvxBroadPhase::prepare(CtvxCollisionList const& list1, CtvxCollisionList const& list2,
                             CtvxAnalysis::EAnalysisType type, bool eachPairOnce)
{
    m_same = &list1 == &list2;
    m_second = m_same ? &m_sides[0] : &m_sides[1];
    m_once = eachPairOnce && m_same;
    m_type = type;
    if (++m_epoch == 0) {
        // Counted round: every entry counts as read since, and none as
        // checked in this query.
        for (Side& side : m_sides) {
            for (Slot& s : side.slots)
                s.readAt = 0;
            std::fill(side.checkedAt.begin(), side.checkedAt.end(), 0u);
        }
        m_epoch = 1;
        m_boxPairsValid = false;
    }
    m_cursor = 0;
    m_rowOf = kNoRow;
    m_lazy = false;
    bool changed = sync(m_sides[0], list1);
    if (!m_same)
        changed = sync(m_sides[1], list2) || changed;
    // A first contact over boxes never gathered: the rows are examined
    // before the tree is built, and most end the query first.
    if (type == CtvxAnalysis::FIRST_COLLISION && m_sides[0].fresh && m_second->fresh) {
        m_lazy = true;
        m_lazyMet = 0;
        m_pairsValid = false;
        return;
    }
    changed = refresh(m_sides[0]) || changed;
    if (!m_same)
        changed = refresh(m_sides[1]) || changed;
    // The contact queries' pairs depend on the boxes only: a scene in which
    // nothing moved keeps them.
    if (changed || m_pairsSame != m_same || m_pairsOnce != m_once)
        m_pairsValid = false;
    if (type == CtvxAnalysis::ALL_COLLISIONS && !m_pairsValid) {
        collectPairs();
        m_pairsValid = true;
        m_pairsSame = m_same;
        m_pairsOnce = m_once;
    }
}

void CtvxBroadPhase::forget()
{
    for (Side& side : m_sides) {
        side.list = nullptr;
        side.slots.clear();
        side.tree.clear();
    }
    m_pairsValid = false;
    m_rowOf = kNoRow;
    m_leafPairsValid = false;
    m_boxPairsValid = false;
}

void CtvxBroadPhase::touch(Side& side, unsigned int k)
{
    if (!side.isTouched[k]) {
        side.isTouched[k] = true;
        side.touched.push_back(k);
    }
}

bool CtvxBroadPhase::sync(Side& side, CtvxCollisionList const& list)
{
    if (side.list == &list && side.listRevision == list.revision())
        return false;
    side.list = &list;
    side.listRevision = list.revision();
    side.tree.clear();
    side.fresh = true;
    unsigned int const n = list.countObjects();
    side.slots.assign(n, Slot());
    side.spheres.assign(n, Sphere());
    side.isTouched.assign(n, false);
    side.checkedAt.assign(n, 0);
    side.touched.clear();
    m_leafPairsValid = false;
    m_boxPairsValid = false;
    for (unsigned int k = 0; k < n; ++k)
        side.slots[k].object = list.object(k).get();
    return true;
}

// Inlined in refresh()'s loop, where every moved entry passes.
inline void CtvxBroadPhase::reread(Side& side, unsigned int k)
{
    Slot& s = side.slots[k];
    if (!replace(s))
        read(s);
    s.readAt = m_epoch;
    ++m_readSince;
    Sphere& sphere = side.spheres[k];
    for (int c = 0; c < 3; ++c)
        sphere.centre[c] = s.centre[c];
    sphere.reach = s.reach;
}

bool CtvxBroadPhase::refresh(Side& side)
{
    bool changed = false;
    side.wild.clear();
    side.bare.clear();
    side.live.clear();
    m_escaped.clear();
    unsigned int const n = static_cast<unsigned int>(side.slots.size());
    for (unsigned int k = 0; k < n; ++k) {
        Slot& s = side.slots[k];
        if (s.state == UNSEEN || (s.object && s.object->revision() != s.revision)) {
            changed = true;
            reread(side, k);
            if (s.state == BOXED) {
                if (s.leaf == CtvxBoxTree::kNone || !holds(side.tree.box(s.leaf), s.centre, s.reach))
                    m_escaped.push_back(k);
            } else if (s.leaf != CtvxBoxTree::kNone) {
                side.tree.remove(s.leaf);
                s.leaf = CtvxBoxTree::kNone;
                touch(side, k);
            }
        }
        if (s.state == INERT)
            continue;
        side.live.push_back(k);
        if (s.state == WILD)
            side.wild.push_back(k);
        else if (s.polyEnd && s.bare)
            side.bare.push_back(k);
    }
    // A new list, or many entries out of their leaves: one top-down build
    // costs less than that many removals and insertions. So is a tree whose
    // leaves were refitted where they stood as many times as it has
    // entries: the refitted nodes have grown, and the walks meet more of
    // them.
    side.refits += m_escaped.size();
    if (side.fresh || m_escaped.size() > kRebuildShare * side.live.size() || side.refits > side.live.size()) {
        m_bulkItems.clear();
        for (unsigned int k : side.live)
            if (side.slots[k].state == BOXED)
                m_bulkItems.push_back(k);
        m_bulkBoxes.resize(n);
        m_bulkLeaves.assign(n, CtvxBoxTree::kNone);
        for (unsigned int k : m_bulkItems)
            m_bulkBoxes[k] = cubeAround(side.slots[k].centre, side.slots[k].reach * (1.0 + kFatMargin));
        side.tree.build(m_bulkItems, m_bulkBoxes, m_bulkLeaves);
        for (unsigned int k : m_bulkItems)
            side.slots[k].leaf = m_bulkLeaves[k];
        side.fresh = false;
        side.refits = 0;
        m_leafPairsValid = false;
    } else {
        // An entry that moved out of its leaf is refitted where it stands:
        // a descent and the rotations of an insertion cost about 5,000
        // instructions, the refit a few nodes' boxes.
        for (unsigned int k : m_escaped) {
            Slot& s = side.slots[k];
            CtvxBoxTree::Box const box = cubeAround(s.centre, s.reach * (1.0 + kFatMargin));
            if (s.leaf != CtvxBoxTree::kNone)
                side.tree.refit(s.leaf, box);
            else
                s.leaf = side.tree.insert(k, box);
            touch(side, k);
        }
    }
    return changed;
}

void CtvxBroadPhase::read(Slot& s)
{
    CtvxObject* const o = s.object;
    s.state = WILD;
    s.polyEnd = false;
    s.bare = false;
    s.direct = false;
    if (!o) {
        s.state = INERT;
        return;
    }
    std::type_info const& type = typeid(*o);
    if (type == typeid(CtvxPolyhedron)) {
        s.direct = readPoly(s, static_cast<CtvxPolyhedron*>(o), o);
    } else if (type == typeid(CtvxAssembly)) {
        CtvxAssembly* const a = static_cast<CtvxAssembly*>(o);
        if (a->isLocked()) {
            // Its points live in a regrouped assembly's frame.
        } else if (a->m_isRegrouped && a->m_regroupedPoly) {
            readPoly(s, a->m_regroupedPoly.get(), a);
        } else {
            // The walk refreshes a stale box when it first tests it; doing
            // it now is the same unless the refresh would build a tree.
            if (!a->m_needToRecomputeObb || refreshIsQuiet(a)) {
                if (a->m_needToRecomputeObb)
                    a->computeObb();
                if (a->m_holdsUnbuiltGeometry) {
                    // Geometry below without a tree is left out of the box,
                    // and the walk notes it whenever it meets the assembly:
                    // every entry meets it.
                } else if (a->m_obbState == CtvxObject::OBB_NONE)
                    s.state = INERT;
                else
                    readChain(s, a);
            }
        }
    } else if (!dynamic_cast<CtvxVirtualPolyhedron*>(o) && !dynamic_cast<CtvxAssembly*>(o)) {
        // Neither a triangle set nor an assembly: the walk examines nothing.
        s.state = INERT;
    }
    // Read after any refresh above, which advances it.
    s.revision = o->revision();
    s.shape = o->shapeRevision();
}

// A polyhedron that only moved since it was last bounded by its own root
// box: the box, its half lengths and the tolerance read then still hold
// (any change of the triangles, the tree, the tolerance, the activation or
// the locking advances the shape revision), so only the placement is read
// again. False when the entry must be read in full.
bool CtvxBroadPhase::replace(Slot& s)
{
    CtvxObject* const o = s.object;
    if (!o || !s.direct || s.state != BOXED || o->shapeRevision() != s.shape || o->isLocked())
        return false;
    CtvxObjectOBB const* const box = static_cast<CtvxPolyhedron*>(o)->polyObb();
    if (!box)
        return false;
    // The half lengths, the tolerance and with them the sphere's radius
    // and the allowance's scale are the box's own: only the frame moved.
    s.state = frame(s, o->currentAbsolutePosition(), box->relativePosition()) ? BOXED : WILD;
    s.revision = o->revision();
    return true;
}

// The first test of an assembly's pairs: its own enclosing box, or, when it
// holds a single boxed child (whose box it shares), that child's first test.
bool CtvxBroadPhase::readChain(Slot& s, CtvxObject* end)
{
    for (;;) {
        std::type_info const& type = typeid(*end);
        if (type == typeid(CtvxPolyhedron))
            return readPoly(s, static_cast<CtvxPolyhedron*>(end), end);
        if (type != typeid(CtvxAssembly))
            return false;
        CtvxAssembly* const a = static_cast<CtvxAssembly*>(end);
        if (a->isLocked())
            return false;
        if (a->m_isRegrouped && a->m_regroupedPoly)
            return readPoly(s, a->m_regroupedPoly.get(), a);
        if (a->m_obbState == CtvxObject::OBB_COMPUTED) {
            float h[3];
            a->enclosingObb()->getHalfLengths(h[0], h[1], h[2]);
            return place(s, a, *a->enclosingObb(), h, 0.0, false, false);
        }
        if (a->m_obbState != CtvxObject::OBB_SINGLE_CHILD)
            return false;
        // The box is current, so are the children's; the others have none.
        CtvxObject* next = nullptr;
        for (auto const& c : a->m_children)
            if (c && c->m_obbState != CtvxObject::OBB_NONE)
                next = c.get();
        if (!next)
            return false;
        end = next;
    }
}

// A triangle set: its pairs with other sets start at the roots of the two
// trees, and with an assembly at the set's enclosing box, which for the
// library's own classes is the set's own box (the tree's root, mended to
// hold the triangles) grown by the tolerance, placed by the owner.
bool CtvxBroadPhase::readPoly(Slot& s, CtvxPoly* poly, CtvxObject* owner)
{
    if (owner->isLocked())
        return false;
    if (!poly->isActivatedForAnalysis()) {
        s.state = INERT;
        return true;
    }
    // A box asked of a set without a tree builds one: the walk does that
    // only when it meets the set against an assembly. A set whose tree is
    // stale (rebuilt by the walk when it meets it), refused or missing is
    // examined with every entry, so that the walk notes it unexamined
    // wherever examining every pair would.
    if (!poly->hasUsableTree())
        return false;
    CtvxPolyhedronBVTree* bv = nullptr;
    poly->getBoundingVolumes(bv);
    // The library builds box trees of this very class: the test of the
    // dynamic type spares the cast's walk of the class graph (a third of
    // reading an entry), which a host's own tree class still takes.
    CtvxPolyhedronOBBTree const* const tree = bv && typeid(*bv) == typeid(CtvxPolyhedronOBBTree)
                                                  ? static_cast<CtvxPolyhedronOBBTree const*>(bv)
                                                  : dynamic_cast<CtvxPolyhedronOBBTree const*>(bv);
    CtvxObjectOBB const* const box = poly->polyObb();
    unsigned int const n = poly->countTriangles();
    if (!box || !tree) {
        // A tree over no triangle: nothing to examine while the set stays
        // empty.
        if (n == 0)
            s.state = INERT;
        return n == 0;
    }
    // A tree that no longer fits the triangles is skipped by the pair
    // analysis but its box is still tested against assemblies.
    if (!(static_cast<unsigned int>(tree->countObbs()) < n))
        return false;
    float h[3];
    box->getHalfLengths(h[0], h[1], h[2]);
    // As the enclosing box is made: the tolerance added in single precision.
    float const t = static_cast<float>(poly->maxTolerance());
    for (float& v : h)
        v += t;
    return place(s, owner, *box, h, static_cast<double>(t), true, tree->countObbs() == 0);
}

// The box's frame in the world, A * E, and its extents along the world
// axes (s.half already set); false when the frame is not finite or not
// rigid.
bool CtvxBroadPhase::frame(Slot& s, CqarMat4 const& a, CqarMat4 const& e)
{
    for (int i = 0; i < 3; ++i) {
        double c = a(i, 3);
        for (int m = 0; m < 3; ++m) {
            c += a(i, m) * e(m, 3);
            for (int k = 0; k < 3; ++k)
                s.axis[k][i] = (m == 0 ? 0.0 : s.axis[k][i]) + a(i, m) * e(m, k);
        }
        s.centre[i] = c;
    }
    bool rigid = true;
    for (int k = 0; k < 3; ++k) {
        rigid = rigid && std::isfinite(s.centre[k]);
        for (int l = k; l < 3; ++l) { // the Gram matrix is symmetric
            double const g = dot3(s.axis[k], s.axis[l]) - (k == l ? 1.0 : 0.0);
            rigid = rigid && std::fabs(g) <= kRigidity;
        }
    }
    if (!rigid)
        return false;
    for (int i = 0; i < 3; ++i)
        s.extent[i] = std::fabs(s.axis[0][i]) * s.half[0] + std::fabs(s.axis[1][i]) * s.half[1] +
                      std::fabs(s.axis[2][i]) * s.half[2];
    return true;
}

bool CtvxBroadPhase::place(Slot& s, CtvxObject* owner, CtvxObjectOBB const& box, float const (&half)[3],
                           double tolerance, bool polyEnd, bool bare)
{
    CqarMat4 const& e = box.relativePosition();
    double local = 0.0;
    bool finite = std::isfinite(tolerance);
    for (int i = 0; i < 3; ++i) {
        local += e(i, 3) * e(i, 3);
        s.half[i] = static_cast<double>(half[i]);
        finite = finite && std::isfinite(s.half[i]) && s.half[i] >= 0.0;
    }
    if (!finite || !frame(s, owner->currentAbsolutePosition(), e))
        return false;
    double const rho = std::sqrt(dot3(s.half, s.half));
    double const longest = std::max(s.half[0], std::max(s.half[1], s.half[2]));
    s.size = s.half[0] + s.half[1] + s.half[2] + std::sqrt(local);
    // Face-axis bound. Box 2's extent along a unit axis is at most its
    // circumradius rho2, and some axis i of box 1 takes at least 1/sqrt(3)
    // of the centre offset T, so box 1's face axes separate the pair by at
    // least |T|/sqrt(3) - longest1 - rho2; box 2's by |T|/sqrt(3) -
    // longest2 - rho1. The better of the two is at least |T|/sqrt(3) -
    // (q1 + q2) with q = (longest + rho) / 2; against a lone triangle only
    // the boxed side's faces are tested, covered by q = rho on the
    // triangle's side. So a pair whose centres are farther apart than
    // sqrt(3) (q1 + q2 + allowance + bound) is separated by a face axis by
    // more than the bound.
    double const q = (polyEnd && bare) ? rho : 0.5 * (longest + rho);
    s.reach = kReachFactor * (q + kAllowance * s.size);
    s.tolerance = static_cast<float>(tolerance); // a float widened, or 0: exact
    s.polyEnd = polyEnd;
    s.bare = bare;
    s.state = std::isfinite(s.reach) ? BOXED : WILD;
    return s.state == BOXED;
}

bool CtvxBroadPhase::refreshIsQuiet(CtvxAssembly* top)
{
    m_walk.clear();
    m_walk.push_back(top);
    while (!m_walk.empty()) {
        CtvxObject* const o = m_walk.back();
        m_walk.pop_back();
        if (!o || !o->m_needToRecomputeObb)
            continue; // a current box is not recomputed
        std::type_info const& type = typeid(*o);
        if (type == typeid(CtvxPolyhedron)) {
            if (boxRefreshBuilds(*static_cast<CtvxPolyhedron const*>(o)))
                return false;
        } else if (type == typeid(CtvxAssembly)) {
            CtvxAssembly const* const a = static_cast<CtvxAssembly const*>(o);
            if (a->m_isRegrouped && a->m_regroupedPoly) {
                if (boxRefreshBuilds(*a->m_regroupedPoly))
                    return false;
            } else {
                for (auto const& c : a->m_children)
                    m_walk.push_back(c.get());
            }
        } else {
            // A class of the host: its refresh may do anything.
            return false;
        }
    }
    return true;
}

// ---------------------------------------------------------------------------
// Candidates

bool CtvxBroadPhase::near(Sphere const& a, Sphere const& b, double inflation)
{
    double const dx = b.centre[0] - a.centre[0], dy = b.centre[1] - a.centre[1], dz = b.centre[2] - a.centre[2];
    double const r = a.reach + b.reach + inflation;
    return dx * dx + dy * dy + dz * dz <= r * r;
}

void CtvxBroadPhase::emit(std::vector<std::uint64_t>& pairs, unsigned int i, unsigned int j) const
{
    if (m_once && j < i)
        std::swap(i, j);
    pairs.push_back((static_cast<std::uint64_t>(i) << 32) | j);
}

void CtvxBroadPhase::collectPairs()
{
    Side& first = m_sides[0];
    Side& second = *m_second;
    updateLeafPairs();
    // Pairs of boxes: every pair whose spheres meet overlaps as leaves
    // (the leaves hold the cubes around the spheres), so the pairs of
    // leaves of the moved entries hold all their new candidates; a pair of
    // two unmoved entries keeps its verdict.
    // When half the entries moved, sorting out the kept pairs costs more
    // than it saves: all are looked at again.
    std::size_t const entries = first.slots.size() + (m_same ? 0 : second.slots.size());
    bool const whole = !m_boxPairsValid || m_boxPairsSame != m_same || m_boxPairsOnce != m_once ||
                       2 * m_readSince >= entries;
    auto const moved = [&](std::uint64_t key) {
        return first.slots[static_cast<std::size_t>(key >> 32)].readAt > m_boxEpoch ||
               second.slots[static_cast<std::size_t>(key & 0xffffffffu)].readAt > m_boxEpoch;
    };
    if (whole)
        m_boxPairs.clear();
    else
        m_boxPairs.erase(std::remove_if(m_boxPairs.begin(), m_boxPairs.end(), moved), m_boxPairs.end());
    std::size_t const kept = m_boxPairs.size();
    auto const examine = [&](std::uint64_t key) {
        unsigned int const i = static_cast<unsigned int>(key >> 32), j = static_cast<unsigned int>(key & 0xffffffffu);
        if (!near(first.spheres[i], second.spheres[j], 0.0))
            return;
        if (!settles(i, j, 0.0f))
            emit(m_boxPairs, i, j);
        // The same list: the walk over every pair also meets (j, i).
        if (m_same && !m_once && !settles(j, i, 0.0f))
            emit(m_boxPairs, j, i);
    };
    if (whole) {
        for (std::uint64_t const key : m_leafPairs)
            examine(key);
    } else {
        for (std::uint64_t const key : m_leafPairs)
            if (moved(key))
                examine(key);
    }
    // The kept pairs are sorted and share no pair with the new ones, which
    // are merged in from the back (no buffer of a library merge's own).
    if (kept == 0) {
        std::sort(m_boxPairs.begin(), m_boxPairs.end());
        m_boxPairs.erase(std::unique(m_boxPairs.begin(), m_boxPairs.end()), m_boxPairs.end());
    } else {
        m_newPairs.assign(m_boxPairs.begin() + static_cast<std::ptrdiff_t>(kept), m_boxPairs.end());
        std::sort(m_newPairs.begin(), m_newPairs.end());
        m_newPairs.erase(std::unique(m_newPairs.begin(), m_newPairs.end()), m_newPairs.end());
        m_boxPairs.resize(kept + m_newPairs.size());
        for (std::size_t a = kept, b = m_newPairs.size(), k = m_boxPairs.size(); b > 0;)
            m_boxPairs[--k] = a > 0 && m_boxPairs[a - 1] > m_newPairs[b - 1] ? m_boxPairs[--a] : m_newPairs[--b];
    }
    m_boxPairsValid = true;
    m_boxPairsSame = m_same;
    m_boxPairsOnce = m_once;
    m_boxEpoch = m_epoch;
    m_readSince = 0;

    // The pairs pairMeets() says ALL of: entries that cannot be bounded
    // meet every live entry of the other side; lone triangles meet every
    // other lone triangle (their test rewrites the hints, whatever the
    // distance). Without such entries the rows are read from the pairs of
    // boxes themselves.
    m_pairs.clear();
    m_rowPairs = &m_boxPairs;
    if (first.wild.empty() && second.wild.empty() && (first.bare.empty() || second.bare.empty()))
        return;
    m_pairs.assign(m_boxPairs.begin(), m_boxPairs.end());
    m_rowPairs = &m_pairs;
    for (unsigned int i : first.wild)
        for (unsigned int j : second.live)
            emit(m_pairs, i, j);
    for (unsigned int j : second.wild)
        for (unsigned int i : first.live)
            emit(m_pairs, i, j);
    for (unsigned int i : first.bare)
        for (unsigned int j : second.bare)
            emit(m_pairs, i, j);
    std::sort(m_pairs.begin(), m_pairs.end());
    m_pairs.erase(std::unique(m_pairs.begin(), m_pairs.end()), m_pairs.end());
}

// The pairs of overlapping leaves, kept from one collection to the next:
// while objects move within their leaves the trees do not change, and only
// the pairs of the leaves that did change are looked up again. A walk over
// the whole tree visits an order of magnitude more pairs of nodes than
// there are pairs of leaves.
void CtvxBroadPhase::updateLeafPairs()
{
    Side& first = m_sides[0];
    Side& second = *m_second;
    if (!m_leafPairsValid || m_leafPairsSame != m_same) {
        m_leafPairs.clear();
        if (m_same) {
            first.tree.selfPairs([this](unsigned int p, unsigned int q) {
                m_leafPairs.push_back((static_cast<std::uint64_t>(std::min(p, q)) << 32) | std::max(p, q));
            });
        } else {
            first.tree.pairs(second.tree, [this](unsigned int i, unsigned int j) {
                m_leafPairs.push_back((static_cast<std::uint64_t>(i) << 32) | j);
            });
        }
        m_leafPairsValid = true;
        m_leafPairsSame = m_same;
    } else if (!first.touched.empty() || (!m_same && !second.touched.empty())) {
        // Drop the pairs of the leaves that changed, then look theirs up.
        auto const touchedPair = [&](std::uint64_t key) {
            return first.isTouched[static_cast<std::size_t>(key >> 32)] ||
                   second.isTouched[static_cast<std::size_t>(key & 0xffffffffu)];
        };
        if (m_same) {
            auto const either = [&](std::uint64_t key) {
                return first.isTouched[static_cast<std::size_t>(key >> 32)] ||
                       first.isTouched[static_cast<std::size_t>(key & 0xffffffffu)];
            };
            m_leafPairs.erase(std::remove_if(m_leafPairs.begin(), m_leafPairs.end(), either), m_leafPairs.end());
            for (unsigned int p : first.touched) {
                if (first.slots[p].leaf == CtvxBoxTree::kNone)
                    continue;
                first.tree.query(first.tree.box(first.slots[p].leaf), [&](unsigned int q) {
                    // A pair of two changed leaves is found from both.
                    if (q != p && (!first.isTouched[q] || p < q))
                        m_leafPairs.push_back((static_cast<std::uint64_t>(std::min(p, q)) << 32) | std::max(p, q));
                });
            }
        } else {
            m_leafPairs.erase(std::remove_if(m_leafPairs.begin(), m_leafPairs.end(), touchedPair),
                              m_leafPairs.end());
            for (unsigned int i : first.touched)
                if (first.slots[i].leaf != CtvxBoxTree::kNone)
                    second.tree.query(first.tree.box(first.slots[i].leaf), [&](unsigned int j) {
                        m_leafPairs.push_back((static_cast<std::uint64_t>(i) << 32) | j);
                    });
            for (unsigned int j : second.touched)
                if (second.slots[j].leaf != CtvxBoxTree::kNone)
                    first.tree.query(second.tree.box(second.slots[j].leaf), [&](unsigned int i) {
                        if (!first.isTouched[i])
                            m_leafPairs.push_back((static_cast<std::uint64_t>(i) << 32) | j);
                    });
        }
    }
    for (Side* side : {&first, &second}) {
        for (unsigned int k : side->touched)
            side->isTouched[k] = false;
        side->touched.clear();
    }
}

CtvxBroadPhase::Row CtvxBroadPhase::row(unsigned int i, float bound)
{
    if (m_lazy)
        endLazy();
    m_row.clear();
    m_rowOf = kNoRow;
    if (m_type == CtvxAnalysis::ALL_COLLISIONS) {
        m_rowOf = i;
        std::vector<std::uint64_t> const& pairs = *m_rowPairs;
        while (m_cursor < pairs.size() && (pairs[m_cursor] >> 32) < i)
            ++m_cursor;
        while (m_cursor < pairs.size() && (pairs[m_cursor] >> 32) == i)
            m_row.push_back(static_cast<unsigned int>(pairs[m_cursor++] & 0xffffffffu));
    } else {
        Side& second = *m_second;
        Slot const& a = m_sides[0].slots[i];
        EMeet const meet = rowMeets(a);
        if (meet == ALL) {
            m_row.assign(second.live.begin(), second.live.end());
        } else if (meet == SPHERES) {
            // pairMeets() for every entry of list 2, from the lists that
            // hold each kind: the boxed entries whose spheres meet a's
            // (from the tree), those that cannot be bounded (wild) and the
            // lone triangles (bare); an inert entry is in none of them.
            // A first contact is sought row by row, which ends at the first
            // row that has one instead of pairing up the whole scene. The
            // distance bound enters the face-axis bound as the sphere radii
            // do (and the sphere distance bound, for the exact clearance,
            // with room to spare).
            double const inflation =
                m_type == CtvxAnalysis::FIRST_COLLISION ? 0.0 : kReachFactor * static_cast<double>(bound);
            Sphere const& sa = m_sides[0].spheres[i];
            second.tree.query(cubeAround(a.centre, a.reach + inflation), [&](unsigned int j) {
                if (near(sa, second.spheres[j], inflation))
                    m_row.push_back(j);
            });
            bool const lonesMeet = m_type != CtvxAnalysis::EXACT_DISTANCE;
            m_row.insert(m_row.end(), second.wild.begin(), second.wild.end());
            if (lonesMeet && a.polyEnd && a.bare)
                m_row.insert(m_row.end(), second.bare.begin(), second.bare.end());
            std::sort(m_row.begin(), m_row.end());
            m_row.erase(std::unique(m_row.begin(), m_row.end()), m_row.end());
            for (unsigned int const j : m_row)
                TVX_DEBUG_ASSERT(pairMeets(a, second.slots[j], lonesMeet) == ALL ||
                                 (pairMeets(a, second.slots[j], lonesMeet) == SPHERES &&
                                  near(sa, second.spheres[j], inflation)));
        }
        if (m_once)
            m_row.erase(m_row.begin(), std::upper_bound(m_row.begin(), m_row.end(), i));
    }
    Row r;
    r.ranks = m_row.data();
    r.count = static_cast<unsigned int>(m_row.size());
    return r;
}

// ---------------------------------------------------------------------------
// Lazy rows

// Rows examined before the tree is built, this many rows' worth of entries
// met at most: a row costs a check and a sphere test per entry of list 2
// (about 20 instructions), an entry about 570 to read and 800 to build the
// tree over (callgrind, 10,000 cubes), so a query whose first contact lies
// further down pays at most an eighth more than building the tree at once,
// and one that ends in the first rows reads only the entries those rows
// met.
unsigned int const kLazyRows = 8;

CtvxBroadPhase::Slot const& CtvxBroadPhase::current(Side& side, unsigned int k)
{
    Slot& s = side.slots[k];
    if (side.checkedAt[k] != m_epoch) {
        side.checkedAt[k] = m_epoch;
        // An entry read by an earlier query that ended in its lazy rows is
        // read again only if it changed since, as refresh() would.
        if (s.state == UNSEEN || (s.object && s.object->revision() != s.revision))
            reread(side, k);
    }
    return s;
}

bool CtvxBroadPhase::meets(unsigned int i, unsigned int j)
{
    // The rule of row(), asked pair by pair (lazy rows are a first
    // contact's, where lone triangles meet). List 2's entries are read only
    // for a row that has any.
    Slot const& a = current(m_sides[0], i);
    if (rowMeets(a) == NONE)
        return false;
    EMeet const meet = pairMeets(a, current(*m_second, j), true);
    return meet == ALL || (meet == SPHERES && near(m_sides[0].spheres[i], m_second->spheres[j], 0.0));
}

void CtvxBroadPhase::rowDone()
{
    m_lazyMet += m_second->slots.size();
    if (m_lazyMet >= kLazyRows * m_second->slots.size())
        endLazy();
}

// The first contact lies further down: the rest of the rows are asked of
// the tree, built here over every entry (those read in the lazy rows kept,
// unless they changed since).
void CtvxBroadPhase::endLazy()
{
    m_lazy = false;
    refresh(m_sides[0]);
    if (m_second != &m_sides[0])
        refresh(*m_second);
}

// ---------------------------------------------------------------------------
// Certificates

bool CtvxBroadPhase::settles(unsigned int i, unsigned int j, float bound) const
{
    // A pair of an all-contacts row was collected only where settles()
    // said no, for the same boxes (the bound plays no part there): the
    // driver's second question is answered without the fifteen axes.
    if (i == m_rowOf && std::binary_search(m_row.begin(), m_row.end(), j))
        return false;
    Slot const& a = m_sides[0].slots[i];
    Slot const& b = m_second->slots[j];
    if (a.state != BOXED || b.state != BOXED)
        return false;
    double d[3];
    for (int k = 0; k < 3; ++k)
        d[k] = b.centre[k] - a.centre[k];
    double const offset = std::sqrt(dot3(d, d));
    double const allowance = kAllowance * (offset + a.size + b.size);
    if (m_type == CtvxAnalysis::EXACT_DISTANCE) {
        // Every value the pair can produce is a distance between points
        // inside the two boxes, less tolerances the boxes include: at least
        // any lower bound of the boxes' distance, here the better of the
        // spheres', the world-aligned bounds' and the face axes'.
        double gap = offset - std::sqrt(dot3(a.half, a.half)) - std::sqrt(dot3(b.half, b.half));
        double aligned = 0.0;
        for (int k = 0; k < 3; ++k) {
            double const g = std::fabs(d[k]) - a.extent[k] - b.extent[k];
            if (g > 0.0)
                aligned += g * g;
        }
        gap = std::max(gap, std::sqrt(aligned));
        double const need = static_cast<double>(bound) + allowance;
        return gap > need || apartBy(a, b, need, FACES);
    }
    if (a.polyEnd && b.polyEnd && a.bare && b.bare)
        return false;
    double const need =
        (m_type == CtvxAnalysis::ESTIMATED_DISTANCE ? static_cast<double>(bound) : 0.0) + allowance;
    return apartBy(a, b, need, a.polyEnd && b.polyEnd ? (a.bare ? FACES_B : b.bare ? FACES_A : TREES) : BOXES);
}

// Whether one of the box test's axes separates the two boxes by more than
// threshold, computed as the box kernels do (cross axes not normalised)
// but in double precision; which axes depends on the test the walk makes.
bool CtvxBroadPhase::apartBy(Slot const& a, Slot const& b, double threshold, EAxes axes)
{
    double d[3];
    for (int k = 0; k < 3; ++k)
        d[k] = b.centre[k] - a.centre[k];
    double const* ha = a.half;
    double const* hb = b.half;
    // Row by row: most pairs the spheres hand over are apart along one of
    // box a's face axes, found before the rest of the rotation is needed.
    // Which axis is tested first changes nothing but the time.
    double t[3], r[3][3], f[3][3];
    for (int i = 0; i < 3; ++i) {
        t[i] = dot3(a.axis[i], d);
        for (int j = 0; j < 3; ++j) {
            r[i][j] = dot3(a.axis[i], b.axis[j]);
            f[i][j] = std::fabs(r[i][j]);
        }
        if (axes != FACES_B &&
            std::fabs(t[i]) - (ha[i] + hb[0] * f[i][0] + hb[1] * f[i][1] + hb[2] * f[i][2]) > threshold)
            return true;
    }
    if (axes != FACES_A) {
        for (int j = 0; j < 3; ++j) {
            double const s = t[0] * r[0][j] + t[1] * r[1][j] + t[2] * r[2][j];
            if (std::fabs(s) - (hb[j] + ha[0] * f[0][j] + ha[1] * f[1][j] + ha[2] * f[2][j]) > threshold)
                return true;
        }
    }
    if (axes == FACES || axes == FACES_A || axes == FACES_B)
        return false;
    // Between two triangle sets the walk tests the roots, without the
    // tolerances, and subtracts both tolerances from every separation: on a
    // cross axis (shorter than 1) that is more than the grown boxes account
    // for, so the roots are used here too.
    double ra[3], rb[3], cut = 0.0;
    for (int k = 0; k < 3; ++k) {
        ra[k] = axes == TREES ? ha[k] - a.tolerance : ha[k];
        rb[k] = axes == TREES ? hb[k] - b.tolerance : hb[k];
    }

    if (axes == TREES)
        cut = static_cast<double>(a.tolerance) + static_cast<double>(b.tolerance);
    for (int i = 0; i < 3; ++i) {
        int const i1 = (i + 1) % 3, i2 = (i + 2) % 3;
        for (int j = 0; j < 3; ++j) {
            int const j1 = (j + 1) % 3, j2 = (j + 2) % 3;
            double const s = t[i2] * r[i1][j] - t[i1] * r[i2][j];
            double const rad = ra[i1] * f[i2][j] + ra[i2] * f[i1][j] + rb[j1] * f[i][j2] + rb[j2] * f[i][j1];
            if (std::fabs(s) - rad - cut > threshold)
                return true;
        }
    }
    return false;
}

std::size_t CtvxBroadPhase::bytes() const
{
    std::size_t n = sizeof(*this) +
                    (m_pairs.capacity() + m_boxPairs.capacity() + m_newPairs.capacity() + m_leafPairs.capacity()) *
                        sizeof(std::uint64_t) +
                    (m_row.capacity() + m_escaped.capacity() + m_bulkItems.capacity()) * sizeof(unsigned int) +
                    m_walk.capacity() * sizeof(CtvxObject*) + m_bulkBoxes.capacity() * sizeof(CtvxBoxTree::Box) +
                    m_bulkLeaves.capacity() * sizeof(int);
    for (Side const& s : m_sides)
        n += s.slots.capacity() * (sizeof(Slot) + sizeof(Sphere)) + s.tree.bytes() + s.isTouched.capacity() / 8 +
             s.checkedAt.capacity() * sizeof(unsigned int) +
             (s.wild.capacity() + s.bare.capacity() + s.live.capacity() + s.touched.capacity()) *
                 sizeof(unsigned int);
    return n;
}
