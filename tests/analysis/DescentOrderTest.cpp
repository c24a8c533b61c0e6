// The pair analysis walks its trees three ways: in order with cached box
// placements (contact queries, estimated distance), nearest first (exact
// distance) and the plain recursive order, which these tests take as the
// reference. The faster walks must not change a single answer: the same
// contacts in the same order, the same distance to the bit, the same closest
// points to the bit, and the same hints left in the polyhedra for the next
// query. Two copies of each scene are queried side by side, one through the
// plain walk, with analyses kept across poses so that hints carry over.
#include <tvx/analysis/CtvxAnalysis.h>
#include <tvx/analysis/CtvxCollision.h>
#include <tvx/analysis/CtvxDistance.h>
#include <tvx/analysis/CtvxGeometryPoint.h>
#include <tvx/analysis/CtvxPolyhedronTriangle.h>
#include <tvx/analysis/internal/CtvxKeptFront.h>
#include <tvx/analysis/internal/CtvxQueryScratch.h>
#include <tvx/bvtree/CtvxPolyhedronOBBTree.h>
#include <tvx/geometry/CtvxPolyhedron.h>
#include <tvx/geometry/CtvxPolyhedronData.h>
#include <tvx/scene/CtvxAssembly.h>
#include <tvx/scene/CtvxPolyhedronGroup.h>
#include <tvx/scene/CtvxCollisionList.h>

#include <tests/support/AnalysisProbe.h>
#include <tests/support/Meshes.h>
#include <tests/support/QueryRecord.h>
#include <tests/support/Random.h>
#include <tests/support/SceneFixtures.h>

#include <gtest/gtest.h>

#include <boost/pointer_cast.hpp>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

