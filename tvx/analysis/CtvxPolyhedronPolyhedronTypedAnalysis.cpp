#include <tvx/analysis/CtvxPolyhedronPolyhedronTypedAnalysis.h>

#include <tvx/analysis/CtvxCollision.h>
#include <tvx/analysis/CtvxDescentSwitch.h>
#include <tvx/analysis/CtvxDistance.h>
#include <tvx/analysis/CtvxGeometryPoint.h>
#include <tvx/analysis/CtvxPolyhedronTriangle.h>
#include <tvx/analysis/CtvxProximityKernels.h>
#include <tvx/bvtree/CtvxOBB.h>
#include <tvx/bvtree/CtvxObbReader.h>
#include <tvx/bvtree/CtvxPolyhedronOBBTree.h>
#include <tvx/geometry/CtvxPoly.h>
#include <tvx/geometry/CtvxPolyhedron.h>
#include <tvx/geometry/CtvxPolyhedronData.h>
#include <tvx/geometry/CtvxVirtualPolyhedron.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <typeinfo>

namespace {

inline int encodeChild(int code)
{
    // Box codes stay as they are (> 0); triangle -t (<= 0) becomes -t - 1 so
    // that triangle 0 does not collide with the root box.
    return code > 0 ? code : code - 1;
}

inline unsigned int triangleOf(int encoded)
{
    return static_cast<unsigned int>(-(encoded + 1));
}

} // namespace

namespace {

// The box's placement in its set's frame and its half-lengths, in true
// lengths (the stored values through the tree's scale). Every visited pair
// decodes boxes: defined first, so that the walks inline them.
inline void boxPlacement(CtvxOBB const* box, CtvxPolyhedronOBBTree const* tree,
                                                         CtvxMat4& placement)
{
    CtvxObbReader::rotation(*box, placement);
    float x, y, z;
    CtvxObbReader::translation(*box, x, y, z);
    placement.setColumn(4, tree->convertFromScaledFloat(x), tree->convertFromScaledFloat(y),
                        tree->convertFromScaledFloat(z), 1.0f);
}

inline void boxHalfLengths(CtvxOBB const* box, CtvxPolyhedronOBBTree const* tree,
                                                           float (&half)[3])
{
    CtvxObbReader::halfLengths(*box, half[0], half[1], half[2]);
    for (float& h : half)
        h = tree->convertFromScaledFloat(h);
}

} // namespace

CtvxPolyhedronPolyhedronTypedAnalysis::CtvxPolyhedronPolyhedronTypedAnalysis(
    boost::shared_ptr<CtvxPoly> const& poly1, boost::shared_ptr<CtvxPoly> const& poly2)
    : m_poly1(poly1.get()),
      m_poly1ShPtr(poly1),
      m_poly2(poly2.get()),
      m_poly2ShPtr(poly2),
      m_analysisType(CtvxAnalysis::FIRST_COLLISION),
      m_isDistanceFound(false),
      m_isCollisionFound(false),
      m_obbs1(nullptr),
      m_obbs2(nullptr),
      m_tree1(nullptr),
      m_tree2(nullptr),
      m_closestTriangle1(-1),
      m_closestTriangle2(-1),
      m_polyTolerance(static_cast<float>(poly2->maxTolerance() + poly1->maxTolerance())),
      m_triangleTolerance(0.0f)
{
}

CtvxPolyhedronPolyhedronTypedAnalysis::~CtvxPolyhedronPolyhedronTypedAnalysis() = default;

