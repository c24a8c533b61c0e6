// The pair context's visits against a double-precision brute force over the
// triangles each node holds. A walk trusts a visit in two ways: that a pair
// it prunes holds no triangle pair that could beat the best distance so far
// (for contact, none within the tolerances), and that the lower bound it
// gives a pair it keeps (nearest first) is not above the clearance of
// anything the pair holds. Every box-box and box-triangle pair of two small
// trees is visited in every mode, at random poses and tolerances, with the
// best distance set around the pair's true clearance; triangle pairs are
// visited as the exact distance and the contact queries take them.
#include <tvx/analysis/CtvxAnalysis.h>
#include <tvx/analysis/CtvxDistance.h>
#include <tvx/analysis/internal/CtvxPairVisits.h>
#include <tvx/bvtree/CtvxPolyhedronOBBTree.h>
#include <tvx/geometry/CtvxPolyhedron.h>

#include <tests/support/Meshes.h>
#include <tests/support/Random.h>
#include <tests/support/ReferenceGeometry.h>
#include <tests/support/SceneFixtures.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

using tvxtest::Affine;
using tvxtest::Tri;
using tvxtest::Vec3;

constexpr double kFloatEps = 1.1920928955078125e-7;
// Rounding allowed, in float roundings of the largest coordinate in frame 1:
// the frame of set 2 is rounded to float once, each box placement is a
// product of two float matrices, and each test a short sum of products.
constexpr double kErrorUlps = 64.0;

// One set: a built polyhedron, its tree, and the triangles each box holds.
struct Side {
    boost::shared_ptr<CtvxPolyhedron> poly;
    CtvxPolyhedronOBBTree const* tree = nullptr;
    std::vector<std::vector<unsigned int>> under;

    explicit Side(tvxtest::Mesh const& mesh) : poly(tvxtest::makePolyhedron(mesh))
    {
        boost::shared_ptr<CtvxProgressDelegate> none;
        poly->makeCollisionEntity(none);
        CtvxPolyhedronBVTree* bv = nullptr;
        poly->getBoundingVolumes(bv);
        tree = dynamic_cast<CtvxPolyhedronOBBTree const*>(bv);
        under.resize(static_cast<std::size_t>(tree->countObbs()));
        for (int b = tree->countObbs() - 1; b >= 0; --b)
            for (int code : {tree->getObb(b)->getChild1Rank(), tree->getObb(b)->getChild2Rank()}) {
                std::vector<unsigned int>& here = under[static_cast<std::size_t>(b)];
                if (code > 0)
                    here.insert(here.end(), under[static_cast<std::size_t>(code)].begin(),
                                under[static_cast<std::size_t>(code)].end());
                else
                    here.push_back(static_cast<unsigned int>(-code));
            }
    }
    // The triangles a ref holds.
    std::vector<unsigned int> held(int ref) const
    {
        return CtvxNodeRef::isBox(ref) ? under[static_cast<std::size_t>(ref)]
                                       : std::vector<unsigned int>{CtvxNodeRef::triangle(ref)};
    }
    std::vector<int> refs() const
    {
        std::vector<int> r;
        for (int b = 0; b < tree->countObbs(); ++b)
            r.push_back(b);
        for (unsigned int t = 0; t < poly->countTriangles(); ++t)
            r.push_back(CtvxNodeRef::ofTriangle(t));
        return r;
    }
};

Tri triangleIn(tvxtest::Mesh const& mesh, unsigned int t, Affine const& frame)
{
    Tri out;
    for (int k = 0; k < 3; ++k) {
        std::array<double, 3> p = mesh.points[mesh.triangles[t][static_cast<std::size_t>(k)]];
        for (double& c : p)
            c = static_cast<float>(c); // as stored
        std::array<double, 3> const q = frame.apply(p);
        out[static_cast<std::size_t>(k)] = Vec3(q[0], q[1], q[2]);
    }
    return out;
}

struct Tally {
    int visits = 0;
    int pruned = 0;
    int failures = 0;
};

void fail(Tally& tally, std::string const& what)
{
    if (++tally.failures <= 10)
        ADD_FAILURE() << what;
}

