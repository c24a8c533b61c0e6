#pragma once

#include <tvx/tvxExport.h>
#include <tvx/math/CtvxMat4.h>
#include <tvx/scene/CtvxObject.h>

#include <qar/CqarMat4.h>
#include <qar/CqarVect3.h>

#include <boost/shared_ptr.hpp>
#include <boost/weak_ptr.hpp>

#include <cstdint>
#include <string>

class CtvxObject;
class CtvxObjectOBB;
class CtvxProgressDelegate;
class CtvxPolyhedronBVTree;
class CtvxOBB;
class CtvxPolyhedronOBBTree;
class CtvxPolyhedronOBBTreeFactory;
class CtvxVirtualPolyhedron;

// A set of triangles with a placement: the view of geometry that the
// proximity analysis works on.
//
// Subclasses (the polyhedra and the polyhedron group of a regrouped assembly)
// say how many triangles there are, where their vertices lie in the set's own
// frame, which tolerance applies and which scene object stands behind them.
// This base owns what the analysis needs beyond that: the OBB tree built over
// the triangles by buildBV(), the set's own box derived from the tree's root
// (in the set's frame, without tolerance), and the hint of the triangle and
// point found closest by the last distance query. A subclass's init() must
// call CtvxPoly::init() with its own shared pointer before any tree is built.
// A built tree is never changed, only dropped: a subclass may hand out one
// tree to several sets with the same triangles (polyhedra sharing a mesh do,
// see CtvxPolyhedronData), each keeping its own box and hint. Copying is
// forbidden.
class TVX_API CtvxPoly {
public:
    enum EBVType {
        BV_OBB_TREE = 0
    };

    CtvxPoly(CtvxPoly const&) = delete;
    CtvxPoly& operator=(CtvxPoly const&) = delete;
    virtual ~CtvxPoly();

    virtual unsigned int countTriangles() const = 0;
    // Writes the three vertices of triangle rank, in this set's frame, into
    // points[0..2].
    virtual void getTriangle(unsigned int rank, CqarPoint3* const points) const = 0;
    virtual double toleranceForTriangle(unsigned int rank) const = 0;
    virtual double maxTolerance() const = 0;
    virtual bool isActivatedForAnalysis() const = 0;
    virtual void getAbsPos(CqarMat4& position) = 0;
    virtual boost::shared_ptr<CtvxObject> obj() const = 0;
    virtual void getTriangleInfo(unsigned int rank,
                                 boost::shared_ptr<CtvxVirtualPolyhedron>& polyhedron) const = 0;
    virtual void getTriangleInfo(unsigned int rank, boost::shared_ptr<CtvxVirtualPolyhedron>& polyhedron,
                                 int& localRank) const = 0;
    virtual void polyScale(CqarPoint3& centre, double factor) = 0;
    virtual void polyTransform(CqarMat4 const& transform) = 0;
    virtual void optimizeMemory() = 0;

    // Builds the OBB tree if none is built yet (type is accepted, an OBB tree
    // is always built) and replaces the set's own box. The delegate may be
    // empty. Triangles that name points past the end of the mesh refuse the
    // build: the refusal is logged through CqarLogManager and the set stays
    // without a tree (an analysis then reports its pairs as not examined).
    // The set is kept alive for the build, and a progress delegate may do
    // anything to it meanwhile: if it drops or replaces the tree
    // (removeCollisionEntities, a transform, a new build), its outcome
    // stands and the interrupted build's tree and box are discarded.
    void buildBV(boost::shared_ptr<CtvxProgressDelegate>& delegate, EBVType type);
    // Drops the tree and the box, and the point of the last-closest hint
    // (its triangle stays).
    void resetBV();
    // The enclosing box of the scene object that stands for this set: the
    // set's own box with maxTolerance() added to each half length, in the
    // set's frame. OBB_NONE when the set is not activated for analysis or
    // has no triangles; builds the tree first (silently) when none exists
    // or it is stale, unless its last build was refused and its triangles
    // did not change since.
    void polyComputeObb(CtvxObject::EObbState& state, CqarMat4& position, float& halfX, float& halfY,
                        float& halfZ);

