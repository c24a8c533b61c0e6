#include <tvx/scene/CtvxAssembly.h>

#include <tvx/geometry/CtvxPoly.h>
#include <tvx/geometry/CtvxVirtualPolyhedron.h>
#include <tvx/progress/CtvxProgressDelegate.h>
#include <tvx/scene/CtvxObjectOBB.h>
#include <tvx/scene/CtvxPolyhedronGroup.h>

#include <boost/pointer_cast.hpp>

#include <algorithm>
#include <unordered_set>

std::string const CtvxAssembly::m_className = "CtvxAssembly";

boost::shared_ptr<CtvxAssembly> CtvxAssembly::create()
{
    boost::shared_ptr<CtvxAssembly> a(new CtvxAssembly());
    a->init(a);
    return a;
}

CtvxAssembly::CtvxAssembly() = default;
CtvxAssembly::~CtvxAssembly()
{
    // Objects below a regrouped assembly may outlive it (a collision list or
    // the host may hold them). Their points are expressed in this assembly's
    // frame and they are locked, with no unlocked ancestor left to free them:
    // give them their own frames back and unlock them, as degrouping would.
    // The weak self pointers have expired by now, so the move back is
    // composed from the relative placements below this assembly: with Q a
    // leaf's placement relative to it, A^-1 P of regrouping is Q, and the
    // way back is Q^-1.
    if (m_isRegrouped) {
        lockSubHierarchy(false);
        restorePointsBelow(CqarMat4());
    }
}

void CtvxAssembly::restorePointsBelow(CqarMat4 const& q) const
{
    for (auto const& c : m_children) {
        CqarMat4 const qc = q * c->m_relativePosition;
        if (boost::shared_ptr<CtvxAssembly> const a = boost::dynamic_pointer_cast<CtvxAssembly>(c))
            a->restorePointsBelow(qc);
        else if (boost::shared_ptr<CtvxVirtualPolyhedron> const p = boost::dynamic_pointer_cast<CtvxVirtualPolyhedron>(c))
            p->movePoints(qc.inverse());
    }
}

void CtvxAssembly::init(boost::shared_ptr<CtvxAssembly> self)
{
    boost::shared_ptr<CtvxObject> obj = self;
    objectWkPtr(obj);
    m_assemblyWkPtr = self;
    m_isRegrouped = false;
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
    // scene would follow forever.
    if (o->isParentOf(objectShPtr()))
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
    o->relativePosition(a.inverse() * b);

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
    o->relativePosition(w);
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
    // An invalid cache here means everything below is invalid already.
    if (!isAbsolutePositionValid())
        return;
    invalidateAbsolutePos();
    for (auto const& c : m_children)
        c->invalidateSubHierarchyAbsolutePosition();
}

void CtvxAssembly::lockSubHierarchy(bool b) const
{
    for (auto const& c : m_children) {
        c->isLocked(b);
        c->lockSubHierarchy(b);
    }
}

void CtvxAssembly::movePointsRecurse(bool toAssemblyFrame, boost::shared_ptr<CtvxAssembly> const& assembly)
{
    for (auto const& c : m_children)
        c->movePointsRecurse(toAssemblyFrame, assembly);
}

// ---------------------------------------------------------------------------
// Tolerance and activation

void CtvxAssembly::setToleranceRecurse(double t)
{
    // The ancestors were marked by setTolerance.
    m_needToRecomputeObb = true;
    if (m_isRegrouped && m_regroupedPoly)
        m_regroupedPoly->maxTolerance(t);
    for (auto const& c : m_children)
        c->setToleranceRecurse(t);
}

void CtvxAssembly::setTolerance(double t)
{
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
    int res = -1;
    for (auto const& c : m_children) {
        if (c->getMaxTolerance(m) == 0)
            res = 0;
    }
    return res;
}

CtvxObject::EActivation CtvxAssembly::activation() const
{
    if (m_children.empty())
        return DEACTIVATED;
    bool sawOn = false;
    bool sawOff = false;
    for (auto const& c : m_children) {
        EActivation const a = c->activation();
        if (a == PARTIALLY_ACTIVATED)
            return PARTIALLY_ACTIVATED;
        if (a == ACTIVATED)
            sawOn = true;
        else
            sawOff = true;
    }
    if (sawOn && sawOff)
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
    if (m_isRegrouped && m_regroupedPoly)
        m_regroupedPoly->isActivatedForAnalysis(b, changed);
    for (auto const& c : m_children)
        c->activation(b, changed);
    if (!b) {
        // A deactivated assembly has no box.
        m_needToRecomputeObb = false;
        obbState(OBB_NONE);
        return;
    }
    if (!changed)
        return;
    // A group built while every leaf was off has no triangles; a group built
    // while some leaves were off lacks theirs. Either way the leaves just
    // switched on must join it, or their contacts would be lost.
    if (m_isRegrouped && m_regroupedPoly &&
        (m_regroupedPoly->countTriangles() == 0 || groupMissesActiveLeaf())) {
        removeCollisionEntities();
        lockSubHierarchy(true);
        movePointsRecurse(true, m_assemblyWkPtr.lock());
        boost::shared_ptr<CtvxAssembly> self = m_assemblyWkPtr.lock();
        m_regroupedPoly = CtvxPolyhedronGroup::create(self);
        unsigned int const n = m_regroupedPoly->countTriangles();
        if (s_defaultDelegate) {
            s_defaultDelegate->willBuildTree(n);
            s_defaultDelegate->resetProgress(0);
        }
        m_regroupedPoly->buildBV(s_defaultDelegate, CtvxPoly::BV_OBB_TREE);
        if (s_defaultDelegate)
            s_defaultDelegate->didMakeCollisionEntity(objectShPtr(), n);
        m_isRegrouped = true;
    }
    needToRecomputeObb(true);
}

