#include <tvx/scene/CtvxAssembly.h>

#include <tvx/geometry/CtvxPoly.h>
#include <tvx/geometry/CtvxVirtualPolyhedron.h>
#include <tvx/progress/CtvxProgressDelegate.h>
#include <tvx/scene/CtvxObjectOBB.h>
#include <tvx/scene/CtvxPolyhedronGroup.h>
#include <tvx/scene/internal/CtvxInputChecks.h>
#include <tvx/scene/internal/CtvxWalkStack.h>

#include <boost/pointer_cast.hpp>

#include <algorithm>
#include <unordered_set>

std::string const CtvxAssembly::m_className = "CtvxAssembly";

namespace {

struct WalkFrame {
    CtvxAssembly* assembly;
    std::size_t next;
};

} // namespace

// Every walk over the graph below an assembly runs here, on an explicit
// stack: scenes may nest assemblies far deeper than a call stack reaches.
// enter(child) is called for every object below root in depth-first order,
// children in order, before the object's own children, and returns whether
// to go into them (only assemblies are gone into); leave(assembly) is called
// once an assembly's children are done, root last. A child list that shrinks
// under the walk (a progress delegate may detach objects) ends its loop.
template <class Enter, class Leave>
void CtvxAssembly::walk(CtvxAssembly* root, Enter enter, Leave leave)
{
    CtvxWalkStack<WalkFrame> stack;
    stack.push(WalkFrame{root, 0});
    while (!stack.empty()) {
        WalkFrame& f = stack.top();
        CtvxAssembly* const a = f.assembly;
        if (f.next >= a->m_children.size()) {
            stack.pop();
            leave(a);
            continue;
        }
        CtvxObject* const c = a->m_children[f.next++].get();
        if (enter(c) && c->m_isAssembly)
            stack.push(WalkFrame{static_cast<CtvxAssembly*>(c), 0});
    }
}

// walk() from root itself: onAssembly(a) runs for root and for every
// assembly below, before its children, and says whether to go into them;
// onLeaf(o) runs for every other object.
template <class OnAssembly, class OnLeaf, class Leave>
void CtvxAssembly::visit(CtvxAssembly* root, OnAssembly onAssembly, OnLeaf onLeaf, Leave leave)
{
    if (!onAssembly(root))
        return;
    walk(root,
         [&](CtvxObject* c) {
             if (c->m_isAssembly)
                 return onAssembly(static_cast<CtvxAssembly*>(c));
             onLeaf(c);
             return false;
         },
         leave);
}

namespace {

auto const noLeave = [](CtvxAssembly*) {};

} // namespace

boost::shared_ptr<CtvxAssembly> CtvxAssembly::create()
{
    boost::shared_ptr<CtvxAssembly> a(new CtvxAssembly());
    a->init(a);
    return a;
}

CtvxAssembly::CtvxAssembly() = default;

CtvxAssembly::~CtvxAssembly()
{
    releaseRegrouping();
    dismantle();
}

void CtvxAssembly::releaseRegrouping()
{
    // Objects below a regrouped assembly may outlive it (a collision list or
    // the host may hold them). Their points are expressed in this assembly's
    // frame and they are locked, with no unlocked ancestor left to free them:
    // give them their own frames back and unlock them, as degrouping would.
    // In the destructor the weak self pointers have expired, so the move
    // back is composed from the relative placements below this assembly:
    // with Q a leaf's placement relative to it, A^-1 P of regrouping is Q,
    // and the way back is Q^-1.
    if (!m_isRegrouped)
        return;
    lockSubHierarchy(false);
    restorePointsBelow();
    m_isRegrouped = false;
}

void CtvxAssembly::dismantle()
{
    // Children that die with this assembly would release their own children
    // from their destructors, one call deeper per level, and a long chain of
    // assemblies would overflow the stack. Instead the children of every
    // assembly about to die (held here alone) are taken over and released
    // one at a time, after what its destructor would have done first.
    m_prioritaryChild.reset();
    std::vector<boost::shared_ptr<CtvxObject>> pending;
    pending.swap(m_children);
    while (!pending.empty()) {
        boost::shared_ptr<CtvxObject> c = std::move(pending.back());
        pending.pop_back();
        if (c->m_isAssembly && c.use_count() == 1) {
            CtvxAssembly* const a = static_cast<CtvxAssembly*>(c.get());
            a->releaseRegrouping();
            a->m_prioritaryChild.reset();
            for (auto& g : a->m_children)
                pending.push_back(std::move(g));
            a->m_children.clear();
        }
    }
}