    bool isBVConstructed() const { return m_isBVConstructed; }
    // 0 and the tree when one exists, -1 and null otherwise. Not owned. A
    // tree still under construction (asked from inside its own build's
    // progress delegate) is not handed out.
    int getBoundingVolumes(CtvxPolyhedronBVTree*& tree) const;
    // The set's own box (root of the tree in true lengths, without
    // tolerance), null without tree or without triangles. Not owned.
    CtvxObjectOBB const* polyObb() const { return m_polyObb; }

    // Stale: the triangles changed since the tree was built (points or
    // triangles were added to the mesh, or the mesh was replaced). A stale
    // tree is never queried: it is rebuilt, with no progress reports, by the
    // next query that reaches the set or the next request of its box. The
    // library marks its own polyhedra; a host subclass that stores its
    // triangles itself calls markBVStale() when it changes them.
    bool isBVStale() const { return m_isBVStale; }
    void markBVStale();
    // The last build was refused (see buildBV). A refused set is not tried
    // again by box requests until its triangles change; a query that meets
    // it then rebuilds it as it rebuilds a stale tree.
    bool isBVRefused() const { return m_isBVRefused; }
    // Whether a query can descend this set's tree: one is built, complete
    // and not stale.
    bool hasUsableTree() const { return m_bvTree && !m_isBuildingBV && !m_isBVStale; }

    void setLastClosestInfo(int triangle);
    void setLastClosestInfo(int triangle, CqarPoint3& point);
    // The recorded point and triangle; without a recorded point, the
    // recorded triangle (0 when none) and its first vertex.
    void getLastClosestPoint(CqarPoint3& point, int& triangle) const;
    int lastClosestTriangle() const { return m_lastClosestTriangle; }

    // Drawing hook; draws nothing.
    void renderPolyObbs(unsigned int level) const;

protected:
    CtvxPoly();
    void init(boost::shared_ptr<CtvxPoly>& self);
    void isBVConstructed(bool constructed) { m_isBVConstructed = constructed; }

    // Provides the tree and the box for buildBV(), which has already marked
    // the tree built. The default releases spare memory and builds a tree of
    // the set's own; a subclass may instead adopt a tree built before over
    // the same triangles.
    virtual void obtainTree(boost::shared_ptr<CtvxPoly>& self, boost::shared_ptr<CtvxProgressDelegate>& delegate);
    // Why no tree may be built over the triangles as they are now (a rank
    // past the end of the points), or empty when one may. The default checks nothing: a set that reads its
    // triangles from storage of its own answers for them.
    virtual std::string meshFault() const;
    // Builds a new tree over the set's triangles and makes it this set's.
    // False when meshFault() refused it (logged; the set has no tree then) or
    // when the progress delegate replaced or dropped the tree meanwhile.
    bool buildOwnTree(boost::shared_ptr<CtvxPoly>& self, boost::shared_ptr<CtvxProgressDelegate>& delegate);
    // Makes an existing tree and a copy of its box (null for no triangles)
    // this set's.
    void adoptTree(boost::shared_ptr<CtvxPolyhedronBVTree> const& tree, CtvxObjectOBB const* box);
    boost::shared_ptr<CtvxPolyhedronBVTree> const& sharedTree() const { return m_bvTree; }

private:
    // The tree builder fills m_bvTree and hands over the set's box.
    friend class CtvxPolyhedronOBBTreeFactory;
    // The pair analysis keeps the placement below with its inverse.
    friend class CtvxPairContext;

    void invariant() const {}

    // The builder's hand-over: box (owned, may be null) becomes this set's
    // box if builtTree is still this set's tree; otherwise the build was
    // overtaken (see buildBV) and the box is deleted.
    void takeBuiltBox(CtvxPolyhedronBVTree const* builtTree, CtvxObjectOBB* box);