namespace {

using tvxtest::Affine;
using tvxtest::toQar;
using tvxtest::Mesh;

// One copy of a scene: a top object per side (a polyhedron, or an assembly
// of two, regrouped or not), the lists, and one analysis per query type.
struct Scene {
    std::vector<boost::shared_ptr<CtvxPolyhedron>> leaves;
    boost::shared_ptr<CtvxObject> top[2];
    boost::shared_ptr<CtvxAnalysis> analyses[4];
    tvxtest::QueryRecord record;
};

struct SideRecipe {
    std::vector<Mesh> meshes;   // one: a plain polyhedron; more: an assembly
    std::vector<Affine> locals; // placements of the meshes in an assembly
    double tolerance = 0.0;
    bool regroup = false;
};

Scene buildScene(SideRecipe const (&sides)[2])
{
    Scene scene;
    boost::shared_ptr<CtvxProgressDelegate> none;
    boost::shared_ptr<CtvxCollisionList> lists[2];
    for (int k = 0; k < 2; ++k) {
        SideRecipe const& r = sides[k];
        std::vector<boost::shared_ptr<CtvxPolyhedron>> own;
        for (Mesh const& m : r.meshes) {
            own.push_back(tvxtest::makePolyhedron(m));
            own.back()->setTolerance(r.tolerance);
        }
        if (own.size() == 1) {
            own[0]->makeCollisionEntity(none);
            scene.top[k] = own[0];
        } else {
            boost::shared_ptr<CtvxAssembly> a = CtvxAssembly::create();
            for (std::size_t i = 0; i < own.size(); ++i) {
                a->attach(own[i], -1);
                own[i]->relativePosition(toQar(r.locals[i]));
            }
            if (r.regroup) {
                a->makeCollisionEntity(none);
                scene.record.hinted.push_back(a->regroupedPoly().get());
            } else {
                for (auto& l : own)
                    l->makeCollisionEntity(none);
            }
            scene.top[k] = a;
        }
        for (auto& l : own) {
            scene.leaves.push_back(l);
            scene.record.objects.push_back(l.get());
            scene.record.hinted.push_back(l.get());
        }
        lists[k] = CtvxCollisionList::create();
        lists[k]->add(scene.top[k]);
    }
    for (int t = 0; t < 4; ++t) {
        scene.analyses[t] = CtvxAnalysis::create();
        scene.analyses[t]->setCollisionList1(lists[0]);
        scene.analyses[t]->setCollisionList2(lists[1]);
        scene.analyses[t]->setAnalysisType(static_cast<CtvxAnalysis::EAnalysisType>(t));
    }
    return scene;
}

// Queries a pose in both copies, every type, and compares everything. The
// query types share the polyhedra, so each type's hint is the one the type
// before it left, as in a host that asks several questions per pose.
struct Tally {
    int poses = 0;
    int contacts = 0;
    int separated = 0;
    int mismatches = 0;
};

void queryBoth(Scene& fast, Scene& plain, Affine const& poseB, Tally& tally, std::string const& label,
               Affine const* poseA = nullptr)
{
    fast.top[1]->absolutePosition(toQar(poseB));
    plain.top[1]->absolutePosition(toQar(poseB));
    if (poseA) {
        fast.top[0]->absolutePosition(toQar(*poseA));
        plain.top[0]->absolutePosition(toQar(*poseA));
    }
    ++tally.poses;
    for (int t = 0; t < 4; ++t) {
        fast.analyses[t]->compute();
        tvxtest::AnalysisProbe::plainWalk(*plain.analyses[t], true);
        plain.analyses[t]->compute();
        std::string const a = fast.record.describe(*fast.analyses[t]);
        std::string const b = plain.record.describe(*plain.analyses[t]);
        if (t == 0)
            (fast.analyses[0]->countCollisions() > 0 ? tally.contacts : tally.separated)++;
        if (a != b) {
            ++tally.mismatches;
            ADD_FAILURE() << label << " pose " << tally.poses << " type " << t << "\nfast:\n" << a << "plain:\n" << b;
        }
    }
}

double radiusOf(Mesh const& m)
{
    double r = 0.0;
    for (auto const& p : m.points)
        r = std::max(r, std::sqrt(p[0] * p[0] + p[1] * p[1] + p[2] * p[2]));
    return r;
}

// Random poses: B's centre at a random direction and distance from A's,
// from deep inside to several sizes away, turned at random.
void randomPoses(SideRecipe const (&sides)[2], int n, std::uint32_t seed, Tally& tally, std::string const& label)
{
    Scene fast = buildScene(sides);
    Scene plain = buildScene(sides);
    tvxtest::Random rng(seed);
    double const ra = radiusOf(sides[0].meshes[0]);
    double const rb = radiusOf(sides[1].meshes[0]);
    for (int i = 0; i < n && tally.mismatches < 5; ++i) {
        Affine pose = tvxtest::randomRigid(rng, 0.0);
        double const x = rng.uniform(-1, 1), y = rng.uniform(-1, 1), z = rng.uniform(-1, 1);
        double const len = std::sqrt(x * x + y * y + z * z) + 1e-9;
        // Mostly around the touching distance, some far.
        double const s = rng.chance(0.15) ? rng.uniform(2.0, 12.0) * (ra + rb) : rng.uniform(0.5, 1.3) * (ra + rb);
        pose.t[0] = x / len * s;
        pose.t[1] = y / len * s;
        pose.t[2] = z / len * s;
        queryBoth(fast, plain, pose, tally, label);
    }
}

SideRecipe plain(Mesh const& m, double tolerance = 0.0)
{
    SideRecipe r;
    r.meshes.push_back(m);
    r.tolerance = tolerance;
    return r;
}

TEST(DescentOrder, RandomPosesAgreeWithThePlainWalk)
{
    Tally tally;
    Mesh const torus = tvxtest::makeTorus(40, 16, 1.0, 0.35);
    Mesh const sphere = tvxtest::makeIcosphere(3, 0.8);
    {
        SideRecipe const sides[2] = {plain(torus), plain(sphere)};
        randomPoses(sides, tvxtest::runs(150), 11u, tally, "torus/sphere");
    }
    {
        SideRecipe const sides[2] = {plain(torus, 0.02), plain(sphere, 0.03)};
        randomPoses(sides, tvxtest::runs(80), 12u, tally, "torus/sphere with tolerances");
    }
    {
        tvxtest::Random rng(13u);
        Mesh const soup = tvxtest::makeSoup(rng, 300, 1.0, 0.4);
        SideRecipe const sides[2] = {plain(soup), plain(tvxtest::makeUVSphere(24, 12, 0.6))};
        randomPoses(sides, tvxtest::runs(80), 14u, tally, "soup/uv sphere");
    }
    EXPECT_EQ(tally.mismatches, 0);
    // Both outcomes must have been exercised, or the comparison proves little.
    EXPECT_GT(tally.contacts, tally.poses / 10);
    EXPECT_GT(tally.separated, tally.poses / 10);
}

TEST(DescentOrder, AssembliesAgreeWithThePlainWalk)
{
    Tally tally;
    SideRecipe a;
    a.meshes = {tvxtest::makeTorus(24, 10, 0.8, 0.25), tvxtest::makeBox(0.3, 0.2, 0.5)};
    a.locals = {Affine(), Affine::translation(1.2, 0.0, 0.0)};
    SideRecipe b;
    b.meshes = {tvxtest::makeIcosphere(2, 0.5), tvxtest::makeNeedle(12, 1.5, 0.1)};
    b.locals = {Affine(), Affine::rotation(0, 1, 0, 0.7) * Affine::translation(0.0, 0.6, 0.0)};
    for (bool regroup : {false, true}) {
        a.regroup = regroup;
        b.regroup = regroup;
        SideRecipe const sides[2] = {a, b};
        randomPoses(sides, tvxtest::runs(100), regroup ? 21u : 22u, tally,
                    regroup ? "regrouped assemblies" : "assemblies");
    }
    EXPECT_EQ(tally.mismatches, 0);
    EXPECT_GT(tally.contacts, 0);
    EXPECT_GT(tally.separated, 0);
}

// Parallel faces and mirror-symmetric poses make many triangle pairs
// exactly equally distant; the plain walk reports the first it meets, and
// so must the others.
TEST(DescentOrder, EquallyDistantPairsResolveAlike)
{
    Tally tally;
    Mesh const grid = tvxtest::makeGrid(12, 12, 2.0, 2.0);
    Mesh const box = tvxtest::makeBox(0.5, 0.5, 0.5);
    Mesh const ball = tvxtest::makeIcosphere(2, 0.5);
    struct Case {
        Mesh const* a;
        Mesh const* b;
        std::function<Affine(int)> pose;
        char const* label;
    };
    Case const cases[] = {
        {&grid, &grid, [](int i) { return Affine::translation(0.0, 0.0, 0.05 + 0.1 * i); }, "stacked grids"},
        {&grid, &grid,
         [](int i) { return Affine::translation(0.0, 0.0, 0.3) * Affine::rotation(0, 0, 1, 1.5707963267948966 * i); },
         "grids turned by quarter turns"},
        {&grid, &grid,
         [](int i) { return Affine::translation(0.05 * i, -0.03 * i, 0.2); }, "grids shifted"},
        {&box, &box, [](int i) { return Affine::translation(1.0 + 0.25 * i, 0.0, 0.0); }, "boxes face to face"},
        {&box, &box, [](int i) { return Affine::translation(1.0 + 0.2 * i, 1.0 + 0.2 * i, 0.0); },
         "boxes edge to edge"},
        {&grid, &ball, [](int i) { return Affine::translation(0.0, 0.0, 0.5 + 0.07 * i); }, "ball over grid"},
        {&ball, &ball, [](int i) { return Affine::translation(1.0 + 0.3 * i, 0.0, 0.0); }, "balls in line"},
    };
    for (Case const& c : cases) {
        SideRecipe const sides[2] = {plain(*c.a), plain(*c.b)};
        Scene fast = buildScene(sides);
        Scene slow = buildScene(sides);
        for (int i = 0; i < 6; ++i)
            queryBoth(fast, slow, c.pose(i), tally, c.label);
        // The same poses again, now from hints left by the poses before.
        for (int i = 5; i >= 0; --i)
            queryBoth(fast, slow, c.pose(i), tally, c.label);
    }
    EXPECT_EQ(tally.mismatches, 0);
    EXPECT_GT(tally.separated, 0);
}

// A smooth approach and retreat, the motion a planner or a simulation makes:
// each query starts from the hints of the previous pose.
TEST(DescentOrder, SmoothMotionAgreesWithThePlainWalk)
{
    Tally tally;
    SideRecipe const sides[2] = {plain(tvxtest::makeTorus(48, 16, 1.0, 0.3)), plain(tvxtest::makeIcosphere(3, 0.5))};
    Scene fast = buildScene(sides);
    Scene slow = buildScene(sides);
    int const steps = tvxtest::runs(120);
    for (int i = 0; i < steps; ++i) {
        double const u = static_cast<double>(i) / steps;
        Affine const pose = Affine::translation(1.0 + 0.9 * std::cos(6.283185307179586 * u), 0.2, 0.9 - 1.2 * u) *
                            Affine::rotation(0.3, 1, 0.2, 2.0 * u);
        queryBoth(fast, slow, pose, tally, "smooth motion");
    }
    EXPECT_EQ(tally.mismatches, 0);
    EXPECT_GT(tally.contacts, 0);
    EXPECT_GT(tally.separated, 0);
}

// The motion allowance against the motion itself, in double: no point of
// the ball may move farther (the worst one lies along the leading singular
// vector of the change of the linear part, found by power iteration), and
// the allowance is never looser than the Frobenius bound. Motions from a
// millionth of a radian to a large turn, and stretches. The same motions
// move a triangle and a box of set 2, whose own allowances must cover the
// move of each corner and of points inside, and stay within the ball's
// that holds them (the triangle's within a few roundings of its farthest
// corner's move).
TEST(DescentOrder, MotionAllowanceBoundsEveryPointOfTheBall)
{
    tvxtest::Random rng(31u);
    tvxtest::Random nodes(32u);
    auto const toMat = [](Affine const& a) {
        CtvxMat4 m;
        m.identity();
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j)
                m(i, j) = static_cast<float>(a.r[i][j]);
            m(i, 3) = static_cast<float>(a.t[i]);
        }
        return m;
    };
    for (int n = 0; n < tvxtest::runs(2000); ++n) {
        Affine const before = tvxtest::randomRigid(rng, 10.0);
        double const angle = std::pow(10.0, rng.uniform(-6.0, 0.0));
        Affine step = Affine::rotation(rng.uniform(-1, 1), rng.uniform(-1, 1), rng.uniform(-1, 1), angle) *
                      Affine::translation(rng.uniform(-1, 1) * angle, 0.0, rng.uniform(-1, 1) * angle);
        // A stretch along one axis alone: a change of rank one, the worst
        // case of the eigenvalue spread.
        if (n % 4 == 0) {
            step = Affine::translation(0.0, rng.uniform(-1, 1) * angle, 0.0);
            step.r[0][0] = 1.0 + angle;
        }
        CtvxMat4 const m0 = toMat(before), m1 = toMat(before * step);
        float const centre[3] = {rng.uniformf(-3, 3), rng.uniformf(-3, 3), rng.uniformf(-3, 3)};
        float const radius = rng.uniformf(0.01f, 5.0f);
        float const allowance = CtvxKeptFronts::motionAllowance(m0, m1, centre, radius);
        double d[3][3], frobenius = 0.0;
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j) {
                d[i][j] = double(m1(i, j)) - double(m0(i, j));
                frobenius += d[i][j] * d[i][j];
            }
        double v[3] = {rng.uniform(-1, 1), rng.uniform(-1, 1), rng.uniform(-1, 1)};
        for (int k = 0; k < 60; ++k) {
            double w[3], u[3], len = 0.0;
            for (int i = 0; i < 3; ++i)
                w[i] = d[i][0] * v[0] + d[i][1] * v[1] + d[i][2] * v[2];
            for (int j = 0; j < 3; ++j) {
                u[j] = d[0][j] * w[0] + d[1][j] * w[1] + d[2][j] * w[2];
                len += u[j] * u[j];
            }
            len = std::sqrt(len);
            for (int j = 0; j < 3 && len > 0.0; ++j)
                v[j] = u[j] / len;
        }
        double worst = 0.0, shift = 0.0;
        for (int side = -1; side <= 1; ++side) {
            double moved = 0.0;
            for (int i = 0; i < 3; ++i) {
                double e = double(m1(i, 3)) - double(m0(i, 3));
                for (int j = 0; j < 3; ++j)
                    e += d[i][j] * (double(centre[j]) + side * double(radius) * v[j]);
                moved += e * e;
            }
            (side == 0 ? shift : worst) = std::max(side == 0 ? shift : worst, std::sqrt(moved));
        }
        ASSERT_LE(worst, double(allowance)) << "case " << n;
        ASSERT_LE(double(allowance), (shift + std::sqrt(frobenius) * radius) * (1.0 + 1e-6) + 1e-30) << "case " << n;

        CtvxFrontMotion motion;
        motion.between(m0, m1);
        auto const moveOf = [&](double const (&x)[3]) {
            double moved = 0.0;
            for (int i = 0; i < 3; ++i) {
                double e = double(m1(i, 3)) - double(m0(i, 3));
                for (int j = 0; j < 3; ++j)
                    e += d[i][j] * x[j];
                moved += e * e;
            }
            return std::sqrt(moved);
        };
        // A triangle near the centre, from a sliver to the ball's size.
        float tri[3][3];
        double corners[3][3];
        float const size = radius * std::pow(10.0f, nodes.uniformf(-3.0f, 0.0f));
        for (int k = 0; k < 3; ++k)
            for (int i = 0; i < 3; ++i) {
                tri[k][i] = centre[i] + size * nodes.uniformf(-1.0f, 1.0f);
                corners[k][i] = tri[k][i];
            }
        float const ofTriangle = motion.ofTriangle(tri);
        double farthest = 0.0, inside[3];
        for (int k = 0; k < 3; ++k)
            farthest = std::max(farthest, moveOf(corners[k]));
        double const a = nodes.uniform(0, 1), b = nodes.uniform(0, 1 - a);
        for (int i = 0; i < 3; ++i)
            inside[i] = a * corners[0][i] + b * corners[1][i] + (1 - a - b) * corners[2][i];
        ASSERT_LE(farthest, double(ofTriangle)) << "case " << n;
        ASSERT_LE(moveOf(inside), double(ofTriangle)) << "case " << n;
        ASSERT_LE(double(ofTriangle), farthest * (1.0 + 1e-6) + 1e-30) << "case " << n;
        // A box turned at random, placed as a tree decodes it.
        Affine const turn = tvxtest::randomRigid(nodes, 0.0);
        float place[3][4];
        float h[3];
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j)
                place[i][j] = static_cast<float>(turn.r[i][j]);
            place[i][3] = centre[i];
            h[i] = size * nodes.uniformf(0.0f, 1.0f);
        }
        float const ofBox = motion.ofBox(place, h);
        double const half = std::sqrt(double(h[0]) * h[0] + double(h[1]) * h[1] + double(h[2]) * h[2]);
        for (int corner = 0; corner < 9; ++corner) {
            // The eight corners, then a point inside.
            double x[3], along[3];
            for (int j = 0; j < 3; ++j)
                along[j] = corner < 8 ? ((corner >> j) & 1 ? 1.0 : -1.0) : nodes.uniform(-1, 1);
            for (int i = 0; i < 3; ++i) {
                x[i] = place[i][3];
                for (int j = 0; j < 3; ++j)
                    x[i] += double(place[i][j]) * along[j] * h[j];
            }
            ASSERT_LE(moveOf(x), double(ofBox)) << "case " << n << " corner " << corner;
        }
        float const halfUp = std::nextafter(static_cast<float>(half), 2.0f * static_cast<float>(half) + 1.0f);
        ASSERT_LE(double(ofBox), double(motion.ofBall(centre, halfUp)) * (1.0 + 1e-6) + 1e-30) << "case " << n;
    }
}