void CtvxAssembly::restorePointsBelow() const
{
    struct Frame {
        CtvxAssembly const* assembly;
        std::size_t next;
        CqarMat4 q; // the assembly's placement relative to this one
    };
    std::vector<Frame> frames;
    frames.push_back(Frame{this, 0, CqarMat4()});
    while (!frames.empty()) {
        Frame& f = frames.back();
        if (f.next >= f.assembly->m_children.size()) {
            frames.pop_back();
            continue;
        }
        CtvxObject* const c = f.assembly->m_children[f.next++].get();
        CqarMat4 const qc = f.q * c->m_relativePosition;
        if (c->m_isAssembly)
            frames.push_back(Frame{static_cast<CtvxAssembly const*>(c), 0, qc});
        else if (CtvxVirtualPolyhedron* const p = dynamic_cast<CtvxVirtualPolyhedron*>(c))
            p->movePoints(qc.inverse());
    }
}

void CtvxAssembly::init(boost::shared_ptr<CtvxAssembly> self)
{
    boost::shared_ptr<CtvxObject> obj = self;
    objectWkPtr(obj);
    m_assemblyWkPtr = self;
    m_isRegrouped = false;
    m_isAssembly = true;
    CtvxObject::init();
}

std::string const& CtvxAssembly::className() const
{
    return m_className;
}

// ---------------------------------------------------------------------------
// Children

int CtvxAssembly::attach(boost::shared_ptr<CtvxObject> o, int rank)
{
    if (!o || isLocked() || o->isLocked())
        return -1;
    // An assembly below o (or o itself) would become its own ancestor: a
    // cycle of owning pointers that never dies and that every walk down the
    // scene would follow forever. Below an object without children there is
    // nothing, so only o itself needs a look: building a chain top down,
    // each new assembly attached below the last, then costs no walk up the
    // whole chain per level.
    bool const oHasChildren = o->m_isAssembly && !static_cast<CtvxAssembly*>(o.get())->m_children.empty();
    if (o.get() == this || (oHasChildren && o->isParentOf(objectShPtr())))
        return -1;
    boost::shared_ptr<CtvxAssembly> former;
    bool const hasParent = o->getParent(former) == 0;
    // Ranks past the end would insert out of bounds; they are refused before
    // anything changes.
    int const count = static_cast<int>(m_children.size()) - (hasParent && former.get() == this ? 1 : 0);
    if (rank < -1 || rank > count)
        return -1;
    if (hasParent) {
        unsigned int r = 0;
        former->detach(o, r);
    }
    // A child joining a regrouped assembly must end up like its siblings:
    // locked, its points in the assembly's frame, its triangles in the
    // group. Degroup first so that the current members get their points
    // back while the newcomer, whose points never moved, is not yet below.
    bool const wasRegrouped = m_isRegrouped;
    if (wasRegrouped)
        degroup();

    CqarMat4 a;
    getAbsolutePosition(a);
    CqarMat4 b;
    o->getAbsolutePosition(b);
    // Composed from two checked placements: rigid up to rounding.
    o->placeRelative(a.inverse() * b);

    if (rank < 0)
        m_children.push_back(o);
    else
        m_children.insert(m_children.begin() + rank, o);
    o->parent(m_assemblyWkPtr.lock());
    if (o->m_needToRecomputeObb || o->m_obbState != OBB_NONE)
        o->parentsMustRecomputeObbs();

    if (wasRegrouped)
        regroup(s_defaultNullDelegate);
    return 0;
}

int CtvxAssembly::detach(boost::shared_ptr<CtvxObject>& o, unsigned int& rank)
{
    if (!o || isLocked() || o->isLocked())
        return -1;
    auto const it = std::find(m_children.begin(), m_children.end(), o);
    if (it == m_children.end())
        return -1;
    rank = static_cast<unsigned int>(it - m_children.begin());
    if (o->m_needToRecomputeObb || o->m_obbState != OBB_NONE)
        o->parentsMustRecomputeObbs();
    CqarMat4 w;
    o->getAbsolutePosition(w);
    o->placeRelative(w);
    if (m_prioritaryChild == o)
        m_prioritaryChild.reset();
    o->parent(boost::shared_ptr<CtvxAssembly>());
    m_children.erase(m_children.begin() + rank);
    return 0;
}

