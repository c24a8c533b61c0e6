#pragma once

#include <wdn/wdnExport.h>

#include <boost/shared_ptr.hpp>
#include <boost/weak_ptr.hpp>

class CwdnConfig;
class CwdnDevice;
class CwdnPath;
class CwdnRdmBuilderDelegate;
class CwdnRoadmap;

// A probabilistic roadmap planner for one device.
//
// solveProblem(start, goal, path) grows the roadmap (random collision-free
// nodes joined to their nearest neighbours by certified direct paths, with
// random bounce walks from poorly connected nodes) until start and goal are
// in one connected component, then returns the shortest roadmap path. The
// roadmap is kept between solves, so later queries on the same geometry are
// cheap; clear it (roadmap()->clear()) after changing the geometry. The
// start and goal nodes are reused while the same start and goal are asked
// for; resetStartNodes() and resetGoalNodes() force new ones.
//
// Everything runs on the caller's thread, and a seed makes runs repeatable:
// a roadmap built from scratch with the same seed, device and queries is the
// same node for node. A solve always ends: on success, when the delegate
// stops it, or when it has added maxNodes() nodes or drawn maxSamples()
// samples (or spent maxTime() seconds, when set) during this call.
//
// difficulty() is the number of consecutive sampled nodes that neither
// started a new connected component nor merged two: the roadmap has stopped
// changing its connectivity while start and goal are still apart. Roughly,
// a roadmap at difficulty n covers 1 - 1/n of the free space, so a delegate
// can give up on a search once it passes a threshold.
class WDN_API CwdnRoadmapBuilder {
public:
    enum ESampler { UNIFORM = 0, BRIDGE_TEST = 1 };
    // Result codes of solveProblem besides 0.
    enum EResult {
        NO_PATH = -1,        // a bound was reached
        STOPPED = -2,        // the delegate stopped the search
        INVALID_PROBLEM = -3 // start or goal collides, is out of bounds or of another device
    };

    static boost::shared_ptr<CwdnRoadmapBuilder> create(boost::shared_ptr<CwdnDevice> const& device);

    CwdnRoadmapBuilder(CwdnRoadmapBuilder const&) = delete;
    CwdnRoadmapBuilder& operator=(CwdnRoadmapBuilder const&) = delete;
    virtual ~CwdnRoadmapBuilder();

    boost::shared_ptr<CwdnDevice> device() const { return m_device; }
    CwdnRdmBuilderDelegate* delegate() const { return m_delegate; }
    void delegate(CwdnRdmBuilderDelegate* d) { m_delegate = d; }

    // 0 and path = a new path from start to goal, or a code of EResult
    // (path untouched). A delegate may clear the roadmap from inside a
    // solve: that takes effect when the solve returns. A solve started from
    // inside another one is refused (INVALID_PROBLEM).
    int solveProblem(CwdnConfig const& start, CwdnConfig const& goal, boost::shared_ptr<CwdnPath>& path);

    boost::shared_ptr<CwdnRoadmap> roadmap() const { return m_roadmap; }
    void resetStartNodes();
    void resetGoalNodes();
    double difficulty() const { return m_difficulty; }

    // Settings. The seed and the sampler apply from the next roadmap built
    // from scratch (at the first solve, and after each clear()).
    unsigned long seed() const { return m_seed; }
    void seed(unsigned long s) { m_seed = s; }
    ESampler sampler() const { return m_sampler; }
    void sampler(ESampler s) { m_sampler = s; }
    unsigned int maxNodes() const { return m_maxNodes; }
    void maxNodes(unsigned int n) { m_maxNodes = n; }
    unsigned int maxSamples() const { return m_maxSamples; }
    void maxSamples(unsigned int n) { m_maxSamples = n; }
    // Seconds; 0 (the default) sets no time bound, which keeps runs
    // repeatable.
    double maxTime() const { return m_maxTime; }
    void maxTime(double s) { m_maxTime = s; }

    // Work of the last solve: samples drawn and nodes added.
    unsigned int lastSamples() const { return m_lastSamples; }
    unsigned int lastNodes() const { return m_lastNodes; }

protected:
    CwdnRoadmapBuilder();

private:
    friend class CwdnRoadmap;
    struct Engine;
    void invariant() const {}
    void roadmapCleared();
    int search(CwdnConfig const& start, CwdnConfig const& goal, boost::shared_ptr<CwdnPath>& path);

    boost::weak_ptr<CwdnRoadmapBuilder> m_self;
    boost::shared_ptr<CwdnDevice> m_device;
    CwdnRdmBuilderDelegate* m_delegate = nullptr;
    boost::shared_ptr<CwdnRoadmap> m_roadmap;
    boost::shared_ptr<Engine> m_engine;
    double m_difficulty = 0.0;
    unsigned long m_seed = 1;
    ESampler m_sampler = UNIFORM;
    unsigned int m_maxNodes = 10000;
    unsigned int m_maxSamples = 100000;
    double m_maxTime = 0.0;
    unsigned int m_lastSamples = 0;
    unsigned int m_lastNodes = 0;
    bool m_isSolving = false;
    bool m_clearPending = false;
};
