#pragma once

#include <tvx/tvxExport.h>

#include <qar/CqarMat4.h>

#include <boost/shared_ptr.hpp>
#include <boost/weak_ptr.hpp>

#include <cstdint>
#include <string>

class CtvxAssembly;
class CtvxObjectOBB;
class CtvxProgressDelegate;
class CtvxAnalysis;
class CtvxTypedAnalysis;

// A node of the scene graph: a polyhedron leaf or an assembly of nodes.
//
// Every node is created through the static create() of its concrete class
// and handled through boost::shared_ptr; it keeps a weak pointer to itself so
// that it can hand itself to its parent, to groups and to results. A node is
// placed relative to its parent by a double-precision transform and caches
// its world placement, which is recomputed on demand after any placement
// above it changed. It also owns one enclosing oriented box, in its own
// frame, around all of its active geometry thickened by the tolerance; a
// change of geometry, tolerance, activation or children marks the box stale
// here and on every ancestor, and the next reader recomputes it. Nodes below
// a regrouped assembly are locked: they refuse to be moved until the
// regrouping is undone or split with unlock(). revision() changes whenever
// the world placement or the enclosing box may have changed, here or below,
// so that a cache of world boxes can tell the objects that moved from those
// that did not without reading their matrices.
class TVX_API CtvxObject {
public:
    enum EActivation { ACTIVATED = 0, DEACTIVATED = 1, PARTIALLY_ACTIVATED = 2 };
    enum EObbState { OBB_NONE = 0, OBB_SINGLE_CHILD = 1, OBB_COMPUTED = 2 };

    CtvxObject(CtvxObject const&) = delete;
    CtvxObject& operator=(CtvxObject const&) = delete;
    virtual ~CtvxObject();

    virtual void setTolerance(double t) = 0;
    // Raises m to the largest tolerance of the activated geometry; 0, or -1
    // when nothing contributed.
    virtual int getMaxTolerance(double& m) const = 0;
    virtual EActivation activation() const = 0;

private:
    // Switches the activation without a lock test; raises changed (never
    // clears it) when something was switched.
    virtual void activation(bool b, bool& changed) = 0;

public:
    // 0, or -1 when the object is locked.
    virtual int activation(bool b) = 0;
    // Scaling about, and transforming by, a point and a matrix given in world
    // coordinates; the placements do not change, the geometry does.
    virtual int scale(CqarPoint3& centre, double factor) = 0;
    virtual int transform(CqarMat4 const& m) = 0;
    // Makes everything below a collision entity except the branch that leads
    // to except.
    virtual void makeCollisionEntity(boost::shared_ptr<CtvxObject> const& except,
                                     boost::shared_ptr<CtvxProgressDelegate>& delegate) = 0;
    virtual void makeCollisionEntity(boost::shared_ptr<CtvxProgressDelegate>& delegate) = 0;
    virtual void removeCollisionEntities() = 0;
    virtual bool areCollisionEntitiesMade() const = 0;
    virtual std::string const& className() const = 0;
    // Re-expresses the points of every polyhedron below in the frame of
    // assembly (toAssemblyFrame true) or back in their own frames (false).
    virtual void movePointsRecurse(bool toAssemblyFrame, boost::shared_ptr<CtvxAssembly> const& assembly) = 0;
    // Drawing hook; draws nothing.
    virtual void renderObbs(unsigned int) {}
    virtual void invalidateSubHierarchyAbsolutePosition() = 0;
    // Refreshes the enclosing box and clears its stale flag.
    virtual void computeObb() = 0;

protected:
    virtual void lockSubHierarchy(bool) const {}

private:
    virtual void setToleranceRecurse(double t) = 0;

public:
    // Placement in the parent's frame (the world frame for a root). 0, or -1
    // when locked or when m is not a rigid placement (nothing changes; the
    // refusal is logged through CqarLogManager). Rigid means: finite
    // elements, bottom row 0 0 0 1, columns of the rotation orthonormal
    // within 1e-6 (each entry of R^T R), no mirroring, and translation
    // components within 1e30.
    int relativePosition(CqarMat4 const& m);
    void getRelativePosition(CqarMat4& m) const;
    // Placement in the world frame. 0, or -1 when locked or not rigid.
    int absolutePosition(CqarMat4 const& m);
    // Fills the cached world placements on the way up, hence not const.
    void getAbsolutePosition(CqarMat4& m);

    // Sets the parent link only; the assembly's child list is not touched.
    void parent(boost::shared_ptr<CtvxAssembly> const& p);
    int getParent(boost::shared_ptr<CtvxAssembly>& p) const;
    boost::shared_ptr<CtvxObject> root() const;
    // True when o is this object or lies anywhere below it.
    bool isParentOf(boost::shared_ptr<CtvxObject> const& o) const;

