// The long run: a million mixed queries, and scenes built and destroyed over
// and over, in one process, whose memory must stay flat.
//
//   tvx_long_memory            (TVX_TEST_SCALE scales the query count)
//
// Each cycle builds a scene from one of four recipes (an assembly of three
// polyhedra, regrouped or not, against obstacles of which two share their
// mesh data), makes its collision entities, moves the assembly along a
// random walk and runs the four query types in turn, reading every result;
// now and then it changes a tolerance or an activation, or replaces the
// analysis. Then everything is released. Once every recipe has run (the
// warm-up), the heap in use after a scene is gone must stay where it was,
// and so must the resident size: a leak of one result a query would add
// tens of megabytes, of one scene a cycle some hundreds of kilobytes. The
// first-contact and the all-contacts queries must agree all along.
//
// Prints the peak resident size at the start, after the warm-up and at the
// end; exit status 1 when memory grew or an answer disagreed.

#include <tests/support/Meshes.h>
#include <tests/support/Random.h>
#include <tests/support/SceneFixtures.h>

#include <tvx/tvx.h>

#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

using tvxtest::Affine;
using tvxtest::Mesh;
using tvxtest::Random;

// Kilobytes of a "VmHWM:" or "VmRSS:" line of /proc/self/status.
long statusKb(char const* field)
{
    std::ifstream in("/proc/self/status");
    std::string line;
    std::size_t const n = std::strlen(field);
    while (std::getline(in, line))
        if (line.compare(0, n, field) == 0)
            return std::stol(line.substr(n));
    return -1;
}

// Bytes the allocator has handed out and not got back (not meaningful under
// the sanitizers, whose allocator does not report here).
std::size_t heapInUse()
{
    struct mallinfo2 const m = mallinfo2();
    return m.uordblks + m.hblkhd;
}

struct Scene {
    boost::shared_ptr<CtvxAssembly> robot;
    std::vector<boost::shared_ptr<CtvxPolyhedron>> obstacles;
    boost::shared_ptr<CtvxCollisionList> list1, list2;
};

Scene buildScene(int recipe, Random& rng)
{
    Scene s;
    s.robot = CtvxAssembly::create();
    std::vector<Mesh> const parts = {tvxtest::makeIcosphere(2, 0.5), tvxtest::makeTorus(12, 8, 0.6, 0.15),
                                     tvxtest::makeBox(0.2, 0.3, 0.4)};
    for (std::size_t i = 0; i < parts.size(); ++i) {
        boost::shared_ptr<CtvxPolyhedron> p = tvxtest::makePolyhedron(parts[i]);
        p->relativePosition(tvxtest::toQar(tvxtest::randomRigid(rng, 0.8)));
        s.robot->attach(p, -1);
    }
    int const obstacleCount = 4 + recipe;
    boost::shared_ptr<CtvxPolyhedronData> shared = tvxtest::makePolyData(tvxtest::makeSoup(rng, 200, 1.5, 0.3));
    for (int i = 0; i < obstacleCount; ++i) {
        boost::shared_ptr<CtvxPolyhedron> o;
        if (i < 2)
            o = CtvxPolyhedron::create(shared);
        else
            o = tvxtest::makePolyhedron(i % 2 ? tvxtest::makeUVSphere(16, 10, 0.7)
                                              : tvxtest::makeSoup(rng, 300 + 100 * recipe, 2.0, 0.25));
        o->absolutePosition(tvxtest::toQar(tvxtest::randomRigid(rng, 4.0)));
        s.obstacles.push_back(o);
    }
    boost::shared_ptr<CtvxProgressDelegate> none;
    // Odd recipes regroup the assembly into one tree, even ones keep a tree
    // per part.
    if (recipe % 2)
        s.robot->makeCollisionEntity(none);
    else
        for (unsigned i = 0; i < s.robot->countChildren(); ++i)
            s.robot->child(i)->makeCollisionEntity(none);
    for (auto const& o : s.obstacles)
        o->makeCollisionEntity(none);
    s.list1 = tvxtest::listOf({s.robot});
    s.list2 = CtvxCollisionList::create();
    for (auto const& o : s.obstacles)
        s.list2->add(o);
    return s;
}

struct Tally {
    long queries = 0;
    long contacts = 0;
    long pairs = 0;
    long distances = 0;
    long disagreements = 0;
};

// Runs the four query types in turn at one pose and reads every result.
void queryAll(CtvxAnalysis& analysis, Tally& tally)
{
    bool contact[2] = {false, false};
    for (int type = 0; type < 4; ++type) {
        analysis.setAnalysisType(static_cast<CtvxAnalysis::EAnalysisType>(type));
        analysis.compute();
        ++tally.queries;
        if (type < 2)
            contact[type] = analysis.countCollisions() > 0;
        for (unsigned i = 0; i < analysis.countCollisions(); ++i) {
            boost::shared_ptr<CtvxCollision> c;
            analysis.getCollision(i, c);
            ++tally.contacts;
            for (unsigned k = 0; k < c->countPairs(); ++k) {
                boost::shared_ptr<CtvxGeometrySubElement> a, b;
                c->getFirst(k, a);
                c->getSecond(k, b);
                tally.pairs += a && b;
            }
        }
        for (unsigned i = 0; i < analysis.countDistances(); ++i) {
            boost::shared_ptr<CtvxDistance> d;
            analysis.getDistance(i, d);
            boost::shared_ptr<CtvxGeometryPoint> p;
            CqarPoint3 q;
            if (d->getClosestPoint1(p) == 0)
                p->pointAbsolute(q);
            ++tally.distances;
        }
    }
    tally.disagreements += contact[0] != contact[1];
}

} // namespace