    CtvxObjectOBB* m_polyObb;
    int m_lastClosestTriangle;
    bool m_hasLastClosestPoint;
    CqarPoint3 m_lastClosestPoint;
    boost::shared_ptr<CtvxPolyhedronBVTree> m_bvTree;
    bool m_isBVConstructed;
    boost::weak_ptr<CtvxPoly> m_polyWkPtr;
    bool m_isBVStale = false;
    bool m_isBuildingBV = false;
    bool m_isBVRefused = false;
    // The placement the last query read (getAbsPos) and its inverse: a set
    // that has not moved since is not inverted again. Valid while the
    // placement read is the same bit for bit, which the query checks. The
    // stamp, unique across all sets and advanced whenever the placement
    // kept here changes, names the kept placement to the analyses' caches
    // of what is made from it (the inverse is made when first asked for).
    bool m_hasQueryPlacement = false;
    bool m_hasQueryPlacementInverse = false;
    // The revision of the scene object that stands for this set when the
    // placement was kept, where that revision follows every change of the
    // placement (see CtvxPairContext::placementStamp).
    bool m_hasQueryRevision = false;
    std::uint64_t m_queryRevision = 0;
    std::uint64_t m_queryPlacementStamp = 0;
    CqarMat4 m_queryPlacement;
    CqarMat4 m_queryPlacementInverse;
    // The root box of the tree the last query walked, decoded: its placement
    // in this set's frame and the inverse of it, its half lengths in true
    // lengths and its size as stored, as the walks make them, with what
    // they were decoded from (the stored quaternion, centre and half
    // lengths, and the tree's stored scale, on which alone the decoding
    // depends). A query whose root holds other values, a rebuilt or another
    // tree's, decodes it again. Each decoding takes a new stamp (from the
    // same series as the placements'), which names it to the analyses'
    // caches.
    struct KeptRoot {
        bool set = false;
        std::uint64_t stamp = 0;
        std::uint16_t stored[10] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
        float scale = 0.0f;
        CtvxMat4 placement;
        CtvxMat4 inverse;
        float half[3] = {0.0f, 0.0f, 0.0f};
        float size = 0.0f;
        // The fitted box: the box along this set's own axes around every
        // vertex as the queries read them, made when a contact query first
        // finds the roots overlapping (see CtvxPairContext::fittedBox).
        // NotMade after each decoding; Tighter when it is at most half the
        // root box's volume, and then tested where the roots meet.
        enum Fit : unsigned char { NotMade, Tighter, NoTighter };
        Fit fit = NotMade;
        float fitCentre[3] = {0.0f, 0.0f, 0.0f};
        float fitHalf[3] = {0.0f, 0.0f, 0.0f};
    };
    KeptRoot m_keptRoot;
    // Advanced by every change of the tree or of the set's own box (a tree
    // built, adopted, dropped, or filled again by the builder) and at the
    // start and end of every build, so that what a query keeps of the tree
    // (below) is never taken for another tree, or for one being built. The
    // decoded root is dropped too: a tree whose root holds the same values
    // may be over other triangles, which the root's fitted box follows.
    void treeChanged()
    {
        ++m_treeChanges;
        m_keptRoot.set = false;
    }
    std::uint64_t m_treeChanges = 0;
    // What the start of a query read of the library's own polyhedron (not
    // locked) through virtual calls, when that start found the set fit to
    // walk: its tree, the tree's boxes (null for a tree without boxes), its
    // largest tolerance; and with them, that the set is activated, has
    // triangles and its tree names none past the last. None of it depends
    // on where the set is placed, so it is valid while the object's shape
    // revision (its revision less the advances of moves: every tolerance,
    // activation and mesh replacement advances it, and the first point or
    // triangle added to a mesh that has a tree, through markBVStale) and
    // m_treeChanges are those recorded: a set that only moved is not read
    // again, and a mesh that only grew since still fits the tree, and still
    // has triangles. Written only when the set was found to be such a
    // polyhedron, so `set` also says it is one. The whole revision beside
    // it says the set has not moved either since its placement was kept.
    struct KeptStart {
        bool set = false;
        std::uint64_t revision = 0;
        std::uint64_t shapeRevision = 0;
        std::uint64_t treeChanges = 0;
        CtvxPolyhedronOBBTree const* tree = nullptr;
        CtvxOBB const* obbs = nullptr;
        double maxTolerance = 0.0;
    };
    KeptStart m_keptStart;
};
