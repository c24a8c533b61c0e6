#include <tvx/analysis/CtvxAnalysis.h>

#include <tvx/analysis/internal/CtvxProximityKernels.h>
#include <tvx/analysis/CtvxCollision.h>
#include <tvx/analysis/CtvxDistance.h>
#include <tvx/analysis/internal/CtvxPairContext.h>
#include <tvx/analysis/internal/CtvxQueryScratch.h>
#include <tvx/geometry/CtvxPolyhedron.h>
#include <tvx/geometry/CtvxVirtualPolyhedron.h>
#include <tvx/scene/CtvxAssembly.h>
#include <tvx/scene/CtvxCollisionList.h>
#include <tvx/scene/CtvxObjectOBB.h>
#include <tvx/scene/CtvxPolyhedronGroup.h>
#include <tvx/progress/CtvxProgressDelegate.h>

#include <qar/CqarLogManager.h>

#include <string>
#include <typeinfo>
#include <utility>

std::atomic<unsigned int> CtvxAnalysis::s_collisionCount{0};

namespace {
// Every distance query starts from this bound (as single precision).
float const kInitialBound = 1.0e13f;
} // namespace

CtvxAnalysis::CtvxAnalysis() : m_analysisType(FIRST_COLLISION) {}
CtvxAnalysis::~CtvxAnalysis() = default;

boost::shared_ptr<CtvxAnalysis> CtvxAnalysis::create()
{
    boost::shared_ptr<CtvxAnalysis> a(new CtvxAnalysis());
    a->init();
    return a;
}

void CtvxAnalysis::init()
{
    m_analysisType = FIRST_COLLISION;
}

void CtvxAnalysis::setCollisionList1(boost::shared_ptr<CtvxCollisionList> const& list)
{
    clearResults();
    m_prioritaryPairs.clear();
    if (m_scratch.scratch) {
        m_scratch.scratch->broad.forget();
        m_scratch.scratch->fronts.forget();
    }
    m_collisionList1 = list;
}

void CtvxAnalysis::setCollisionList2(boost::shared_ptr<CtvxCollisionList> const& list)
{
    clearResults();
    m_prioritaryPairs.clear();
    if (m_scratch.scratch) {
        m_scratch.scratch->broad.forget();
        m_scratch.scratch->fronts.forget();
    }
    m_collisionList2 = list;
}

int CtvxAnalysis::getCollisionList1(boost::shared_ptr<CtvxCollisionList>& out) const
{
    out = m_collisionList1;
    return out ? 0 : -1;
}

int CtvxAnalysis::getCollisionList2(boost::shared_ptr<CtvxCollisionList>& out) const
{
    out = m_collisionList2;
    return out ? 0 : -1;
}

CtvxQueryScratch& CtvxAnalysis::queryScratch() const
{
    if (!m_scratch.scratch) {
        m_scratch.scratch.reset(new CtvxQueryScratch());
        // Exact clearance queries of the same pairs follow one another here:
        // each keeps its front for the next.
        m_scratch.scratch->fronts.enabled = true;
    }
    return *m_scratch.scratch;
}

void CtvxAnalysis::clearResults()
{
    m_collisions.clear();
    m_distances.clear();
}

namespace {

// The kind of a scene object, as the descent needs it: a polyhedron (a
// geometry that is also a poly), an assembly, or neither. The library's own
// two leaf and node classes are recognised by their exact type, which costs a
// pointer comparison; anything else (a host's subclass) goes through the
// run-time casts, which give the same answer for every type.
void classify(CtvxObject* o, CtvxVirtualPolyhedron*& polyhedron, CtvxAssembly*& assembly)
{
    std::type_info const& type = typeid(*o);
    if (&type == &typeid(CtvxPolyhedron)) {
        polyhedron = static_cast<CtvxPolyhedron*>(o);
        assembly = nullptr;
    } else if (&type == &typeid(CtvxAssembly)) {
        polyhedron = nullptr;
        assembly = static_cast<CtvxAssembly*>(o);
    } else {
        polyhedron = dynamic_cast<CtvxVirtualPolyhedron*>(o);
        assembly = polyhedron ? nullptr : dynamic_cast<CtvxAssembly*>(o);
    }
}

} // namespace