int CtvxAssembly::getPrioritaryChild(boost::shared_ptr<CtvxObject>& c) const
{
    c = m_prioritaryChild;
    return c ? 0 : -1;
}

void CtvxAssembly::invalidateSubHierarchyAbsolutePosition()
{
    // An invalid cache here means everything below is invalid already; the
    // same holds for every assembly below.
    if (!isAbsolutePositionValid())
        return;
    invalidateAbsolutePos();
    walk(this,
         [](CtvxObject* c) {
             if (!c->m_isAssembly) {
                 c->invalidateSubHierarchyAbsolutePosition();
                 return false;
             }
             if (!c->m_isAbsolutePositionValid)
                 return false;
             c->invalidateAbsolutePos();
             return true;
         },
         noLeave);
}

void CtvxAssembly::lockSubHierarchy(bool b) const
{
    walk(const_cast<CtvxAssembly*>(this),
         [b](CtvxObject* c) {
             c->isLocked(b);
             if (!c->m_isAssembly)
                 c->lockSubHierarchy(b);
             return true;
         },
         noLeave);
}

void CtvxAssembly::movePointsRecurse(bool toAssemblyFrame, boost::shared_ptr<CtvxAssembly> const& assembly)
{
    walk(this,
         [&](CtvxObject* c) {
             if (c->m_isAssembly)
                 return true;
             c->movePointsRecurse(toAssemblyFrame, assembly);
             return false;
         },
         noLeave);
}

// ---------------------------------------------------------------------------
// Tolerance and activation

void CtvxAssembly::setToleranceRecurse(double t)
{
    // The ancestors were marked by setTolerance.
    visit(
        this,
        [t](CtvxAssembly* a) {
            a->markObbStale();
            if (a->m_isRegrouped && a->m_regroupedPoly)
                a->m_regroupedPoly->maxTolerance(t);
            return true;
        },
        [t](CtvxObject* c) { c->setToleranceRecurse(t); }, noLeave);
}

void CtvxAssembly::setTolerance(double t)
{
    if (!CtvxInputChecks::isSoundTolerance(t)) {
        CtvxInputChecks::refuse(className() + "::setTolerance",
                                "tolerance " + CtvxInputChecks::number(t) +
                                    " refused: it must be at least 0 and finite in single precision");
        return;
    }
    parentsMustRecomputeObbs();
    setToleranceRecurse(t);
    // Inside a regrouped assembly the leaves below now carry t, and the
    // group must know its new largest tolerance, or its box and the pair
    // analysis would thicken the geometry by the old one.
    if (isLocked()) {
        boost::shared_ptr<CtvxAssembly> const a = firstUnlockedParent();
        if (a && a->m_regroupedPoly)
            a->m_regroupedPoly->updateMaxTolerance();
    }
}

int CtvxAssembly::getMaxTolerance(double& m) const
{
    // 0 when some leaf below contributed (an assembly answers 0 exactly
    // when one of its children did).
    int res = -1;
    walk(const_cast<CtvxAssembly*>(this),
         [&](CtvxObject* c) {
             if (c->m_isAssembly)
                 return true;
             if (c->getMaxTolerance(m) == 0)
                 res = 0;
             return false;
         },
         noLeave);
    return res;
}

CtvxObject::EActivation CtvxAssembly::activation() const
{
    if (m_children.empty())
        return DEACTIVATED;
    // An assembly is partially activated when something below is, or when
    // its leaves (and empty assemblies, which count as deactivated) differ;
    // otherwise it is what they all are. Nesting does not change that, so
    // the answer is read off the leaves in one walk.
    bool sawOn = false;
    bool sawOff = false;
    bool sawPartial = false;
    walk(const_cast<CtvxAssembly*>(this),
         [&](CtvxObject* c) {
             if (sawPartial)
                 return false;
             if (c->m_isAssembly) {
                 if (static_cast<CtvxAssembly*>(c)->m_children.empty())
                     sawOff = true;
                 return true;
             }
             EActivation const a = c->activation();
             if (a == PARTIALLY_ACTIVATED)
                 sawPartial = true;
             else if (a == ACTIVATED)
                 sawOn = true;
             else
                 sawOff = true;
             return false;
         },
         noLeave);
    if (sawPartial || (sawOn && sawOff))
        return PARTIALLY_ACTIVATED;
    return sawOn ? ACTIVATED : DEACTIVATED;
}

