#include <tests/support/PlannerFixtures.h>
#include <tests/support/Random.h>

#include <wdn/CwdnConfig.h>
#include <wdn/CwdnConfigExtractor.h>
#include <wdn/CwdnDevice.h>
#include <wdn/CwdnDirectPath.h>
#include <wdn/CwdnEdge.h>
#include <wdn/CwdnJoint.h>
#include <wdn/CwdnNode.h>
#include <wdn/CwdnPath.h>
#include <wdn/CwdnPathOptimizer.h>
#include <wdn/CwdnRdmBuilderDelegate.h>
#include <wdn/CwdnRoadmap.h>
#include <wdn/CwdnRoadmapBuilder.h>
#include <wdn/CwdnSteeringMethod.h>

#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>
#include <vector>

using tvxtest::AnalyticObstacles;
using tvxtest::SpheresBody;

namespace {

// Writes down every notification, and checks as it goes that each edge
// joins two nodes already announced.
class Recorder : public CwdnRdmBuilderDelegate {
public:
    std::vector<std::string> events;
    std::set<CwdnNode const*> nodes;
    unsigned int nodeCount = 0, edgeCount = 0, stopPolls = 0, exploreAsks = 0;
    bool edgeBeforeNode = false;
    bool explore = true;
    unsigned int stopAfterPolls = 0; // 0: never
    boost::shared_ptr<CwdnRoadmapBuilder const> seenBuilder;

    void willStartBuilding(boost::shared_ptr<CwdnRoadmapBuilder const> const& b, boost::shared_ptr<CwdnPath>&) override
    {
        seenBuilder = b;
        events.push_back("start");
    }
    void didFinishBuilding(boost::shared_ptr<CwdnRoadmapBuilder const> const&, boost::shared_ptr<CwdnPath>&,
                           int r) override
    {
        events.push_back("finish " + std::to_string(r));
    }
    bool shouldStopBuilding(boost::shared_ptr<CwdnRoadmapBuilder const> const&) override
    {
        ++stopPolls;
        return stopAfterPolls != 0 && stopPolls >= stopAfterPolls;
    }
    bool shouldExploreTowards(boost::shared_ptr<CwdnRoadmapBuilder const> const&, CwdnConfig const&) override
    {
        ++exploreAsks;
        return explore;
    }
    void didAddNode(boost::shared_ptr<CwdnRoadmapBuilder const> const&,
                    boost::shared_ptr<CwdnNode const> const& n) override
    {
        ++nodeCount;
        nodes.insert(n.get());
    }
    void didAddEdge(boost::shared_ptr<CwdnRoadmapBuilder const> const&,
                    boost::shared_ptr<CwdnEdge const> const& e) override
    {
        ++edgeCount;
        if (nodes.count(e->node1().get()) == 0 || nodes.count(e->node2().get()) == 0) {
            edgeBeforeNode = true;
        }
    }
};

struct RodScene {
    boost::shared_ptr<CwdnDevice> device;
    CwdnConfig start, goal;
};

// A rod longer than the hole is wide, across the wall: it has to turn to
// pass.
RodScene rodThroughHole(double hole)
{
    RodScene s;
    s.device = tvxtest::makeFreeFlyerRod(1.5, 0.15, 3.0, tvxtest::makeWallWithHole(hole, 3.0));
    s.start = tvxtest::flyerConfig(s.device, -1.5, 0.3, 0.0, M_PI / 2);
    s.goal = tvxtest::flyerConfig(s.device, 1.5, -0.3, 0.2, M_PI / 2);
    return s;
}

void expectEndsAndContinuity(CwdnPath const& p, CwdnConfig const& start, CwdnConfig const& goal)
{
    CwdnConfig c;
    ASSERT_EQ(0, p.getStart(c));
    EXPECT_TRUE(c.isEqual(start, 0.0));
    ASSERT_EQ(0, p.getEnd(c));
    EXPECT_TRUE(c.isEqual(goal, 0.0));
    for (unsigned int i = 1; i < p.countDirectPaths(); ++i) {
        EXPECT_TRUE(p.directPath(i - 1)->end().isEqual(p.directPath(i)->start(), 0.0));
    }
}

} // namespace

