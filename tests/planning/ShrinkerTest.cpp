#include <tests/support/PlannerFixtures.h>
#include <tests/support/SceneFixtures.h>

#include <tvx/geometry/CtvxPolyhedron.h>
#include <tvx/scene/CtvxAssembly.h>
#include <tvx/planning/CwdnTVXBody.h>
#include <tvx/planning/CwdnTVXShrinker.h>
#include <tvx/progress/CtvxProgressDelegate.h>
#include <tvx/scene/CtvxCollisionList.h>

#include <qar/CqarLogManager.h>

#include <wdn/CwdnConfig.h>
#include <wdn/CwdnConfigExtractor.h>
#include <wdn/CwdnDevice.h>
#include <wdn/CwdnDirectPath.h>
#include <wdn/CwdnJoint.h>
#include <wdn/CwdnPath.h>
#include <wdn/CwdnPathOptimizer.h>
#include <wdn/CwdnRdmBuilderDelegate.h>
#include <wdn/CwdnRoadmap.h>
#include <wdn/CwdnRoadmapBuilder.h>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

namespace {

boost::shared_ptr<CtvxProgressDelegate> noDelegate;

// A peg (half lengths 0.5 x pegHalf x 0.2) that translates in the plane z = 0
// on two prismatic joints, and a plate x in [-0.05, 0.05] with a slot of
// half width slotHalf around y = 0. Start and goal lie on either side of the
// plate, at y = +-0.8, either clear of it or pushed 0.002 into it.
struct SlotScene {
    boost::shared_ptr<CwdnDevice> device;
    boost::shared_ptr<CwdnTVXBody> body;
    boost::shared_ptr<CtvxPolyhedron> peg;
    std::vector<CqarPoint3> pegPoints;
    CwdnConfig start;
    CwdnConfig goal;

    SlotScene(double pegHalf, double slotHalf, bool touching)
    {
        peg = tvxtest::makeBoxEntity(0.5, pegHalf, 0.2);
        boost::shared_ptr<CtvxCollisionList> inner = CtvxCollisionList::create();
        inner->add(peg);
        boost::shared_ptr<CtvxCollisionList> outer = CtvxCollisionList::create();
        double const h = slotHalf;
        outer->add(tvxtest::makeBoxEntity(0.05, 0.5 * (2.0 - h), 1.0, 0.0, 0.5 * (2.0 + h), 0.0));
        outer->add(tvxtest::makeBoxEntity(0.05, 0.5 * (2.0 - h), 1.0, 0.0, -0.5 * (2.0 + h), 0.0));

        // Joint frames: the first slides along world x, the second along y.
        CqarMat4 alongX; // rotation of +90 degrees about y: z -> x
        alongX(0, 0) = 0.0;
        alongX(0, 2) = 1.0;
        alongX(2, 0) = -1.0;
        alongX(2, 2) = 0.0;
        CqarMat4 alongY; // rotation of -90 degrees about x: z -> y
        alongY(1, 1) = 0.0;
        alongY(1, 2) = 1.0;
        alongY(2, 1) = -1.0;
        alongY(2, 2) = 0.0;
        boost::shared_ptr<CwdnJoint> jx = CwdnJoint::createPrismatic(-1.5, 1.5);
        boost::shared_ptr<CwdnJoint> jy = CwdnJoint::createPrismatic(-1.5, 1.5);
        jx->relativePosition(alongX);
        jy->relativePosition(alongY);
        device = CwdnDevice::create();
        device->addJoint(jx);
        device->addJoint(jy, jx);
        device->movingObstacles(false);
        // The peg is turned back to the world axes inside the body.
        CqarMat4 const frame = alongX * alongY;
        CqarMat4 back;
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 3; ++c) {
                back(r, c) = frame(c, r);
            }
        }
        body = CwdnTVXBody::create();
        body->setInnerObjects(inner, {back});
        body->setOuterObjects(outer);
        jy->addBody(body);