TEST(PairContext, VisitsNeverPruneWhatCouldBeatTheBest)
{
    tvxtest::Random rng(41);
    tvxtest::Mesh const meshA = tvxtest::makeSoup(rng, 16, 1.0, 0.6);
    tvxtest::Mesh const meshB = tvxtest::makeSoup(rng, 16, 1.0, 0.6);
    Side a(meshA), b(meshB);
    ASSERT_GT(a.tree->countObbs(), 2);
    ASSERT_GT(b.tree->countObbs(), 2);
    boost::shared_ptr<CtvxPoly> const p1 = a.poly, p2 = b.poly;
    std::unique_ptr<CtvxQueryScratch> const scratch(new CtvxQueryScratch());
    CtvxPairContext pair(p1, p2, *scratch);
    boost::shared_ptr<CtvxCollision> collision = CtvxCollision::create();
    boost::shared_ptr<CtvxDistance> distance = CtvxDistance::create();

    Tally boxes[4], leaves;
    char const* const modes[4] = {"query, first contact", "query, estimated", "query, exact / overlap", "nearest"};
    int const poses = tvxtest::runs(60);
    for (int pose = 0; pose < poses; ++pose) {
        Affine const placeA = tvxtest::randomRigid(rng, 5.0);
        Affine const placeB =
            placeA * Affine::translation(rng.uniform(-2.5, 2.5), rng.uniform(-1, 1), rng.uniform(-1, 1)) *
            Affine::rotation(rng.uniform(-1, 1), rng.uniform(-1, 1), rng.uniform(-1, 1), rng.uniform(0, 3.1));
        a.poly->absolutePosition(tvxtest::toQar(placeA));
        b.poly->absolutePosition(tvxtest::toQar(placeB));
        double const tol1 = rng.chance(0.5) ? 0.0 : static_cast<float>(rng.uniform(0.0, 0.2));
        double const tol2 = rng.chance(0.5) ? 0.0 : static_cast<float>(rng.uniform(0.0, 0.2));
        a.poly->setTolerance(tol1);
        b.poly->setTolerance(tol2);
        double const tolerance = float(tol1) + float(tol2);

        // Every triangle pair's distance, in frame 1.
        Affine const toFrame1 = placeA.inverse() * placeB;
        double scale = 0.0;
        std::vector<Tri> t1, t2;
        for (unsigned int t = 0; t < a.poly->countTriangles(); ++t)
            t1.push_back(triangleIn(meshA, t, Affine()));
        for (unsigned int t = 0; t < b.poly->countTriangles(); ++t)
            t2.push_back(triangleIn(meshB, t, toFrame1));
        for (auto const* set : {&t1, &t2})
            for (Tri const& t : *set)
                for (Vec3 const& v : t)
                    scale = std::max({scale, std::fabs(v.x), std::fabs(v.y), std::fabs(v.z)});
        double const err = kErrorUlps * kFloatEps * scale;
        std::vector<double> d(t1.size() * t2.size());
        for (std::size_t i = 0; i < t1.size(); ++i)
            for (std::size_t j = 0; j < t2.size(); ++j)
                d[i * t2.size() + j] = tvxtest::triangleDistance(t1[i], t2[j]);

        for (int first : a.refs())
            for (int second : b.refs()) {
                double clearance = 1e300;
                for (unsigned int i : a.held(first))
                    for (unsigned int j : b.held(second))
                        clearance = std::min(clearance, d[i * t2.size() + j] - tolerance);
                std::string const where = "pose " + std::to_string(pose) + ", refs " + std::to_string(first) + "/" +
                                          std::to_string(second) + ", clearance " + std::to_string(clearance);
                bool const boxPair = CtvxNodeRef::isBox(first) && CtvxNodeRef::isBox(second);
                if (!CtvxNodeRef::isBox(first) && !CtvxNodeRef::isBox(second)) {
                    // The leaf as the exact distance takes it, then as a
                    // contact query does: contact exactly when the reference
                    // says so (outside the rounding band), a lowered
                    // distance equal to the clearance.
                    ++leaves.visits;
                    for (auto type : {CtvxAnalysis::EXACT_DISTANCE, CtvxAnalysis::FIRST_COLLISION}) {
                        collision = CtvxCollision::create();
                        distance = CtvxDistance::create();
                        ASSERT_TRUE(pair.start(type, collision, distance));
                        CtvxLeaf const found = pair.visitTriangles<CtvxVisit::Query>(first, second);
                        if (found == CtvxLeaf::Contact ? clearance > err : clearance < -err)
                            fail(leaves, where + ": contact decided wrongly");
                        else if (found == CtvxLeaf::Closer && !(std::fabs(pair.distance() - clearance) <= err))
                            fail(leaves, where + ": distance " + std::to_string(pair.distance()));
                    }
                    continue;
                }
                // The best distance so far, around the pair's clearance.
                float const best = static_cast<float>(
                    std::max(1e-6, std::max(clearance, 0.0) + rng.uniform(-0.3, 0.3) * (clearance > 0 ? clearance : 0.1)));
                for (int mode = 0; mode < 4; ++mode) {
                    CtvxAnalysis::EAnalysisType const type =
                        mode == 0 ? CtvxAnalysis::FIRST_COLLISION
                                  : (mode == 1 ? CtvxAnalysis::ESTIMATED_DISTANCE : CtvxAnalysis::EXACT_DISTANCE);
                    collision = CtvxCollision::create();
                    distance = CtvxDistance::create();
                    ASSERT_TRUE(pair.start(type, collision, distance));
                    pair.lowerDistance(best);
                    CtvxMat4 toBox1, place2;
                    toBox1.identity();
                    place2.identity();
                    if (CtvxNodeRef::isBox(first))
                        pair.toBox1(first, toBox1);
                    if (CtvxNodeRef::isBox(second))
                        pair.place2(second, place2);
                    bool kept;
                    float bound = 0.0f;
                    // The nearest-first walk measures along the direction of
                    // its best pair; any unit axis must do.
                    CtvxNearestAxis axis;
                    if (mode == 3) {
                        pair.prepareNearest();
                        axis.set = rng.chance(0.75);
                        Vec3 u(rng.uniform(-1, 1), rng.uniform(-1, 1), rng.uniform(-1, 1) + 0.01);
                        u = u * (1.0 / tvxtest::norm(u));
                        for (int i = 0; i < 3; ++i)
                            axis.inFrame1[i] = static_cast<float>(u[i]);
                        // The same axis in frame 2.
                        Affine const back = toFrame1.inverse();
                        for (int j = 0; j < 3; ++j)
                            axis.inFrame2[j] =
                                static_cast<float>(back.r[j][0] * u.x + back.r[j][1] * u.y + back.r[j][2] * u.z);
                    }
                    // The nearest-first walk's visits take the boxes decoded.
                    CtvxDecodedBox box1{}, box2{};
                    if (CtvxNodeRef::isBox(first))
                        pair.decode1(first, box1);
                    if (CtvxNodeRef::isBox(second))
                        pair.decode2(second, box2);
                    if (boxPair)
                        kept = mode == 3 ? pair.visitBoxes<CtvxVisit::Nearest>(box1, box2, &axis, &bound)
                                         : pair.visitBoxes<CtvxVisit::Query>(first, second, toBox1, place2);
                    else
                        kept = mode == 3 ? pair.visitBoxTriangle<CtvxVisit::Nearest>(first, second, box1, box2,
                                                                                      &axis, &bound)
                                         : pair.visitBoxTriangle<CtvxVisit::Query>(first, second, toBox1, place2);
                    bool overlapKept = true;
                    if (mode == 2)
                        overlapKept = boxPair ? pair.visitBoxes<CtvxVisit::Overlap>(first, second, toBox1, place2)
                                              : pair.visitBoxTriangle<CtvxVisit::Overlap>(first, second, toBox1,
                                                                                          place2);
                    Tally& t = boxes[mode];
                    ++t.visits;
                    t.pruned += !kept;
                    std::string const what = where + ", best " + std::to_string(best) + ", " + modes[mode];
                    // A contact query may prune only what holds no contact,
                    // a distance query only what cannot beat the best.
                    double const floor = mode <= 1 ? 0.0 : double(best);
                    if (!kept && !(clearance >= floor - err))
                        fail(t, what + ": pruned");
                    else if (!overlapKept && !(clearance >= -err))
                        fail(t, what + ": pruned in the contact search");
                    else if (mode == 3 && kept && !(double(bound) <= clearance + err))
                        fail(t, what + ": bound " + std::to_string(bound) + " above the clearance");
                    else if (mode == 1 && !kept && !(double(pair.distance()) <= clearance + err))
                        fail(t, what + ": estimated distance " + std::to_string(pair.distance()));
                }
            }
    }
    for (int mode = 0; mode < 4; ++mode) {
        std::printf("[ visits   ] %-24s %d visits, %.1f%% pruned\n", modes[mode], boxes[mode].visits,
                    100.0 * boxes[mode].pruned / boxes[mode].visits);
        // Poses from overlapping to well apart and bests around the
        // clearance: a visit that never pruned, or always did, would not be
        // tested here.
        if (poses >= 20) {
            EXPECT_GT(boxes[mode].pruned, boxes[mode].visits / 20) << modes[mode];
            EXPECT_LT(boxes[mode].pruned, boxes[mode].visits * 19 / 20) << modes[mode];
        }
        EXPECT_EQ(boxes[mode].failures, 0) << modes[mode];
    }
    EXPECT_EQ(leaves.failures, 0);
}

