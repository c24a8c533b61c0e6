// The tvx tool driven as a user drives it: the built executable run on mesh
// files written here, its text, JSON, SVG and exit statuses checked against
// the library run in-process on the same scene, against a double-precision
// brute force, and against hand-computed clearances.

#include "JsonReader.h"
#include "MeshFiles.h"

#include <tests/support/Meshes.h>
#include <tests/support/ReferenceGeometry.h>

#include <tools/import/MeshImport.h>
#include <tools/import/PolyhedronFromMesh.h>
#include <tools/tvx/Pose.h>

#include <tvx/analysis/CtvxAnalysis.h>
#include <tvx/analysis/CtvxCollision.h>
#include <tvx/analysis/CtvxDistance.h>
#include <tvx/analysis/CtvxGeometryPoint.h>
#include <tvx/analysis/CtvxPolyhedronTriangle.h>
#include <tvx/progress/CtvxProgressDelegate.h>
#include <tvx/scene/CtvxCollisionList.h>

#include <gtest/gtest.h>

#include <boost/pointer_cast.hpp>

#include <cmath>
#include <cstdlib>
#include <sys/wait.h>

namespace {

using tvxtest::Json;
using tvxtest::JsonParser;
using tvxtest::Mesh;
using tvxtest::TempDir;

struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
};

std::string shellQuote(std::string const& s)
{
    std::string q = "'";
    for (char c : s) {
        if (c == '\'')
            q += "'\\''";
        else
            q += c;
    }
    return q + "'";
}

// Runs the tool with the arguments; stdout and stderr are captured apart.
ToolRun tvx(TempDir const& dir, std::vector<std::string> const& args)
{
    std::string cmd = shellQuote(TVX_TOOL_PATH);
    for (std::string const& a : args)
        cmd += " " + shellQuote(a);
    std::string const outPath = dir.file("stdout.txt"), errPath = dir.file("stderr.txt");
    cmd += " >" + shellQuote(outPath) + " 2>" + shellQuote(errPath) + " </dev/null";
    int const raw = std::system(cmd.c_str());
    ToolRun r;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = tvxtest::readText(outPath);
    r.err = tvxtest::readText(errPath);
    return r;
}

std::string describe(ToolRun const& r)
{
    return "status " + std::to_string(r.status) + "\n--- stdout\n" + r.out + "--- stderr\n" + r.err;
}

std::string write(TempDir const& dir, std::string const& name, std::string const& bytes)
{
    std::string const path = dir.file(name);
    tvxtest::writeText(path, bytes);
    return path;
}

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

// Parses stdout as JSON, failing the test with the output if it does not.
Json parseJson(ToolRun const& r)
{
    try {
        return JsonParser::parse(r.out);
    } catch (std::exception const& e) {
        ADD_FAILURE() << e.what() << "\n" << describe(r);
        return Json();
    }
}

