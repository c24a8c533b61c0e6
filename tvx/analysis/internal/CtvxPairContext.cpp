#include <tvx/analysis/internal/CtvxPairContext.h>
#include <tvx/analysis/internal/CtvxPairWalks.h>

#include <tvx/analysis/CtvxGeometryPoint.h>
#include <tvx/geometry/CtvxPolyhedron.h>
#include <tvx/geometry/CtvxVirtualPolyhedron.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <typeinfo>

CtvxPairContext::CtvxPairContext(boost::shared_ptr<CtvxPoly> const& poly1, boost::shared_ptr<CtvxPoly> const& poly2,
                                 CtvxQueryScratch& scratch)
    : m_scratch(scratch)
{
    CtvxPolyOwner first, second;
    first.poly = poly1.get();
    first.set = &poly1;
    second.poly = poly2.get();
    second.set = &poly2;
    bind(first, second);
}

CtvxPairContext::CtvxPairContext(CtvxQueryScratch& scratch) : m_scratch(scratch) {}

void CtvxPairContext::compute(CtvxAnalysis::EAnalysisType type, CtvxWalk walk, bool& collided,
                              boost::shared_ptr<CtvxCollision>& collision, bool& distanceFound,
                              boost::shared_ptr<CtvxDistance>& distance)
{
    // A pair settled at its roots reads no triangle: what reading them
    // needs is made once a walk goes below, or a distance query measures
    // its hint.
    if (startRoots(type, collision, distance)) {
        if (m_distanceMode) {
            readyTriangles();
            startFromHint();
        }
        if (!m_collisionFound && !rootsSettle(walk)) {
            if (!m_distanceMode)
                readyTriangles();
            // Sets that cannot touch (the verdict rootsSettle() just took
            // for a contact query's in-order walk) leave what the walk
            // would leave of a miss: the hints of the last triangle pair it
            // tests.
            if (!m_distanceMode && walk == CtvxWalk::Ordered && m_obbs1 && m_obbs2 && m_relative->cannotTouch)
                CtvxPairWalks::lastReached(*this);
            else
                descend(walk);
        }
    }
    distanceFound = m_found.distanceFound;
    collided = m_collisionFound;
    if (m_found.distanceFound && type == CtvxAnalysis::EXACT_DISTANCE)
        makeClosestPoints();
    writeHints();
    m_shared1.reset();
    m_shared2.reset();
}

namespace {

// The library builds only box trees of exactly this class: a test of the
// dynamic type spares the cast's walk of the class graph, which a host's
// own tree class still takes.
CtvxPolyhedronOBBTree const* obbTreeOf(CtvxPolyhedronBVTree const* tree)
{
    if (tree && typeid(*tree) == typeid(CtvxPolyhedronOBBTree))
        return static_cast<CtvxPolyhedronOBBTree const*>(tree);
    return dynamic_cast<CtvxPolyhedronOBBTree const*>(tree);
}

// True when a and b hold the same bits: +0 and -0, or two NaNs, are not
// interchangeable inputs of an inverse. The sixteen elements lie row after
// row in one array; every query compares two pairs of them, nearly always
// equal, which one comparison of the bytes does in a third of the
// instructions of an element-wise loop.
bool sameBits(CqarMat4 const& a, CqarMat4 const& b)
{
    // The element accessor that returns a reference is the non-const one.
    return std::memcmp(&const_cast<CqarMat4&>(a)(0, 0), &const_cast<CqarMat4&>(b)(0, 0), 16 * sizeof(double)) == 0;
}

// a * b rounded to single precision, element by element as
// CtvxMat4(a * b) rounds the utility library's product: the same sums in
// the same order, without the double-precision temporary and its copies.
// The four sums of a row are taken side by side, term k of each at step k,
// which the compiler puts two to a register; each is still the scalar
// loop's, from +0 up in k.
void roundedProduct(CqarMat4 const& a, CqarMat4 const& b, CtvxMat4& out)
{
    for (int r = 0; r < 4; ++r) {
        double s[4] = {0.0, 0.0, 0.0, 0.0};
        for (int k = 0; k < 4; ++k) {
            double const f = a(r, k);
            for (int c = 0; c < 4; ++c)
                s[c] += f * b(k, c);
        }
        for (int c = 0; c < 4; ++c)
            out(r, c) = static_cast<float>(s[c]);
    }
}

} // namespace