// A set's fitted box (CtvxPairContext::fittedBox) against its vertices in
// double. Every vertex, read through the set's own getTriangle() and
// narrowed to float as the walks read it, lies in the box; the box is no
// larger than the vertices' extent by more than its margin and roundings;
// and placed by a float frame as the walks place points (the box's centre
// and each vertex through the same kernel), every vertex stays inside the
// placed box, at poses within the set's own reach, the scale the margin is
// taken from. Random soups and degenerate sets: flat, a needle, one
// triangle, far from the origin, and read through a points transform.
TEST(PairContext, FittedBoxHoldsEveryVertexAsPlaced)
{
    tvxtest::Random rng(2718);
    struct Case {
        tvxtest::Mesh mesh;
        bool transformed;
        char const* label;
    };
    std::vector<Case> cases;
    for (int i = 0; i < 4; ++i)
        cases.push_back({tvxtest::makeSoup(rng, 40, 1.0 + i, 0.5), false, "soup"});
    cases.push_back({tvxtest::makeGrid(6, 6, 2.0, 1.0), false, "flat grid"});
    cases.push_back({tvxtest::makeNeedle(8, 3.0, 1e-3), false, "needle"});
    tvxtest::Mesh one;
    one.points = {{0.1, 0.2, 0.3}, {1.1, 0.25, 0.3}, {0.4, 0.9, 0.31}};
    one.triangles = {{0, 1, 2}};
    cases.push_back({one, false, "one triangle"});
    tvxtest::Mesh far = tvxtest::makeBox(0.5, 0.25, 0.125);
    for (auto& p : far.points) {
        p[0] += 1000.0;
        p[1] -= 250.0;
    }
    cases.push_back({far, false, "far from the origin"});
    cases.push_back({tvxtest::makeTorus(12, 6, 1.0, 0.3), true, "points transform"});
    boost::shared_ptr<CtvxProgressDelegate> none;
    CtvxProximityKernels const kernels;
    int const poses = tvxtest::runs(100);
    for (Case const& c : cases) {
        SCOPED_TRACE(c.label);
        boost::shared_ptr<CtvxPolyhedron> const poly = tvxtest::makePolyhedron(c.mesh);
        if (c.transformed) {
            poly->polyTransform(tvxtest::toQar(tvxtest::randomRigid(rng, 2.0)));
        }
        poly->makeCollisionEntity(none);
        std::vector<std::array<float, 3>> vertices;
        for (unsigned int t = 0; t < poly->countTriangles(); ++t) {
            CqarPoint3 v[3];
            poly->getTriangle(t, v);
            for (CqarPoint3 const& q : v)
                vertices.push_back({static_cast<float>(q[0]), static_cast<float>(q[1]), static_cast<float>(q[2])});
        }
        double lo[3], hi[3], reach = 0.0;
        for (int i = 0; i < 3; ++i) {
            lo[i] = hi[i] = vertices[0][static_cast<std::size_t>(i)];
            for (auto const& v : vertices) {
                lo[i] = std::min(lo[i], static_cast<double>(v[static_cast<std::size_t>(i)]));
                hi[i] = std::max(hi[i], static_cast<double>(v[static_cast<std::size_t>(i)]));
            }
            reach = std::max(reach, std::max(std::fabs(lo[i]), std::fabs(hi[i])));
        }
        auto const& fit = CtvxPairContext::fittedBox(*poly);
        for (int i = 0; i < 3; ++i) {
            double const c0 = fit.fitCentre[i], h = fit.fitHalf[i];
            EXPECT_LE(c0 - h, lo[i]) << "axis " << i;
            EXPECT_GE(c0 + h, hi[i]) << "axis " << i;
            // The margin is 2^-20 of the reach; the centre and the half
            // length each round to float once.
            EXPECT_LE(h, 0.5 * (hi[i] - lo[i]) + reach * (1.0 / 262144.0)) << "axis " << i;
        }
        int outside = 0;
        double worst = 0.0;
        for (int pose = 0; pose < poses; ++pose) {
            Affine const a = tvxtest::randomRigid(rng, 0.0);
            Affine const frame =
                Affine::translation(rng.uniform(-reach, reach), rng.uniform(-reach, reach), rng.uniform(-reach, reach)) *
                a;
            CtvxMat4 m;
            for (int i = 0; i < 3; ++i) {
                for (int j = 0; j < 3; ++j)
                    m(i, j) = static_cast<float>(frame.r[i][j]);
                m(i, 3) = static_cast<float>(frame.t[i]);
            }
            float centre[3];
            kernels.PmM(centre, fit.fitCentre, m);
            for (auto const& v : vertices) {
                float placed[3];
                kernels.PmM(placed, v.data(), m);
                for (int i = 0; i < 3; ++i) {
                    double q = 0.0;
                    for (int j = 0; j < 3; ++j)
                        q += static_cast<double>(m(j, i)) * (static_cast<double>(placed[j]) - centre[j]);
                    double const over = std::fabs(q) - fit.fitHalf[i];
                    if (over > 0.0) {
                        ++outside;
                        worst = std::max(worst, over / reach);
                    }
                }
            }
        }
        EXPECT_EQ(outside, 0) << "worst excess " << worst << " of the reach";
    }
}

} // namespace

