// Time to build the OBB tree of a polyhedron, and the tree's memory.
//
// Meshes are procedural tori of 10^4, 10^5 and 10^6 triangles held by a real
// polyhedron (float points, read through its points transform), plus a
// random soup. Counters: bytes of the box array per triangle, tree depth,
// and triangles built per second.

#include <tests/support/Meshes.h>
#include <tests/support/SceneFixtures.h>

#include <tvx/bvtree/CtvxPolyhedronOBBTree.h>
#include <tvx/bvtree/CtvxPolyhedronOBBTreeFactory.h>
#include <tvx/bvtree/CtvxTreeValidator.h>
#include <tvx/geometry/CtvxPolyhedron.h>
#include <tvx/progress/CtvxProgressDelegate.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>

namespace {

tvxtest::Mesh torusWith(int triangles)
{
    // 2 * nMajor * nMinor triangles with nMajor = 2 * nMinor.
    int nMinor = 1;
    while (4 * (nMinor + 1) * (nMinor + 1) <= triangles)
        ++nMinor;
    int const nMajor = triangles / (2 * nMinor);
    return tvxtest::makeTorus(nMajor, nMinor, 3.0, 1.0);
}

CtvxPolyhedronOBBTree const* treeOf(CtvxPoly const& poly)
{
    CtvxPolyhedronBVTree* tree = nullptr;
    poly.getBoundingVolumes(tree);
    return dynamic_cast<CtvxPolyhedronOBBTree const*>(tree);
}

void runBuild(benchmark::State& state, tvxtest::Mesh const& mesh, bool mend)
{
    boost::shared_ptr<CtvxPolyhedron> poly = tvxtest::polyhedronOf(mesh);
    CtvxPolyhedronOBBTreeFactory::conservativeBoxes(mend);
    // Check the answer once before timing.
    poly->buildBV(s_defaultNullDelegate, CtvxPoly::BV_OBB_TREE);
    if (mend) {
        CtvxTreeValidator::Report report;
        if (CtvxTreeValidator::create()->validate(poly, report) != 0) {
            state.SkipWithError(report.verdict.c_str());
            CtvxPolyhedronOBBTreeFactory::conservativeBoxes(true);
            return;
        }
    }
    for (auto _ : state) {
        poly->resetBV();
        poly->buildBV(s_defaultNullDelegate, CtvxPoly::BV_OBB_TREE);
        benchmark::DoNotOptimize(poly->polyObb());
    }
    CtvxPolyhedronOBBTreeFactory::conservativeBoxes(true);
    CtvxPolyhedronOBBTree const* tree = treeOf(*poly);
    double const n = static_cast<double>(poly->countTriangles());
    state.counters["triangles"] = n;
    state.counters["bytes_per_triangle"] = static_cast<double>(tree->countObbs()) * sizeof(CtvxOBB) / n;
    state.counters["depth"] = tree->depth();
    state.counters["triangles_per_s"] =
        benchmark::Counter(n * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_BuildTorus(benchmark::State& state)
{
    static tvxtest::Mesh mesh;
    static int made = -1;
    if (made != state.range(0)) {
        mesh = torusWith(static_cast<int>(state.range(0)));
        made = static_cast<int>(state.range(0));
    }
    runBuild(state, mesh, state.range(1) != 0);
}

void BM_BuildSoup(benchmark::State& state)
{
    tvxtest::Random rng(1);
    tvxtest::Mesh const mesh = tvxtest::makeSoup(rng, static_cast<int>(state.range(0)), 100.0, 1.0);
    runBuild(state, mesh, true);
}

} // namespace

BENCHMARK(BM_BuildTorus)
    ->ArgsProduct({{1000, 10000, 100000, 1000000}, {1, 0}})
    ->ArgNames({"triangles", "mend"})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BuildSoup)->Arg(100000)->ArgName("triangles")->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
