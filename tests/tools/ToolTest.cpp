// The tvx tool driven as a user drives it: the built executable run on mesh
// files written here, its text, JSON, SVG and exit statuses checked against
// the library run in-process on the same scene, against a double-precision
// brute force, and against hand-computed clearances.

#include "MeshFiles.h"
#include "ToolRun.h"

#include <tests/support/Meshes.h>
#include <tests/support/ReferenceGeometry.h>

#include <tools/import/MeshImport.h>
#include <tools/import/PolyhedronFromMesh.h>
#include <tools/tvx/Pose.h>
#include <tools/tvx/ViewPage.h>

#include <tvx/analysis/CtvxAnalysis.h>
#include <tvx/analysis/CtvxCollision.h>
#include <tvx/analysis/CtvxDistance.h>
#include <tvx/analysis/CtvxGeometryPoint.h>
#include <tvx/analysis/CtvxPolyhedronTriangle.h>
#include <tvx/bvtree/CtvxPolyhedronOBBTreeFactory.h>
#include <tvx/progress/CtvxProgressDelegate.h>
#include <tvx/scene/CtvxCollisionList.h>

#include <gtest/gtest.h>

#include <boost/pointer_cast.hpp>

#include <cmath>
#include <cstdlib>

namespace {

using tvxtest::describe;
using tvxtest::Json;
using tvxtest::Mesh;
using tvxtest::parseJson;
using tvxtest::shellQuote;
using tvxtest::TempDir;
using tvxtest::ToolRun;
using tvxtest::tvx;
using tvxtest::write;

// ---------------------------------------------------------------------------
// The same scene in-process, through the library and a brute force.

struct Scene {
    boost::shared_ptr<CtvxPolyhedron> a, b;
    std::vector<tvxtest::Tri> worldA, worldB; // triangles placed, in double
};

std::vector<tvxtest::Tri> placed(tvxio::MeshPart const& part, CqarMat4 const& m)
{
    std::vector<tvxtest::Tri> tris;
    for (std::size_t t = 0; t < part.countTriangles(); ++t) {
        tvxtest::Tri tri;
        for (int k = 0; k < 3; ++k) {
            std::size_t const v = part.triangles[3 * t + static_cast<std::size_t>(k)];
            CqarPoint3 const p = m * CqarPoint3(part.points[3 * v], part.points[3 * v + 1], part.points[3 * v + 2]);
            tri[static_cast<std::size_t>(k)] = tvxtest::Vec3(p[0], p[1], p[2]);
        }
        tris.push_back(tri);
    }
    return tris;
}

Scene buildScene(std::string const& fileA, std::string const& fileB, CqarMat4 const& placeA, CqarMat4 const& placeB)
{
    Scene s;
    tvxio::ImportedMesh ma, mb;
    std::string error;
    EXPECT_EQ(tvxio::importMesh(fileA, {}, ma, error), 0) << error;
    EXPECT_EQ(tvxio::importMesh(fileB, {}, mb, error), 0) << error;
    s.a = tvxio::makePolyhedron(ma.parts.at(0));
    s.b = tvxio::makePolyhedron(mb.parts.at(0));
    boost::shared_ptr<CtvxProgressDelegate> none;
    s.a->makeCollisionEntity(none);
    s.b->makeCollisionEntity(none);
    s.a->absolutePosition(placeA);
    s.b->absolutePosition(placeB);
    s.worldA = placed(ma.parts[0], placeA);
    s.worldB = placed(mb.parts[0], placeB);
    return s;
}

struct BruteForce {
    double distance = 1e300;
    int intersecting = 0;
};

BruteForce bruteForce(Scene const& s)
{
    BruteForce r;
    for (tvxtest::Tri const& ta : s.worldA)
        for (tvxtest::Tri const& tb : s.worldB) {
            r.distance = std::min(r.distance, tvxtest::triangleDistance(ta, tb));
            r.intersecting += tvxtest::trianglesIntersect(ta, tb) ? 1 : 0;
        }
    return r;
}

Json const& queryOfType(Json const& doc, std::string const& type)
{
    for (Json const& q : doc.at("queries"))
        if (q.at("type") == type)
            return q;
    throw std::runtime_error("no query of type " + type);
}

// Checks the JSON answers of `tvx query --json` against the library run
// in-process on the same scene, in the same order of queries.
void expectSameAsLibrary(Json const& doc, Scene const& scene)
{
    boost::shared_ptr<CtvxCollisionList> l1 = CtvxCollisionList::create(), l2 = CtvxCollisionList::create();
    l1->add(scene.a);
    l2->add(scene.b);
    boost::shared_ptr<CtvxAnalysis> analysis = CtvxAnalysis::create();
    analysis->setCollisionList1(l1);
    analysis->setCollisionList2(l2);
    char const* names[] = {"first", "all", "exact", "estimated"};
    CtvxAnalysis::EAnalysisType const types[] = {CtvxAnalysis::FIRST_COLLISION, CtvxAnalysis::ALL_COLLISIONS,
                                                 CtvxAnalysis::EXACT_DISTANCE, CtvxAnalysis::ESTIMATED_DISTANCE};
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(names[i]);
        analysis->setAnalysisType(types[i]);
        analysis->compute();
        Json const& q = queryOfType(doc, names[i]);
        bool const contact = analysis->countCollisions() > 0;
        ASSERT_EQ(q.at("contact").get<bool>(), contact);
        if (contact) {
            boost::shared_ptr<CtvxCollision> c;
            analysis->getCollision(0, c);
            ASSERT_EQ(static_cast<unsigned>(q.at("pair_count").get<double>()), c->countPairs());
            ASSERT_FALSE(q.at("pairs").empty());
            boost::shared_ptr<CtvxGeometrySubElement> first, second;
            c->getFirst(0, first);
            c->getSecond(0, second);
            int ta = -1, tb = -1;
            boost::dynamic_pointer_cast<CtvxPolyhedronTriangle>(first)->getTriangle(ta);
            boost::dynamic_pointer_cast<CtvxPolyhedronTriangle>(second)->getTriangle(tb);
            EXPECT_EQ(q.at("pairs").at(0).at("a").get<double>(), ta);
            EXPECT_EQ(q.at("pairs").at(0).at("b").get<double>(), tb);
        } else {
            EXPECT_EQ(q.at("pair_count").get<double>(), 0.0);
        }
        if (i >= 2 && !contact) {
            ASSERT_GT(analysis->countDistances(), 0u);
            boost::shared_ptr<CtvxDistance> d;
            analysis->getDistance(0, d);
            // Printed as the shortest text of the float: it comes back bit for bit.
            EXPECT_EQ(static_cast<float>(q.at("clearance").get<double>()), d->distance());
            EXPECT_EQ(q.at("exact").get<bool>(), d->isExactDistance());
            if (d->isExactDistance()) {
                boost::shared_ptr<CtvxGeometryPoint> p1, p2;
                d->getClosestPoint1(p1);
                d->getClosestPoint2(p2);
                CqarPoint3 pa, pb;
                p1->pointAbsolute(pa);
                p2->pointAbsolute(pb);
                for (int k = 0; k < 3; ++k) {
                    EXPECT_EQ(q.at("closest").at("a").at(static_cast<std::size_t>(k)).get<double>(), pa[k]);
                    EXPECT_EQ(q.at("closest").at("b").at(static_cast<std::size_t>(k)).get<double>(), pb[k]);
                }
            }
        }
    }
}

