#include <tvx/bvtree/CtvxPolyhedronOBBTreeFactory.h>

#include <tvx/bvtree/CtvxHalf.h>
#include <tvx/bvtree/CtvxOBB.h>
#include <tvx/bvtree/CtvxPolyhedronOBBTree.h>
#include <tvx/geometry/CtvxPoly.h>
#include <tvx/geometry/CtvxPolyhedron.h>
#include <tvx/geometry/CtvxPolyhedronData.h>
#include <tvx/math/CtvxPoint.h>
#include <tvx/math/CtvxTriangle.h>
#include <tvx/math/CtvxMat4.h>
#include <tvx/progress/CtvxProgressDelegate.h>
#include <tvx/scene/CtvxObjectOBB.h>

#include <qar/CqarMat4.h>
#include <qar/CqarQuatF.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <typeinfo>
#include <utility>

// The side-by-side passes use SSE2 where the target has it (every x86-64);
// elsewhere, or with TVX_TREE_BUILD_SCALAR defined, plain loops compute the
// same floats.
#if defined(__SSE2__) && !defined(TVX_TREE_BUILD_SCALAR)
#include <emmintrin.h>
#define TVX_BUILD_SSE2 1
#else
#define TVX_BUILD_SSE2 0
#endif

namespace {

// Largest finite binary16 value: the root's reach is mapped to half of it.
double const kHalfMax = 65504.0;

// Margin kept by the rounding mend beyond exact containment, relative to the
// box's reach (distance of its centre from the origin plus its largest half
// length): absorbs the float rounding of a kernel that maps a vertex into the
// box frame (a few ulps of that reach) and the narrowing of double vertices
// to float in the build.
double const kMendMargin = 1.0 / 1048576.0; // 2^-20

// Largest coordinate magnitude for which extremes are gathered out of order:
// projections on axes of components at most 2 then stay far from float
// overflow, so no infinity or NaN can make the order matter.
float const kOrderFreeMagnitude = 1e18f;

// Jacobi: off-diagonal mass below which the matrix counts as diagonal.
double const kJacobiStop = 1e-5;
// Triangle axes: below this 1-norm the cross product of two unit edges is
// taken as zero (a needle-like triangle) and another normal is chosen.
double const kNeedleNormal = 1e-5;

CtvxPolyhedronOBBTreeFactory::EAlgoObbPlacement sanitised(CtvxPolyhedronOBBTreeFactory::EAlgoObbPlacement a)
{
    return a == CtvxPolyhedronOBBTreeFactory::OBB_PLACEMENT_AABB_LIKE
               ? CtvxPolyhedronOBBTreeFactory::OBB_PLACEMENT_AABB_LIKE
               : CtvxPolyhedronOBBTreeFactory::OBB_PLACEMENT_DEFAULT;
}

void rotatePair(float& x, float& y, float s, float tau)
{
    float const g = x;
    float const h = y;
    x = g - s * (h + g * tau);
    y = h + s * (g - h * tau);
}

void cross(float const* a, float const* b, float* out)
{
    out[0] = a[1] * b[2] - a[2] * b[1];
    out[1] = a[2] * b[0] - a[0] * b[2];
    out[2] = a[0] * b[1] - a[1] * b[0];
}

// The smallest stored half length h' >= needed as the queries decode it.
std::uint16_t roundedUpHalf(CtvxPolyhedronOBBTree const& tree, double needed)
{
    std::uint16_t h = CtvxHalf::fromFloatUp(tree.convertToScaledFloat(static_cast<float>(needed)));
    while (h < 0x7C00u && static_cast<double>(tree.convertFromScaledFloat(CtvxHalf::toFloat(h))) < needed)
        ++h;
    return h;
}

} // namespace

CtvxPolyhedronOBBTreeFactory::EAlgoObbPlacement CtvxPolyhedronOBBTreeFactory::m_algoObbPlacement =
    CtvxPolyhedronOBBTreeFactory::OBB_PLACEMENT_DEFAULT;
bool CtvxPolyhedronOBBTreeFactory::s_conservativeBoxes = true;

boost::shared_ptr<CtvxPolyhedronOBBTreeFactory> CtvxPolyhedronOBBTreeFactory::create()
{
    boost::shared_ptr<CtvxPolyhedronOBBTreeFactory> factory(new CtvxPolyhedronOBBTreeFactory());
    factory->init(factory);
    return factory;
}

CtvxPolyhedronOBBTreeFactory::CtvxPolyhedronOBBTreeFactory()
    : m_nextObbRank(0), m_tree(nullptr), m_treeObbs(nullptr), m_poly(nullptr), m_isFirstObb(true), m_orderFree(false),
      m_triangleCount(0)
{
}

CtvxPolyhedronOBBTreeFactory::~CtvxPolyhedronOBBTreeFactory() = default;

void CtvxPolyhedronOBBTreeFactory::init(boost::shared_ptr<CtvxPolyhedronOBBTreeFactory>&) {}

CtvxPolyhedronOBBTreeFactory::EAlgoObbPlacement CtvxPolyhedronOBBTreeFactory::algoObbPlacement()
{
    return m_algoObbPlacement;
}

void CtvxPolyhedronOBBTreeFactory::algoObbPlacement(EAlgoObbPlacement algo)
{
    m_algoObbPlacement = sanitised(algo);
}

bool CtvxPolyhedronOBBTreeFactory::conservativeBoxes()
{
    return s_conservativeBoxes;
}

void CtvxPolyhedronOBBTreeFactory::conservativeBoxes(bool on)
{
    s_conservativeBoxes = on;
}

// ---------------------------------------------------------------------------
// Build driver

void CtvxPolyhedronOBBTreeFactory::build(boost::shared_ptr<CtvxPoly>& poly,
                                         boost::shared_ptr<CtvxProgressDelegate>& delegate)
{
    int const n = beginBuild(poly, delegate);
    if (n >= 2)
        buildRecurse(0, 0, n);
    endBuild();
}

int CtvxPolyhedronOBBTreeFactory::beginBuild(boost::shared_ptr<CtvxPoly>& poly,
                                             boost::shared_ptr<CtvxProgressDelegate>& delegate)
{
    m_poly = poly.get();
    m_delegate = delegate;
    m_isFirstObb = true;
    m_tree = m_poly ? dynamic_cast<CtvxPolyhedronOBBTree*>(m_poly->m_bvTree.get()) : nullptr;
    m_treeObbs = nullptr;
    m_triangleCount = 0;
    if (!m_tree)
        return -1;

    unsigned int const n = m_poly->countTriangles();
    m_triangleCount = n;
    m_tree->m_depth = 0;
    m_tree->m_obbs.clear();
    if (n == 0)
        return 0;

    m_tree->m_obbs.resize(n - 1);
    m_treeObbs = m_tree->m_obbs.data();
    m_triangleRanks.resize(n);
    for (unsigned int i = 0; i < n; ++i)
        m_triangleRanks[i] = i;
    readTriangles(n);
    m_nextObbRank = 1;
    if (n >= 2)
        m_tree->m_depth = 1;
    return static_cast<int>(n);
}

void CtvxPolyhedronOBBTreeFactory::endBuild()
{
    if (m_tree) {
        unsigned int const n = m_triangleCount;
        CtvxObjectOBB* box = nullptr;
        if (n == 1) {
            CtvxOBB lone;
            obbFitToOneTriangle(0, &lone);
            box = new CtvxObjectOBB(lone, m_tree->scale());
        } else if (n >= 2) {
            box = new CtvxObjectOBB(m_treeObbs[0], m_tree->scale());
        }
        if (box && s_conservativeBoxes)
            enlargeToContain(*box, 0, static_cast<int>(n));
        delete m_poly->m_polyObb;
        m_poly->m_polyObb = box;
    }
    std::vector<unsigned int>().swap(m_triangleRanks);
    std::vector<float>().swap(m_vertices);
    std::vector<double>().swap(m_centroidSums);
    std::vector<StackEntry>().swap(m_stack);
    std::vector<SplitNode>().swap(m_ahead);
    m_tree = nullptr;
    m_treeObbs = nullptr;
    m_delegate.reset();
}

bool CtvxPolyhedronOBBTreeFactory::readDirect(unsigned int n)
{
    // The library's own polyhedron under an identity points transform hands
    // out each stored float widened to double plus a "+ 0" translation, which
    // narrows back to the float with -0 turned into +0: adding 0.0f does the
    // same, without a virtual call and two conversions per coordinate.
    if (typeid(*m_poly) != typeid(CtvxPolyhedron))
        return false;
    CtvxPolyhedron const* const p = static_cast<CtvxPolyhedron const*>(m_poly);
    CqarMat4 m;
    p->getPointsTransform(m);
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c)
            if (m(r, c) != (r == c ? 1.0 : 0.0))
                return false;
        if (m(r, 3) != 0.0 || std::signbit(m(r, 3)))
            return false;
    }
    boost::shared_ptr<CtvxPolyhedronData> const data = p->polyData();
    if (!data || data->countTriangles() != n)
        return false;
    CtvxPoint const* const points = data->points();
    CtvxTriangle const* const triangles = data->triangles();
    float* v = m_vertices.data();
    for (unsigned int t = 0; t < n; ++t, v += 9) {
        unsigned int idx[3];
        triangles[t].getPoints(idx[0], idx[1], idx[2]);
        for (int j = 0; j < 3; ++j) {
            CtvxPoint const& q = points[idx[j]];
            v[3 * j] = q.X() + 0.0f;
            v[3 * j + 1] = q.Y() + 0.0f;
            v[3 * j + 2] = q.Z() + 0.0f;
        }
    }
    return true;
}

