// The planner over this library's geometry: one certified motion of a peg
// past a plate, and one roadmap solve from scratch through a slot. Collision
// queries (analyses run) are reported per motion and per solve; the motion
// check's cost is dominated by how far the estimated clearance falls below
// the true distance near the plate.
#include <tvx/analysis/CtvxAnalysis.h>
#include <tvx/geometry/CtvxPolyhedron.h>
#include <tvx/planning/CwdnTVXBody.h>
#include <tvx/scene/CtvxCollisionList.h>

#include <wdn/CwdnConfig.h>
#include <wdn/CwdnDevice.h>
#include <wdn/CwdnJoint.h>
#include <wdn/CwdnPath.h>
#include <wdn/CwdnRoadmap.h>
#include <wdn/CwdnRoadmapBuilder.h>

#include <tests/support/Meshes.h>
#include <tests/support/SceneFixtures.h>

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

boost::shared_ptr<CtvxPolyhedron> box(double hx, double hy, double hz, double x, double y)
{
    boost::shared_ptr<CtvxProgressDelegate> none;
    boost::shared_ptr<CtvxPolyhedron> p = tvxtest::makePolyhedron(tvxtest::makeBox(hx, hy, hz));
    CqarMat4 m;
    m(0, 3) = x;
    m(1, 3) = y;
    p->relativePosition(m);
    p->makeCollisionEntity(none);
    return p;
}

// A peg 1 x 0.3 on a planar joint, a plate x in [-0.05, 0.05] with a slot
// |y| < 0.3.
struct SlotScene {
    boost::shared_ptr<CwdnDevice> device;
    CwdnConfig start, goal;

    SlotScene()
    {
        boost::shared_ptr<CtvxCollisionList> inner = CtvxCollisionList::create(), outer = CtvxCollisionList::create();
        inner->add(box(0.5, 0.15, 0.15, 0, 0));
        outer->add(box(0.05, 1.0, 1.0, 0.0, -1.3));
        outer->add(box(0.05, 1.0, 1.0, 0.0, 1.3));
        boost::shared_ptr<CwdnTVXBody> body = CwdnTVXBody::create();
        body->setInnerObjects(inner);
        body->setOuterObjects(outer);
        device = CwdnDevice::create();
        boost::shared_ptr<CwdnJoint> j = CwdnJoint::createPlanar(-1.8, 1.8, -1.8, 1.8);
        device->addJoint(j);
        j->addBody(body);
        device->movingObstacles(false);
        start = CwdnConfig(device);
        goal = CwdnConfig(device);
        start[0] = -1.0;
        start[1] = 1.0;
        start[2] = M_PI / 2;
        goal[0] = 1.0;
        goal[1] = -1.0;
        goal[2] = M_PI / 2;
    }
};

void check(bool ok, char const* what)
{
    if (!ok) {
        std::fprintf(stderr, "PlannerBench: %s\n", what);
        std::abort();
    }
}

// A slide along the plate at 0.1 from it, then straight through the slot.
void BM_MotionAlongThePlate(benchmark::State& state)
{
    SlotScene s;
    CwdnConfig a(s.device), b(s.device);
    a[0] = -0.65;
    a[1] = 1.2;
    b[0] = -0.65;
    b[1] = -0.0;
    if (state.range(0) == 1) {
        b[0] = 0.8; // through the slot
        a[1] = 0.0;
    }
    bool free = false;
    check(s.device->isMotionFree(a, b, free) == 0 && free, "the motion should be certified free");
    CtvxAnalysis::resetCollisionCount();
    for (auto _ : state) {
        s.device->isMotionFree(a, b, free);
        benchmark::DoNotOptimize(free);
    }
    state.counters["queries"] =
        benchmark::Counter(CtvxAnalysis::getCollisionCount(), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_MotionAlongThePlate)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

void BM_SolveThroughTheSlot(benchmark::State& state)
{
    SlotScene s;
    unsigned long nodes = 0;
    CtvxAnalysis::resetCollisionCount();
    for (auto _ : state) {
        boost::shared_ptr<CwdnRoadmapBuilder> b = CwdnRoadmapBuilder::create(s.device);
        boost::shared_ptr<CwdnPath> path = CwdnPath::create(s.device);
        check(b->solveProblem(s.start, s.goal, path) == 0, "the slot problem should solve");
        nodes += b->roadmap()->countNodes();
    }
    state.counters["queries"] =
        benchmark::Counter(CtvxAnalysis::getCollisionCount(), benchmark::Counter::kAvgIterations);
    state.counters["nodes"] = benchmark::Counter(static_cast<double>(nodes), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_SolveThroughTheSlot)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
