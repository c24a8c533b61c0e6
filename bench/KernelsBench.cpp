// Cost of one call of each proximity kernel on pre-generated random inputs
// (a mix of separated and overlapping pairs). The inputs are checked once
// against the double-precision reference before timing.

#include <tvx/analysis/internal/CtvxProximityKernels.h>
#include <tvx/bvtree/CtvxHalf.h>
#include <tvx/bvtree/CtvxOBB.h>
#include <tvx/bvtree/internal/CtvxObbReader.h>

#include <qar/CqarQuatF.h>

#include <tests/support/Random.h>
#include <tests/support/ReferenceGeometry.h>
#include <tests/support/TrianglePairs.h>

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

namespace {

constexpr int kInputs = 4096;

struct TriPair {
    float s[3][3];
    float t[3][3];
};

struct BoxPair {
    float a[3];
    float b[3];
    CtvxMat4 m;
    CqarMat4 r;
};

struct BoxTri {
    float h[3];
    float tri[3][3];
};

struct Inputs {
    std::vector<TriPair> tris;
    std::vector<BoxPair> boxes;
    std::vector<BoxTri> boxTris;
    bool valid = true;

    Inputs()
    {
        tvxtest::Random rng(4242);
        tris.resize(kInputs);
        for (TriPair& p : tris) {
            // Mostly general position, some touching and near-parallel.
            tvxtest::PairFamily const f = rng.chance(0.7)   ? tvxtest::PairFamily::General
                                          : rng.chance(0.5) ? tvxtest::PairFamily::Touching
                                                            : tvxtest::PairFamily::NearParallel;
            tvxtest::makeTrianglePair(rng, f, p.s, p.t);
        }
        boxes.resize(kInputs);
        for (BoxPair& p : boxes) {
            double R[3][3];
            tvxtest::randomRotation(rng, R);
            p.m.identity();
            for (int i = 0; i < 3; ++i) {
                p.a[i] = rng.uniformf(0.1f, 2.0f);
                p.b[i] = rng.uniformf(0.1f, 2.0f);
                double const T = rng.uniform(-4.0, 4.0);
                for (int j = 0; j < 3; ++j) {
                    p.r(i, j) = R[i][j];
                    p.m(i, j) = static_cast<float>(R[i][j]);
                }
                p.r(i, 3) = T;
                p.m(i, 3) = static_cast<float>(T);
            }
        }
        boxTris.resize(kInputs);
        for (BoxTri& p : boxTris) {
            for (int i = 0; i < 3; ++i)
                p.h[i] = rng.uniformf(0.1f, 2.0f);
            for (int k = 0; k < 3; ++k)
                for (int i = 0; i < 3; ++i)
                    p.tri[k][i] = rng.uniformf(-4.0f, 4.0f);
        }

        // One check of each kernel against the reference before any timing.
        CtvxProximityKernels k;
        for (int i = 0; i < 64; ++i) {
            float p[3];
            float q[3];
            double const ref = tvxtest::triangleDistance(tvxtest::toTri(tris[i].s), tvxtest::toTri(tris[i].t));
            if (std::fabs(k.TriDist(p, q, tris[i].s, tris[i].t) - ref) > 1e-4)
                valid = false;
            float sep = 0.0f;
            if (!k.triContact(tris[i].s, tris[i].t, sep) && double(sep) > ref + 1e-4)
                valid = false;
            float bound = 1e30f;
            if (CtvxProximityKernels::boxTriangleSeparation(boxTris[i].tri[0], boxTris[i].tri[1], boxTris[i].tri[2],
                                                            boxTris[i].h, 0.0f, true, bound) != 0 &&
                double(bound) > tvxtest::boxTriangleDistance(
                                    tvxtest::axisBox(boxTris[i].h[0], boxTris[i].h[1], boxTris[i].h[2]),
                                    tvxtest::toTri(boxTris[i].tri)) +
                                    1e-4)
                valid = false;
        }
    }
};

Inputs const& inputs()
{
    static Inputs const in;
    return in;
}

void finish(benchmark::State& state, long separated)
{
    state.SetItemsProcessed(state.iterations());
    state.counters["separated"] =
        benchmark::Counter(static_cast<double>(separated) / static_cast<double>(state.iterations()));
}

void BM_TriDist(benchmark::State& state)
{
    Inputs const& in = inputs();
    if (!in.valid)
        state.SkipWithError("kernel disagrees with the reference");
    CtvxProximityKernels k;
    float p[3];
    float q[3];
    long separated = 0;
    int i = 0;
    for (auto _ : state) {
        float const d = k.TriDist(p, q, in.tris[i].s, in.tris[i].t);
        benchmark::DoNotOptimize(d);
        separated += d > 0.0f;
        i = (i + 1) & (kInputs - 1);
    }
    finish(state, separated);
    state.counters["unsure"] =
        benchmark::Counter(static_cast<double>(k.unsureDecisions()) / static_cast<double>(state.iterations()));
}
BENCHMARK(BM_TriDist);

// The 17-axis test alone, or the contact decision the contact queries make
// (the same test, with what it leaves unsure settled exactly); the share of
// unsure pairs is reported.
void BM_TriContact(benchmark::State& state)
{
    Inputs const& in = inputs();
    if (!in.valid)
        state.SkipWithError("kernel disagrees with the reference");
    CtvxProximityKernels k;
    k.triangleTolerance(static_cast<float>(state.range(0)) * 0.01f);
    bool const decision = state.range(1) != 0;
    long separated = 0;
    int i = 0;
    for (auto _ : state) {
        float sep = 0.0f;
        bool const c = decision ? k.contact(in.tris[i].s, in.tris[i].t, sep) : k.triContact(in.tris[i].s, in.tris[i].t, sep);
        benchmark::DoNotOptimize(c);
        benchmark::DoNotOptimize(sep);
        separated += !c;
        i = (i + 1) & (kInputs - 1);
    }
    finish(state, separated);
    state.counters["unsure"] =
        benchmark::Counter(static_cast<double>(k.unsureDecisions()) / static_cast<double>(state.iterations()));
}
// Arguments: tolerance in hundredths; 1 for the contact decision.
BENCHMARK(BM_TriContact)->Args({0, 0})->Args({10, 0})->Args({0, 1})->Args({10, 1});

// Argument: 0 overlap mode, 1 distance mode (with a bound of 1).
void BM_BoxBoxTree(benchmark::State& state)
{
    Inputs const& in = inputs();
    bool const distance = state.range(0) != 0;
    long separated = 0;
    int i = 0;
    for (auto _ : state) {
        BoxPair const& p = in.boxes[i];
        float bound = 1.0f;
        int const code = CtvxProximityKernels::boxBoxSeparation(p.a, p.b, p.m, 0.01f, distance, bound);
        benchmark::DoNotOptimize(code);
        benchmark::DoNotOptimize(bound);
        separated += code != 0;
        i = (i + 1) & (kInputs - 1);
    }
    finish(state, separated);
}
BENCHMARK(BM_BoxBoxTree)->Arg(0)->Arg(1);

void BM_BoxBoxEnclosing(benchmark::State& state)
{
    Inputs const& in = inputs();
    bool const distance = state.range(0) != 0;
    long separated = 0;
    int i = 0;
    for (auto _ : state) {
        BoxPair const& p = in.boxes[i];
        float bound = 1.0f;
        int const code = CtvxProximityKernels::boxBoxSeparation(p.a, p.b, p.r, distance, bound);
        benchmark::DoNotOptimize(code);
        benchmark::DoNotOptimize(bound);
        separated += code != 0;
        i = (i + 1) & (kInputs - 1);
    }
    finish(state, separated);
}
BENCHMARK(BM_BoxBoxEnclosing)->Arg(0)->Arg(1);

void BM_BoxTriangle(benchmark::State& state)
{
    Inputs const& in = inputs();
    if (!in.valid)
        state.SkipWithError("kernel disagrees with the reference");
    bool const distance = state.range(0) != 0;
    long separated = 0;
    int i = 0;
    for (auto _ : state) {
        BoxTri const& p = in.boxTris[i];
        float bound = 1.0f;
        int const code =
            CtvxProximityKernels::boxTriangleSeparation(p.tri[0], p.tri[1], p.tri[2], p.h, 0.01f, distance, bound);
        benchmark::DoNotOptimize(code);
        benchmark::DoNotOptimize(bound);
        separated += code != 0;
        i = (i + 1) & (kInputs - 1);
    }
    finish(state, separated);
}
BENCHMARK(BM_BoxTriangle)->Arg(0)->Arg(1);

// Reading a stored binary16 value back: one table lookup.
void BM_Binary16Decode(benchmark::State& state)
{
    std::vector<std::uint16_t> bits(kInputs);
    tvxtest::Random rng(7u);
    for (auto& b : bits)
        b = CtvxHalf::fromFloat(rng.uniformf(-100.0f, 100.0f));
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(CtvxHalf::toFloat(bits[i]));
        i = (i + 1) % bits.size();
    }
}
BENCHMARK(BM_Binary16Decode);

