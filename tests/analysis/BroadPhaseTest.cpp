// The broad phase of the query driver. It may only pass over object pairs
// that leave no trace, so a driver that uses it must answer exactly as the
// driver that examines every pair: these tests query two copies of random
// scenes side by side, one through each, over frames of motion and scene
// edits, and compare everything a query leaves behind (results, their order,
// distances and closest points to the bit, hints, prioritary children). The
// box tree under it is checked against brute force.
#include <tvx/analysis/CtvxAnalysis.h>
#include <tvx/analysis/CtvxDistance.h>
#include <tvx/analysis/internal/CtvxBoxTree.h>
#include <tvx/analysis/internal/CtvxBroadPhase.h>
#include <tvx/geometry/CtvxPolyhedron.h>
#include <tvx/geometry/CtvxPolyhedronData.h>
#include <tvx/scene/CtvxAssembly.h>
#include <tvx/scene/CtvxCollisionList.h>
#include <tvx/scene/CtvxPolyhedronGroup.h>

#include <tests/support/AnalysisProbe.h>
#include <tests/support/Meshes.h>
#include <tests/support/QueryRecord.h>
#include <tests/support/Random.h>
#include <tests/support/SceneFixtures.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>
#include <sstream>

namespace {

using tvxtest::Affine;
using tvxtest::toQar;
typedef boost::shared_ptr<CtvxObject> ObjectPtr;

boost::shared_ptr<CtvxProgressDelegate> noDelegate;

// One copy of a random scene: top objects of every kind the driver meets,
// lists over them, and one analysis per list pairing and query type, kept
// across frames. Everything is drawn from the copy's own generator, so two
// copies made with one seed stay identical as long as their queries leave
// the same traces.
class World {
public:
    // moving: the share of the top objects moved each frame; spread: the
    // side of the scene's cube, relative to that of the usual density;
    // lone: the share of the top objects that are lone triangles, half of
    // them laid across the object made just before them, their neighbour
    // in the lists, so that lone triangles meet other lone triangles and
    // boxed objects, touching or not, in whichever rows a list starts with.
    World(std::uint32_t seed, int count, CtvxBroadPhase::EUse use, double moving = 0.35, double spread = 1.0,
          double lone = 0.0)
        : m_rng(seed), m_use(use), m_moving(moving), m_lone(lone)
    {
        tvxtest::Random meshRng(seed + 1);
        std::vector<tvxtest::Mesh> const meshes = {tvxtest::makeBox(0.5, 0.4, 0.3), tvxtest::makeIcosphere(1, 0.5),
                                                   tvxtest::makeTorus(8, 4, 0.45, 0.15),
                                                   tvxtest::makeSoup(meshRng, 1, 0.2, 0.9)};
        for (auto const& m : meshes)
            m_data.push_back(tvxtest::makePolyData(m));
        for (auto const& q : meshes[3].points)
            for (int c = 0; c < 3; ++c)
                m_loneCentre[c] += q[c] / 3.0;
        // About one object in ten touches another.
        m_extent = 2.2 * spread * std::cbrt(static_cast<double>(count));
        for (int k = 0; k < count; ++k)
            m_tops.push_back(makeTop());
        buildLists();
    }

    // Moves some of the objects a little (about a third by default), and
    // now and then edits the scene the ways that change what the broad
    // phase must know.
    std::string frame()
    {
        std::ostringstream what;
        for (ObjectPtr const& o : m_tops) {
            if (m_rng.chance(m_moving)) {
                CqarMat4 m;
                o->getAbsolutePosition(m);
                Affine a;
                for (int i = 0; i < 3; ++i) {
                    for (int j = 0; j < 3; ++j)
                        a.r[i][j] = m(i, j);
                    a.t[i] = m(i, 3);
                }
                // A small turn about the object's own origin, then a shift.
                Affine moved = a * Affine::rotation(m_rng.uniform(-1, 1), m_rng.uniform(-1, 1),
                                                    m_rng.uniform(-1, 1) + 1e-3, m_rng.uniform(-0.05, 0.05));
                for (double& t : moved.t)
                    t += m_rng.uniform(-0.08, 0.08);
                o->absolutePosition(toQar(m_rng.chance(0.02) ? randomPose() : moved));
            }
        }
        int const edits = static_cast<int>(m_rng.below(3));
        for (int e = 0; e < edits; ++e)
            what << edit() << "; ";
        return what.str();
    }