        double const reach = touching ? 0.55 - 0.002 : 0.85;
        start = CwdnConfig(device);
        start[0] = -reach;
        start[1] = 0.8;
        goal = CwdnConfig(device);
        goal[0] = reach;
        goal[1] = -0.8;
        for (unsigned int i = 0; i < peg->countPoints(); ++i) {
            CqarPoint3 p;
            peg->getPoint(i, p);
            pegPoints.push_back(p);
        }
    }

    // Largest distance of a peg vertex (in its own frame) from factor times
    // its original position.
    double pegError(double factor) const
    {
        double worst = 0.0;
        for (unsigned int i = 0; i < peg->countPoints(); ++i) {
            CqarPoint3 p;
            peg->getPoint(i, p);
            worst = std::max(worst, p.distanceFrom(CqarPoint3(pegPoints[i] * factor)));
        }
        return worst;
    }

    // Scales the peg as the shrinker does, about its joint.
    void scalePeg(double factor)
    {
        CqarMat4 const& at = device->joint(1)->currentPosition();
        CqarPoint3 c(at(0, 3), at(1, 3), at(2, 3));
        ASSERT_EQ(0, peg->scale(c, factor));
    }
};

class Recorder : public CwdnRdmBuilderDelegate {
public:
    std::vector<std::string> events;
    unsigned int nodes = 0, edges = 0, stopPolls = 0, exploreAsks = 0;
    unsigned int stopAfterPolls = 0;
    std::function<void()> onStart;

    void willStartBuilding(boost::shared_ptr<CwdnRoadmapBuilder const> const&, boost::shared_ptr<CwdnPath>&) override
    {
        events.push_back("start");
        if (onStart) {
            onStart();
        }
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
        return true;
    }
    void didAddNode(boost::shared_ptr<CwdnRoadmapBuilder const> const&, boost::shared_ptr<CwdnNode const> const&) override
    {
        ++nodes;
    }
    void didAddEdge(boost::shared_ptr<CwdnRoadmapBuilder const> const&, boost::shared_ptr<CwdnEdge const> const&) override
    {
        ++edges;
    }
};

boost::shared_ptr<CwdnTVXShrinker> shrinkerFor(SlotScene const& s, CwdnTVXShrinker::EMode mode)
{
    boost::shared_ptr<CwdnTVXShrinker> sh = CwdnTVXShrinker::create();
    sh->builder(CwdnRoadmapBuilder::create(s.device));
    sh->mode(mode);
    return sh;
}

void expectJoins(CwdnPath const& p, CwdnConfig const& start, CwdnConfig const& goal)
{
    CwdnConfig c;
    ASSERT_EQ(0, p.getStart(c));
    EXPECT_TRUE(c.isEqual(start, 0.0));
    ASSERT_EQ(0, p.getEnd(c));
    EXPECT_TRUE(c.isEqual(goal, 0.0));
    for (unsigned int i = 1; i < p.countDirectPaths(); ++i) {
        EXPECT_TRUE(p.directPath(i - 1)->end().isEqual(p.directPath(i)->start(), 1e-9)) << "piece " << i;
    }
}

class CwdnTVXShrinkerTest : public ::testing::Test {
protected:
    void SetUp() override { CqarLogManager::clear(); }
};

} // namespace

TEST_F(CwdnTVXShrinkerTest, DefaultsAfterCreate)
{
    boost::shared_ptr<CwdnTVXShrinker> s = CwdnTVXShrinker::create();
    EXPECT_EQ(CwdnTVXShrinker::NO_SHRINKING, s->mode());
    EXPECT_EQ(0.99, s->scale());
    EXPECT_EQ(0.0, s->difficultyTreshold());
    EXPECT_FALSE(s->optimizesBeforeUnshrinking());
    EXPECT_FALSE(s->builder());
    EXPECT_EQ(0u, s->currentStep());
    EXPECT_EQ(1.0, s->currentScale());
    EXPECT_EQ(100u, s->maxSteps());
}