void CtvxPolyhedronPolyhedronTypedAnalysis::compute(CtvxAnalysis::EAnalysisType type, bool& collided,
                                                    boost::shared_ptr<CtvxCollision>& collision,
                                                    bool& distanceFound,
                                                    boost::shared_ptr<CtvxDistance>& distance)
{
    m_boxTests = 0;
    m_triangleTests = 0;
    m_unsureTests = 0;
    CtvxPolyhedronBVTree* bv1 = nullptr;
    CtvxPolyhedronBVTree* bv2 = nullptr;
    m_poly1->getBoundingVolumes(bv1);
    m_poly2->getBoundingVolumes(bv2);
    m_tree1 = dynamic_cast<CtvxPolyhedronOBBTree*>(bv1);
    m_tree2 = dynamic_cast<CtvxPolyhedronOBBTree*>(bv2);
    bool const distanceQuery =
        type == CtvxAnalysis::EXACT_DISTANCE || type == CtvxAnalysis::ESTIMATED_DISTANCE;

    if (m_tree1 && m_tree2) {
        m_analysisType = type;
        m_distance = distance;
        m_collision = collision;
        m_isDistanceFound = false;
        m_isCollisionFound = false;
        m_obbs1 = m_tree1->countObbs() > 0 ? m_tree1->getObb(0) : nullptr;
        m_obbs2 = m_tree2->countObbs() > 0 ? m_tree2->getObb(0) : nullptr;

        unsigned int const n1 = m_poly1->countTriangles();
        unsigned int const n2 = m_poly2->countTriangles();
        // A tree names triangles 0 to countObbs(); one built before the mesh
        // was replaced by a smaller one would read past its end. The tree of
        // an empty set (no box, and no enclosing box either) names none: the
        // triangle 0 added since is not in it, and may name missing points.
        auto const fits = [](CtvxPoly const* poly, CtvxPolyhedronOBBTree const* tree, unsigned int n) {
            return static_cast<unsigned int>(tree->countObbs()) < n && (tree->countObbs() > 0 || poly->polyObb());
        };
        bool const treesFit = fits(m_poly1, m_tree1, n1) && fits(m_poly2, m_tree2, n2);
        if (m_poly1->isActivatedForAnalysis() && m_poly2->isActivatedForAnalysis() && n1 > 0 && n2 > 0 &&
            treesFit) {
            CqarMat4 a1, a2;
            m_poly1->getAbsPos(a1);
            m_poly2->getAbsPos(a2);
            m_poly2ToPoly1 = CtvxMat4(a1.inverse() * a2);

            if (distanceQuery) {
                CqarPoint3 q1, q2;
                int t1 = -1, t2 = -1;
                m_poly1->getLastClosestPoint(q1, t1);
                m_poly2->getLastClosestPoint(q2, t2);
                // A hint left by geometry that has since lost triangles
                // (replaced mesh data) must not index past the end.
                if (t1 < 0 || static_cast<unsigned int>(t1) >= n1) {
                    m_poly1->setLastClosestInfo(0);
                    m_poly1->getLastClosestPoint(q1, t1);
                }
                if (t2 < 0 || static_cast<unsigned int>(t2) >= n2) {
                    m_poly2->setLastClosestInfo(0);
                    m_poly2->getLastClosestPoint(q2, t2);
                }
                CqarPoint3 const q2in1 = m_poly2ToPoly1 * q2;
                if (type == CtvxAnalysis::EXACT_DISTANCE) {
                    m_closestTriangle1 = t1;
                    m_closestPoint1 = q1;
                    m_closestTriangle2 = t2;
                    m_closestPoint2 = q2in1;
                }
                float const h = static_cast<float>(q1.distanceFrom(q2in1)) -
                                static_cast<float>(m_poly1->toleranceForTriangle(static_cast<unsigned int>(t1))) -
                                static_cast<float>(m_poly2->toleranceForTriangle(static_cast<unsigned int>(t2)));
                if (!(h > 0.0f) && hintTouches(static_cast<unsigned int>(t1), static_cast<unsigned int>(t2))) {
                    m_isCollisionFound = true;
                    m_collision->addPair(CtvxPolyhedronTriangle::create(m_poly1ShPtr, t1),
                                         CtvxPolyhedronTriangle::create(m_poly2ShPtr, t2));
                    m_poly1->setLastClosestInfo(t1, q1);
                    m_poly2->setLastClosestInfo(t2, q2);
                } else if (h > 0.0f && h < m_distance->distance()) {
                    m_distance->setDistance(h);
                    m_isDistanceFound = true;
                    m_poly1->setLastClosestInfo(t1, q1);
                    m_poly2->setLastClosestInfo(t2, q2);
                }
            }
            if (!m_isCollisionFound)
                descend();
        }
    }

    distanceFound = m_isDistanceFound;
    collided = m_isCollisionFound;

    if (m_isDistanceFound && type == CtvxAnalysis::EXACT_DISTANCE) {
        boost::shared_ptr<CtvxVirtualPolyhedron> g1, g2;
        m_poly1->getTriangleInfo(static_cast<unsigned int>(m_closestTriangle1), g1);
        m_poly2->getTriangleInfo(static_cast<unsigned int>(m_closestTriangle2), g2);
        CqarMat4 a1, a2, G1, G2;
        m_poly1->getAbsPos(a1);
        m_poly2->getAbsPos(a2);
        if (g1)
            g1->getAbsolutePosition(G1);
        if (g2)
            g2->getAbsolutePosition(G2);
        m_poly1->setLastClosestInfo(m_closestTriangle1, m_closestPoint1);
        m_closestPoint2 = a1 * m_closestPoint2;
        CqarPoint3 s2 = a2.inverse() * m_closestPoint2;
        CqarPoint3 const abs1 = a1 * m_closestPoint1;
        // The relative points are in the owning polyhedron's placement frame,
        // where its mesh coordinates live, also for a member of a regrouped
        // assembly (whose triangles this query saw in the assembly's frame).
        CqarPoint3 const rel1 = G1.inverse() * abs1;
        CqarPoint3 const rel2 = G2.inverse() * m_closestPoint2;
        boost::shared_ptr<CtvxGeometryPoint> const point1 = CtvxGeometryPoint::create(g1, abs1, rel1);
        boost::shared_ptr<CtvxGeometryPoint> const point2 = CtvxGeometryPoint::create(g2, m_closestPoint2, rel2);
        m_poly2->setLastClosestInfo(m_closestTriangle2, s2);
        m_distance->setDistance(m_distance->distance(), point1, point2);
    }
}

namespace CtvxDescentSwitch {
namespace {
thread_local bool t_straightforward = false;
} // namespace
void straightforward(bool on)
{
    t_straightforward = on;
}
bool straightforward()
{
    return t_straightforward;
}
} // namespace CtvxDescentSwitch

