// The batch engine against fresh single queries (new polyhedra, new
// analysis, one pose each), bit for bit, whatever the thread count and the
// order of the poses; multi-part bodies against the all-pairs brute force;
// refused input, progress and cancellation.

#include <batch/CtvxBatchBody.h>
#include <batch/CtvxBatchQuery.h>

#include <tests/support/BruteForce.h>
#include <tests/support/Meshes.h>
#include <tests/support/Random.h>
#include <tests/support/SceneFixtures.h>

#include <tvx/analysis/CtvxCollision.h>
#include <tvx/analysis/CtvxDistance.h>
#include <tvx/analysis/CtvxGeometryPoint.h>
#include <tvx/geometry/CtvxPolyhedron.h>
#include <tvx/geometry/CtvxPolyhedronData.h>
#include <tvx/scene/CtvxCollisionList.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace {

using namespace tvxtest;

struct PartRecipe {
    boost::shared_ptr<CtvxPolyhedronData> mesh;
    Mesh source;
    Affine placement;
    double tolerance = 0.0;
};

boost::shared_ptr<CtvxBatchBody> bodyOf(std::vector<PartRecipe> const& parts)
{
    boost::shared_ptr<CtvxBatchBody> body = CtvxBatchBody::create();
    for (PartRecipe const& p : parts)
        EXPECT_EQ(body->addPart(p.mesh, toQar(p.placement), p.tolerance), 0);
    return body;
}

std::vector<double> rowMajor(std::vector<Affine> const& poses)
{
    std::vector<double> v;
    for (Affine const& a : poses) {
        CqarMat4 const m = toQar(a);
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 4; ++c)
                v.push_back(m(r, c));
    }
    return v;
}

// The answer of a new scene at one pose: polyhedra made for this query
// alone, each part placed by pose * part, a new analysis.
CtvxBatchResult freshAnswer(std::vector<PartRecipe> const& a, std::vector<PartRecipe> const& b, Affine const& poseB,
                            CtvxAnalysis::EAnalysisType type)
{
    boost::shared_ptr<CtvxCollisionList> lists[2] = {CtvxCollisionList::create(), CtvxCollisionList::create()};
    boost::shared_ptr<CtvxProgressDelegate> none;
    for (int side = 0; side < 2; ++side) {
        for (PartRecipe const& p : side == 0 ? a : b) {
            boost::shared_ptr<CtvxPolyhedronData> mesh = p.mesh;
            boost::shared_ptr<CtvxPolyhedron> poly = CtvxPolyhedron::create(mesh);
            poly->setTolerance(p.tolerance);
            poly->makeCollisionEntity(none);
            Affine const unit;
            bool const identity = std::memcmp(&p.placement, &unit, sizeof(Affine)) == 0;
            CqarMat4 const part = toQar(p.placement);
            CqarMat4 const world = side == 0 ? part : identity ? toQar(poseB) : toQar(poseB) * part;
            poly->absolutePosition(world);
            lists[side]->add(poly);
        }
    }
    boost::shared_ptr<CtvxAnalysis> an = analysisOf(lists[0], lists[1], type);
    an->compute();
    CtvxBatchResult r;
    double const nan = std::numeric_limits<double>::quiet_NaN();
    r.status = CtvxBatchResult::ANSWERED;
    r.clearance = nan;
    for (int k = 0; k < 3; ++k)
        r.closestA[k] = r.closestB[k] = nan;
    for (unsigned int i = 0; i < an->countCollisions(); ++i) {
        boost::shared_ptr<CtvxCollision> c;
        an->getCollision(i, c);
        r.contact = true;
        r.pairCount += c->countPairs();
    }
    if (!an->isComplete()) {
        r.status = CtvxBatchResult::INCOMPLETE;
        return r;
    }
    if (type >= CtvxAnalysis::EXACT_DISTANCE && !r.contact) {
        if (an->countDistances() == 0) {
            r.status = CtvxBatchResult::NO_ANSWER;
            return r;
        }
        boost::shared_ptr<CtvxDistance> d;
        an->getDistance(0, d);
        r.clearance = d->distance();
        r.exact = d->isExactDistance();
        boost::shared_ptr<CtvxGeometryPoint> p1, p2;
        if (d->getClosestPoint1(p1) == 0 && d->getClosestPoint2(p2) == 0) {
            CqarPoint3 q1, q2;
            p1->pointAbsolute(q1);
            p2->pointAbsolute(q2);
            for (int k = 0; k < 3; ++k) {
                r.closestA[k] = q1[k];
                r.closestB[k] = q2[k];
            }
        }
    }
    return r;
}

