// Whole queries against an all-pairs brute force in double precision.
//
// Every pose is answered by the four query types and checked against the
// brute force over every triangle pair of the two sides. Single precision
// makes the contact boundary fuzzy: a triangle pair whose clearance lies
// within `band` of zero may be called either way; everywhere else the answer
// must be the brute force's. The band and the distance bound are stated
// relative to the largest coordinate magnitude of the scene (kRelative),
// which is what float rounding scales with.
#include <tvx/analysis/CtvxAnalysis.h>
#include <tvx/analysis/CtvxCollision.h>
#include <tvx/analysis/CtvxDistance.h>
#include <tvx/analysis/CtvxGeometryPoint.h>
#include <tvx/analysis/CtvxPolyhedronTriangle.h>
#include <tvx/geometry/CtvxPolyhedron.h>
#include <tvx/scene/CtvxAssembly.h>
#include <tvx/scene/CtvxCollisionList.h>

#include <tests/support/BruteForce.h>
#include <tests/support/Meshes.h>
#include <tests/support/Random.h>
#include <tests/support/SceneFixtures.h>

#include <gtest/gtest.h>

#include <boost/pointer_cast.hpp>

#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <sstream>
#include <string>

namespace {

using namespace tvxtest;

// Float rounding of coordinates of magnitude R moves a computed distance by
// a few units of 2^-24 R; the kernels chain a handful of such operations.
// 2e-6 R (about 32 float ulps) bounds it with margin.
double const kRelative = 2e-6;

// One leaf of a side: its mesh, its placement relative to the side's frame
// (or to the inner assembly), its tolerance and whether it is switched on.
struct LeafRecipe {
    Mesh mesh;
    Affine local;
    double tolerance = 0.0;
    bool active = true;
};

// How a side is built: a single polyhedron, or an assembly of leaves
// (optionally nesting all but the first leaf in an inner assembly),
// regrouped or with each leaf a collision entity of its own.
struct SideRecipe {
    std::vector<LeafRecipe> leaves;
    bool assembly = false;
    bool nested = false;
    bool regroup = false;
};

struct BuiltSide {
    boost::shared_ptr<CtvxObject> top;
    std::vector<boost::shared_ptr<CtvxPolyhedron>> leaves;
    boost::shared_ptr<CtvxAssembly> inner;
    // Placement of every leaf relative to the top object's frame.
    std::vector<Affine> leafInTop;
    double ownReach = 0.0;
};

BuiltSide build(SideRecipe const& recipe)
{
    BuiltSide side;
    boost::shared_ptr<CtvxProgressDelegate> none;
    for (LeafRecipe const& l : recipe.leaves) {
        side.leaves.push_back(makePolyhedron(l.mesh));
        side.leaves.back()->setTolerance(l.tolerance);
        for (auto const& p : l.mesh.points)
            side.ownReach = std::max({side.ownReach, std::fabs(p[0]), std::fabs(p[1]), std::fabs(p[2])});
    }
    if (!recipe.assembly) {
        side.top = side.leaves[0];
        side.leafInTop.push_back(Affine());
        side.leaves[0]->makeCollisionEntity(none);
        return side;
    }
    boost::shared_ptr<CtvxAssembly> outer = CtvxAssembly::create();
    side.top = outer;
    if (recipe.nested) {
        side.inner = CtvxAssembly::create();
        side.inner->relativePosition(toQar(Affine::rotation(0, 0, 1, 0.3)));
    }
    for (std::size_t i = 0; i < recipe.leaves.size(); ++i) {
        bool const inInner = recipe.nested && i > 0;
        if (inInner)
            side.inner->attach(side.leaves[i], -1);
        else
            outer->attach(side.leaves[i], -1);
        side.leaves[i]->relativePosition(toQar(recipe.leaves[i].local));
        side.leafInTop.push_back(inInner ? Affine::rotation(0, 0, 1, 0.3) * recipe.leaves[i].local
                                         : recipe.leaves[i].local);
    }
    if (recipe.nested)
        outer->attach(side.inner, -1);
    for (std::size_t i = 0; i < recipe.leaves.size(); ++i)
        if (!recipe.leaves[i].active)
            side.leaves[i]->activation(false);
    if (recipe.regroup) {
        outer->makeCollisionEntity(none);
    } else {
        for (auto& l : side.leaves)
            l->makeCollisionEntity(none);
    }
    return side;
}

WorldSide referenceOf(SideRecipe const& recipe, BuiltSide const& side, Affine const& pose)
{
    WorldSide w;
    for (std::size_t i = 0; i < recipe.leaves.size(); ++i)
        if (recipe.leaves[i].active)
            w.add(recipe.leaves[i].mesh, pose * side.leafInTop[i], side.leaves[i].get(), recipe.leaves[i].tolerance);
    return w;
}

// The world placement of a leaf, from the reference's own bookkeeping.
Affine leafWorld(BuiltSide const& side, Affine const& pose, CtvxGeometry const* g)
{
    for (std::size_t i = 0; i < side.leaves.size(); ++i)
        if (static_cast<CtvxGeometry const*>(side.leaves[i].get()) == g)
            return pose * side.leafInTop[i];
    ADD_FAILURE() << "closest point names a geometry of neither side";
    return Affine();
}

struct Tally {
    int poses = 0;
    int contactsExpected = 0;
    int separatedExpected = 0;
    int boundary = 0;
    int missed = 0;
    int spurious = 0;
    int pairMissed = 0;
    int pairSpurious = 0;
    int pairDuplicated = 0;
    double worstDistanceError = 0.0; // relative to the scene's reach
    double worstPointError = 0.0;
    int estimatedAboveExact = 0;
};

std::set<TrianglePairKey> reportedPairs(CtvxAnalysis const& a, int& duplicates)
{
    std::set<TrianglePairKey> keys;
    for (unsigned int c = 0; c < a.countCollisions(); ++c) {
        boost::shared_ptr<CtvxCollision> col;
        a.getCollision(c, col);
        for (unsigned int i = 0; i < col->countPairs(); ++i) {
            boost::shared_ptr<CtvxGeometrySubElement> e1, e2;
            col->getFirst(i, e1);
            col->getSecond(i, e2);
            auto t1 = boost::dynamic_pointer_cast<CtvxPolyhedronTriangle>(e1);
            auto t2 = boost::dynamic_pointer_cast<CtvxPolyhedronTriangle>(e2);
            EXPECT_TRUE(t1 && t2);
            if (!t1 || !t2)
                continue;
            boost::shared_ptr<CtvxVirtualPolyhedron> p1, p2;
            int r1 = -1, r2 = -1;
            t1->getPolyhedron(p1);
            t2->getPolyhedron(p2);
            t1->getTriangle(r1);
            t2->getTriangle(r2);
            TrianglePairKey const key(TriangleKey(p1.get(), r1), TriangleKey(p2.get(), r2));
            if (!keys.insert(key).second)
                ++duplicates;
        }
    }
    return keys;
}

class QueryFixture {
public:
    QueryFixture(SideRecipe const& a, SideRecipe const& b) : m_recipeA(a), m_recipeB(b), m_a(build(a)), m_b(build(b))
    {
        m_list1 = CtvxCollisionList::create();
        m_list1->add(m_a.top);
        m_list2 = CtvxCollisionList::create();
        m_list2->add(m_b.top);
        for (int t = 0; t < 4; ++t) {
            m_persistent[t] = CtvxAnalysis::create();
            m_persistent[t]->setCollisionList1(m_list1);
            m_persistent[t]->setCollisionList2(m_list2);
            m_persistent[t]->setAnalysisType(static_cast<CtvxAnalysis::EAnalysisType>(t));
        }
    }

