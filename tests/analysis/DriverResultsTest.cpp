// The query driver's bookkeeping: results that outlive later queries and
// copies of the analysis, result objects that serve several object pairs,
// objects that are not the library's own classes, and the number of box
// tests the driver spends above the trees.
#include <tvx/analysis/CtvxAnalysis.h>
#include <tvx/analysis/CtvxCollision.h>
#include <tvx/analysis/CtvxDistance.h>
#include <tvx/analysis/CtvxGeometryPoint.h>
#include <tvx/analysis/CtvxPolyhedronTriangle.h>
#include <tvx/geometry/CtvxPolyhedron.h>
#include <tvx/geometry/CtvxPolyhedronData.h>
#include <tvx/scene/CtvxAssembly.h>
#include <tvx/scene/CtvxCollisionList.h>

#include <tests/support/AnalysisProbe.h>
#include <tests/support/BruteForce.h>
#include <tests/support/Meshes.h>
#include <tests/support/Random.h>
#include <tests/support/SceneFixtures.h>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace tvxtest;
typedef boost::shared_ptr<CtvxObject> ObjectPtr;

boost::shared_ptr<CtvxProgressDelegate> noDelegate;

boost::shared_ptr<CtvxPolyhedron> cubeAt(double x, double y, double z)
{
    boost::shared_ptr<CtvxPolyhedron> p = makePolyhedron(makeBox(0.5, 0.5, 0.5));
    p->makeCollisionEntity(noDelegate);
    p->absolutePosition(translationMat(x, y, z));
    return p;
}


ObjectPtr objectOf(boost::shared_ptr<CtvxDistance> const& d, int side)
{
    ObjectPtr o;
    if (side == 1)
        d->getObject1(o);
    else
        d->getObject2(o);
    return o;
}

ObjectPtr objectOf(boost::shared_ptr<CtvxCollision> const& c, int side)
{
    ObjectPtr o;
    if (side == 1)
        c->getObject1(o);
    else
        c->getObject2(o);
    return o;
}

CqarPoint3 absolutePoint(boost::shared_ptr<CtvxDistance> const& d, int side)
{
    boost::shared_ptr<CtvxGeometryPoint> p;
    if (side == 1)
        d->getClosestPoint1(p);
    else
        d->getClosestPoint2(p);
    CqarPoint3 a;
    if (p)
        p->pointAbsolute(a);
    return a;
}

unsigned bitsOf(float f)
{
    unsigned u;
    std::memcpy(&u, &f, sizeof u);
    return u;
}

// Cubes of side 1 along x: A at 0, and in list 2 one at `mid`, one far and
// one near, in that order. The far cube's pair is pruned by the mid cube's
// distance and leaves no result; the near cube's pair comes after it.
struct Row {
    boost::shared_ptr<CtvxPolyhedron> a = cubeAt(0, 0, 0);
    boost::shared_ptr<CtvxPolyhedron> mid = cubeAt(4, 0, 0);
    boost::shared_ptr<CtvxPolyhedron> far = cubeAt(20, 0, 0);
    boost::shared_ptr<CtvxPolyhedron> near = cubeAt(0, 2.5, 0);
    boost::shared_ptr<CtvxCollisionList> l1 = listOf({a});
    boost::shared_ptr<CtvxCollisionList> l2 = listOf({mid, far, near});
};

