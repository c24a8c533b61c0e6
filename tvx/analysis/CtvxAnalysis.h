#pragma once

#include <tvx/tvxExport.h>

#include <qar/CqarMat4.h>

#include <boost/shared_ptr.hpp>
#include <boost/weak_ptr.hpp>

#include <atomic>
#include <string>
#include <utility>
#include <vector>

class CtvxAssembly;
class CtvxCollision;
class CtvxCollisionList;
class CtvxDistance;
class CtvxGeometry;
class CtvxObject;
class CtvxPoly;
struct CtvxPolyOwner;
struct CtvxQueryScratch;
class CtvxVirtualPolyhedron;

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
//
// A pair that cannot be examined never reads as "no contact": when a query
// meets activated geometry with triangles but without a usable OBB tree (a
// polyhedron never made a collision entity, or whose tree was refused for
// bad triangles), it logs one message through CqarLogManager naming the
// first such object and its place in the lists, and isComplete() answers
// false until the next compute(); getSkippedObject() names them all. A
// contact reported by an incomplete query is real; the absence of contact,
// and a distance, may not be. Trees made stale by points or triangles added
// to their meshes are rebuilt before they are used, and assemblies may be
// nested to any depth (the descent runs on a stack kept by the analysis).
//
// Lists of many objects go through a broad phase: the analysis keeps the
// world boxes of the listed objects between computes (re-reading only the
// objects that moved or changed, rebuilding when a list changed) and passes
// over the object pairs that are too far apart to leave any result, hint or
// prioritary branch. The answers, their order and what the scene keeps are
// those of examining every pair. The same list given as both lists is
// examined pair by ordered pair, so that two objects in contact give two
// results (a-b, then b-a in ALL_COLLISIONS); setEachPairOnce(true) examines
// each unordered pair once instead (a-b, with a before b in the list).
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
    // Off by default. When on and list 1 is list 2 (the same list object),
    // each unordered pair of entries is examined once, as (i, j) with i < j,
    // instead of once in each order: a contact gives one result, not two.
    // Lists that are different objects are examined pair by ordered pair
    // whatever objects they share.
    void setEachPairOnce(bool on) { m_eachPairOnce = on; }
    bool eachPairOnce() const { return m_eachPairOnce; }
    // Off by default. When on, ALL_COLLISIONS gives one result per object
    // pair in contact, as before, but with one triangle pair only: the first
    // that a first-contact query of that object pair alone would report.
    // For hosts that want which objects touch rather than every triangle
    // pair in contact; the other query types ignore it.
    void setOneContactPerPair(bool on) { m_oneContactPerPair = on; }
    bool oneContactPerPair() const { return m_oneContactPerPair; }

    void compute();

    unsigned int countCollisions() const { return static_cast<unsigned int>(m_collisions.size()); }
    // out is emptied for an index past the end.
    void getCollision(unsigned int i, boost::shared_ptr<CtvxCollision>& out) const
    {
        out = i < m_collisions.size() ? m_collisions[i] : CollisionPtr();
    }
    unsigned int countDistances() const { return static_cast<unsigned int>(m_distances.size()); }
    void getDistance(unsigned int i, boost::shared_ptr<CtvxDistance>& out) const
    {
        out = i < m_distances.size() ? m_distances[i] : DistancePtr();
    }
    void addCollision(boost::shared_ptr<CtvxCollision> const& c) { m_collisions.push_back(c); }
    void addDistance(boost::shared_ptr<CtvxDistance> const& d) { m_distances.push_back(d); }
    void clearResults();

    // Whether the last compute() examined every pair it had to: false when
    // it skipped pairs with geometry that has triangles but no usable OBB
    // tree (see above). True before the first compute().
    bool isComplete() const { return m_skipped.empty(); }
    // The objects whose pairs the last compute() skipped, in the order met:
    // a polyhedron, or a regrouped assembly whose group has no tree. 0 and
    // the object, or -1 and an empty pointer (past the end, or destroyed).
    unsigned int countSkippedObjects() const { return static_cast<unsigned int>(m_skipped.size()); }
    int getSkippedObject(unsigned int i, boost::shared_ptr<CtvxObject>& out) const;

    // Number of compute() calls, by all analyses, since the last reset.
    // Analyses of separate scenes may run in several threads at once (the
    // batch engine does), so the one counter they all bump is atomic.
    static unsigned int getCollisionCount() { return s_collisionCount.load(std::memory_order_relaxed); }
    static void resetCollisionCount() { s_collisionCount.store(0, std::memory_order_relaxed); }

    // The working memory of this analysis's queries: the step stacks and box
    // placement caches of its tree descents (kept between queries, so that a
    // query allocates nothing once its deepest pair of trees has been seen),
    // the order its descents take, and the box and triangle test counts of
    // its last compute(). The type is internal to the library (benchmarks
    // and tests reach it through its internal headers); to a host it is an
    // opaque handle. Made on first use, never shared with a copy.
    CtvxQueryScratch& queryScratch() const;