// Bit patterns, so that NaN equals NaN and -0 differs from +0.
bool sameBits(double x, double y)
{
    return std::memcmp(&x, &y, sizeof x) == 0;
}

void expectSame(CtvxBatchResult const& got, CtvxBatchResult const& want, std::string const& where)
{
    EXPECT_EQ(got.status, want.status) << where;
    EXPECT_EQ(got.contact, want.contact) << where;
    EXPECT_EQ(got.exact, want.exact) << where;
    EXPECT_EQ(got.pairCount, want.pairCount) << where;
    EXPECT_TRUE(sameBits(got.clearance, want.clearance)) << where << ": " << got.clearance << " vs " << want.clearance;
    for (int k = 0; k < 3; ++k) {
        EXPECT_TRUE(sameBits(got.closestA[k], want.closestA[k])) << where << " closest A[" << k << "]";
        EXPECT_TRUE(sameBits(got.closestB[k], want.closestB[k])) << where << " closest B[" << k << "]";
    }
}

// Poses of B around A at distances from deep contact to clear, so that
// every type meets contacts, near misses and plain separations; with
// coherent, the second half is a path of small steps, where the answer at
// one pose is a good hint for the next (as it would be carried over).
std::vector<Affine> posesAround(Random& rng, int n, double reach, bool coherent = false)
{
    std::vector<Affine> poses;
    for (int i = 0; i < n; ++i)
        poses.push_back(randomRigid(rng, reach));
    if (coherent) {
        Affine const start = randomRigid(rng, reach);
        for (int i = n / 2; i < n; ++i) {
            double const s = static_cast<double>(i - n / 2) / (n - n / 2);
            poses[static_cast<std::size_t>(i)] =
                Affine::translation(reach * (1.0 - 2.0 * s), 0.1, 0.05) * Affine::rotation(0, 1, 1, 2.0 * s) * start;
        }
    }
    return poses;
}

std::vector<CtvxBatchResult> runBatch(boost::shared_ptr<CtvxBatchBody> const& a,
                                      boost::shared_ptr<CtvxBatchBody> const& b, std::vector<double> const& poses,
                                      CtvxAnalysis::EAnalysisType type, unsigned int threads)
{
    boost::shared_ptr<CtvxBatchQuery> q = CtvxBatchQuery::create(a, b);
    q->analysisType(type);
    q->threads(threads);
    std::vector<CtvxBatchResult> out(poses.size() / 16);
    EXPECT_EQ(q->run(poses.data(), out.size(), out.data()), 0) << q->error();
    return out;
}

char const* const kTypeNames[] = {"first", "all", "exact", "estimated"};

TEST(BatchQuery, EveryPoseAnswersAsAFreshSceneWhateverTheThreadsAndTheOrder)
{
    Random rng(18);
    Mesh const torus = makeTorus(24, 12, 1.0, 0.35);
    Mesh const sphere = makeIcosphere(2, 0.6);
    std::vector<PartRecipe> a(1), b(1);
    a[0].mesh = makePolyData(torus);
    b[0].mesh = makePolyData(sphere);
    b[0].tolerance = 0.01;
    boost::shared_ptr<CtvxBatchBody> const bodyA = bodyOf(a), bodyB = bodyOf(b);
    int const n = runs(120);
    std::vector<Affine> poses = posesAround(rng, n, 1.8, true);
    std::vector<double> const flat = rowMajor(poses);
    // The same poses backwards: each worker then meets them after other
    // poses than before, so any hint carried over would show.
    std::vector<Affine> reversed(poses.rbegin(), poses.rend());
    std::vector<double> const flatReversed = rowMajor(reversed);

    for (int t = 0; t < 4; ++t) {
        CtvxAnalysis::EAnalysisType const type = static_cast<CtvxAnalysis::EAnalysisType>(t);
        std::vector<CtvxBatchResult> want;
        int contacts = 0;
        for (Affine const& p : poses) {
            want.push_back(freshAnswer(a, b, p, type));
            contacts += want.back().contact;
        }
        // A representative sample: both outcomes well present.
        EXPECT_GT(contacts, n / 8) << kTypeNames[t];
        EXPECT_LT(contacts, n - n / 8) << kTypeNames[t];
        for (unsigned int threads : {1u, 2u, 3u, 7u}) {
            std::vector<CtvxBatchResult> const got = runBatch(bodyA, bodyB, flat, type, threads);
            std::vector<CtvxBatchResult> const back = runBatch(bodyA, bodyB, flatReversed, type, threads);
            for (int i = 0; i < n; ++i) {
                std::string const where = std::string(kTypeNames[t]) + ", " + std::to_string(threads) +
                                          " threads, pose " + std::to_string(i);
                expectSame(got[static_cast<std::size_t>(i)], want[static_cast<std::size_t>(i)], where);
                expectSame(back[static_cast<std::size_t>(n - 1 - i)], want[static_cast<std::size_t>(i)],
                           where + " (reversed)");
            }
        }
    }
}

