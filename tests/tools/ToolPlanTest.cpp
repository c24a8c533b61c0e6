// tvx plan driven as a user drives it: the path it prints, writes and
// shortens checked against the problem's own geometry, and what it refuses.

#include "MeshFiles.h"
#include "ToolRun.h"

#include <tests/support/Meshes.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace {

using tvxtest::describe;
using tvxtest::Json;
using tvxtest::parseJson;
using tvxtest::TempDir;
using tvxtest::ToolRun;
using tvxtest::tvx;
using tvxtest::write;

double distance(Json const& a, Json const& b)
{
    double d2 = 0.0;
    for (std::size_t k = 0; k < 3; ++k)
        d2 += std::pow(a.at(k).get<double>() - b.at(k).get<double>(), 2);
    return std::sqrt(d2);
}

// A box robot of half size 0.2 from x = -2 to x = 2 in the plane z = 0, past
// a unit box at the origin that blocks the straight line. With --optimize,
// the path is shortened in every mode, here without any shrinking: never
// longer than the path found (the same seed finds the same path), never
// shorter than the straight line, the ends unmoved, and no waypoint within
// the robot's inscribed radius of the obstacle.
TEST(ToolPlan, OptimizeShortensThePathFoundWithoutShrinking)
{
    TempDir dir;
    std::string const box = write(dir, "box.obj", tvxtest::objText(tvxtest::makeBox(0.5, 0.5, 0.5)));
    std::vector<std::string> const problem = {"plan",  "--robot-box", "0.2 0.2 0.2", "--obstacles", box,
                                              "--start", "-2 0 0",     "--goal",      "2 0 0",       "--joint",
                                              "planar",  "--json"};
    ToolRun const plain = tvx(dir, problem);
    std::vector<std::string> withOptimize = problem;
    withOptimize.push_back("--optimize");
    std::string const pathFile = dir.file("path.txt");
    withOptimize.insert(withOptimize.end(), {"--path-out", pathFile});
    ToolRun const optimized = tvx(dir, withOptimize);
    ASSERT_EQ(plain.status, 0) << describe(plain);
    ASSERT_EQ(optimized.status, 0) << describe(optimized);
    Json const p = parseJson(plain), o = parseJson(optimized);
    EXPECT_EQ(o.at("shrink").at("scale_reached").get<double>(), 1.0);
    double const found = p.at("path").at("length").get<double>();
    double const shortened = o.at("path").at("length").get<double>();
    EXPECT_EQ(o.at("path").at("length_before_optimizing").get<double>(), found);
    EXPECT_TRUE(p.at("path").at("length_before_optimizing").is_null());
    EXPECT_LT(shortened, found);
    EXPECT_GE(shortened, 4.0);
    Json const& waypoints = o.at("path").at("waypoints");
    ASSERT_GE(waypoints.size(), 3u); // the straight line is blocked
    EXPECT_EQ(waypoints.front().at("translation"), Json({-2.0, 0.0, 0.0}));
    EXPECT_EQ(waypoints.back().at("translation"), Json({2.0, 0.0, 0.0}));
    double along = 0.0;
    for (std::size_t i = 0; i < waypoints.size(); ++i) {
        // However it is turned, the robot covers the disc of radius 0.2
        // about its centre, which must then stay that far from the box.
        Json const& t = waypoints.at(i).at("translation");
        double const gx = std::max(std::fabs(t.at(0).get<double>()) - 0.5, 0.0);
        double const gy = std::max(std::fabs(t.at(1).get<double>()) - 0.5, 0.0);
        EXPECT_GT(std::hypot(gx, gy), 0.2) << "waypoint " << i << " collides: " << t;
        if (i > 0)
            along += distance(waypoints.at(i - 1).at("translation"), t);
    }
    EXPECT_LE(along, shortened + 1e-9); // the length counts the turns too

    // The file holds the same waypoints, one pose a line.
    std::string const lines = tvxtest::readText(pathFile);
    EXPECT_EQ(static_cast<std::size_t>(std::count(lines.begin(), lines.end(), '\n')), waypoints.size());
    EXPECT_EQ(lines.rfind("-2 0 0 0 0 0\n", 0), 0u) << lines;
}

TEST(ToolPlan, AnswersInJsonAndReportsWhatCannotBeWritten)
{
    TempDir dir;
    // The demo without shrinking fails at once (its ends touch the plate):
    // status 1, and the JSON says why.
    ToolRun const demo = tvx(dir, {"plan", "--demo", "--shrink", "none", "--json"});
    ASSERT_EQ(demo.status, 1) << describe(demo);
    Json const d = parseJson(demo);
    EXPECT_FALSE(d.at("result").at("solved").get<bool>());
    EXPECT_TRUE(d.at("path").is_null());
    EXPECT_TRUE(d.at("start").at("collides").get<bool>());
    EXPECT_EQ(d.at("obstacles").size(), 4u);

    // A path that cannot be written costs status 2 and a message, after the
    // answer.
    std::string const box = write(dir, "box.obj", tvxtest::objText(tvxtest::makeBox(0.5, 0.5, 0.5)));
    ToolRun const full = tvx(dir, {"plan", "--robot-box", "0.2 0.2 0.2", "--obstacles", box, "--start", "-2 0 0",
                                   "--goal", "2 0 0", "--joint", "planar", "--path-out", "/dev/full"});
    EXPECT_EQ(full.status, 2) << describe(full);
    EXPECT_EQ(full.err, "tvx: /dev/full: cannot be written (No space left on device)\n") << describe(full);
    EXPECT_NE(full.out.find("result: solved (0)"), std::string::npos) << describe(full);
}

} // namespace