void CtvxPolyhedronOBBTreeFactory::readTriangles(unsigned int n)
{
    // Three floats of padding, so that four-float loads at a triangle's last
    // vertex stay inside the array.
    m_vertices.assign(static_cast<std::size_t>(n) * 9 + 3, 0.0f);
    m_centroidSums.clear();
    if (!readDirect(n)) {
        bool exact = true;
        CqarPoint3 points[3];
        for (unsigned int t = 0; t < n; ++t) {
            m_poly->getTriangle(t, points);
            float* v = &m_vertices[static_cast<std::size_t>(t) * 9];
            for (int j = 0; j < 3; ++j)
                for (int k = 0; k < 3; ++k) {
                    double const d = points[j][k];
                    v[3 * j + k] = static_cast<float>(d);
                    exact = exact && static_cast<double>(v[3 * j + k]) == d;
                }
            if (!exact && m_centroidSums.empty()) {
                // From here on keep the double sums; fill in those already read.
                m_centroidSums.resize(static_cast<std::size_t>(n) * 3);
                for (unsigned int u = 0; u < t; ++u) {
                    float const* w = &m_vertices[static_cast<std::size_t>(u) * 9];
                    for (int k = 0; k < 3; ++k)
                        m_centroidSums[3 * u + k] = static_cast<double>(w[k]) + static_cast<double>(w[3 + k]) +
                                                    static_cast<double>(w[6 + k]);
                }
            }
            if (!m_centroidSums.empty())
                for (int k = 0; k < 3; ++k)
                    m_centroidSums[3 * static_cast<std::size_t>(t) + k] = points[0][k] + points[1][k] + points[2][k];
        }
    }
    // Bounds and extents may be gathered in any order only when every value
    // is finite, no zero is negative and projections cannot overflow: then a
    // minimum or maximum has a single representation whatever the order.
    m_orderFree = true;
    for (float const x : m_vertices)
        if (!(std::fabs(x) <= kOrderFreeMagnitude) || (x == 0.0f && std::signbit(x))) {
            m_orderFree = false;
            break;
        }
}

void CtvxPolyhedronOBBTreeFactory::swapPositions(int p, int q)
{
    std::swap(m_triangleRanks[static_cast<std::size_t>(p)], m_triangleRanks[static_cast<std::size_t>(q)]);
    std::swap_ranges(&m_vertices[static_cast<std::size_t>(p) * 9], &m_vertices[static_cast<std::size_t>(p) * 9] + 9,
                     &m_vertices[static_cast<std::size_t>(q) * 9]);
    if (!m_centroidSums.empty())
        std::swap_ranges(&m_centroidSums[static_cast<std::size_t>(p) * 3],
                         &m_centroidSums[static_cast<std::size_t>(p) * 3] + 3,
                         &m_centroidSums[static_cast<std::size_t>(q) * 3]);
}

void CtvxPolyhedronOBBTreeFactory::fitAndSplitNode(int nodeRank, int first, int count, int& nLeft)
{
    CqarVect3 axis(1.0, 0.0, 0.0);
    double splitValue = 0.0;
    obbFitToSetOfTriangles(nodeRank, first, count, axis, splitValue);
    setOfTrianglesSplit(first, count, axis, splitValue, nLeft);
}

void CtvxPolyhedronOBBTreeFactory::buildRecurse(int nodeRank, int first, int count)
{
    // Each entry is either a node to build or, with nodeRank -1, the report
    // of a node whose subtree is complete. A node pushes its report first and
    // its children above it (first child on top), so reports come in
    // post-order and ranks are handed out in the order of the recursive
    // description: both children's ranks before either subtree is built.
    // A node's bounds come from its parent's split pass when the data allow
    // gathering them out of order, and the principal axes of two sibling
    // boxes are solved together as soon as their ranges are known (a box
    // depends only on the triangles of its range and their order, which
    // nothing changes before the box is built).
    if (m_orderFree && m_algoObbPlacement != OBB_PLACEMENT_AABB_LIKE) {
        buildAhead(nodeRank, first, count);
        return;
    }
    m_stack.clear();
    StackEntry root{};
    root.nodeRank = nodeRank;
    root.first = first;
    root.count = count;
    root.depth = 1;
    if (m_orderFree)
        orderFreeBounds(first, count, root.bounds);
    m_stack.push_back(root);
    bool const pairAxes = m_orderFree && m_algoObbPlacement != OBB_PLACEMENT_AABB_LIKE;
    while (!m_stack.empty()) {
        StackEntry const e = m_stack.back();
        m_stack.pop_back();
        if (e.nodeRank < 0) {
            if (m_delegate)
                m_delegate->didBuildNode(static_cast<unsigned int>(e.first));
            continue;
        }
        if (e.depth > m_tree->m_depth)
            m_tree->m_depth = e.depth;

        int nLeft = 0;
        StackEntry left{}, right{};
        buildNode(e, nLeft, left.bounds, right.bounds);
        CtvxOBB& box = m_treeObbs[e.nodeRank];
        StackEntry report{};
        report.nodeRank = -1;
        report.first = e.first;
        m_stack.push_back(report);
        int const nRight = e.count - nLeft;
        left.first = e.first;
        left.count = nLeft;
        left.depth = e.depth + 1;
        right.first = e.first + nLeft;
        right.count = nRight;
        right.depth = e.depth + 1;
        if (nLeft == 1) {
            box.firstTriangle(static_cast<int>(m_triangleRanks[static_cast<std::size_t>(e.first)]));
            if (e.count == 2) {
                box.secondTriangle(static_cast<int>(m_triangleRanks[static_cast<std::size_t>(e.first) + 1]));
            } else {
                right.nodeRank = m_nextObbRank++;
                box.child2Rank(right.nodeRank);
                m_stack.push_back(right);
            }
        } else if (nRight == 1) {
            left.nodeRank = m_nextObbRank++;
            box.child1Rank(left.nodeRank);
            box.secondTriangle(static_cast<int>(m_triangleRanks[static_cast<std::size_t>(e.first + nLeft)]));
            m_stack.push_back(left);
        } else {
            left.nodeRank = m_nextObbRank;
            right.nodeRank = m_nextObbRank + 1;
            m_nextObbRank += 2;
            box.child1Rank(left.nodeRank);
            box.child2Rank(right.nodeRank);
            if (pairAxes) {
                EigenProblem pr[2];
                scatterAbout(left.first, left.count, left.bounds, pr[0].a);
                scatterAbout(right.first, right.count, right.bounds, pr[1].a);
                jacobiMany(pr, 2);
                axesFromEigen(pr[0].d, pr[0].v, left.axes);
                axesFromEigen(pr[1].d, pr[1].v, right.axes);
                left.hasAxes = right.hasAxes = true;
            }
            m_stack.push_back(right);
            m_stack.push_back(left);
        }
    }
}

void CtvxPolyhedronOBBTreeFactory::fitAndSplitPart(Part const& part, int nodeRank, SplitNode& out)
{
    CqarVect3 axis(1.0, 0.0, 0.0);
    double splitValue = 0.0;
    CtvxOBB& box = m_treeObbs[nodeRank];
    fitDefault(box, part.first, part.count, part.bounds, part.hasAxes ? part.axes : nullptr, axis, splitValue);
    int nLeft = 0;
    out.nodeRank = nodeRank;
    out.first = part.first;
    out.count = part.count;
    mendAndSplit(s_conservativeBoxes ? &box : nullptr, part.first, part.count, axis, splitValue, nLeft,
                 out.parts[0].bounds, out.parts[1].bounds);
    out.nLeft = nLeft;
    out.parts[0].first = part.first;
    out.parts[0].count = nLeft;
    out.parts[0].hasAxes = false;
    out.parts[1].first = part.first + nLeft;
    out.parts[1].count = part.count - nLeft;
    out.parts[1].hasAxes = false;
}