int CtvxAssembly::activation(bool b)
{
    if (isLocked())
        return -1;
    bool changed = false;
    activation(b, changed);
    if (changed)
        parentsMustRecomputeObbs();
    return 0;
}

void CtvxAssembly::activation(bool b, bool& changed)
{
    // Groups to rebuild once the walk is over: a rebuild reports to the
    // host's default delegate, which must not run while the walk holds
    // positions in child lists. Only the leaves below a regrouped assembly
    // enter its rebuild, and the walk is done with them by then, so the
    // rebuilds see what they would have seen in the walk.
    std::vector<boost::shared_ptr<CtvxAssembly>> rebuilds;
    visit(
        this,
        [&](CtvxAssembly* a) {
            if (a->m_isRegrouped && a->m_regroupedPoly)
                a->m_regroupedPoly->isActivatedForAnalysis(b, changed);
            return true;
        },
        [&](CtvxObject* c) { c->activation(b, changed); },
        [&](CtvxAssembly* a) {
            if (!b) {
                // A deactivated assembly has no box.
                a->m_needToRecomputeObb = false;
                a->obbState(OBB_NONE);
                a->m_holdsUnbuiltGeometry = false;
                return;
            }
            if (!changed)
                return;
            // A group built while every leaf was off has no triangles; a
            // group built while some leaves were off lacks theirs. Either
            // way the leaves just switched on must join it, or their
            // contacts would be lost.
            if (a->m_isRegrouped && a->m_regroupedPoly &&
                (a->m_regroupedPoly->countTriangles() == 0 || a->groupMissesActiveLeaf()))
                rebuilds.push_back(a->m_assemblyWkPtr.lock());
            a->needToRecomputeObb(true);
        });
    for (auto const& a : rebuilds) {
        if (!a)
            continue;
        boost::shared_ptr<CtvxProgressDelegate> d = s_defaultDelegate;
        a->rebuildGroup(d);
        a->needToRecomputeObb(true);
    }
}

boost::shared_ptr<CtvxPolyhedronGroup> CtvxAssembly::startRegrouping()
{
    removeCollisionEntities();
    lockSubHierarchy(true);
    boost::shared_ptr<CtvxAssembly> self = m_assemblyWkPtr.lock();
    movePointsRecurse(true, self);
    boost::shared_ptr<CtvxPolyhedronGroup> const group = CtvxPolyhedronGroup::create(self);
    m_regroupedPoly = group;
    // Regrouped before the build: a progress delegate that makes this
    // assembly a collision entity from inside the build finds it done, and
    // one that removes the entity undoes a whole regrouping, whose outcome
    // then stands.
    m_isRegrouped = true;
    return group;
}

void CtvxAssembly::rebuildGroup(boost::shared_ptr<CtvxProgressDelegate>& delegate)
{
    boost::shared_ptr<CtvxPolyhedronGroup> const group = startRegrouping();
    unsigned int const n = group->countTriangles();
    if (delegate) {
        delegate->willBuildTree(n);
        delegate->resetProgress(0);
    }
    group->buildBV(delegate, CtvxPoly::BV_OBB_TREE);
    // The delegate may have removed the collision entity meanwhile; its
    // outcome stands.
    if (delegate && m_regroupedPoly == group && group->isBVConstructed())
        delegate->didMakeCollisionEntity(objectShPtr(), n);
}

bool CtvxAssembly::groupMissesActiveLeaf() const
{
    std::unordered_set<CtvxVirtualPolyhedron const*> members;
    for (unsigned int i = 0; i < m_regroupedPoly->countPolyhedra(); ++i)
        members.insert(m_regroupedPoly->polyhedron(i).get());
    bool misses = false;
    walk(const_cast<CtvxAssembly*>(this),
         [&](CtvxObject* c) {
             if (misses)
                 return false;
             if (c->m_isAssembly)
                 return true;
             CtvxVirtualPolyhedron const* const p = dynamic_cast<CtvxVirtualPolyhedron const*>(c);
             if (p && p->activation() == ACTIVATED && members.count(p) == 0)
                 misses = true;
             return false;
         },
         noLeave);
    return misses;
}