TEST(DriverResults, APairAfterOneWithoutResultNamesItsOwnObjects)
{
    Row s;
    boost::shared_ptr<CtvxAnalysis> an = analysisOf(s.l1, s.l2, CtvxAnalysis::EXACT_DISTANCE);
    an->compute();
    ASSERT_EQ(an->countDistances(), 2u);
    boost::shared_ptr<CtvxDistance> d0, d1;
    an->getDistance(0, d0);
    an->getDistance(1, d1);
    EXPECT_NE(d0, d1);
    // Sorted: near (clearance 1.5) before mid (3).
    EXPECT_EQ(objectOf(d0, 1), s.a);
    EXPECT_EQ(objectOf(d0, 2), s.near);
    EXPECT_FLOAT_EQ(d0->distance(), 1.5f);
    EXPECT_EQ(objectOf(d1, 2), s.mid);
    EXPECT_FLOAT_EQ(d1->distance(), 3.0f);
    // The closest points lie on the facing faces of A and the near cube.
    ASSERT_TRUE(d0->isExactDistance());
    EXPECT_NEAR(absolutePoint(d0, 1)[1], 0.5, 1e-6);
    EXPECT_NEAR(absolutePoint(d0, 2)[1], 2.0, 1e-6);
    boost::shared_ptr<CtvxGeometryPoint> p2;
    d0->getClosestPoint2(p2);
    boost::shared_ptr<CtvxGeometry> g2;
    ASSERT_EQ(p2->getGeometry(g2), 0);
    EXPECT_EQ(ObjectPtr(g2), ObjectPtr(s.near));

    // The same in a contact query: the far pair finds nothing, then the
    // near cube, moved into A, is the only contact.
    s.near->absolutePosition(translationMat(0, 0.9, 0));
    boost::shared_ptr<CtvxCollisionList> l2 = listOf({s.far, s.near});
    boost::shared_ptr<CtvxAnalysis> all = analysisOf(s.l1, l2, CtvxAnalysis::ALL_COLLISIONS);
    all->compute();
    ASSERT_EQ(all->countCollisions(), 1u);
    boost::shared_ptr<CtvxCollision> c;
    all->getCollision(0, c);
    EXPECT_EQ(objectOf(c, 2), s.near);
    ASSERT_GT(c->countPairs(), 0u);
    for (unsigned int i = 0; i < c->countPairs(); ++i) {
        boost::shared_ptr<CtvxGeometrySubElement> second;
        c->getSecond(i, second);
        boost::shared_ptr<CtvxVirtualPolyhedron> owner;
        static_cast<CtvxPolyhedronTriangle&>(*second).getPolyhedron(owner);
        EXPECT_EQ(ObjectPtr(owner), ObjectPtr(s.near)) << "pair " << i;
    }
    EXPECT_EQ(all->countDistances(), 0u);
}

// Discovered from the farthest to the nearest, each pair lowers the bound,
// and sorting turns the whole list round.
TEST(DriverResults, DistancesFoundFarthestFirstAreAllKeptInOrder)
{
    Row s;
    boost::shared_ptr<CtvxPolyhedron> nearer = cubeAt(0, 0, 2.2);
    boost::shared_ptr<CtvxCollisionList> l2 = listOf({s.far, s.mid, s.near, nearer});
    boost::shared_ptr<CtvxAnalysis> an = analysisOf(s.l1, l2, CtvxAnalysis::EXACT_DISTANCE);
    an->compute();
    ASSERT_EQ(an->countDistances(), 4u);
    ObjectPtr const expected[] = {nearer, s.near, s.mid, s.far};
    float const clearances[] = {1.2f, 1.5f, 3.0f, 19.0f};
    for (unsigned int i = 0; i < 4; ++i) {
        boost::shared_ptr<CtvxDistance> d;
        an->getDistance(i, d);
        ASSERT_TRUE(d) << i;
        EXPECT_EQ(objectOf(d, 2), expected[i]) << i;
        EXPECT_NEAR(d->distance(), clearances[i], 1e-5) << i;
        EXPECT_TRUE(d->isExactDistance()) << i;
    }
    // The nearest pair is remembered and goes first next time: the others,
    // bounded by it, then leave no result.
    an->compute();
    ASSERT_EQ(an->countDistances(), 1u);
    boost::shared_ptr<CtvxDistance> d;
    an->getDistance(0, d);
    EXPECT_EQ(objectOf(d, 2), ObjectPtr(nearer));
}

