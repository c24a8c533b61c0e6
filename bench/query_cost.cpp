// A fixed workload for instruction counts of one query between two plain
// polyhedra: a torus of 960 triangles (list 1) and a sphere of 576 (list 2),
// their trees built, queried N times by one kept analysis.
//
//   query_cost first|all|exact|estimated N [--moved] [--hit] [--size T]
//
// Far apart by default (the root boxes separate at once, a miss at the
// roots); --hit puts the sphere's centre on the torus's ring. --moved
// places the sphere before every query, absolutePosition() turning it in
// turn between two poses of the same band, as a planner or a simulation
// moves its robot; otherwise it stays where the first query found it. Run
// under callgrind for N and 2N and take the difference over N:
//   valgrind --tool=callgrind --collect-atstart=no
//     --toggle-collect='CtvxAnalysis::compute()'
//     build/release/bench/query_cost first 400 --moved
// (`--toggle-collect='CtvxObject::absolutePosition(CqarMat4 const&)'` counts
// the host's move instead). Prints the boxes and triangles tested by the last
// query, so that a hit or a miss is seen to be one. --size T makes both
// meshes of about T triangles instead (peer_compare's procedural pair: a
// torus of tube 0.3 and a sphere of radius 0.5), to see what the size of
// the trees adds to a miss at the roots (run with --cache-sim=yes).
// --turns K places the sphere before every query at the next of K poses
// around the torus's outer equator, each turned about its own axis, the
// sphere G off the torus (--gap G, 0.2 by default: a working clearance),
// so that every query of an exact clearance walks trees it has not met
// lately, as a planner's or peer_compare's fresh poses do; with --time it
// prints the median and lowest microseconds a query took and the processor
// time a query used (for interleaved runs of two builds; the counts are
// callgrind's).
#include <tvx/analysis/CtvxAnalysis.h>
#include <tvx/geometry/CtvxPolyhedron.h>
#include <tvx/scene/CtvxCollisionList.h>