namespace {

// A pending pair of the in-order walk with the placements already known: the
// side that was not split keeps its parent's, so a step decodes one box at
// most instead of two.
struct OrderedStep {
    int first;
    int second;
    bool known1; // toBox1 = P(box 1) inverted, times frame 2 into frame 1
    bool known2; // place2 = P(box 2)
    CtvxMat4 toBox1;
    CtvxMat4 place2;
};

// A pending pair of the nearest-first walk: already tested, with the lower
// bound of its clearance that the test gave (minus infinity when the boxes
// overlap) and its rank in the in-order walk.
struct NearStep {
    int first;
    int second;
    float bound;
    int level;
    std::uint64_t rank[2];
    CtvxMat4 toBox1;
    CtvxMat4 place2;
};

inline void chooseSecond(std::uint64_t (&rank)[2], int level)
{
    if (level < 64)
        rank[0] |= std::uint64_t(1) << (63 - level);
    else
        rank[1] |= std::uint64_t(1) << (127 - level);
}

inline bool rankBefore(std::uint64_t const (&a)[2], unsigned long long const (&b)[2])
{
    return a[0] < b[0] || (a[0] == b[0] && a[1] < b[1]);
}

// The separation of two boxes along the line of their centres, a lower bound
// of their distance like any axis. The face and edge axes of the box test
// see boxes that lie diagonally from each other at a fraction of their
// distance (down to 1/sqrt(3)); this axis sees far apart boxes at nearly
// their true distance. Box 1 is centred at the origin, axis-aligned; r places
// box 2 in its frame.
inline float centreLineGap(float const (&h1)[3], float const (&h2)[3], CtvxMat4 const& r)
{
    float const tx = r(0, 3), ty = r(1, 3), tz = r(2, 3);
    float const len = std::sqrt(tx * tx + ty * ty + tz * tz);
    if (!(len > 0.0f))
        return -std::numeric_limits<float>::infinity();
    float const inv = 1.0f / len;
    float const ux = tx * inv, uy = ty * inv, uz = tz * inv;
    float reach = h1[0] * std::fabs(ux) + h1[1] * std::fabs(uy) + h1[2] * std::fabs(uz);
    for (int j = 0; j < 3; ++j)
        reach += h2[j] * std::fabs(r(0, j) * ux + r(1, j) * uy + r(2, j) * uz);
    return len - reach;
}

// The same for a box centred at the origin, axis-aligned, and a triangle
// given in its frame, along the line to the triangle's centroid.
inline float centroidLineGap(float const (&h)[3], float const (&v)[3][3])
{
    // Any direction gives a sound bound; the centroid's scale does not
    // matter, only its direction.
    float const cx = v[0][0] + v[1][0] + v[2][0];
    float const cy = v[0][1] + v[1][1] + v[2][1];
    float const cz = v[0][2] + v[1][2] + v[2][2];
    float const len = std::sqrt(cx * cx + cy * cy + cz * cz);
    if (!(len > 0.0f))
        return -std::numeric_limits<float>::infinity();
    float const inv = 1.0f / len;
    float const ux = cx * inv, uy = cy * inv, uz = cz * inv;
    float nearest = v[0][0] * ux + v[0][1] * uy + v[0][2] * uz;
    for (int k = 1; k < 3; ++k) {
        float const p = v[k][0] * ux + v[k][1] * uy + v[k][2] * uz;
        if (p < nearest)
            nearest = p;
    }
    return nearest - (h[0] * std::fabs(ux) + h[1] * std::fabs(uy) + h[2] * std::fabs(uz));
}

// The separation of two boxes along a unit axis u given in box 1's frame,
// box 2 lying on the positive side.
inline float axisGap(float const (&h1)[3], float const (&h2)[3], CtvxMat4 const& r, float const (&u)[3])
{
    float const along = r(0, 3) * u[0] + r(1, 3) * u[1] + r(2, 3) * u[2];
    float reach = h1[0] * std::fabs(u[0]) + h1[1] * std::fabs(u[1]) + h1[2] * std::fabs(u[2]);
    for (int j = 0; j < 3; ++j)
        reach += h2[j] * std::fabs(r(0, j) * u[0] + r(1, j) * u[1] + r(2, j) * u[2]);
    return along - reach;
}

// The separation of a box centred at the origin, axis-aligned, and a
// triangle given in its frame, along a unit axis u in that frame; the
// triangle lies on the positive side of the box, or on the negative side when
// `behind`.
inline float axisGap(float const (&h)[3], float const (&v)[3][3], float const (&u)[3], bool behind)
{
    float lo = v[0][0] * u[0] + v[0][1] * u[1] + v[0][2] * u[2];
    float hi = lo;
    for (int k = 1; k < 3; ++k) {
        float const p = v[k][0] * u[0] + v[k][1] * u[1] + v[k][2] * u[2];
        lo = p < lo ? p : lo;
        hi = p > hi ? p : hi;
    }
    float const reach = h[0] * std::fabs(u[0]) + h[1] * std::fabs(u[1]) + h[2] * std::fabs(u[2]);
    return (behind ? -hi : lo) - reach;
}

// Rotation block of m applied to u.
inline void rotate(CtvxMat4 const& m, float const (&u)[3], float (&out)[3])
{
    for (int i = 0; i < 3; ++i)
        out[i] = m(i, 0) * u[0] + m(i, 1) * u[1] + m(i, 2) * u[2];
}

// The next float above a positive finite x (the box test's bound).
inline float justAbove(float x)
{
    if (x > 0.0f && x < std::numeric_limits<float>::max()) {
        std::uint32_t b;
        std::memcpy(&b, &x, sizeof b);
        ++b;
        std::memcpy(&x, &b, sizeof b);
        return x;
    }
    return std::nextafter(x, std::numeric_limits<float>::infinity());
}

// True when triangles a and b are farther apart than `beyond` along the line
// of their centroids or along the unit axis u (if given), b lying on its
// positive side: projections on any unit axis bound the distance from below.
inline bool trianglesApart(float const (&a)[3][3], float const (&b)[3][3], float const* u, float beyond)
{
    auto apart = [&](float const* n) {
        float hiA = a[0][0] * n[0] + a[0][1] * n[1] + a[0][2] * n[2];
        float loB = b[0][0] * n[0] + b[0][1] * n[1] + b[0][2] * n[2];
        for (int k = 1; k < 3; ++k) {
            float const pa = a[k][0] * n[0] + a[k][1] * n[1] + a[k][2] * n[2];
            float const pb = b[k][0] * n[0] + b[k][1] * n[1] + b[k][2] * n[2];
            hiA = pa > hiA ? pa : hiA;
            loB = pb < loB ? pb : loB;
        }
        return loB - hiA > beyond;
    };
    if (u && apart(u))
        return true;
    float c[3];
    for (int i = 0; i < 3; ++i)
        c[i] = (b[0][i] + b[1][i] + b[2][i]) - (a[0][i] + a[1][i] + a[2][i]);
    float const len = std::sqrt(c[0] * c[0] + c[1] * c[1] + c[2] * c[2]);
    if (!(len > 0.0f))
        return false;
    float const inv = 1.0f / len;
    float const n[3] = {c[0] * inv, c[1] * inv, c[2] * inv};
    return apart(n);
}

// The placements of recently decoded boxes. A box takes part in several
// pairs, one for each box of the other tree it meets, and every such pair
// would decode it again: a walk keeps the last few hundred, by rank, for
// the duration of one query (placements in frame 1 depend on the pose).
class PlacementCache {
public:
    void reset()
    {
        if (++m_stamp == 0) {
            for (Entry& e : m_entries)
                e.stamp = 0;
            m_stamp = 1;
        }
    }
    CtvxMat4 const* find(int rank) const
    {
        Entry const& e = m_entries[static_cast<unsigned int>(rank) % Size];
        return e.stamp == m_stamp && e.rank == rank ? &e.m : nullptr;
    }
    void put(int rank, CtvxMat4 const& m)
    {
        Entry& e = m_entries[static_cast<unsigned int>(rank) % Size];
        e.rank = rank;
        e.stamp = m_stamp;
        e.m = m;
    }

private:
    static constexpr unsigned int Size = 512;
    struct Entry {
        int rank = -1;
        unsigned int stamp = 0;
        CtvxMat4 m;
    };
    Entry m_entries[Size];
    unsigned int m_stamp = 0;
};

thread_local PlacementCache t_toBox1Cache;
thread_local PlacementCache t_place2Cache;

// Box placements as the walks use them, through the caches: box 1 as the map
// of frame 2 into its frame, box 2 as its own placement in frame 2.
struct Placements {
    CtvxOBB const* obbs1;
    CtvxPolyhedronOBBTree const* tree1;
    CtvxOBB const* obbs2;
    CtvxPolyhedronOBBTree const* tree2;
    CtvxMat4 const* poly2ToPoly1;

    void toBox1(PlacementCache& cache, int rank, CtvxMat4& out) const
    {
        if (CtvxMat4 const* known = cache.find(rank)) {
            out = *known;
            return;
        }
        CtvxMat4 p;
        boxPlacement(obbs1 + rank, tree1, p);
        out = p.inverse() * *poly2ToPoly1;
        cache.put(rank, out);
    }
    void place2(PlacementCache& cache, int rank, CtvxMat4& out) const
    {
        if (CtvxMat4 const* known = cache.find(rank)) {
            out = *known;
            return;
        }
        boxPlacement(obbs2 + rank, tree2, out);
        cache.put(rank, out);
    }
};


float const MinusInfinity = -std::numeric_limits<float>::infinity();

} // namespace