// Full size, free ends, solvable: one turn, the builder's result, a path
// free at full size, the previous delegate back in place.
TEST_F(CwdnTVXShrinkerTest, NoShrinkingSolvesAtFullSize)
{
    SlotScene s(0.2, 0.35, false);
    boost::shared_ptr<CwdnTVXShrinker> sh = shrinkerFor(s, CwdnTVXShrinker::NO_SHRINKING);
    Recorder previous;
    sh->builder()->delegate(&previous);
    boost::shared_ptr<CwdnPath> path = CwdnPath::create(s.device);
    ASSERT_EQ(0, sh->solveProblem(s.start, s.goal, path));
    EXPECT_EQ(1u, sh->currentStep());
    EXPECT_EQ(1.0, sh->currentScale());
    expectJoins(*path, s.start, s.goal);
    EXPECT_LT(tvxtest::firstCollisionAlong(*path, 2e-3), 0.0);
    EXPECT_EQ(&previous, sh->builder()->delegate());
    // Every notification went through to the previous delegate.
    EXPECT_EQ((std::vector<std::string>{"start", "finish 0"}), previous.events);
    EXPECT_EQ(sh->builder()->roadmap()->countNodes(), previous.nodes);
    EXPECT_EQ(sh->builder()->roadmap()->countEdges(), previous.edges);
    EXPECT_GT(previous.stopPolls, 0u);
    EXPECT_GT(previous.exploreAsks, 0u);
    EXPECT_TRUE(CqarLogManager::messages().empty());
}

// A colliding end fails with -1 before any search in the modes that never
// shrink for it.
TEST_F(CwdnTVXShrinkerTest, CollidingEndsFailWithoutSearch)
{
    for (CwdnTVXShrinker::EMode mode : {CwdnTVXShrinker::NO_SHRINKING, CwdnTVXShrinker::SHRINK_ONCE}) {
        SlotScene s(0.2, 0.35, true);
        // Pushed 0.02 into the plate, so that one step of 0.99 is not enough.
        s.goal[0] = 0.53;
        boost::shared_ptr<CwdnTVXShrinker> sh = shrinkerFor(s, mode);
        Recorder previous;
        sh->builder()->delegate(&previous);
        boost::shared_ptr<CwdnPath> path = CwdnPath::create(s.device);
        boost::shared_ptr<CwdnPath> const before = path;
        EXPECT_EQ(-1, sh->solveProblem(s.start, s.goal, path)) << mode;
        EXPECT_TRUE(previous.events.empty()) << mode;
        EXPECT_EQ(before, path);
        EXPECT_EQ(mode == CwdnTVXShrinker::NO_SHRINKING ? 1u : 2u, sh->currentStep());
        EXPECT_LT(s.pegError(1.0), 1e-7) << "geometry restored";
    }
}

// One step down, one search on the shrunk geometry, then everything back:
// the vertices, the roadmap (cleared), the delegate.
TEST_F(CwdnTVXShrinkerTest, ShrinkOnceShrinksSearchesAndRestores)
{
    SlotScene s(0.2, 0.35, false);
    boost::shared_ptr<CwdnTVXShrinker> sh = shrinkerFor(s, CwdnTVXShrinker::SHRINK_ONCE);
    Recorder previous;
    double during = -1.0;
    previous.onStart = [&] { during = s.pegError(0.99); };
    sh->builder()->delegate(&previous);
    boost::shared_ptr<CwdnPath> path = CwdnPath::create(s.device);
    ASSERT_EQ(0, sh->solveProblem(s.start, s.goal, path));
    EXPECT_EQ(2u, sh->currentStep());
    EXPECT_EQ(0.99, sh->currentScale());
    // The centre went through single precision: within 1e-7 of the joint.
    EXPECT_GE(during, 0.0);
    EXPECT_LT(during, 1e-6) << "the search saw the peg at 0.99 of its size";
    EXPECT_LT(s.pegError(1.0), 1e-7);
    EXPECT_EQ(0u, sh->builder()->roadmap()->countNodes());
    EXPECT_EQ(0u, sh->builder()->roadmap()->countEdges());
    EXPECT_EQ((std::vector<std::string>{"start", "finish 0"}), previous.events);
    EXPECT_EQ(&previous, sh->builder()->delegate());
    expectJoins(*path, s.start, s.goal);
}