Json const& queryOfType(Json const& doc, std::string const& type)
{
    for (Json const& q : doc["queries"].items)
        if (q["type"].str() == type)
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
        ASSERT_EQ(q["contact"].flag(), contact);
        if (contact) {
            boost::shared_ptr<CtvxCollision> c;
            analysis->getCollision(0, c);
            ASSERT_EQ(static_cast<unsigned>(q["pair_count"].num()), c->countPairs());
            ASSERT_FALSE(q["pairs"].items.empty());
            boost::shared_ptr<CtvxGeometrySubElement> first, second;
            c->getFirst(0, first);
            c->getSecond(0, second);
            int ta = -1, tb = -1;
            boost::dynamic_pointer_cast<CtvxPolyhedronTriangle>(first)->getTriangle(ta);
            boost::dynamic_pointer_cast<CtvxPolyhedronTriangle>(second)->getTriangle(tb);
            EXPECT_EQ(q["pairs"][0]["a"].num(), ta);
            EXPECT_EQ(q["pairs"][0]["b"].num(), tb);
        } else {
            EXPECT_EQ(q["pair_count"].num(), 0.0);
        }
        if (i >= 2 && !contact) {
            ASSERT_GT(analysis->countDistances(), 0u);
            boost::shared_ptr<CtvxDistance> d;
            analysis->getDistance(0, d);
            // Printed with 9 digits: the float comes back bit for bit.
            EXPECT_EQ(static_cast<float>(q["clearance"].num()), d->distance());
            EXPECT_EQ(q["exact"].flag(), d->isExactDistance());
            if (d->isExactDistance()) {
                boost::shared_ptr<CtvxGeometryPoint> p1, p2;
                d->getClosestPoint1(p1);
                d->getClosestPoint2(p2);
                CqarPoint3 pa, pb;
                p1->pointAbsolute(pa);
                p2->pointAbsolute(pb);
                for (int k = 0; k < 3; ++k) {
                    EXPECT_EQ(q["closest"]["a"][static_cast<std::size_t>(k)].num(), pa[k]);
                    EXPECT_EQ(q["closest"]["b"][static_cast<std::size_t>(k)].num(), pb[k]);
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
    for (char const* c : {"info", "query", "sweep"})
        EXPECT_NE(top.out.find(std::string("  ") + c + " "), std::string::npos) << c << "\n" << top.out;
    EXPECT_TRUE(top.err.empty());

    for (char const* c : {"info", "query", "sweep"}) {
        for (char const* h : {"--help", "-h"}) {
            ToolRun const r = tvx(dir, {c, h});
            EXPECT_EQ(r.status, 0) << describe(r);
            EXPECT_EQ(r.out.rfind(std::string("usage: tvx ") + c, 0), 0u) << describe(r);
            EXPECT_NE(r.out.find("exit status"), std::string::npos);
        }
    }
    // Help wins over missing arguments.
    EXPECT_EQ(tvx(dir, {"query", "--help", "--pose-b", "1 2 3"}).status, 0);

    ToolRun const none = tvx(dir, {});
    EXPECT_EQ(none.status, 2);
    EXPECT_EQ(none.err.rfind("usage: tvx", 0), 0u) << describe(none);
    EXPECT_TRUE(none.out.empty());
    ToolRun const bogus = tvx(dir, {"frobnicate"});
    EXPECT_EQ(bogus.status, 2);
    EXPECT_EQ(bogus.err, "tvx: unknown command 'frobnicate' (try 'tvx --help')\n");
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
        EXPECT_EQ(j["file"].str(), path);
        EXPECT_EQ(j["triangles"].num(), 12);
        EXPECT_EQ(j["points"].num(), 8);
        EXPECT_EQ(j["tree_boxes"].num(), 11); // n - 1 boxes for n triangles
        EXPECT_EQ(j["tree_bytes"].num(), 11 * 28);
        EXPECT_NEAR(j["tree_bytes_per_triangle"].num(), 11.0 * 28 / 12, 1e-12);
        EXPECT_GE(j["tree_depth"].num(), 4); // a binary tree over 12 leaves
        EXPECT_LE(j["tree_depth"].num(), 11);
        EXPECT_TRUE(j["validator"]["sound"].flag());
        EXPECT_EQ(j["validator"]["failures"].num(), 0);
        double const half[3] = {0.5, 1.5, 2.5};
        for (std::size_t k = 0; k < 3; ++k) {
            EXPECT_EQ(j["bounds"]["min"][k].num(), -half[k]);
            EXPECT_EQ(j["bounds"]["max"][k].num(), half[k]);
        }
        EXPECT_GE(j["build_seconds"].num(), 0.0);

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
        ASSERT_EQ(doc["queries"].items.size(), 4u);
        EXPECT_EQ(doc["a"]["triangles"].num(), 320);
        EXPECT_EQ(doc["b"]["triangles"].num(), 320);
        CqarMat4 const placeB = tvxcli::poseMatrix(tvxcli::parsePose(c.pose, "--pose-b"));
        for (int k = 0; k < 16; ++k)
            EXPECT_EQ(doc["b"]["placement"][static_cast<std::size_t>(k)].num(), placeB(k / 4, k % 4));
        Scene const scene = buildScene(a, b, CqarMat4(), placeB);
        expectSameAsLibrary(doc, scene);

        BruteForce const ref = bruteForce(scene);
        Json const& all = queryOfType(doc, "all");
        EXPECT_EQ(all["contact"].flag(), c.contact);
        EXPECT_LE(all["pairs"].items.size(), 3u);
        if (c.contact) {
            EXPECT_EQ(all["pair_count"].num(), ref.intersecting);
            EXPECT_EQ(queryOfType(doc, "exact")["clearance"].num(), 0.0);
        } else {
            double const exact = queryOfType(doc, "exact")["clearance"].num();
            EXPECT_NEAR(exact, ref.distance, 2e-6 * (1.0 + ref.distance));
            EXPECT_TRUE(queryOfType(doc, "exact")["exact"].flag());
            // The two closest points are the clearance apart.
            Json const& cl = queryOfType(doc, "exact")["closest"];
            double d2 = 0.0;
            for (std::size_t k = 0; k < 3; ++k)
                d2 += std::pow(cl["a"][k].num() - cl["b"][k].num(), 2);
            EXPECT_NEAR(std::sqrt(d2), exact, 2e-6 * (1.0 + exact));
            double const estimate = queryOfType(doc, "estimated")["clearance"].num();
            EXPECT_LE(estimate, exact * (1 + 1e-6) + 1e-6);
            EXPECT_FALSE(queryOfType(doc, "estimated")["exact"].flag());
            EXPECT_TRUE(queryOfType(doc, "estimated")["closest"].isNull());
        }
    }
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
        ASSERT_EQ(doc["queries"].items.size(), 1u);
        Json const& q = doc["queries"][0];
        double const expected = c.gap - c.tolA - c.tolB;
        if (expected <= 0.0) {
            EXPECT_TRUE(q["contact"].flag());
            EXPECT_EQ(q["clearance"].num(), 0.0);
        } else {
            EXPECT_FALSE(q["contact"].flag());
            EXPECT_NEAR(q["clearance"].num(), expected, 1e-6);
            // Closest points on the facing sides: x = 0.5 on A, x = 0.5 + gap on B.
            EXPECT_NEAR(q["closest"]["a"][0].num(), 0.5, 1e-6);
            EXPECT_NEAR(q["closest"]["b"][0].num(), 0.5 + c.gap, 1e-6);
        }
        EXPECT_EQ(doc["a"]["tolerance"].num(), c.tolA);
    }
}

TEST(Tool, MatrixAndPosePlaceAlike)
{
    TempDir dir;
    std::string const a = write(dir, "a.obj", tvxtest::objText(tvxtest::makeBox(0.5, 0.5, 0.5)));
    std::string const b = write(dir, "b.obj", tvxtest::objText(tvxtest::makeBox(1.5, 0.25, 0.25)));
    // B's long side along x, turned a quarter about z and moved 3 along x:
    // its long side now runs along y and its near face is at x = 2.75.
    ToolRun const byPose =
        tvx(dir, {"query", a, b, "--pose-b", "3 0 0 0 0 1.5707963267948966", "--type", "exact", "--json"});
    ToolRun const byMatrix = tvx(dir, {"query", a, b, "--matrix-b", "0 -1 0 3  1 0 0 0  0 0 1 0  0 0 0 1", "--type",
                                   "exact", "--json"});
    ASSERT_EQ(byPose.status, 0) << describe(byPose);
    ASSERT_EQ(byMatrix.status, 0) << describe(byMatrix);
    double const c1 = parseJson(byPose)["queries"][0]["clearance"].num();
    double const c2 = parseJson(byMatrix)["queries"][0]["clearance"].num();
    EXPECT_NEAR(c1, 2.25, 1e-6);
    EXPECT_NEAR(c2, 2.25, 1e-6);
    // --pose-a moves A the same way.
    ToolRun const movedA = tvx(dir, {"query", a, b, "--pose-a", "-1 0 0", "--pose-b", "3 0 0 0 0 1.5707963267948966",
                                 "--type", "exact", "--json"});
    EXPECT_NEAR(parseJson(movedA)["queries"][0]["clearance"].num(), 3.25, 1e-6);
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
    EXPECT_EQ(parseJson(info)["parts"].num(), 2);
    EXPECT_EQ(parseJson(info)["triangles"].num(), 24);

    ToolRun const r = tvx(dir, {"query", two, small, "--keep-parts", "--pose-b", "1.55 0.1 0.05", "--type", "all",
                            "--json", "--max-pairs", "100"});
    ASSERT_EQ(r.status, 0) << describe(r);
    Json const q = parseJson(r)["queries"][0];
    ASSERT_TRUE(q["contact"].flag());
    ASSERT_EQ(q["pairs"].items.size(), static_cast<std::size_t>(q["pair_count"].num()));
    for (Json const& p : q["pairs"].items) {
        EXPECT_EQ(p["part_a"].str(), "right");
        EXPECT_GE(p["a"].num(), 0);
        EXPECT_LT(p["a"].num(), 12); // a rank within the part, not the file
    }
}

struct BadRun {
    char const* what;
    std::vector<std::string> args;
    int status;
    std::string errorPiece;
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
    std::vector<BadRun> const cases = {
        {"missing file", {"info", missing}, 2, "tvx: " + missing + ": no such file\n"},
        {"missing second file", {"query", box, missing}, 2, "tvx: " + missing + ": no such file\n"},
        {"a folder", {"info", dir.path()}, 2, "is a directory"},
        {"not a mesh", {"query", garbage, box}, 2, "tvx: " + garbage + ": "},
        {"bad index", {"info", range}, 2, "out-of-range point index"},
        {"NaN", {"sweep", box, nan, "--from", "0 0 0", "--to", "1 0 0"}, 2, "non-finite coordinates"},
        {"no triangles", {"info", points}, 2, "no triangles"},
        {"empty file", {"info", empty}, 2, "empty file"},
        {"short pose", {"query", box, box, "--pose-b", "1 2 3 4 5"}, 2, "--pose-b: expected"},
        {"word in pose", {"query", box, box, "--pose-a", "1 two 3"}, 2, "--pose-a: 'two' is not a finite number"},
        {"pose and matrix", {"query", box, box, "--pose-b", "1 2 3", "--matrix-b", "1 0 0 0 0 1 0 0 0 0 1 0 0 0 0 1"},
         2, "give one"},
        {"scaling matrix", {"query", box, box, "--matrix-b", "2 0 0 0 0 2 0 0 0 0 2 0 0 0 0 1"}, 2,
         "not a rigid transform"},
        {"mirroring matrix", {"query", box, box, "--matrix-b", "-1 0 0 0 0 1 0 0 0 0 1 0 0 0 0 1"}, 2, "mirrors"},
        {"unknown option", {"query", box, box, "--frobnicate"}, 2, "unknown option --frobnicate"},
        {"unknown type", {"query", box, box, "--type", "closest"}, 2, "--type: 'closest'"},
        {"negative tolerance", {"query", box, box, "--tolerance-b", "-0.1"}, 2, "must not be negative"},
        {"one file", {"query", box}, 2, "expected two mesh files"},
        {"two files for info", {"info", box, box}, 2, "expected one mesh file"},
        {"missing value", {"query", box, box, "--pose-b"}, 2, "--pose-b needs a value"},
        {"sweep without poses", {"sweep", box, box, "--to", "1 0 0"}, 2, "--from and --to are required"},
        {"zero steps", {"sweep", box, box, "--from", "0 0 0", "--to", "1 0 0", "--steps", "0"}, 2, "--steps"},
        {"collision type in sweep", {"sweep", box, box, "--from", "0 0 0", "--to", "1 0 0", "--type", "all"}, 2,
         "--type"},
        {"plot into a missing folder",
         {"sweep", box, box, "--from", "3 0 0", "--to", "2 0 0", "--steps", "1", "--plot", dir.file("no/such/p.svg")},
         2, "cannot be written"},
    };
    for (BadRun const& c : cases) {
        SCOPED_TRACE(c.what);
        ToolRun const r = tvx(dir, c.args);
        EXPECT_EQ(r.status, c.status) << describe(r);
        EXPECT_NE(r.err.find(c.errorPiece), std::string::npos) << describe(r);
        // One line, and nothing on stdout that a script could take for an answer.
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << describe(r);
        if (std::string(c.what) != "plot into a missing folder") {
            EXPECT_TRUE(r.out.empty()) << describe(r);
        }
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
    Json const& table = doc["table"];
    ASSERT_EQ(table.items.size(), static_cast<std::size_t>(steps + 1));
    int contacts = 0;
    for (int i = 0; i <= steps; ++i) {
        Json const& row = table[static_cast<std::size_t>(i)];
        double const x = 3.0 - 6.0 * i / steps;
        EXPECT_EQ(row["step"].num(), i);
        EXPECT_NEAR(row["t"].num(), static_cast<double>(i) / steps, 1e-15);
        double const gap = std::fabs(x) - 1.0;
        if (gap <= 1e-9) {
            ++contacts;
            EXPECT_TRUE(row["contact"].flag()) << "step " << i;
        } else {
            EXPECT_FALSE(row["contact"].flag()) << "step " << i;
            EXPECT_NEAR(row["clearance"].num(), gap, 1e-6) << "step " << i;
            EXPECT_TRUE(row["exact"].flag());
        }
        EXPECT_GE(row["microseconds"].num(), 0.0);
    }
    EXPECT_EQ(doc["contact_steps"].num(), contacts);
    EXPECT_EQ(doc["first_contact_step"].num(), 4); // x = 1 touches
    EXPECT_NEAR(doc["min_clearance"].num(), 0.5, 1e-6);

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

TEST(Tool, SweepTurnsAtConstantSpeed)
{
    TempDir dir;
    std::string const box = write(dir, "box.obj", tvxtest::objText(tvxtest::makeBox(0.5, 0.5, 0.5)));
    // B stays 2 away along x and turns half a turn about z; its reach along x
    // is 0.5 (|cos a| + |sin a|) at angle a = t pi.
    int const steps = 8;
    ToolRun const r = tvx(dir, {"sweep", box, box, "--from", "2 0 0 0 0 0", "--to", "2 0 0 0 0 3.141592653589793",
                            "--steps", std::to_string(steps), "--json"});
    ASSERT_EQ(r.status, 0) << describe(r);
    Json const doc = parseJson(r);
    for (int i = 0; i <= steps; ++i) {
        double const a = M_PI * i / steps;
        double const expected = 2.0 - 0.5 - 0.5 * (std::fabs(std::cos(a)) + std::fabs(std::sin(a)));
        EXPECT_NEAR(doc["table"][static_cast<std::size_t>(i)]["clearance"].num(), expected, 2e-6) << "step " << i;
    }

    ToolRun const text = tvx(dir, {"sweep", box, box, "--from", "2 0 0", "--to", "2 0 0 0 0 1", "--steps", "4"});
    ASSERT_EQ(text.status, 0) << describe(text);
    EXPECT_NE(text.out.find("  step        t       clearance  contact        us\n"), std::string::npos) << text.out;
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