    // Every analysis queried once, in a fixed order.
    void query()
    {
        for (auto const& a : m_analyses) {
            tvxtest::AnalysisProbe::broadPhase(*a, m_use);
            a->compute();
        }
    }

    // A fresh analysis of every pairing, over its lists each started at a
    // random rank (so that the first contact is sought from a different
    // row each time): a first contact over boxes never gathered, which the
    // broad phase examines row by row before building its tree, then the
    // other types in turn on the same analysis, which start from the
    // entries the first contact left read (or not). What each query left,
    // one after the other.
    std::vector<std::string> freshQueries()
    {
        std::vector<std::string> out;
        for (std::size_t p = 0; p < m_analyses.size(); p += 4) {
            boost::shared_ptr<CtvxCollisionList> l1, l2;
            m_analyses[p]->getCollisionList1(l1);
            m_analyses[p]->getCollisionList2(l2);
            bool const same = l1 == l2;
            l1 = rotated(*l1);
            l2 = same ? l1 : rotated(*l2);
            boost::shared_ptr<CtvxAnalysis> a = tvxtest::analysisOf(l1, l2, CtvxAnalysis::FIRST_COLLISION);
            a->setEachPairOnce(m_analyses[p]->eachPairOnce());
            a->setOneContactPerPair(m_analyses[p]->oneContactPerPair());
            tvxtest::AnalysisProbe::broadPhase(*a, m_use);
            for (auto const type : {CtvxAnalysis::FIRST_COLLISION, CtvxAnalysis::ALL_COLLISIONS,
                                    CtvxAnalysis::FIRST_COLLISION, CtvxAnalysis::ESTIMATED_DISTANCE}) {
                a->setAnalysisType(type);
                a->compute();
                out.push_back(record().describe(*a));
            }
        }
        return out;
    }

    std::string describe(std::size_t k) { return record().describe(*m_analyses[k]); }

    tvxtest::QueryRecord record() const
    {
        tvxtest::QueryRecord record;
        record.objects = m_named;
        for (auto const& l : m_leaves)
            record.hinted.push_back(l.get());
        for (auto const& a : m_assemblies)
            if (a->regroupedPoly())
                record.hinted.push_back(a->regroupedPoly().get());
        return record;
    }

    std::size_t countAnalyses() const { return m_analyses.size(); }
    std::string labelOf(std::size_t k) const { return m_labels[k]; }
    CtvxAnalysis const& analysis(std::size_t k) const { return *m_analyses[k]; }

private:
    boost::shared_ptr<CtvxCollisionList> rotated(CtvxCollisionList const& l)
    {
        boost::shared_ptr<CtvxCollisionList> r = CtvxCollisionList::create();
        unsigned int const n = l.countObjects();
        unsigned int const start = n > 0 ? m_rng.below(n) : 0;
        for (unsigned int k = 0; k < n; ++k)
            r->add(l.object((start + k) % n));
        return r;
    }

    Affine randomPose()
    {
        Affine p = tvxtest::randomRigid(m_rng, 0.0);
        for (double& t : p.t)
            t = m_rng.uniform(0.0, m_extent);
        return p;
    }

    boost::shared_ptr<CtvxPolyhedron> makeLeaf(bool entity)
    {
        std::uint32_t const mesh = m_rng.below(static_cast<std::uint32_t>(m_data.size()));
        boost::shared_ptr<CtvxPolyhedron> p = CtvxPolyhedron::create(m_data[mesh]);
        if (m_rng.chance(0.2))
            p->setTolerance(m_rng.uniform(0.0, 0.05));
        if (entity)
            p->makeCollisionEntity(noDelegate);
        m_leaves.push_back(p);
        m_named.push_back(p.get());
        return p;
    }

    boost::shared_ptr<CtvxAssembly> makeAssembly(int children, bool nested)
    {
        boost::shared_ptr<CtvxAssembly> a = CtvxAssembly::create();
        m_assemblies.push_back(a);
        m_named.push_back(a.get());
        for (int c = 0; c < children; ++c) {
            ObjectPtr child;
            if (nested && c == 0)
                child = makeAssembly(1, false); // a single child: its box is the child's
            else
                child = makeLeaf(true);
            a->attach(child, -1);
            child->relativePosition(toQar(tvxtest::randomRigid(m_rng, 0.6)));
        }
        return a;
    }