// When a kept front is walked afresh (CtvxKeptFronts::spent), fed the tests
// of a walk from the roots and of resumed walks each at least as dear as the
// last (a front only grows finer), against the average cost of a cycle of
// every length, worked out by brute force in exact integers: the cycle's
// average falls, then never falls again, and the rule, which sees a walk's
// cost only once the walk is done, must end the cycle with the first walk
// that did not lower it, no sooner and no later; a cycle whose average still
// falls at the end of the sequence is not ended.
TEST(DescentOrder, KeptFrontCycleEndsOneWalkAfterItsLeastAverageCost)
{
    tvxtest::Random rng(41u);
    int ended = 0;
    for (int n = 0; n < tvxtest::runs(2000); ++n) {
        std::uint64_t const fresh = 1 + rng.below(100000);
        int const walks = 1 + static_cast<int>(rng.below(40));
        std::vector<std::uint64_t> resumed(static_cast<std::size_t>(walks));
        std::uint64_t c = rng.below(static_cast<std::uint32_t>(fresh / (1 + rng.below(50)) + 1));
        for (std::uint64_t& r : resumed) {
            // Growing by nothing (ties), a little or a lot.
            c += rng.chance(0.3) ? 0 : rng.below(static_cast<std::uint32_t>(fresh / 8 + 1));
            r = c;
        }
        // The average of the cycle of the walk from the roots and the first
        // j resumed walks is (fresh + S_j) / (j + 1); least at jLeast, the
        // first of the least.
        std::vector<std::uint64_t> sums(1, fresh);
        for (std::uint64_t r : resumed)
            sums.push_back(sums.back() + r);
        std::size_t jLeast = 0;
        for (std::size_t j = 1; j < sums.size(); ++j)
            if (sums[j] * (jLeast + 1) < sums[jLeast] * (j + 1))
                jLeast = j;
        // The analysis' side: asked before each walk whether to walk afresh.
        CtvxKeptFront f;
        CtvxKeptFronts::count(f, false, static_cast<unsigned long>(fresh));
        int done = 0;
        while (done < walks && !CtvxKeptFronts::spent(f))
            CtvxKeptFronts::count(f, true, static_cast<unsigned long>(resumed[static_cast<std::size_t>(done++)]));
        bool const spent = CtvxKeptFronts::spent(f);
        if (jLeast + 1 < sums.size()) {
            ASSERT_TRUE(spent) << "case " << n;
            ASSERT_EQ(static_cast<std::size_t>(done), jLeast + 1) << "case " << n;
            ++ended;
        } else {
            ASSERT_FALSE(spent) << "case " << n;
            ASSERT_EQ(done, walks) << "case " << n;
        }
    }
    // Both outcomes must have been met.
    EXPECT_GT(ended, 0);
    EXPECT_LT(ended, tvxtest::runs(2000));
}