// ---------------------------------------------------------------------------
// Geometry

int CtvxAssembly::scale(CqarPoint3& centre, double factor)
{
    if (char const* const fault = CtvxInputChecks::scaleFault(centre, factor)) {
        CtvxInputChecks::refuse(className() + "::scale", fault);
        return -1;
    }
    return changeGeometry(&centre, factor, nullptr);
}

int CtvxAssembly::transform(CqarMat4 const& m)
{
    if (char const* const fault = CtvxInputChecks::pointsTransformFault(m)) {
        CtvxInputChecks::refuse(className() + "::transform", std::string("transform refused: ") + fault);
        return -1;
    }
    return changeGeometry(nullptr, 0.0, &m);
}

int CtvxAssembly::changeGeometry(CqarPoint3* centre, double factor, CqarMat4 const* m)
{
    // A regrouped assembly changes its group (in its own frame) and answers
    // 0; any other passes the change to its children and answers -1 when a
    // leaf below refused.
    int res = 0;
    visit(
        this,
        [&](CtvxAssembly* a) {
            bool const regrouped = a->m_isRegrouped && a->m_regroupedPoly;
            if (regrouped) {
                CqarMat4 pos;
                a->getAbsolutePosition(pos);
                if (centre) {
                    CqarPoint3 local = pos.inverse() * *centre;
                    a->m_regroupedPoly->polyScale(local, factor);
                } else {
                    a->m_regroupedPoly->polyTransform(pos.inverse() * *m * pos);
                }
            }
            a->needToRecomputeObb(true);
            return !regrouped;
        },
        [&](CtvxObject* c) {
            if ((centre ? c->scale(*centre, factor) : c->transform(*m)) == -1)
                res = -1;
        },
        noLeave);
    return res;
}

// ---------------------------------------------------------------------------
// Collision entities and regrouping

void CtvxAssembly::makeCollisionEntity(boost::shared_ptr<CtvxProgressDelegate>& delegate)
{
    // The progress delegate may drop the host's last reference to this
    // assembly during the build.
    boost::shared_ptr<CtvxObject> const self = objectShPtr();
    if (isLocked())
        unlock(delegate, false);
    regroup(delegate);
    // A refused build (logged) or one that the delegate undid leaves no
    // collision entity to report.
    if (delegate && m_isRegrouped && m_regroupedPoly && m_regroupedPoly->isBVConstructed())
        delegate->didMakeCollisionEntity(self, m_regroupedPoly->countTriangles());
}

void CtvxAssembly::makeCollisionEntity(boost::shared_ptr<CtvxObject> const& except,
                                       boost::shared_ptr<CtvxProgressDelegate>& delegate)
{
    boost::shared_ptr<CtvxObject> const self = objectShPtr();
    if (except.get() == this)
        return;
    if (!isParentOf(except)) {
        makeCollisionEntity(delegate);
        return;
    }
    // The path from this assembly down to except's parent: each assembly on
    // it is degrouped when reached, and every branch off it is made a
    // collision entity of its own, in child order. Frames and the branch at
    // hand are held by shared pointer: the progress delegate runs between
    // them and may detach what it likes.
    std::vector<boost::shared_ptr<CtvxAssembly>> path;
    for (boost::shared_ptr<CtvxAssembly> p = except->m_parent.lock(); p; p = p->m_parent.lock()) {
        path.push_back(p);
        if (p.get() == this)
            break;
    }
    std::reverse(path.begin(), path.end());
    struct Frame {
        boost::shared_ptr<CtvxAssembly> assembly;
        std::size_t next;
    };
    std::vector<Frame> stack;
    degroup();
    stack.push_back(Frame{path.front(), 0});
    while (!stack.empty()) {
        std::size_t const level = stack.size() - 1;
        boost::shared_ptr<CtvxAssembly> const a = stack.back().assembly;
        std::size_t const next = stack.back().next++;
        if (next >= a->m_children.size()) {
            stack.pop_back();
            continue;
        }
        boost::shared_ptr<CtvxObject> const c = a->m_children[next];
        if (c == except)
            continue;
        if (level + 1 < path.size() && c == path[level + 1]) {
            path[level + 1]->degroup();
            stack.push_back(Frame{path[level + 1], 0});
            continue;
        }
        c->makeCollisionEntity(delegate);
    }
}

