// The fixed cost of a query above the trees: CtvxAnalysis::compute for the
// four query types on scenes where the trees have almost nothing to do.
//
// Scenes: two plain polyhedra (spheres of 5120 triangles), two assemblies of
// four such spheres each (the members are entities of their own, so the
// driver descends the assemblies with their enclosing boxes), the same two
// assemblies regrouped (one triangle set each), and two lists of eight
// spheres (64 object pairs, the per-pair cost). Poses: "far" (the root
// boxes separate at once) and "touching" (two spheres overlap by 1% of their
// radius, so a contact is found after a few box tests). The analyses are
// kept between iterations, as a host re-querying a scene would keep them.
// Box and triangle tests per query are counters, read from the analysis.
#include <tvx/analysis/CtvxAnalysis.h>
#include <tvx/analysis/CtvxCollision.h>
#include <tvx/analysis/CtvxDistance.h>
#include <tvx/geometry/CtvxPolyhedron.h>
#include <tvx/scene/CtvxAssembly.h>
#include <tvx/scene/CtvxCollisionList.h>

#include <tests/support/AnalysisProbe.h>
#include <tests/support/Meshes.h>
#include <tests/support/SceneFixtures.h>

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace {

using namespace tvxtest;
typedef boost::shared_ptr<CtvxObject> ObjectPtr;

enum Kind { PLAIN = 0, ASSEMBLY = 1, REGROUPED = 2, LISTS = 3 };
char const* const kKindNames[] = {"plain", "assembly", "regrouped", "lists"};
char const* const kTypeNames[] = {"first", "all", "exact", "estimated"};

struct DriverScene {
    ObjectPtr side1, side2;
    std::vector<ObjectPtr> list2Objects;
    boost::shared_ptr<CtvxAnalysis> analysis[4];

    explicit DriverScene(Kind kind)
    {
        boost::shared_ptr<CtvxProgressDelegate> none;
        Mesh const sphere = makeIcosphere(4, 1.0);
        if (kind == PLAIN) {
            boost::shared_ptr<CtvxPolyhedron> a = makePolyhedron(sphere), b = makePolyhedron(sphere);
            a->makeCollisionEntity(none);
            b->makeCollisionEntity(none);
            side1 = a;
            side2 = b;
        } else if (kind != LISTS) {
            side1 = makeAssembly(sphere, kind == REGROUPED);
            side2 = makeAssembly(sphere, kind == REGROUPED);
        }
        boost::shared_ptr<CtvxCollisionList> l1 = CtvxCollisionList::create(), l2 = CtvxCollisionList::create();
        if (kind == LISTS) {
            // Eight spheres per list along y, 2.5 apart; list 2 moves as one.
            for (int k = 0; k < 8; ++k) {
                boost::shared_ptr<CtvxPolyhedron> a = makePolyhedron(sphere), b = makePolyhedron(sphere);
                a->relativePosition(translationMat(0, 2.5 * k, 0));
                a->makeCollisionEntity(none);
                b->makeCollisionEntity(none);
                l1->add(a);
                l2->add(b);
                list2Objects.push_back(b);
            }
        } else {
            l1->add(side1);
            l2->add(side2);
        }
        for (int t = 0; t < 4; ++t) {
            analysis[t] = CtvxAnalysis::create();
            analysis[t]->setCollisionList1(l1);
            analysis[t]->setCollisionList2(l2);
            analysis[t]->setAnalysisType(CtvxAnalysis::EAnalysisType(t));
        }
    }

    // Four unit spheres in a row along y, 2.5 apart; the one at y = 0 is
    // the one that touches in the touching pose.
    static ObjectPtr makeAssembly(Mesh const& sphere, bool regroup)
    {
        boost::shared_ptr<CtvxProgressDelegate> none;
        boost::shared_ptr<CtvxAssembly> a = CtvxAssembly::create();
        for (int k = 0; k < 4; ++k) {
            boost::shared_ptr<CtvxPolyhedron> p = makePolyhedron(sphere);
            p->relativePosition(translationMat(0, 2.5 * k, 0));
            a->attach(p, -1);
            if (!regroup)
                p->makeCollisionEntity(none);
        }
        if (regroup)
            a->makeCollisionEntity(none);
        return a;
    }

    // Side 2 moved along x: 1.98 overlaps the unit spheres at y = 0 by 0.02;
    // 50 puts every box of side 2 far from every box of side 1.
    void place(bool touching)
    {
        double const x = touching ? 1.98 : 50.0;
        if (side2)
            side2->absolutePosition(translationMat(x, 0, 0));
        for (std::size_t k = 0; k < list2Objects.size(); ++k)
            list2Objects[k]->absolutePosition(translationMat(x, 2.5 * static_cast<double>(k), 0));
    }
};

DriverScene& scene(Kind kind)
{
    static DriverScene plain(PLAIN), assembly(ASSEMBLY), regrouped(REGROUPED), lists(LISTS);
    DriverScene* const scenes[] = {&plain, &assembly, &regrouped, &lists};
    return *scenes[kind];
}

void BM_Driver(benchmark::State& state)
{
    Kind const kind = static_cast<Kind>(state.range(0));
    int const type = static_cast<int>(state.range(1));
    bool const touching = state.range(2) != 0;
    DriverScene& s = scene(kind);
    s.place(touching);
    CtvxAnalysis& an = *s.analysis[type];
    an.compute();
    // The answer, checked once before timing: a contact exactly when
    // touching, and in the distance queries a clearance when far.
    bool ok = (an.countCollisions() > 0) == touching;
    if (!touching && type >= CtvxAnalysis::EXACT_DISTANCE) {
        boost::shared_ptr<CtvxDistance> d;
        ok = ok && an.countDistances() > 0;
        if (ok) {
            an.getDistance(0, d);
            // The facets lie inside the unit spheres: the exact clearance is
            // 48 plus at most the sagitta of a facet (below 0.01 here).
            float const exact = d->distance();
            ok = type == CtvxAnalysis::EXACT_DISTANCE ? exact >= 48.0f && exact < 48.01f
                                                     : exact > 0.0f && exact < 48.01f;
        }
    }
    if (!ok) {
        state.SkipWithError("unexpected answer");
        return;
    }
    for (auto _ : state) {
        an.compute();
        benchmark::DoNotOptimize(an.countCollisions());
    }
    an.compute();
    state.counters["boxTests"] = static_cast<double>(AnalysisProbe::boxTests(an));
    state.counters["triTests"] = static_cast<double>(AnalysisProbe::triangleTests(an));
    state.SetLabel(std::string(kKindNames[kind]) + " " + kTypeNames[type] + (touching ? " touching" : " far"));
}

BENCHMARK(BM_Driver)
    ->ArgsProduct({{PLAIN, ASSEMBLY, REGROUPED, LISTS}, {0, 1, 2, 3}, {0, 1}})
    ->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