TEST(DriverResults, HeldResultsDoNotChangeWithLaterQueries)
{
    Row s;
    for (int t = CtvxAnalysis::EXACT_DISTANCE; t <= CtvxAnalysis::ESTIMATED_DISTANCE; ++t) {
        SCOPED_TRACE(t);
        s.near->absolutePosition(translationMat(0, 2.5, 0));
        boost::shared_ptr<CtvxAnalysis> an = analysisOf(s.l1, s.l2, CtvxAnalysis::EAnalysisType(t));
        an->compute();
        ASSERT_GE(an->countDistances(), 1u);
        boost::shared_ptr<CtvxDistance> held;
        an->getDistance(0, held);
        unsigned const heldBits = bitsOf(held->distance());
        CqarPoint3 const heldPoint = absolutePoint(held, 2);
        bool const exact = held->isExactDistance();

        // Closer, then in contact, then gone apart: every later query
        // creates or reuses results, none of them the held one.
        double const ys[] = {2.0, 0.9, 30.0};
        for (double y : ys) {
            s.near->absolutePosition(translationMat(0, y, 0));
            an->compute();
            for (unsigned int i = 0; i < an->countDistances(); ++i) {
                boost::shared_ptr<CtvxDistance> d;
                an->getDistance(i, d);
                EXPECT_NE(d, held);
            }
        }
        EXPECT_EQ(bitsOf(held->distance()), heldBits);
        EXPECT_EQ(held->isExactDistance(), exact);
        EXPECT_EQ(objectOf(held, 2), s.near);
        if (exact) {
            EXPECT_EQ(absolutePoint(held, 2)[1], heldPoint[1]);
        }
    }

    // A held contact keeps its triangle pairs after queries that find none.
    s.near->absolutePosition(translationMat(0, 0.9, 0));
    boost::shared_ptr<CtvxAnalysis> all = analysisOf(s.l1, s.l2, CtvxAnalysis::ALL_COLLISIONS);
    all->compute();
    ASSERT_EQ(all->countCollisions(), 1u);
    boost::shared_ptr<CtvxCollision> held;
    all->getCollision(0, held);
    unsigned int const pairs = held->countPairs();
    ASSERT_GT(pairs, 0u);
    s.near->absolutePosition(translationMat(0, 30, 0));
    all->compute();
    all->compute();
    EXPECT_EQ(all->countCollisions(), 0u);
    EXPECT_EQ(held->countPairs(), pairs);
    EXPECT_EQ(objectOf(held, 1), s.a);
    EXPECT_EQ(objectOf(held, 2), s.near);
}

// Two analyses made one from the other must never fill the same result
// object: each hands its results to the host.
TEST(DriverResults, ACopiedAnalysisFillsItsOwnResults)
{
    Row s;
    boost::shared_ptr<CtvxAnalysis> original = analysisOf(s.l1, s.l2, CtvxAnalysis::EXACT_DISTANCE);
    original->compute(); // the far pair leaves the analysis a result it did not keep
    CtvxAnalysis copy(*original);
    ASSERT_EQ(copy.countDistances(), original->countDistances());

    s.near->absolutePosition(translationMat(0, 2.2, 0));
    copy.compute();
    ASSERT_GE(copy.countDistances(), 1u);
    boost::shared_ptr<CtvxDistance> fromCopy;
    copy.getDistance(0, fromCopy);
    unsigned const copyBits = bitsOf(fromCopy->distance());
    EXPECT_FLOAT_EQ(fromCopy->distance(), 1.2f);

    s.near->absolutePosition(translationMat(0, 3.0, 0));
    original->compute();
    boost::shared_ptr<CtvxDistance> fromOriginal;
    original->getDistance(0, fromOriginal);
    EXPECT_NE(fromOriginal, fromCopy);
    EXPECT_FLOAT_EQ(fromOriginal->distance(), 2.0f);
    // The copy's result still says what the copy found.
    EXPECT_EQ(bitsOf(fromCopy->distance()), copyBits);
    EXPECT_NEAR(absolutePoint(fromCopy, 2)[1], 1.7, 1e-6);

    // And the other way round, by assignment.
    CtvxAnalysis assigned(*original);
    assigned = *original;
    s.near->absolutePosition(translationMat(0, 2.6, 0));
    assigned.compute();
    boost::shared_ptr<CtvxDistance> fromAssigned;
    assigned.getDistance(0, fromAssigned);
    original->compute();
    EXPECT_FLOAT_EQ(fromAssigned->distance(), 1.6f);
    boost::shared_ptr<CtvxDistance> again;
    original->getDistance(0, again);
    EXPECT_NE(again, fromAssigned);
    EXPECT_FLOAT_EQ(fromAssigned->distance(), 1.6f);
}

// A host's own polyhedron class: the driver cannot tell it by its exact type
// and must still treat it as a polyhedron, reading its triangles through
// getTriangle. A host's getTriangle may run code of its own, here `onRead`.
class HostPolyhedron : public CtvxPolyhedron {
public:
    static boost::shared_ptr<HostPolyhedron> create(boost::shared_ptr<CtvxPolyhedronData> const& data)
    {
        boost::shared_ptr<HostPolyhedron> p(new HostPolyhedron());
        boost::shared_ptr<CtvxPolyhedron> base = p;
        p->init(base, data);
        return p;
    }
    using CtvxPolyhedron::getTriangle;
    void getTriangle(unsigned int rank, CqarPoint3* const points) const override
    {
        if (onRead)
            onRead();
        CtvxPolyhedron::getTriangle(rank, points);
    }
    std::function<void()> onRead;

protected:
    HostPolyhedron() = default;
};