protected:
    CtvxAnalysis();
    void init();
    void invariant() const {}

private:
    typedef boost::shared_ptr<CtvxObject> ObjectPtr;
    typedef boost::shared_ptr<CtvxCollision> CollisionPtr;
    typedef boost::shared_ptr<CtvxDistance> DistancePtr;

    // What the descent of one object pair carries: the flags raised so far
    // and the two results that every poly pair of the object pair fills.
    struct PairState {
        bool collided = false;      // contact was found
        bool distanceFound = false; // the distance result was lowered
        bool stop = false;          // end the descent
        CollisionPtr* collision = nullptr;
        DistancePtr* distance = nullptr;
    };

    // A result pair that a pair left empty is reset and serves the next pair
    // instead of being freed: a query whose pairs find nothing allocates
    // nothing. Copying an analysis must not copy these, or two analyses
    // would fill (and hand out) the same objects.
    struct SpareResults {
        CollisionPtr collision;
        DistancePtr distance;
        SpareResults() = default;
        SpareResults(SpareResults const&) {}
        SpareResults& operator=(SpareResults const&) { return *this; }
    };

    // An assembly being split during the descent of one object pair: its
    // children, the prioritary one first, are paired in turn with the other
    // object (as first of the pair when assemblyFirst).
    struct DescentStep {
        CtvxAssembly* assembly;
        ObjectPtr const* other;
        bool assemblyFirst;
        int next; // -1: the prioritary child is still to be tried
    };

    // The pairs after the remembered one: every pair of list 1 x list 2 in
    // list order, or the broad phase's candidates in the same order.
    void examineAllPairs(CtvxCollisionList const& l1, CtvxCollisionList const& l2, bool once, int r1, int r2,
                         float& bound, bool& stopAll);
    void examineCandidates(CtvxCollisionList const& l1, CtvxCollisionList const& l2, bool once, int r1, int r2,
                           float& bound, bool& stopAll);
    // The objects are held by the lists and assemblies that name them for
    // the whole query, so the descent passes references to those owners.
    void computeForPair(ObjectPtr const& o1, ObjectPtr const& o2, float& bound, bool& stopAll);
    // The descent of one object pair below its first split, depth first on
    // m_descent.
    void computeRecurse(DescentStep const& first, PairState& state);
    // One pair of the descent: true when an assembly of it must be split,
    // described in split.
    bool examinePair(ObjectPtr const& o1, ObjectPtr const& o2, PairState& state, DescentStep& split);
    // A pair of two triangle sets (a polyhedron, v, or a regrouped
    // assembly's group, a): their pair analysis, once each tree is fresh, or
    // the note that it was skipped.
    void examinePolys(ObjectPtr const& o1, CtvxVirtualPolyhedron* v1, CtvxAssembly* a1, ObjectPtr const& o2,
                      CtvxVirtualPolyhedron* v2, CtvxAssembly* a2, PairState& state);
    // The next child to pair, or null when the assembly is done.
    static ObjectPtr const* nextChild(DescentStep& step);
    // Rebuilds a stale tree of the object's poly before the pair analysis
    // reads it.
    void refreshTree(CtvxObject* o, CtvxVirtualPolyhedron* v, CtvxAssembly* a) const;
    // Notes that the pairs of holder (on side 1 or 2 of the object pair) are
    // not examined: holder itself when it has a poly, else every poly below
    // it without a usable tree.
    void noteSkipped(CtvxObject* holder, int side);
    void noteSkippedPoly(CtvxObject* owner, int side);
    void computePolyVSPoly(CtvxPolyOwner const& p1, CtvxPolyOwner const& p2, PairState& state);
    void analyseObbs(CtvxAssembly* a1, CtvxAssembly* a2, bool& analyse, bool& splitFirst, bool& distanceSet,
                     CtvxDistance& d) const;
    void analyseObbs(CtvxGeometry* g, CtvxAssembly* a, bool& analyse, bool& distanceSet, CtvxDistance& d) const;
    void analyseObbs(CtvxGeometry* g1, CtvxGeometry* g2, bool& analyse, bool& distanceSet, CtvxDistance& d) const;
    // Shared tail of the three analyseObbs: the box test and its outcome.
    bool boxesNeedDescent(CtvxObject* o1, CtvxObject* o2, bool& distanceSet, CtvxDistance& d) const;
    int obbOverlapp(CtvxObject* o1, CtvxObject* o2, bool distanceMode, float& bound) const;
    // computeObb, dropping the kept box frame.
    void refreshObb(CtvxObject* o) const;
    int getPrioritaryObjects(CtvxCollisionList const& l1, CtvxCollisionList const& l2, ObjectPtr& o1,
                             unsigned int& rank1, ObjectPtr& o2, unsigned int& rank2) const;
    void computePrioritaryObjectPair();
    void sortDistancesVector();

    boost::shared_ptr<CtvxCollisionList> m_collisionList1;
    boost::shared_ptr<CtvxCollisionList> m_collisionList2;
    EAnalysisType m_analysisType;
    bool m_eachPairOnce = false;
    bool m_oneContactPerPair = false;
    std::vector<DistancePtr> m_distances;
    std::vector<CollisionPtr> m_collisions;
    // The two polys of the last poly pair that was found in contact or that
    // lowered the distance, during the object pair being analysed; their
    // owning objects become the prioritary branches of their assemblies.
    // Plain pointers: the polys live at least as long as the query.
    CtvxPoly* m_lastPoly1 = nullptr;
    CtvxPoly* m_lastPoly2 = nullptr;
    std::vector<std::pair<boost::weak_ptr<CtvxObject>, boost::weak_ptr<CtvxObject>>> m_prioritaryPairs;
    SpareResults m_spare;
    // The scratch: each analysis has its own, so a copy starts without one.
    struct ScratchHolder {
        boost::shared_ptr<CtvxQueryScratch> scratch;
        ScratchHolder() = default;
        ScratchHolder(ScratchHolder const&) {}
        ScratchHolder& operator=(ScratchHolder const&) { return *this; }
    };
    mutable ScratchHolder m_scratch;
    // Box 1's frame seen from the world, E1^-1 * A1^-1, of the object last
    // passed first to obbOverlapp. A descent tests one object against each
    // child of the other in turn, and that object comes first, so it is
    // kept. Valid for one query: placements do not change during a query,
    // and a box recomputed during it drops the entry.
    mutable CtvxObject const* m_boxFrameOwner = nullptr;
    mutable CqarMat4 m_boxFrameInverse;

    // The descent's stack, kept between queries so that descending
    // allocates nothing once it has reached the scene's depth. Empty between
    // queries (copying an analysis copies no state of a query).
    std::vector<DescentStep> m_descent;
    // Objects of the last compute() whose pairs were skipped, and where the
    // object pair at hand stands in the lists (to name them in the log).
    std::vector<boost::weak_ptr<CtvxObject>> m_skipped;
    std::string m_skipMessage;
    CtvxObject const* m_pairObject1 = nullptr;
    CtvxObject const* m_pairObject2 = nullptr;
    unsigned int m_pairRank1 = 0;
    unsigned int m_pairRank2 = 0;
    static std::atomic<unsigned int> s_collisionCount;
};