void CtvxPolyhedronOBBTreeFactory::buildAhead(int nodeRank, int first, int count)
{
    // The descent of buildRecurse, one level ahead: a box depends only on
    // the triangles of its range and their order, and a range is not touched
    // once its parent has split, so a node's boxed children are fitted and
    // split as soon as it is popped, and the principal axes of up to four
    // grandchildren are solved together (their rotation chains overlap).
    // Popping, rank numbering, child codes and reports keep the order of
    // the recursive description: stacked entries are nodes already split,
    // with their parts waiting for ranks.
    m_ahead.clear();
    Part root{};
    root.first = first;
    root.count = count;
    orderFreeBounds(first, count, root.bounds);
    SplitNode top{};
    fitAndSplitPart(root, nodeRank, top);
    top.depth = 1;
    m_ahead.push_back(top);
    while (!m_ahead.empty()) {
        SplitNode const e = m_ahead.back();
        m_ahead.pop_back();
        if (e.nodeRank < 0) {
            if (m_delegate)
                m_delegate->didBuildNode(static_cast<unsigned int>(e.first));
            continue;
        }
        if (e.depth > m_tree->m_depth)
            m_tree->m_depth = e.depth;

        SplitNode report{};
        report.nodeRank = -1;
        report.first = e.first;
        m_ahead.push_back(report);

        CtvxOBB& box = m_treeObbs[e.nodeRank];
        int const nLeft = e.nLeft;
        int const nRight = e.count - nLeft;
        int ranks[2] = {-1, -1};
        if (nLeft == 1) {
            box.firstTriangle(static_cast<int>(m_triangleRanks[static_cast<std::size_t>(e.first)]));
            if (e.count == 2) {
                box.secondTriangle(static_cast<int>(m_triangleRanks[static_cast<std::size_t>(e.first) + 1]));
            } else {
                ranks[1] = m_nextObbRank++;
                box.child2Rank(ranks[1]);
            }
        } else if (nRight == 1) {
            ranks[0] = m_nextObbRank++;
            box.child1Rank(ranks[0]);
            box.secondTriangle(static_cast<int>(m_triangleRanks[static_cast<std::size_t>(e.first + nLeft)]));
        } else {
            ranks[0] = m_nextObbRank;
            ranks[1] = m_nextObbRank + 1;
            m_nextObbRank += 2;
            box.child1Rank(ranks[0]);
            box.child2Rank(ranks[1]);
        }

        // Parts still without axes (children of the root, or of a node
        // whose axes were not solved ahead) are solved first, together.
        EigenProblem problems[kMaxEigenProblems];
        Part parts[2] = {e.parts[0], e.parts[1]};
        Part* pending[2];
        int nPending = 0;
        for (int side = 0; side < 2; ++side)
            if (ranks[side] >= 0 && !parts[side].hasAxes)
                pending[nPending++] = &parts[side];
        if (nPending > 0) {
            for (int i = 0; i < nPending; ++i)
                scatterAbout(pending[i]->first, pending[i]->count, pending[i]->bounds, problems[i].a);
            jacobiMany(problems, nPending);
            for (int i = 0; i < nPending; ++i) {
                axesFromEigen(problems[i].d, problems[i].v, pending[i]->axes);
                pending[i]->hasAxes = true;
            }
        }

        // Fit and split the boxed children, then solve their own boxed
        // children's axes in one batch.
        SplitNode children[2];
        Part* grand[kMaxEigenProblems];
        int nGrand = 0;
        for (int side = 0; side < 2; ++side) {
            if (ranks[side] < 0)
                continue;
            SplitNode& c = children[side];
            fitAndSplitPart(parts[side], ranks[side], c);
            c.depth = e.depth + 1;
            int const cl = c.nLeft;
            int const cr = c.count - cl;
            if (cl >= 2)
                grand[nGrand++] = &c.parts[0];
            if (cr >= 2)
                grand[nGrand++] = &c.parts[1];
        }
        if (nGrand > 0) {
            for (int i = 0; i < nGrand; ++i)
                scatterAbout(grand[i]->first, grand[i]->count, grand[i]->bounds, problems[i].a);
            jacobiMany(problems, nGrand);
            for (int i = 0; i < nGrand; ++i) {
                axesFromEigen(problems[i].d, problems[i].v, grand[i]->axes);
                grand[i]->hasAxes = true;
            }
        }
        if (ranks[1] >= 0)
            m_ahead.push_back(children[1]);
        if (ranks[0] >= 0)
            m_ahead.push_back(children[0]);
    }
}

void CtvxPolyhedronOBBTreeFactory::buildNode(StackEntry const& node, int& nLeft, Bounds& left, Bounds& right)
{
    Bounds b = node.bounds;
    if (!m_orderFree)
        rangeBounds(node.first, node.count, b.lo, b.hi);
    CqarVect3 axis(1.0, 0.0, 0.0);
    double splitValue = 0.0;
    CtvxOBB& box = m_treeObbs[node.nodeRank];
    if (m_algoObbPlacement == OBB_PLACEMENT_AABB_LIKE)
        fitAabbLike(box, b, axis, splitValue);
    else
        fitDefault(box, node.first, node.count, b, node.hasAxes ? node.axes : nullptr, axis, splitValue);
    mendAndSplit(s_conservativeBoxes ? &box : nullptr, node.first, node.count, axis, splitValue, nLeft, left,
                 right);
}

void CtvxPolyhedronOBBTreeFactory::orderFreeBounds(int first, int count, Bounds& b) const
{
    // Without NaN and -0 the minimum and maximum do not depend on the order,
    // so the three vertices of a triangle are taken side by side.
    float const* v = &m_vertices[static_cast<std::size_t>(first) * 9];
#if TVX_BUILD_SSE2
    __m128 lo = _mm_set1_ps(HUGE_VALF), hi = _mm_set1_ps(-HUGE_VALF);
    for (int i = 0; i < count; ++i, v += 9) {
        // (x0 y0 z0 .), (x1 y1 z1 .), (x2 y2 z2 .): the fourth lanes carry
        // other coordinates of the same triangle and are never read.
        __m128 const a = _mm_loadu_ps(v);
        __m128 const c = _mm_loadu_ps(v + 3);
        __m128 d = _mm_loadu_ps(v + 5);
        d = _mm_shuffle_ps(d, d, _MM_SHUFFLE(3, 3, 2, 1));
        lo = _mm_min_ps(_mm_min_ps(_mm_min_ps(a, c), d), lo);
        hi = _mm_max_ps(_mm_max_ps(_mm_max_ps(a, c), d), hi);
    }
    float l[4], h[4];
    _mm_storeu_ps(l, lo);
    _mm_storeu_ps(h, hi);
    for (int k = 0; k < 3; ++k) {
        b.lo[k] = l[k];
        b.hi[k] = h[k];
    }
#else
    float lo[9], hi[9];
    for (int s = 0; s < 9; ++s) {
        lo[s] = HUGE_VALF;
        hi[s] = -HUGE_VALF;
    }
    for (int i = 0; i < count; ++i, v += 9)
        for (int s = 0; s < 9; ++s) {
            lo[s] = v[s] < lo[s] ? v[s] : lo[s];
            hi[s] = hi[s] < v[s] ? v[s] : hi[s];
        }
    for (int k = 0; k < 3; ++k) {
        b.lo[k] = std::min(lo[k], std::min(lo[3 + k], lo[6 + k]));
        b.hi[k] = std::max(hi[k], std::max(hi[3 + k], hi[6 + k]));
    }
#endif
}