void CtvxAssembly::removeCollisionEntities()
{
    visit(
        this,
        [](CtvxAssembly* a) {
            a->degroup();
            return true;
        },
        [](CtvxObject* c) { c->removeCollisionEntities(); }, noLeave);
}

bool CtvxAssembly::areCollisionEntitiesMade() const
{
    return isConstructedRecurse();
}

bool CtvxAssembly::isConstructedRecurse() const
{
    // A regrouped assembly is made when its group has a tree (a member with
    // bad triangles refuses it); elsewhere every leaf must have its own.
    auto const groupBuilt = [](CtvxAssembly const* a) {
        return a->m_regroupedPoly && a->m_regroupedPoly->isBVConstructed();
    };
    if (m_isRegrouped)
        return groupBuilt(this);
    bool made = true;
    walk(const_cast<CtvxAssembly*>(this),
         [&](CtvxObject* c) {
             if (!made)
                 return false;
             if (c->m_isAssembly) {
                 CtvxAssembly const* const a = static_cast<CtvxAssembly const*>(c);
                 if (!a->m_isRegrouped)
                     return true;
                 made = groupBuilt(a);
                 return false;
             }
             made = c->areCollisionEntitiesMade();
             return false;
         },
         noLeave);
    return made;
}

int CtvxAssembly::regroup(boost::shared_ptr<CtvxProgressDelegate>& delegate)
{
    if (isLocked())
        return -1;
    if (m_isRegrouped)
        return 0;
    boost::shared_ptr<CtvxPolyhedronGroup> const group = startRegrouping();
    group->buildBV(delegate, CtvxPoly::BV_OBB_TREE);
    if (m_regroupedPoly == group)
        needToRecomputeObb(true);
    return 0;
}

int CtvxAssembly::degroup()
{
    if (isLocked())
        return -1;
    if (!m_isRegrouped)
        return 0;
    lockSubHierarchy(false);
    m_regroupedPoly.reset();
    m_isRegrouped = false;
    movePointsRecurse(false, m_assemblyWkPtr.lock());
    needToRecomputeObb(true);
    return 0;
}

void CtvxAssembly::refreshStaleGroup()
{
    // Points or triangles were added to a member's mesh, or a member was
    // given another mesh, since the group was made: only a new group holds
    // the members' triangles as they are. A deactivated assembly is left
    // for its reactivation, which asks for its box again.
    if (!m_isRegrouped || !m_regroupedPoly || !m_regroupedPoly->isBVStale() ||
        !m_regroupedPoly->isActivatedForAnalysis())
        return;
    degroup();
    regroup(s_defaultNullDelegate);
}

// ---------------------------------------------------------------------------
// Enclosing box

void CtvxAssembly::extendInterval(float& lo, float& hi, float v) const
{
    if (v < lo)
        lo = v;
    else if (v > hi)
        hi = v;
}

void CtvxAssembly::computeObb()
{
    // Post order on an explicit stack: an assembly's box is made once the
    // stale boxes of its children are, a regrouped assembly's from its
    // group alone. Children whose boxes are current are not recomputed.
    CtvxWalkStack<WalkFrame> stack;
    stack.push(WalkFrame{this, 0});
    while (!stack.empty()) {
        WalkFrame& f = stack.top();
        CtvxAssembly* const a = f.assembly;
        if (a->m_isRegrouped && a->m_regroupedPoly) {
            stack.pop();
            a->boxFromGroup();
            continue;
        }
        bool descended = false;
        while (f.next < a->m_children.size()) {
            CtvxObject* const c = a->m_children[f.next++].get();
            if (!c->m_needToRecomputeObb)
                continue;
            if (c->m_isAssembly) {
                stack.push(WalkFrame{static_cast<CtvxAssembly*>(c), 0});
                descended = true;
                break;
            }
            c->computeObb();
        }
        if (descended)
            continue;
        stack.pop();
        a->boxFromChildren();
    }
}

