#pragma once

#include <tvx/bvtree/CtvxTreeFactory.h>

#include <qar/CqarVect3.h>

#include <boost/shared_ptr.hpp>

#include <vector>

class CtvxOBB;
class CtvxObjectOBB;
class CtvxPolyhedronOBBTree;

// Builds the OBB tree of a triangle set, top down.
//
// A box is fitted to a range of triangles (principal axes by default, or
// axis-aligned), the range is split at the middle of the box along its
// longest axis, and both parts are built in turn until single triangles
// remain, which are coded in their parent box. The first box fitted fixes
// the tree's storage scale. The set's own box is made from the root. One
// factory serves one build: CtvxPoly::buildBV() creates it, calls build()
// and drops it.
//
// The descent runs on an explicit stack, so degenerate input (a tree n - 1
// deep) cannot overflow the call stack; ranks, child codes and the
// post-order of the didBuildNode reports are those of the recursive
// description. Vertices are read once into a build-time array (straight
// from the float arrays of a CtvxPolyhedron placed by the identity, else
// through CtvxPoly::getTriangle), so the passes of the fits cost no virtual
// calls. A node costs three passes over its triangles: the scatter, the
// extents along the fitted axes, and one pass that mends the box, splits
// the range and gathers the bounds of both parts for the children. Most of
// the rest is the eigen-solve of each box, a chain of divisions and square
// roots: the descent runs one level ahead of the recursive order so that
// the solves of up to four boxes are stepped together.
//
// Stored boxes are binary16: rounding the centre and the quaternion can move
// and turn a box by more than the 1 % margin of the fit (a flat box has no
// margin at all across its plane). Unless conservativeBoxes(false) is set,
// the builder therefore checks each box as the queries decode it and rounds
// its half lengths up just enough that it contains its triangles; axes,
// centres and splits are unchanged. The set's own box gets the same check.
class TVX_API CtvxPolyhedronOBBTreeFactory : public CtvxTreeFactory {
public:
    enum EAlgoObbPlacement {
        OBB_PLACEMENT_AABB_LIKE = 0,
        OBB_PLACEMENT_DEFAULT = 1
    };

    static boost::shared_ptr<CtvxPolyhedronOBBTreeFactory> create();

    void build(boost::shared_ptr<CtvxPoly>& poly, boost::shared_ptr<CtvxProgressDelegate>& delegate) override;
    ~CtvxPolyhedronOBBTreeFactory() override;

    // The fit used by every factory of the process. The library never
    // changes it; the setter is for tests and tools, and an unknown value
    // selects the default fit.
    static EAlgoObbPlacement algoObbPlacement();
    static void algoObbPlacement(EAlgoObbPlacement algo);
    // Whether boxes are enlarged to survive their binary16 rounding (on by
    // default). Switching it off reproduces the boxes as first fitted, for
    // measurements.
    static bool conservativeBoxes();
    static void conservativeBoxes(bool on);

protected:
    CtvxPolyhedronOBBTreeFactory();
    void init(boost::shared_ptr<CtvxPolyhedronOBBTreeFactory>& self);

    // The steps of build(), open to derived classes so that a reference
    // build can be driven from outside. beginBuild binds the poly, sizes the
    // box array, reads the vertices and returns the triangle count (-1 when
    // the poly has no OBB tree to fill); fitAndSplitNode writes box nodeRank
    // over the range and reorders it into nLeft + (count - nLeft)
    // triangles; endBuild gives the poly its own box and unbinds.
    int beginBuild(boost::shared_ptr<CtvxPoly>& poly, boost::shared_ptr<CtvxProgressDelegate>& delegate);
    void fitAndSplitNode(int nodeRank, int first, int count, int& nLeft);
    void endBuild();

    void buildRecurse(int nodeRank, int first, int count);
    void setOfTrianglesSplit(int first, int count, CqarVect3 axis, double splitValue, int& nLeft);
    void obbFitToSetOfTriangles(int nodeRank, int first, int count, CqarVect3& axis, double& splitValue);
    void obbFitToSetOfTriangles_Default(int nodeRank, int first, int count, CqarVect3& axis, double& splitValue);
    void obbFitToSetOfTriangles_AABBLike(int nodeRank, int first, int count, CqarVect3& axis, double& splitValue);
    void setOfTrianglesComputePrincipalAxis(int first, int count, float (*axes)[3]);
    // Axis-aligned bounds of every vertex of the range.
    void rangeBounds(int first, int count, float (&lo)[3], float (&hi)[3]) const;
    void obbComputeDimensions(int first, int count, float (*axes)[3], float (*dims)[3]) const;
    void triangleComputePrincipalAxis(unsigned int triangle, float (*axes)[3]) const;
    void obbFitToOneTriangle(unsigned int triangle, CtvxOBB* box) const;