void CtvxAnalysis::compute()
{
    // A miss leaves no result to drop and the scratch made: neither is
    // called for then.
    if (!m_collisions.empty() || !m_distances.empty())
        clearResults();
    s_collisionCount.fetch_add(1, std::memory_order_relaxed);
    CtvxQueryScratch& scratch = m_scratch.scratch ? *m_scratch.scratch : queryScratch();
    scratch.boxTests = 0;
    scratch.triangleTests = 0;
    scratch.unsureTests = 0;
    m_boxFrameOwner = nullptr;
    if (!m_skipped.empty()) {
        m_skipped.clear();
        m_skipMessage.clear();
    }
    if (!m_collisionList1 || !m_collisionList2)
        return;

    // Nothing that a query calls can replace the lists: the pair analysis
    // and the scene objects it reads do not call out to the host.
    CtvxCollisionList const& l1 = *m_collisionList1;
    CtvxCollisionList const& l2 = *m_collisionList2;

    float bound = kInitialBound;
    bool stopAll = false;

    // The ranks of the remembered pair, examined first; -1 when there is
    // none.
    int r1 = -1, r2 = -1;
    if (!m_prioritaryPairs.empty()) {
        ObjectPtr p1, p2;
        unsigned int rank1 = 0, rank2 = 0;
        if (getPrioritaryObjects(l1, l2, p1, rank1, p2, rank2) == 0) {
            m_pairRank1 = rank1;
            m_pairRank2 = rank2;
            computeForPair(p1, p2, bound, stopAll);
            r1 = static_cast<int>(rank1);
            r2 = static_cast<int>(rank2);
        }
    }

    bool const once = m_eachPairOnce && &l1 == &l2;
    if (!stopAll) {
        if (CtvxBroadPhase::pays(scratch.broadUse, l1.countObjects(), l2.countObjects()))
            examineCandidates(l1, l2, once, r1, r2, bound, stopAll);
        else
            examineAllPairs(l1, l2, once, r1, r2, bound, stopAll);
    }

    // A miss has nothing to sort and no pair to remember (nor one to forget:
    // the remembered pair was looked up above only when there was one).
    if (m_distances.size() > 1)
        sortDistancesVector();
    if (!m_collisions.empty() || !m_distances.empty() || !m_prioritaryPairs.empty())
        computePrioritaryObjectPair();
    if (!m_skipped.empty()) {
        std::string message = "CtvxAnalysis::compute: incomplete query: " + m_skipMessage +
                              " has triangles but no usable OBB tree (it was not made a collision entity, or its "
                              "tree was refused), so its pairs were not examined";
        if (m_skipped.size() > 1)
            message += " (" + std::to_string(m_skipped.size()) + " such objects in all)";
        CqarLogManager::addError(message);
    }
}

int CtvxAnalysis::getSkippedObject(unsigned int i, boost::shared_ptr<CtvxObject>& out) const
{
    out = i < m_skipped.size() ? m_skipped[i].lock() : ObjectPtr();
    return out ? 0 : -1;
}

namespace {

// Whether (i, j) is the remembered pair, examined already; with each pair
// once, in either order.
inline bool isDone(unsigned int i, unsigned int j, bool once, int r1, int r2)
{
    int const a = static_cast<int>(i), b = static_cast<int>(j);
    return (a == r1 && b == r2) || (once && a == r2 && b == r1);
}

} // namespace

void CtvxAnalysis::examineAllPairs(CtvxCollisionList const& l1, CtvxCollisionList const& l2, bool once, int r1,
                                   int r2, float& bound, bool& stopAll)
{
    // The lists hold their objects for the whole query: read in place.
    std::vector<ObjectPtr> const& objects1 = l1.m_objects;
    std::vector<ObjectPtr> const& objects2 = l2.m_objects;
    unsigned int const count1 = static_cast<unsigned int>(objects1.size());
    unsigned int const count2 = static_cast<unsigned int>(objects2.size());
    for (unsigned int i = 0; i < count1 && !stopAll; ++i) {
        ObjectPtr const& a = objects1[i];
        if (!a)
            continue;
        for (unsigned int j = once ? i + 1 : 0; j < count2 && !stopAll; ++j) {
            if (isDone(i, j, once, r1, r2))
                continue;
            ObjectPtr const& b = objects2[j];
            if (b && b != a) {
                m_pairRank1 = i;
                m_pairRank2 = j;
                computeForPair(a, b, bound, stopAll);
            }
        }
    }
}

