// Reading triangle vertices through the scene's triangle sets, the inner
// loop of every tree descent: a polyhedron whose points transform is the
// identity (the direct path), a moved one (a matrix product per vertex),
// and the group of a regrouped assembly of four such polyhedra. Each read
// is checked once against the mesh data before timing.

#include <tests/support/Meshes.h>
#include <tests/support/SceneFixtures.h>

#include <tvx/geometry/CtvxPolyhedron.h>
#include <tvx/geometry/CtvxPolyhedronData.h>
#include <tvx/scene/CtvxAssembly.h>
#include <tvx/scene/CtvxPolyhedronGroup.h>

#include <benchmark/benchmark.h>

#include <cmath>

namespace {

// Sum of all vertex coordinates of a triangle set, in its own frame.
double sumVertices(CtvxPoly const& p)
{
    double s = 0.0;
    CqarPoint3 v[3];
    unsigned int const n = p.countTriangles();
    for (unsigned int t = 0; t < n; ++t) {
        p.getTriangle(t, v);
        s += v[0][0] + v[1][1] + v[2][2];
    }
    return s;
}

// The same sum from the stored floats through an explicit transform.
double referenceSum(CtvxPolyhedronData const& d, CqarMat4 const& m)
{
    double s = 0.0;
    for (unsigned int t = 0; t < d.countTriangles(); ++t) {
        CqarPoint3 v[3];
        d.getTriangle(t, v);
        s += (m * v[0])[0] + (m * v[1])[1] + (m * v[2])[2];
    }
    return s;
}

void readAll(benchmark::State& state, CtvxPoly const& p, double expected)
{
    if (std::fabs(sumVertices(p) - expected) > 1e-9 * (1.0 + std::fabs(expected))) {
        state.SkipWithError("vertex read disagrees with the mesh data");
        return;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(sumVertices(p));
    state.counters["triangles/s"] =
        benchmark::Counter(static_cast<double>(p.countTriangles()), benchmark::Counter::kIsIterationInvariantRate);
}

void BM_PolyhedronIdentity(benchmark::State& state)
{
    boost::shared_ptr<CtvxPolyhedron> p = tvxtest::makePolyhedron(tvxtest::makeIcosphere(5, 1.0));
    readAll(state, *p, referenceSum(*p->polyData(), CqarMat4()));
}
BENCHMARK(BM_PolyhedronIdentity);

void BM_PolyhedronMoved(benchmark::State& state)
{
    boost::shared_ptr<CtvxPolyhedron> p = tvxtest::makePolyhedron(tvxtest::makeIcosphere(5, 1.0));
    CqarMat4 m;
    m(0, 3) = 2.0;
    m(0, 0) = m(1, 1) = std::cos(0.3);
    m(0, 1) = -std::sin(0.3);
    m(1, 0) = std::sin(0.3);
    p->movePoints(m);
    readAll(state, *p, referenceSum(*p->polyData(), m));
}
BENCHMARK(BM_PolyhedronMoved);

void BM_GroupOfFour(benchmark::State& state)
{
    boost::shared_ptr<CtvxAssembly> a = CtvxAssembly::create();
    boost::shared_ptr<CtvxPolyhedronData> d = tvxtest::makePolyData(tvxtest::makeIcosphere(4, 1.0));
    double expected = 0.0;
    for (int i = 0; i < 4; ++i) {
        boost::shared_ptr<CtvxPolyhedron> p = CtvxPolyhedron::create(d);
        CqarMat4 m;
        m(0, 3) = 3.0 * i;
        p->relativePosition(m);
        a->attach(p, -1);
        expected += referenceSum(*d, m);
    }
    boost::shared_ptr<CtvxProgressDelegate> none;
    a->makeCollisionEntity(none);
    readAll(state, *a->regroupedPoly(), expected);
}
BENCHMARK(BM_GroupOfFour);

} // namespace

BENCHMARK_MAIN();