void CtvxPolyhedronOBBTreeFactory::mendAndSplit(CtvxOBB* box, int first, int count, CqarVect3 const& axis,
                                                double splitValue, int& nLeft, Bounds& left, Bounds& right)
{
    // One pass for three jobs that each read every vertex of the range: the
    // rounding mend of the box (a maximum of absolute values, so the order
    // of the vertices does not matter), the split (in order, as
    // setOfTrianglesSplit does it) and the bounds of both parts, gathered
    // side by side when the data allow.
    double c[3] = {0.0, 0.0, 0.0}, r[3][3] = {{0.0, 0.0, 0.0}, {0.0, 0.0, 0.0}, {0.0, 0.0, 0.0}};
    if (box) {
        CtvxMat4 R;
        box->getRelativeRotation(R);
        float cs[3];
        box->getRelativeTranslations(cs[0], cs[1], cs[2]);
        for (int i = 0; i < 3; ++i) {
            c[i] = static_cast<double>(m_tree->convertFromScaledFloat(cs[i]));
            for (int k = 0; k < 3; ++k)
                r[i][k] = static_cast<double>(R(i, k));
        }
    }
    double e[3] = {0.0, 0.0, 0.0};
#if TVX_BUILD_SSE2
    // Lanes (0, 1) and (2, unused) of e; lane k of a term is
    // r[0][k] * d0 + r[1][k] * d1 + r[2][k] * d2 in that order.
    __m128d const r0a = _mm_setr_pd(r[0][0], r[0][1]), r0b = _mm_setr_pd(r[0][2], 0.0);
    __m128d const r1a = _mm_setr_pd(r[1][0], r[1][1]), r1b = _mm_setr_pd(r[1][2], 0.0);
    __m128d const r2a = _mm_setr_pd(r[2][0], r[2][1]), r2b = _mm_setr_pd(r[2][2], 0.0);
    __m128d const absMask = _mm_castsi128_pd(_mm_set1_epi64x(0x7FFFFFFFFFFFFFFFLL));
    __m128d ea = _mm_setzero_pd(), eb = _mm_setzero_pd();
    __m128 lanesLo[2] = {_mm_set1_ps(HUGE_VALF), _mm_set1_ps(HUGE_VALF)};
    __m128 lanesHi[2] = {_mm_set1_ps(-HUGE_VALF), _mm_set1_ps(-HUGE_VALF)};
#else
    float lanesLo[2][9], lanesHi[2][9];
    for (int side = 0; side < 2; ++side)
        for (int s = 0; s < 9; ++s) {
            lanesLo[side][s] = HUGE_VALF;
            lanesHi[side][s] = -HUGE_VALF;
        }
#endif
    bool const lanes = m_orderFree;

    double const a0 = axis[0], a1 = axis[1], a2 = axis[2];
    double const limit = 3.0 * splitValue;
    bool const sums = !m_centroidSums.empty();
    nLeft = 0;
    for (int i = 0; i < count; ++i) {
        int const p = first + i;
        float v[9];
        std::memcpy(v, &m_vertices[static_cast<std::size_t>(p) * 9], sizeof v);
        if (box)
            for (int j = 0; j < 3; ++j) {
                double const d0 = static_cast<double>(v[3 * j]) - c[0];
                double const d1 = static_cast<double>(v[3 * j + 1]) - c[1];
                double const d2 = static_cast<double>(v[3 * j + 2]) - c[2];
#if TVX_BUILD_SSE2
                __m128d const D0 = _mm_set1_pd(d0), D1 = _mm_set1_pd(d1), D2 = _mm_set1_pd(d2);
                __m128d const ta = _mm_add_pd(_mm_add_pd(_mm_mul_pd(r0a, D0), _mm_mul_pd(r1a, D1)),
                                              _mm_mul_pd(r2a, D2));
                __m128d const tb = _mm_add_pd(_mm_add_pd(_mm_mul_pd(r0b, D0), _mm_mul_pd(r1b, D1)),
                                              _mm_mul_pd(r2b, D2));
                // max(x, e) keeps e when x is NaN, as std::max(e, x) does.
                ea = _mm_max_pd(_mm_and_pd(ta, absMask), ea);
                eb = _mm_max_pd(_mm_and_pd(tb, absMask), eb);
#else
                for (int k = 0; k < 3; ++k)
                    e[k] = std::max(e[k], std::fabs(r[0][k] * d0 + r[1][k] * d1 + r[2][k] * d2));
#endif
            }
        double s0, s1, s2;
        if (!sums) {
            s0 = static_cast<double>(v[0]) + static_cast<double>(v[3]) + static_cast<double>(v[6]);
            s1 = static_cast<double>(v[1]) + static_cast<double>(v[4]) + static_cast<double>(v[7]);
            s2 = static_cast<double>(v[2]) + static_cast<double>(v[5]) + static_cast<double>(v[8]);
        } else {
            double const* s = &m_centroidSums[static_cast<std::size_t>(p) * 3];
            s0 = s[0];
            s1 = s[1];
            s2 = s[2];
        }
        double const along = a0 * s0 + a1 * s1 + a2 * s2;
        // A NaN centroid compares unordered and goes to the first part.
        int const side = along >= limit ? 1 : 0;
        if (side == 0) {
            if (p != first + nLeft)
                swapPositions(p, first + nLeft);
            ++nLeft;
        }
        if (lanes) {
#if TVX_BUILD_SSE2
            __m128 const va = _mm_loadu_ps(v);
            __m128 const vc = _mm_loadu_ps(v + 3);
            __m128 vd = _mm_loadu_ps(v + 5);
            vd = _mm_shuffle_ps(vd, vd, _MM_SHUFFLE(3, 3, 2, 1));
            lanesLo[side] = _mm_min_ps(_mm_min_ps(_mm_min_ps(va, vc), vd), lanesLo[side]);
            lanesHi[side] = _mm_max_ps(_mm_max_ps(_mm_max_ps(va, vc), vd), lanesHi[side]);
#else
            float* lo = lanesLo[side];
            float* hi = lanesHi[side];
            for (int s = 0; s < 9; ++s) {
                lo[s] = v[s] < lo[s] ? v[s] : lo[s];
                hi[s] = hi[s] < v[s] ? v[s] : hi[s];
            }
#endif
        }
    }

    if (box) {
#if TVX_BUILD_SSE2
        double ev[2];
        _mm_storeu_pd(ev, ea);
        e[0] = ev[0];
        e[1] = ev[1];
        _mm_storeu_pd(ev, eb);
        e[2] = ev[0];
#endif
        float hs[3];
        box->getHalfLengths(hs[0], hs[1], hs[2]);
        double const reach = std::max(std::fabs(c[0]), std::max(std::fabs(c[1]), std::fabs(c[2]))) +
                             std::max(e[0], std::max(e[1], e[2]));
        for (int k = 0; k < 3; ++k) {
            double const needed = e[k] + kMendMargin * reach;
            if (static_cast<double>(m_tree->convertFromScaledFloat(hs[k])) < needed)
                box->m_obbHalfLengths[k] = std::max(box->m_obbHalfLengths[k], roundedUpHalf(*m_tree, needed));
        }
    }

    if (nLeft == 0 || nLeft == count) {
        // All centroids on one side: the range is cut in the middle of its
        // order, which the pass left unchanged.
        nLeft = count / 2;
        if (lanes) {
            orderFreeBounds(first, nLeft, left);
            orderFreeBounds(first + nLeft, count - nLeft, right);
        }
    } else if (lanes) {
#if TVX_BUILD_SSE2
        float l[4], h[4];
        _mm_storeu_ps(l, lanesLo[0]);
        _mm_storeu_ps(h, lanesHi[0]);
        std::memcpy(left.lo, l, sizeof left.lo);
        std::memcpy(left.hi, h, sizeof left.hi);
        _mm_storeu_ps(l, lanesLo[1]);
        _mm_storeu_ps(h, lanesHi[1]);
        std::memcpy(right.lo, l, sizeof right.lo);
        std::memcpy(right.hi, h, sizeof right.hi);
#else
        for (int k = 0; k < 3; ++k) {
            left.lo[k] = std::min(lanesLo[0][k], std::min(lanesLo[0][3 + k], lanesLo[0][6 + k]));
            left.hi[k] = std::max(lanesHi[0][k], std::max(lanesHi[0][3 + k], lanesHi[0][6 + k]));
            right.lo[k] = std::min(lanesLo[1][k], std::min(lanesLo[1][3 + k], lanesLo[1][6 + k]));
            right.hi[k] = std::max(lanesHi[1][k], std::max(lanesHi[1][3 + k], lanesHi[1][6 + k]));
        }
#endif
    }
}

void CtvxPolyhedronOBBTreeFactory::setOfTrianglesSplit(int first, int count, CqarVect3 axis, double splitValue,
                                                       int& nLeft)
{
    nLeft = 0;
    if (count < 1) {
        nLeft = count / 2;
        return;
    }
    Bounds left, right;
    bool const lanes = m_orderFree;
    m_orderFree = false;
    mendAndSplit(nullptr, first, count, axis, splitValue, nLeft, left, right);
    m_orderFree = lanes;
}

// ---------------------------------------------------------------------------
// Fits

void CtvxPolyhedronOBBTreeFactory::obbFitToSetOfTriangles(int nodeRank, int first, int count, CqarVect3& axis,
                                                          double& splitValue)
{
    switch (m_algoObbPlacement) {
    case OBB_PLACEMENT_AABB_LIKE:
        obbFitToSetOfTriangles_AABBLike(nodeRank, first, count, axis, splitValue);
        break;
    case OBB_PLACEMENT_DEFAULT:
        obbFitToSetOfTriangles_Default(nodeRank, first, count, axis, splitValue);
        break;
    }
}

void CtvxPolyhedronOBBTreeFactory::obbFitToSetOfTriangles_Default(int nodeRank, int first, int count,
                                                                  CqarVect3& axis, double& splitValue)
{
    Bounds b;
    rangeBounds(first, count, b.lo, b.hi);
    CtvxOBB& box = m_treeObbs[nodeRank];
    fitDefault(box, first, count, b, nullptr, axis, splitValue);
    if (s_conservativeBoxes)
        enlargeToContain(box, first, count);
}