// The frame of set 2 in set 1 that a start composes, kept or read afresh
// as either set moves (turned and carried up to 1e6 away, or placed again
// where it was), is the utility library's product of the inverse of A's
// world placement and B's, rounded to single precision, bit for bit.
TEST(PairContextMemory, ComposesTheFrameOfMovedSetsAsTheUtilityLibrary)
{
    tvxtest::Mesh const torus = tvxtest::makeTorus(12, 8, 1.0, 0.3);
    boost::shared_ptr<CtvxProgressDelegate> none;
    boost::shared_ptr<CtvxPolyhedron> const a = tvxtest::makePolyhedron(torus), b = tvxtest::makePolyhedron(torus);
    a->makeCollisionEntity(none);
    b->makeCollisionEntity(none);
    boost::shared_ptr<CtvxPoly> const pa = a, pb = b;
    std::unique_ptr<CtvxQueryScratch> const scratch(new CtvxQueryScratch());
    CtvxPairContext pair(pa, pb, *scratch);
    tvxtest::Random rng(1616);
    int const n = tvxtest::runs(400);
    for (int i = 0; i < n; ++i) {
        double const reach = i % 4 == 0 ? 1.0e6 : 10.0;
        if (i % 5 == 0)
            a->absolutePosition(tvxtest::toQar(tvxtest::randomRigid(rng, reach)));
        if (i % 7 != 3) {
            CqarMat4 place;
            b->getAbsolutePosition(place);
            b->absolutePosition(i % 7 == 6 ? place : tvxtest::toQar(tvxtest::randomRigid(rng, reach)));
        }
        boost::shared_ptr<CtvxCollision> collision = CtvxCollision::create();
        boost::shared_ptr<CtvxDistance> distance = CtvxDistance::create();
        ASSERT_TRUE(pair.start(CtvxAnalysis::FIRST_COLLISION, collision, distance));
        CqarMat4 worldA, worldB;
        a->getAbsolutePosition(worldA);
        b->getAbsolutePosition(worldB);
        CtvxMat4 const expected(worldA.inverse() * worldB);
        ASSERT_EQ(std::memcmp(expected.data(), pair.poly2ToPoly1().data(), 16 * sizeof(float)), 0) << "step " << i;
    }
}