// Every observable outcome of one query, as text.
std::string describe(CtvxAnalysis& an, std::vector<CtvxObject const*> const& order)
{
    auto indexOf = [&](void const* p) {
        for (std::size_t i = 0; i < order.size(); ++i)
            if (order[i] == p)
                return static_cast<int>(i);
        return -1;
    };
    std::ostringstream s;
    for (unsigned int i = 0; i < an.countCollisions(); ++i) {
        boost::shared_ptr<CtvxCollision> c;
        an.getCollision(i, c);
        s << "C " << indexOf(objectOf(c, 1).get()) << " " << indexOf(objectOf(c, 2).get());
        for (unsigned int k = 0; k < c->countPairs(); ++k) {
            boost::shared_ptr<CtvxGeometrySubElement> f, g;
            c->getFirst(k, f);
            c->getSecond(k, g);
            int tf = -2, tg = -2;
            static_cast<CtvxPolyhedronTriangle&>(*f).getTriangle(tf);
            static_cast<CtvxPolyhedronTriangle&>(*g).getTriangle(tg);
            s << " " << tf << "/" << tg;
        }
        s << "\n";
    }
    for (unsigned int i = 0; i < an.countDistances(); ++i) {
        boost::shared_ptr<CtvxDistance> d;
        an.getDistance(i, d);
        s << "D " << indexOf(objectOf(d, 1).get()) << " " << indexOf(objectOf(d, 2).get()) << " "
          << bitsOf(d->distance()) << " " << d->isExactDistance();
        if (d->isExactDistance()) {
            CqarPoint3 const p = absolutePoint(d, 1), q = absolutePoint(d, 2);
            s << " " << p[0] << "," << p[1] << "," << p[2] << " " << q[0] << "," << q[1] << "," << q[2];
        }
        s << "\n";
    }
    return s.str();
}

// A question the host asks on the side: two cubes and an analysis of each
// type, with the answers they give when asked alone.
struct SideQuestion {
    boost::shared_ptr<CtvxPolyhedron> a = cubeAt(0, 0, 0);
    boost::shared_ptr<CtvxPolyhedron> b = cubeAt(0.7, 0.6, 0.2);
    boost::shared_ptr<CtvxAnalysis> analyses[4];
    std::string expected[4];
    int asked = 0;
    int wrong = 0;

    SideQuestion()
    {
        b->absolutePosition(translationMat(0.7, 0.6, 0.2) * rotationZMat(0.4));
        for (int t = 0; t < 4; ++t) {
            analyses[t] = analysisOf(listOf({a}), listOf({b}), CtvxAnalysis::EAnalysisType(t));
            analyses[t]->compute();
            expected[t] = answer(t);
        }
    }
    std::string answer(int t) const;
    // Every seventh call asks the next type and checks its answer.
    void ask()
    {
        if (asked++ % 7 != 0)
            return;
        int const t = (asked / 7) % 4;
        analyses[t]->compute();
        wrong += answer(t) != expected[t];
    }
};