int main()
{
    long const peakAtStart = statusKb("VmHWM:");
    int const recipes = 4;
    long const queriesWanted = tvxtest::runs(1000000);
    // About 10^4 queries a scene, and never fewer than two rounds of recipes.
    int const cycles = static_cast<int>(std::max<long>(2 * recipes, queriesWanted / 10000));
    long const posesPerCycle = std::max<long>(1, queriesWanted / (4L * cycles));
    std::printf("long run: %d scenes, %ld poses each, 4 queries a pose\n", cycles, posesPerCycle);

    Random rng(20261208);
    Tally tally;
    std::size_t heapAfterWarmUp = 0;
    long rssAfterWarmUp = 0, peakAfterWarmUp = 0;
    std::size_t heapLow = static_cast<std::size_t>(-1), heapHigh = 0;
    auto const start = std::chrono::steady_clock::now();
    for (int cycle = 0; cycle < cycles; ++cycle) {
        {
            Scene scene = buildScene(cycle % recipes, rng);
            boost::shared_ptr<CtvxAnalysis> analysis = tvxtest::analysisOf(scene.list1, scene.list2,
                                                                           CtvxAnalysis::FIRST_COLLISION);
            Affine pose = tvxtest::randomRigid(rng, 2.0);
            for (long i = 0; i < posesPerCycle; ++i) {
                // A random walk: small steps, so that the remembered pairs
                // and hints are used as a moving host would use them.
                pose = tvxtest::randomRigid(rng, 0.05) * pose;
                if (pose.maxAbs() > 5.0)
                    pose = tvxtest::randomRigid(rng, 2.0);
                scene.robot->absolutePosition(tvxtest::toQar(pose));
                if (i % 997 == 0)
                    scene.obstacles[rng.below(static_cast<std::uint32_t>(scene.obstacles.size()))]->setTolerance(
                        rng.chance(0.5) ? 0.0 : 0.01);
                if (i % 1499 == 0)
                    scene.obstacles[rng.below(static_cast<std::uint32_t>(scene.obstacles.size()))]->activation(
                        rng.chance(0.7));
                if (i % 2503 == 0)
                    analysis = tvxtest::analysisOf(scene.list1, scene.list2, CtvxAnalysis::FIRST_COLLISION);
                queryAll(*analysis, tally);
            }
        }
        // The scene and its analysis are gone.
        std::size_t const heap = heapInUse();
        if (cycle == recipes - 1) {
            heapAfterWarmUp = heap;
            rssAfterWarmUp = statusKb("VmRSS:");
            peakAfterWarmUp = statusKb("VmHWM:");
        }
        if (cycle >= recipes) {
            heapLow = std::min(heapLow, heap);
            heapHigh = std::max(heapHigh, heap);
        }
    }
    double const seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    long const peakAtEnd = statusKb("VmHWM:"), rssAtEnd = statusKb("VmRSS:");
    std::size_t const heapAtEnd = heapInUse();

    std::printf("queries %ld in %.1f s; contacts %ld (%ld triangle pairs), distances %ld\n", tally.queries,
                seconds, tally.contacts, tally.pairs, tally.distances);
    std::printf("peak resident size: %ld kB at the start, %ld kB after the warm-up, %ld kB at the end\n", peakAtStart,
                peakAfterWarmUp, peakAtEnd);
    std::printf("resident size: %ld kB after the warm-up, %ld kB at the end\n", rssAfterWarmUp, rssAtEnd);
    std::printf("heap in use between scenes: %zu bytes after the warm-up, %zu to %zu after, %zu at the end\n",
                heapAfterWarmUp, heapLow, heapHigh, heapAtEnd);

    bool ok = tally.disagreements == 0;
    if (!ok)
        std::printf("FAILED: first-contact and all-contacts queries disagreed %ld times\n", tally.disagreements);
#if !defined(TVX_TEST_SLOW_BUILD)
    // Between scenes nothing of theirs is left: what stays allocated is the
    // per-thread scratch of the walks, whose pools may still grow a little
    // on a deeper walk than any of the warm-up. 256 kB is far below one
    // leaked scene a cycle (cycles x hundreds of kB) or one leaked result a
    // query (millions x tens of bytes).
    std::size_t const heapSlack = 256 * 1024;
    if (heapHigh > heapAfterWarmUp + heapSlack) {
        std::printf("FAILED: the heap in use between scenes grew by %zu bytes after the warm-up\n",
                    heapHigh - heapAfterWarmUp);
        ok = false;
    }
    // The resident size follows the heap, give or take the allocator's
    // free lists and pages: 4 MB.
    long const rssSlackKb = 4096;
    if (peakAtEnd > peakAfterWarmUp + rssSlackKb) {
        std::printf("FAILED: the peak resident size grew by %ld kB after the warm-up\n", peakAtEnd - peakAfterWarmUp);
        ok = false;
    }
#endif
    std::printf("%s\n", ok ? "memory flat" : "FAILED");
    return ok ? 0 : 1;
}