// With a threshold of 0 nothing is too difficult: a failed search ends the
// solve with its own code and nothing shrinks.
TEST_F(CwdnTVXShrinkerTest, ZeroThresholdNeverStopsForDifficulty)
{
    SlotScene s(0.2, 0.0, false); // the slot is closed
    boost::shared_ptr<CwdnTVXShrinker> sh = shrinkerFor(s, CwdnTVXShrinker::SHRINK_WHEN_NEEDED);
    sh->builder()->maxNodes(40);
    boost::shared_ptr<CwdnPath> path = CwdnPath::create(s.device);
    EXPECT_EQ(CwdnRoadmapBuilder::NO_PATH, sh->solveProblem(s.start, s.goal, path));
    EXPECT_EQ(1u, sh->currentStep());
    EXPECT_EQ(1.0, sh->currentScale());
    EXPECT_GT(sh->builder()->roadmap()->countNodes(), 0u) << "nothing was shrunk, so nothing was cleared";

    // A stop asked by the previous delegate is not a difficulty stop either.
    Recorder previous;
    previous.stopAfterPolls = 5;
    sh->builder()->delegate(&previous);
    sh->difficultyTreshold(1e9);
    EXPECT_EQ(CwdnRoadmapBuilder::STOPPED, sh->solveProblem(s.start, s.goal, path));
    EXPECT_EQ(1.0, sh->currentScale());
}

// Searches that keep stopping for difficulty shrink the device turn after
// turn until the bound; three steps of 0.99 are undone by 1 / 0.970299, the
// failure stays the result and the path is not replaced.
TEST_F(CwdnTVXShrinkerTest, FailedSearchesAfterShrinkingKeepTheirCode)
{
    SlotScene s(0.2, 0.0, false);
    boost::shared_ptr<CwdnTVXShrinker> sh = shrinkerFor(s, CwdnTVXShrinker::SHRINK_WHEN_NEEDED);
    sh->difficultyTreshold(15);
    sh->maxSteps(3);
    boost::shared_ptr<CwdnPath> path = CwdnPath::create(s.device);
    boost::shared_ptr<CwdnPath> const before = path;
    EXPECT_EQ(CwdnRoadmapBuilder::STOPPED, sh->solveProblem(s.start, s.goal, path));
    EXPECT_EQ(3u, sh->currentStep());
    EXPECT_EQ(0.99 * (0.99 * 0.99), sh->currentScale());
    EXPECT_NEAR(0.970299, sh->currentScale(), 1e-15);
    EXPECT_LT(s.pegError(1.0), 1e-7);
    EXPECT_EQ(before, path);
    EXPECT_EQ(0u, sh->builder()->roadmap()->countNodes());
    EXPECT_TRUE(CqarLogManager::messages().empty());
}

// A body of another kind cannot be shrunk: two messages, in order, and -1.
TEST_F(CwdnTVXShrinkerTest, OnlyTvxBodiesCanBeShrunk)
{
    SlotScene s(0.2, 0.35, false);
    auto none = boost::shared_ptr<tvxtest::AnalyticObstacles>(new tvxtest::AnalyticObstacles());
    s.device->joint(0)->addBody(tvxtest::SpheresBody::create({{{0, 0, 0}, 0.05}}, none));
    boost::shared_ptr<CwdnTVXShrinker> sh = shrinkerFor(s, CwdnTVXShrinker::SHRINK_FIRST);
    boost::shared_ptr<CwdnPath> path = CwdnPath::create(s.device);
    EXPECT_EQ(-1, sh->solveProblem(s.start, s.goal, path));
    EXPECT_EQ((std::vector<std::string>{"CwdnTVXShrinker can only be used with TVX.",
                                        "Unable to shrink the geometry of the device."}),
              CqarLogManager::messages());
    EXPECT_EQ(1.0, sh->currentScale());
    EXPECT_EQ(1u, sh->currentStep());
}