// What a query keeps between queries (in a set: its placement, the inverse
// of it and its root box decoded; in the analysis: the frames of a pair of
// sets that did not move, and the pair context) must follow every edit of
// the sets, and must not keep them alive. One scene is
// queried after each edit of a sequence (moves of either set, scalings, a
// new mesh, a rebuild, a tree marked stale), in all four query types; the reference is a scene made
// afresh and brought through the same edits, queried once. The answers
// must agree bit for bit: clearance, number of contacts, completeness.
TEST(PairContextMemory, FollowsEveryEditOfTheSets)
{
    using Set = boost::shared_ptr<CtvxPolyhedron>;
    using Edit = std::function<void(Set const&, Set const&)>;
    tvxtest::Mesh const torus = tvxtest::makeTorus(12, 8, 1.0, 0.3);
    boost::shared_ptr<CtvxProgressDelegate> none;
    struct Scene {
        Set a, b;
        boost::shared_ptr<CtvxAnalysis> analysis[4];
    };
    auto makeScene = [&torus, &none] {
        Scene s{tvxtest::makePolyhedron(torus), tvxtest::makePolyhedron(torus), {}};
        s.a->makeCollisionEntity(none);
        s.b->makeCollisionEntity(none);
        for (int t = 0; t < 4; ++t)
            s.analysis[t] = tvxtest::analysisOf(tvxtest::listOf({s.a}), tvxtest::listOf({s.b}),
                                                CtvxAnalysis::EAnalysisType(t));
        return s;
    };
    tvxtest::Random rng(1612);
    std::vector<Edit> edits;
    // B to and fro between a pose crossing A (both rings in one plane, B's
    // centre on A's ring) and poses clear of A's root box, A fixed: poses of
    // one pair enough to meet the same kept frame again and again, where a
    // root mapped for an earlier pose would find the roots apart.
    for (int i = 0; i < 96; ++i) {
        bool const crossing = i % 3 == 0;
        Affine const turn =
            crossing ? Affine::rotation(0, 0, 1, rng.uniform(-3.0, 3.0)) : tvxtest::randomRigid(rng, 0.0);
        CqarMat4 const b = tvxtest::toQar(Affine::translation(crossing ? 1.0 : 4.0, 0.1, 0.05) * turn);
        edits.push_back([b](Set const&, Set const& sb) { sb->absolutePosition(b); });
    }
    // A's tolerance raised past the gap, then dropped, neither set moved: a
    // verdict on the roots kept with the old tolerance would hold, and so
    // would A's largest tolerance kept from the last start.
    edits.push_back([](Set const& a, Set const&) { a->setTolerance(3.0); });
    edits.push_back([](Set const& a, Set const&) { a->setTolerance(0.0); });
    // B crossing A, then A switched off and on again, neither set moved: a
    // start kept from before would walk A while it is off.
    edits.push_back([](Set const&, Set const& b) {
        b->absolutePosition(tvxtest::toQar(Affine::translation(1.0, 0.1, 0.05)));
    });
    edits.push_back([](Set const& a, Set const&) { a->activation(false); });
    edits.push_back([](Set const& a, Set const&) { a->activation(true); });
    // B moved and switched off in one edit, then moved back across A and
    // switched on, then moved with its tolerance raised past the gap: a
    // start kept from before that took the edit for a move alone would walk
    // B while it is off, or with its old tolerance.
    edits.push_back([](Set const&, Set const& b) {
        b->absolutePosition(tvxtest::toQar(Affine::translation(1.0, -0.1, 0.05)));
        b->activation(false);
    });
    edits.push_back([](Set const&, Set const& b) {
        b->absolutePosition(tvxtest::toQar(Affine::translation(1.0, 0.1, 0.05)));
        b->activation(true);
    });
    edits.push_back([](Set const&, Set const& b) {
        b->absolutePosition(tvxtest::toQar(Affine::translation(2.8, 0.1, 0.05)));
        b->setTolerance(0.5);
    });
    edits.push_back([](Set const&, Set const& b) {
        b->absolutePosition(tvxtest::toQar(Affine::translation(2.7, 0.1, 0.05)));
        b->setTolerance(0.0);
    });
    // A's tree dropped and built again through the set's own calls, which
    // leave its object's revision alone: a start kept from before would
    // read the tree dropped.
    edits.push_back([&none](Set const& a, Set const&) {
        a->resetBV();
        a->buildBV(none, CtvxPoly::BV_OBB_TREE);
    });
    for (int round = 0; round < 3; ++round) {
        // B clear of A, touching, crossing its tube; A turned a little.
        for (double x : {2.5, 1.45, 1.0}) {
            CqarMat4 const b = tvxtest::toQar(Affine::translation(x, 0.1, 0.05) * tvxtest::randomRigid(rng, 0.0));
            CqarMat4 const a = tvxtest::toQar(Affine::rotation(0, 0, 1, 0.1 * round + x));
            edits.push_back([b](Set const&, Set const& sb) { sb->absolutePosition(b); });
            edits.push_back([a](Set const& sa, Set const&) { sa->absolutePosition(a); });
            // A shrunk while clear of B, neither set moved: a new root box
            // met at kept poses.
            if (x > 2.0)
                edits.push_back([](Set const& sa, Set const&) {
                    CqarPoint3 centre(-0.2, 0.1, 0.0);
                    sa->polyScale(centre, 0.8);
                });
        }
        edits.push_back([](Set const& a, Set const&) {
            CqarPoint3 centre(0.1, 0.0, 0.0);
            a->polyScale(centre, 1.25);
        });
        // B's root box clear of A's, then B grown about its own centre until
        // the two rings cross (both tori: rings in one plane, B's passing
        // half a unit from A's centre), neither set moved: a root of B kept
        // from before would still find the roots apart.
        if (round == 0) {
            edits.push_back([](Set const&, Set const& b) {
                b->absolutePosition(tvxtest::toQar(Affine::translation(3.5, 0.0, 0.0)));
            });
            edits.push_back([](Set const&, Set const& b) {
                CqarPoint3 centre(0.0, 0.0, 0.0);
                b->polyScale(centre, 3.0);
            });
        }
        edits.push_back([](Set const&, Set const& b) { b->polyData(tvxtest::makePolyData(tvxtest::makeBox(0.4, 0.3, 0.2))); });
        edits.push_back([&none](Set const& a, Set const& b) {
            a->makeCollisionEntity(none);
            b->makeCollisionEntity(none);
        });
        edits.push_back([](Set const& a, Set const&) { a->markBVStale(); });
    }
    // Two cubes, whose root boxes (fitted along diagonals) overlap where
    // their boxes along their own axes are apart, so that a contact query
    // decides on those; then B grown, shrunk and its mesh replaced, neither
    // set moved, A's tree dropped and rebuilt over a larger cube: a fitted
    // box kept from before any of these finds B apart where it crosses A.
    edits.push_back([&none](Set const& a, Set const& b) {
        a->polyData(tvxtest::makePolyData(tvxtest::makeBox(0.5, 0.5, 0.5)));
        b->polyData(tvxtest::makePolyData(tvxtest::makeBox(0.5, 0.5, 0.5)));
        a->absolutePosition(tvxtest::toQar(Affine()));
        b->absolutePosition(tvxtest::toQar(Affine::translation(1.2, 0.3, 0.0)));
        a->makeCollisionEntity(none);
        b->makeCollisionEntity(none);
    });
    edits.push_back([](Set const&, Set const& b) {
        CqarPoint3 centre(0.0, 0.0, 0.0);
        b->polyScale(centre, 1.5);
    });
    edits.push_back([](Set const&, Set const& b) {
        CqarPoint3 centre(0.0, 0.0, 0.0);
        b->polyScale(centre, 0.5);
    });
    edits.push_back([&none](Set const&, Set const& b) {
        b->polyData(tvxtest::makePolyData(tvxtest::makeBox(0.6, 0.6, 0.6)));
        b->makeCollisionEntity(none);
    });
    edits.push_back([&none](Set const& a, Set const&) {
        a->resetBV();
        a->polyData(tvxtest::makePolyData(tvxtest::makeBox(0.75, 0.75, 0.75)));
        a->buildBV(none, CtvxPoly::BV_OBB_TREE);
    });
    Scene kept = makeScene();
    for (std::size_t step = 0; step < edits.size(); ++step) {
        edits[step](kept.a, kept.b);
        Scene fresh = makeScene();
        for (std::size_t e = 0; e <= step; ++e)
            edits[e](fresh.a, fresh.b);
        for (int t = 0; t < 4; ++t) {
            SCOPED_TRACE("edit " + std::to_string(step) + ", query type " + std::to_string(t));
            CtvxAnalysis& k = *kept.analysis[t];
            CtvxAnalysis& f = *fresh.analysis[t];
            k.compute();
            f.compute();
            EXPECT_EQ(k.countCollisions(), f.countCollisions());
            EXPECT_EQ(k.isComplete(), f.isComplete());
            ASSERT_EQ(k.countDistances(), f.countDistances());
            for (unsigned int i = 0; i < k.countDistances(); ++i) {
                boost::shared_ptr<CtvxDistance> dk, df;
                k.getDistance(i, dk);
                f.getDistance(i, df);
                float const dist[2] = {dk->distance(), df->distance()};
                std::uint32_t bits[2];
                std::memcpy(bits, dist, sizeof bits);
                EXPECT_EQ(bits[0], bits[1]) << dist[0] << " against " << dist[1];
            }
        }
    }
    // Nor does what the analyses keep from query to query hold the sets:
    // their last queries found contacts, and once no list names the sets
    // they are gone.
    ASSERT_GT(kept.analysis[0]->countCollisions(), 0u);
    boost::weak_ptr<CtvxPolyhedron> const a = kept.a, b = kept.b;
    for (auto const& analysis : kept.analysis) {
        analysis->setCollisionList1(tvxtest::listOf({}));
        analysis->setCollisionList2(tvxtest::listOf({}));
    }
    kept.a.reset();
    kept.b.reset();
    EXPECT_TRUE(a.expired());
    EXPECT_TRUE(b.expired());
}