#include <tests/support/AnalysisProbe.h>
#include <tests/support/Meshes.h>
#include <tests/support/SceneFixtures.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    char const* const names[] = {"first", "all", "exact", "estimated"};
    if (argc < 3)
        return 2;
    int type = -1;
    for (int t = 0; t < 4; ++t)
        if (std::strcmp(argv[1], names[t]) == 0)
            type = t;
    int const n = std::atoi(argv[2]);
    bool moved = false, hit = false, timed = false;
    int size = 0, turns = 0;
    double gap = 0.2;
    for (int i = 3; i < argc; ++i) {
        moved = moved || std::strcmp(argv[i], "--moved") == 0;
        hit = hit || std::strcmp(argv[i], "--hit") == 0;
        timed = timed || std::strcmp(argv[i], "--time") == 0;
        if (std::strcmp(argv[i], "--size") == 0 && i + 1 < argc)
            size = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--turns") == 0 && i + 1 < argc)
            turns = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--gap") == 0 && i + 1 < argc)
            gap = std::atof(argv[++i]);
    }
    if (type < 0 || n <= 0 || turns < 0 || !(gap >= 0.0))
        return 2;

    // peer_compare's split of about `size` triangles a mesh.
    int const minor = std::max(3, int(std::lround(std::sqrt(size / 8.0))));
    int const stacks = std::max(3, int(std::lround(std::sqrt(size / 4.0))));
    boost::shared_ptr<CtvxProgressDelegate> none;
    boost::shared_ptr<CtvxPolyhedron> a = tvxtest::makePolyhedron(
        size > 0 ? tvxtest::makeTorus(std::max(3, size / (2 * minor)), minor, 1.0, 0.3) : tvxtest::makeTorus(40, 12, 1.0, 0.3));
    boost::shared_ptr<CtvxPolyhedron> b = tvxtest::makePolyhedron(
        size > 0 ? tvxtest::makeUVSphere(std::max(3, size / (2 * (stacks - 1))), stacks, 0.5)
                 : tvxtest::makeUVSphere(24, 13, 0.5));
    a->makeCollisionEntity(none);
    b->makeCollisionEntity(none);
    boost::shared_ptr<CtvxAnalysis> analysis =
        tvxtest::analysisOf(tvxtest::listOf({a}), tvxtest::listOf({b}), CtvxAnalysis::EAnalysisType(type));

    // A turn by `angle` about the unit axis u, without translation.
    auto const turned = [](double const (&u)[3], double angle, CqarMat4& m) {
        double const c = std::cos(angle), s = std::sin(angle);
        m.identity();
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j) {
                double const cross = (i == j) ? 0.0 : ((j == (i + 1) % 3) ? -u[3 - i - j] : u[3 - i - j]);
                m(i, j) = (i == j ? c : 0.0) + (1.0 - c) * u[i] * u[j] + s * cross;
            }
    };
    // Two poses of the same band: the sphere off the torus by 4 (or on its
    // ring), turned by 0.1 and 0.2 rad about an oblique axis.
    CqarMat4 pose[2];
    for (int k = 0; k < 2; ++k) {
        double const u[3] = {0.48, 0.6, 0.64}; // a unit axis
        CqarMat4& m = pose[k];
        turned(u, 0.1 * (k + 1), m);
        m(0, 3) = hit ? 1.0 : 4.0 + 0.01 * k;
        m(1, 3) = 0.02 * k;
        m(2, 3) = 0.0;
    }
    // The K poses of --turns: the sphere's centre on the torus's plane at
    // golden-angle steps round it, 1.3 + 0.5 + gap from its axis, turned
    // about axes spread the same way over the sphere of directions.
    std::vector<CqarMat4> spread(static_cast<std::size_t>(turns));
    for (int k = 0; k < turns; ++k) {
        double const golden = 2.399963229728653 * k;
        double const z = 1.0 - (2.0 * k + 1.0) / turns;
        double const u[3] = {std::sqrt(1.0 - z * z) * std::cos(golden), std::sqrt(1.0 - z * z) * std::sin(golden), z};
        CqarMat4& m = spread[static_cast<std::size_t>(k)];
        turned(u, 1.0 + 0.7 * k, m);
        m(0, 3) = (1.8 + gap) * std::cos(golden);
        m(1, 3) = (1.8 + gap) * std::sin(golden);
        m(2, 3) = 0.0;
    }
    b->absolutePosition(turns > 0 ? spread[0] : pose[0]);
    analysis->compute();
    std::vector<double> times;
    times.reserve(static_cast<std::size_t>(n));
    // Processor time, which a busy machine's waits for a core leave out.
    std::clock_t const cpu0 = std::clock();
    for (int q = 0; q < n; ++q) {
        if (turns > 0)
            b->absolutePosition(spread[static_cast<std::size_t>((q + 1) % turns)]);
        else if (moved)
            b->absolutePosition(pose[(q + 1) & 1]);
        auto const t0 = std::chrono::steady_clock::now();
        analysis->compute();
        times.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count());
    }
    double const cpu = 1e6 * double(std::clock() - cpu0) / CLOCKS_PER_SEC / n;
    if (timed) {
        std::sort(times.begin(), times.end());
        std::printf("%s: median %.2f us, lowest %.2f us, processor %.2f us a query over %d\n", names[type],
                    times[times.size() / 2], times.front(), cpu, n);
    }
    std::printf("%s %s%s: %lu box tests, %lu triangle tests, %u contacts, %u distances\n", names[type],
                hit ? "hit" : "miss", moved ? " moved" : "", tvxtest::AnalysisProbe::boxTests(*analysis),
                tvxtest::AnalysisProbe::triangleTests(*analysis), analysis->countCollisions(),
                analysis->countDistances());
    return 0;
}