namespace {
// Stamps of kept placements, unique across all sets of all threads.
std::atomic<std::uint64_t> s_placementStamps{0};
} // namespace

std::uint64_t CtvxPairContext::keepPlacement(CtvxPoly& poly, CqarMat4& placement)
{
    if (!poly.m_hasQueryPlacement || !sameBits(poly.m_queryPlacement, placement)) {
        poly.m_queryPlacement = placement;
        poly.m_hasQueryPlacement = true;
        poly.m_hasQueryPlacementInverse = false;
        poly.m_queryPlacementStamp = s_placementStamps.fetch_add(1, std::memory_order_relaxed) + 1;
    }
    return poly.m_queryPlacementStamp;
}

std::uint64_t CtvxPairContext::placementStamp(CtvxPoly& poly)
{
    // The library's own polyhedron, unless locked below a regrouped
    // assembly (whose placement it then reads): every change of its world
    // placement, its own or an ancestor's, advances its object's revision,
    // so the same revision as when its placement was kept proves it
    // unchanged, without the virtual read and the comparison.
    CtvxObject const* object = nullptr;
    if (typeid(poly) == typeid(CtvxPolyhedron)) {
        CtvxPolyhedron const& own = static_cast<CtvxPolyhedron const&>(poly);
        if (!own.isLocked())
            object = &own;
    }
    if (object && poly.m_hasQueryRevision && poly.m_queryRevision == object->revision())
        return poly.m_queryPlacementStamp;
    CqarMat4 placement;
    poly.getAbsPos(placement);
    std::uint64_t const stamp = keepPlacement(poly, placement);
    poly.m_hasQueryRevision = object != nullptr;
    if (object)
        poly.m_queryRevision = object->revision();
    return stamp;
}

std::uint64_t CtvxPairContext::movedStamp(CtvxPoly& poly, CtvxObject& object)
{
    // A kept start is made only for the library's own polyhedron, not
    // locked, whose getAbsPos() copies this very placement; read in place.
    // Its placement was kept with the start (placementStamp()), which the
    // revision recorded here keeps proving.
    CqarMat4 const& placement = object.currentAbsolutePosition();
    if (!sameBits(poly.m_queryPlacement, placement)) {
        poly.m_queryPlacement = placement;
        poly.m_hasQueryPlacementInverse = false;
        poly.m_queryPlacementStamp = s_placementStamps.fetch_add(1, std::memory_order_relaxed) + 1;
    }
    poly.m_queryRevision = object.revision();
    return poly.m_queryPlacementStamp;
}

CqarMat4 const& CtvxPairContext::inversePlacement(CtvxPoly& poly)
{
    if (!poly.m_hasQueryPlacementInverse) {
        poly.m_queryPlacementInverse = poly.m_queryPlacement.inverse();
        poly.m_hasQueryPlacementInverse = true;
    }
    return poly.m_queryPlacementInverse;
}

inline CtvxPoly::KeptRoot const& CtvxPairContext::keptRoot(CtvxPoly& poly, CtvxPolyhedronOBBTree const& tree)
{
    CtvxPoly::KeptRoot const& kept = poly.m_keptRoot;
    float const scale = tree.storedScale();
    // The scale compared as bits: the decoding divides by it.
    if (kept.set && CtvxObbReader::holdsStoredValues(tree.obbs()[0], kept.stored) &&
        std::memcmp(&kept.scale, &scale, sizeof scale) == 0)
        return kept;
    return decodeRoot(poly, tree);
}

CtvxPoly::KeptRoot const& CtvxPairContext::decodeRoot(CtvxPoly& poly, CtvxPolyhedronOBBTree const& tree)
{
    CtvxPoly::KeptRoot& kept = poly.m_keptRoot;
    CtvxOBB const& root = tree.obbs()[0];
    CtvxObbReader::placement(root, tree, kept.placement);
    kept.inverse = kept.placement.inverse();
    CtvxObbReader::trueHalfLengths(root, tree, kept.half);
    kept.size = CtvxObbReader::size(root);
    CtvxObbReader::storedValues(root, kept.stored);
    kept.scale = tree.storedScale();
    kept.fit = CtvxPoly::KeptRoot::NotMade;
    kept.set = true;
    kept.stamp = s_placementStamps.fetch_add(1, std::memory_order_relaxed) + 1;
    return kept;
}