void CtvxPolyhedronPolyhedronTypedAnalysis::descend()
{
    if (CtvxDescentSwitch::straightforward()) {
        descendStraightforward();
        return;
    }
    if (m_analysisType != CtvxAnalysis::EXACT_DISTANCE) {
        descendInOrder(false);
        return;
    }
    // Ties between equally distant pairs are settled by their rank in the
    // in-order walk, which takes one bit per level.
    if (m_tree1->depth() + m_tree2->depth() > 128) {
        descendStraightforward();
        return;
    }
    float const startDistance = m_distance->distance();
    boost::shared_ptr<CtvxGeometryPoint> startPoint1, startPoint2;
    m_distance->getClosestPoint1(startPoint1);
    m_distance->getClosestPoint2(startPoint2);
    int const startTriangle1 = m_closestTriangle1, startTriangle2 = m_closestTriangle2;
    CqarPoint3 const startClosest1 = m_closestPoint1, startClosest2 = m_closestPoint2;
    bool const startFound = m_isDistanceFound;

    if (descendNearestFirst())
        return;
    // A contact ends an exact distance query, and the one reported is the
    // first that the in-order walk meets; that walk finds it as cheaply as
    // a contact query does. Which pairs it tests before is of no account:
    // a contact drops the distance.
    descendInOrder(true);
    if (m_isCollisionFound)
        return;
    // The contact seen by the nearest-first walk lay behind boxes that the
    // contact search, testing overlap only, found apart: a rounding-level
    // disagreement of the two box tests. Start again the plain way.
    if (startPoint1 && startPoint2)
        m_distance->setDistance(startDistance, startPoint1, startPoint2);
    else
        m_distance->setDistance(startDistance);
    m_closestTriangle1 = startTriangle1;
    m_closestTriangle2 = startTriangle2;
    m_closestPoint1 = startClosest1;
    m_closestPoint2 = startClosest2;
    m_isDistanceFound = startFound;
    descendStraightforward();
}