// The same walk over the broad phase's candidates, which leave out only
// pairs that would have left no trace.
void CtvxAnalysis::examineCandidates(CtvxCollisionList const& l1, CtvxCollisionList const& l2, bool once, int r1,
                                     int r2, float& bound, bool& stopAll)
{
    CtvxBroadPhase& broad = m_scratch.scratch->broad;
    broad.prepare(l1, l2, m_analysisType, once);
    std::vector<ObjectPtr> const& objects1 = l1.m_objects;
    std::vector<ObjectPtr> const& objects2 = l2.m_objects;
    unsigned int const count1 = static_cast<unsigned int>(objects1.size());
    unsigned int i = 0;
    // A fresh first contact: its first rows before the broad phase's tree.
    for (; i < count1 && !stopAll && broad.lazy(); ++i) {
        ObjectPtr const& a = objects1[i];
        if (!a)
            continue;
        unsigned int const count2 = static_cast<unsigned int>(objects2.size());
        for (unsigned int j = once ? i + 1 : 0; j < count2 && !stopAll; ++j) {
            if (isDone(i, j, once, r1, r2))
                continue;
            ObjectPtr const& b = objects2[j];
            if (b && b != a && broad.meets(i, j) && !broad.settles(i, j, bound)) {
                m_pairRank1 = i;
                m_pairRank2 = j;
                computeForPair(a, b, bound, stopAll);
            }
        }
        if (!stopAll)
            broad.rowDone();
    }
    for (; i < count1 && !stopAll; ++i) {
        ObjectPtr const& a = objects1[i];
        if (!a)
            continue;
        CtvxBroadPhase::Row const row = broad.row(i, bound);
        for (unsigned int k = 0; k < row.count && !stopAll; ++k) {
            unsigned int const j = row.ranks[k];
            if (isDone(i, j, once, r1, r2))
                continue;
            ObjectPtr const& b = objects2[j];
            if (b && b != a && !broad.settles(i, j, bound)) {
                m_pairRank1 = i;
                m_pairRank2 = j;
                computeForPair(a, b, bound, stopAll);
            }
        }
    }
}

void CtvxAnalysis::computeForPair(ObjectPtr const& o1, ObjectPtr const& o2, float& bound, bool& stopAll)
{
    // The spare results stand in for CtvxCollision::create(o1, o2) and
    // CtvxDistance::create(o1, o2): no pairs, the initial distance and no
    // closest points. Nothing reads a result's objects during the descent,
    // so they are named only in a result that is kept: the many pairs that
    // find nothing touch no reference count here.
    // A pair that recorded a contact keeps its result, so the spare holds
    // pairs only when an exception left a query half done.
    if (!m_spare.collision)
        m_spare.collision = CtvxCollision::create();
    else if (!m_spare.collision->m_pairs.empty())
        m_spare.collision->reuse();
    if (!m_spare.distance)
        m_spare.distance = CtvxDistance::create();
    CtvxDistance& distance = *m_spare.distance;
    // The contact queries neither read the spare distance nor keep it (no
    // distance is found in their modes), so only the distance queries start
    // it from the bound, without closest points.
    if (m_analysisType == EXACT_DISTANCE || m_analysisType == ESTIMATED_DISTANCE)
        distance.setDistance(bound);
    m_lastPoly1 = nullptr;
    m_lastPoly2 = nullptr;
    m_pairObject1 = o1.get();
    m_pairObject2 = o2.get();

    PairState state;
    state.collision = &m_spare.collision;
    state.distance = &m_spare.distance;
    // Two of the library's own polyhedra, the pair of most queries, go
    // straight to their pair analysis; the descent's stack is set up only
    // for an assembly to split.
    CtvxObject* const x1 = o1.get();
    CtvxObject* const x2 = o2.get();
    std::type_info const& polyhedron = typeid(CtvxPolyhedron);
    if (&typeid(*x1) == &polyhedron && &typeid(*x2) == &polyhedron) {
        examinePolys(o1, static_cast<CtvxPolyhedron*>(x1), nullptr, o2, static_cast<CtvxPolyhedron*>(x2), nullptr,
                     state);
    } else {
        DescentStep split;
        if (examinePair(o1, o2, state, split))
            computeRecurse(split, state);
    }

    if (m_lastPoly1)
        if (ObjectPtr const last1 = m_lastPoly1->obj())
            last1->isPrioritaryChildRecurse();
    if (m_lastPoly2)
        if (ObjectPtr const last2 = m_lastPoly2->obj())
            last2->isPrioritaryChildRecurse();
    m_lastPoly1 = nullptr;
    m_lastPoly2 = nullptr;

    // A kept result leaves the spares; the next pair makes a new one.
    if (state.collided) {
        if (m_analysisType != ALL_COLLISIONS)
            stopAll = true;
        m_spare.collision->object1(o1);
        m_spare.collision->object2(o2);
        m_collisions.push_back(std::move(m_spare.collision));
        m_spare.collision.reset();
        bound = 0.0f;
    } else if (state.distanceFound) {
        bound = distance.distance();
        distance.object1(o1);
        distance.object2(o2);
        m_distances.push_back(std::move(m_spare.distance));
        m_spare.distance.reset();
    }
}