// The narrow passage: a peg slightly wider than the slot, start and goal
// pushed into the plate. Without shrinking there is nothing to search; with
// it, the ends come free, the searches stall until the peg fits, and the
// joined path runs from the exact start to the exact goal. It is free on the
// geometry it was found on, and not at full size (CwdnTVXShrinker's header:
// at full size the path may come closer to the obstacles than the shrinking
// allowed for).
TEST_F(CwdnTVXShrinkerTest, NarrowPassageSolvesOnlyWithShrinking)
{
    SlotScene s(0.2, 0.185, true);
    boost::shared_ptr<CwdnTVXShrinker> none = shrinkerFor(s, CwdnTVXShrinker::NO_SHRINKING);
    boost::shared_ptr<CwdnPath> path = CwdnPath::create(s.device);
    EXPECT_EQ(-1, none->solveProblem(s.start, s.goal, path));

    boost::shared_ptr<CwdnTVXShrinker> sh = shrinkerFor(s, CwdnTVXShrinker::SHRINK_WHEN_NEEDED);
    sh->scale(0.95);
    sh->difficultyTreshold(40);
    ASSERT_EQ(0, sh->solveProblem(s.start, s.goal, path));
    double const reached = sh->currentScale();
    EXPECT_LT(reached * 0.2, 0.185) << "the peg had to fit the slot";
    EXPECT_GE(sh->currentStep(), 3u);
    EXPECT_LT(s.pegError(1.0), 1e-7);
    expectJoins(*path, s.start, s.goal);
    EXPECT_GE(tvxtest::firstCollisionAlong(*path, 2e-3), 0.0) << "at full size the peg does not fit";
    s.scalePeg(reached);
    EXPECT_LT(tvxtest::firstCollisionAlong(*path, 2e-3), 0.0) << "free where it was found";
    s.scalePeg(1.0 / reached);
    EXPECT_LT(s.pegError(1.0), 1e-7);
}

// With an extractor the colliding ends are freed at full size; the joined
// path leaves the given start, follows the search and comes back to the
// given goal, and only the two extraction motions touch the plate.
TEST_F(CwdnTVXShrinkerTest, ExtractedEndsAreJoinedInTheRightDirection)
{
    SlotScene s(0.2, 0.35, true);
    boost::shared_ptr<CwdnTVXShrinker> sh = shrinkerFor(s, CwdnTVXShrinker::NO_SHRINKING);
    boost::shared_ptr<CwdnConfigExtractor> x = CwdnConfigExtractor::create(s.device);
    sh->configExtractor(x);
    boost::shared_ptr<CwdnPath> path = CwdnPath::create(s.device);
    ASSERT_EQ(0, sh->solveProblem(s.start, s.goal, path));
    EXPECT_EQ(1u, sh->currentStep());
    expectJoins(*path, s.start, s.goal);
    ASSERT_GE(path->countDirectPaths(), 3u);
    // The inner pieces, found by the search, are free at full size.
    boost::shared_ptr<CwdnPath> middle = CwdnPath::create(s.device);
    for (unsigned int i = 1; i + 1 < path->countDirectPaths(); ++i) {
        ASSERT_EQ(0, middle->appendDirectPath(path->directPath(i)));
    }
    EXPECT_LT(tvxtest::firstCollisionAlong(*middle, 2e-3), 0.0);
    // The outer pieces start (resp. end) in the plate.
    bool colliding = false;
    path->directPath(0)->start().isColliding(colliding);
    EXPECT_TRUE(colliding);
    path->directPath(0)->end().isColliding(colliding);
    EXPECT_FALSE(colliding);
    path->directPath(path->countDirectPaths() - 1)->start().isColliding(colliding);
    EXPECT_FALSE(colliding);
}