// A box's placement as the descent decodes it: the rotation of its stored
// quaternion, inverted, composed with a placement (one visited pair's worth
// of decoding when no cached placement serves).
void BM_BoxPlacementDecode(benchmark::State& state)
{
    std::vector<CtvxOBB> boxes(kInputs);
    tvxtest::Random rng(8u);
    for (auto& b : boxes) {
        float q[4];
        double n = 0;
        for (float& v : q) {
            v = rng.uniformf(-1.0f, 1.0f);
            n += double(v) * v;
        }
        float const s = static_cast<float>(1.0 / std::sqrt(n));
        b.relativeRotation(CqarQuatF(q[0] * s, q[1] * s, q[2] * s, q[3] * s));
        b.relativeTranslation(rng.uniformf(-1, 1), rng.uniformf(-1, 1), rng.uniformf(-1, 1));
        b.halfLengths(0.1f, 0.2f, 0.3f);
    }
    CtvxMat4 x;
    x.rotate(1, 2, 3, 0.5f);
    std::size_t i = 0;
    for (auto _ : state) {
        CtvxMat4 p;
        CtvxObbReader::rotation(boxes[i], p);
        float tx, ty, tz;
        CtvxObbReader::translation(boxes[i], tx, ty, tz);
        p.setColumn(4, tx, ty, tz, 1.0f);
        CtvxMat4 const m = p.inverse() * x;
        benchmark::DoNotOptimize(m.data());
        i = (i + 1) % boxes.size();
    }
}
BENCHMARK(BM_BoxPlacementDecode);

} // namespace

BENCHMARK_MAIN();