namespace {

// Margin of the fitted box beyond exact containment of the vertices read,
// relative to its reach (largest centre coordinate plus largest half
// length), as the tree's boxes are mended: absorbs the float rounding of
// the box test, which maps frame 2 into the box's frame and sums a few
// products there (a few ulps of the reach of either box; the other box
// brings a margin of its own reach), and the rounding of the centre to
// float. The box's rotation is exact (the identity), so nothing is owed to
// a stored quaternion.
double const kFitMargin = 1.0 / 1048576.0; // 2^-20

// The smallest float not below x.
float roundedUp(double x)
{
    float f = static_cast<float>(x);
    if (static_cast<double>(f) < x)
        f = std::nextafter(f, HUGE_VALF);
    return f;
}

} // namespace

CtvxPoly::KeptRoot const& CtvxPairContext::fittedBox(CtvxPoly& poly)
{
    CtvxPoly::KeptRoot& kept = poly.m_keptRoot;
    if (kept.fit != CtvxPoly::KeptRoot::NotMade)
        return kept;
    // Every vertex of every triangle, read as the walks read it: the
    // stored floats of the library's own mesh (its points, each once, a
    // sixth of the vertices of a closed mesh; a point no triangle names yet
    // only makes the box larger), or the set's double points narrowed, so
    // that the box holds what the triangle tests see.
    float lo[3] = {0.0f, 0.0f, 0.0f}, hi[3] = {0.0f, 0.0f, 0.0f};
    // x * 0 is 0 but for an infinite or NaN x, which min and max would
    // pass over: the sum of them says whether every vertex was finite.
    float poison = 0.0f;
    auto take = [&lo, &hi, &poison](float const* v, bool first) {
        for (int i = 0; i < 3; ++i) {
            float const x = v[i];
            if (first)
                lo[i] = hi[i] = x;
            lo[i] = std::min(lo[i], x);
            hi[i] = std::max(hi[i], x);
            poison += x * 0.0f;
        }
    };
    unsigned int n = 0;
    if (CtvxPoint const* const points = CtvxDirectMesh::pointsOf(poly, n)) {
        for (unsigned int k = 0; k < n; ++k) {
            float const v[3] = {CtvxDirectMesh::coordinate(points[k].X()), CtvxDirectMesh::coordinate(points[k].Y()),
                                CtvxDirectMesh::coordinate(points[k].Z())};
            take(v, k == 0);
        }
    } else {
        n = poly.countTriangles();
        for (unsigned int t = 0; t < n; ++t) {
            CqarPoint3 v[3];
            poly.getTriangle(t, v);
            for (int k = 0; k < 3; ++k) {
                float const f[3] = {static_cast<float>(v[k][0]), static_cast<float>(v[k][1]),
                                    static_cast<float>(v[k][2])};
                take(f, t == 0 && k == 0);
            }
        }
    }
    bool const finite = n > 0 && poison == 0.0f && std::isfinite(lo[0]) && std::isfinite(lo[1]) &&
                        std::isfinite(lo[2]) && std::isfinite(hi[0]) && std::isfinite(hi[1]) && std::isfinite(hi[2]);
    kept.fit = CtvxPoly::KeptRoot::NoTighter;
    if (!finite)
        return kept;
    double e[3], reach = 0.0, largest = 0.0;
    for (int i = 0; i < 3; ++i) {
        // The centre rounded to float, and the half lengths measured from
        // the rounded centre, in double (exact for float operands).
        float const c = static_cast<float>(0.5 * (static_cast<double>(lo[i]) + static_cast<double>(hi[i])));
        e[i] = std::max(static_cast<double>(hi[i]) - c, c - static_cast<double>(lo[i]));
        kept.fitCentre[i] = c;
        reach = std::max(reach, std::fabs(static_cast<double>(c)));
        largest = std::max(largest, e[i]);
    }
    reach += largest;
    for (int i = 0; i < 3; ++i)
        kept.fitHalf[i] = roundedUp(e[i] + kFitMargin * reach);
    double const fitted = static_cast<double>(kept.fitHalf[0]) * kept.fitHalf[1] * kept.fitHalf[2];
    double const root = static_cast<double>(kept.half[0]) * kept.half[1] * kept.half[2];
    // Only a box of at most half the root's volume is worth its test: the
    // fitted box of a smooth closed mesh (torus, sphere: 0.97 of the root)
    // seldom separates what the root did not, and cost a moved hit 424
    // instructions; cubes, whose root is fitted along a diagonal, come out
    // at a quarter.
    if (fitted <= 0.5 * root)
        kept.fit = CtvxPoly::KeptRoot::Tighter;
    return kept;
}

