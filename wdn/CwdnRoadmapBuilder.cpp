#include <wdn/CwdnRoadmapBuilder.h>
#include <wdn/CwdnConfig.h>
#include <wdn/CwdnDevice.h>
#include <wdn/CwdnDirectPath.h>
#include <wdn/CwdnEdge.h>
#include <wdn/CwdnNode.h>
#include <wdn/CwdnPath.h>
#include <wdn/CwdnRdmBuilderDelegate.h>
#include <wdn/CwdnRoadmap.h>
#include <wdn/CwdnSpace.h>
#include <wdn/CwdnSteeringMethod.h>
#include <wdn/CwdnRandom.h>

#include <ompl/base/ProblemDefinition.h>
#include <ompl/base/samplers/BridgeTestValidStateSampler.h>
#include <ompl/geometric/PathGeometric.h>
#include <ompl/geometric/planners/prm/PRM.h>
#include <ompl/util/Exception.h>

#include <chrono>
#include <cstdint>

namespace ob = ompl::base;
namespace og = ompl::geometric;

namespace {

// PRM with its building blocks opened up. The stock solve() runs a second
// thread that checks for a solution and may itself add milestones, so
// checks would run concurrently and runs could not be repeated; the builder
// drives these blocks itself, on the caller's thread, and reports every node
// and edge as it appears.
class NotifyingPRM : public og::PRM {
public:
    explicit NotifyingPRM(ob::SpaceInformationPtr const& si) : og::PRM(si) {}

    using og::PRM::Vertex;

    Vertex addNode(ob::State* owned) { return addMilestone(owned); }
    bool connected(Vertex a, Vertex b) { return sameComponent(a, b); }
    // One random bounce walk from a poorly connected node.
    void expandOnce(std::vector<ob::State*>& work)
    {
        int budget = 1;
        ob::PlannerTerminationCondition once([&budget] { return budget-- <= 0; });
        expandRoadmap(once, work);
    }
    ob::PathPtr solution(Vertex start, Vertex goal) { return constructSolution(start, goal); }
    Graph const& graph() const { return g_; }
    ob::State* stateOf(Vertex v) const { return stateProperty_[v]; }
    double weightOf(Edge e) const { return weightProperty_[e].value(); }
    std::vector<Vertex>& startNodes() { return startM_; }
    std::vector<Vertex>& goalNodes() { return goalM_; }
    ob::StateSamplerPtr& uniformSampler() { return simpleSampler_; }
    ob::ValidStateSamplerPtr& validSampler() { return sampler_; }
    void seedOwnGenerator(std::uint_fast32_t s) { rng_.setLocalSeed(s); }
};

} // namespace

struct CwdnRoadmapBuilder::Engine {
    boost::shared_ptr<CwdnSpace> space;
    ob::SpaceInformationPtr si;
    std::shared_ptr<NotifyingPRM> prm;
    ob::ProblemDefinitionPtr pdef;
    ob::State* work = nullptr;
    std::vector<ob::State*> bounce;
    // Connected components of the roadmap, fed by the node and edge reports.
    std::vector<unsigned int> ufParent;
    unsigned int components = 0;
    CwdnConfig startConfig;
    CwdnConfig goalConfig;

    ~Engine()
    {
        if (prm) {
            prm->clear();
        }
        if (work != nullptr) {
            si->freeState(work);
        }
        if (!bounce.empty()) {
            si->freeStates(bounce);
        }
    }

    unsigned int find(unsigned int v)
    {
        while (ufParent[v] != v) {
            ufParent[v] = ufParent[ufParent[v]];
            v = ufParent[v];
        }
        return v;
    }

    void configOf(ob::State const* s, boost::shared_ptr<CwdnDevice> const& device, CwdnConfig& out)
    {
        out = CwdnConfig(device);
        space->fromState(s, out.data());
    }