TEST(BatchQuery, BodiesOfSeveralPartsMatchTheBruteForce)
{
    Random rng(7);
    std::vector<PartRecipe> a(2), b(2);
    a[0].source = makeBox(0.5, 0.3, 0.2);
    a[1].source = makeIcosphere(1, 0.3);
    a[1].placement = Affine::translation(1.2, 0.0, 0.1) * Affine::rotation(0, 0, 1, 0.4);
    a[1].tolerance = 0.02;
    b[0].source = makeTorus(10, 6, 0.3, 0.1);
    b[0].placement = Affine::rotation(1, 0, 0, 0.7);
    b[1].source = makeBox(0.1, 0.2, 0.3);
    b[1].placement = Affine::translation(0.0, 0.6, 0.0);
    b[1].tolerance = 0.01;
    for (PartRecipe& p : a)
        p.mesh = makePolyData(p.source);
    for (PartRecipe& p : b)
        p.mesh = makePolyData(p.source);
    boost::shared_ptr<CtvxBatchBody> const bodyA = bodyOf(a), bodyB = bodyOf(b);
    int const n = runs(60);
    std::vector<Affine> const poses = posesAround(rng, n, 1.6);
    std::vector<double> const flat = rowMajor(poses);
    std::vector<CtvxBatchResult> const all = runBatch(bodyA, bodyB, flat, CtvxAnalysis::ALL_COLLISIONS, 2);
    std::vector<CtvxBatchResult> const exact = runBatch(bodyA, bodyB, flat, CtvxAnalysis::EXACT_DISTANCE, 2);
    std::vector<CtvxBatchResult> const estimated =
        runBatch(bodyA, bodyB, flat, CtvxAnalysis::ESTIMATED_DISTANCE, 2);
    int separated = 0;
    for (int i = 0; i < n; ++i) {
        std::size_t const s = static_cast<std::size_t>(i);
        WorldSide wa, wb;
        for (PartRecipe const& p : a)
            wa.add(p.source, p.placement, nullptr, p.tolerance);
        for (PartRecipe const& p : b)
            wb.add(p.source, poses[s] * p.placement, nullptr, p.tolerance);
        double const band = 1e-5;
        BruteForceAnswer const bf = bruteForce(wa, wb, band);
        std::string const where = "pose " + std::to_string(i);
        if (!bf.sureContacts.empty()) {
            EXPECT_TRUE(all[s].contact && exact[s].contact) << where;
            EXPECT_GE(all[s].pairCount, bf.sureContacts.size()) << where;
            EXPECT_LE(all[s].pairCount, bf.sureContacts.size() + bf.boundaryContacts.size()) << where;
        } else if (bf.boundaryContacts.empty()) {
            ++separated;
            ASSERT_FALSE(all[s].contact || exact[s].contact) << where;
            ASSERT_TRUE(exact[s].exact) << where;
            EXPECT_NEAR(exact[s].clearance, bf.clearance, band) << where;
            double gap = 0.0;
            for (int k = 0; k < 3; ++k)
                gap += (exact[s].closestA[k] - exact[s].closestB[k]) * (exact[s].closestA[k] - exact[s].closestB[k]);
            // The closest points lie the clearance plus the tolerances of
            // their two parts apart, which the brute force does not name.
            EXPECT_GE(std::sqrt(gap), bf.clearance - band) << where;
            EXPECT_LE(std::sqrt(gap), bf.clearance + 0.03 + band) << where;
            EXPECT_LE(estimated[s].clearance, exact[s].clearance) << where;
            EXPECT_FALSE(estimated[s].exact) << where;
            EXPECT_TRUE(std::isnan(estimated[s].closestA[0])) << where;
        }
    }
    EXPECT_GT(separated, n / 8);
}