__attribute__((noinline)) bool CtvxPairContext::fittedBoxesOverlap()
{
    CtvxPoly::KeptRoot const& k1 = fittedBox(*m_poly1);
    CtvxPoly::KeptRoot const& k2 = fittedBox(*m_poly2);
    bool const tight1 = k1.fit == CtvxPoly::KeptRoot::Tighter;
    bool const tight2 = k2.fit == CtvxPoly::KeptRoot::Tighter;
    if (!tight1 && !tight2)
        return true;
    // Each side the tighter of its two boxes, in the roots' form: box 1 as
    // the map of frame 2 into its frame, box 2 as its placement in frame 2.
    // The fitted box's frame is the set's shifted to its centre, so box 1's
    // map is the pair's frame with the centre taken off its translation.
    CtvxRelativePlacements::Entry const& relative = *m_relative;
    CtvxDecodedBox b1 = relative.roots[0];
    CtvxDecodedBox b2 = relative.roots[1];
    if (tight1) {
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j)
                b1.m[i][j] = m_poly2ToPoly1(i, j);
            b1.m[i][3] = m_poly2ToPoly1(i, 3) - k1.fitCentre[i];
            b1.half[i] = k1.fitHalf[i];
        }
    }
    if (tight2) {
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j)
                b2.m[i][j] = i == j ? 1.0f : 0.0f;
            b2.m[i][3] = k2.fitCentre[i];
            b2.half[i] = k2.fitHalf[i];
        }
    }
    return CtvxProximityKernels::boxesOverlap(b1.half, b2.half, b1.m, b2.m, m_polyTolerance);
}

bool CtvxPairContext::readSet(CtvxPoly& poly, SetStart& out)
{
    CtvxPolyhedronBVTree* bv = nullptr;
    poly.getBoundingVolumes(bv);
    CtvxPolyhedronOBBTree const* const tree = obbTreeOf(bv);
    if (!tree)
        return false;
    unsigned int const n = poly.countTriangles();
    // A tree names triangles 0 to countObbs(); one built before the mesh
    // was replaced by a smaller one would read past its end. The tree of an
    // empty set (no box, and no enclosing box either) names none: the
    // triangle 0 added since is not in it, and may name missing points.
    bool const fits = static_cast<unsigned int>(tree->countObbs()) < n && (tree->countObbs() > 0 || poly.polyObb());
    if (!poly.isActivatedForAnalysis() || n == 0 || !fits)
        return false;
    out.tree = tree;
    out.obbs = tree->countObbs() > 0 ? tree->obbs() : nullptr;
    if (out.obbs)
        keptRoot(poly, *tree);
    out.stamp = placementStamp(poly);
    out.maxTolerance = poly.maxTolerance();
    // Kept for the next query when the set's object revision and tree
    // changes say all of the above (see CtvxPoly::KeptStart), read last.
    CtvxPoly::KeptStart& kept = poly.m_keptStart;
    if (typeid(poly) == typeid(CtvxPolyhedron)) {
        CtvxPolyhedron const& own = static_cast<CtvxPolyhedron const&>(poly);
        if (!own.isLocked()) {
            kept.revision = own.revision();
            kept.shapeRevision = own.shapeRevision();
            kept.treeChanges = poly.m_treeChanges;
            kept.tree = tree;
            kept.obbs = out.obbs;
            kept.maxTolerance = out.maxTolerance;
            kept.set = true;
            return true;
        }
    }
    kept.set = false;
    return true;
}