bool CtvxAssembly::groupMissesActiveLeaf() const
{
    std::unordered_set<CtvxVirtualPolyhedron const*> members;
    for (unsigned int i = 0; i < m_regroupedPoly->countPolyhedra(); ++i)
        members.insert(m_regroupedPoly->polyhedron(i).get());
    std::vector<boost::shared_ptr<CtvxObject>> stack(m_children.begin(), m_children.end());
    while (!stack.empty()) {
        boost::shared_ptr<CtvxObject> const o = stack.back();
        stack.pop_back();
        if (boost::shared_ptr<CtvxAssembly> const a = boost::dynamic_pointer_cast<CtvxAssembly>(o)) {
            stack.insert(stack.end(), a->m_children.begin(), a->m_children.end());
        } else if (boost::shared_ptr<CtvxVirtualPolyhedron> const p =
                       boost::dynamic_pointer_cast<CtvxVirtualPolyhedron>(o)) {
            if (p->activation() == ACTIVATED && members.count(p.get()) == 0)
                return true;
        }
    }
    return false;
}

// ---------------------------------------------------------------------------
// Geometry

int CtvxAssembly::scale(CqarPoint3& centre, double factor)
{
    int res = 0;
    if (m_isRegrouped && m_regroupedPoly) {
        CqarMat4 a;
        getAbsolutePosition(a);
        CqarPoint3 local = a.inverse() * centre;
        m_regroupedPoly->polyScale(local, factor);
    } else {
        for (auto const& c : m_children) {
            if (c->scale(centre, factor) == -1)
                res = -1;
        }
    }
    needToRecomputeObb(true);
    return res;
}

int CtvxAssembly::transform(CqarMat4 const& m)
{
    int res = 0;
    if (m_isRegrouped && m_regroupedPoly) {
        CqarMat4 a;
        getAbsolutePosition(a);
        m_regroupedPoly->polyTransform(a.inverse() * m * a);
    } else {
        for (auto const& c : m_children) {
            if (c->transform(m) == -1)
                res = -1;
        }
    }
    needToRecomputeObb(true);
    return res;
}

// ---------------------------------------------------------------------------
// Collision entities and regrouping

void CtvxAssembly::makeCollisionEntity(boost::shared_ptr<CtvxProgressDelegate>& delegate)
{
    if (isLocked())
        unlock(delegate, false);
    regroup(delegate);
    if (delegate)
        delegate->didMakeCollisionEntity(objectShPtr(), m_regroupedPoly ? m_regroupedPoly->countTriangles() : 0u);
}

void CtvxAssembly::makeCollisionEntity(boost::shared_ptr<CtvxObject> const& except,
                                       boost::shared_ptr<CtvxProgressDelegate>& delegate)
{
    if (except.get() == this)
        return;
    if (!isParentOf(except)) {
        makeCollisionEntity(delegate);
        return;
    }
    degroup();
    for (auto const& c : m_children)
        c->makeCollisionEntity(except, delegate);
}

void CtvxAssembly::removeCollisionEntities()
{
    degroup();
    for (auto const& c : m_children)
        c->removeCollisionEntities();
}

bool CtvxAssembly::areCollisionEntitiesMade() const
{
    return isConstructedRecurse();
}

bool CtvxAssembly::isConstructedRecurse() const
{
    if (m_isRegrouped)
        return true;
    // A leaf answers whether its tree is built, an assembly recurses.
    for (auto const& c : m_children) {
        if (!c->areCollisionEntitiesMade())
            return false;
    }
    return true;
}

int CtvxAssembly::regroup(boost::shared_ptr<CtvxProgressDelegate>& delegate)
{
    if (isLocked())
        return -1;
    if (m_isRegrouped)
        return 0;
    removeCollisionEntities();
    lockSubHierarchy(true);
    boost::shared_ptr<CtvxAssembly> self = m_assemblyWkPtr.lock();
    movePointsRecurse(true, self);
    m_regroupedPoly = CtvxPolyhedronGroup::create(self);
    m_regroupedPoly->buildBV(delegate, CtvxPoly::BV_OBB_TREE);
    m_isRegrouped = true;
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
    CtvxObjectOBB* const box = enclosingObb();
    if (m_isRegrouped && m_regroupedPoly) {
        // The group's triangles lie in this assembly's frame, so its box is
        // already relative to the assembly.
        EObbState state = OBB_NONE;
        CqarMat4 pos;
        float hx = 0.0f, hy = 0.0f, hz = 0.0f;
        m_regroupedPoly->polyComputeObb(state, pos, hx, hy, hz);
        obbState(state);
        if (state == OBB_COMPUTED) {
            box->halfLengths(hx, hy, hz);
            box->relativePosition(pos);
        }
        needToRecomputeObb(false);
        return;
    }
    if (m_children.empty()) {
        obbState(OBB_NONE);
        needToRecomputeObb(false);
        return;
    }

    unsigned int boxed = 0;
    CtvxObject* last = nullptr;
    for (auto const& c : m_children) {
        if (c->m_needToRecomputeObb)
            c->computeObb();
        if (c->m_obbState != OBB_NONE) {
            ++boxed;
            last = c.get();
        }
    }

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