    // Cyclic Jacobi eigen-solver for a symmetric 3x3 matrix (only the
    // diagonal and the upper off-diagonal entries of a are read; a is
    // destroyed). Eigenvalues go to d, eigenvectors to the columns of v.
    // Returns the number of sweeps run before the stop test held, or -1
    // after 50 sweeps without it (d and v then hold the last iterate).
    static int jacobi(float (*a)[3], float* d, float (*v)[3]);
    // Axes from the eigen decomposition of a scatter matrix: axis 0 the
    // direction of largest eigenvalue, axis 1 the second, axis 2 their cross
    // product. Columns of axes are the axes.
    static void principalAxes(float (*scatter)[3], float (*axes)[3]);
    static void axesFromEigen(float const* d, float (*v)[3], float (*axes)[3]);
    // Up to kMaxEigenProblems solves at once, each giving in d and v what
    // jacobi(a, d, v) gives for it (a is destroyed likewise).
    struct EigenProblem {
        float a[3][3];
        float d[3];
        float v[3][3];
    };
    static int const kMaxEigenProblems = 4;
    static void jacobiMany(EigenProblem* problems, int n);

    std::vector<unsigned int> m_triangleRanks;
    int m_nextObbRank;
    CtvxPolyhedronOBBTree* m_tree;
    boost::shared_ptr<CtvxProgressDelegate> m_delegate;
    CtvxOBB* m_treeObbs;
    CtvxPoly* m_poly;
    bool m_isFirstObb;

    // Axis-aligned bounds of the vertices of a range.
    struct Bounds {
        float lo[3];
        float hi[3];
    };
    // Bounds and extents gathered side by side rather than in range order:
    // the same values as rangeBounds() and obbComputeDimensions() when
    // m_orderFree holds (and, for the extents, the axes are finite and at
    // most 2 in each component).
    void orderFreeBounds(int first, int count, Bounds& b) const;
    void orderFreeDimensions(int first, int count, float (*axes)[3], float (*dims)[3]) const;
    // Every vertex coordinate is finite, at most kOrderFreeMagnitude in
    // magnitude and not -0: minima and maxima may then be gathered in any
    // order with the same result.
    bool m_orderFree;

private:
    struct StackEntry {
        int nodeRank; // -1: report didBuildNode(first)
        int first;
        int count;
        int depth;
        Bounds bounds; // of the range, when gathered by the parent's split
        bool hasAxes;  // principal axes already solved (with the sibling's)
        float axes[3][3];
    };

    // A range waiting for its box: bounds gathered by the parent's split,
    // principal axes when solved ahead.
    struct Part {
        int first;
        int count;
        Bounds bounds;
        bool hasAxes;
        float axes[3][3];
    };
    // A node fitted and split, waiting for its children's ranks (nodeRank
    // -1: the report didBuildNode(first)).
    struct SplitNode {
        int nodeRank;
        int first;
        int count;
        int depth;
        int nLeft;
        Part parts[2];
    };

    void buildAhead(int nodeRank, int first, int count);
    void fitAndSplitPart(Part const& part, int nodeRank, SplitNode& out);
    void readTriangles(unsigned int n);
    // Copies the vertices straight from a CtvxPolyhedron's float arrays when
    // its points transform is the identity; false when it cannot.
    bool readDirect(unsigned int n);
    // Fits the node's box to its range (bounds given when m_orderFree), mends
    // it, splits the range and returns the bounds of both parts.
    void buildNode(StackEntry const& node, int& nLeft, Bounds& left, Bounds& right);
    // givenAxes: the principal axes when already solved, else null.
    void fitDefault(CtvxOBB& box, int first, int count, Bounds const& b, float const (*givenAxes)[3],
                    CqarVect3& axis, double& splitValue);
    void fitAabbLike(CtvxOBB& box, Bounds const& b, CqarVect3& axis, double& splitValue);
    void principalAxesAbout(int first, int count, Bounds const& b, float (*axes)[3]) const;
    void scatterAbout(int first, int count, Bounds const& b, float (*scatter)[3]) const;
    // The rounding mend of box (none when null), the split of the range and
    // the bounds of its two parts, in one pass over the range.
    void mendAndSplit(CtvxOBB* box, int first, int count, CqarVect3 const& axis, double splitValue, int& nLeft,
                      Bounds& left, Bounds& right);
    void swapPositions(int p, int q);
    // The rounding mend: round the half lengths of box up until the box, as
    // the queries decode it, holds every vertex of the range.
    void enlargeToContain(CtvxOBB& box, int first, int count) const;
    void enlargeToContain(CtvxObjectOBB& box, int first, int count) const;

    // Vertices of the triangle at each position of m_triangleRanks, narrowed
    // to float, nine per position and permuted with it.
    std::vector<float> m_vertices;
    // Centroid sums (three doubles per position) in double, as the split
    // compares them; kept only when some vertex is not exactly a float,
    // otherwise they are recomputed exactly from m_vertices.
    std::vector<double> m_centroidSums;
    std::vector<StackEntry> m_stack;
    std::vector<SplitNode> m_ahead;
    unsigned int m_triangleCount;

    static EAlgoObbPlacement m_algoObbPlacement;
    static bool s_conservativeBoxes;
};