// The walks' rank caches against a log of every call: get() must give the
// last value put under that rank, unless a reset or a put of another rank
// to the same slot came after it, and nothing otherwise. Small caches, many
// colliding ranks (negative ones too, as triangle refs are), and payloads
// of the three sizes the walks keep.
template <typename Kept, unsigned int Slots>
void checkRankCacheAgainstLog(std::uint32_t seed, Kept (*make)(std::uint32_t))
{
    tvxtest::Random rnd(seed);
    auto cache = std::make_unique<CtvxRankCache<Kept, Slots>>();
    struct Call {
        bool reset;
        int rank;
        std::uint32_t value;
    };
    std::vector<Call> log;
    auto const slotOf = [](int rank) { return static_cast<unsigned int>(rank) % Slots; };
    int const calls = tvxtest::runs(20000);
    for (int i = 0; i < calls; ++i) {
        int const rank = static_cast<int>(rnd.below(6 * Slots)) - static_cast<int>(2 * Slots);
        double const what = rnd.unit();
        if (what < 0.02) {
            cache->reset();
            log.push_back({true, 0, 0});
        } else if (what < 0.5) {
            std::uint32_t const value = rnd.bits();
            cache->put(rank, make(value));
            log.push_back({false, rank, value});
        } else {
            bool expected = false;
            std::uint32_t value = 0;
            for (auto c = log.rbegin(); c != log.rend(); ++c) {
                if (c->reset)
                    break;
                if (slotOf(c->rank) != slotOf(rank))
                    continue;
                expected = c->rank == rank;
                value = c->value;
                break;
            }
            Kept out = make(~value);
            bool const found = cache->get(rank, out);
            ASSERT_EQ(expected, found) << "call " << i << ", rank " << rank;
            if (expected) {
                Kept const want = make(value);
                ASSERT_EQ(0, std::memcmp(&want, &out, sizeof out)) << "call " << i << ", rank " << rank;
            }
        }
    }
}

TEST(PairContextMemory, RankCachesKeepTheLastPutOfEachSlotUntilReset)
{
    checkRankCacheAgainstLog<CtvxDecodedBox, 16>(11, [](std::uint32_t v) {
        CtvxDecodedBox b;
        float* const f = &b.m[0][0];
        for (int k = 0; k < 16; ++k)
            f[k] = static_cast<float>(v ^ (0x9E3779B9u * static_cast<std::uint32_t>(k + 1)));
        return b;
    });
    checkRankCacheAgainstLog<CtvxPlacedTriangle, 7>(12, [](std::uint32_t v) {
        CtvxPlacedTriangle t;
        for (int k = 0; k < 9; ++k)
            t.v[k / 3][k % 3] = static_cast<float>(v + 7u * static_cast<std::uint32_t>(k));
        return t;
    });
    checkRankCacheAgainstLog<float, 32>(13, [](std::uint32_t v) { return static_cast<float>(v); });
}