// A free flyer through a hole, with both samplers: the path joins the exact
// start and goal and is free when re-checked densely.
TEST(WdnRoadmapBuilder, FreeFlyerPassesThroughAHole)
{
    for (CwdnRoadmapBuilder::ESampler sampler : {CwdnRoadmapBuilder::UNIFORM, CwdnRoadmapBuilder::BRIDGE_TEST}) {
        RodScene s = rodThroughHole(0.75);
        boost::shared_ptr<CwdnRoadmapBuilder> b = CwdnRoadmapBuilder::create(s.device);
        b->sampler(sampler);
        b->seed(3);
        boost::shared_ptr<CwdnPath> path = CwdnPath::create(s.device);
        ASSERT_EQ(0, b->solveProblem(s.start, s.goal, path)) << "sampler " << sampler;
        expectEndsAndContinuity(*path, s.start, s.goal);
        EXPECT_LT(tvxtest::firstCollisionAlong(*path, 2e-3), 0.0) << "sampler " << sampler;
        EXPECT_GT(b->roadmap()->countNodes(), 2u);
    }
}

// A planar arm of three links swings from one side of two posts to the
// other.
TEST(WdnRoadmapBuilder, PlanarArmBetweenObstacles)
{
    auto o = boost::shared_ptr<AnalyticObstacles>(new AnalyticObstacles());
    o->addSphere(1.8, 1.2, 0.0, 0.35);
    o->addSphere(-1.6, 1.4, 0.0, 0.35);
    o->addSphere(0.0, -2.2, 0.0, 0.4);
    boost::shared_ptr<CwdnDevice> arm = tvxtest::makePlanarArm(3, 1.0, o);
    CwdnConfig start(arm), goal(arm);
    start[0] = 0.0;
    goal[0] = M_PI - 0.05;
    bool c1 = true, c2 = true;
    start.isColliding(c1);
    goal.isColliding(c2);
    ASSERT_FALSE(c1);
    ASSERT_FALSE(c2);
    bool direct = true;
    arm->isMotionFree(start, goal, direct);
    EXPECT_FALSE(direct) << "the straight swing hits a post";
    boost::shared_ptr<CwdnRoadmapBuilder> b = CwdnRoadmapBuilder::create(arm);
    boost::shared_ptr<CwdnPath> path = CwdnPath::create(arm);
    ASSERT_EQ(0, b->solveProblem(start, goal, path));
    expectEndsAndContinuity(*path, start, goal);
    EXPECT_LT(tvxtest::firstCollisionAlong(*path, 1e-3), 0.0);
}

// Every notification arrives, in order, and the roadmap matches them.
TEST(WdnRoadmapBuilder, DelegateHearsEveryNodeAndEdge)
{
    RodScene s = rodThroughHole(0.75);
    boost::shared_ptr<CwdnRoadmapBuilder> b = CwdnRoadmapBuilder::create(s.device);
    Recorder r;
    b->delegate(&r);
    EXPECT_EQ(&r, b->delegate());
    boost::shared_ptr<CwdnPath> path = CwdnPath::create(s.device);
    ASSERT_EQ(0, b->solveProblem(s.start, s.goal, path));
    ASSERT_GE(r.events.size(), 2u);
    EXPECT_EQ("start", r.events.front());
    EXPECT_EQ("finish 0", r.events.back());
    EXPECT_EQ(b, r.seenBuilder);
    EXPECT_EQ(b->roadmap()->countNodes(), r.nodeCount);
    EXPECT_EQ(b->roadmap()->countEdges(), r.edgeCount);
    EXPECT_FALSE(r.edgeBeforeNode);
    EXPECT_GT(r.stopPolls, 0u);
    EXPECT_GT(r.exploreAsks, 0u);
    // Node ranks are their order of arrival.
    for (unsigned int i = 0; i < b->roadmap()->countNodes(); ++i) {
        ASSERT_EQ(i, b->roadmap()->node(i)->id());
    }
    // Every edge is a certified motion: dense sampling finds it free.
    for (unsigned int i = 0; i < b->roadmap()->countEdges(); i += 7) {
        boost::shared_ptr<CwdnEdge const> e = b->roadmap()->edge(i);
        boost::shared_ptr<CwdnPath> p = CwdnPath::create(s.device);
        p->appendDirectPath(s.device->steeringMethod()->makeDirectPath(e->node1()->config(), e->node2()->config()));
        ASSERT_LT(tvxtest::firstCollisionAlong(*p, 5e-3), 0.0) << "edge " << i;
        EXPECT_NEAR(s.device->distance(e->node1()->config(), e->node2()->config()), e->length(), 1e-12);
    }
}