TEST(DriverResults, AHostPolyhedronClassIsAnalysedLikeTheLibrarysOwn)
{
    // The library's own polyhedra, a host's class, and a host's class whose
    // getTriangle asks a question of its own (another analysis, on the same
    // thread, in the middle of the query that reads the triangle): all
    // three give the same answers, and so does the question on the side.
    // A query keeps its steps and box placements in its analysis's scratch,
    // so the inner queries cannot touch the outer one's.
    Mesh const sphere = makeIcosphere(2, 1.0);
    Random rng(77);
    SideQuestion side;
    int contacts = 0;
    int const rounds = 20; // cheap, and both outcomes must occur
    for (int round = 0; round < rounds; ++round) {
        // Twin scenes: an assembly of two spheres against a lone sphere, one
        // scene built of library polyhedra, the others of host polyhedra.
        std::vector<std::string> answers;
        Affine const place = randomRigid(rng, 2.5);
        for (int host = 0; host < 3; ++host) {
            auto sphereAt = [&](double x, double y, double z) -> boost::shared_ptr<CtvxPolyhedron> {
                boost::shared_ptr<CtvxPolyhedronData> data = makePolyData(sphere);
                boost::shared_ptr<CtvxPolyhedron> p;
                boost::shared_ptr<HostPolyhedron> h;
                if (host)
                    p = h = HostPolyhedron::create(data);
                else
                    p = CtvxPolyhedron::create(data);
                p->relativePosition(translationMat(x, y, z));
                p->makeCollisionEntity(noDelegate);
                if (host == 2)
                    h->onRead = [&side] { side.ask(); };
                return p;
            };
            boost::shared_ptr<CtvxAssembly> group = CtvxAssembly::create();
            boost::shared_ptr<CtvxPolyhedron> m1 = sphereAt(-1.2, 0, 0), m2 = sphereAt(1.2, 0, 0);
            group->attach(m1, -1);
            group->attach(m2, -1);
            boost::shared_ptr<CtvxPolyhedron> lone = sphereAt(0, 0, 0);
            CqarMat4 m;
            for (int i = 0; i < 3; ++i) {
                for (int j = 0; j < 3; ++j)
                    m(i, j) = place.r[i][j];
                m(i, 3) = place.t[i];
            }
            lone->absolutePosition(m);
            std::vector<CtvxObject const*> const order = {group.get(), m1.get(), m2.get(), lone.get()};
            std::string all;
            for (int t = 0; t < 4; ++t) {
                boost::shared_ptr<CtvxAnalysis> an =
                    analysisOf(listOf({group}), listOf({lone}), CtvxAnalysis::EAnalysisType(t));
                an->compute();
                all += describe(*an, order);
                if (host == 0 && t == CtvxAnalysis::FIRST_COLLISION)
                    contacts += an->countCollisions() > 0;
            }
            answers.push_back(all);
        }
        EXPECT_EQ(answers[0], answers[1]) << "round " << round;
        EXPECT_EQ(answers[0], answers[2]) << "round " << round << ", with questions on the side";
        EXPECT_FALSE(answers[0].empty());
    }
    // Both outcomes occur.
    EXPECT_GT(contacts, 0);
    EXPECT_LT(contacts, rounds);
    EXPECT_GT(side.asked, 1000);
    EXPECT_EQ(side.wrong, 0) << "of " << side.asked / 7 << " questions on the side";
}

std::string SideQuestion::answer(int t) const
{
    std::vector<CtvxObject const*> const order = {a.get(), b.get()};
    return describe(*analyses[t], order);
}

// An exact distance query asked again and again of a scene that does not
// move starts each time from the closest pair it found the time before; its
// answer must not depend on how often it was asked. Its distance and closest
// points are those of a first query, to the bit, the 300th time too (they
// once crept by a rounding a query, carried through the frames), and the
// points lie on the surfaces: within rounding of the distance apart.
TEST(DriverResults, AnExactDistanceAskedAgainDoesNotCreep)
{
    boost::shared_ptr<CtvxPolyhedron> a = makePolyhedron(makeIcosphere(2, 1.0));
    boost::shared_ptr<CtvxPolyhedron> b = makePolyhedron(makeTorus(24, 12, 1.0, 0.3));
    a->makeCollisionEntity(noDelegate);
    b->makeCollisionEntity(noDelegate);
    std::vector<CtvxObject const*> const order = {a.get(), b.get()};
    Random rng(78);
    int crept = 0;
    for (int pose = 0; pose < 8; ++pose) {
        // Whichever way the rounding of a pose carries the points, some of
        // these poses carry them towards each other.
        Affine const placeA = randomRigid(rng, 1.0);
        a->absolutePosition(toQar(placeA));
        b->absolutePosition(toQar(placeA * Affine::translation(2.6, 0.2, 0.1) * randomRigid(rng, 0.0)));
        boost::shared_ptr<CtvxAnalysis> an = analysisOf(listOf({a}), listOf({b}), CtvxAnalysis::EXACT_DISTANCE);
        an->compute();
        std::string const first = describe(*an, order);
        for (int k = 1; k < 100; ++k) {
            an->compute();
            if (describe(*an, order) != first) {
                ADD_FAILURE() << "pose " << pose << ", query " << k + 1 << ":\n"
                              << describe(*an, order) << "first:\n"
                              << first;
                ++crept;
                break;
            }
        }
        boost::shared_ptr<CtvxDistance> d;
        an->getDistance(0, d);
        ASSERT_TRUE(d->isExactDistance());
        EXPECT_GT(d->distance(), 0.01f); // apart: a contact would not creep
        CqarPoint3 const p = absolutePoint(d, 1), q = absolutePoint(d, 2);
        EXPECT_NEAR(p.distanceFrom(q), d->distance(), 1e-6) << "pose " << pose;
    }
    EXPECT_EQ(crept, 0);
}