void CtvxAnalysis::computeRecurse(DescentStep const& first, PairState& state)
{
    // Depth first, in the order the former recursive descent took: a split
    // assembly's prioritary child first, then the others in child order,
    // each pair examined (and split in turn) before the next sibling. Once
    // the query is settled (stop), nothing more is examined.
    m_descent.clear();
    m_descent.push_back(first);
    DescentStep split;
    while (!m_descent.empty() && !state.stop) {
        DescentStep& step = m_descent.back();
        ObjectPtr const* const child = nextChild(step);
        if (!child) {
            m_descent.pop_back();
            continue;
        }
        bool const assemblyFirst = step.assemblyFirst;
        ObjectPtr const& other = *step.other;
        if (examinePair(assemblyFirst ? *child : other, assemblyFirst ? other : *child, state, split))
            m_descent.push_back(split);
    }
    m_descent.clear();
}

CtvxAnalysis::ObjectPtr const* CtvxAnalysis::nextChild(DescentStep& step)
{
    // Read in place: nothing changes an assembly's children during a query,
    // and the prioritary children are only written once the object pair is
    // done.
    ObjectPtr const& p = step.assembly->m_prioritaryChild;
    if (step.next < 0) {
        step.next = 0;
        if (p)
            return &p;
    }
    std::vector<ObjectPtr> const& children = step.assembly->m_children;
    while (static_cast<std::size_t>(step.next) < children.size()) {
        ObjectPtr const& c = children[static_cast<std::size_t>(step.next++)];
        if (c != p)
            return &c;
    }
    return nullptr;
}

void CtvxAnalysis::refreshTree(CtvxObject* o, CtvxVirtualPolyhedron* v, CtvxAssembly* a) const
{
    // A tree that misses triangles added since it was built is never read:
    // it is rebuilt here, silently, as transforms rebuild trees; so is one
    // refused before the triangles changed.
    if (v) {
        if (v->isBVStale() && (v->isBVConstructed() || v->isBVRefused())) {
            v->resetBV();
            v->buildBV(s_defaultNullDelegate, CtvxPoly::BV_OBB_TREE);
            o->needToRecomputeObb(true);
        }
    } else if (a->m_regroupedPoly->isBVStale()) {
        a->refreshStaleGroup();
    }
}

inline void CtvxAnalysis::examinePolys(ObjectPtr const& o1, CtvxVirtualPolyhedron* v1, CtvxAssembly* a1,
                                       ObjectPtr const& o2, CtvxVirtualPolyhedron* v2, CtvxAssembly* a2,
                                       PairState& state)
{
    // Each rebuild starts from a stale tree: the check is made here, the
    // rebuild out of line.
    if ((v1 ? static_cast<CtvxPoly*>(v1) : a1->m_regroupedPoly.get())->isBVStale())
        refreshTree(o1.get(), v1, a1);
    if ((v2 ? static_cast<CtvxPoly*>(v2) : a2->m_regroupedPoly.get())->isBVStale())
        refreshTree(o2.get(), v2, a2);
    // A polyhedron shares its object's ownership, a group its own; a
    // shared pointer is made only for a result that names the set.
    auto const ownerOf = [](ObjectPtr const& o, CtvxVirtualPolyhedron* v, CtvxAssembly* a) {
        CtvxPolyOwner owner;
        if (v) {
            owner.poly = v;
            owner.object = &o;
        } else {
            owner.poly = a->m_regroupedPoly.get();
            owner.group = &a->m_regroupedPoly;
        }
        return owner;
    };
    CtvxPolyOwner const poly1 = ownerOf(o1, v1, a1);
    CtvxPolyOwner const poly2 = ownerOf(o2, v2, a2);
    bool const ready1 = poly1.poly->hasUsableTree();
    bool const ready2 = poly2.poly->hasUsableTree();
    if (ready1 && ready2) {
        computePolyVSPoly(poly1, poly2, state);
        return;
    }
    // Activated triangles on both sides, a tree missing on one: a pair
    // that was not examined, which must not read as "apart".
    auto const hasTriangles = [](CtvxPoly const& p) {
        return p.isActivatedForAnalysis() && p.countTriangles() > 0;
    };
    if (hasTriangles(*poly1.poly) && hasTriangles(*poly2.poly)) {
        if (!ready1)
            noteSkippedPoly(o1.get(), 1);
        if (!ready2)
            noteSkippedPoly(o2.get(), 2);
    }
}