bool CtvxPairContext::startRoots(CtvxAnalysis::EAnalysisType type, boost::shared_ptr<CtvxCollision>& collision,
                                 boost::shared_ptr<CtvxDistance>& distance)
{
    m_boxTests = 0;
    m_triangleTests = 0;
    m_unsureTests = 0;
    // Nothing found, and no hint to leave, also for a pair with nothing to
    // walk: a kept context holds its last pair's findings until here.
    m_collisionFound = false;
    m_found.clear();
    SetStart set1, set2;
    if (!(keptSet(*m_poly1, set1) || readSet(*m_poly1, set1)) || !(keptSet(*m_poly2, set2) || readSet(*m_poly2, set2)))
        return false;
    m_tree1 = set1.tree;
    m_tree2 = set2.tree;
    m_type = type;
    m_distanceMode = type == CtvxAnalysis::EXACT_DISTANCE || type == CtvxAnalysis::ESTIMATED_DISTANCE;
    m_distance = distance.get();
    m_collision = collision.get();
    m_obbs1 = set1.obbs;
    m_obbs2 = set2.obbs;
    m_smallTrees = m_tree1->countObbs() <= CtvxSmallTreeBoxes::kLargestTree &&
                   m_tree2->countObbs() <= CtvxSmallTreeBoxes::kLargestTree;
    // Each set's root was decoded into it by readSet(), when its tree came
    // in, and holds while the tree does.
    m_keptRoot2 = m_obbs2 ? &m_poly2->m_keptRoot : nullptr;
    m_rootPlacement2 = m_keptRoot2 ? &m_keptRoot2->placement : nullptr;
    std::uint64_t const stamp1 = set1.stamp;
    std::uint64_t const stamp2 = set2.stamp;
    CtvxRelativePlacements::Entry& relative = m_scratch.relative.slot(m_poly1, m_poly2);
    if (relative.stamp1 != stamp1 || relative.stamp2 != stamp2) {
        roundedProduct(inversePlacement(*m_poly1), m_poly2->m_queryPlacement, relative.poly2ToPoly1);
        relative.stamp1 = stamp1;
        relative.stamp2 = stamp2;
        relative.root1 = 0;
        // Root 2 decoded depends on its decoding alone, root 1 with
        // toBox1 on the frame too.
        relative.decoded1 = 0;
    }
    m_relative = &relative;
    m_rootToBox1Ready = false;
    m_keptRoot1 = m_obbs1 ? &m_poly1->m_keptRoot : nullptr;
    m_rootInverse1 = m_keptRoot1 ? &m_keptRoot1->inverse : nullptr;
    m_poly2ToPoly1 = relative.poly2ToPoly1;
    m_polyTolerance = static_cast<float>(set2.maxTolerance + set1.maxTolerance);
    return true;
}

void CtvxPairContext::readyTriangles()
{
    // The library's own polyhedron: one tolerance for all its triangles
    // and, under an identity points transform, its floats read in place.
    m_uniformTolerance1 = typeid(*m_poly1) == typeid(CtvxPolyhedron);
    m_uniformTolerance2 = typeid(*m_poly2) == typeid(CtvxPolyhedron);
    if (m_uniformTolerance1)
        m_tolerance1 = static_cast<float>(static_cast<CtvxPolyhedron*>(m_poly1)->tolerance());
    if (m_uniformTolerance2)
        m_tolerance2 = static_cast<float>(static_cast<CtvxPolyhedron*>(m_poly2)->tolerance());
    m_direct1 = CtvxDirectMesh::of(*m_poly1);
    m_direct2 = CtvxDirectMesh::of(*m_poly2);
    // The maps into set 2's boxes that box-triangle visits keep hold for
    // this pose only.
    m_scratch.toBox2Cache.reset();
}

bool CtvxPairContext::start(CtvxAnalysis::EAnalysisType type, boost::shared_ptr<CtvxCollision>& collision,
                            boost::shared_ptr<CtvxDistance>& distance)
{
    if (!startRoots(type, collision, distance))
        return false;
    readyTriangles();
    readyRootToBox1();
    return true;
}