TEST(BatchQuery, RefusesWhatIsNotARigidPlacementAndRunsNothing)
{
    boost::shared_ptr<CtvxPolyhedronData> const mesh = makePolyData(makeBox(1, 1, 1));
    boost::shared_ptr<CtvxBatchBody> const body = CtvxBatchBody::create();
    ASSERT_EQ(body->addPart(mesh), 0);
    double const nan = std::numeric_limits<double>::quiet_NaN();
    CqarMat4 scaled;
    scaled(0, 0) = 2.0;
    EXPECT_EQ(body->addPart(mesh, scaled, 0.0), -1);
    EXPECT_EQ(body->addPart(mesh, CqarMat4(), -0.1), -1);
    EXPECT_EQ(body->addPart(mesh, CqarMat4(), nan), -1);
    EXPECT_EQ(body->addPart(boost::shared_ptr<CtvxPolyhedronData>(), CqarMat4(), 0.0), -1);
    EXPECT_EQ(body->countParts(), 1u);

    boost::shared_ptr<CtvxBatchQuery> const q = CtvxBatchQuery::create(body, body);
    double const identity[16] = {1, 0, 0, 5, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    // Each breaks one condition: a NaN, a scale, a mirror, a shear, a
    // projective bottom row, and a rotation off by more than the rounding of
    // printed numbers.
    std::vector<std::pair<int, double>> const breaks = {{3, nan},  {0, 1.5},   {10, -1.0},
                                                        {1, 0.3}, {12, 1e-3}, {0, 1.0 + 3e-6}};
    for (auto const& brk : breaks) {
        std::vector<double> poses(identity, identity + 16);
        poses.insert(poses.end(), identity, identity + 16);
        poses[16 + static_cast<std::size_t>(brk.first)] = brk.second;
        std::vector<CtvxBatchResult> out(2);
        EXPECT_EQ(q->run(poses.data(), 2, out.data()), -1) << brk.first;
        EXPECT_NE(q->error().find("pose 1 "), std::string::npos) << q->error();
        EXPECT_EQ(out[0].status, CtvxBatchResult::NOT_RUN);
    }
    // Within the rounding of printed numbers, a rotation is accepted.
    std::vector<double> poses(identity, identity + 16);
    poses[0] = 1.0 + 4e-7;
    std::vector<CtvxBatchResult> out(1);
    EXPECT_EQ(q->run(poses.data(), 1, out.data()), 0) << q->error();
    EXPECT_EQ(out[0].status, CtvxBatchResult::ANSWERED);
    EXPECT_EQ(q->placementA(scaled), -1);
}

TEST(BatchQuery, ReportsProgressAndStopsWhenAsked)
{
    Random rng(3);
    std::vector<PartRecipe> a(1);
    a[0].mesh = makePolyData(makeTorus(16, 8, 1.0, 0.3));
    boost::shared_ptr<CtvxBatchBody> const body = bodyOf(a);
    std::vector<double> const poses = rowMajor(posesAround(rng, 400, 1.5));
    boost::shared_ptr<CtvxBatchQuery> const q = CtvxBatchQuery::create(body, body);
    q->threads(2);
    std::vector<std::size_t> seen;
    q->progress([&](std::size_t done, std::size_t total) {
        EXPECT_EQ(total, 400u);
        seen.push_back(done);
        return true;
    }, 1e-4);
    std::vector<CtvxBatchResult> out(400);
    ASSERT_EQ(q->run(poses.data(), 400, out.data()), 0) << q->error();
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back(), 400u);
    for (std::size_t i = 1; i < seen.size(); ++i)
        EXPECT_LE(seen[i - 1], seen[i]);

    // Stopping at the first report leaves later poses unrun and says so.
    q->progress([](std::size_t, std::size_t) { return false; }, 1e-4);
    ASSERT_EQ(q->run(poses.data(), 400, out.data()), -1);
    EXPECT_TRUE(q->cancelled());
    EXPECT_NE(q->error().find("cancelled"), std::string::npos);
    std::size_t unrun = 0;
    for (CtvxBatchResult const& r : out)
        unrun += r.status == CtvxBatchResult::NOT_RUN;
    EXPECT_GT(unrun, 0u);
}