// ---------------------------------------------------------------------------

TEST(Tool, HelpForTheToolAndEveryCommand)
{
    TempDir dir;
    ToolRun const top = tvx(dir, {"--help"});
    EXPECT_EQ(top.status, 0) << describe(top);
    std::vector<std::string> const commands = {"info", "query", "sweep", "batch", "plan"};
    for (std::string const& c : commands)
        EXPECT_NE(top.out.find("\n  " + c + " "), std::string::npos) << c << "\n" << top.out;
    EXPECT_TRUE(top.err.empty());

    // Every command: its usage first, the options it shares with the others,
    // the unit of time and the meaning of each exit status.
    for (std::string const& c : commands) {
        for (char const* h : {"--help", "-h"}) {
            ToolRun const r = tvx(dir, {c, h});
            EXPECT_EQ(r.status, 0) << describe(r);
            EXPECT_EQ(r.out.rfind("usage: tvx " + c, 0), 0u) << describe(r);
            for (char const* piece : {"--json", "--help", "--reader-memory SIZE", "--reader-seconds S",
                                      "milliseconds", "exit status: 0 answered, 1 ", ", 2 bad usage"})
                EXPECT_NE(r.out.find(piece), std::string::npos) << c << ": " << piece << "\n" << r.out;
        }
    }
    for (char const* c : {"query", "sweep", "batch"})
        for (char const* piece : {"--matrix-a", "--matrix-b", "--pose-a", "--pose-b", "A POSE is"})
            EXPECT_NE(tvx(dir, {c, "--help"}).out.find(piece), std::string::npos) << c << ": " << piece;
    // Help wins over missing arguments and over values checked later.
    EXPECT_EQ(tvx(dir, {"query", "--help", "--pose-b", "1 2"}).status, 0);

    ToolRun const version = tvx(dir, {"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, std::string("tvx ") + TVX_PROJECT_VERSION + "\n");

    ToolRun const none = tvx(dir, {});
    EXPECT_EQ(none.status, 2);
    EXPECT_EQ(none.err.rfind("usage: tvx", 0), 0u) << describe(none);
    EXPECT_TRUE(none.out.empty());
    ToolRun const bogus = tvx(dir, {"frobnicate"});
    EXPECT_EQ(bogus.status, 2);
    EXPECT_EQ(bogus.err, "tvx: unknown command 'frobnicate' (try 'tvx --help')\n");
}

std::vector<std::string> keysOf(Json const& object)
{
    std::vector<std::string> keys;
    for (auto const& item : object.items())
        keys.push_back(item.key());
    return keys;
}

// Every time is in milliseconds under a key ending in _ms, to the whole
// microsecond; no key speaks of another unit.
void expectTimesInMilliseconds(Json const& j, std::string const& where)
{
    if (j.is_array()) {
        for (Json const& item : j)
            expectTimesInMilliseconds(item, where);
        return;
    }
    if (!j.is_object())
        return;
    for (auto const& item : j.items()) {
        std::string const& k = item.key();
        EXPECT_EQ(k.find("second"), std::string::npos) << where << ": " << k;
        EXPECT_EQ(k.find("micro"), std::string::npos) << where << ": " << k;
        if (k.size() > 3 && k.compare(k.size() - 3, 3, "_ms") == 0) {
            double const ms = item.value().get<double>();
            EXPECT_GE(ms, 0.0) << where << ": " << k;
            EXPECT_EQ(std::round(ms * 1000.0) / 1000.0, ms) << where << ": " << k;
        }
        expectTimesInMilliseconds(item.value(), where);
    }
}

TEST(Tool, EveryCommandAnswersInJsonOfOneShape)
{
    TempDir dir;
    std::string const sphere = write(dir, "sphere.ply", tvxtest::plyBinaryBytes(tvxtest::makeIcosphere(2, 1.0)));
    std::string const box = write(dir, "box.obj", tvxtest::objText(tvxtest::makeBox(0.5, 0.5, 0.5)));
    std::vector<std::vector<std::string>> const runs = {
        {"info", sphere, "--json"},
        {"query", sphere, box, "--pose-b", "3 0.5 0 0.1 0.2 0.3", "--json"},
        {"sweep", sphere, box, "--from", "3 0 0", "--to", "2 0 0 0 0 1", "--steps", "2", "--json"},
        {"plan", "--robot-box", "0.2 0.2 0.2", "--obstacles", box, "--start", "-2 0 0", "--goal", "2 0 0", "--joint",
         "planar", "--json"},
    };
    std::vector<Json> docs;
    for (std::vector<std::string> const& args : runs) {
        ToolRun const r = tvx(dir, args);
        ASSERT_EQ(r.status, 0) << args[0] << "\n" << describe(r);
        docs.push_back(parseJson(r));
        expectTimesInMilliseconds(docs.back(), args[0]);
    }
    Json const &info = docs[0], &query = docs[1], &sweep = docs[2], &plan = docs[3];

    // One shape for a mesh, read from a file or made in place.
    std::vector<Json> const meshes = {info.at("mesh"),          query.at("a").at("mesh"), query.at("b").at("mesh"),
                                      sweep.at("a").at("mesh"), sweep.at("b").at("mesh"), plan.at("robot"),
                                      plan.at("obstacles").at(0)};
    for (Json const& m : meshes) {
        EXPECT_EQ(keysOf(m), keysOf(info.at("mesh"))) << m;
        EXPECT_EQ(m.at("parts").get<int>(), 1) << m;
    }
    EXPECT_EQ(query.at("a").at("mesh").at("file"), sphere);
    EXPECT_EQ(query.at("a").at("mesh").at("triangles"), info.at("mesh").at("triangles"));
    EXPECT_EQ(plan.at("obstacles").at(0).at("file"), box);
    EXPECT_TRUE(plan.at("robot").at("file").is_null());
    EXPECT_EQ(plan.at("robot").at("triangles"), sweep.at("b").at("mesh").at("triangles")); // both boxes

    // One shape for a placed mesh and one for a pose, whichever command.
    for (Json const& side : {query.at("b"), sweep.at("a"), sweep.at("b")})
        EXPECT_EQ(keysOf(side), keysOf(query.at("a")));
    std::vector<Json> poses = {query.at("a").at("pose"), query.at("b").at("pose"), sweep.at("motion").at("from"),
                               sweep.at("motion").at("to"), plan.at("start").at("pose"), plan.at("goal").at("pose")};
    for (Json const& w : plan.at("path").at("waypoints"))
        poses.push_back(w);
    for (Json const& p : poses) {
        EXPECT_EQ(keysOf(p), keysOf(query.at("a").at("pose")));
        EXPECT_EQ(p.at("translation").size(), 3u);
        EXPECT_EQ(p.at("angles").size(), 3u);
        EXPECT_EQ(p.at("matrix").size(), 16u);
    }
    CqarMat4 const placeB = tvxcli::poseMatrix(tvxcli::parsePose("3 0.5 0 0.1 0.2 0.3", "b"));
    for (std::size_t k = 0; k < 16; ++k)
        EXPECT_EQ(query.at("b").at("pose").at("matrix").at(k).get<double>(), placeB(static_cast<int>(k / 4), static_cast<int>(k % 4)));
    EXPECT_EQ(sweep.at("motion").at("to").at("angles").at(2).get<double>(), 1.0);
}

TEST(Tool, InfoReportsTheMeshAndItsTreeInEveryFormat)
{
    TempDir dir;
    Mesh const box = tvxtest::makeBox(0.5, 1.5, 2.5);
    std::vector<std::pair<std::string, std::string>> const files = {
        {"box.obj", tvxtest::objText(box)},
        {"box_ascii.stl", tvxtest::stlAsciiText(box)},
        {"box_binary.stl", tvxtest::stlBinaryBytes(box)},
        {"box.ply", tvxtest::plyBinaryBytes(box)},
        {"box.off", tvxtest::offText(box)},
        {"box.ply.gz", tvxtest::gzipBytes(tvxtest::plyAsciiText(box))},
    };
    for (auto const& f : files) {
        SCOPED_TRACE(f.first);
        std::string const path = write(dir, f.first, f.second);
        ToolRun const r = tvx(dir, {"info", path, "--json"});
        ASSERT_EQ(r.status, 0) << describe(r);
        Json const j = parseJson(r);
        EXPECT_EQ(j.at("mesh").at("file").get<std::string>(), path);
        EXPECT_EQ(j.at("mesh").at("triangles").get<double>(), 12);
        EXPECT_EQ(j.at("mesh").at("points").get<double>(), 8);
        EXPECT_EQ(j.at("tree").at("boxes").get<double>(), 11); // n - 1 boxes for n triangles
        EXPECT_EQ(j.at("tree").at("bytes").get<double>(), 11 * 28);
        EXPECT_NEAR(j.at("tree").at("bytes_per_triangle").get<double>(), 11.0 * 28 / 12, 1e-12);
        EXPECT_GE(j.at("tree").at("depth").get<double>(), 4); // a binary tree over 12 leaves
        EXPECT_LE(j.at("tree").at("depth").get<double>(), 11);
        EXPECT_TRUE(j.at("validator").at("sound").get<bool>());
        EXPECT_EQ(j.at("validator").at("failures").get<double>(), 0);
        double const half[3] = {0.5, 1.5, 2.5};
        for (std::size_t k = 0; k < 3; ++k) {
            EXPECT_EQ(j.at("bounds").at("min").at(k).get<double>(), -half[k]);
            EXPECT_EQ(j.at("bounds").at("max").at(k).get<double>(), half[k]);
        }
        EXPECT_GE(j.at("mesh").at("build_ms").get<double>(), 0.0);

        ToolRun const text = tvx(dir, {"info", path});
        ASSERT_EQ(text.status, 0) << describe(text);
        EXPECT_NE(text.out.find("triangles    12\n"), std::string::npos) << text.out;
        EXPECT_NE(text.out.find("tree boxes   11\n"), std::string::npos) << text.out;
        EXPECT_NE(text.out.find("validator    sound"), std::string::npos) << text.out;
    }
}

TEST(Tool, QueryJsonMatchesTheLibraryAndTheBruteForce)
{
    TempDir dir;
    Mesh const sphere = tvxtest::makeIcosphere(2, 1.0);
    Mesh const torus = tvxtest::makeTorus(16, 10, 1.2, 0.35);
    std::string const a = write(dir, "sphere.ply", tvxtest::plyBinaryBytes(sphere));
    std::string const b = write(dir, "torus.stl", tvxtest::stlBinaryBytes(torus));
    struct Case {
        char const* pose;
        bool contact;
    };
    // Apart (twice, turned differently), then through each other.
    Case const cases[] = {{"3.1 0.4 -0.3 0.3 -0.2 1.1", false},
                          {"-0.5 2.9 0.2 1.4 0.1 0", false},
                          {"1.3 0.2 0.1 0.2 0.4 0.3", true}};
    for (Case const& c : cases) {
        SCOPED_TRACE(c.pose);
        ToolRun const r = tvx(dir, {"query", a, b, "--pose-b", c.pose, "--json", "--max-pairs", "3"});
        ASSERT_EQ(r.status, 0) << describe(r);
        Json const doc = parseJson(r);
        ASSERT_EQ(doc.at("queries").size(), 4u);
        EXPECT_EQ(doc.at("a").at("mesh").at("triangles").get<double>(), 320);
        EXPECT_EQ(doc.at("b").at("mesh").at("triangles").get<double>(), 320);
        CqarMat4 const placeB = tvxcli::poseMatrix(tvxcli::parsePose(c.pose, "--pose-b"));
        for (int k = 0; k < 16; ++k)
            EXPECT_EQ(doc.at("b").at("pose").at("matrix").at(static_cast<std::size_t>(k)).get<double>(), placeB(k / 4, k % 4));
        Scene const scene = buildScene(a, b, CqarMat4(), placeB);
        expectSameAsLibrary(doc, scene);

        BruteForce const ref = bruteForce(scene);
        Json const& all = queryOfType(doc, "all");
        EXPECT_EQ(all.at("contact").get<bool>(), c.contact);
        EXPECT_LE(all.at("pairs").size(), 3u);
        if (c.contact) {
            EXPECT_EQ(all.at("pair_count").get<double>(), ref.intersecting);
            EXPECT_EQ(queryOfType(doc, "exact").at("clearance").get<double>(), 0.0);
        } else {
            double const exact = queryOfType(doc, "exact").at("clearance").get<double>();
            EXPECT_NEAR(exact, ref.distance, 2e-6 * (1.0 + ref.distance));
            EXPECT_TRUE(queryOfType(doc, "exact").at("exact").get<bool>());
            // The two closest points are the clearance apart.
            Json const& cl = queryOfType(doc, "exact").at("closest");
            double d2 = 0.0;
            for (std::size_t k = 0; k < 3; ++k)
                d2 += std::pow(cl.at("a").at(k).get<double>() - cl.at("b").at(k).get<double>(), 2);
            EXPECT_NEAR(std::sqrt(d2), exact, 2e-6 * (1.0 + exact));
            double const estimate = queryOfType(doc, "estimated").at("clearance").get<double>();
            EXPECT_LE(estimate, exact * (1 + 1e-6) + 1e-6);
            EXPECT_FALSE(queryOfType(doc, "estimated").at("exact").get<bool>());
            EXPECT_TRUE(queryOfType(doc, "estimated").at("closest").is_null());
        }
    }
}

// --scale-free-axes answers as the library does with the opt-in set, on
// meshes a thousandth of a unit across where the opt-in builds other trees
// than the default; without it the tool answers as the default library.
TEST(Tool, ScaleFreeAxesAnswerAsTheLibraryWithTheOptIn)
{
    TempDir dir;
    tvxtest::Mesh sphere = tvxtest::makeIcosphere(3, 1.0e-3);
    tvxtest::Mesh torus = tvxtest::makeTorus(24, 12, 1.2e-3, 0.35e-3);
    std::string const a = write(dir, "sphere.ply", tvxtest::plyBinaryBytes(sphere));
    std::string const b = write(dir, "torus.ply", tvxtest::plyBinaryBytes(torus));
    // Through each other (many contacts, whose order is the trees'), then
    // apart, the sphere's edge facing the torus' tube.
    char const* const poses[] = {"1.1e-3 0.2e-3 0.1e-4 0.2 0.4 0.3", "3.0e-3 0.4e-3 -0.3e-3 0.3 -0.2 1.1"};
    std::string firstPairs[2];
    for (char const* pose : poses) {
        SCOPED_TRACE(pose);
        CqarMat4 const placeB = tvxcli::poseMatrix(tvxcli::parsePose(pose, "--pose-b"));
        for (int on = 0; on < 2; ++on) {
            SCOPED_TRACE(on ? "opt-in" : "default");
            std::vector<std::string> args = {"query", a, b, "--pose-b", pose, "--json", "--max-pairs", "4"};
            if (on)
                args.push_back("--scale-free-axes");
            ToolRun const r = tvx(dir, args);
            ASSERT_EQ(r.status, 0) << describe(r);
            Json const doc = parseJson(r);
            CtvxPolyhedronOBBTreeFactory::scaleFreeAxes(on == 1);
            Scene const scene = buildScene(a, b, CqarMat4(), placeB);
            expectSameAsLibrary(doc, scene);
            CtvxPolyhedronOBBTreeFactory::scaleFreeAxes(false);
            firstPairs[on] += queryOfType(doc, "first").at("pairs").dump() + queryOfType(doc, "all").at("pairs").dump() +
                              queryOfType(doc, "estimated").at("clearance").dump();
        }
    }
    // The two settings build other trees here, so the option is seen.
    EXPECT_NE(firstPairs[0], firstPairs[1]);
}

TEST(Tool, ClearanceOfTwoBoxesIsTheGapLessTheTolerances)
{
    TempDir dir;
    std::string const box = write(dir, "box.off", tvxtest::offText(tvxtest::makeBox(0.5, 0.5, 0.5)));
    struct Case {
        double gap, tolA, tolB;
    };
    for (Case const& c : {Case{0.75, 0, 0}, Case{0.75, 0.25, 0.125}, Case{2.0, 0, 0.5}, Case{0.5, 0.25, 0.25},
                          Case{0.5, 0.3, 0.3}}) {
        std::string const pose = std::to_string(1.0 + c.gap) + " 0.25 -0.125";
        SCOPED_TRACE(pose + " tolerances " + std::to_string(c.tolA) + " " + std::to_string(c.tolB));
        ToolRun const r = tvx(dir, {"query", box, box, "--pose-b", pose, "--tolerance-a", std::to_string(c.tolA),
                                "--tolerance-b", std::to_string(c.tolB), "--type", "exact", "--json"});
        ASSERT_EQ(r.status, 0) << describe(r);
        Json const doc = parseJson(r);
        ASSERT_EQ(doc.at("queries").size(), 1u);
        Json const& q = doc.at("queries").at(0);
        double const expected = c.gap - c.tolA - c.tolB;
        if (expected <= 0.0) {
            EXPECT_TRUE(q.at("contact").get<bool>());
            EXPECT_EQ(q.at("clearance").get<double>(), 0.0);
        } else {
            EXPECT_FALSE(q.at("contact").get<bool>());
            EXPECT_NEAR(q.at("clearance").get<double>(), expected, 1e-6);
            // Closest points on the facing sides: x = 0.5 on A, x = 0.5 + gap on B.
            EXPECT_NEAR(q.at("closest").at("a").at(0).get<double>(), 0.5, 1e-6);
            EXPECT_NEAR(q.at("closest").at("b").at(0).get<double>(), 0.5 + c.gap, 1e-6);
        }
        EXPECT_EQ(doc.at("a").at("tolerance").get<double>(), c.tolA);
    }
}

TEST(Tool, MatrixAndPosePlaceAlike)
{
    TempDir dir;
    std::string const a = write(dir, "a.obj", tvxtest::objText(tvxtest::makeBox(0.5, 0.5, 0.5)));
    std::string const b = write(dir, "b.obj", tvxtest::objText(tvxtest::makeBox(1.5, 0.25, 0.25)));
    // B's long side along x, turned a quarter about z and moved 3 along x:
    // its long side now runs along y and its near face is at x = 2.75, so
    // 2.25 from A's; with A moved by -1 along x, 3.25. Every spelling of the
    // placements, in query and in sweep (whose B placement is in the moving
    // frame, here moved 3 along x and not turned), must agree.
    std::string const quarter = "0 -1 0 0  1 0 0 0  0 0 1 0  0 0 0 1";
    std::string const quarterThere = "0 -1 0 3  1 0 0 0  0 0 1 0  0 0 0 1";
    std::string const backOne = "1 0 0 -1  0 1 0 0  0 0 1 0  0 0 0 1";
    struct Case {
        std::vector<std::string> args;
        double clearance;
    };
    std::vector<Case> const cases = {
        {{"query", a, b, "--pose-b", "3 0 0 0 0 1.5707963267948966"}, 2.25},
        {{"query", a, b, "--matrix-b", quarterThere}, 2.25},
        {{"query", a, b, "--pose-b", quarterThere}, 2.25},
        {{"query", a, b, "--pose-a", "-1 0 0", "--pose-b", "3 0 0 0 0 1.5707963267948966"}, 3.25},
        {{"query", a, b, "--matrix-a", backOne, "--matrix-b", quarterThere}, 3.25},
        {{"sweep", a, b, "--from", "3 0 0", "--to", "3 0 0", "--steps", "1", "--matrix-b", quarter}, 2.25},
        {{"sweep", a, b, "--from", "0 0 0", "--to", "0 0 0", "--steps", "1", "--pose-b", quarterThere}, 2.25},
        {{"sweep", a, b, "--from", quarterThere, "--to", quarterThere, "--steps", "1", "--matrix-a", backOne}, 3.25},
        {{"sweep", a, b, "--from", "3 0 0", "--to", "3 0 0", "--steps", "1"}, 1.0}, // not turned
    };
    for (Case const& c : cases) {
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"--type", "exact", "--json"});
        ToolRun const r = tvx(dir, args);
        ASSERT_EQ(r.status, 0) << describe(r);
        Json const doc = parseJson(r);
        Json const& answer = args[0] == "query" ? doc.at("queries").at(0) : doc.at("table").at(1);
        EXPECT_NEAR(answer.at("clearance").get<double>(), c.clearance, 1e-6) << describe(r);
    }
}