    bool isLocked() const { return m_isLocked; }
    // The nearest ancestor that is not locked; empty when there is none.
    boost::shared_ptr<CtvxAssembly> firstUnlockedParent() const;
    // Splits the regrouping that locks this object, so that it is free
    // again; with makeEntity, then makes this object a collision entity.
    void unlock(boost::shared_ptr<CtvxProgressDelegate>& delegate, bool makeEntity);

    void parentsMustRecomputeObbs() const;

    // The enclosing box, refreshed first when stale: 0, or -1 (with zero
    // half-lengths or the identity) when the object has no box.
    int getObbHalfLengths(float& x, float& y, float& z);
    int getObbRelativePosition(CqarMat4& m);

    // Advances (never repeats) when the cached world placement is
    // invalidated or the enclosing box is marked stale, recomputed or
    // switched off. A change of placement, geometry, tolerance, activation
    // or children anywhere below marks this box stale, so an unchanged
    // revision, read while the placement and the box were current, means
    // that both still are.
    std::uint64_t revision() const { return m_revision; }

protected:
    CtvxObject();

    void init();
    void objectWkPtr(boost::shared_ptr<CtvxObject>& self) { m_objectWkPtr = self; }
    boost::shared_ptr<CtvxObject> objectShPtr() const { return m_objectWkPtr.lock(); }
    void invalidateAbsolutePos()
    {
        m_isAbsolutePositionValid = false;
        ++m_revision;
        ++m_placementRevisions;
    }
    void isLocked(bool b) { m_isLocked = b; }
    bool needToRecomputeObb() const { return m_needToRecomputeObb; }
    void needToRecomputeObb(bool b);
    EObbState obbState() const { return m_obbState; }
    void obbState(EObbState s)
    {
        m_obbState = s;
        ++m_revision;
    }
    CtvxObjectOBB* enclosingObb() const { return m_enclosingObb; }
    bool isAbsolutePositionValid() const { return m_isAbsolutePositionValid; }
    // Whether activated geometry at or below has triangles but no OBB tree
    // (its build was refused), so that the box leaves it out and no query
    // can examine it; set by computeObb() with the box.
    bool holdsUnbuiltGeometry() const { return m_holdsUnbuiltGeometry; }
    void holdsUnbuiltGeometry(bool b) { m_holdsUnbuiltGeometry = b; }
    // Makes this object the prioritary child of its parent, and so on up to
    // the root, so that the next descent tries this branch first.
    void isPrioritaryChildRecurse() const;

private:
    friend class CtvxAssembly;
    // A triangle set marks the box of the object that stands for it stale
    // when its triangles change.
    friend class CtvxPoly;
    friend class CtvxAnalysis;
    // The analysis's cache of world boxes reads the box state in place.
    friend class CtvxBroadPhase;
    friend class CtvxTypedAnalysis;
    // The start of a pair keeps what it read of a set by the shape revision
    // and reads a moved set's world placement in place.
    friend class CtvxPairContext;

    void invariant() const {}
    // Marks the box stale without walking up (the caller has marked the
    // ancestors already).
    void markObbStale()
    {
        m_needToRecomputeObb = true;
        ++m_revision;
    }

    // relativePosition() without the checks, for placements composed from
    // checked ones.
    void placeRelative(CqarMat4 const& m);
    // The world placement, its cache filled first when invalid (as
    // getAbsolutePosition() does), read in place.
    CqarMat4 const& currentAbsolutePosition();
    // What revision() counts apart from the placement: advances when the
    // box is marked stale, recomputed or switched off, not when only the
    // world placement is invalidated. The broad phase re-reads an object
    // that only moved without asking it for its tree and box again.
    std::uint64_t shapeRevision() const { return m_revision - m_placementRevisions; }

    boost::weak_ptr<CtvxAssembly> m_parent;
    CqarMat4 m_absolutePosition;
    CqarMat4 m_relativePosition;
    bool m_isAbsolutePositionValid = false;
    bool m_isLocked = false;
    bool m_needToRecomputeObb = true;
    EObbState m_obbState = OBB_NONE;
    CtvxObjectOBB* m_enclosingObb = nullptr;
    boost::weak_ptr<CtvxObject> m_objectWkPtr;
    // Set by CtvxAssembly::init: the walks over the graph tell assemblies
    // from leaves without a run-time cast per node.
    bool m_isAssembly = false;
    // Known with the box (valid while it is not stale).
    bool m_holdsUnbuiltGeometry = false;
    std::uint64_t m_revision = 0;
    // The advances of m_revision that came from placement changes.
    std::uint64_t m_placementRevisions = 0;
};