void CtvxPairContext::readyRootToBox1()
{
    if (m_rootToBox1Ready || !m_keptRoot1)
        return;
    CtvxRelativePlacements::Entry& relative = *m_relative;
    if (relative.root1 != m_keptRoot1->stamp) {
        relative.rootToBox1 = m_keptRoot1->inverse * relative.poly2ToPoly1;
        relative.root1 = m_keptRoot1->stamp;
    }
    m_rootToBox1 = relative.rootToBox1;
    m_rootToBox1Ready = true;
}

bool CtvxPairContext::rootsSettle(CtvxWalk walk)
{
    if (!m_obbs1 || !m_obbs2 || (m_type == CtvxAnalysis::EXACT_DISTANCE && walk == CtvxWalk::Ordered))
        return false;
    // The walk's own first visit, on the same floats through the same
    // test: the in-order walk's on the roots decoded as it decodes them,
    // the plain walk's on their placements. A pair it keeps has changed
    // nothing (only a pruned one lowers an estimated distance), and the
    // walk then visits it again, counted once.
    bool keep;
    if (walk == CtvxWalk::Ordered) {
        // The two roots decoded as decode1(0) and decode2(0) decode them,
        // from the same kept floats, and kept with the pair's frame.
        CtvxRelativePlacements::Entry& relative = *m_relative;
        if (relative.decoded1 != m_keptRoot1->stamp) {
            CtvxDecodedBox& root1 = relative.roots[0];
            CtvxProximityKernels::composeRows(m_rootInverse1->data(), m_poly2ToPoly1.data(), &root1.m[0][0]);
            std::memcpy(root1.half, m_keptRoot1->half, sizeof root1.half);
            root1.size = m_keptRoot1->size;
            relative.decoded1 = m_keptRoot1->stamp;
            relative.verdictSet = false;
        }
        if (relative.decoded2 != m_keptRoot2->stamp) {
            CtvxDecodedBox& root2 = relative.roots[1];
            for (int i = 0; i < 3; ++i)
                for (int j = 0; j < 4; ++j)
                    root2.m[i][j] = (*m_rootPlacement2)(i, j);
            std::memcpy(root2.half, m_keptRoot2->half, sizeof root2.half);
            root2.size = m_keptRoot2->size;
            relative.decoded2 = m_keptRoot2->stamp;
            relative.verdictSet = false;
        }
        if (m_distanceMode) {
            keep = visitBoxes<CtvxVisit::Query>(relative.roots[0], relative.roots[1]);
        } else {
            // The contact queries' visit, the lanes' verdict alone, taken
            // again for the same roots and tolerance (and counted as the
            // box test it stands for).
            if (!relative.verdictSet ||
                std::memcmp(&relative.verdictTolerance, &m_polyTolerance, sizeof m_polyTolerance) != 0) {
                CtvxDecodedBox const& root1 = relative.roots[0];
                CtvxDecodedBox const& root2 = relative.roots[1];
                relative.rootsOverlap =
                    CtvxProximityKernels::boxesOverlap(root1.half, root2.half, root1.m, root2.m, m_polyTolerance);
                // Roots that overlap are tried again with the fitted boxes,
                // where those are tighter (or not made yet): a pair they find
                // apart holds no triangles within the tolerance.
                relative.cannotTouch = false;
                if (relative.rootsOverlap && (m_keptRoot1->fit != CtvxPoly::KeptRoot::NoTighter ||
                                              m_keptRoot2->fit != CtvxPoly::KeptRoot::NoTighter))
                    relative.cannotTouch = !fittedBoxesOverlap();
                relative.verdictTolerance = m_polyTolerance;
                relative.verdictSet = true;
            }
            ++m_boxTests;
            keep = relative.rootsOverlap;
        }
    } else {
        readyRootToBox1();
        keep = visitBoxes<CtvxVisit::Query>(0, 0, m_rootToBox1, *m_rootPlacement2);
    }
    if (!keep)
        return true;
    --m_boxTests;
    return false;
}