TEST(Tool, QueryTextNamesContactsAndClosestPoints)
{
    TempDir dir;
    std::string const box = write(dir, "box.stl", tvxtest::stlAsciiText(tvxtest::makeBox(0.5, 0.5, 0.5)));
    ToolRun const apart = tvx(dir, {"query", box, box, "--pose-b", "2 0 0"});
    ASSERT_EQ(apart.status, 0) << describe(apart);
    EXPECT_NE(apart.out.find("first collision    no contact"), std::string::npos) << apart.out;
    EXPECT_NE(apart.out.find("all collisions     no contact"), std::string::npos) << apart.out;
    EXPECT_NE(apart.out.find("exact distance     clearance 1 (exact)"), std::string::npos) << apart.out;
    EXPECT_NE(apart.out.find("closest points  A (0.5, "), std::string::npos) << apart.out;
    EXPECT_NE(apart.out.find("estimated distance clearance >= "), std::string::npos) << apart.out;
    EXPECT_TRUE(apart.err.empty()) << apart.err;

    ToolRun const touching = tvx(dir, {"query", box, box, "--pose-b", "0.5 0.2 0.1 0.3 0.2 0.1", "--max-pairs", "2"});
    ASSERT_EQ(touching.status, 0) << describe(touching);
    EXPECT_NE(touching.out.find("first collision    contact, 1 triangle pair"), std::string::npos) << touching.out;
    EXPECT_NE(touching.out.find("    A triangle "), std::string::npos) << touching.out;
    EXPECT_NE(touching.out.find("... and "), std::string::npos) << touching.out;
    EXPECT_EQ(touching.out.find("closest points"), std::string::npos) << touching.out;
}