    // A lone triangle: its tree has no box.
    ObjectPtr makeLone()
    {
        boost::shared_ptr<CtvxPolyhedron> p = CtvxPolyhedron::create(m_data[3]);
        p->makeCollisionEntity(noDelegate);
        m_leaves.push_back(p);
        m_named.push_back(p.get());
        return p;
    }

    ObjectPtr makeTop()
    {
        if (m_lone > 0.0 && !m_tops.empty() && m_rng.chance(m_lone)) {
            // Where the neighbour stands, turned about the triangle's
            // centroid: one lone triangle crosses the other through it (a
            // chain of them all cross there), and most boxed neighbours
            // are crossed near their middle. Or anywhere, most often apart
            // from the others, which it meets all the same.
            double const* c = m_loneCentre;
            if (m_rng.chance(0.5))
                m_lastPose = m_lastPose * Affine::translation(c[0], c[1], c[2]) *
                             Affine::rotation(m_rng.uniform(-1, 1), m_rng.uniform(-1, 1),
                                              m_rng.uniform(-1, 1) + 1e-3, m_rng.uniform(0.3, 1.5)) *
                             Affine::translation(-c[0], -c[1], -c[2]);
            else
                m_lastPose = randomPose();
            ObjectPtr const o = makeLone();
            o->absolutePosition(toQar(m_lastPose));
            m_named.push_back(o.get());
            return o;
        }
        double const kind = m_rng.unit();
        ObjectPtr o;
        if (kind < 0.55) {
            o = makeLeaf(true);
        } else if (kind < 0.65) {
            boost::shared_ptr<CtvxAssembly> a = makeAssembly(2 + static_cast<int>(m_rng.below(2)), false);
            a->makeCollisionEntity(noDelegate); // regrouped
            o = a;
        } else if (kind < 0.75) {
            o = makeAssembly(2 + static_cast<int>(m_rng.below(2)), m_rng.chance(0.5));
        } else if (kind < 0.80) {
            o = makeAssembly(1, false);
        } else if (kind < 0.85) {
            o = makeLeaf(true);
            o->activation(false);
        } else if (kind < 0.88) {
            o = makeLeaf(false); // no tree yet: a box test against an assembly builds it
        } else if (kind < 0.90) {
            o = makeAssembly(0, false);
        } else {
            o = makeLone();
        }
        m_lastPose = randomPose();
        o->absolutePosition(toQar(m_lastPose));
        m_named.push_back(o.get());
        return o;
    }

    void buildLists()
    {
        std::size_t const n = m_tops.size();
        boost::shared_ptr<CtvxCollisionList> all = CtvxCollisionList::create(), first = CtvxCollisionList::create(),
                                             second = CtvxCollisionList::create(),
                                             some1 = CtvxCollisionList::create(), some2 = CtvxCollisionList::create();
        for (std::size_t k = 0; k < n; ++k) {
            all->add(m_tops[k]);
            (k < n / 2 ? first : second)->add(m_tops[k]);
            if (m_rng.chance(0.6))
                some1->add(m_tops[k]);
            if (m_rng.chance(0.6))
                some2->add(m_tops[k]);
        }
        // An empty entry, an object twice, and a leaf that also lies below a
        // listed assembly.
        some1->add(ObjectPtr());
        some1->add(m_tops[0]);
        if (!m_leaves.empty())
            some2->add(m_leaves[m_leaves.size() / 2]);
        m_lists = {all, first, second, some1, some2};
        struct Pairing {
            int l1, l2;
            bool once;
            char const* name;
        };
        // The halves with one contact per pair (which only all contacts
        // heed, but each type is compared anyway).
        Pairing const pairings[] = {{0, 0, false, "all x all"},
                                    {0, 0, true, "all x all, each pair once"},
                                    {1, 2, false, "halves, one contact per pair"},
                                    {3, 4, false, "shared subsets"}};
        char const* const types[] = {"first", "all", "exact", "estimated"};
        for (Pairing const& p : pairings) {
            for (int t = 0; t < 4; ++t) {
                boost::shared_ptr<CtvxAnalysis> a =
                    tvxtest::analysisOf(m_lists[p.l1], m_lists[p.l2], static_cast<CtvxAnalysis::EAnalysisType>(t));
                a->setEachPairOnce(p.once);
                a->setOneContactPerPair(p.l1 == 1);
                m_analyses.push_back(a);
                m_labels.push_back(std::string(p.name) + ", " + types[t]);
            }
        }
    }