void CtvxPairContext::startFromHint()
{
    unsigned int const n1 = m_poly1->countTriangles();
    unsigned int const n2 = m_poly2->countTriangles();
    CqarPoint3 q1, q2;
    int t1 = -1, t2 = -1;
    m_poly1->getLastClosestPoint(q1, t1);
    m_poly2->getLastClosestPoint(q2, t2);
    // A hint left by geometry that has since lost triangles (replaced mesh
    // data) must not index past the end. It is mended at once: the point of
    // the mended hint is the set's to say.
    if (t1 < 0 || static_cast<unsigned int>(t1) >= n1) {
        m_poly1->setLastClosestInfo(0);
        m_poly1->getLastClosestPoint(q1, t1);
    }
    if (t2 < 0 || static_cast<unsigned int>(t2) >= n2) {
        m_poly2->setLastClosestInfo(0);
        m_poly2->getLastClosestPoint(q2, t2);
    }
    // The hint's pair of triangles is measured as the walks measure every
    // pair: both triangles in frame 1, their distance minus their summed
    // tolerance. The points of the hint cannot serve: point 2 reaches
    // frame 1 through the single-precision frame, and back into frame 2 at
    // the end, so on an unmoved scene each query would carry it a rounding
    // off its triangle in the same direction, and a clearance taken from it
    // would creep away from the true one query after query. The contact
    // verdict is then the kernels' own: TriDist's zero is their exact
    // decision, and with a tolerance contact() makes this very comparison.
    unsigned int const u1 = static_cast<unsigned int>(t1);
    unsigned int const u2 = static_cast<unsigned int>(t2);
    float tri1[3][3], tri2[3][3], b[3][3];
    readTriangle1(u1, tri1);
    readTriangle2(u2, tri2);
    for (int k = 0; k < 3; ++k)
        m_kernels.PmM(b[k], tri2[k], m_poly2ToPoly1);
    float const tolerance = static_cast<float>(m_poly1->toleranceForTriangle(u1)) +
                            static_cast<float>(m_poly2->toleranceForTriangle(u2));
    float p[3] = {0.0f, 0.0f, 0.0f}, q[3] = {0.0f, 0.0f, 0.0f};
    float const h = triangleDistance(p, q, tri1, b, tolerance) - tolerance;
    if (m_type == CtvxAnalysis::EXACT_DISTANCE) {
        m_found.closestTriangle1 = t1;
        m_found.closestPoint1.setValue(p[0], p[1], p[2]);
        m_found.closestTriangle2 = t2;
        m_found.closestPoint2.setValue(q[0], q[1], q[2]);
    }
    if (!(h > 0.0f))
        recordContact(u1, u2);
    else if (h < m_distance->distance())
        lowerDistance(h);
    else
        return;
    m_found.hint1 = Hint{true, t1, true, q1};
    m_found.hint2 = Hint{true, t2, true, q2};
}

void CtvxPairContext::makeClosestPoints()
{
    boost::shared_ptr<CtvxVirtualPolyhedron> g1, g2;
    m_poly1->getTriangleInfo(static_cast<unsigned int>(m_found.closestTriangle1), g1);
    m_poly2->getTriangleInfo(static_cast<unsigned int>(m_found.closestTriangle2), g2);
    CqarMat4 G1, G2;
    if (g1)
        g1->getAbsolutePosition(G1);
    if (g2)
        g2->getAbsolutePosition(G2);
    CqarMat4 const& placement1 = m_poly1->m_queryPlacement;
    CqarPoint3 const abs2 = placement1 * m_found.closestPoint2;
    CqarPoint3 const s2 = inversePlacement(*m_poly2) * abs2;
    CqarPoint3 const abs1 = placement1 * m_found.closestPoint1;
    // The relative points are in the owning polyhedron's placement frame,
    // where its mesh coordinates live, also for a member of a regrouped
    // assembly (whose triangles this query saw in the assembly's frame).
    CqarPoint3 const rel1 = G1.inverse() * abs1;
    CqarPoint3 const rel2 = G2.inverse() * abs2;
    boost::shared_ptr<CtvxGeometryPoint> const point1 = CtvxGeometryPoint::create(g1, abs1, rel1);
    boost::shared_ptr<CtvxGeometryPoint> const point2 = CtvxGeometryPoint::create(g2, abs2, rel2);
    m_found.hint1 = Hint{true, m_found.closestTriangle1, true, m_found.closestPoint1};
    m_found.hint2 = Hint{true, m_found.closestTriangle2, true, s2};
    m_distance->setDistance(m_distance->distance(), point1, point2);
}