TEST(Tool, KeptPartsNameTheTrianglesInContact)
{
    TempDir dir;
    // Two unit boxes side by side as two objects of one file; a small box
    // pokes into the right one only.
    Mesh left = tvxtest::makeBox(0.5, 0.5, 0.5), right = left;
    tvxtest::transformMesh(left, 1.0, {-2, 0, 0});
    tvxtest::transformMesh(right, 1.0, {2, 0, 0});
    std::string const two = write(dir, "two.obj",
                                  "o left\n" + tvxtest::objText(left) + "o right\n" +
                                      [&] {
                                          // OBJ ranks count over the whole file.
                                          std::string t;
                                          for (auto const& p : right.points)
                                              t += "v " + tvxtest::fl(p[0]) + " " + tvxtest::fl(p[1]) + " " +
                                                   tvxtest::fl(p[2]) + "\n";
                                          for (auto const& tr : right.triangles)
                                              t += "f " + std::to_string(tr[0] + 9) + " " + std::to_string(tr[1] + 9) +
                                                   " " + std::to_string(tr[2] + 9) + "\n";
                                          return t;
                                      }());
    std::string const small = write(dir, "small.off", tvxtest::offText(tvxtest::makeBox(0.2, 0.2, 0.2)));

    ToolRun const info = tvx(dir, {"info", two, "--keep-parts", "--json"});
    ASSERT_EQ(info.status, 0) << describe(info);
    EXPECT_EQ(parseJson(info).at("mesh").at("parts").get<double>(), 2);
    EXPECT_EQ(parseJson(info).at("mesh").at("triangles").get<double>(), 24);

    ToolRun const r = tvx(dir, {"query", two, small, "--keep-parts", "--pose-b", "1.55 0.1 0.05", "--type", "all",
                            "--json", "--max-pairs", "100"});
    ASSERT_EQ(r.status, 0) << describe(r);
    Json const q = parseJson(r).at("queries").at(0);
    ASSERT_TRUE(q.at("contact").get<bool>());
    ASSERT_EQ(q.at("pairs").size(), static_cast<std::size_t>(q.at("pair_count").get<double>()));
    for (Json const& p : q.at("pairs")) {
        EXPECT_EQ(p.at("part_a").get<std::string>(), "right");
        EXPECT_GE(p.at("a").get<double>(), 0);
        EXPECT_LT(p.at("a").get<double>(), 12); // a rank within the part, not the file
    }
}