    // Reports the vertices from `from` on, each followed by its edges to
    // older vertices; every edge created since the last report has such an
    // end, so each is reported once, after both of its nodes.
    void report(CwdnRoadmapBuilder& b, std::size_t from)
    {
        boost::shared_ptr<CwdnRoadmapBuilder const> const self = b.m_self.lock();
        CwdnRoadmap& rm = *b.m_roadmap;
        auto const& g = prm->graph();
        std::size_t const n = boost::num_vertices(g);
        for (std::size_t v = from; v < n; ++v) {
            CwdnConfig c;
            configOf(prm->stateOf(v), b.m_device, c);
            boost::shared_ptr<CwdnNode const> const node(new CwdnNode(static_cast<unsigned int>(v), c));
            rm.m_nodes.push_back(node);
            ufParent.push_back(static_cast<unsigned int>(v));
            ++components;
            ++b.m_lastNodes;
            if (b.m_delegate != nullptr) {
                b.m_delegate->didAddNode(self, node);
            }
            auto range = boost::out_edges(v, g);
            for (auto it = range.first; it != range.second; ++it) {
                std::size_t const u = boost::target(*it, g);
                if (u >= v) {
                    continue;
                }
                unsigned int const ru = find(static_cast<unsigned int>(u));
                unsigned int const rv = find(static_cast<unsigned int>(v));
                if (ru != rv) {
                    ufParent[rv] = ru;
                    --components;
                }
                boost::shared_ptr<CwdnEdge const> const edge(
                    new CwdnEdge(rm.m_nodes[u], rm.m_nodes[v], prm->weightOf(*it)));
                rm.m_edges.push_back(edge);
                if (b.m_delegate != nullptr) {
                    b.m_delegate->didAddEdge(self, edge);
                }
            }
        }
    }

    NotifyingPRM::Vertex addNode(CwdnRoadmapBuilder& b, ob::State const* s)
    {
        std::size_t const before = boost::num_vertices(prm->graph());
        NotifyingPRM::Vertex const v = prm->addNode(si->cloneState(s));
        report(b, before);
        return v;
    }
};

CwdnRoadmapBuilder::CwdnRoadmapBuilder() = default;

CwdnRoadmapBuilder::~CwdnRoadmapBuilder() = default;

boost::shared_ptr<CwdnRoadmapBuilder> CwdnRoadmapBuilder::create(boost::shared_ptr<CwdnDevice> const& device)
{
    if (!device) {
        return boost::shared_ptr<CwdnRoadmapBuilder>();
    }
    boost::shared_ptr<CwdnRoadmapBuilder> b(new CwdnRoadmapBuilder());
    b->m_self = b;
    b->m_device = device;
    b->m_roadmap.reset(new CwdnRoadmap());
    b->m_roadmap->m_builder = b;
    return b;
}

void CwdnRoadmapBuilder::roadmapCleared()
{
    // The engine holds the graph; a new one is made, freshly seeded, at the
    // next solve.
    m_engine.reset();
    m_difficulty = 0.0;
}

void CwdnRoadmapBuilder::resetStartNodes()
{
    if (m_engine) {
        m_engine->prm->startNodes().clear();
        m_engine->startConfig = CwdnConfig();
    }
}

void CwdnRoadmapBuilder::resetGoalNodes()
{
    if (m_engine) {
        m_engine->prm->goalNodes().clear();
        m_engine->goalConfig = CwdnConfig();
    }
}

int CwdnRoadmapBuilder::solveProblem(CwdnConfig const& start, CwdnConfig const& goal,
                                     boost::shared_ptr<CwdnPath>& path)
{
    if (m_isSolving) {
        return INVALID_PROBLEM;
    }
    boost::shared_ptr<CwdnRoadmapBuilder const> const self = m_self.lock();
    CwdnRdmBuilderDelegate* const d = m_delegate;
    m_isSolving = true;
    if (d != nullptr) {
        d->willStartBuilding(self, path);
    }
    int const result = search(start, goal, path);
    if (d != nullptr) {
        d->didFinishBuilding(self, path, result);
    }
    m_isSolving = false;
    if (m_clearPending) {
        m_clearPending = false;
        m_roadmap->clear();
    }
    return result;
}