    template <class T>
    T& pickFrom(std::vector<T>& v)
    {
        return v[m_rng.below(static_cast<std::uint32_t>(v.size()))];
    }

    std::string edit()
    {
        switch (m_rng.below(10)) {
        case 9: {
            // Triangles added to a mesh leave the trees over it stale (the
            // walk rebuilds them where it meets them); one that names a point
            // not added yet makes every rebuild refuse, and the queries that
            // meet those objects incomplete, until a point is added.
            CtvxPolyhedronData& d = *pickFrom(m_data);
            unsigned int const n = d.countPoints();
            unsigned int r = 0;
            if (m_rng.chance(0.6)) {
                d.addPoint(m_rng.uniform(-0.8, 0.8), m_rng.uniform(-0.8, 0.8), m_rng.uniform(-0.8, 0.8), r);
                d.addTriangle(0, 1, r, r);
                return "spike on a mesh";
            }
            d.addTriangle(0, 1, n, r);
            return "triangle past the points of a mesh";
        }
        case 8: {
            // A new list given to the analyses that had the old one: what
            // was kept is forgotten, and the remembered pair with it.
            m_lists[3] = CtvxCollisionList::create(m_lists[3]);
            for (std::size_t k = 12; k < 16; ++k)
                m_analyses[k]->setCollisionList1(m_lists[3]);
            return "new list";
        }
        case 0: {
            ObjectPtr const& o = pickFrom(m_tops);
            o->setTolerance(m_rng.chance(0.5) ? 0.0 : m_rng.uniform(0.0, 0.1));
            return "tolerance of " + name(o);
        }
        case 1: {
            ObjectPtr const& o = pickFrom(m_tops);
            o->activation(o->activation() != CtvxObject::ACTIVATED);
            return "activation of " + name(o);
        }
        case 2: {
            // A leaf moved inside its assembly: only the assembly's box says so.
            boost::shared_ptr<CtvxAssembly> const& a = pickFrom(m_assemblies);
            if (a->countChildren() == 0 || a->isRegrouped() || a->isLocked())
                return "nothing";
            a->child(m_rng.below(a->countChildren()))->relativePosition(toQar(tvxtest::randomRigid(m_rng, 0.3 * m_extent)));
            return "child of " + name(a);
        }
        case 3: {
            boost::shared_ptr<CtvxPolyhedron> const& p = pickFrom(m_leaves);
            CqarPoint3 c(m_rng.uniform(0, m_extent), m_rng.uniform(0, m_extent), m_rng.uniform(0, m_extent));
            p->scale(c, m_rng.uniform(0.8, 1.25));
            return "scale of " + name(p);
        }
        case 4: {
            boost::shared_ptr<CtvxAssembly> const& a = pickFrom(m_assemblies);
            if (a->isRegrouped())
                a->removeCollisionEntities();
            a->makeCollisionEntity(noDelegate);
            if (m_rng.chance(0.5)) {
                a->removeCollisionEntities();
                for (unsigned int c = 0; c < a->countChildren(); ++c)
                    a->child(c)->makeCollisionEntity(noDelegate);
            }
            return "regrouping of " + name(a);
        }
        case 5: {
            // A list changes: the broad phase must start over.
            boost::shared_ptr<CtvxCollisionList> const& l = m_lists[3 + m_rng.below(2)];
            ObjectPtr const& o = pickFrom(m_tops);
            if (m_rng.chance(0.5))
                l->add(o);
            else
                l->remove(o);
            return "list edit with " + name(o);
        }
        case 6: {
            boost::shared_ptr<CtvxPolyhedron> const& p = pickFrom(m_leaves);
            p->makeCollisionEntity(noDelegate);
            return "entity " + name(p);
        }
        default: {
            // An assembly moved as a whole carries its children along.
            boost::shared_ptr<CtvxAssembly> const& a = pickFrom(m_assemblies);
            if (!a->isLocked())
                a->absolutePosition(toQar(randomPose()));
            return "jump of " + name(a);
        }
        }
    }

    std::string name(ObjectPtr const& o) const
    {
        tvxtest::QueryRecord r;
        r.objects = m_named;
        return r.nameOf(o.get());
    }