struct BadRun {
    char const* what;
    std::vector<std::string> args;
    int status;
    std::string errorPiece;
    std::vector<std::string> env = {};
};

TEST(Tool, BadUsageAndBadInputGiveAMessageAndStatusTwo)
{
    TempDir dir;
    std::string const box = write(dir, "box.obj", tvxtest::objText(tvxtest::makeBox(0.5, 0.5, 0.5)));
    std::string const missing = dir.file("missing.obj");
    std::string const garbage = write(dir, "garbage.stl", "this is not a mesh of any kind, just a line of text\n");
    std::string const range = write(dir, "range.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 4\n");
    std::string const nan = write(dir, "nan.off", "OFF\n3 1 0\n0 0 0\n1 nan 0\n0 1 0\n3 0 1 2\n");
    std::string const points = write(dir, "points.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\n");
    std::string const empty = write(dir, "empty.ply", "");
    std::vector<BadRun> cases = {
        {"missing file", {"info", missing}, 2, "tvx: " + missing + ": no such file\n"},
        {"missing second file", {"query", box, missing}, 2, "tvx: " + missing + ": no such file\n"},
        {"a folder", {"info", dir.path()}, 2, "is a directory"},
        {"not a mesh", {"query", garbage, box}, 2, "tvx: " + garbage + ": "},
        // The reader's own words, not relabelled as this importer's.
        {"bad index", {"info", range}, 2, "tvx: " + range + ": OBJ: vertex index out of range\n"},
        {"NaN", {"sweep", box, nan, "--from", "0 0 0", "--to", "1 0 0"}, 2, "non-finite coordinates"},
        {"no triangles", {"info", points}, 2, "no triangles"},
        {"empty file", {"info", empty}, 2, "empty file"},
        {"short pose", {"query", box, box, "--pose-b", "1 2 3 4 5"}, 2, "--pose-b: expected"},
        {"short matrix", {"sweep", box, box, "--from", "0 0 0", "--to", "1 0 0", "--matrix-a", "1 0 0 1"}, 2,
         "--matrix-a: expected 16 numbers"},
        {"word in pose", {"query", box, box, "--pose-a", "1 two 3"}, 2, "--pose-a: 'two' is not a finite number"},
        {"pose and matrix", {"query", box, box, "--pose-b", "1 2 3", "--matrix-b", "1 0 0 0 0 1 0 0 0 0 1 0 0 0 0 1"},
         2, "give one"},
        {"scaling matrix", {"query", box, box, "--matrix-b", "2 0 0 0 0 2 0 0 0 0 2 0 0 0 0 1"}, 2,
         "not a rigid transform"},
        {"mirroring matrix", {"query", box, box, "--matrix-b", "-1 0 0 0 0 1 0 0 0 0 1 0 0 0 0 1"}, 2, "mirrors"},
        {"unknown option", {"query", box, box, "--frobnicate"}, 2, "not expected: --frobnicate"},
        {"unknown type", {"query", box, box, "--type", "closest"}, 2, "--type: 'closest'"},
        {"negative tolerance", {"query", box, box, "--tolerance-b", "-0.1"}, 2, "--tolerance-b: '-0.1' is negative"},
        {"one file", {"query", box}, 2, "tvx query: B is required"},
        {"two files for info", {"info", box, box}, 2, "not expected: " + box},
        {"missing value", {"query", box, box, "--pose-b"}, 2, "--pose-b"},
        {"sweep without poses", {"sweep", box, box, "--to", "1 0 0"}, 2, "--from is required"},
        {"reader memory", {"info", box, "--reader-memory", "4X"}, 2, "--reader-memory: '4X' is not a size"},
        {"reader time", {"info", box}, 2, "TVX_READER_SECONDS: '-1' is not a positive number", {"TVX_READER_SECONDS=-1"}},
        {"plot in another format",
         {"sweep", box, box, "--from", "3 0 0", "--to", "2 0 0", "--plot", dir.file("p.png")}, 2,
         "--plot: '" + dir.file("p.png") + "' does not end in .svg"},
        {"plan far from the origin",
         {"plan", "--robot-box", "0.1 0.1 0.1", "--obstacles", box, "--start", "1e14 0 0", "--goal", "2 0 0"}, 2,
         "--start: 1e+14 lies beyond 1e12 of the origin"},
        {"obstacle far from the origin",
         {"plan", "--robot-box", "0.1 0.1 0.1", "--obstacles", box, "--start", "-2 0 0", "--goal", "2 0 0",
          "--bounds", "-3 -1 -1 3e13 1 1"}, 2, "--bounds: 3e+13 lies beyond 1e12"},
        {"unknown shrinking", {"plan", "--demo", "--shrink", "always"}, 2, "--shrink: 'always' is not one of"},
        {"zero steps", {"sweep", box, box, "--from", "0 0 0", "--to", "1 0 0", "--steps", "0"}, 2, "--steps"},
        {"collision type in sweep", {"sweep", box, box, "--from", "0 0 0", "--to", "1 0 0", "--type", "all"}, 2,
         "--type"},
        {"view in another format", {"query", box, box, "--view", dir.file("v.png")}, 2,
         "--view: '" + dir.file("v.png") + "' does not end in .html"},
        {"plot into a missing folder",
         {"sweep", box, box, "--from", "3 0 0", "--to", "2 0 0", "--steps", "1", "--plot", dir.file("no/such/p.svg")},
         2, "cannot be written"},
    };
    // A build without three.js refuses --view before it writes (ToolViewTest).
    if (tvxcli::viewAvailable()) {
        cases.push_back({"view into a missing folder",
                         {"sweep", box, box, "--from", "3 0 0", "--to", "2 0 0", "--steps", "1", "--view",
                          dir.file("no/such/v.html")},
                         2, dir.file("no/such/v.html") + ": cannot be written (No such file or directory)"});
        cases.push_back({"view onto a full disk",
                         {"sweep", box, box, "--from", "3 0 0", "--to", "2 0 0", "--view", "/dev/full"}, 2,
                         "tvx: /dev/full: cannot be written (No space left on device)"});
    }
    for (BadRun const& c : cases) {
        SCOPED_TRACE(c.what);
        ToolRun const r = tvx(dir, c.args, c.env);
        EXPECT_EQ(r.status, c.status) << describe(r);
        EXPECT_NE(r.err.find(c.errorPiece), std::string::npos) << describe(r);
        // One line, and nothing on stdout that a script could take for an answer.
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << describe(r);
        EXPECT_TRUE(r.out.empty()) << describe(r);
    }
}