    void place(Affine const& poseA, Affine const& poseB)
    {
        m_poseA = poseA;
        m_poseB = poseB;
        m_a.top->absolutePosition(toQar(poseA));
        m_b.top->absolutePosition(toQar(poseB));
    }

    // Moves B along the brute force's closest pair so that those two points
    // end at the given clearance (in bands when inBands). Overlapping poses
    // are left as they are.
    void grazeTo(double target, bool inBands)
    {
        WorldSide const wa = referenceOf(m_recipeA, m_a, m_poseA);
        WorldSide const wb = referenceOf(m_recipeB, m_b, m_poseB);
        double const reach = std::max({wa.reach(), wb.reach(), m_a.ownReach, m_b.ownReach, 1e-30});
        BruteForceAnswer const bf = bruteForce(wa, wb, kRelative * reach);
        if (!(bf.clearance > 0.0))
            return;
        Vec3 const d = bf.closest2 - bf.closest1;
        double const len = norm(d);
        if (!(len > 0.0))
            return;
        double const goal = inBands ? target * kRelative * reach : target;
        double const shift = goal - bf.clearance;
        Affine const move = Affine::translation(d.x / len * shift, d.y / len * shift, d.z / len * shift);
        m_poseB = move * m_poseB;
        m_b.top->absolutePosition(toQar(m_poseB));
    }

