#pragma once

// What the analyses keep for benchmarks and tests, reached through the
// library's internal headers: the box and triangle test counts of a
// driver's last compute(), the walk its pairs take, whether its driver
// uses a broad phase and what that keeps, and one pair query through a
// chosen walk, in a scratch of its own.

#include <tvx/analysis/CtvxAnalysis.h>
#include <tvx/analysis/CtvxCollision.h>
#include <tvx/analysis/CtvxDistance.h>
#include <tvx/analysis/internal/CtvxPairContext.h>
#include <tvx/analysis/internal/CtvxQueryScratch.h>

#include <boost/shared_ptr.hpp>

#include <cstddef>
#include <memory>

namespace tvxtest {

struct AnalysisProbe {
    static unsigned long boxTests(CtvxAnalysis const& a) { return a.queryScratch().boxTests; }
    static unsigned long triangleTests(CtvxAnalysis const& a) { return a.queryScratch().triangleTests; }
    static unsigned long unsureTests(CtvxAnalysis const& a) { return a.queryScratch().unsureTests; }
    // Every pair of a's later queries walks the plain recursive way (true),
    // or the ordered way that queries take by default.
    static void plainWalk(CtvxAnalysis& a, bool on) { a.queryScratch().walk = on ? CtvxWalk::Plain : CtvxWalk::Ordered; }
    // a's later queries go through the broad phase past the crossover
    // (AUTOMATIC, as by default), always, or never (every pair, the
    // reference).
    static void broadPhase(CtvxAnalysis& a, CtvxBroadPhase::EUse use) { a.queryScratch().broadUse = use; }
    static std::size_t broadPhaseBytes(CtvxAnalysis const& a) { return a.queryScratch().broad.bytes(); }
    // Pair walks of a's exact clearance queries so far that resumed from
    // the front the query before kept.
    static unsigned long frontResumes(CtvxAnalysis const& a) { return a.queryScratch().fronts.resumes; }
};

// One query between two triangle sets through the given walk.
struct PairRun {
    bool collided = false;
    bool distanceFound = false;
    unsigned long boxTests = 0;
    unsigned long triangleTests = 0;
};

inline PairRun runPair(boost::shared_ptr<CtvxPoly> const& poly1, boost::shared_ptr<CtvxPoly> const& poly2,
                       CtvxAnalysis::EAnalysisType type, CtvxWalk walk, boost::shared_ptr<CtvxCollision>& collision,
                       boost::shared_ptr<CtvxDistance>& distance)
{
    std::unique_ptr<CtvxQueryScratch> const scratch(new CtvxQueryScratch());
    CtvxPairContext pair(poly1, poly2, *scratch);
    PairRun run;
    pair.compute(type, walk, run.collided, collision, run.distanceFound, distance);
    run.boxTests = pair.boxTests();
    run.triangleTests = pair.triangleTests();
    return run;
}

} // namespace tvxtest