TEST(Tool, SweepFollowsTheHandComputedClearance)
{
    TempDir dir;
    std::string const box = write(dir, "box.ply", tvxtest::plyAsciiText(tvxtest::makeBox(0.5, 0.5, 0.5)));
    std::string const plot = dir.file("sweep.svg");
    // B slides along x from x = 3 to x = -3, through A; the gap is |x| - 1.
    int const steps = 12;
    ToolRun const r = tvx(dir, {"sweep", box, box, "--from", "3 0.1 0", "--to", "-3 0.1 0", "--steps",
                            std::to_string(steps), "--json", "--plot", plot});
    ASSERT_EQ(r.status, 0) << describe(r);
    Json const doc = parseJson(r);
    Json const& table = doc.at("table");
    ASSERT_EQ(table.size(), static_cast<std::size_t>(steps + 1));
    int contacts = 0;
    for (int i = 0; i <= steps; ++i) {
        Json const& row = table.at(static_cast<std::size_t>(i));
        double const x = 3.0 - 6.0 * i / steps;
        EXPECT_EQ(row.at("step").get<double>(), i);
        EXPECT_NEAR(row.at("t").get<double>(), static_cast<double>(i) / steps, 1e-15);
        double const gap = std::fabs(x) - 1.0;
        if (gap <= 1e-9) {
            ++contacts;
            EXPECT_TRUE(row.at("contact").get<bool>()) << "step " << i;
        } else {
            EXPECT_FALSE(row.at("contact").get<bool>()) << "step " << i;
            EXPECT_NEAR(row.at("clearance").get<double>(), gap, 1e-6) << "step " << i;
            EXPECT_TRUE(row.at("exact").get<bool>());
        }
        EXPECT_GE(row.at("query_ms").get<double>(), 0.0);
    }
    // Contact first: x = 1 touches at step 4 and x = -1 at step 8; then the
    // smallest clearance over the steps apart, 0.5 at x = 1.5 or x = -1.5.
    ASSERT_EQ(contacts, 5);
    Json const& contact = doc.at("contact");
    EXPECT_EQ(contact.at("steps").get<int>(), contacts);
    EXPECT_EQ(contact.at("first_step").get<int>(), 4);
    EXPECT_EQ(contact.at("last_step").get<int>(), 8);
    Json const& apart = doc.at("smallest_clearance_apart");
    EXPECT_NEAR(apart.at("clearance").get<double>(), 0.5, 1e-6);
    int const at = apart.at("step").get<int>();
    EXPECT_TRUE(at == 3 || at == 9) << at;
    EXPECT_EQ(apart.at("t").get<double>(), table.at(static_cast<std::size_t>(at)).at("t").get<double>());
    EXPECT_EQ(doc.at("plot").get<std::string>(), plot);

    ToolRun const text = tvx(dir, {"sweep", box, box, "--from", "3 0.1 0", "--to", "-3 0.1 0", "--steps",
                                   std::to_string(steps)});
    ASSERT_EQ(text.status, 0) << describe(text);
    std::size_t const contactLine = text.out.find("\ncontact at steps 4 to 8 (5 of 13 steps)\n");
    std::size_t const apartLine = text.out.find("\nsmallest clearance apart 0.5");
    EXPECT_NE(contactLine, std::string::npos) << text.out;
    EXPECT_NE(apartLine, std::string::npos) << text.out;
    EXPECT_LT(contactLine, apartLine) << text.out;

    std::string const svg = tvxtest::readText(plot);
    EXPECT_EQ(svg.rfind("<?xml", 0), 0u);
    EXPECT_NE(svg.find("</svg>"), std::string::npos);
    // One curve on each side of the contact, a mark per contact step plus the
    // legend's, and the smallest clearance labelled.
    std::size_t polylines = 0, marks = 0;
    for (std::size_t at = svg.find("<polyline"); at != std::string::npos; at = svg.find("<polyline", at + 1))
        ++polylines;
    for (std::size_t at = svg.find("r=\"4\""); at != std::string::npos; at = svg.find("r=\"4\"", at + 1))
        ++marks;
    EXPECT_EQ(polylines, 2u);
    EXPECT_EQ(marks, static_cast<std::size_t>(contacts + 1));
    EXPECT_NE(svg.find(">min 0.5<"), std::string::npos);
}