// A refused sample is never checked nor added; the solve still ends, on
// its sample bound, and a delegate's stop ends it at once.
TEST(WdnRoadmapBuilder, RefusedExplorationAndStopsEndTheSolve)
{
    RodScene s = rodThroughHole(0.0); // closed: no solution, so the bound is reached
    boost::shared_ptr<CwdnRoadmapBuilder> b = CwdnRoadmapBuilder::create(s.device);
    b->maxSamples(300);
    Recorder r;
    r.explore = false;
    b->delegate(&r);
    boost::shared_ptr<CwdnPath> path = CwdnPath::create(s.device);
    boost::shared_ptr<CwdnPath> const before = path;
    EXPECT_EQ(CwdnRoadmapBuilder::NO_PATH, b->solveProblem(s.start, s.goal, path));
    EXPECT_EQ(before, path) << "a failed solve leaves the path alone";
    EXPECT_EQ("finish -1", r.events.back());
    EXPECT_EQ(300u, b->lastSamples());
    // Two samples in three are asked about, the third is a bounce walk.
    EXPECT_EQ(200u, r.exploreAsks);
    // Only bounce walks (at most 5 nodes each, from 100 walks) and the two
    // ends made nodes.
    EXPECT_LE(b->roadmap()->countNodes(), 2u + 100u * 5u);
    EXPECT_EQ(b->roadmap()->countNodes(), r.nodeCount);

    Recorder stopper;
    stopper.stopAfterPolls = 10;
    b->delegate(&stopper);
    b->roadmap()->clear();
    EXPECT_EQ(CwdnRoadmapBuilder::STOPPED, b->solveProblem(s.start, s.goal, path));
    EXPECT_EQ(10u, stopper.stopPolls);
    EXPECT_EQ("finish -2", stopper.events.back());

    // Colliding or foreign ends are refused before any search.
    b->delegate(nullptr);
    CwdnConfig inWall = tvxtest::flyerConfig(s.device, 0.0, 2.0, 0.0, 0.0);
    EXPECT_EQ(CwdnRoadmapBuilder::INVALID_PROBLEM, b->solveProblem(s.start, inWall, path));
    boost::shared_ptr<CwdnDevice> other = tvxtest::makeFreeFlyerRod(1.0, 0.1, 3.0, tvxtest::makeWallWithHole(0.6, 3));
    EXPECT_EQ(CwdnRoadmapBuilder::INVALID_PROBLEM, b->solveProblem(s.start, CwdnConfig(other), path));
}