// Geometry that cannot be scaled back (here the peg was regrouped into an
// assembly during the search, which locks it) is reported, and the solve
// fails although its search succeeded.
TEST_F(CwdnTVXShrinkerTest, FailedRestoringIsReported)
{
    SlotScene s(0.2, 0.35, false);
    boost::shared_ptr<CwdnTVXShrinker> sh = shrinkerFor(s, CwdnTVXShrinker::SHRINK_ONCE);
    Recorder previous;
    boost::shared_ptr<CtvxAssembly> group = CtvxAssembly::create();
    previous.onStart = [&] {
        group->attach(s.peg, -1);
        group->makeCollisionEntity(noDelegate);
    };
    sh->builder()->delegate(&previous);
    boost::shared_ptr<CwdnPath> path = CwdnPath::create(s.device);
    boost::shared_ptr<CwdnPath> const before = path;
    EXPECT_EQ(-1, sh->solveProblem(s.start, s.goal, path));
    EXPECT_EQ((std::vector<std::string>{"start", "finish 0"}), previous.events);
    EXPECT_EQ(std::vector<std::string>{"Unable to unshrink the geometry of the device."}, CqarLogManager::messages());
    EXPECT_EQ(0u, sh->builder()->roadmap()->countNodes()) << "cleared all the same";
    EXPECT_NE(before, path) << "the path is as the builder left it";
}

// A factor of 0 could never be undone: the step fails and says so.
TEST_F(CwdnTVXShrinkerTest, ZeroFactorIsAFailedStep)
{
    SlotScene s(0.2, 0.35, false);
    boost::shared_ptr<CwdnTVXShrinker> sh = shrinkerFor(s, CwdnTVXShrinker::SHRINK_ONCE);
    sh->scale(0.0);
    boost::shared_ptr<CwdnPath> path = CwdnPath::create(s.device);
    EXPECT_EQ(-1, sh->solveProblem(s.start, s.goal, path));
    EXPECT_EQ(std::vector<std::string>{"Unable to shrink the geometry of the device."}, CqarLogManager::messages());
    EXPECT_EQ(1.0, sh->currentScale());
    EXPECT_LT(s.pegError(1.0), 1e-12);
}

// Misconfigurations are error codes that touch nothing.
TEST_F(CwdnTVXShrinkerTest, MisconfigurationsAreErrorCodes)
{
    SlotScene s(0.2, 0.35, false);
    boost::shared_ptr<CwdnPath> path = CwdnPath::create(s.device);
    boost::shared_ptr<CwdnTVXShrinker> sh = CwdnTVXShrinker::create();
    sh->mode(CwdnTVXShrinker::SHRINK_FIRST);
    EXPECT_EQ(-1, sh->solveProblem(s.start, s.goal, path)) << "no builder";
    sh->builder(CwdnRoadmapBuilder::create(s.device));
    sh->optimizesBeforeUnshrinking(true);
    EXPECT_EQ(-1, sh->solveProblem(s.start, s.goal, path)) << "no optimizer";
    EXPECT_LT(s.pegError(1.0), 1e-12);
    EXPECT_FALSE(sh->builder()->delegate());
    boost::shared_ptr<CwdnPath> empty;
    sh->pathOptimizer(CwdnPathOptimizer::create(s.device));
    EXPECT_EQ(-1, sh->solveProblem(s.start, s.goal, empty)) << "no path";
    // Configured properly, the optimizer runs on the shrunk geometry.
    ASSERT_EQ(0, sh->solveProblem(s.start, s.goal, path));
    expectJoins(*path, s.start, s.goal);
    EXPECT_LT(s.pegError(1.0), 1e-7);
}