    tvxtest::Random m_rng;
    CtvxBroadPhase::EUse m_use;
    double m_moving;
    double m_lone;
    Affine m_lastPose;
    double m_loneCentre[3] = {0, 0, 0};
    double m_extent = 1.0;
    std::vector<boost::shared_ptr<CtvxPolyhedronData>> m_data;
    std::vector<ObjectPtr> m_tops;
    std::vector<boost::shared_ptr<CtvxPolyhedron>> m_leaves;
    std::vector<boost::shared_ptr<CtvxAssembly>> m_assemblies;
    std::vector<CtvxObject const*> m_named;
    std::vector<boost::shared_ptr<CtvxCollisionList>> m_lists;
    std::vector<boost::shared_ptr<CtvxAnalysis>> m_analyses;
    std::vector<std::string> m_labels;
};

struct Tally {
    int queries = 0;
    int withContact = 0;
    int withDistance = 0;
    int mismatches = 0;
};

// fresh: each frame also queries fresh analyses (World::freshQueries()).
void compareOverFrames(std::uint32_t seed, int count, int frames, Tally& tally, double moving = 0.35,
                       bool fresh = false, double spread = 1.0, double lone = 0.0)
{
    World broad(seed, count, CtvxBroadPhase::ALWAYS, moving, spread, lone);
    World every(seed, count, CtvxBroadPhase::NEVER, moving, spread, lone);
    for (int f = 0; f < frames && tally.mismatches < 3; ++f) {
        std::string const edits = broad.frame();
        every.frame();
        if (fresh) {
            std::vector<std::string> const a = broad.freshQueries(), b = every.freshQueries();
            for (std::size_t k = 0; k < a.size() && tally.mismatches < 3; ++k) {
                ++tally.queries;
                tally.withContact += a[k].find("collision ") != std::string::npos;
                if (a[k] != b[k]) {
                    ++tally.mismatches;
                    ADD_FAILURE() << "seed " << seed << ", " << count << " objects, frame " << f << " after "
                                  << edits << "fresh analysis, query " << k << "\nbroad phase:\n"
                                  << a[k] << "every pair:\n"
                                  << b[k];
                }
            }
        }
        broad.query();
        every.query();
        for (std::size_t k = 0; k < broad.countAnalyses(); ++k) {
            std::string const a = broad.describe(k), b = every.describe(k);
            ++tally.queries;
            tally.withContact += broad.analysis(k).countCollisions() > 0;
            tally.withDistance += broad.analysis(k).countDistances() > 0;
            if (a != b) {
                ++tally.mismatches;
                ADD_FAILURE() << "seed " << seed << ", " << count << " objects, frame " << f << " after " << edits
                              << broad.labelOf(k) << "\nbroad phase:\n"
                              << a << "every pair:\n"
                              << b;
            }
        }
    }
}

TEST(BroadPhase, RandomScenesAnswerAsEveryPairExamined)
{
    Tally tally;
    struct Size {
        int count;
        int frames;
    };
    for (Size const s : {Size{10, 30}, Size{60, 12}, Size{250, 4}}) {
        for (std::uint32_t seed : {1u, 2u}) {
            compareOverFrames(seed * 1000 + static_cast<std::uint32_t>(s.count), s.count,
                              tvxtest::runs(s.frames), tally);
            if (tally.mismatches > 0)
                return;
        }
    }
    EXPECT_EQ(tally.mismatches, 0);
    // Both kinds of answer must be common, or the comparison proves little.
    EXPECT_GT(tally.withContact, tally.queries / 5);
    EXPECT_GT(tally.withDistance, tally.queries / 10);
}

// A few objects move in every frame, by steps about as long as the margin
// their leaves are grown by: each stays in its leaf for some frames, then
// leaves it, while the pairs of the objects that did not move are kept
// from frame to frame and only those of the moved ones are looked at again.
TEST(BroadPhase, FewMoversOverManyFramesAnswerAsEveryPairExamined)
{
    Tally tally;
    compareOverFrames(31u, 120, tvxtest::runs(40), tally, 0.06);
    compareOverFrames(32u, 40, tvxtest::runs(60), tally, 0.15);
    EXPECT_EQ(tally.mismatches, 0);
    EXPECT_GT(tally.withContact, tally.queries / 5);
}

// Fresh analyses, a first contact first: its rows are examined before the
// broad phase builds its tree, reading each entry when met, and the tree is
// built where a few rows went by without a contact. In the sparse scenes
// (few contacts) most first contacts end past that point, in the dense ones
// within it. Scenes crowded with lone triangles, half of them laid across
// their neighbour in the lists, put pairs of them in the first rows:
// touching, often the first contact in list order, or apart, where their
// test still rewrites hints that an earlier query left elsewhere.
TEST(BroadPhase, FreshFirstContactAnswersAsEveryPairExamined)
{
    Tally tally;
    for (double const spread : {1.0, 2.5}) {
        compareOverFrames(41u, 60, tvxtest::runs(8), tally, 0.35, true, spread);
        compareOverFrames(42u, 250, tvxtest::runs(3), tally, 0.35, true, spread);
        for (std::uint32_t const seed : {43u, 44u})
            compareOverFrames(seed, 40, tvxtest::runs(8), tally, 0.35, true, spread, 0.5);
    }
    EXPECT_EQ(tally.mismatches, 0);
    EXPECT_GT(tally.withContact, tally.queries / 10);
}

TEST(BroadPhaseLong, LargeScenesAnswerAsEveryPairExamined)
{
    Tally tally;
    compareOverFrames(7u, 2000, tvxtest::runs(6), tally);
    compareOverFrames(8u, 600, tvxtest::runs(20), tally);
    EXPECT_EQ(tally.mismatches, 0);
    EXPECT_GT(tally.withContact, tally.queries / 5);
}

// Pairs the broad phase passes over (absent from the row, or settled) must
// leave no trace on the walk itself. Each sample: p in list 1; q, far from
// p, then b, near p, in list 2, so that b meets p with the bound q left.
// One copy queries both pairs, the other p against q alone: passing over
// (p, b) is right exactly when the two copies end alike. The shapes (long
// needles, thin plates, lone triangles, assemblies, regrouped or not) with
// large tolerances put many pairs where only a cross axis separates the
// boxes, by less than the tolerances.
struct Trio {
    std::vector<boost::shared_ptr<CtvxPolyhedronData>> const* data;
    boost::shared_ptr<CtvxCollisionList> l1, l2;
    boost::shared_ptr<CtvxAnalysis> analysis;
    ObjectPtr objects[3];
    tvxtest::QueryRecord record;