// Smooth paths along which each exact query resumes from the front of box
// pairs that the one before kept, its bounds lowered by the motion since:
// the faster analyses keep their fronts, the plain walk's have none. Sets
// moving on either side, through contact and out, and a change halfway that
// leaves a kept front wrong (a grown mesh, a scaled one, a tolerance, a
// rebuilt tree), after which only a walk from the roots is right.
TEST(DescentOrder, KeptFrontsAgreeWithThePlainWalkAlongSmoothPaths)
{
    Mesh const torus = tvxtest::makeTorus(48, 16, 1.0, 0.3);
    Mesh const ball = tvxtest::makeIcosphere(3, 0.5);
    SideRecipe groupA;
    groupA.meshes = {tvxtest::makeTorus(24, 10, 0.8, 0.25), tvxtest::makeBox(0.3, 0.2, 0.5)};
    groupA.locals = {Affine(), Affine::translation(1.2, 0.0, 0.0)};
    groupA.regroup = true;
    SideRecipe const simple[2] = {plain(torus), plain(ball)};
    SideRecipe const grouped[2] = {groupA, plain(ball, 0.01)};
    boost::shared_ptr<CtvxProgressDelegate> none;
    auto const above = [](double u) { return Affine::translation(1.0 + 0.3 * u, 0.2, 0.95 - 0.1 * u); };
    struct Path {
        char const* label;
        SideRecipe const (&sides)[2];
        std::function<Affine(double)> b;
        std::function<Affine(double)> a; // empty: A stays
        std::function<void(Scene&)> edit; // both copies, halfway; empty: none
    };
    Path const paths[] = {
        {"translation", simple, above, {}, {}},
        {"turning", simple, [&](double u) { return Affine::rotation(1, 0.2, 0.3, 0.3 * u) * above(0.0); }, {}, {}},
        {"both moving", simple, above,
         [](double u) { return Affine::rotation(0.1, 0.3, 1, 0.2 * u) * Affine::translation(0.0, 0.1 * u, 0.0); },
         {}},
        {"through contact and out", simple,
         [](double u) { return Affine::translation(1.0, 0.2, 0.95 - 0.2 * std::sin(3.141592653589793 * u)); }, {},
         {}},
        {"mesh grown halfway", simple, above, {},
         [](Scene& s) {
             auto data = s.leaves[1]->polyData();
             unsigned int p[3], t = 0;
             data->addPoint(0.0f, 0.0f, -0.62f, p[0]);
             data->addPoint(0.1f, 0.0f, -0.62f, p[1]);
             data->addPoint(0.0f, 0.1f, -0.62f, p[2]);
             data->addTriangle(p[0], p[1], p[2], t);
         }},
        {"scaled halfway", simple, above, {},
         [](Scene& s) {
             CqarPoint3 c(1.1, 0.2, 0.9);
             s.leaves[1]->scale(c, 1.1);
         }},
        {"tolerance halfway", simple, above, {}, [](Scene& s) { s.leaves[0]->setTolerance(0.08); }},
        {"tree rebuilt halfway", simple, above, {},
         [&none](Scene& s) {
             s.leaves[1]->removeCollisionEntities();
             s.leaves[1]->makeCollisionEntity(none);
         }},
        {"regrouped assembly", grouped,
         [](double u) { return Affine::translation(1.2, 0.5 - 0.3 * u, 1.15) * Affine::rotation(0, 0, 1, 0.3 * u); },
         {}, {}},
    };
    int const steps = 24;
    for (Path const& path : paths) {
        Tally tally;
        Scene fast = buildScene(path.sides);
        Scene slow = buildScene(path.sides);
        for (int i = 0; i <= steps; ++i) {
            double const u = double(i) / steps;
            if (path.edit && i == steps / 2) {
                path.edit(fast);
                path.edit(slow);
            }
            Affine const a = path.a ? path.a(u) : Affine();
            queryBoth(fast, slow, path.b(u), tally, path.label, path.a ? &a : nullptr);
        }
        EXPECT_EQ(tally.mismatches, 0) << path.label;
        EXPECT_GT(tally.separated, steps / 3) << path.label;
        // Most queries must have resumed, or the comparison proves little.
        EXPECT_GT(tvxtest::AnalysisProbe::frontResumes(*fast.analyses[CtvxAnalysis::EXACT_DISTANCE]),
                  static_cast<unsigned long>(tally.separated / 2))
            << path.label;
        if (std::string(path.label) == "through contact and out") {
            EXPECT_GT(tally.contacts, 0);
        }
    }
}

} // namespace