void CtvxAssembly::boxFromGroup()
{
    refreshStaleGroup();
    // The group's triangles lie in this assembly's frame, so its box is
    // already relative to the assembly.
    CtvxObjectOBB* const box = enclosingObb();
    EObbState state = OBB_NONE;
    CqarMat4 pos;
    float hx = 0.0f, hy = 0.0f, hz = 0.0f;
    m_regroupedPoly->polyComputeObb(state, pos, hx, hy, hz);
    obbState(state);
    if (state == OBB_COMPUTED) {
        box->halfLengths(hx, hy, hz);
        box->relativePosition(pos);
    }
    m_holdsUnbuiltGeometry = m_regroupedPoly->isActivatedForAnalysis() && !m_regroupedPoly->hasUsableTree() &&
                             m_regroupedPoly->countTriangles() > 0;
    needToRecomputeObb(false);
}

void CtvxAssembly::boxFromChildren()
{
    CtvxObjectOBB* const box = enclosingObb();
    unsigned int boxed = 0;
    CtvxObject* last = nullptr;
    bool unbuilt = false;
    for (auto const& c : m_children) {
        unbuilt = unbuilt || c->m_holdsUnbuiltGeometry;
        if (c->m_obbState != OBB_NONE) {
            ++boxed;
            last = c.get();
        }
    }
    m_holdsUnbuiltGeometry = unbuilt;

    if (boxed == 0) {
        obbState(OBB_NONE);
    } else if (boxed == 1) {
        // The child's box seen from the assembly; testing it repeats the
        // child's own test, which the analysis knows from the state.
        obbState(OBB_SINGLE_CHILD);
        CqarMat4 childBox;
        last->m_enclosingObb->getRelativePosition(childBox);
        float hx, hy, hz;
        last->m_enclosingObb->getHalfLengths(hx, hy, hz);
        box->relativePosition(last->m_relativePosition * childBox);
        box->halfLengths(hx, hy, hz);
    } else {
        obbState(OBB_COMPUTED);
        float lo[3] = {0.0f, 0.0f, 0.0f};
        float hi[3] = {0.0f, 0.0f, 0.0f};
        bool first = true;
        for (auto const& c : m_children) {
            if (c->m_obbState == OBB_NONE)
                continue;
            CqarMat4 childBox;
            c->m_enclosingObb->getRelativePosition(childBox);
            CqarMat4 const t = c->m_relativePosition * childBox;
            float h[3];
            c->m_enclosingObb->getHalfLengths(h[0], h[1], h[2]);
            static double const signs[8][3] = {{1, 1, 1},  {1, 1, -1},  {1, -1, 1},  {-1, 1, 1},
                                               {-1, -1, -1}, {1, -1, -1}, {-1, 1, -1}, {-1, -1, 1}};
            for (auto const& s : signs) {
                for (int i = 0; i < 3; ++i) {
                    double const u = static_cast<double>(h[0]) * t(i, 0);
                    double const v = static_cast<double>(h[1]) * t(i, 1);
                    double const w = static_cast<double>(h[2]) * t(i, 2);
                    // Summed in the order c, u, v, w; a sign of -1 is a
                    // subtraction, which rounds exactly as adding -u does.
                    double sum = t(i, 3);
                    sum = s[0] > 0 ? sum + u : sum - u;
                    sum = s[1] > 0 ? sum + v : sum - v;
                    sum = s[2] > 0 ? sum + w : sum - w;
                    float const f = static_cast<float>(sum);
                    if (first) {
                        lo[i] = hi[i] = f;
                    } else {
                        extendInterval(lo[i], hi[i], f);
                    }
                }
                first = false;
            }
        }
        CqarMat4 pos;
        pos.identity();
        pos(0, 3) = static_cast<double>((lo[0] + hi[0]) * 0.5f);
        pos(1, 3) = static_cast<double>((lo[1] + hi[1]) * 0.5f);
        pos(2, 3) = static_cast<double>((lo[2] + hi[2]) * 0.5f);
        box->relativePosition(pos);
        box->halfLengths((hi[0] - lo[0]) * 0.5f, (hi[1] - lo[1]) * 0.5f, (hi[2] - lo[2]) * 0.5f);
    }
    needToRecomputeObb(false);
}