    // Checks one pose with fresh analyses and with the persistent ones
    // (whose hints come from the previous poses), then once more unmoved.
    void check(Tally& tally, std::string const& label)
    {
        WorldSide const wa = referenceOf(m_recipeA, m_a, m_poseA);
        WorldSide const wb = referenceOf(m_recipeB, m_b, m_poseB);
        double const reach = std::max({wa.reach(), wb.reach(), m_a.ownReach, m_b.ownReach, 1e-30});
        double const band = kRelative * reach;
        BruteForceAnswer const bf = bruteForce(wa, wb, band);
        ++tally.poses;
        bool const mustTouch = !bf.sureContacts.empty();
        bool const mayTouch = mustTouch || !bf.boundaryContacts.empty();
        if (mustTouch)
            ++tally.contactsExpected;
        else if (!mayTouch)
            ++tally.separatedExpected;
        else
            ++tally.boundary;

        for (int round = 0; round < 3; ++round) {
            std::string const where = label + (round == 0 ? " fresh" : round == 1 ? " hinted" : " again");
            boost::shared_ptr<CtvxAnalysis> an[4];
            for (int t = 0; t < 4; ++t) {
                if (round == 0) {
                    an[t] = CtvxAnalysis::create();
                    an[t]->setCollisionList1(m_list1);
                    an[t]->setCollisionList2(m_list2);
                    an[t]->setAnalysisType(static_cast<CtvxAnalysis::EAnalysisType>(t));
                } else {
                    an[t] = m_persistent[t];
                }
                an[t]->compute();
            }
            checkAnswers(an, bf, wa, wb, band, reach, mustTouch, mayTouch, tally, where);
        }
    }

private:
    void checkAnswers(boost::shared_ptr<CtvxAnalysis> (&an)[4], BruteForceAnswer const& bf, WorldSide const& wa,
                      WorldSide const& wb, double band, double reach, bool mustTouch, bool mayTouch, Tally& tally,
                      std::string const& where)
    {
        // Contact, as each type sees it.
        for (int t = 0; t < 4; ++t) {
            bool const touch = an[t]->countCollisions() > 0;
            if (mustTouch && !touch) {
                ++tally.missed;
                ADD_FAILURE() << where << ": type " << t << " missed a contact (brute force: "
                              << bf.sureContacts.size() << " pairs, clearance " << bf.clearance << ")";
            }
            if (!mayTouch && touch) {
                ++tally.spurious;
                ADD_FAILURE() << where << ": type " << t << " reported a contact; brute-force clearance "
                              << bf.clearance << " band " << band;
            }
            EXPECT_LE(an[t]->countCollisions(), 1u) << where;
            if (t == CtvxAnalysis::FIRST_COLLISION && touch) {
                boost::shared_ptr<CtvxCollision> c;
                an[t]->getCollision(0, c);
                EXPECT_EQ(c->countPairs(), 1u) << where;
            }
            if (t <= CtvxAnalysis::ALL_COLLISIONS) {
                EXPECT_EQ(an[t]->countDistances(), 0u) << where;
            }
        }

        // Every contact pair exactly once, and no other.
        int duplicates = 0;
        std::set<TrianglePairKey> const all = reportedPairs(*an[CtvxAnalysis::ALL_COLLISIONS], duplicates);
        tally.pairDuplicated += duplicates;
        EXPECT_EQ(duplicates, 0) << where;
        for (TrianglePairKey const& k : bf.sureContacts) {
            if (!all.count(k)) {
                ++tally.pairMissed;
                ADD_FAILURE() << where << ": contact pair (" << k.first.second << ", " << k.second.second
                              << ") not reported";
            }
        }
        for (TrianglePairKey const& k : all) {
            if (!bf.sureContacts.count(k) && !bf.boundaryContacts.count(k)) {
                ++tally.pairSpurious;
                ADD_FAILURE() << where << ": pair (" << k.first.second << ", " << k.second.second
                              << ") reported but apart";
            }
        }
        std::set<TrianglePairKey> first;
        int unused = 0;
        first = reportedPairs(*an[CtvxAnalysis::FIRST_COLLISION], unused);
        for (TrianglePairKey const& k : first)
            EXPECT_TRUE(bf.sureContacts.count(k) || bf.boundaryContacts.count(k)) << where << ": first contact apart";

        // Exact distance.
        CtvxAnalysis& exact = *an[CtvxAnalysis::EXACT_DISTANCE];
        if (exact.countCollisions() == 0) {
            ASSERT_EQ(exact.countDistances(), 1u) << where;
            boost::shared_ptr<CtvxDistance> d;
            exact.getDistance(0, d);
            EXPECT_TRUE(d->isExactDistance()) << where;
            double const err = std::fabs(double(d->distance()) - bf.clearance);
            tally.worstDistanceError = std::max(tally.worstDistanceError, err / reach);
            EXPECT_LE(err, band) << where << ": exact " << d->distance() << " brute force " << bf.clearance;
            boost::shared_ptr<CtvxGeometryPoint> p1, p2;
            if (d->getClosestPoint1(p1) == 0 && d->getClosestPoint2(p2) == 0) {
                CqarPoint3 a1, a2, r1, r2;
                p1->pointAbsolute(a1);
                p2->pointAbsolute(a2);
                p1->pointRelative(r1);
                p2->pointRelative(r2);
                Vec3 const v1(a1[0], a1[1], a1[2]), v2(a2[0], a2[1], a2[2]);
                double const on1 = distanceToSide(v1, wa), on2 = distanceToSide(v2, wb);
                tally.worstPointError = std::max({tally.worstPointError, on1 / reach, on2 / reach});
                EXPECT_LE(on1, band) << where << ": closest point 1 off its geometry";
                EXPECT_LE(on2, band) << where << ": closest point 2 off its geometry";
                double const tols = m_recipeA.leaves[0].tolerance + m_recipeB.leaves[0].tolerance;
                EXPECT_NEAR(distance(v1, v2) - tols, d->distance(), band) << where;
                // Relative points: the absolute point seen from the owning
                // polyhedron's placement.
                boost::shared_ptr<CtvxGeometry> g1, g2;
                ASSERT_EQ(p1->getGeometry(g1), 0);
                ASSERT_EQ(p2->getGeometry(g2), 0);
                Affine const w1 = leafWorld(m_a, m_poseA, g1.get()).inverseSimilarity();
                Affine const w2 = leafWorld(m_b, m_poseB, g2.get()).inverseSimilarity();
                std::array<double, 3> const e1 = w1.apply({a1[0], a1[1], a1[2]});
                std::array<double, 3> const e2 = w2.apply({a2[0], a2[1], a2[2]});
                for (int k = 0; k < 3; ++k) {
                    EXPECT_NEAR(r1[k], e1[k], band) << where << ": relative point 1";
                    EXPECT_NEAR(r2[k], e2[k], band) << where << ": relative point 2";
                }
            } else {
                ADD_FAILURE() << where << ": exact distance without closest points";
            }
        }

        // Estimated distance: a lower bound of the exact one.
        CtvxAnalysis& est = *an[CtvxAnalysis::ESTIMATED_DISTANCE];
        if (est.countCollisions() == 0 && exact.countCollisions() == 0) {
            ASSERT_EQ(est.countDistances(), 1u) << where;
            boost::shared_ptr<CtvxDistance> e, x;
            est.getDistance(0, e);
            exact.getDistance(0, x);
            EXPECT_FALSE(e->isExactDistance()) << where;
            if (double(e->distance()) > double(x->distance()) + band) {
                ++tally.estimatedAboveExact;
                ADD_FAILURE() << where << ": estimated " << e->distance() << " above exact " << x->distance();
            }
            EXPECT_GT(e->distance(), -band) << where;
        }
    }