namespace {

// Pairs of very deep trees: ranks of the in-order walk up to the last bit
// the nearest-first walk keeps, and beyond it, where the plain walk takes
// over.
TEST(DescentOrder, DeepTreesAgreeWithThePlainWalk)
{
    Tally tally;
    std::vector<int> depthSums;
    for (int n : {40, 64, 66, 90}) {
        Mesh const chain = tvxtest::makeGeometricChain(n, 2.2);
        SideRecipe const sides[2] = {plain(chain), plain(chain)};
        Scene fast = buildScene(sides);
        Scene slow = buildScene(sides);
        CtvxPolyhedronBVTree* bv = nullptr;
        fast.leaves[0]->getBoundingVolumes(bv);
        auto const* tree = dynamic_cast<CtvxPolyhedronOBBTree const*>(bv);
        ASSERT_NE(tree, nullptr);
        depthSums.push_back(2 * tree->depth());
        for (int i = 0; i < 12; ++i) {
            double const far = std::pow(2.2, i * n / 12.0) * 1e-17;
            Affine const pose = Affine::translation(0.3 * far, 1e-18 + 0.5 * far, 0.0) * Affine::rotation(0, 0, 1, 0.4 * i);
            queryBoth(fast, slow, pose, tally, "chains of " + std::to_string(n));
        }
    }
    EXPECT_EQ(tally.mismatches, 0);
    EXPECT_GT(tally.separated, 0);
    // The chains must straddle the 128 levels the ranks can hold.
    EXPECT_EQ(depthSums, (std::vector<int>{78, 126, 130, 178}));
}

} // namespace