void CtvxPairContext::descend(CtvxWalk walk)
{
    if (walk == CtvxWalk::Plain) {
        CtvxPairWalks::plain(*this);
        return;
    }
    if (m_type != CtvxAnalysis::EXACT_DISTANCE) {
        CtvxPairWalks::inOrder(*this, CtvxVisit::Query);
        return;
    }
    // Ties between equally distant pairs are settled by their rank in the
    // in-order walk, which takes one bit per level.
    if (sumOfDepths() > 128) {
        CtvxPairWalks::plain(*this);
        return;
    }
    float const startDistance = m_distance->distance();
    boost::shared_ptr<CtvxGeometryPoint> startPoint1, startPoint2;
    m_distance->getClosestPoint1(startPoint1);
    m_distance->getClosestPoint2(startPoint2);
    Findings const start = m_found;

    prepareNearest();
    CtvxKeptFronts& fronts = m_scratch.fronts;
    if (fronts.enabled) {
        CtvxFrontWork work;
        CtvxKeptFront* const kept = resumeFront(work);
        bool const clear = CtvxPairWalks::nearestFirst(*this, &work);
        keepFront(kept, clear && !work.overflow, work.resume != nullptr);
        if (clear)
            return;
    } else if (CtvxPairWalks::nearestFirst(*this)) {
        return;
    }
    // A contact ends an exact distance query, and the one reported is the
    // first that the in-order walk meets; that walk finds it as cheaply as
    // a contact query does. Which pairs it tests before is of no account:
    // a contact drops the distance.
    CtvxPairWalks::inOrder(*this, CtvxVisit::Overlap);
    if (m_collisionFound)
        return;
    // The contact seen by the nearest-first walk lay behind boxes that the
    // contact search, testing overlap only, found apart: a rounding-level
    // disagreement of the two box tests. Start again the plain way.
    if (startPoint1 && startPoint2)
        m_distance->setDistance(startDistance, startPoint1, startPoint2);
    else
        m_distance->setDistance(startDistance);
    m_found = start;
    CtvxPairWalks::plain(*this);
}

void CtvxPairContext::prepareNearest()
{
    m_margin = boundMargin();
    m_found.bestRanked = false;
}

float CtvxPairContext::boundMargin() const
{
    // Largest coordinate, in frame 1, of either set: each root box's centre
    // distance plus its half-lengths (a single triangle is its own root).
    auto reach = [](CtvxOBB const* obbs, CtvxPolyhedronOBBTree const* tree, CtvxPoly* poly) {
        if (obbs) {
            CtvxMat4 p;
            CtvxObbReader::placement(*obbs, *tree, p);
            float h[3];
            CtvxObbReader::trueHalfLengths(*obbs, *tree, h);
            return std::sqrt(p(0, 3) * p(0, 3) + p(1, 3) * p(1, 3) + p(2, 3) * p(2, 3)) + h[0] + h[1] + h[2];
        }
        CqarPoint3 v[3];
        poly->getTriangle(0, v);
        double m = 0.0;
        for (CqarPoint3 const& q : v)
            m = std::max(m, std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2]));
        return static_cast<float>(m);
    };
    float const x = m_poly2ToPoly1(0, 3), y = m_poly2ToPoly1(1, 3), z = m_poly2ToPoly1(2, 3);
    float const r1 = reach(m_obbs1, m_tree1, m_poly1);
    float const r2 = reach(m_obbs2, m_tree2, m_poly2) + std::sqrt(x * x + y * y + z * z);
    // The triangle distance is good to a few tens of float roundings of the
    // largest coordinate, the line-of-centres gaps to a few roundings of the
    // same; 2^-16 of it is well above both and far below any clearance worth
    // pruning on.
    return (r1 + r2 + m_polyTolerance) * (1.0f / 65536.0f);
}

void CtvxPairContext::writeHints()
{
    auto write = [](CtvxPoly* poly, Hint& h) {
        if (!h.set)
            return;
        if (h.withPoint)
            poly->setLastClosestInfo(h.triangle, h.point);
        else
            poly->setLastClosestInfo(h.triangle);
    };
    write(m_poly1, m_found.hint1);
    write(m_poly2, m_found.hint2);
}