    ObjectPtr make(tvxtest::Random& rng, int shape, double tolerance)
    {
        auto const leaf = [&](int mesh) {
            boost::shared_ptr<CtvxPolyhedronData> d = (*data)[static_cast<std::size_t>(mesh)];
            boost::shared_ptr<CtvxPolyhedron> p = CtvxPolyhedron::create(d);
            p->setTolerance(tolerance);
            record.objects.push_back(p.get());
            record.hinted.push_back(p.get());
            return p;
        };
        if (shape < 3) {
            boost::shared_ptr<CtvxPolyhedron> p = leaf(shape);
            p->makeCollisionEntity(noDelegate);
            return p;
        }
        boost::shared_ptr<CtvxAssembly> a = CtvxAssembly::create();
        record.objects.push_back(a.get());
        for (int c = 0; c < 2; ++c) {
            boost::shared_ptr<CtvxPolyhedron> p = leaf(c);
            a->attach(p, -1);
            p->relativePosition(toQar(tvxtest::randomRigid(rng, 0.4)));
            if (shape == 3)
                p->makeCollisionEntity(noDelegate);
        }
        if (shape == 4) {
            a->makeCollisionEntity(noDelegate);
            record.hinted.push_back(a->regroupedPoly().get());
        }
        return a;
    }
};

TEST(BroadPhase, PassedOverPairsLeaveNoTrace)
{
    std::vector<boost::shared_ptr<CtvxPolyhedronData>> data = {
        tvxtest::makePolyData(tvxtest::makeBox(0.9, 0.06, 0.06)), tvxtest::makePolyData(tvxtest::makeBox(0.5, 0.5, 0.03)),
        nullptr};
    tvxtest::Random meshRng(3u);
    data[2] = tvxtest::makePolyData(tvxtest::makeSoup(meshRng, 1, 0.1, 1.0));
    tvxtest::Random rng(17u);
    int passedOver = 0, examined = 0, mismatches = 0;
    int const samples = tvxtest::runs(4000);
    for (int n = 0; n < samples && mismatches < 3; ++n) {
        int shapes[3] = {static_cast<int>(rng.below(5)), static_cast<int>(rng.below(3)),
                               static_cast<int>(rng.below(5))};
        double tolerances[3];
        for (double& t : tolerances)
            t = rng.chance(0.7) ? rng.uniform(0.0, 0.15) : 0.0;
        Affine poses[3] = {tvxtest::randomRigid(rng, 0.0), tvxtest::randomRigid(rng, 0.0),
                           tvxtest::randomRigid(rng, 0.0)};
        poses[1].t[0] = rng.uniform(2.5, 4.0);
        for (double& t : poses[2].t)
            t = rng.uniform(-1.6, 1.6);
        if (n % 2 == 1) {
            // Two needles side by side, nearly parallel, each turned about
            // its length: where their long edges face each other only the
            // cross axis of the two lengths, short, may separate them, by
            // less than the tolerances that the walk subtracts in full.
            shapes[0] = shapes[2] = 0;
            Affine const spin0 = Affine::rotation(1, 0, 0, rng.uniform(0, 3.2));
            Affine const spin2 = Affine::rotation(1, 0, 0, rng.uniform(0, 3.2));
            Affine const tilt = Affine::rotation(rng.uniform(-1, 1), rng.uniform(-1, 1), rng.uniform(-1, 1) + 1e-3,
                                                 rng.uniform(-0.6, 0.6));
            double const side = rng.uniform(0, 6.3), offset = rng.uniform(0.25, 0.6);
            Affine shift = Affine::translation(rng.uniform(-0.5, 0.5), offset * std::cos(side), offset * std::sin(side));
            poses[2] = poses[0] * shift * tilt * spin2;
            poses[0] = poses[0] * spin0;
        }
        std::uint32_t const seed = rng.bits();
        auto const type = static_cast<CtvxAnalysis::EAnalysisType>((n / 2) % 4);
        Trio both, alone;
        for (Trio* t : {&both, &alone}) {
            tvxtest::Random shapeRng(seed);
            t->data = &data;
            ObjectPtr* const o = t->objects;
            for (int k = 0; k < 3; ++k) {
                o[k] = t->make(shapeRng, shapes[k], tolerances[k]);
                o[k]->absolutePosition(toQar(poses[k]));
            }
            t->l1 = tvxtest::listOf({o[0]});
            t->l2 = t == &both ? tvxtest::listOf({o[1], o[2]}) : tvxtest::listOf({o[1]});
            t->analysis = tvxtest::analysisOf(t->l1, t->l2, type);
        }
        CtvxBroadPhase broad;
        broad.prepare(*both.l1, *both.l2, type, false);
        tvxtest::AnalysisProbe::broadPhase(*alone.analysis, CtvxBroadPhase::NEVER);
        alone.analysis->compute();
        // The bound b meets: 0 for contacts, q's distance for distances.
        float bound = 0.0f;
        if (type == CtvxAnalysis::EXACT_DISTANCE || type == CtvxAnalysis::ESTIMATED_DISTANCE) {
            if (alone.analysis->countDistances() != 1)
                continue;
            boost::shared_ptr<CtvxDistance> d;
            alone.analysis->getDistance(0, d);
            bound = d->distance();
        }
        CtvxBroadPhase::Row const row = broad.row(0, bound);
        bool const inRow = std::find(row.ranks, row.ranks + row.count, 1u) != row.ranks + row.count;
        if (inRow && !broad.settles(0, 1, bound)) {
            ++examined;
            continue;
        }
        ++passedOver;
        tvxtest::AnalysisProbe::broadPhase(*both.analysis, CtvxBroadPhase::NEVER);
        both.analysis->compute();
        std::string const a = both.record.describe(*both.analysis), b = alone.record.describe(*alone.analysis);
        if (a != b) {
            ++mismatches;
            ADD_FAILURE() << "sample " << n << " type " << type << " shapes " << shapes[0] << shapes[2]
                          << (inRow ? " settled" : " not in the row") << "\nwith b:\n"
                          << a << "without b:\n"
                          << b;
        }
    }
    // The sample must straddle the boundary.
    EXPECT_GT(passedOver, samples / 5);
    EXPECT_GT(examined, samples / 5);
}

// The tree against brute force: random boxes built, inserted, refitted where
// they stand, moved and removed, every overlap found by a query, by the
// pairs within one tree and by the pairs across two, and no pair reported
// that does not overlap.
TEST(BroadPhase, BoxTreeFindsExactlyTheOverlaps)
{
    tvxtest::Random rng(5u);
    int const n = 300;
    std::vector<CtvxBoxTree::Box> boxes(2 * n);
    std::vector<int> leaves(2 * n, CtvxBoxTree::kNone);
    CtvxBoxTree trees[2];
    auto const randomBox = [&rng]() {
        CtvxBoxTree::Box b;
        for (int k = 0; k < 3; ++k) {
            float const c = rng.uniformf(0.0f, 20.0f), h = rng.uniformf(0.05f, 1.0f);
            b.lo[k] = c - h;
            b.hi[k] = c + h;
        }
        return b;
    };
    // Built top down at first, then edited leaf by leaf.
    for (int t = 0; t < 2; ++t) {
        std::vector<unsigned int> items;
        std::vector<CtvxBoxTree::Box> own(n);
        std::vector<int> built(n, CtvxBoxTree::kNone);
        for (int k = 0; k < n; ++k) {
            boxes[t * n + k] = own[k] = randomBox();
            items.push_back(static_cast<unsigned int>(k));
        }
        trees[t].build(items, own, built);
        for (int k = 0; k < n; ++k)
            leaves[t * n + k] = built[k];
    }
    for (int round = 0; round < tvxtest::runs(20); ++round) {
        for (int k = 0; k < 2 * n && round > 0; ++k) {
            CtvxBoxTree& t = trees[k / n];
            if (leaves[k] != CtvxBoxTree::kNone && rng.chance(0.5))
                continue;
            if (leaves[k] != CtvxBoxTree::kNone && rng.chance(0.4)) {
                // Moved where it stands: a box nearby, or anywhere.
                CtvxBoxTree::Box b = randomBox();
                if (rng.chance(0.7))
                    for (int c = 0; c < 3; ++c) {
                        float const shift = rng.uniformf(-0.5f, 0.5f);
                        b.lo[c] = boxes[k].lo[c] + shift;
                        b.hi[c] = boxes[k].hi[c] + shift;
                    }
                boxes[k] = b;
                t.refit(leaves[k], b);
                continue;
            }
            if (leaves[k] != CtvxBoxTree::kNone)
                t.remove(leaves[k]);
            leaves[k] = CtvxBoxTree::kNone;
            if (rng.chance(0.9)) {
                boxes[k] = randomBox();
                leaves[k] = t.insert(static_cast<unsigned int>(k % n), boxes[k]);
            }
        }
        std::set<std::pair<unsigned, unsigned>> self, across, want, wantAcross;
        for (int i = 0; i < n; ++i) {
            for (int j = 0; j < n; ++j) {
                bool const in1 = leaves[i] != CtvxBoxTree::kNone, in2 = leaves[n + j] != CtvxBoxTree::kNone;
                if (i < j && in1 && leaves[j] != CtvxBoxTree::kNone && CtvxBoxTree::overlap(boxes[i], boxes[j]))
                    want.insert({i, j});
                if (in1 && in2 && CtvxBoxTree::overlap(boxes[i], boxes[n + j]))
                    wantAcross.insert({i, j});
            }
        }
        trees[0].selfPairs([&](unsigned a, unsigned b) {
            EXPECT_TRUE(self.insert({std::min(a, b), std::max(a, b)}).second) << "pair reported twice";
        });
        trees[0].pairs(trees[1], [&](unsigned a, unsigned b) { across.insert({a, b}); });
        EXPECT_EQ(self, want);
        EXPECT_EQ(across, wantAcross);
        CtvxBoxTree::Box const probe = randomBox();
        std::set<unsigned> hit, wantHit;
        trees[1].query(probe, [&](unsigned a) { hit.insert(a); });
        for (int j = 0; j < n; ++j)
            if (leaves[n + j] != CtvxBoxTree::kNone && CtvxBoxTree::overlap(probe, boxes[n + j]))
                wantHit.insert(static_cast<unsigned>(j));
        EXPECT_EQ(hit, wantHit);
        // Rotations keep the tree shallow whatever the order of insertions.
        EXPECT_LE(trees[0].height(), 24);
        if (HasFailure())
            return;
    }
}

} // namespace