namespace {

// The boxes of small trees are decoded once for all the pairs of an
// analysis and kept, by their stored values and their tree's scale, in a
// table that many trees share. Copies of one box at sizes a power of two
// apart store the very same values under scales a power of two apart: two
// groups of forty such copies, each with its own tree, in one list make
// their boxes meet in the table's entries, the groups apart (one list each
// side's row), and the objects of a group crowded and moved frame after
// frame, so that their walks decode most boxes. Every answer of every type
// is the plain walk's, which decodes each box where it meets it.
TEST(DescentOrder, SmallTreesOfScaledCopiesAgreeWithThePlainWalk)
{
    boost::shared_ptr<CtvxProgressDelegate> none;
    Mesh const unit = tvxtest::makeBox(0.5, 0.4, 0.3);
    struct World {
        std::vector<boost::shared_ptr<CtvxPolyhedron>> leaves;
        std::vector<Affine> poses;
        boost::shared_ptr<CtvxAnalysis> analyses[4];
        tvxtest::QueryRecord record;
    };
    int const perGroup = 40;
    auto build = [&](bool plainWalk) {
        World w;
        tvxtest::Random rng(71u);
        boost::shared_ptr<CtvxCollisionList> list = CtvxCollisionList::create();
        for (int g = 0; g < 2; ++g) {
            // Beyond 2^15 the tree's scale falls below 1, and the stored
            // values of the two groups are the same.
            double const size = g == 0 ? 65536.0 : 131072.0;
            Mesh m = unit;
            for (auto& q : m.points)
                for (double& c : q)
                    c *= size;
            for (int i = 0; i < perGroup; ++i) {
                boost::shared_ptr<CtvxPolyhedron> p = tvxtest::makePolyhedron(m);
                p->makeCollisionEntity(none);
                Affine pose = tvxtest::randomRigid(rng, 0.0);
                pose.t[0] = size * (1.1 * (i % 8) + 40.0 * g);
                pose.t[1] = size * 1.1 * (i / 8);
                pose.t[2] = size * rng.uniform(-0.1, 0.1);
                p->absolutePosition(toQar(pose));
                list->add(p);
                w.leaves.push_back(p);
                w.poses.push_back(pose);
                w.record.objects.push_back(p.get());
                w.record.hinted.push_back(p.get());
            }
        }
        for (int t = 0; t < 4; ++t) {
            w.analyses[t] = tvxtest::analysisOf(list, list, static_cast<CtvxAnalysis::EAnalysisType>(t));
            w.analyses[t]->setEachPairOnce(true);
            tvxtest::AnalysisProbe::plainWalk(*w.analyses[t], plainWalk);
        }
        return w;
    };
    World fast = build(false);
    World plain = build(true);
    tvxtest::Random rng(72u);
    int mismatches = 0, contacts = 0, queries = 0;
    for (int frame = 0; frame < tvxtest::runs(6) && mismatches < 3; ++frame) {
        for (std::size_t k = 0; k < fast.leaves.size(); ++k) {
            double const size = k < static_cast<std::size_t>(perGroup) ? 65536.0 : 131072.0;
            Affine& pose = fast.poses[k];
            pose = pose * Affine::rotation(rng.uniform(-1, 1), rng.uniform(-1, 1), rng.uniform(-1, 1) + 1e-3,
                                           rng.uniform(-0.1, 0.1));
            for (double& t : pose.t)
                t += size * rng.uniform(-0.04, 0.04);
            fast.leaves[k]->absolutePosition(toQar(pose));
            plain.leaves[k]->absolutePosition(toQar(pose));
        }
        for (int t = 0; t < 4; ++t) {
            fast.analyses[t]->compute();
            plain.analyses[t]->compute();
            ++queries;
            contacts += t == 1 ? static_cast<int>(fast.analyses[t]->countCollisions()) : 0;
            std::string const a = fast.record.describe(*fast.analyses[t]);
            std::string const b = plain.record.describe(*plain.analyses[t]);
            if (a != b) {
                ++mismatches;
                ADD_FAILURE() << "frame " << frame << " type " << t << "\nfast:\n" << a << "plain:\n" << b;
            }
        }
    }
    EXPECT_EQ(mismatches, 0);
    // Both groups crowd their boxes: many pairs touch, most do not.
    EXPECT_GT(contacts, 10 * queries / 4);
}

// Smooth surfaces far apart are equidistant to first order: every box pair
// looks about as far as the closest one to the box test's own axes, and the
// plain walk opens nearly all of them. The line of centres and the closest
// pair's direction must prune them instead. Counts, not times: the same
// pairs are tested on any machine.
TEST(DescentOrder, FarApartSurfacesArePrunedEarly)
{
    boost::shared_ptr<CtvxProgressDelegate> none;
    auto a = tvxtest::makePolyhedron(tvxtest::makeIcosphere(2, 1.0));
    auto b = tvxtest::makePolyhedron(tvxtest::makeIcosphere(2, 1.0));
    a->makeCollisionEntity(none);
    b->makeCollisionEntity(none);
    // The farther apart, the more the plain walk opens and the larger the
    // share the other bounds spare.
    struct Case {
        double clearance;
        unsigned long factor;
    };
    for (Case const c : {Case{0.5, 2}, Case{5.0, 5}, Case{100.0, 20}}) {
        double const clearance = c.clearance;
        b->absolutePosition(toQar(Affine::translation(2.0 + clearance, 0.3, -0.2) * Affine::rotation(1, 2, 3, 0.7)));
        unsigned long tests[2];
        float distance[2];
        for (int plainWalk = 0; plainWalk < 2; ++plainWalk) {
            // Each walk starts from the same, unrelated hint.
            a->setLastClosestInfo(0);
            b->setLastClosestInfo(0);
            boost::shared_ptr<CtvxCollision> collision = CtvxCollision::create();
            boost::shared_ptr<CtvxDistance> result = CtvxDistance::create();
            tvxtest::PairRun const run = tvxtest::runPair(a, b, CtvxAnalysis::EXACT_DISTANCE,
                                                          plainWalk == 1 ? CtvxWalk::Plain : CtvxWalk::Ordered,
                                                          collision, result);
            EXPECT_FALSE(run.collided);
            EXPECT_TRUE(run.distanceFound);
            tests[plainWalk] = run.boxTests + run.triangleTests;
            distance[plainWalk] = result->distance();
        }
        EXPECT_EQ(distance[0], distance[1]) << "clearance " << clearance;
        // The meshes' chords keep the clearance a little above the spheres'.
        EXPECT_NEAR(distance[0], clearance, 0.05) << "clearance " << clearance;
        EXPECT_LT(tests[0] * c.factor, tests[1]) << "clearance " << clearance << ": " << tests[0] << " tests against "
                                           << tests[1] << " in plain order";
    }
}

// The nearest-first walk takes its pending pairs from a heap: whatever its
// shape, the pairs must come out in the one order the walk's answers and
// its recorded front were measured with: least bound first, bounds of zero
// or below (and NaN, which the walk never makes) taken as zero, and of
// equal bounds the pair kept last. The reference finds that pair by a scan
// with float comparisons, not the key's bits; the bounds include -0, +0,
// subnormals, infinities and many exact ties. Every path of the heap is
// taken: the dive's stack ordered at once, pushes, pops, the top replaced,
// and the look at the pair after the top.
TEST(DescentOrder, NearHeapTakesPairsByLeastBoundThenLatestKept)
{
    float const inf = std::numeric_limits<float>::infinity();
    float const pool[] = {-inf, -1.0f, -0.0f, 0.0f, std::numeric_limits<float>::denorm_min(),
                          std::numeric_limits<float>::min(), 1e-30f, 0.25f, 0.5f, 1.0f, 1.0f, 3.0f, inf,
                          std::numeric_limits<float>::quiet_NaN()};
    struct Pending {
        float bound;
        std::uint32_t step;
    };
    // True when a is taken before b.
    auto const before = [](Pending const& a, Pending const& b) {
        float const x = a.bound > 0.0f ? a.bound : 0.0f;
        float const y = b.bound > 0.0f ? b.bound : 0.0f;
        return x < y || (x == y && a.step > b.step);
    };
    auto const first = [&](std::vector<Pending> const& all) {
        std::size_t best = 0;
        for (std::size_t i = 1; i < all.size(); ++i)
            if (before(all[i], all[best]))
                best = i;
        return best;
    };
    tvxtest::Random random(16);
    CtvxNearHeap heap;
    for (int run = 0; run < tvxtest::runs(200); ++run) {
        heap.clear();
        std::vector<Pending> reference;
        std::uint32_t step = 0;
        auto const draw = [&]() {
            float const b = random.chance(0.7) ? pool[random.below(sizeof pool / sizeof pool[0])]
                                               : random.uniformf(-1.0f, 4.0f);
            return Pending{b, step++};
        };
        // A dive: a stack ordered once.
        int const dive = static_cast<int>(random.below(40));
        for (int i = 0; i < dive; ++i) {
            reference.push_back(draw());
            heap.append(CtvxNearKey(reference.back().bound, reference.back().step));
        }
        for (int i = 0; i < dive / 4; ++i) {
            reference.pop_back();
            heap.popBack();
        }
        heap.heapify();
        for (int op = 0; op < 300; ++op) {
            ASSERT_EQ(heap.size(), reference.size());
            if (!reference.empty()) {
                std::size_t const top = first(reference);
                ASSERT_EQ(heap.top().step(), reference[top].step) << "run " << run << ", operation " << op;
                std::vector<Pending> rest = reference;
                rest.erase(rest.begin() + static_cast<std::ptrdiff_t>(top));
                CtvxNearKey next(0.0f, 0);
                ASSERT_EQ(heap.next(next), !rest.empty());
                if (!rest.empty()) {
                    ASSERT_EQ(next.step(), rest[first(rest)].step) << "run " << run << ", operation " << op;
                }
            }
            std::uint32_t const what = random.below(3);
            if (what == 0 || reference.empty()) {
                reference.push_back(draw());
                heap.push(CtvxNearKey(reference.back().bound, reference.back().step));
            } else if (what == 1) {
                reference.erase(reference.begin() + static_cast<std::ptrdiff_t>(first(reference)));
                heap.pop();
            } else {
                Pending const p = draw();
                reference[first(reference)] = p;
                heap.replaceTop(CtvxNearKey(p.bound, p.step));
            }
        }
        // Drained, every pair comes out in the reference's order.
        while (!reference.empty()) {
            std::size_t const top = first(reference);
            ASSERT_EQ(heap.top().step(), reference[top].step) << "run " << run;
            reference.erase(reference.begin() + static_cast<std::ptrdiff_t>(top));
            heap.pop();
        }
        EXPECT_TRUE(heap.empty());
    }
}

} // namespace