// The same seed builds the same roadmap and the same path; another seed
// does not.
TEST(WdnRoadmapBuilder, SeedMakesRunsRepeatable)
{
    auto run = [](unsigned long seed, std::vector<double>& nodes, std::vector<double>& waypoints) {
        RodScene s = rodThroughHole(0.75);
        boost::shared_ptr<CwdnRoadmapBuilder> b = CwdnRoadmapBuilder::create(s.device);
        b->seed(seed);
        boost::shared_ptr<CwdnPath> path = CwdnPath::create(s.device);
        ASSERT_EQ(0, b->solveProblem(s.start, s.goal, path));
        for (unsigned int i = 0; i < b->roadmap()->countNodes(); ++i) {
            std::vector<double> const& v = b->roadmap()->node(i)->config().values();
            nodes.insert(nodes.end(), v.begin(), v.end());
        }
        for (unsigned int i = 0; i < path->countDirectPaths(); ++i) {
            std::vector<double> const& v = path->directPath(i)->end().values();
            waypoints.insert(waypoints.end(), v.begin(), v.end());
        }
    };
    std::vector<double> n1, w1, n2, w2, n3, w3;
    run(11, n1, w1);
    run(11, n2, w2);
    run(12, n3, w3);
    EXPECT_EQ(n1, n2);
    EXPECT_EQ(w1, w2);
    EXPECT_NE(n1, n3);
}

// Without a passage the connectivity stops changing: difficulty climbs,
// and a delegate can stop on it; the node bound ends the solve otherwise.
TEST(WdnRoadmapBuilder, DifficultyGrowsWhenBlocked)
{
    RodScene s = rodThroughHole(0.0);
    boost::shared_ptr<CwdnRoadmapBuilder> b = CwdnRoadmapBuilder::create(s.device);
    b->maxNodes(400);
    boost::shared_ptr<CwdnPath> path = CwdnPath::create(s.device);
    EXPECT_EQ(CwdnRoadmapBuilder::NO_PATH, b->solveProblem(s.start, s.goal, path));
    EXPECT_GE(b->lastNodes(), 400u);
    double const blocked = b->difficulty();
    EXPECT_GT(blocked, 50.0);
}

// The roadmap serves later queries; clearing it and resetting the start and
// goal nodes behave as CwdnRoadmapBuilder's header says.
TEST(WdnRoadmapBuilder, MultiQueryClearAndReset)
{
    RodScene s = rodThroughHole(0.75);
    boost::shared_ptr<CwdnRoadmapBuilder> b = CwdnRoadmapBuilder::create(s.device);
    boost::shared_ptr<CwdnPath> path = CwdnPath::create(s.device);
    ASSERT_EQ(0, b->solveProblem(s.start, s.goal, path));
    unsigned int const first = b->roadmap()->countNodes();
    // The same query again: nothing new is needed.
    ASSERT_EQ(0, b->solveProblem(s.start, s.goal, path));
    EXPECT_EQ(first, b->roadmap()->countNodes());
    // Reset the start only: one new node for it (if it connects at once).
    b->resetStartNodes();
    ASSERT_EQ(0, b->solveProblem(s.start, s.goal, path));
    EXPECT_GE(b->roadmap()->countNodes(), first + 1);
    unsigned int const second = b->roadmap()->countNodes();
    b->resetStartNodes();
    b->resetGoalNodes();
    ASSERT_EQ(0, b->solveProblem(s.start, s.goal, path));
    EXPECT_GE(b->roadmap()->countNodes(), second + 2);

    b->roadmap()->clear();
    EXPECT_EQ(0u, b->roadmap()->countNodes());
    EXPECT_EQ(0u, b->roadmap()->countEdges());
    ASSERT_EQ(0, b->solveProblem(s.start, s.goal, path));
    EXPECT_EQ(first, b->roadmap()->countNodes()) << "rebuilt from scratch, with the same seed";
}

