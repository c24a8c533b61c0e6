#pragma once

#include <tvx/tvxExport.h>
#include <tvx/scene/CtvxObject.h>

#include <boost/shared_ptr.hpp>
#include <boost/weak_ptr.hpp>

#include <string>
#include <vector>

class CtvxPolyhedronGroup;
class CtvxVirtualPolyhedron;

// The group node of the scene graph: an ordered set of child objects, leaves
// or assemblies, each placed relative to it.
//
// Moving an assembly moves everything below it. Tolerance, activation,
// scaling, transforming and collision-entity building are forwarded to the
// children. Its enclosing box is its single boxed child's box seen from the
// assembly, or the axis-aligned box (in the assembly's frame) around all
// boxed children. Making an assembly a collision entity regroups it: the
// activated polyhedra below are re-expressed in its frame and gathered into
// one polyhedron group with one OBB tree, so that an analysis treats the
// assembly as a single triangle set, and everything below is locked until
// the assembly is degrouped (removeCollisionEntities) or an object below is
// unlocked. The assembly owns its children; they refer back to it weakly.
// Scenes may nest assemblies to any depth (a chain of a million levels is
// handled): every operation walks the graph on an explicit stack, and
// destroying an assembly releases the chain below it level by level.
class TVX_API CtvxAssembly : public CtvxObject {
public:
    static boost::shared_ptr<CtvxAssembly> create();

    ~CtvxAssembly() override;

    unsigned int countChildren() const { return static_cast<unsigned int>(m_children.size()); }
    // Empty for a rank past the end.
    boost::shared_ptr<CtvxObject> child(unsigned int rank) const
    {
        return rank < m_children.size() ? m_children[rank] : boost::shared_ptr<CtvxObject>();
    }
    // Appends o (rank -1) or inserts it at rank, keeping its world placement;
    // o is first taken from its former parent. -1, changing nothing, when
    // this assembly or o is locked, when this assembly is o or lies below
    // it, or when rank is past the end. Attaching an object without children
    // costs the same at any depth, so a chain is built top down in linear
    // time.
    int attach(boost::shared_ptr<CtvxObject> o, int rank);
    // Takes o out, keeping its world placement; rank receives the rank it
    // had. -1 when this assembly or o is locked, or o is not a child.
    int detach(boost::shared_ptr<CtvxObject>& o, unsigned int& rank);
    int getPrioritaryChild(boost::shared_ptr<CtvxObject>& c) const;

    bool isRegrouped() const { return m_isRegrouped; }
    boost::shared_ptr<CtvxPolyhedronGroup> regroupedPoly() const { return m_regroupedPoly; }
    bool isConstructedRecurse() const;

    // Sets the tolerance of every leaf below. A negative tolerance, or one not
    // finite in single precision, is refused (logged, nothing changes).
    void setTolerance(double t) override;
    int getMaxTolerance(double& m) const override;
    EActivation activation() const override;
    int activation(bool b) override;
    void makeCollisionEntity(boost::shared_ptr<CtvxObject> const& except,
                             boost::shared_ptr<CtvxProgressDelegate>& delegate) override;
    void makeCollisionEntity(boost::shared_ptr<CtvxProgressDelegate>& delegate) override;
    void removeCollisionEntities() override;
    bool areCollisionEntitiesMade() const override;
    std::string const& className() const override;
    void movePointsRecurse(bool toAssemblyFrame, boost::shared_ptr<CtvxAssembly> const& assembly) override;
    void renderObbs(unsigned int) override {}
    void invalidateSubHierarchyAbsolutePosition() override;
    void computeObb() override;

protected:
    CtvxAssembly();
    void init(boost::shared_ptr<CtvxAssembly> self);

    // Both refuse (logged, -1, nothing changes) a factor that is not finite
    // and above 0, a centre that is not finite, and a transform that is not
    // finite or not invertible.
    int scale(CqarPoint3& centre, double factor) override;
    int transform(CqarMat4 const& m) override;
    void lockSubHierarchy(bool b) const override;

    int regroup(boost::shared_ptr<CtvxProgressDelegate>& delegate);
    int degroup();

private:
    friend class CtvxObject;
    // The query descent and its broad phase read the children in place.
    friend class CtvxAnalysis;
    friend class CtvxBroadPhase;

    void activation(bool b, bool& changed) override;
    void setToleranceRecurse(double t) override;

    void prioritaryChild(boost::shared_ptr<CtvxObject> const& c) { m_prioritaryChild = c; }
    void isRegrouped(bool b) { m_isRegrouped = b; }
    void extendInterval(float& lo, float& hi, float v) const;

    // The depth-first walk below root on an explicit stack, which every
    // operation over the graph uses (see the definition).
    template <class Enter, class Leave>
    static void walk(CtvxAssembly* root, Enter enter, Leave leave);
    template <class OnAssembly, class OnLeaf, class Leave>
    static void visit(CtvxAssembly* root, OnAssembly onAssembly, OnLeaf onLeaf, Leave leave);
    // Regrouping up to the build: the polyhedra below in this assembly's
    // frame, locked, gathered into a new group (returned, tree not built).
    boost::shared_ptr<CtvxPolyhedronGroup> startRegrouping();
    // Replaces the group by a new one over the activated polyhedra below and
    // builds its tree, reporting to delegate (which may be empty).
    void rebuildGroup(boost::shared_ptr<CtvxProgressDelegate>& delegate);
    // Regroups anew when a member's mesh changed since the group was made.
    void refreshStaleGroup();
    // True when some activated polyhedron below is not a member of the group.
    bool groupMissesActiveLeaf() const;
    // scale() (centre set) or transform() (m set), checked already.
    int changeGeometry(CqarPoint3* centre, double factor, CqarMat4 const* m);
    // The two ways computeObb() makes this assembly's own box.
    void boxFromGroup();
    void boxFromChildren();
    // What destruction undoes of a regrouping: the objects below get their
    // own frames back and are unlocked.
    void releaseRegrouping();
    // Moves the points of every polyhedron below back into its own frame.
    void restorePointsBelow() const;
    // Releases the children without one destructor call per level.
    void dismantle();

    void invariant() const {}

    static std::string const m_className;

    std::vector<boost::shared_ptr<CtvxObject>> m_children;
    boost::shared_ptr<CtvxObject> m_prioritaryChild;
    bool m_isRegrouped = false;
    boost::shared_ptr<CtvxPolyhedronGroup> m_regroupedPoly;
    boost::weak_ptr<CtvxAssembly> m_assemblyWkPtr;
};