TEST(BatchQuery, AMeshChangedBetweenBatchesIsAnsweredWithItsNewTriangles)
{
    std::vector<PartRecipe> a(1), b(1);
    a[0].mesh = makePolyData(makeBox(1, 1, 1));
    b[0].mesh = makePolyData(makeBox(0.2, 0.2, 0.2));
    boost::shared_ptr<CtvxBatchBody> const bodyA = bodyOf(a), bodyB = bodyOf(b);
    std::vector<double> const pose = rowMajor({Affine::translation(3.0, 0, 0)});
    std::vector<CtvxBatchResult> before = runBatch(bodyA, bodyB, pose, CtvxAnalysis::EXACT_DISTANCE, 1);
    ASSERT_FALSE(before[0].contact);
    EXPECT_NEAR(before[0].clearance, 1.8, 1e-6);
    // A far triangle reaching past B: the tree built before knows nothing
    // of it.
    unsigned int p0, p1, p2, t;
    a[0].mesh->addPoint(3.0f, -1.0f, -1.0f, p0);
    a[0].mesh->addPoint(3.0f, 1.0f, -1.0f, p1);
    a[0].mesh->addPoint(3.0f, 0.0f, 1.0f, p2);
    a[0].mesh->addTriangle(p0, p1, p2, t);
    std::vector<CtvxBatchResult> after = runBatch(bodyA, bodyB, pose, CtvxAnalysis::FIRST_COLLISION, 2);
    EXPECT_TRUE(after[0].contact);
}

TEST(BatchQuery, APartWithoutATreeMakesEveryPoseIncompleteNeverApart)
{
    // A's second part names a point past its last: its tree is refused, so
    // no pose may read as "no contact", neither where B overlaps only that
    // part nor far from everything; a contact with the sound part is still
    // reported, as a fresh scene reports it.
    std::vector<PartRecipe> a(2), b(1);
    a[0].mesh = makePolyData(makeBox(0.5, 0.5, 0.5));
    a[0].placement = Affine::translation(4.0, 0, 0);
    a[1].mesh = makePolyData(makeBox(0.5, 0.5, 0.5));
    unsigned int t;
    a[1].mesh->addTriangle(0, 1, 99, t);
    b[0].mesh = makePolyData(makeBox(0.3, 0.3, 0.3));
    boost::shared_ptr<CtvxBatchBody> const bodyA = bodyOf(a), bodyB = bodyOf(b);
    std::vector<Affine> const poses = {Affine::translation(0, 0, 0), Affine::translation(4.2, 0, 0),
                                       Affine::translation(0, 50, 0)};
    std::vector<double> const flat = rowMajor(poses);
    for (int type = 0; type < 4; ++type) {
        CtvxAnalysis::EAnalysisType const ty = static_cast<CtvxAnalysis::EAnalysisType>(type);
        std::vector<CtvxBatchResult> const got = runBatch(bodyA, bodyB, flat, ty, 2);
        for (std::size_t i = 0; i < poses.size(); ++i) {
            std::string const where = std::string(kTypeNames[type]) + " pose " + std::to_string(i);
            EXPECT_EQ(got[i].contact, i == 1) << where;
            // A contact found before the refused part is reached ends the
            // first-contact and distance queries with a whole answer; all
            // contacts, or no contact, are never one.
            if (!got[i].contact || ty == CtvxAnalysis::ALL_COLLISIONS) {
                EXPECT_EQ(got[i].status, CtvxBatchResult::INCOMPLETE) << where;
                EXPECT_TRUE(std::isnan(got[i].clearance)) << where;
            }
            expectSame(got[i], freshAnswer(a, b, poses[i], ty), where);
        }
    }
}

} // namespace