float CtvxPolyhedronPolyhedronTypedAnalysis::boundMargin() const
{
    // Largest coordinate, in frame 1, of either set: each root box's centre
    // distance plus its half-lengths (a single triangle is its own root).
    auto reach = [](CtvxOBB const* obbs, CtvxPolyhedronOBBTree const* tree, CtvxPoly* poly) {
        if (obbs) {
            CtvxMat4 p;
            boxPlacement(obbs, tree, p);
            float h[3];
            boxHalfLengths(obbs, tree, h);
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

void CtvxPolyhedronPolyhedronTypedAnalysis::descendInOrder(bool contactOnly)
{
    bool const boxes1 = m_obbs1 != nullptr;
    bool const boxes2 = m_obbs2 != nullptr;
    static thread_local std::vector<OrderedStep> pool;
    std::vector<OrderedStep>& steps = pool;
    m_direct1 = directMeshOf(m_poly1);
    m_direct2 = directMeshOf(m_poly2);
    steps.clear();
    steps.reserve(static_cast<std::size_t>(m_tree1->depth() + m_tree2->depth() + 2));
    {
        OrderedStep root;
        root.first = boxes1 ? 0 : -1;
        root.second = boxes2 ? 0 : -1;
        root.known1 = false;
        root.known2 = false;
        root.toBox1.identity();
        root.place2.identity();
        steps.push_back(root);
    }

    PlacementCache& cache1 = t_toBox1Cache;
    PlacementCache& cache2 = t_place2Cache;
    cache1.reset();
    cache2.reset();
    Placements const placements{m_obbs1, m_tree1, m_obbs2, m_tree2, &m_poly2ToPoly1};
    bool const allContacts = m_analysisType == CtvxAnalysis::ALL_COLLISIONS && !contactOnly;
    bool const distances = distanceMode() && !contactOnly;
    float tri1[3][3], tri2[3][3];
    // The step in hand stays in its slot: a pruned one is dropped, a split
    // one becomes its second child and its first child is pushed above it,
    // so that no step is copied more than once.
    auto split = [&steps](bool firstSide, int c1, int c2) {
        std::size_t const at = steps.size() - 1;
        steps.push_back(steps[at]);
        OrderedStep& second = steps[at];
        OrderedStep& first = steps[at + 1];
        if (firstSide) {
            second.first = c2;
            second.known1 = false;
            first.first = c1;
            first.known1 = false;
        } else {
            second.second = c2;
            second.known2 = false;
            first.second = c1;
            first.known2 = false;
        }
    };
    while (!steps.empty()) {
        if (m_isCollisionFound && !allContacts)
            break;
        OrderedStep& s = steps.back();
        if (s.first >= 0 && !s.known1) {
            placements.toBox1(cache1, s.first, s.toBox1);
            s.known1 = true;
        }
        if (s.second >= 0 && !s.known2) {
            placements.place2(cache2, s.second, s.place2);
            s.known2 = true;
        }
        int result = 0;
        float d0 = 0.0f, bound = 0.0f;
        if (s.first >= 0 && s.second >= 0) {
            CtvxOBB const* const b1 = m_obbs1 + s.first;
            CtvxOBB const* const b2 = m_obbs2 + s.second;
            float h1[3], h2[3];
            boxHalfLengths(b1, m_tree1, h1);
            boxHalfLengths(b2, m_tree2, h2);
            CtvxMat4 const r = s.toBox1 * s.place2;
            d0 = m_distance->distance();
            bound = d0;
            ++m_boxTests;
            result = CtvxProximityKernels::boxBoxSeparation(h1, h2, r, m_polyTolerance, distances, bound);
            if (contactOnly ? result != 0 : !boxOutcome(result, d0, bound)) {
                steps.pop_back();
                continue;
            }
            bool const splitFirst = CtvxObbReader::size(*b1) > CtvxObbReader::size(*b2);
            CtvxOBB const* const box = splitFirst ? b1 : b2;
            split(splitFirst, encodeChild(box->getChild1Rank()), encodeChild(box->getChild2Rank()));
            continue;
        }
        if (s.first >= 0 || s.second >= 0) {
            bool const box1 = s.first >= 0;
            CtvxOBB const* const box = box1 ? m_obbs1 + s.first : m_obbs2 + s.second;
            float h[3];
            boxHalfLengths(box, box1 ? m_tree1 : m_tree2, h);
            float v[3][3];
            CtvxMat4 toBox2;
            triangleInBoxFrame(box1, s.first, s.second, s.toBox1, s.place2, v, toBox2);
            d0 = m_distance->distance();
            bound = d0;
            ++m_boxTests;
            result = CtvxProximityKernels::boxTriangleSeparation(v[0], v[1], v[2], h, m_polyTolerance, distances,
                                                                 bound);
            if (contactOnly ? result != 0 : !boxOutcome(result, d0, bound)) {
                steps.pop_back();
                continue;
            }
            split(box1, encodeChild(box->getChild1Rank()), encodeChild(box->getChild2Rank()));
            continue;
        }
        unsigned int const t1 = triangleOf(s.first);
        unsigned int const t2 = triangleOf(s.second);
        steps.pop_back();
        readTriangle(m_poly1, m_direct1, t1, tri1);
        readTriangle(m_poly2, m_direct2, t2, tri2);
        if (!contactOnly) {
            computeTriangleTriangle(t1, tri1, t2, tri2);
            continue;
        }
        ++m_triangleTests;
        m_triangleTolerance = pairTolerance(t1, t2);
        float b[3][3];
        for (int k = 0; k < 3; ++k)
            PmM(b[k], tri2[k], m_poly2ToPoly1);
        float pp[3], qq[3];
        if (!(TriDist(pp, qq, tri1, b) - m_triangleTolerance > 0.0f)) {
            m_isDistanceFound = false;
            m_isCollisionFound = true;
            m_collision->addPair(CtvxPolyhedronTriangle::create(m_poly1ShPtr, static_cast<int>(t1)),
                                 CtvxPolyhedronTriangle::create(m_poly2ShPtr, static_cast<int>(t2)));
            m_poly1->setLastClosestInfo(static_cast<int>(t1));
            m_poly2->setLastClosestInfo(static_cast<int>(t2));
        }
    }
    steps.clear();
}

bool CtvxPolyhedronPolyhedronTypedAnalysis::descendNearestFirst()
{
    static thread_local std::vector<NearStep> pool;
    std::vector<NearStep>& steps = pool;
    m_direct1 = directMeshOf(m_poly1);
    m_direct2 = directMeshOf(m_poly2);
    m_margin = boundMargin();
    m_bestRanked = false;
    PlacementCache& cache1 = t_toBox1Cache;
    PlacementCache& cache2 = t_place2Cache;
    cache1.reset();
    cache2.reset();
    Placements const placements{m_obbs1, m_tree1, m_obbs2, m_tree2, &m_poly2ToPoly1};
    // Near their closest points two surfaces are apart along the line that
    // joins those points, and stay nearly so around them: boxes tested
    // along it prune where the box test's own axes, tied to the boxes, see
    // them almost touching. Every unit axis gives a sound bound, so the axis
    // follows the best pair as it improves, starting from the hint.
    float axis1[3] = {0, 0, 0}, axis2[3] = {0, 0, 0};
    bool hasAxis = false;
    auto aim = [&](CqarPoint3 const& from, CqarPoint3 const& to) {
        float const d[3] = {static_cast<float>(to[0] - from[0]), static_cast<float>(to[1] - from[1]),
                            static_cast<float>(to[2] - from[2])};
        float const len = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
        if (!(len > 0.0f) || !std::isfinite(len))
            return;
        for (int i = 0; i < 3; ++i)
            axis1[i] = d[i] / len;
        // The same axis in frame 2: transposed rotation of frame 2 into 1.
        for (int j = 0; j < 3; ++j)
            axis2[j] = m_poly2ToPoly1(0, j) * axis1[0] + m_poly2ToPoly1(1, j) * axis1[1] +
                       m_poly2ToPoly1(2, j) * axis1[2];
        hasAxis = true;
    };
    if (m_closestTriangle1 >= 0 && m_closestTriangle2 >= 0)
        aim(m_closestPoint1, m_closestPoint2);
    steps.clear();
    // Two children are pushed for one popped, so the stack holds at most one
    // pending sibling per level.
    steps.reserve(static_cast<std::size_t>(m_tree1->depth() + m_tree2->depth() + 3));

    float tri1[3][3], tri2[3][3];
    bool contact = false;

    // Tests a pair and, unless it is a pair of triangles or is pruned, keeps
    // it with its bound. Pairs at exactly the best distance are not pruned:
    // the in-order walk may reach one of them first, and it is the one to
    // report.
    // The pair's bound: the box test's, or the gaps' when they say more.
    auto settle = [](NearStep& s, float current, float gap, int result, float bound) {
        s.bound = result == 0 ? MinusInfinity : bound;
        if (gap > s.bound)
            s.bound = gap;
        return !(current < s.bound);
    };
    auto evaluate = [&](NearStep& s) -> bool {
        float const current = m_distance->distance();
        if (s.first >= 0 && s.second >= 0) {
            float h1[3], h2[3];
            boxHalfLengths(m_obbs1 + s.first, m_tree1, h1);
            boxHalfLengths(m_obbs2 + s.second, m_tree2, h2);
            CtvxMat4 const r = s.toBox1 * s.place2;
            ++m_boxTests;
            float gap = centreLineGap(h1, h2, r);
            if (hasAxis) {
                float u[3];
                rotate(s.toBox1, axis2, u);
                float const g = axisGap(h1, h2, r, u);
                gap = g > gap ? g : gap;
            }
            gap = gap - m_polyTolerance - m_margin;
            if (current < gap)
                return false;
            // The box test stops as soon as an axis separates by more than
            // the bound it is given: starting just above the best distance,
            // such a stop proves the pair cannot even tie.
            float bound = justAbove(current);
            int const result =
                CtvxProximityKernels::boxBoxSeparation(h1, h2, r, m_polyTolerance, true, bound);
            return settle(s, current, gap, result, bound);
        }
        if (s.first >= 0 || s.second >= 0) {
            bool const box1 = s.first >= 0;
            float h[3];
            boxHalfLengths(box1 ? m_obbs1 + s.first : m_obbs2 + s.second, box1 ? m_tree1 : m_tree2, h);
            float v[3][3];
            CtvxMat4 toBox2;
            triangleInBoxFrame(box1, s.first, s.second, s.toBox1, s.place2, v, toBox2);
            float u[3];
            if (hasAxis) {
                if (box1)
                    rotate(s.toBox1, axis2, u);
                else
                    rotate(toBox2, axis1, u);
            }
            ++m_boxTests;
            float gap = centroidLineGap(h, v);
            if (hasAxis) {
                // A triangle of set 2 lies ahead of a box of set 1 along the
                // axis, a triangle of set 1 behind a box of set 2.
                float const g = axisGap(h, v, u, !box1);
                gap = g > gap ? g : gap;
            }
            gap = gap - m_polyTolerance - m_margin;
            if (current < gap)
                return false;
            float bound = justAbove(current);
            int const result =
                CtvxProximityKernels::boxTriangleSeparation(v[0], v[1], v[2], h, m_polyTolerance, true, bound);
            return settle(s, current, gap, result, bound);
        }
        unsigned int const t1 = triangleOf(s.first);
        unsigned int const t2 = triangleOf(s.second);
        readTriangle(m_poly1, m_direct1, t1, tri1);
        readTriangle(m_poly2, m_direct2, t2, tri2);
        ++m_triangleTests;
        m_triangleTolerance = pairTolerance(t1, t2);
        float b[3][3];
        for (int k = 0; k < 3; ++k)
            PmM(b[k], tri2[k], m_poly2ToPoly1);
        // The exact distance costs as much as a few dozen box tests; two
        // projections first settle most pairs that cannot even tie.
        if (trianglesApart(tri1, b, hasAxis ? axis1 : nullptr, current + m_triangleTolerance + m_margin))
            return false;
        float pp[3] = {0, 0, 0}, qq[3] = {0, 0, 0};
        float const d = TriDist(pp, qq, tri1, b) - m_triangleTolerance;
        if (!(d > 0.0f)) {
            contact = true;
            return false;
        }
        bool const lower = d < current;
        if (lower || (d == current && m_bestRanked && rankBefore(s.rank, m_bestRank))) {
            m_closestTriangle1 = static_cast<int>(t1);
            m_closestPoint1.setValue(pp[0], pp[1], pp[2]);
            m_closestTriangle2 = static_cast<int>(t2);
            m_closestPoint2.setValue(qq[0], qq[1], qq[2]);
            if (lower) {
                m_distance->setDistance(d);
                aim(m_closestPoint1, m_closestPoint2);
            }
            m_isDistanceFound = true;
            m_bestRanked = true;
            m_bestRank[0] = s.rank[0];
            m_bestRank[1] = s.rank[1];
        }
        return false;
    };

    NearStep root;
    root.first = m_obbs1 ? 0 : -1;
    root.second = m_obbs2 ? 0 : -1;
    root.level = 0;
    root.rank[0] = 0;
    root.rank[1] = 0;
    root.bound = MinusInfinity;
    root.toBox1.identity();
    root.place2.identity();
    if (root.first >= 0)
        placements.toBox1(cache1, 0, root.toBox1);
    if (root.second >= 0)
        placements.place2(cache2, 0, root.place2);
    if (evaluate(root))
        steps.push_back(root);

    NearStep children[2];
    bool keep[2];
    while (!steps.empty() && !contact) {
        NearStep const s = steps.back();
        steps.pop_back();
        if (m_distance->distance() < s.bound)
            continue;
        bool splitFirst;
        if (s.first >= 0 && s.second >= 0)
            splitFirst = CtvxObbReader::size(m_obbs1[s.first]) > CtvxObbReader::size(m_obbs2[s.second]);
        else
            splitFirst = s.first >= 0;
        CtvxOBB const& split = splitFirst ? m_obbs1[s.first] : m_obbs2[s.second];
        int const codes[2] = {encodeChild(split.getChild1Rank()), encodeChild(split.getChild2Rank())};
        for (int i = 0; i < 2; ++i) {
            NearStep& c = children[i];
            c = s;
            c.level = s.level + 1;
            if (i == 1)
                chooseSecond(c.rank, s.level);
            if (splitFirst) {
                c.first = codes[i];
                if (c.first >= 0) {
                    placements.toBox1(cache1, c.first, c.toBox1);
                }
            } else {
                c.second = codes[i];
                if (c.second >= 0) {
                    placements.place2(cache2, c.second, c.place2);
                }
            }
            keep[i] = evaluate(c);
            if (contact)
                return false;
            // A child's triangles are some of its parent's, so they are at
            // least as far as the parent's bound says.
            if (keep[i] && s.bound > c.bound)
                c.bound = s.bound;
        }
        // The nearer child is examined first (pushed last); on equal bounds,
        // the first child.
        if (keep[0] && keep[1]) {
            bool const secondNearer = children[1].bound < children[0].bound;
            steps.push_back(children[secondNearer ? 0 : 1]);
            steps.push_back(children[secondNearer ? 1 : 0]);
        } else if (keep[0]) {
            steps.push_back(children[0]);
        } else if (keep[1]) {
            steps.push_back(children[1]);
        }
    }
    steps.clear();
    return !contact;
}

void CtvxPolyhedronPolyhedronTypedAnalysis::descendStraightforward()
{
    bool const boxes1 = m_obbs1 != nullptr;
    bool const boxes2 = m_obbs2 != nullptr;
    // Pushing both children and popping one, a depth-first descent of two
    // binary trees never holds more than depth1 + depth2 + 1 steps. A query
    // runs to its end without calling out, so one pool per thread suffices.
    static thread_local std::vector<Step> pool;
    std::vector<Step>& steps = pool;
    m_steps = &steps;
    m_direct1 = directMeshOf(m_poly1);
    m_direct2 = directMeshOf(m_poly2);
    steps.clear();
    steps.reserve(static_cast<std::size_t>(m_tree1->depth() + m_tree2->depth() + 2));
    steps.push_back(Step{boxes1 ? 0 : -1, boxes2 ? 0 : -1});

    float tri1[3][3], tri2[3][3];
    CtvxMat4 p1, p2;
    bool const allContacts = m_analysisType == CtvxAnalysis::ALL_COLLISIONS;
    while (!steps.empty()) {
        // After the first contact of a query that wants one, everything
        // pending is dropped.
        if (m_isCollisionFound && !allContacts)
            break;
        Step const s = steps.back();
        steps.pop_back();
        if (s.first >= 0 && s.second >= 0) {
            CtvxOBB* const b1 = m_obbs1 + s.first;
            CtvxOBB* const b2 = m_obbs2 + s.second;
            boxPlacement(b1, m_tree1, p1);
            boxPlacement(b2, m_tree2, p2);
            computeObbObb(b1, b2, p1.inverse(), p2);
        } else if (s.first >= 0) {
            CtvxOBB* const b1 = m_obbs1 + s.first;
            boxPlacement(b1, m_tree1, p1);
            unsigned int const t2 = triangleOf(s.second);
            readTriangle(m_poly2, m_direct2, t2, tri2);
            computeObbTriangle(b1, p1.inverse(), t2, tri2);
        } else if (s.second >= 0) {
            CtvxOBB* const b2 = m_obbs2 + s.second;
            boxPlacement(b2, m_tree2, p2);
            unsigned int const t1 = triangleOf(s.first);
            readTriangle(m_poly1, m_direct1, t1, tri1);
            computeTriangleObb(t1, tri1, b2, p2);
        } else {
            unsigned int const t1 = triangleOf(s.first);
            unsigned int const t2 = triangleOf(s.second);
            readTriangle(m_poly1, m_direct1, t1, tri1);
            readTriangle(m_poly2, m_direct2, t2, tri2);
            computeTriangleTriangle(t1, tri1, t2, tri2);
        }
    }
    steps.clear();
    m_steps = nullptr;
}


CtvxPolyhedronPolyhedronTypedAnalysis::DirectMesh CtvxPolyhedronPolyhedronTypedAnalysis::directMeshOf(
    CtvxPoly* poly)
{
    DirectMesh direct;
    // Only the library's own polyhedron: a host's subclass may read its
    // triangles otherwise.
    if (typeid(*poly) != typeid(CtvxPolyhedron))
        return direct;
    CtvxPolyhedron* const p = static_cast<CtvxPolyhedron*>(poly);
    direct.uniformTolerance = true;
    direct.tolerance = static_cast<float>(p->tolerance());
    CqarMat4 m;
    p->getPointsTransform(m);
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            if (m(r, c) != (r == c ? 1.0 : 0.0))
                return direct;
    boost::shared_ptr<CtvxPolyhedronData> const data = p->polyData();
    if (!data || data->countTriangles() == 0)
        return direct;
    direct.points = data->points();
    direct.triangles = data->triangles();
    return direct;
}

void CtvxPolyhedronPolyhedronTypedAnalysis::readTriangle(CtvxPoly* poly, DirectMesh const& direct,
                                                         unsigned int rank, float (&tri)[3][3]) const
{
    if (direct.triangles) {
        // Through the identity the polyhedron hands out each stored float
        // widened to double, which TcT narrows back unchanged, except that
        // the product's final "+ 0" translation turns -0 into +0: adding
        // 0.0f does the same here.
        unsigned int idx[3];
        direct.triangles[rank].getPoints(idx[0], idx[1], idx[2]);
        for (int k = 0; k < 3; ++k) {
            CtvxPoint const& p = direct.points[idx[k]];
            tri[k][0] = p.X() + 0.0f;
            tri[k][1] = p.Y() + 0.0f;
            tri[k][2] = p.Z() + 0.0f;
        }
        return;
    }
    CqarPoint3 v[3];
    poly->getTriangle(rank, v);
    TcT(tri, v);
}

bool CtvxPolyhedronPolyhedronTypedAnalysis::boxOutcome(int result, float d0, float bound)
{
    if (result == 0)
        return true;
    switch (m_analysisType) {
    case CtvxAnalysis::EXACT_DISTANCE:
        return m_distance->distance() > bound;
    case CtvxAnalysis::ESTIMATED_DISTANCE:
        if (bound < d0) {
            m_distance->setDistance(bound);
            m_isDistanceFound = true;
        }
        return false;
    default:
        return false;
    }
}

void CtvxPolyhedronPolyhedronTypedAnalysis::pushChildren(CtvxOBB const* box, bool splitFirst, int other)
{
    // Last in, first out: the second child goes on the stack first so that
    // the first child is examined first.
    int const c1 = encodeChild(box->getChild1Rank());
    int const c2 = encodeChild(box->getChild2Rank());
    if (splitFirst) {
        m_steps->push_back(Step{c2, other});
        m_steps->push_back(Step{c1, other});
    } else {
        m_steps->push_back(Step{other, c2});
        m_steps->push_back(Step{other, c1});
    }
}


bool CtvxPolyhedronPolyhedronTypedAnalysis::distanceMode() const
{
    return m_analysisType == CtvxAnalysis::EXACT_DISTANCE || m_analysisType == CtvxAnalysis::ESTIMATED_DISTANCE;
}

void CtvxPolyhedronPolyhedronTypedAnalysis::computeObbObb(CtvxOBB* b1, CtvxOBB* b2, CtvxMat4 const& m1,
                                                          CtvxMat4 const& m2)
{
    float h1[3], h2[3];
    boxHalfLengths(b1, m_tree1, h1);
    boxHalfLengths(b2, m_tree2, h2);
    CtvxMat4 const r = m1 * m_poly2ToPoly1 * m2;
    float const d0 = m_distance->distance();
    float bound = d0;
    ++m_boxTests;
    int const result = CtvxProximityKernels::boxBoxSeparation(h1, h2, r, m_polyTolerance, distanceMode(), bound);
    if (!boxOutcome(result, d0, bound))
        return;
    // Split the larger box; sizes are compared as stored.
    if (b1->size() > b2->size())
        pushChildren(b1, true, static_cast<int>(b2 - m_obbs2));
    else
        pushChildren(b2, false, static_cast<int>(b1 - m_obbs1));
}

bool CtvxPolyhedronPolyhedronTypedAnalysis::boxTriangleNeedsDescent(CtvxOBB const* box,
                                                                   CtvxPolyhedronOBBTree const* tree,
                                                                   CtvxMat4 const& toBox, float (&tri)[3][3])
{
    float h[3];
    boxHalfLengths(box, tree, h);
    float v[3][3];
    PmM(v[0], tri[0], toBox);
    PmM(v[1], tri[1], toBox);
    PmM(v[2], tri[2], toBox);
    float const d0 = m_distance->distance();
    float bound = d0;
    ++m_boxTests;
    int const result =
        CtvxProximityKernels::boxTriangleSeparation(v[0], v[1], v[2], h, m_polyTolerance, distanceMode(), bound);
    return boxOutcome(result, d0, bound);
}

void CtvxPolyhedronPolyhedronTypedAnalysis::computeObbTriangle(CtvxOBB* b1, CtvxMat4 const& m1, unsigned int t2,
                                                               float (&tri2)[3][3])
{
    // Frame 2 into b1's frame.
    if (boxTriangleNeedsDescent(b1, m_tree1, m1 * m_poly2ToPoly1, tri2))
        pushChildren(b1, true, -static_cast<int>(t2) - 1);
}

void CtvxPolyhedronPolyhedronTypedAnalysis::computeTriangleObb(unsigned int t1, float (&tri1)[3][3], CtvxOBB* b2,
                                                               CtvxMat4 const& m2)
{
    // Frame 1 into b2's frame.
    if (boxTriangleNeedsDescent(b2, m_tree2, (m_poly2ToPoly1 * m2).inverse(), tri1))
        pushChildren(b2, false, -static_cast<int>(t1) - 1);
}

void CtvxPolyhedronPolyhedronTypedAnalysis::triangleInBoxFrame(bool boxOfFirst, int first, int second,
                                                               CtvxMat4 const& toBox1, CtvxMat4 const& place2,
                                                               float (&v)[3][3], CtvxMat4& toBox2) const
{
    float tri[3][3];
    if (boxOfFirst) {
        readTriangle(m_poly2, m_direct2, triangleOf(second), tri);
        for (int k = 0; k < 3; ++k)
            PmM(v[k], tri[k], toBox1);
    } else {
        readTriangle(m_poly1, m_direct1, triangleOf(first), tri);
        toBox2 = (m_poly2ToPoly1 * place2).inverse();
        for (int k = 0; k < 3; ++k)
            PmM(v[k], tri[k], toBox2);
    }
}

float CtvxPolyhedronPolyhedronTypedAnalysis::pairTolerance(unsigned int t1, unsigned int t2) const
{
    float const tol1 = m_direct1.uniformTolerance ? m_direct1.tolerance
                                                  : static_cast<float>(m_poly1->toleranceForTriangle(t1));
    float const tol2 = m_direct2.uniformTolerance ? m_direct2.tolerance
                                                  : static_cast<float>(m_poly2->toleranceForTriangle(t2));
    return tol1 + tol2;
}

void CtvxPolyhedronPolyhedronTypedAnalysis::computeTriangleTriangle(unsigned int t1, float (&tri1)[3][3],
                                                                    unsigned int t2, float (&tri2)[3][3])
{
    ++m_triangleTests;
    m_triangleTolerance = pairTolerance(t1, t2);
    float b[3][3];
    PmM(b[0], tri2[0], m_poly2ToPoly1);
    PmM(b[1], tri2[1], m_poly2ToPoly1);
    PmM(b[2], tri2[2], m_poly2ToPoly1);

    float p[3] = {0, 0, 0}, q[3] = {0, 0, 0};
    float d = 0.0f;
    bool contact;
    if (m_analysisType == CtvxAnalysis::EXACT_DISTANCE) {
        d = TriDist(p, q, tri1, b) - m_triangleTolerance;
        contact = !(d > 0.0f);
    } else {
        // The kernels' one decision, which the distance above agrees with.
        CtvxProximityKernels k;
        k.triangleTolerance(m_triangleTolerance);
        contact = k.contact(tri1, b, d);
        m_unsureTests += k.unsureDecisions();
    }

    if (contact) {
        m_isDistanceFound = false;
        m_isCollisionFound = true;
        m_collision->addPair(CtvxPolyhedronTriangle::create(m_poly1ShPtr, static_cast<int>(t1)),
                             CtvxPolyhedronTriangle::create(m_poly2ShPtr, static_cast<int>(t2)));
        m_poly1->setLastClosestInfo(static_cast<int>(t1));
        m_poly2->setLastClosestInfo(static_cast<int>(t2));
        return;
    }
    switch (m_analysisType) {
    case CtvxAnalysis::FIRST_COLLISION:
    case CtvxAnalysis::ALL_COLLISIONS:
        m_poly1->setLastClosestInfo(static_cast<int>(t1));
        m_poly2->setLastClosestInfo(static_cast<int>(t2));
        break;
    case CtvxAnalysis::EXACT_DISTANCE:
        if (d < m_distance->distance()) {
            m_closestTriangle1 = static_cast<int>(t1);
            m_closestPoint1.setValue(p[0], p[1], p[2]);
            m_closestTriangle2 = static_cast<int>(t2);
            m_closestPoint2.setValue(q[0], q[1], q[2]);
            m_distance->setDistance(d);
            m_isDistanceFound = true;
            m_poly1->setLastClosestInfo(static_cast<int>(t1));
            m_poly2->setLastClosestInfo(static_cast<int>(t2));
        }
        break;
    case CtvxAnalysis::ESTIMATED_DISTANCE:
        if (d < m_distance->distance()) {
            m_distance->setDistance(d);
            m_isDistanceFound = true;
            m_poly1->setLastClosestInfo(static_cast<int>(t1));
            m_poly2->setLastClosestInfo(static_cast<int>(t2));
        }
        break;
    }
}

// The triangle primitives live in one internal unit shared with the tests
// and benchmarks; these members hand them the tolerance of the pair.

float CtvxPolyhedronPolyhedronTypedAnalysis::TriDist(float* const p, float* const q, float const (*const s)[3],
                                                     float const (*const t)[3]) const
{
    CtvxProximityKernels k;
    k.triangleTolerance(m_triangleTolerance);
    float const d = k.TriDist(p, q, s, t);
    m_unsureTests += k.unsureDecisions();
    return d;
}

bool CtvxPolyhedronPolyhedronTypedAnalysis::hintTouches(unsigned int t1, unsigned int t2)
{
    // The hint's points meet, but only the triangle decision reports a
    // contact: the points were rounded into frame 1 in double precision.
    float tri1[3][3], tri2[3][3], b[3][3];
    readTriangle(m_poly1, DirectMesh(), t1, tri1);
    readTriangle(m_poly2, DirectMesh(), t2, tri2);
    for (int k = 0; k < 3; ++k)
        PmM(b[k], tri2[k], m_poly2ToPoly1);
    CtvxProximityKernels k;
    k.triangleTolerance(pairTolerance(t1, t2));
    float separation;
    bool const touches = k.contact(tri1, b, separation);
    m_unsureTests += k.unsureDecisions();
    return touches;
}

void CtvxPolyhedronPolyhedronTypedAnalysis::SegPoints(float* const vec, float* const x, float* const y,
                                                      float const* const p, float const* const a,
                                                      float const* const q, float const* const b) const
{
    CtvxProximityKernels k;
    k.SegPoints(vec, x, y, p, a, q, b);
}

bool CtvxPolyhedronPolyhedronTypedAnalysis::triContact(float const (*const p)[3], float const (*const q)[3],
                                                       float& separation) const
{
    CtvxProximityKernels k;
    k.triangleTolerance(m_triangleTolerance);
    return k.triContact(p, q, separation);
}

int CtvxPolyhedronPolyhedronTypedAnalysis::project6(float* axis, float* p1, float* p2, float* p3, float* q1,
                                                    float* q2, float* q3, float& separation) const
{
    CtvxProximityKernels k;
    k.triangleTolerance(m_triangleTolerance);
    return k.project6(axis, p1, p2, p3, q1, q2, q3, separation);
}

void CtvxPolyhedronPolyhedronTypedAnalysis::PmM(float* const out, float const* const in, CtvxMat4 const& m) const
{
    CtvxProximityKernels k;
    k.PmM(out, in, m);
}

void CtvxPolyhedronPolyhedronTypedAnalysis::TcT(float (&out)[3][3], CqarPoint3 const* const points) const
{
    CtvxProximityKernels k;
    k.TcT(out, points);
}