void CtvxPolyhedronOBBTreeFactory::fitDefault(CtvxOBB& box, int first, int count, Bounds const& b,
                                              float const (*givenAxes)[3], CqarVect3& axis, double& splitValue)
{
    float axes[3][3];
    if (givenAxes)
        std::memcpy(axes, givenAxes, sizeof axes);
    else
        principalAxesAbout(first, count, b, axes);
    float dims[2][3];
    bool tameAxes = true;
    for (int i = 0; i < 3; ++i)
        for (int k = 0; k < 3; ++k)
            tameAxes = tameAxes && std::fabs(axes[i][k]) <= 2.0f;
    if (m_orderFree && tameAxes)
        orderFreeDimensions(first, count, axes, dims);
    else
        obbComputeDimensions(first, count, axes, dims);

    CqarMat4 M;
    for (int i = 0; i < 3; ++i)
        for (int k = 0; k < 3; ++k)
            M(i, k) = static_cast<double>(axes[i][k]);
    float const c[3] = {(dims[0][0] + dims[1][0]) * 0.5f, (dims[0][1] + dims[1][1]) * 0.5f,
                        (dims[0][2] + dims[1][2]) * 0.5f};
    CqarPoint3 const C = M * CqarPoint3(c[0], c[1], c[2]);

    if (m_isFirstObb) {
        float m = 0.0f;
        double w = 0.0;
        for (int k = 0; k < 3; ++k) {
            m = std::max(m, (dims[1][k] - dims[0][k]) * 0.5f);
            w = std::max(w, std::fabs(C[k]));
        }
        m_tree->m_scale = static_cast<float>(kHalfMax / ((w + static_cast<double>(m)) * 2.0));
        m_isFirstObb = false;
    }
    float const sigma = m_tree->m_scale <= 1.0f ? m_tree->m_scale : 1.0f;

    // 0.505: the exact half extent enlarged by 1 %.
    box.halfLengths(((dims[1][0] - dims[0][0]) * 0.505f) * sigma, ((dims[1][1] - dims[0][1]) * 0.505f) * sigma,
                    ((dims[1][2] - dims[0][2]) * 0.505f) * sigma);
    box.relativeRotation(CqarQuatF(M));
    axis.setValue(axes[0][0], axes[1][0], axes[2][0]);
    splitValue = axis.scalarProduct(C);
    box.relativeTranslation(static_cast<float>(C[0]) * sigma, static_cast<float>(C[1]) * sigma,
                            static_cast<float>(C[2]) * sigma);
}

void CtvxPolyhedronOBBTreeFactory::rangeBounds(int first, int count, float (&lo)[3], float (&hi)[3]) const
{
    // The first vertex initialises both bounds; an empty range gives zeros.
    for (int k = 0; k < 3; ++k)
        lo[k] = hi[k] = 0.0f;
    for (int i = 0; i < count; ++i) {
        float const* v = &m_vertices[static_cast<std::size_t>(first + i) * 9];
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k) {
                float const x = v[3 * j + k];
                if (i == 0 && j == 0) {
                    lo[k] = hi[k] = x;
                } else {
                    lo[k] = std::min(lo[k], x);
                    hi[k] = std::max(hi[k], x);
                }
            }
    }
}

void CtvxPolyhedronOBBTreeFactory::obbFitToSetOfTriangles_AABBLike(int nodeRank, int first, int count,
                                                                   CqarVect3& axis, double& splitValue)
{
    Bounds b;
    rangeBounds(first, count, b.lo, b.hi);
    CtvxOBB& box = m_treeObbs[nodeRank];
    fitAabbLike(box, b, axis, splitValue);
    if (s_conservativeBoxes)
        enlargeToContain(box, first, count);
}

void CtvxPolyhedronOBBTreeFactory::fitAabbLike(CtvxOBB& box, Bounds const& b, CqarVect3& axis, double& splitValue)
{
    float const* lo = b.lo;
    float const* hi = b.hi;
    float const e[3] = {hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2]};

    box.halfLengths(e[0] * 0.5f, e[1] * 0.5f, e[2] * 0.5f);
    box.relativeTranslation((lo[0] + hi[0]) * 0.5f, (lo[1] + hi[1]) * 0.5f, (lo[2] + hi[2]) * 0.5f);
    // A half-turn about x: the box axes are the poly's axes up to sign.
    box.relativeRotation(CqarQuatF(0.0f, 1.0f, 0.0f, 0.0f));

    float cx, cy, cz;
    box.getRelativeTranslations(cx, cy, cz);
    if (e[0] > e[1] && e[0] > e[2]) {
        axis.setValue(1.0, 0.0, 0.0);
        splitValue = cx;
    } else if (e[2] > e[1]) {
        axis.setValue(0.0, 0.0, 1.0);
        splitValue = cz;
    } else {
        axis.setValue(0.0, 1.0, 0.0);
        splitValue = cy;
    }
}

void CtvxPolyhedronOBBTreeFactory::setOfTrianglesComputePrincipalAxis(int first, int count, float (*axes)[3])
{
    Bounds b;
    rangeBounds(first, count, b.lo, b.hi);
    principalAxesAbout(first, count, b, axes);
}

void CtvxPolyhedronOBBTreeFactory::principalAxesAbout(int first, int count, Bounds const& b, float (*axes)[3]) const
{
    float scatter[3][3];
    scatterAbout(first, count, b, scatter);
    principalAxes(scatter, axes);
}

void CtvxPolyhedronOBBTreeFactory::scatterAbout(int first, int count, Bounds const& b, float (*scatter)[3]) const
{
    float const c[3] = {(b.lo[0] + b.hi[0]) * 0.5f, (b.lo[1] + b.hi[1]) * 0.5f, (b.lo[2] + b.hi[2]) * 0.5f};

    // Scatter about the centre of the bounds (not the mean), one term per
    // vertex of every triangle, unweighted. The sums run in range order:
    // float addition does not reassociate.
    float s00 = 0.0f, s01 = 0.0f, s02 = 0.0f, s11 = 0.0f, s12 = 0.0f, s22 = 0.0f;
    float const* v = &m_vertices[static_cast<std::size_t>(first) * 9];
#if TVX_BUILD_SSE2
    // The six sums side by side, (s00 s01 s02 s11) and (s12 s22 . .): each
    // lane adds the same products in the same order as the scalar sums.
    __m128 const centre = _mm_setr_ps(c[0], c[1], c[2], 0.0f);
    __m128 accA = _mm_setzero_ps(), accB = _mm_setzero_ps();
    for (int i = 0; i < count; ++i, v += 9)
        for (int j = 0; j < 3; ++j) {
            __m128 const d = _mm_sub_ps(_mm_loadu_ps(v + 3 * j), centre);
            accA = _mm_add_ps(accA, _mm_mul_ps(_mm_shuffle_ps(d, d, _MM_SHUFFLE(1, 0, 0, 0)),
                                               _mm_shuffle_ps(d, d, _MM_SHUFFLE(1, 2, 1, 0))));
            accB = _mm_add_ps(accB, _mm_mul_ps(_mm_shuffle_ps(d, d, _MM_SHUFFLE(3, 3, 2, 1)),
                                               _mm_shuffle_ps(d, d, _MM_SHUFFLE(3, 3, 2, 2))));
        }
    float sumsA[4], sumsB[4];
    _mm_storeu_ps(sumsA, accA);
    _mm_storeu_ps(sumsB, accB);
    s00 = sumsA[0];
    s01 = sumsA[1];
    s02 = sumsA[2];
    s11 = sumsA[3];
    s12 = sumsB[0];
    s22 = sumsB[1];
#else
    for (int i = 0; i < count; ++i, v += 9) {
        for (int j = 0; j < 3; ++j) {
            float const dx = v[3 * j] - c[0];
            float const dy = v[3 * j + 1] - c[1];
            float const dz = v[3 * j + 2] - c[2];
            s00 += dx * dx;
            s01 += dx * dy;
            s02 += dx * dz;
            s11 += dy * dy;
            s12 += dy * dz;
            s22 += dz * dz;
        }
    }
#endif
    float const sums[3][3] = {{s00, s01, s02}, {s01, s11, s12}, {s02, s12, s22}};
    std::memcpy(scatter, sums, sizeof sums);
}

void CtvxPolyhedronOBBTreeFactory::obbComputeDimensions(int first, int count, float (*axes)[3],
                                                        float (*dims)[3]) const
{
    for (int k = 0; k < 3; ++k)
        dims[0][k] = dims[1][k] = 0.0f;
    for (int i = 0; i < count; ++i) {
        float const* v = &m_vertices[static_cast<std::size_t>(first + i) * 9];
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k) {
                float const p = v[3 * j] * axes[0][k] + v[3 * j + 1] * axes[1][k] + v[3 * j + 2] * axes[2][k];
                if (i == 0 && j == 0) {
                    dims[0][k] = dims[1][k] = p;
                } else {
                    dims[0][k] = std::min(dims[0][k], p);
                    dims[1][k] = std::max(dims[1][k], p);
                }
            }
    }
}