int CwdnRoadmapBuilder::search(CwdnConfig const& start, CwdnConfig const& goal, boost::shared_ptr<CwdnPath>& path)
{
    m_difficulty = 0.0;
    m_lastSamples = 0;
    m_lastNodes = 0;
    unsigned int const size = m_device->configSize();
    if (start.device() != m_device || goal.device() != m_device || start.size() != size || goal.size() != size ||
        size == 0) {
        return INVALID_PROBLEM;
    }
    boost::shared_ptr<CwdnSpace> const space = m_device->space();
    space->beginQueries();
    if (!m_engine || m_engine->space != space) {
        m_roadmap->m_nodes.clear();
        m_roadmap->m_edges.clear();
        m_engine.reset(new Engine());
        Engine& e = *m_engine;
        e.space = space;
        e.si = space->si();
        cwdnReseed(m_seed);
        e.prm = std::make_shared<NotifyingPRM>(e.si);
        e.pdef = std::make_shared<ob::ProblemDefinition>(e.si);
        e.prm->setProblemDefinition(e.pdef);
        e.prm->setup();
        e.prm->seedOwnGenerator(cwdnSeed32(m_seed));
        e.prm->uniformSampler() = e.si->allocStateSampler();
        if (m_sampler == BRIDGE_TEST) {
            e.prm->validSampler() = std::make_shared<ob::BridgeTestValidStateSampler>(e.si.get());
        }
        e.work = e.si->allocState();
        // Longest bounce walk of the expansion step, as PRM itself uses.
        e.bounce.resize(5);
        e.si->allocStates(e.bounce);
    }
    Engine& e = *m_engine;
    NotifyingPRM& prm = *e.prm;

    space->toState(start.data(), e.work);
    if (!e.si->isValid(e.work)) {
        return INVALID_PROBLEM;
    }
    if (prm.startNodes().empty() || !e.startConfig.isEqual(start, 0.0)) {
        prm.startNodes().assign(1, e.addNode(*this, e.work));
        e.startConfig = start;
    }
    space->toState(goal.data(), e.work);
    if (!e.si->isValid(e.work)) {
        return INVALID_PROBLEM;
    }
    if (prm.goalNodes().empty() || !e.goalConfig.isEqual(goal, 0.0)) {
        prm.goalNodes().assign(1, e.addNode(*this, e.work));
        e.goalConfig = goal;
    }
    // The start and goal nodes themselves are not part of the search work.
    m_lastNodes = 0;
    NotifyingPRM::Vertex const sv = prm.startNodes().front();
    NotifyingPRM::Vertex const gv = prm.goalNodes().front();

    boost::shared_ptr<CwdnRoadmapBuilder const> const self = m_self.lock();
    auto const began = std::chrono::steady_clock::now();
    unsigned long iteration = 0;
    for (;;) {
        if (prm.connected(sv, gv)) {
            break;
        }
        if (m_delegate != nullptr && m_delegate->shouldStopBuilding(self)) {
            return STOPPED;
        }
        if (m_lastNodes >= m_maxNodes || m_lastSamples >= m_maxSamples) {
            return NO_PATH;
        }
        if (m_maxTime > 0.0 &&
            std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count() >= m_maxTime) {
            return NO_PATH;
        }
        ++iteration;
        ++m_lastSamples;
        std::size_t const before = boost::num_vertices(prm.graph());
        unsigned int const componentsBefore = e.components;
        // Two samples for one bounce walk, as the stock PRM balances them.
        if (iteration % 3 == 0) {
            try {
                prm.expandOnce(e.bounce);
            } catch (ompl::Exception const&) {
                // An empty weight table; nothing was added.
            }
            e.report(*this, before);
            if (e.components != componentsBefore) {
                m_difficulty = 0.0;
            }
            continue;
        }
        CwdnConfig candidate;
        if (m_sampler == BRIDGE_TEST) {
            if (!prm.validSampler()->sample(e.work)) {
                continue;
            }
            e.configOf(e.work, m_device, candidate);
            if (m_delegate != nullptr && !m_delegate->shouldExploreTowards(self, candidate)) {
                continue;
            }
        } else {
            prm.uniformSampler()->sampleUniform(e.work);
            e.configOf(e.work, m_device, candidate);
            if (m_delegate != nullptr && !m_delegate->shouldExploreTowards(self, candidate)) {
                continue;
            }
            if (!e.si->isValid(e.work)) {
                continue;
            }
        }
        e.addNode(*this, e.work);
        m_difficulty = e.components == componentsBefore ? m_difficulty + 1.0 : 0.0;
    }

    ob::PathPtr solution;
    try {
        solution = prm.solution(sv, gv);
    } catch (ompl::Exception const&) {
        return NO_PATH;
    }
    auto const& geometric = static_cast<og::PathGeometric const&>(*solution);
    boost::shared_ptr<CwdnPath> result = CwdnPath::create(m_device);
    boost::shared_ptr<CwdnSteeringMethod> const steering = m_device->steeringMethod();
    CwdnConfig previous;
    e.configOf(geometric.getState(0), m_device, previous);
    for (std::size_t i = 1; i < geometric.getStateCount(); ++i) {
        CwdnConfig next;
        e.configOf(geometric.getState(i), m_device, next);
        if (result->appendDirectPath(steering->makeDirectPath(previous, next)) != 0) {
            return NO_PATH;
        }
        previous = next;
    }
    path = result;
    return 0;
}

CwdnRoadmap::CwdnRoadmap() = default;
CwdnRoadmap::~CwdnRoadmap() = default;

void CwdnRoadmap::clear()
{
    boost::shared_ptr<CwdnRoadmapBuilder> const b = m_builder.lock();
    if (b && b->m_isSolving) {
        // The solve in progress still walks the graph and these lists.
        b->m_clearPending = true;
        return;
    }
    m_nodes.clear();
    m_edges.clear();
    if (b) {
        b->roadmapCleared();
    }
}