// A delegate that clears the roadmap, or starts another solve, from inside
// a solve cannot pull the graph from under it.
TEST(WdnRoadmapBuilder, ReentrantCallsFromTheDelegateAreSafe)
{
    RodScene s = rodThroughHole(0.75);
    boost::shared_ptr<CwdnRoadmapBuilder> b = CwdnRoadmapBuilder::create(s.device);
    struct Meddler : Recorder {
        boost::shared_ptr<CwdnRoadmapBuilder> target;
        CwdnConfig a, g;
        int nested = 1;
        void didAddNode(boost::shared_ptr<CwdnRoadmapBuilder const> const& bb,
                        boost::shared_ptr<CwdnNode const> const& n) override
        {
            Recorder::didAddNode(bb, n);
            target->roadmap()->clear();
            boost::shared_ptr<CwdnPath> p = CwdnPath::create(target->device());
            nested = target->solveProblem(a, g, p);
        }
    } m;
    m.target = b;
    m.a = s.start;
    m.g = s.goal;
    b->delegate(&m);
    boost::shared_ptr<CwdnPath> path = CwdnPath::create(s.device);
    ASSERT_EQ(0, b->solveProblem(s.start, s.goal, path));
    EXPECT_EQ(CwdnRoadmapBuilder::INVALID_PROBLEM, m.nested);
    EXPECT_EQ(0u, b->roadmap()->countNodes()) << "the clear took effect after the solve";
    expectEndsAndContinuity(*path, s.start, s.goal);
    // And the builder still works afterwards.
    b->delegate(nullptr);
    ASSERT_EQ(0, b->solveProblem(s.start, s.goal, path));
}

// The extractor frees a pose stuck in the wall close to where it was, and
// leaves free poses alone.
TEST(WdnConfigExtractor, FreesCollidingConfigurationsNearby)
{
    RodScene s = rodThroughHole(0.75);
    boost::shared_ptr<CwdnConfigExtractor> x = CwdnConfigExtractor::create(s.device);
    // Rod along y, centred in the wall at x = 0.05, far from the hole.
    CwdnConfig stuck = tvxtest::flyerConfig(s.device, 0.05, 2.0, 0.0, M_PI / 2);
    bool colliding = false;
    stuck.isColliding(colliding);
    ASSERT_TRUE(colliding);
    CwdnConfig freed = stuck;
    ASSERT_EQ(0, x->extractFreeConfig(freed));
    freed.isColliding(colliding);
    EXPECT_FALSE(colliding);
    // The closest free pose moves the rod 0.2 along x (wall half thickness
    // 0.1 plus the ball radius 0.15, minus 0.05); allow a generous factor.
    EXPECT_LT(s.device->distance(stuck, freed), 1.0);
    EXPECT_GT(s.device->distance(stuck, freed), 0.19);

    CwdnConfig already = s.start;
    ASSERT_EQ(0, x->extractFreeConfig(already));
    EXPECT_TRUE(already.isEqual(s.start, 0.0));

    x->maxRadius(0.001);
    CwdnConfig hopeless = stuck;
    EXPECT_EQ(-1, x->extractFreeConfig(hopeless));
    EXPECT_TRUE(hopeless.isEqual(stuck, 0.0));
}

// Shortcutting never lengthens a path, keeps its ends and keeps it free.
TEST(WdnPathOptimizer, ShortensAndKeepsThePathFree)
{
    RodScene s = rodThroughHole(0.75);
    boost::shared_ptr<CwdnRoadmapBuilder> b = CwdnRoadmapBuilder::create(s.device);
    boost::shared_ptr<CwdnPath> path = CwdnPath::create(s.device);
    ASSERT_EQ(0, b->solveProblem(s.start, s.goal, path));
    double const before = path->length();
    boost::shared_ptr<CwdnPathOptimizer> opt = CwdnPathOptimizer::create(s.device);
    ASSERT_EQ(0, opt->optimizePath(path));
    EXPECT_LE(path->length(), before + 1e-9);
    expectEndsAndContinuity(*path, s.start, s.goal);
    EXPECT_LT(tvxtest::firstCollisionAlong(*path, 2e-3), 0.0);
    EXPECT_EQ(-1, opt->optimizePath(CwdnPath::create(s.device)));
}