void CtvxPolyhedronOBBTreeFactory::orderFreeDimensions(int first, int count, float (*axes)[3],
                                                       float (*dims)[3]) const
{
    // Finite vertices and bounded axes give finite projections, so the
    // extremes are the same values in any order; only a zero extreme can
    // differ, in its sign (a product may give -0), and the in-order fold
    // keeps the first zero it meets, which the scan below finds.
    float const* v = &m_vertices[static_cast<std::size_t>(first) * 9];
#if TVX_BUILD_SSE2
    // Lane k of a projection is v0 * axes[0][k] + v1 * axes[1][k] +
    // v2 * axes[2][k], summed in that order as the scalar code does.
    __m128 const ax = _mm_setr_ps(axes[0][0], axes[0][1], axes[0][2], 0.0f);
    __m128 const ay = _mm_setr_ps(axes[1][0], axes[1][1], axes[1][2], 0.0f);
    __m128 const az = _mm_setr_ps(axes[2][0], axes[2][1], axes[2][2], 0.0f);
    __m128 lo[3], hi[3];
    for (int j = 0; j < 3; ++j) {
        lo[j] = _mm_set1_ps(HUGE_VALF);
        hi[j] = _mm_set1_ps(-HUGE_VALF);
    }
    for (int i = 0; i < count; ++i, v += 9)
        for (int j = 0; j < 3; ++j) {
            __m128 const p = _mm_add_ps(_mm_add_ps(_mm_mul_ps(_mm_set1_ps(v[3 * j]), ax),
                                                   _mm_mul_ps(_mm_set1_ps(v[3 * j + 1]), ay)),
                                        _mm_mul_ps(_mm_set1_ps(v[3 * j + 2]), az));
            lo[j] = _mm_min_ps(p, lo[j]);
            hi[j] = _mm_max_ps(p, hi[j]);
        }
    float l[4], h[4];
    _mm_storeu_ps(l, _mm_min_ps(lo[0], _mm_min_ps(lo[1], lo[2])));
    _mm_storeu_ps(h, _mm_max_ps(hi[0], _mm_max_ps(hi[1], hi[2])));
    for (int k = 0; k < 3; ++k) {
        dims[0][k] = l[k];
        dims[1][k] = h[k];
    }
#else
    float lo[9], hi[9];
    for (int s = 0; s < 9; ++s) {
        lo[s] = HUGE_VALF;
        hi[s] = -HUGE_VALF;
    }
    for (int i = 0; i < count; ++i, v += 9)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k) {
                float const p = v[3 * j] * axes[0][k] + v[3 * j + 1] * axes[1][k] + v[3 * j + 2] * axes[2][k];
                lo[3 * j + k] = p < lo[3 * j + k] ? p : lo[3 * j + k];
                hi[3 * j + k] = hi[3 * j + k] < p ? p : hi[3 * j + k];
            }
    for (int k = 0; k < 3; ++k) {
        dims[0][k] = std::min(lo[k], std::min(lo[3 + k], lo[6 + k]));
        dims[1][k] = std::max(hi[k], std::max(hi[3 + k], hi[6 + k]));
    }
#endif
    for (int k = 0; k < 3; ++k) {
        if (dims[0][k] != 0.0f && dims[1][k] != 0.0f)
            continue;
        float const* w = &m_vertices[static_cast<std::size_t>(first) * 9];
        for (int i = 0; i < 3 * count; ++i, w += 3) {
            float const p = w[0] * axes[0][k] + w[1] * axes[1][k] + w[2] * axes[2][k];
            if (p == 0.0f) {
                if (dims[0][k] == 0.0f)
                    dims[0][k] = p;
                if (dims[1][k] == 0.0f)
                    dims[1][k] = p;
                break;
            }
        }
    }
}

void CtvxPolyhedronOBBTreeFactory::principalAxes(float (*scatter)[3], float (*axes)[3])
{
    float d[3];
    float v[3][3];
    jacobi(scatter, d, v);
    axesFromEigen(d, v, axes);
}

void CtvxPolyhedronOBBTreeFactory::axesFromEigen(float const* d, float (*v)[3], float (*axes)[3])
{
    // With d0 == d1, index 1 counts as the larger; index 2 leads only when
    // strictly larger than both.
    int h = d[0] > d[1] ? 0 : 1;
    int const o = 1 - h;
    int l;
    if (d[2] >= d[o]) {
        if (d[2] > d[h]) {
            l = h;
            h = 2;
        } else {
            l = 2;
        }
    } else {
        l = o;
    }
    float const a0[3] = {v[0][h], v[1][h], v[2][h]};
    float const a1[3] = {v[0][l], v[1][l], v[2][l]};
    float a2[3];
    cross(a0, a1, a2);
    for (int i = 0; i < 3; ++i) {
        axes[i][0] = a0[i];
        axes[i][1] = a1[i];
        axes[i][2] = a2[i];
    }
}

namespace {

// One run of the cyclic Jacobi method, cut into the steps that jacobi() and
// jacobiPair() drive: a run's arithmetic is the same whichever drives it.
struct JacobiRun {
    float (*a)[3];
    float* d;
    float (*v)[3];
    float b[3];
    float z[3];
    float threshold;
    int result; // -2 while running, else as jacobi() returns
};

inline void jacobiStart(JacobiRun& r, float (*a)[3], float* d, float (*v)[3])
{
    r.a = a;
    r.d = d;
    r.v = v;
    r.threshold = 0.0f;
    r.result = -2;
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j)
            v[i][j] = i == j ? 1.0f : 0.0f;
        r.b[i] = d[i] = a[i][i];
        r.z[i] = 0.0f;
    }
}

// The stop test at the start of a sweep; false when the run has ended.
inline bool jacobiSweepBegins(JacobiRun& r, int sweep)
{
    float (*a)[3] = r.a;
    float const sm = std::fabs(a[0][1]) + std::fabs(a[0][2]) + std::fabs(a[1][2]);
    if (static_cast<double>(sm) < kJacobiStop) {
        r.result = sweep;
        return false;
    }
    // Early sweeps only rotate away the large entries (sm / 45 each).
    r.threshold = sweep < 3 ? 0.2f * sm * 0.11111111f : 0.0f;
    return true;
}

inline void jacobiRotate(JacobiRun& r, int sweep, int p, int q)
{
    float (*a)[3] = r.a;
    float* d = r.d;
    float const g = 100.0f * std::fabs(a[p][q]);
    if (sweep > 3 && std::fabs(d[p]) + g == std::fabs(d[p]) && std::fabs(d[q]) + g == std::fabs(d[q])) {
        // The entry is negligible against both diagonal entries.
        a[p][q] = 0.0f;
    } else if (std::fabs(a[p][q]) > r.threshold) {
        float h = d[q] - d[p];
        float t;
        if (std::fabs(h) + g == std::fabs(h)) {
            t = a[p][q] / h;
        } else {
            float const theta = 0.5f * h / a[p][q];
            float const theta2 = theta * theta;
            t = static_cast<float>(1.0 / (static_cast<double>(std::fabs(theta)) +
                                          std::sqrt(1.0 + static_cast<double>(theta2))));
            // t = -t when theta < 0, as a flip of the sign bit: the sign of
            // theta is a coin toss, and a mispredicted branch here would
            // also throw away the work of the solves stepped alongside.
            std::uint32_t bits;
            std::memcpy(&bits, &t, sizeof bits);
            bits ^= static_cast<std::uint32_t>(theta < 0.0f) << 31;
            std::memcpy(&t, &bits, sizeof t);
        }
        float const c = 1.0f / std::sqrt(1.0f + t * t);
        float const s = t * c;
        float const tau = s / (1.0f + c);
        h = t * a[p][q];
        r.z[p] -= h;
        r.z[q] += h;
        d[p] -= h;
        d[q] += h;
        a[p][q] = 0.0f;
        // The one remaining off-diagonal pair, read from the upper triangle:
        // j > q for (0, 1), p < j < q for (0, 2), j < p for (1, 2).
        if (p == 0 && q == 1)
            rotatePair(a[0][2], a[1][2], s, tau);
        else if (p == 0)
            rotatePair(a[0][1], a[1][2], s, tau);
        else
            rotatePair(a[0][1], a[0][2], s, tau);
        for (int j = 0; j < 3; ++j)
            rotatePair(r.v[j][p], r.v[j][q], s, tau);
    }
}

inline void jacobiSweepEnds(JacobiRun& r)
{
    for (int i = 0; i < 3; ++i) {
        r.b[i] += r.z[i];
        r.d[i] = r.b[i];
        r.z[i] = 0.0f;
    }
}

int const kJacobiPairs[3][2] = {{0, 1}, {0, 2}, {1, 2}};
int const kJacobiSweeps = 50;

} // namespace

int CtvxPolyhedronOBBTreeFactory::jacobi(float (*a)[3], float* d, float (*v)[3])
{
    JacobiRun r;
    jacobiStart(r, a, d, v);
    for (int sweep = 0; sweep < kJacobiSweeps; ++sweep) {
        if (!jacobiSweepBegins(r, sweep))
            return r.result;
        for (auto const& pq : kJacobiPairs)
            jacobiRotate(r, sweep, pq[0], pq[1]);
        jacobiSweepEnds(r);
    }
    return -1;
}