bool CtvxAnalysis::examinePair(ObjectPtr const& o1, ObjectPtr const& o2, PairState& state, DescentStep& split)
{
    CtvxVirtualPolyhedron *v1 = nullptr, *v2 = nullptr;
    CtvxAssembly *a1 = nullptr, *a2 = nullptr;
    classify(o1.get(), v1, a1);
    classify(o2.get(), v2, a2);
    // A regrouped assembly stands for its group; an assembly marked
    // regrouped without a group is descended like any other.
    bool const hasPoly1 = v1 || (a1 && a1->m_isRegrouped && a1->m_regroupedPoly);
    bool const hasPoly2 = v2 || (a2 && a2->m_isRegrouped && a2->m_regroupedPoly);

    if (hasPoly1 && hasPoly2) {
        examinePolys(o1, v1, a1, o2, v2, a2, state);
        return false;
    }

    CtvxDistance& distance = **state.distance;
    bool analyse = true, distanceSet = false, splitFirst = false;
    if (v1) {
        if (!a2)
            return false; // neither a polyhedron nor an assembly: nothing to examine
        analyseObbs(v1, a2, analyse, distanceSet, distance);
        splitFirst = false;
    } else if (v2) {
        if (!a1)
            return false;
        analyseObbs(v2, a1, analyse, distanceSet, distance);
        splitFirst = true;
    } else {
        if (!a1 || !a2)
            return false;
        analyseObbs(a1, a2, analyse, splitFirst, distanceSet, distance);
    }

    if (distanceSet && !state.collided)
        state.distanceFound = true;
    if (!analyse) {
        // Pruned, or one side without a box: geometry that the boxes leave
        // out for want of a tree was not examined against the other side's.
        CtvxObject* const x1 = o1.get();
        CtvxObject* const x2 = o2.get();
        auto const holdsAny = [](CtvxObject const* x) {
            return x->m_obbState != CtvxObject::OBB_NONE || x->m_holdsUnbuiltGeometry;
        };
        if (x1->m_holdsUnbuiltGeometry && holdsAny(x2))
            noteSkipped(x1, 1);
        if (x2->m_holdsUnbuiltGeometry && holdsAny(x1))
            noteSkipped(x2, 2);
        return false;
    }
    split.assembly = splitFirst ? a1 : a2;
    split.other = splitFirst ? &o2 : &o1;
    split.assemblyFirst = splitFirst;
    split.next = -1;
    return true;
}

void CtvxAnalysis::noteSkipped(CtvxObject* holder, int side)
{
    // Down the branches that hold unbuilt geometry, to the polys themselves.
    std::vector<CtvxObject*> pending{holder};
    while (!pending.empty()) {
        CtvxObject* const x = pending.back();
        pending.pop_back();
        CtvxVirtualPolyhedron* v = nullptr;
        CtvxAssembly* a = nullptr;
        classify(x, v, a);
        if (v || (a && a->m_isRegrouped && a->m_regroupedPoly)) {
            noteSkippedPoly(x, side);
        } else if (a) {
            for (std::size_t i = a->m_children.size(); i-- > 0;)
                if (a->m_children[i]->m_holdsUnbuiltGeometry)
                    pending.push_back(a->m_children[i].get());
        }
    }
}

