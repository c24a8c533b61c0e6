// Time of one query of each type between two meshes of 10^4 triangles each,
// at a colliding pose and at a separated one. Box and triangle tests per
// query are reported as counters (from a direct run of the pair analysis),
// for our walks and for the plain recursive walk.
#include <tvx/analysis/CtvxAnalysis.h>
#include <tvx/analysis/CtvxCollision.h>
#include <tvx/analysis/CtvxDistance.h>
#include <tvx/geometry/CtvxPolyhedron.h>
#include <tvx/scene/CtvxCollisionList.h>

#include <tests/support/AnalysisProbe.h>
#include <tests/support/Meshes.h>
#include <tests/support/SceneFixtures.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>

namespace {

using namespace tvxtest;

struct Scene {
    boost::shared_ptr<CtvxPolyhedron> a, b;
    boost::shared_ptr<CtvxAnalysis> analysis[4];

    Scene()
    {
        boost::shared_ptr<CtvxProgressDelegate> none;
        // Two tori of 2 * 100 * 50 = 10^4 triangles.
        a = makePolyhedron(makeTorus(100, 50, 1.0, 0.3));
        b = makePolyhedron(makeTorus(100, 50, 1.0, 0.3));
        a->makeCollisionEntity(none);
        b->makeCollisionEntity(none);
        boost::shared_ptr<CtvxCollisionList> l1 = CtvxCollisionList::create(), l2 = CtvxCollisionList::create();
        l1->add(a);
        l2->add(b);
        for (int t = 0; t < 4; ++t) {
            analysis[t] = CtvxAnalysis::create();
            analysis[t]->setCollisionList1(l1);
            analysis[t]->setCollisionList2(l2);
            analysis[t]->setAnalysisType(CtvxAnalysis::EAnalysisType(t));
        }
    }

    // Colliding: the second torus turned a quarter about x and shifted so
    // that each tube cuts the other. Separated: shifted 0.2 beyond touching.
    void place(bool colliding)
    {
        Affine const pose = colliding ? Affine::translation(0.5, 0, 0) * Affine::rotation(1, 0, 0, 1.5707963)
                                      : Affine::translation(2.8, 0.1, 0.05) * Affine::rotation(0, 1, 0, 0.4);
        CqarMat4 m;
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j)
                m(i, j) = pose.r[i][j];
            m(i, 3) = pose.t[i];
        }
        b->absolutePosition(m);
    }
};

Scene& scene()
{
    static Scene s;
    return s;
}

void BM_Query(benchmark::State& state)
{
    int const type = static_cast<int>(state.range(0));
    bool const colliding = state.range(1) != 0;
    // The plain recursive walk, for what the faster walks gain.
    bool const plainWalk = state.range(2) != 0;
    Scene& s = scene();
    s.place(colliding);
    CtvxAnalysis& an = *s.analysis[type];
    AnalysisProbe::plainWalk(an, plainWalk);
    an.compute();
    // The answer, checked once before timing.
    if ((an.countCollisions() > 0) != colliding) {
        state.SkipWithError("unexpected answer");
        return;
    }
    for (auto _ : state) {
        an.compute();
        benchmark::DoNotOptimize(an.countCollisions());
    }
    // A fresh pair analysis (no hint from the driver's bound) for the counts.
    boost::shared_ptr<CtvxCollision> c = CtvxCollision::create();
    boost::shared_ptr<CtvxDistance> d = CtvxDistance::create();
    PairRun const run = runPair(s.a, s.b, CtvxAnalysis::EAnalysisType(type),
                                plainWalk ? CtvxWalk::Plain : CtvxWalk::Ordered, c, d);
    state.counters["boxTests"] = static_cast<double>(run.boxTests);
    state.counters["triTests"] = static_cast<double>(run.triangleTests);
    static char const* const names[] = {"first", "all", "exact", "estimated"};
    state.SetLabel(std::string(names[type]) + (colliding ? " colliding" : " separated") +
                   (plainWalk ? ", plain walk" : ""));
}

BENCHMARK(BM_Query)->ArgsProduct({{0, 1, 2, 3}, {1, 0}, {0, 1}})->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