TEST(Tool, SweepTurnsTheGivenAnglesAtConstantSpeed)
{
    TempDir dir;
    std::string const box = write(dir, "box.obj", tvxtest::objText(tvxtest::makeBox(0.5, 0.5, 0.5)));
    // B stays 2 away along x and turns about z; its reach along x is
    // 0.5 (|cos a| + |sin a|) at angle a. Half a turn, and three quarters of
    // one given as 3 pi / 2, which the shorter way round would make a
    // quarter turn backwards.
    int const steps = 8;
    for (double turn : {M_PI, 1.5 * M_PI}) {
        SCOPED_TRACE(turn);
        char to[64];
        std::snprintf(to, sizeof to, "2 0 0 0 0 %.17g", turn);
        ToolRun const r =
            tvx(dir, {"sweep", box, box, "--from", "2 0 0 0 0 0", "--to", to, "--steps", std::to_string(steps), "--json"});
        ASSERT_EQ(r.status, 0) << describe(r);
        EXPECT_TRUE(r.err.empty()) << r.err;
        Json const doc = parseJson(r);
        for (int i = 0; i <= steps; ++i) {
            double const a = turn * i / steps;
            double const expected = 2.0 - 0.5 - 0.5 * (std::fabs(std::cos(a)) + std::fabs(std::sin(a)));
            EXPECT_NEAR(doc.at("table").at(static_cast<std::size_t>(i)).at("clearance").get<double>(), expected, 2e-6)
                << "step " << i;
        }
    }
    // Degrees given for radians: warned about, and done as given.
    ToolRun const degrees = tvx(dir, {"sweep", box, box, "--from", "4 0 0", "--to", "4 0 0 0 0 90", "--steps", "2"});
    EXPECT_EQ(degrees.status, 0) << describe(degrees);
    EXPECT_EQ(degrees.err.rfind("tvx: warning: --to: rz = 90 is more than a full turn", 0), 0u) << degrees.err;

    ToolRun const text = tvx(dir, {"sweep", box, box, "--from", "2 0 0", "--to", "2 0 0 0 0 1", "--steps", "4"});
    ASSERT_EQ(text.status, 0) << describe(text);
    EXPECT_NE(text.out.find("  step        t       clearance  contact         ms\n"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("\n     4   1.0000 "), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("no contact along the motion"), std::string::npos) << text.out;
}

TEST(Tool, NoProgressBarWhenStandardErrorIsNotATerminal)
{
    TempDir dir;
    // Big enough for a bar on a terminal (81920 triangles).
    std::string const big = write(dir, "big.ply", tvxtest::plyBinaryBytes(tvxtest::makeIcosphere(6, 1.0)));
    ToolRun const r = tvx(dir, {"info", big});
    ASSERT_EQ(r.status, 0) << describe(r);
    EXPECT_TRUE(r.err.empty()) << r.err;
    EXPECT_NE(r.out.find("triangles    81920\n"), std::string::npos) << r.out;
}

TEST(Tool, ProgressBarOnATerminalRunsToTheEndAndIsErased)
{
    // script(1) gives the tool a terminal as standard error.
    if (std::system("command -v script >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "script(1) is not installed";
    TempDir dir;
    std::string const big = write(dir, "big.ply", tvxtest::plyBinaryBytes(tvxtest::makeIcosphere(6, 1.0)));
    std::string const inner = shellQuote(TVX_TOOL_PATH) + " info " + shellQuote(big);
    std::string const log = dir.file("tty.txt");
    std::string const cmd =
        "script -qec " + shellQuote(inner) + " /dev/null </dev/null > " + shellQuote(log) + " 2>&1";
    int const status = std::system(cmd.c_str());
    std::string const out = tvxtest::readText(log);
    if (status != 0 && out.rfind("script:", 0) == 0)
        GTEST_SKIP() << "no pseudo-terminal here: " << out;
    ASSERT_EQ(status, 0) << out;
    EXPECT_NE(out.find("building tree of big.ply ["), std::string::npos) << out.substr(0, 400);
    // The last node of the 81919 completes the bar, and the line is wiped
    // (carriage return, blanks, carriage return) before the report.
    std::size_t const full = out.find("] 100%");
    ASSERT_NE(full, std::string::npos);
    EXPECT_EQ(out.find("] 100%", full + 1), std::string::npos) << "drawn at 100% twice";
    std::size_t const report = out.find("file ");
    ASSERT_NE(report, std::string::npos);
    EXPECT_LT(full, report);
    EXPECT_NE(out.find("\r       ", full), std::string::npos);
    EXPECT_NE(out.find("triangles    81920"), std::string::npos);
}

} // namespace