#if TVX_BUILD_SSE2
namespace {

inline __m128 select(__m128 mask, __m128 yes, __m128 no)
{
    return _mm_or_ps(_mm_and_ps(mask, yes), _mm_andnot_ps(mask, no));
}

inline __m128 absOf(__m128 x)
{
    return _mm_and_ps(x, _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF)));
}

// rotatePair on four lanes, applied where mask is set.
inline void rotateLanes(__m128& x, __m128& y, __m128 s, __m128 tau, __m128 mask)
{
    __m128 const g = x;
    __m128 const h = y;
    __m128 const nx = _mm_sub_ps(g, _mm_mul_ps(s, _mm_add_ps(h, _mm_mul_ps(g, tau))));
    __m128 const ny = _mm_add_ps(h, _mm_mul_ps(s, _mm_sub_ps(g, _mm_mul_ps(h, tau))));
    x = select(mask, nx, x);
    y = select(mask, ny, y);
}

// The lanes of a float vector widened, divided and narrowed in double, as
// the scalar step does: float(1 / (|theta| + sqrt(1 + theta^2))).
inline __m128 tangentOfLarge(__m128 absTheta, __m128 theta2)
{
    __m128d const one = _mm_set1_pd(1.0);
    __m128d const lo = _mm_div_pd(one, _mm_add_pd(_mm_cvtps_pd(absTheta),
                                                  _mm_sqrt_pd(_mm_add_pd(one, _mm_cvtps_pd(theta2)))));
    __m128d const hi =
        _mm_div_pd(one, _mm_add_pd(_mm_cvtps_pd(_mm_movehl_ps(absTheta, absTheta)),
                                   _mm_sqrt_pd(_mm_add_pd(one, _mm_cvtps_pd(_mm_movehl_ps(theta2, theta2))))));
    return _mm_movelh_ps(_mm_cvtpd_ps(lo), _mm_cvtpd_ps(hi));
}

} // namespace
#endif

void CtvxPolyhedronOBBTreeFactory::jacobiMany(EigenProblem* problems, int n)
{
#if TVX_BUILD_SSE2
    // Up to four solves in the lanes of SSE registers, each lane doing the
    // scalar step's operations in the scalar step's order (IEEE operations
    // round lane by lane as they do alone). Branches become masks: a lane
    // whose solve has stopped, or whose entry is not rotated, keeps its
    // values.
    float in[3][4] = {{0.0f, 0.0f, 0.0f, 0.0f}, {0.0f, 0.0f, 0.0f, 0.0f}, {0.0f, 0.0f, 0.0f, 0.0f}};
    float diag[3][4] = {{0.0f, 0.0f, 0.0f, 0.0f}, {0.0f, 0.0f, 0.0f, 0.0f}, {0.0f, 0.0f, 0.0f, 0.0f}};
    int laneBits = 0;
    for (int i = 0; i < n; ++i) {
        in[0][i] = problems[i].a[0][1];
        in[1][i] = problems[i].a[0][2];
        in[2][i] = problems[i].a[1][2];
        for (int k = 0; k < 3; ++k)
            diag[k][i] = problems[i].a[k][k];
        laneBits |= 1 << i;
    }
    __m128 off[3] = {_mm_loadu_ps(in[0]), _mm_loadu_ps(in[1]), _mm_loadu_ps(in[2])}; // a01 a02 a12
    __m128 d[3], b[3], z[3];
    for (int k = 0; k < 3; ++k) {
        d[k] = b[k] = _mm_loadu_ps(diag[k]);
        z[k] = _mm_setzero_ps();
    }
    __m128 v[3][3];
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            v[r][c] = _mm_set1_ps(r == c ? 1.0f : 0.0f);
    __m128i const laneIndex = _mm_setr_epi32(1, 2, 4, 8);
    auto maskOf = [&](int bits) {
        return _mm_castsi128_ps(_mm_cmpeq_epi32(_mm_and_si128(_mm_set1_epi32(bits), laneIndex), laneIndex));
    };
    // Which off-diagonal entry each pair rotates, and the other two.
    int const pairEntry[3] = {0, 1, 2};
    int const otherX[3] = {1, 0, 0}; // (0,1): (a02, a12); (0,2): (a01, a12); (1,2): (a01, a02)
    int const otherY[3] = {2, 2, 1};
    __m128 const signBit = _mm_castsi128_ps(_mm_set1_epi32(static_cast<int>(0x80000000u)));
    for (int sweep = 0; sweep < kJacobiSweeps && laneBits != 0; ++sweep) {
        __m128 const sm = _mm_add_ps(_mm_add_ps(absOf(off[0]), absOf(off[1])), absOf(off[2]));
        __m128d const stop = _mm_set1_pd(kJacobiStop);
        int const stopped = _mm_movemask_pd(_mm_cmplt_pd(_mm_cvtps_pd(sm), stop)) |
                            (_mm_movemask_pd(_mm_cmplt_pd(_mm_cvtps_pd(_mm_movehl_ps(sm, sm)), stop)) << 2);
        laneBits &= ~stopped;
        if (laneBits == 0)
            break;
        __m128 const on = maskOf(laneBits);
        __m128 const threshold =
            sweep < 3 ? _mm_mul_ps(_mm_mul_ps(_mm_set1_ps(0.2f), sm), _mm_set1_ps(0.11111111f)) : _mm_setzero_ps();
        for (int pair = 0; pair < 3; ++pair) {
            int const p = kJacobiPairs[pair][0];
            int const q = kJacobiPairs[pair][1];
            __m128& apq = off[pairEntry[pair]];
            __m128 const absA = absOf(apq);
            __m128 const g = _mm_mul_ps(_mm_set1_ps(100.0f), absA);
            __m128 const absDp = absOf(d[p]);
            __m128 const absDq = absOf(d[q]);
            __m128 negligible = _mm_and_ps(_mm_cmpeq_ps(_mm_add_ps(absDp, g), absDp),
                                           _mm_cmpeq_ps(_mm_add_ps(absDq, g), absDq));
            if (sweep <= 3)
                negligible = _mm_setzero_ps();
            negligible = _mm_and_ps(negligible, on);
            __m128 const rotate = _mm_andnot_ps(negligible, _mm_and_ps(on, _mm_cmpgt_ps(absA, threshold)));

            __m128 h = _mm_sub_ps(d[q], d[p]);
            __m128 const absH = absOf(h);
            __m128 const small = _mm_cmpeq_ps(_mm_add_ps(absH, g), absH);
            __m128 const tSmall = _mm_div_ps(apq, h);
            __m128 const theta = _mm_div_ps(_mm_mul_ps(_mm_set1_ps(0.5f), h), apq);
            __m128 const theta2 = _mm_mul_ps(theta, theta);
            __m128 tLarge = tangentOfLarge(absOf(theta), theta2);
            tLarge = _mm_xor_ps(tLarge, _mm_and_ps(_mm_cmplt_ps(theta, _mm_setzero_ps()), signBit));
            __m128 const t = select(small, tSmall, tLarge);
            __m128 const one = _mm_set1_ps(1.0f);
            __m128 const c = _mm_div_ps(one, _mm_sqrt_ps(_mm_add_ps(one, _mm_mul_ps(t, t))));
            __m128 const sn = _mm_mul_ps(t, c);
            __m128 const tau = _mm_div_ps(sn, _mm_add_ps(one, c));
            h = _mm_mul_ps(t, apq);
            z[p] = select(rotate, _mm_sub_ps(z[p], h), z[p]);
            z[q] = select(rotate, _mm_add_ps(z[q], h), z[q]);
            d[p] = select(rotate, _mm_sub_ps(d[p], h), d[p]);
            d[q] = select(rotate, _mm_add_ps(d[q], h), d[q]);
            apq = _mm_andnot_ps(_mm_or_ps(rotate, negligible), apq);
            rotateLanes(off[otherX[pair]], off[otherY[pair]], sn, tau, rotate);
            for (int j = 0; j < 3; ++j)
                rotateLanes(v[j][p], v[j][q], sn, tau, rotate);
        }
        for (int k = 0; k < 3; ++k) {
            b[k] = select(on, _mm_add_ps(b[k], z[k]), b[k]);
            d[k] = select(on, b[k], d[k]);
            z[k] = select(on, _mm_setzero_ps(), z[k]);
        }
    }
    float out[3][4];
    for (int k = 0; k < 3; ++k)
        _mm_storeu_ps(out[k], off[k]);
    for (int i = 0; i < n; ++i) {
        problems[i].a[0][1] = out[0][i];
        problems[i].a[0][2] = out[1][i];
        problems[i].a[1][2] = out[2][i];
    }
    for (int k = 0; k < 3; ++k) {
        _mm_storeu_ps(out[0], d[k]);
        for (int i = 0; i < n; ++i)
            problems[i].d[k] = out[0][i];
    }
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) {
            _mm_storeu_ps(out[0], v[r][c]);
            for (int i = 0; i < n; ++i)
                problems[i].v[r][c] = out[0][i];
        }
