#include <tvx/analysis/CtvxAnalysis.h>

#include <tvx/analysis/CtvxProximityKernels.h>
#include <tvx/analysis/CtvxCollision.h>
#include <tvx/analysis/CtvxDistance.h>
#include <tvx/analysis/CtvxPolyhedronPolyhedronTypedAnalysis.h>
#include <tvx/geometry/CtvxVirtualPolyhedron.h>
#include <tvx/scene/CtvxAssembly.h>
#include <tvx/scene/CtvxCollisionList.h>
#include <tvx/scene/CtvxObjectOBB.h>
#include <tvx/scene/CtvxPolyhedronGroup.h>

#include <boost/pointer_cast.hpp>

unsigned int CtvxAnalysis::s_collisionCount = 0;

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
    m_collisionList1 = list;
}

void CtvxAnalysis::setCollisionList2(boost::shared_ptr<CtvxCollisionList> const& list)
{
    clearResults();
    m_prioritaryPairs.clear();
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

void CtvxAnalysis::clearResults()
{
    m_collisions.clear();
    m_distances.clear();
}

void CtvxAnalysis::compute()
{
    clearResults();
    ++s_collisionCount;
    if (!m_collisionList1 || !m_collisionList2)
        return;

    // The lists are held for the whole query even if a host callback (none
    // exists today) were to replace them.
    boost::shared_ptr<CtvxCollisionList> const l1 = m_collisionList1;
    boost::shared_ptr<CtvxCollisionList> const l2 = m_collisionList2;

    float bound = kInitialBound;
    bool stopAll = false;

    ObjectPtr p1, p2;
    unsigned int r1 = 0, r2 = 0;
    bool const prioritaryDone = getPrioritaryObjects(l1, l2, p1, r1, p2, r2) == 0;
    if (prioritaryDone)
        computeForPair(p1, p2, bound, stopAll);

    unsigned int const count1 = l1->countObjects();
    unsigned int const count2 = l2->countObjects();
    for (unsigned int i = 0; i < count1 && !stopAll; ++i) {
        ObjectPtr a = l1->object(i);
        if (!a)
            continue;
        for (unsigned int j = 0; j < count2 && !stopAll; ++j) {
            if (prioritaryDone && i == r1 && j == r2)
                continue;
            ObjectPtr b = l2->object(j);
            if (b && b != a)
                computeForPair(a, b, bound, stopAll);
        }
    }

    sortDistancesVector();
    computePrioritaryObjectPair();
}

void CtvxAnalysis::computeForPair(ObjectPtr& o1, ObjectPtr& o2, float& bound, bool& stopAll)
{
    CollisionPtr collision = CtvxCollision::create(o1, o2);
    DistancePtr distance = CtvxDistance::create(o1, o2);
    m_lastObject1.reset();
    m_lastObject2.reset();
    if (m_analysisType != ALL_COLLISIONS)
        distance->setDistance(bound);

    bool collided = false, distanceFound = false, stop = false;
    computeRecurse(o1, o2, o1, o2, collided, collision, distanceFound, distance, stop);

    if (ObjectPtr const last1 = m_lastObject1.lock())
        last1->isPrioritaryChildRecurse();
    if (ObjectPtr const last2 = m_lastObject2.lock())
        last2->isPrioritaryChildRecurse();

    if (collided) {
        if (m_analysisType != ALL_COLLISIONS)
            stopAll = true;
        addCollision(collision);
        bound = 0.0f;
    } else if (distanceFound) {
        addDistance(distance);
        bound = distance->distance();
    }
}

void CtvxAnalysis::computeRecurse(ObjectPtr& o1, ObjectPtr& o2, ObjectPtr const& top1, ObjectPtr const& top2,
                                  bool& collided, CollisionPtr& collision, bool& distanceFound,
                                  DistancePtr& distance, bool& stop)
{
    boost::shared_ptr<CtvxVirtualPolyhedron> v1 = boost::dynamic_pointer_cast<CtvxVirtualPolyhedron>(o1);
    boost::shared_ptr<CtvxVirtualPolyhedron> v2 = boost::dynamic_pointer_cast<CtvxVirtualPolyhedron>(o2);
    boost::shared_ptr<CtvxAssembly> a1, a2;
    boost::shared_ptr<CtvxPoly> poly1, poly2;
    if (v1) {
        poly1 = v1;
    } else {
        a1 = boost::dynamic_pointer_cast<CtvxAssembly>(o1);
        if (a1 && a1->isRegrouped())
            poly1 = a1->regroupedPoly();
    }
    if (v2) {
        poly2 = v2;
    } else {
        a2 = boost::dynamic_pointer_cast<CtvxAssembly>(o2);
        if (a2 && a2->isRegrouped())
            poly2 = a2->regroupedPoly();
    }

    if (poly1 && poly2) {
        computePolyVSPoly(poly1, poly2, collided, collision, distanceFound, distance, stop);
        return;
    }

    bool analyse = true, distanceSet = false, splitFirst = false;
    if (v1) {
        if (!a2)
            return; // neither a polyhedron nor an assembly: nothing to examine
        boost::shared_ptr<CtvxGeometry> g1 = v1;
        analyseObbs(g1, a2, analyse, distanceSet, distance);
        splitFirst = false;
    } else if (v2) {
        if (!a1)
            return;
        boost::shared_ptr<CtvxGeometry> g2 = v2;
        analyseObbs(g2, a1, analyse, distanceSet, distance);
        splitFirst = true;
    } else {
        if (!a1 || !a2)
            return;
        analyseObbs(a1, a2, analyse, splitFirst, distanceSet, distance);
    }

    if (distanceSet && !collided)
        distanceFound = true;
    if (!analyse)
        return;
    if (splitFirst)
        computeAssemblyChildrenVSObj(a1, o2, top1, top2, collided, collision, distanceFound, distance, stop);
    else
        computeObjVSAssemblyChildren(o1, a2, top1, top2, collided, collision, distanceFound, distance, stop);
}

void CtvxAnalysis::computeAssemblyChildrenVSObj(boost::shared_ptr<CtvxAssembly>& a1, ObjectPtr& o2,
                                                ObjectPtr const& top1, ObjectPtr const& top2, bool& collided,
                                                CollisionPtr& collision, bool& distanceFound,
                                                DistancePtr& distance, bool& stop)
{
    ObjectPtr p;
    if (a1->getPrioritaryChild(p) == 0) {
        computeRecurse(p, o2, top1, top2, collided, collision, distanceFound, distance, stop);
        if (stop)
            return;
    }
    unsigned int const n = a1->countChildren();
    for (unsigned int i = 0; i < n && !stop; ++i) {
        ObjectPtr c = a1->child(i);
        if (c != p)
            computeRecurse(c, o2, top1, top2, collided, collision, distanceFound, distance, stop);
    }
}

void CtvxAnalysis::computeObjVSAssemblyChildren(ObjectPtr& o1, boost::shared_ptr<CtvxAssembly>& a2,
                                                ObjectPtr const& top1, ObjectPtr const& top2, bool& collided,
                                                CollisionPtr& collision, bool& distanceFound,
                                                DistancePtr& distance, bool& stop)
{
    ObjectPtr p;
    if (a2->getPrioritaryChild(p) == 0) {
        computeRecurse(o1, p, top1, top2, collided, collision, distanceFound, distance, stop);
        if (stop)
            return;
    }
    unsigned int const n = a2->countChildren();
    for (unsigned int i = 0; i < n && !stop; ++i) {
        ObjectPtr c = a2->child(i);
        if (c != p)
            computeRecurse(o1, c, top1, top2, collided, collision, distanceFound, distance, stop);
    }
}

void CtvxAnalysis::computePolyVSPoly(boost::shared_ptr<CtvxPoly>& p1, boost::shared_ptr<CtvxPoly>& p2,
                                     bool& collided, CollisionPtr& collision, bool& distanceFound,
                                     DistancePtr& distance, bool& stop)
{
    CtvxPolyhedronPolyhedronTypedAnalysis pair(p1, p2);
    bool pairCollided = false, pairDistanceFound = false;
    pair.compute(m_analysisType, pairCollided, collision, pairDistanceFound, distance);
    if (pairCollided) {
        if (m_analysisType != ALL_COLLISIONS) {
            stop = true;
            m_lastObject1 = p1->obj();
            m_lastObject2 = p2->obj();
        }
        collided = true;
        distanceFound = false;
    } else if (pairDistanceFound && !collided) {
        distanceFound = true;
        m_lastObject1 = p1->obj();
        m_lastObject2 = p2->obj();
    }
}

bool CtvxAnalysis::boxesNeedDescent(ObjectPtr const& o1, ObjectPtr const& o2, bool& distanceSet,
                                    DistancePtr& d) const
{
    float const current = d->distance();
    float b = current;
    bool const distanceMode = m_analysisType == EXACT_DISTANCE || m_analysisType == ESTIMATED_DISTANCE;
    int const r = obbOverlapp(o1, o2, distanceMode, b);
    if (r == 0 || (m_analysisType == EXACT_DISTANCE && d->distance() > b))
        return true;
    if (m_analysisType == ESTIMATED_DISTANCE && current > b) {
        d->setDistance(b);
        distanceSet = true;
    }
    return false;
}

void CtvxAnalysis::analyseObbs(boost::shared_ptr<CtvxAssembly>& a1, boost::shared_ptr<CtvxAssembly>& a2,
                               bool& analyse, bool& splitFirst, bool& distanceSet, DistancePtr& d) const
{
    distanceSet = false;
    if (a1->needToRecomputeObb())
        a1->computeObb();
    if (a2->needToRecomputeObb())
        a2->computeObb();
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
    ObjectPtr const o1 = a1, o2 = a2;
    analyse = boxesNeedDescent(o1, o2, distanceSet, d);
    if (!analyse)
        return;
    if (a1->isRegrouped())
        splitFirst = false;
    else if (a2->isRegrouped())
        splitFirst = true;
    else
        splitFirst = a1->enclosingObb()->size() >= a2->enclosingObb()->size();
}

void CtvxAnalysis::analyseObbs(boost::shared_ptr<CtvxGeometry>& g, boost::shared_ptr<CtvxAssembly>& a,
                               bool& analyse, bool& distanceSet, DistancePtr& d) const
{
    distanceSet = false;
    if (a->needToRecomputeObb())
        a->computeObb();
    if (g->needToRecomputeObb())
        g->computeObb();
    if (a->obbState() == CtvxObject::OBB_NONE || g->obbState() == CtvxObject::OBB_NONE) {
        analyse = false;
        return;
    }
    if (a->obbState() == CtvxObject::OBB_SINGLE_CHILD) {
        analyse = true;
        return;
    }
    ObjectPtr const oa = a, og = g;
    analyse = boxesNeedDescent(oa, og, distanceSet, d);
}

void CtvxAnalysis::analyseObbs(boost::shared_ptr<CtvxGeometry>& g1, boost::shared_ptr<CtvxGeometry>& g2,
                               bool& analyse, bool& distanceSet, DistancePtr& d) const
{
    distanceSet = false;
    if (g1->needToRecomputeObb())
        g1->computeObb();
    if (g2->needToRecomputeObb())
        g2->computeObb();
    if (g1->obbState() == CtvxObject::OBB_NONE || g2->obbState() == CtvxObject::OBB_NONE) {
        analyse = false;
        return;
    }
    ObjectPtr const o1 = g1, o2 = g2;
    analyse = boxesNeedDescent(o1, o2, distanceSet, d);
}

int CtvxAnalysis::obbOverlapp(ObjectPtr const& o1, ObjectPtr const& o2, bool distanceMode, float& bound) const
{
    CtvxObjectOBB* const box1 = o1->enclosingObb();
    CtvxObjectOBB* const box2 = o2->enclosingObb();
    CqarMat4 e1, e2, a1, a2;
    box1->getRelativePosition(e1);
    box2->getRelativePosition(e2);
    o1->getAbsolutePosition(a1);
    o2->getAbsolutePosition(a2);
    // Box 2's frame into box 1's, in double precision: the enclosing boxes
    // may sit far from the world origin.
    CqarMat4 const rel = e1.inverse() * a1.inverse() * a2 * e2;
    float h1[3], h2[3];
    box1->getHalfLengths(h1[0], h1[1], h1[2]);
    box2->getHalfLengths(h2[0], h2[1], h2[2]);
    return CtvxProximityKernels::boxBoxSeparation(h1, h2, rel, distanceMode, bound);
}

int CtvxAnalysis::getPrioritaryObjects(boost::shared_ptr<CtvxCollisionList> const& l1,
                                       boost::shared_ptr<CtvxCollisionList> const& l2, ObjectPtr& o1,
                                       unsigned int& rank1, ObjectPtr& o2, unsigned int& rank2) const
{
    if (m_prioritaryPairs.empty())
        return -1;
    o1 = m_prioritaryPairs.front().first.lock();
    if (!o1 || l1->getObjectRank(o1, rank1) != 0)
        return -1;
    o2 = m_prioritaryPairs.front().second.lock();
    if (!o2 || l2->getObjectRank(o2, rank2) != 0)
        return -1;
    return 0;
}

void CtvxAnalysis::computePrioritaryObjectPair()
{
    m_prioritaryPairs.clear();
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
    for (std::size_t i = 1; i < m_distances.size(); ++i) {
        DistancePtr const d = m_distances[i];
        std::size_t j = i;
        while (j > 0 && m_distances[j - 1]->distance() > d->distance()) {
            m_distances[j] = m_distances[j - 1];
            --j;
        }
        m_distances[j] = d;
    }
}