void CtvxAnalysis::noteSkippedPoly(CtvxObject* owner, int side)
{
    for (auto const& w : m_skipped)
        if (w.lock().get() == owner)
            return;
    if (m_skipped.empty()) {
        CtvxObject const* const top = side == 1 ? m_pairObject1 : m_pairObject2;
        std::string const place =
            "rank " + std::to_string(side == 1 ? m_pairRank1 : m_pairRank2) + " of collision list " + std::to_string(side);
        if (owner == top)
            m_skipMessage = "the " + owner->className() + " at " + place;
        else
            m_skipMessage = "a " + owner->className() + " below the " + top->className() + " at " + place;
    }
    m_skipped.push_back(owner->m_objectWkPtr);
}

inline void CtvxAnalysis::computePolyVSPoly(CtvxPolyOwner const& p1, CtvxPolyOwner const& p2, PairState& state)
{
    CtvxQueryScratch& scratch = *m_scratch.scratch;
    if (!scratch.pair)
        scratch.pair.reset(new CtvxPairContext(scratch));
    CtvxPairContext& pair = *scratch.pair;
    pair.bind(p1, p2);
    bool pairCollided = false, pairDistanceFound = false;
    // One contact per object pair: each poly pair's walk stops at its first
    // contact, as a first-contact query's does, and so does the pair.
    bool const oneContact = m_analysisType == ALL_COLLISIONS && m_oneContactPerPair;
    pair.compute(oneContact ? FIRST_COLLISION : m_analysisType, scratch.walk, pairCollided, *state.collision,
                 pairDistanceFound, *state.distance);
    scratch.boxTests += pair.boxTests();
    scratch.triangleTests += pair.triangleTests();
    scratch.unsureTests += pair.unsureTests();
    if (pairCollided) {
        if (m_analysisType != ALL_COLLISIONS) {
            state.stop = true;
            m_lastPoly1 = p1.poly;
            m_lastPoly2 = p2.poly;
        } else if (oneContact) {
            state.stop = true;
        }
        state.collided = true;
        state.distanceFound = false;
    } else if (pairDistanceFound && !state.collided) {
        state.distanceFound = true;
        m_lastPoly1 = p1.poly;
        m_lastPoly2 = p2.poly;
    }
}

bool CtvxAnalysis::boxesNeedDescent(CtvxObject* o1, CtvxObject* o2, bool& distanceSet, CtvxDistance& d) const
{
    float const current = d.distance();
    float b = current;
    bool const distanceMode = m_analysisType == EXACT_DISTANCE || m_analysisType == ESTIMATED_DISTANCE;
    int const r = obbOverlapp(o1, o2, distanceMode, b);
    ++m_scratch.scratch->boxTests;
    if (r == 0 || (m_analysisType == EXACT_DISTANCE && d.distance() > b))
        return true;
    if (m_analysisType == ESTIMATED_DISTANCE && current > b) {
        d.setDistance(b);
        distanceSet = true;
    }
    return false;
}

void CtvxAnalysis::analyseObbs(CtvxAssembly* a1, CtvxAssembly* a2, bool& analyse, bool& splitFirst,
                               bool& distanceSet, CtvxDistance& d) const
{
    distanceSet = false;
    if (a1->needToRecomputeObb())
        refreshObb(a1);
    if (a2->needToRecomputeObb())
        refreshObb(a2);
    if (a1->obbState() == CtvxObject::OBB_NONE || a2->obbState() == CtvxObject::OBB_NONE) {
        analyse = false;
        return;
    }
    // A single-child box is that child's box: testing it would repeat the
    // child's own test, so descend at once.
    if (a1->obbState() == CtvxObject::OBB_SINGLE_CHILD && !a1->isRegrouped()) {
        analyse = true;
        splitFirst = true;
        return;
    }
    if (a2->obbState() == CtvxObject::OBB_SINGLE_CHILD && !a2->isRegrouped()) {
        analyse = true;
        splitFirst = false;
        return;
    }
    analyse = boxesNeedDescent(a1, a2, distanceSet, d);
    if (!analyse)
        return;
    if (a1->isRegrouped())
        splitFirst = false;
    else if (a2->isRegrouped())
        splitFirst = true;
    else
        splitFirst = a1->enclosingObb()->size() >= a2->enclosingObb()->size();
}