#else
    // Independent solves, stepped side by side: each rotation is a long
    // chain of divisions and square roots, and the processor overlaps the
    // chains when their instructions are close together.
    JacobiRun runs[kMaxEigenProblems];
    bool on[kMaxEigenProblems];
    int active = 0;
    for (int i = 0; i < n; ++i) {
        jacobiStart(runs[i], problems[i].a, problems[i].d, problems[i].v);
        on[i] = true;
        ++active;
    }
    for (int sweep = 0; sweep < kJacobiSweeps && active > 0; ++sweep) {
        for (int i = 0; i < n; ++i)
            if (on[i] && !jacobiSweepBegins(runs[i], sweep)) {
                on[i] = false;
                --active;
            }
        for (auto const& pq : kJacobiPairs)
            for (int i = 0; i < n; ++i)
                if (on[i])
                    jacobiRotate(runs[i], sweep, pq[0], pq[1]);
        for (int i = 0; i < n; ++i)
            if (on[i])
                jacobiSweepEnds(runs[i]);
    }
#endif
}

void CtvxPolyhedronOBBTreeFactory::triangleComputePrincipalAxis(unsigned int triangle, float (*axes)[3]) const
{
    CqarPoint3 p[3];
    m_poly->getTriangle(triangle, p);
    double u[3], v[3], w[3];
    for (int k = 0; k < 3; ++k) {
        u[k] = p[1][k] - p[0][k];
        v[k] = p[2][k] - p[0][k];
        w[k] = p[1][k] - p[2][k];
    }
    auto isZero = [](double const* x) { return x[0] == 0.0 && x[1] == 0.0 && x[2] == 0.0; };
    auto norm2 = [](double const* x) { return x[0] * x[0] + x[1] * x[1] + x[2] * x[2]; };
    if (isZero(u))
        std::copy(w, w + 3, u);
    else if (isZero(v))
        std::copy(w, w + 3, v);
    if (isZero(u) && isZero(v) && isZero(w)) {
        for (int i = 0; i < 3; ++i)
            for (int k = 0; k < 3; ++k)
                axes[i][k] = i == k ? 1.0f : 0.0f;
        return;
    }
    // The longest edge becomes the first axis.
    if (norm2(w) > norm2(u) && norm2(w) > norm2(v))
        std::copy(w, w + 3, u);
    else if (norm2(v) > norm2(u))
        std::swap(u, v);
    double const nu = std::sqrt(norm2(u));
    double const nv = std::sqrt(norm2(v));
    for (int k = 0; k < 3; ++k) {
        u[k] /= nu;
        if (nv > 0.0)
            v[k] /= nv;
    }
    auto crossd = [](double const* a, double const* b, double* out) {
        out[0] = a[1] * b[2] - a[2] * b[1];
        out[1] = a[2] * b[0] - a[0] * b[2];
        out[2] = a[0] * b[1] - a[1] * b[0];
    };
    auto norm1 = [](double const* x) { return std::fabs(x[0]) + std::fabs(x[1]) + std::fabs(x[2]); };
    double n[3];
    crossd(u, v, n);
    if (norm1(n) < kNeedleNormal) {
        double const ex[3] = {1.0, 0.0, 0.0};
        crossd(u, ex, n);
        if (norm1(n) < kNeedleNormal) {
            double const ey[3] = {0.0, 1.0, 0.0};
            crossd(u, ey, n);
        }
    }
    double const nn = std::sqrt(norm2(n));
    for (int k = 0; k < 3; ++k)
        n[k] /= nn;
    double a1[3];
    crossd(u, n, a1);
    for (int i = 0; i < 3; ++i) {
        axes[i][0] = static_cast<float>(u[i]);
        axes[i][1] = static_cast<float>(a1[i]);
        axes[i][2] = static_cast<float>(-n[i]);
    }
}

void CtvxPolyhedronOBBTreeFactory::obbFitToOneTriangle(unsigned int triangle, CtvxOBB* box) const
{
    float axes[3][3];
    triangleComputePrincipalAxis(triangle, axes);
    CqarPoint3 p[3];
    m_poly->getTriangle(triangle, p);
    float lo[3] = {0.0f, 0.0f, 0.0f};
    float hi[3] = {0.0f, 0.0f, 0.0f};
    for (int j = 0; j < 3; ++j) {
        float const x = static_cast<float>(p[j][0]);
        float const y = static_cast<float>(p[j][1]);
        float const z = static_cast<float>(p[j][2]);
        for (int k = 0; k < 3; ++k) {
            float const proj = x * axes[0][k] + y * axes[1][k] + z * axes[2][k];
            if (j == 0) {
                lo[k] = hi[k] = proj;
            } else {
                lo[k] = std::min(lo[k], proj);
                hi[k] = std::max(hi[k], proj);
            }
        }
    }
    CqarMat4 M;
    for (int i = 0; i < 3; ++i)
        for (int k = 0; k < 3; ++k)
            M(i, k) = static_cast<double>(axes[i][k]);
    box->halfLengths((hi[0] - lo[0]) * 0.5f, (hi[1] - lo[1]) * 0.5f, (hi[2] - lo[2]) * 0.5f);
    box->relativeRotation(CqarQuatF(M));
    CqarPoint3 const C =
        M * CqarPoint3((lo[0] + hi[0]) * 0.5f, (lo[1] + hi[1]) * 0.5f, (lo[2] + hi[2]) * 0.5f);
    box->relativeTranslation(static_cast<float>(C[0]), static_cast<float>(C[1]), static_cast<float>(C[2]));
}

// ---------------------------------------------------------------------------
// Rounding mend

void CtvxPolyhedronOBBTreeFactory::enlargeToContain(CtvxOBB& box, int first, int count) const
{
    // Decode the box exactly as a query does: rotation from the normalised
    // stored quaternion, centre and half lengths through the tree's scale.
    CtvxMat4 R;
    box.getRelativeRotation(R);
    float cs[3], hs[3];
    box.getRelativeTranslations(cs[0], cs[1], cs[2]);
    box.getHalfLengths(hs[0], hs[1], hs[2]);
    double c[3], r[3][3];
    for (int i = 0; i < 3; ++i) {
        c[i] = static_cast<double>(m_tree->convertFromScaledFloat(cs[i]));
        for (int k = 0; k < 3; ++k)
            r[i][k] = static_cast<double>(R(i, k));
    }

    double e[3] = {0.0, 0.0, 0.0};
    for (int i = 0; i < count; ++i) {
        float const* v = &m_vertices[static_cast<std::size_t>(first + i) * 9];
        for (int j = 0; j < 3; ++j) {
            double const d0 = static_cast<double>(v[3 * j]) - c[0];
            double const d1 = static_cast<double>(v[3 * j + 1]) - c[1];
            double const d2 = static_cast<double>(v[3 * j + 2]) - c[2];
            for (int k = 0; k < 3; ++k)
                e[k] = std::max(e[k], std::fabs(r[0][k] * d0 + r[1][k] * d1 + r[2][k] * d2));
        }
    }
    double const reach = std::max(std::fabs(c[0]), std::max(std::fabs(c[1]), std::fabs(c[2]))) +
                         std::max(e[0], std::max(e[1], e[2]));
    for (int k = 0; k < 3; ++k) {
        double const needed = e[k] + kMendMargin * reach;
        if (static_cast<double>(m_tree->convertFromScaledFloat(hs[k])) < needed)
            box.m_obbHalfLengths[k] = std::max(box.m_obbHalfLengths[k], roundedUpHalf(*m_tree, needed));
    }
}

void CtvxPolyhedronOBBTreeFactory::enlargeToContain(CtvxObjectOBB& box, int first, int count) const
{
    CqarMat4 P;
    box.getRelativePosition(P);
    float h[3];
    box.getHalfLengths(h[0], h[1], h[2]);
    double e[3] = {0.0, 0.0, 0.0};
    for (int i = 0; i < count; ++i) {
        float const* v = &m_vertices[static_cast<std::size_t>(first + i) * 9];
        for (int j = 0; j < 3; ++j) {
            double const d0 = static_cast<double>(v[3 * j]) - P(0, 3);
            double const d1 = static_cast<double>(v[3 * j + 1]) - P(1, 3);
            double const d2 = static_cast<double>(v[3 * j + 2]) - P(2, 3);
            for (int k = 0; k < 3; ++k)
                e[k] = std::max(e[k], std::fabs(P(0, k) * d0 + P(1, k) * d1 + P(2, k) * d2));
        }
    }
    double const reach = std::max(std::fabs(P(0, 3)), std::max(std::fabs(P(1, 3)), std::fabs(P(2, 3)))) +
                         std::max(e[0], std::max(e[1], e[2]));
    for (int k = 0; k < 3; ++k) {
        double const needed = e[k] + kMendMargin * reach;
        if (static_cast<double>(h[k]) < needed) {
            float up = static_cast<float>(needed);
            if (static_cast<double>(up) < needed)
                up = std::nextafter(up, HUGE_VALF);
            h[k] = up;
        }
    }
    box.halfLengths(h[0], h[1], h[2]);
}