    SideRecipe m_recipeA, m_recipeB;
    BuiltSide m_a, m_b;
    boost::shared_ptr<CtvxCollisionList> m_list1, m_list2;
    boost::shared_ptr<CtvxAnalysis> m_persistent[4];
    Affine m_poseA, m_poseB;
};

double meshRadius(Mesh const& m)
{
    double r = 0;
    for (auto const& p : m.points)
        r = std::max(r, std::sqrt(p[0] * p[0] + p[1] * p[1] + p[2] * p[2]));
    return r;
}

double centreOffset(Mesh const& m)
{
    std::array<double, 3> lo = m.points[0], hi = m.points[0];
    for (auto const& p : m.points)
        for (int k = 0; k < 3; ++k) {
            lo[k] = std::min(lo[k], p[k]);
            hi[k] = std::max(hi[k], p[k]);
        }
    return 0.5 * std::sqrt((lo[0] + hi[0]) * (lo[0] + hi[0]) + (lo[1] + hi[1]) * (lo[1] + hi[1]) +
                           (lo[2] + hi[2]) * (lo[2] + hi[2]));
}

std::array<double, 3> meshCentre(Mesh const& m)
{
    std::array<double, 3> lo = m.points[0], hi = m.points[0];
    for (auto const& p : m.points)
        for (int k = 0; k < 3; ++k) {
            lo[k] = std::min(lo[k], p[k]);
            hi[k] = std::max(hi[k], p[k]);
        }
    return {(lo[0] + hi[0]) / 2, (lo[1] + hi[1]) / 2, (lo[2] + hi[2]) / 2};
}

// Runs `count` poses of B relative to A, spread between deep overlap,
// grazing contact and near misses: B's centre is put at a random direction
// from A's, at a distance drawn between 0 and the sum of the sizes plus a
// margin; every third pose is then pushed along the brute force's closest
// pair so that its clearance is a small multiple of the band, positive or
// negative.
Tally runScenario(std::string const& name, SideRecipe const& a, SideRecipe const& b, int count, std::uint32_t seed)
{
    QueryFixture fx(a, b);
    Random rng(seed);
    Tally tally;
    double sizeA = 0, sizeB = 0;
    // Radius of each side about its centre: a leaf's own radius, plus its
    // offset in its assembly.
    auto sideSize = [](SideRecipe const& side) {
        double size = 1e-30;
        for (auto const& l : side.leaves) {
            double const off = std::sqrt(l.local.t[0] * l.local.t[0] + l.local.t[1] * l.local.t[1] +
                                         l.local.t[2] * l.local.t[2]);
            size = std::max(size, meshRadius(l.mesh) - centreOffset(l.mesh) + off);
        }
        return size;
    };
    sizeA = sideSize(a);
    sizeB = sideSize(b);
    std::array<double, 3> const cA = meshCentre(a.leaves[0].mesh), cB = meshCentre(b.leaves[0].mesh);
    for (int i = 0; i < count; ++i) {
        Affine const poseA = randomRigid(rng, sizeA);
        Affine const rot = randomRigid(rng, 0.0);
        double dir[3], n;
        do {
            for (double& c : dir)
                c = rng.uniform(-1, 1);
            n = std::sqrt(dir[0] * dir[0] + dir[1] * dir[1] + dir[2] * dir[2]);
        } while (n < 0.1 || n > 1);
        double const s = rng.uniform(0.0, 1.15) * (sizeA + sizeB);
        // B's centre (rotated) lands at A's centre plus s along dir, in A's
        // frame.
        std::array<double, 3> const rc = rot.apply(cB);
        Affine rel = Affine::translation(cA[0] + dir[0] / n * s - rc[0], cA[1] + dir[1] / n * s - rc[1],
                                         cA[2] + dir[2] / n * s - rc[2]) *
                     rot;
        fx.place(poseA, poseA * rel);
        std::ostringstream label;
        label << name << " seed " << seed << " pose " << i;
        if (i % 3 == 2) {
            // Graze: a clearance a few bands either side of zero, or a near
            // miss of a thousandth of the size.
            double const k[] = {-8.0, -3.0, 3.0, 8.0, 0.0};
            double const pick = k[rng.below(5)];
            fx.grazeTo(pick != 0.0 ? pick : 1e-3 * (sizeA + sizeB), pick != 0.0);
        }
        fx.check(tally, label.str());
        if (::testing::Test::HasFatalFailure())
            break;
    }
    std::printf("[ %-28s] poses %d: contact %d, separated %d, boundary %d | missed %d spurious %d | pairs missed "
                "%d spurious %d dup %d | worst distance err %.2e R, point err %.2e R, est>exact %d\n",
                name.c_str(), tally.poses, tally.contactsExpected, tally.separatedExpected, tally.boundary,
                tally.missed, tally.spurious, tally.pairMissed, tally.pairSpurious, tally.pairDuplicated,
                tally.worstDistanceError, tally.worstPointError, tally.estimatedAboveExact);
    return tally;
}

int contactsIn(boost::shared_ptr<CtvxAnalysis> const (&an)[4])
{
    return an[CtvxAnalysis::FIRST_COLLISION]->countCollisions() > 0 ? 1 : 0;
}

SideRecipe single(Mesh const& m, double tolerance = 0.0)
{
    SideRecipe s;
    LeafRecipe l;
    l.mesh = m;
    l.tolerance = tolerance;
    s.leaves.push_back(l);
    return s;
}

// A representative sample has contacts and separations both.
void expectMixed(Tally const& t)
{
    // At least one pose in twenty of each kind (and one at all, in the
    // short runs of the sanitizer build).
    int const least = std::max(1, t.poses / 20);
    EXPECT_GE(t.contactsExpected, least);
    EXPECT_GE(t.separatedExpected, least);
}

TEST(QueryDifferential, SpheresAndTori)
{
    Tally const t1 = runScenario("icosphere vs icosphere", single(makeIcosphere(2, 1.0)),
                                 single(makeIcosphere(1, 0.7)), runs(300), 1);
    expectMixed(t1);
    Tally const t2 =
        runScenario("torus vs icosphere", single(makeTorus(24, 12, 1.0, 0.3)), single(makeIcosphere(3, 0.5)),
                    runs(300), 2);
    expectMixed(t2);
}

TEST(QueryDifferential, PlatesNeedlesAndSoups)
{
    Tally const t1 =
        runScenario("plate vs needle", single(makeGrid(20, 20, 2.0, 2.0)), single(makeNeedle(8, 1.5, 0.02)),
                    runs(300), 3);
    expectMixed(t1);
    Random rng(4);
    Tally const t2 = runScenario("soup vs soup", single(makeSoup(rng, 300, 2.0, 0.5)),
                                 single(makeSoup(rng, 200, 1.5, 0.4)), runs(300), 5);
    expectMixed(t2);
}

TEST(QueryDifferential, ScalesAndFarFromOrigin)
{
    Mesh far1 = makeIcosphere(2, 1.0), far2 = makeTorus(16, 8, 0.8, 0.25);
    transformMesh(far1, 1.0, {2e4, -1e4, 3e4});
    transformMesh(far2, 1.0, {-2e4, 1e4, 1e4});
    expectMixed(runScenario("far from origin", single(far1), single(far2), runs(200), 6));
    Mesh tiny1 = makeIcosphere(2, 1.0), tiny2 = makeTorus(16, 8, 0.8, 0.25);
    transformMesh(tiny1, 1e-3, {0, 0, 0});
    transformMesh(tiny2, 1e-3, {0, 0, 0});
    expectMixed(runScenario("tiny (1e-3)", single(tiny1), single(tiny2), runs(200), 7));
    Mesh big1 = makeIcosphere(2, 1.0), big2 = makeTorus(16, 8, 0.8, 0.25);
    transformMesh(big1, 1e3, {0, 0, 0});
    transformMesh(big2, 1e3, {0, 0, 0});
    expectMixed(runScenario("large (1e3)", single(big1), single(big2), runs(200), 8));
}

TEST(QueryDifferential, Tolerances)
{
    expectMixed(runScenario("tolerances", single(makeIcosphere(2, 1.0), 0.05),
                            single(makeTorus(16, 8, 0.8, 0.25), 0.03), runs(300), 9));
}

SideRecipe assemblyRecipe(bool nested, bool regroup, bool withInactive)
{
    SideRecipe s;
    s.assembly = true;
    s.nested = nested;
    s.regroup = regroup;
    LeafRecipe a, b, c;
    a.mesh = makeIcosphere(2, 0.5);
    a.local = Affine::translation(0.6, 0, 0);
    b.mesh = makeBox(0.3, 0.2, 0.4);
    b.local = Affine::translation(-0.5, 0.2, 0) * Affine::rotation(1, 1, 0, 0.7);
    c.mesh = makeTorus(12, 6, 0.4, 0.1);
    c.local = Affine::translation(0, -0.5, 0.2);
    c.active = !withInactive;
    s.leaves = {a, b, c};
    return s;
}

TEST(QueryDifferential, Assemblies)
{
    expectMixed(runScenario("assembly vs polyhedron", assemblyRecipe(false, false, true),
                            single(makeIcosphere(2, 0.6)), runs(200), 10));
    expectMixed(runScenario("regrouped vs polyhedron", assemblyRecipe(false, true, true),
                            single(makeIcosphere(2, 0.6)), runs(200), 11));
    expectMixed(runScenario("nested vs regrouped nested", assemblyRecipe(true, false, false),
                            assemblyRecipe(true, true, true), runs(200), 12));
}

// Re-querying along a smooth motion, where the remembered pairs and hints
// matter most, gives the answers of fresh analyses.
TEST(QueryDifferential, SmallMotionsAgreeWithFreshAnalyses)
{
    BuiltSide a = build(single(makeTorus(24, 12, 1.0, 0.3), 0.01));
    BuiltSide b = build(single(makeIcosphere(3, 0.5), 0.02));
    boost::shared_ptr<CtvxCollisionList> l1 = CtvxCollisionList::create(), l2 = CtvxCollisionList::create();
    l1->add(a.top);
    l2->add(b.top);
    boost::shared_ptr<CtvxAnalysis> kept[4];
    for (int t = 0; t < 4; ++t) {
        kept[t] = CtvxAnalysis::create();
        kept[t]->setCollisionList1(l1);
        kept[t]->setCollisionList2(l2);
        kept[t]->setAnalysisType(CtvxAnalysis::EAnalysisType(t));
    }
    double const band = kRelative * 3.0;
    int const steps = runs(400);
    int contacts = 0;
    for (int i = 0; i < steps; ++i) {
        // The sphere sweeps across the torus's tube and hole.
        double const u = double(i) / steps;
        Affine const pose = Affine::translation(2.2 - 3.0 * u, 0.3 * std::sin(6 * u), 0.5 - u) *
                            Affine::rotation(0, 0, 1, 2.0 * u);
        b.top->absolutePosition(toQar(pose));
        for (int t = 0; t < 4; ++t) {
            boost::shared_ptr<CtvxAnalysis> fresh = CtvxAnalysis::create();
            fresh->setCollisionList1(l1);
            fresh->setCollisionList2(l2);
            fresh->setAnalysisType(CtvxAnalysis::EAnalysisType(t));
            fresh->compute();
            kept[t]->compute();
            ASSERT_EQ(fresh->countCollisions(), kept[t]->countCollisions()) << "step " << i << " type " << t;
            ASSERT_EQ(fresh->countDistances(), kept[t]->countDistances()) << "step " << i << " type " << t;
            if (t == CtvxAnalysis::EXACT_DISTANCE && fresh->countDistances() == 1) {
                boost::shared_ptr<CtvxDistance> d1, d2;
                fresh->getDistance(0, d1);
                kept[t]->getDistance(0, d2);
                ASSERT_NEAR(d1->distance(), d2->distance(), band) << "step " << i;
            }
            if (t == CtvxAnalysis::ALL_COLLISIONS && fresh->countCollisions() == 1) {
                boost::shared_ptr<CtvxCollision> c1, c2;
                fresh->getCollision(0, c1);
                kept[t]->getCollision(0, c2);
                ASSERT_EQ(c1->countPairs(), c2->countPairs()) << "step " << i;
            }
        }
        contacts += contactsIn(kept);
    }
    EXPECT_GT(contacts, steps / 10);
    EXPECT_LT(contacts, steps - steps / 10);
}

TEST(QueryDifferential, LargerMeshes)
{
    expectMixed(runScenario("10^4 torus vs 5120 sphere", single(makeTorus(100, 50, 1.0, 0.3)),
                            single(makeIcosphere(4, 0.6)), runs(30), 13));
}

} // namespace