void CtvxAnalysis::analyseObbs(CtvxGeometry* g, CtvxAssembly* a, bool& analyse, bool& distanceSet,
                               CtvxDistance& d) const
{
    distanceSet = false;
    if (a->needToRecomputeObb())
        refreshObb(a);
    if (g->needToRecomputeObb())
        refreshObb(g);
    if (a->obbState() == CtvxObject::OBB_NONE || g->obbState() == CtvxObject::OBB_NONE) {
        analyse = false;
        return;
    }
    if (a->obbState() == CtvxObject::OBB_SINGLE_CHILD) {
        analyse = true;
        return;
    }
    analyse = boxesNeedDescent(a, g, distanceSet, d);
}

void CtvxAnalysis::analyseObbs(CtvxGeometry* g1, CtvxGeometry* g2, bool& analyse, bool& distanceSet,
                               CtvxDistance& d) const
{
    distanceSet = false;
    if (g1->needToRecomputeObb())
        refreshObb(g1);
    if (g2->needToRecomputeObb())
        refreshObb(g2);
    if (g1->obbState() == CtvxObject::OBB_NONE || g2->obbState() == CtvxObject::OBB_NONE) {
        analyse = false;
        return;
    }
    analyse = boxesNeedDescent(g1, g2, distanceSet, d);
}

void CtvxAnalysis::refreshObb(CtvxObject* o) const
{
    o->computeObb();
    // An assembly's refresh may refresh boxes below it too.
    m_boxFrameOwner = nullptr;
}

int CtvxAnalysis::obbOverlapp(CtvxObject* o1, CtvxObject* o2, bool distanceMode, float& bound) const
{
    CtvxObjectOBB* const box1 = o1->enclosingObb();
    CtvxObjectOBB* const box2 = o2->enclosingObb();
    if (o1 != m_boxFrameOwner) {
        CqarMat4 e1, a1;
        box1->getRelativePosition(e1);
        o1->getAbsolutePosition(a1);
        m_boxFrameInverse = e1.inverse() * a1.inverse();
        m_boxFrameOwner = o1;
    }
    CqarMat4 e2, a2;
    box2->getRelativePosition(e2);
    o2->getAbsolutePosition(a2);
    // Box 2's frame into box 1's, in double precision: the enclosing boxes
    // may sit far from the world origin. The products are taken left to
    // right, E1^-1 * A1^-1 first, whether that factor is kept or not.
    CqarMat4 const rel = m_boxFrameInverse * a2 * e2;
    float h1[3], h2[3];
    box1->getHalfLengths(h1[0], h1[1], h1[2]);
    box2->getHalfLengths(h2[0], h2[1], h2[2]);
    return CtvxProximityKernels::boxBoxSeparation(h1, h2, rel, distanceMode, bound);
}

int CtvxAnalysis::getPrioritaryObjects(CtvxCollisionList const& l1, CtvxCollisionList const& l2, ObjectPtr& o1,
                                       unsigned int& rank1, ObjectPtr& o2, unsigned int& rank2) const
{
    if (m_prioritaryPairs.empty())
        return -1;
    o1 = m_prioritaryPairs.front().first.lock();
    if (!o1 || l1.getObjectRank(o1, rank1) != 0)
        return -1;
    o2 = m_prioritaryPairs.front().second.lock();
    if (!o2 || l2.getObjectRank(o2, rank2) != 0)
        return -1;
    return 0;
}

void CtvxAnalysis::computePrioritaryObjectPair()
{
    m_prioritaryPairs.clear();
    if (m_collisions.empty() && m_distances.empty())
        return;
    ObjectPtr o1, o2;
    if (!m_collisions.empty()) {
        m_collisions.front()->getObject1(o1);
        m_collisions.front()->getObject2(o2);
    } else if (!m_distances.empty()) {
        m_distances.front()->getObject1(o1);
        m_distances.front()->getObject2(o2);
    } else {
        return;
    }
    if (o1 && o2)
        m_prioritaryPairs.emplace_back(boost::weak_ptr<CtvxObject>(o1), boost::weak_ptr<CtvxObject>(o2));
}

void CtvxAnalysis::sortDistancesVector()
{
    // Stable insertion sort: equal distances keep their order of discovery.
    // The entries are moved, not copied, so that sorting touches no
    // reference count.
    for (std::size_t i = 1; i < m_distances.size(); ++i) {
        DistancePtr d = std::move(m_distances[i]);
        float const key = d->distance();
        std::size_t j = i;
        while (j > 0 && m_distances[j - 1]->distance() > key) {
            m_distances[j] = std::move(m_distances[j - 1]);
            --j;
        }
        m_distances[j] = std::move(d);
    }
}