// Analyses of two scenes on two threads at once: each works in its own
// scratch, so both give, query after query, the answers that twins of their
// scenes give on one thread; and the count of queries, the one piece of
// state they share, loses none.
TEST(DriverResults, TwoScenesOnTwoThreads)
{
    struct Scene {
        boost::shared_ptr<CtvxPolyhedron> a = makePolyhedron(makeIcosphere(2, 1.0));
        boost::shared_ptr<CtvxPolyhedron> b = makePolyhedron(makeTorus(24, 12, 1.0, 0.3));
        boost::shared_ptr<CtvxAnalysis> analyses[4];
        std::vector<std::string> answers;
        explicit Scene(double x)
        {
            a->makeCollisionEntity(noDelegate);
            b->makeCollisionEntity(noDelegate);
            b->absolutePosition(translationMat(x, 0.2, 0.1) * rotationZMat(0.3));
            for (int t = 0; t < 4; ++t)
                analyses[t] = analysisOf(listOf({a}), listOf({b}), CtvxAnalysis::EAnalysisType(t));
        }
        void run(int rounds)
        {
            for (int r = 0; r < rounds; ++r)
                for (int t = 0; t < 4; ++t) {
                    analyses[t]->compute();
                    answers.push_back(describe(*analyses[t], {a.get(), b.get()}));
                }
        }
    };
    int const rounds = runs(50);
    Scene touchingAlone(1.6), apartAlone(2.6);
    touchingAlone.run(rounds);
    apartAlone.run(rounds);
    Scene touching(1.6), apart(2.6);
    unsigned int const before = CtvxAnalysis::getCollisionCount();
    std::thread first([&] { touching.run(rounds); });
    std::thread second([&] { apart.run(rounds); });
    first.join();
    second.join();
    EXPECT_EQ(CtvxAnalysis::getCollisionCount() - before, static_cast<unsigned int>(8 * rounds));
    EXPECT_TRUE(touching.answers == touchingAlone.answers);
    EXPECT_TRUE(apart.answers == apartAlone.answers);
    EXPECT_GT(touching.analyses[0]->countCollisions(), 0u);
    EXPECT_EQ(apart.analyses[0]->countCollisions(), 0u);
}

// Four unit cubes in a row, 3 apart, each its own entity.
boost::shared_ptr<CtvxAssembly> rowOfCubes()
{
    boost::shared_ptr<CtvxAssembly> a = CtvxAssembly::create();
    for (int k = 0; k < 4; ++k) {
        boost::shared_ptr<CtvxPolyhedron> p = makePolyhedron(makeBox(0.5, 0.5, 0.5));
        p->relativePosition(translationMat(0, 3.0 * k, 0));
        a->attach(p, -1);
        p->makeCollisionEntity(noDelegate);
    }
    return a;
}

