#pragma once

#include <tvx/tvxExport.h>

#include <boost/shared_ptr.hpp>
#include <boost/weak_ptr.hpp>

#include <utility>
#include <vector>

class CtvxAssembly;
class CtvxCollision;
class CtvxCollisionList;
class CtvxDistance;
class CtvxGeometry;
class CtvxObject;
class CtvxPoly;

// A proximity query between two collision lists.
//
// Create one, give it two lists and a query type, call compute(), then read
// the results: one CtvxCollision per object pair found in contact and, for
// the distance types, one CtvxDistance per object pair that lowered the
// running minimum, sorted so that getDistance(0) is the smallest. Every
// object of list 1 is examined against every object of list 2 (an object is
// never examined against itself); assemblies are pruned with their enclosing
// boxes and descended, regrouped assemblies are handled as one triangle set.
// Between queries the analysis remembers the object pair of the last contact
// or closest pair and examines it first, and every assembly on the way to it
// remembers the branch to try first, so that re-querying a scene that moved a
// little is fast. Distances are clearances: the distance between the surfaces
// minus the tolerances of the geometry. Results are shared pointers and stay
// valid after the analysis is cleared or destroyed; the analysis holds the
// scene only through its lists.
class TVX_API CtvxAnalysis {
public:
    enum EAnalysisType {
        FIRST_COLLISION = 0,
        ALL_COLLISIONS = 1,
        EXACT_DISTANCE = 2,
        ESTIMATED_DISTANCE = 3
    };

    static boost::shared_ptr<CtvxAnalysis> create();
    CtvxAnalysis(CtvxAnalysis const&) = default;
    CtvxAnalysis& operator=(CtvxAnalysis const&) = default;
    ~CtvxAnalysis();

    // Setting a list clears the results and forgets the remembered pair.
    void setCollisionList1(boost::shared_ptr<CtvxCollisionList> const& list);
    void setCollisionList2(boost::shared_ptr<CtvxCollisionList> const& list);
    int getCollisionList1(boost::shared_ptr<CtvxCollisionList>& out) const;
    int getCollisionList2(boost::shared_ptr<CtvxCollisionList>& out) const;
    void setAnalysisType(EAnalysisType type) { m_analysisType = type; }
    EAnalysisType analysisType() const { return m_analysisType; }

    void compute();

    unsigned int countCollisions() const { return static_cast<unsigned int>(m_collisions.size()); }
    void getCollision(unsigned int i, boost::shared_ptr<CtvxCollision>& out) const { out = m_collisions[i]; }
    unsigned int countDistances() const { return static_cast<unsigned int>(m_distances.size()); }
    void getDistance(unsigned int i, boost::shared_ptr<CtvxDistance>& out) const { out = m_distances[i]; }
    void addCollision(boost::shared_ptr<CtvxCollision> const& c) { m_collisions.push_back(c); }
    void addDistance(boost::shared_ptr<CtvxDistance> const& d) { m_distances.push_back(d); }
    void clearResults();

    // Number of compute() calls, by all analyses, since the last reset.
    static unsigned int getCollisionCount() { return s_collisionCount; }
    static void resetCollisionCount() { s_collisionCount = 0; }

protected:
    CtvxAnalysis();
    void init();
    void invariant() const {}

private:
    typedef boost::shared_ptr<CtvxObject> ObjectPtr;
    typedef boost::shared_ptr<CtvxCollision> CollisionPtr;
    typedef boost::shared_ptr<CtvxDistance> DistancePtr;

    void computeForPair(ObjectPtr& o1, ObjectPtr& o2, float& bound, bool& stopAll);
    void computeRecurse(ObjectPtr& o1, ObjectPtr& o2, ObjectPtr const& top1, ObjectPtr const& top2, bool& collided,
                        CollisionPtr& collision, bool& distanceFound, DistancePtr& distance, bool& stop);
    void computeAssemblyChildrenVSObj(boost::shared_ptr<CtvxAssembly>& a1, ObjectPtr& o2, ObjectPtr const& top1,
                                      ObjectPtr const& top2, bool& collided, CollisionPtr& collision,
                                      bool& distanceFound, DistancePtr& distance, bool& stop);
    void computeObjVSAssemblyChildren(ObjectPtr& o1, boost::shared_ptr<CtvxAssembly>& a2, ObjectPtr const& top1,
                                      ObjectPtr const& top2, bool& collided, CollisionPtr& collision,
                                      bool& distanceFound, DistancePtr& distance, bool& stop);
    void computePolyVSPoly(boost::shared_ptr<CtvxPoly>& p1, boost::shared_ptr<CtvxPoly>& p2, bool& collided,
                           CollisionPtr& collision, bool& distanceFound, DistancePtr& distance, bool& stop);
    void analyseObbs(boost::shared_ptr<CtvxAssembly>& a1, boost::shared_ptr<CtvxAssembly>& a2, bool& analyse,
                     bool& splitFirst, bool& distanceSet, DistancePtr& d) const;
    void analyseObbs(boost::shared_ptr<CtvxGeometry>& g, boost::shared_ptr<CtvxAssembly>& a, bool& analyse,
                     bool& distanceSet, DistancePtr& d) const;
    void analyseObbs(boost::shared_ptr<CtvxGeometry>& g1, boost::shared_ptr<CtvxGeometry>& g2, bool& analyse,
                     bool& distanceSet, DistancePtr& d) const;
    // Shared tail of the three analyseObbs: the box test and its outcome.
    bool boxesNeedDescent(ObjectPtr const& o1, ObjectPtr const& o2, bool& distanceSet, DistancePtr& d) const;
    int obbOverlapp(ObjectPtr const& o1, ObjectPtr const& o2, bool distanceMode, float& bound) const;
    int getPrioritaryObjects(boost::shared_ptr<CtvxCollisionList> const& l1,
                             boost::shared_ptr<CtvxCollisionList> const& l2, ObjectPtr& o1, unsigned int& rank1,
                             ObjectPtr& o2, unsigned int& rank2) const;
    void computePrioritaryObjectPair();
    void sortDistancesVector();

    boost::shared_ptr<CtvxCollisionList> m_collisionList1;
    boost::shared_ptr<CtvxCollisionList> m_collisionList2;
    EAnalysisType m_analysisType;
    std::vector<DistancePtr> m_distances;
    std::vector<CollisionPtr> m_collisions;
    boost::weak_ptr<CtvxObject> m_lastObject1;
    boost::weak_ptr<CtvxObject> m_lastObject2;
    std::vector<std::pair<boost::weak_ptr<CtvxObject>, boost::weak_ptr<CtvxObject>>> m_prioritaryPairs;

    static unsigned int s_collisionCount;
};