TEST(DriverResults, BoxTestsAboveTheTrees)
{
    boost::shared_ptr<CtvxAssembly> a = rowOfCubes(), b = rowOfCubes();
    b->absolutePosition(translationMat(100, 0, 0));
    boost::shared_ptr<CtvxCollisionList> l1 = listOf({a}), l2 = listOf({b});
    for (int t = 0; t < 4; ++t) {
        SCOPED_TRACE(t);
        boost::shared_ptr<CtvxAnalysis> an = analysisOf(l1, l2, CtvxAnalysis::EAnalysisType(t));
        an->compute();
        EXPECT_EQ(an->countCollisions(), 0u);
        if (t == CtvxAnalysis::EXACT_DISTANCE) {
            // Apart, but by less than the starting bound: descended to the
            // cubes' facing faces, 99 apart.
            ASSERT_EQ(an->countDistances(), 1u);
            boost::shared_ptr<CtvxDistance> d;
            an->getDistance(0, d);
            EXPECT_FLOAT_EQ(d->distance(), 99.0f);
            EXPECT_TRUE(d->isExactDistance());
            EXPECT_GT(AnalysisProbe::boxTests(*an), 1u);
            continue;
        }
        // Far apart: the two assembly boxes, one test, and nothing below.
        EXPECT_EQ(AnalysisProbe::boxTests(*an), 1u);
        EXPECT_EQ(AnalysisProbe::triangleTests(*an), 0u);
        if (t == CtvxAnalysis::ESTIMATED_DISTANCE) {
            // The box separation is the estimate: a lower bound of the
            // exact 99, short of it by how far the assembly boxes reach
            // beyond the cubes (at most a few units for any fit).
            ASSERT_EQ(an->countDistances(), 1u);
            boost::shared_ptr<CtvxDistance> d;
            an->getDistance(0, d);
            EXPECT_LE(d->distance(), 99.0f);
            EXPECT_GT(d->distance(), 93.0f);
            EXPECT_FALSE(d->isExactDistance());
        }
    }

    // An assembly whose only boxed child is one cube is descended without a
    // box test of its own: against a far cube, the only test is the one of
    // the two trees' roots.
    boost::shared_ptr<CtvxAssembly> single = CtvxAssembly::create();
    boost::shared_ptr<CtvxPolyhedron> inner = makePolyhedron(makeBox(0.5, 0.5, 0.5));
    single->attach(inner, -1);
    inner->makeCollisionEntity(noDelegate);
    boost::shared_ptr<CtvxPolyhedron> lone = cubeAt(50, 0, 0);
    boost::shared_ptr<CtvxAnalysis> an = analysisOf(listOf({single}), listOf({lone}), CtvxAnalysis::FIRST_COLLISION);
    an->compute();
    EXPECT_EQ(AnalysisProbe::boxTests(*an), 1u);
    EXPECT_EQ(an->countCollisions(), 0u);

    // Counts are per query: a touching pair costs more, the next far query
    // counts from zero again.
    b->absolutePosition(translationMat(0.9, 0, 0));
    boost::shared_ptr<CtvxAnalysis> first = analysisOf(l1, l2, CtvxAnalysis::FIRST_COLLISION);
    first->compute();
    EXPECT_EQ(first->countCollisions(), 1u);
    EXPECT_GT(AnalysisProbe::boxTests(*first), 1u);
    EXPECT_GT(AnalysisProbe::triangleTests(*first), 0u);
    b->absolutePosition(translationMat(100, 0, 0));
    first->compute();
    EXPECT_EQ(AnalysisProbe::boxTests(*first), 1u);
    EXPECT_EQ(AnalysisProbe::triangleTests(*first), 0u);
}

// The driver keeps the placement of the box it tests first while it runs
// through the other side's children; a query after that object moved must
// see it where it is now.
TEST(DriverResults, EachQuerySeesTheCurrentPlacements)
{
    boost::shared_ptr<CtvxAssembly> a = rowOfCubes(), b = rowOfCubes();
    // Nested one level, so that the descent tests a's box against the
    // boxes of b's children too.
    boost::shared_ptr<CtvxAssembly> outer = CtvxAssembly::create();
    outer->attach(b, -1);
    outer->attach(rowOfCubes(), -1);
    outer->child(1)->relativePosition(translationMat(0, 0, 40));
    boost::shared_ptr<CtvxCollisionList> l1 = listOf({a}), l2 = listOf({outer});
    boost::shared_ptr<CtvxAnalysis> first = analysisOf(l1, l2, CtvxAnalysis::FIRST_COLLISION);
    boost::shared_ptr<CtvxAnalysis> estimate = analysisOf(l1, l2, CtvxAnalysis::ESTIMATED_DISTANCE);
    // x of a's row against b's row at x = 0: apart by 9, 5, 1 and 0.9 (in
    // contact) and back.
    double const xs[] = {10, 6, 2, 0.1, 2, 10};
    for (double x : xs) {
        SCOPED_TRACE(x);
        a->absolutePosition(translationMat(x, 0, 0));
        first->compute();
        estimate->compute();
        bool const touching = x < 1.0;
        EXPECT_EQ(first->countCollisions(), touching ? 1u : 0u);
        EXPECT_EQ(estimate->countCollisions(), touching ? 1u : 0u);
        if (touching)
            continue;
        ASSERT_EQ(estimate->countDistances(), 1u);
        boost::shared_ptr<CtvxDistance> d;
        estimate->getDistance(0, d);
        // A lower bound of the gap x - 1 between the rows, close to it.
        EXPECT_LE(d->distance(), x - 1.0 + 1e-5);
        EXPECT_GT(d->distance(), x - 1.0 - 2.0);
    }
}

} // namespace
