// The tool's parts that do not touch the library: poses and the sweep's
// motion against rotations written out by hand, byte sizes, the JSON numbers
// and layout read back through nlohmann/json, and the SVG plot.

#include <tests/support/Random.h>

#include <tools/tvx/Cli.h>
#include <tools/tvx/JsonOutput.h>
#include <tools/tvx/Pose.h>
#include <tools/tvx/SvgPlot.h>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

std::array<double, 3> apply(CqarMat4 const& m, double x, double y, double z)
{
    CqarPoint3 const p = m * CqarPoint3(x, y, z);
    return {p[0], p[1], p[2]};
}

void expectPoint(std::array<double, 3> const& got, double x, double y, double z, double tol = 1e-12)
{
    EXPECT_NEAR(got[0], x, tol);
    EXPECT_NEAR(got[1], y, tol);
    EXPECT_NEAR(got[2], z, tol);
}

CqarMat4 matrixOf(char const* text)
{
    return tvxcli::poseMatrix(tvxcli::parsePose(text, "p"));
}

TEST(Pose, RotationTurnsAboutXThenYThenZThenMoves)
{
    double const h = M_PI / 2;
    // A quarter about z alone: x goes to y.
    expectPoint(apply(matrixOf("0 0 0 0 0 1.5707963267948966"), 1, 0, 0), 0, 1, 0);
    // A quarter about x, then about z: y goes to z (about x), and z stays
    // (about z). The other order would give -x.
    tvxcli::Pose p;
    p.angles[0] = h;
    p.angles[2] = h;
    expectPoint(apply(tvxcli::poseMatrix(p), 0, 1, 0), 0, 0, 1);
    // About y then z: x goes to -z, which z leaves alone.
    tvxcli::Pose q;
    q.angles[1] = h;
    q.angles[2] = h;
    expectPoint(apply(tvxcli::poseMatrix(q), 1, 0, 0), 0, 0, -1);
    // Translation after the rotation; commas or spaces.
    expectPoint(apply(matrixOf("1, 2, 3, 0, 0, 1.5707963267948966"), 1, 0, 0), 1, 3, 3);
    expectPoint(apply(matrixOf("-1 2.5 3"), 0, 0, 0), -1, 2.5, 3);
    // The matrix form places exactly as written, row by row.
    CqarMat4 const m = matrixOf("0 -1 0 3  1 0 0 0  0 0 1 0  0 0 0 1");
    expectPoint(apply(m, 1, 0, 0), 3, 1, 0, 0.0);
}

TEST(Pose, AnglesReadBackFromMatricesPlaceAlike)
{
    // Random rotations (ry inside the quarter turn that its sine can tell
    // back) through matrix and angles and back: the angles read from the
    // matrix must rebuild it, and a pose written as 16 numbers must keep the
    // very doubles given.
    tvxtest::Random rng(77);
    for (int i = 0; i < 200; ++i) {
        tvxcli::Pose p;
        for (int k = 0; k < 3; ++k) {
            p.translation[k] = rng.uniform(-10, 10);
            p.angles[k] = rng.uniform(-3.1, 3.1);
        }
        p.angles[1] = rng.uniform(-1.5, 1.5);
        CqarMat4 const m = tvxcli::poseMatrix(p);
        tvxcli::Pose back = tvxcli::poseOfMatrix(m);
        for (int k = 0; k < 3; ++k)
            ASSERT_NEAR(back.angles[k], p.angles[k], 1e-12) << "pose " << i;
        back.hasMatrix = false;
        CqarMat4 const rebuilt = tvxcli::poseMatrix(back);
        std::string text;
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 4; ++c) {
                ASSERT_NEAR(rebuilt(r, c), m(r, c), 1e-14) << "pose " << i;
                char buf[32];
                std::snprintf(buf, sizeof buf, "%.17g ", m(r, c));
                text += buf;
            }
        CqarMat4 const parsed = tvxcli::poseMatrix(tvxcli::parsePose(text, "--matrix-b"));
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 4; ++c)
                ASSERT_EQ(parsed(r, c), m(r, c)) << "pose " << i;
    }
}

TEST(Pose, TheSweepTurnsTheGivenAnglesAtConstantSpeed)
{
    // A turn about z by a, written out: x goes to (cos a, sin a).
    auto expectTurn = [](tvxcli::Pose const& from, tvxcli::Pose const& to, double t, double angle, double const* move) {
        CqarMat4 const m = tvxcli::poseMatrix(tvxcli::interpolate(from, to, t));
        expectPoint(apply(m, 1, 0, 0), move[0] + std::cos(angle), move[1] + std::sin(angle), move[2], 1e-12);
    };
    tvxcli::Pose const from = tvxcli::parsePose("0 0 0 0 0 0", "f");
    tvxcli::Pose const to = tvxcli::parsePose("4 0 -2 0 0 2", "t");
    for (double t : {0.0, 0.25, 0.5, 1.0}) {
        double const move[3] = {4 * t, 0, -2 * t};
        expectTurn(from, to, t, 2 * t, move);
    }
    // More than half a turn goes the way given: from 0.1 to 2 pi - 0.1 rad
    // passes through pi (the shorter way would pass through 0), and seven
    // radians turn seven radians.
    double const still[3] = {0, 0, 0};
    tvxcli::Pose const a = tvxcli::parsePose("0 0 0 0 0 0.1", "a");
    tvxcli::Pose const b = tvxcli::parsePose("0 0 0 0 0 6.183185307179586", "b");
    expectTurn(a, b, 0.5, M_PI, still);
    tvxcli::Pose const c = tvxcli::parsePose("0 0 0 0 0 7", "c");
    for (double t : {0.3, 0.6, 0.9})
        expectTurn(from, c, t, 7 * t, still);
    // The ends are the given poses, a matrix kept as given.
    tvxcli::Pose const m = tvxcli::parsePose("0 -1 0 3  1 0 0 0  0 0 1 0  0 0 0 1", "m");
    CqarMat4 const end = tvxcli::poseMatrix(tvxcli::interpolate(from, m, 1.0));
    for (int r = 0; r < 4; ++r)
        for (int k = 0; k < 4; ++k)
            EXPECT_EQ(end(r, k), m.matrix(r, k));
}

TEST(Pose, MalformedPosesAndMatricesAreRefused)
{
    for (char const* bad : {"", "1 2", "1 2 3 4", "1 2 3 4 5 6 7", "1 x 3", "nan 0 0", "1e999 0 0", "0x 0 0"})
        EXPECT_THROW(tvxcli::parsePose(bad, "--pose-b"), tvxcli::UsageError) << bad;
    try {
        tvxcli::parsePose("1", "--from");
        ADD_FAILURE();
    } catch (tvxcli::UsageError const& e) {
        EXPECT_EQ(std::string(e.what()).rfind("--from: ", 0), 0u) << e.what();
        EXPECT_NE(std::string(e.what()).find("got 1 number in"), std::string::npos) << e.what();
    }
    // A rotation printed with 9 digits is rigid enough; scaled, sheared,
    // mirrored or projective ones are not, in either spelling.
    CqarMat4 const m = tvxcli::poseMatrix(tvxcli::parseMatrixPose(
        "0.707106781 -0.707106781 0 1  0.707106781 0.707106781 0 2  0 0 1 3  0 0 0 1", "--matrix-b"));
    EXPECT_EQ(m(1, 3), 2.0);
    EXPECT_EQ(m(0, 1), -0.707106781);
    for (char const* bad : {"1 0 0 0 0 1 0 0 0 0 1 0 0 0 0", "1.001 0 0 0 0 1 0 0 0 0 1 0 0 0 0 1",
                            "1 0.01 0 0 0 1 0 0 0 0 1 0 0 0 0 1", "1 0 0 0 0 1 0 0 0 0 -1 0 0 0 0 1",
                            "1 0 0 0 0 1 0 0 0 0 1 0 0 0.5 0 1", "1 0 0 0 0 1 0 0 0 0 1 0 0 0 0 2"}) {
        EXPECT_THROW(tvxcli::parseMatrixPose(bad, "--matrix-b"), tvxcli::UsageError) << bad;
        EXPECT_THROW(tvxcli::parsePose(bad, "--to"), tvxcli::UsageError) << bad;
    }
    EXPECT_THROW(tvxcli::parseMatrixPose("1 2 3", "--matrix-a"), tvxcli::UsageError);
}

TEST(Pose, AnglesPastAFullTurnAreWarnedAbout)
{
    // 2 pi itself, printed, is a full turn and no sign of degrees.
    EXPECT_TRUE(tvxcli::angleWarnings(tvxcli::parsePose("0 0 0 6.2831853 -6.2831853 3", "--to"), "--to").empty());
    std::vector<std::string> const w =
        tvxcli::angleWarnings(tvxcli::parsePose("0 0 0 90 0 -6.3", "--to"), "--to");
    ASSERT_EQ(w.size(), 2u);
    EXPECT_EQ(w[0].rfind("--to: rx = 90 ", 0), 0u) << w[0];
    EXPECT_NE(w[0].find("1.57079633"), std::string::npos) << w[0]; // 90 degrees in radians
    EXPECT_EQ(w[1].rfind("--to: rz = -6.3 ", 0), 0u) << w[1];
}

TEST(Output, ByteSizesAndPlurals)
{
    struct Case {
        char const* text;
        std::size_t bytes;
    };
    for (Case const& c : {Case{"512", 512}, Case{"4k", 4096}, Case{"1.5M", 1572864}, Case{"2G", 2147483648ull},
                          Case{"2GiB", 2147483648ull}, Case{"3gb", 3221225472ull}, Case{"1T", 1099511627776ull},
                          Case{"10B", 10}}) {
        std::size_t got = 0;
        EXPECT_TRUE(tvxcli::parseByteSize(c.text, got)) << c.text;
        EXPECT_EQ(got, c.bytes) << c.text;
    }
    for (char const* bad : {"", "0", "-1G", "G", "4X", "4GX", "nan", "1e30G", "0.5"}) {
        std::size_t got = 7;
        EXPECT_FALSE(tvxcli::parseByteSize(bad, got)) << bad;
    }
    EXPECT_EQ(tvxcli::plural(1, "triangle"), "1 triangle");
    EXPECT_EQ(tvxcli::plural(0, "triangle"), "0 triangles");
    EXPECT_EQ(tvxcli::plural(2, "vertex", "vertices"), "2 vertices");
}

TEST(Output, JsonNumbersAndLayoutReadBack)
{
    // Floats print with the fewest digits that read back to the float; times
    // to the microsecond without binary noise; the layout only moves
    // whitespace, whatever the strings hold.
    tvxtest::Random rng(5);
    std::vector<float> floats = {0.1f, 3.4028235e38f, 1e-45f, -2.5f, 0.277904689f, -0.0f};
    for (int i = 0; i < 2000; ++i)
        floats.push_back(static_cast<float>(rng.uniform(-1, 1) * std::pow(10.0, rng.uniform(-30, 30))));
    tvxcli::Json doc;
    doc["floats"] = tvxcli::Json::array();
    for (float f : floats)
        doc["floats"].push_back(tvxcli::shortestFloat(f));
    doc["times"] = {tvxcli::milliseconds(13.540605000000001), tvxcli::milliseconds(1e-9), tvxcli::milliseconds(2.5e-4)};
    doc["text"] = "brackets [ 1,\n 2 ] and \"quotes\" \\ stay";
    doc["nested"] = {{1.5, std::numeric_limits<double>::quiet_NaN()}, {"a", "[3, 4]"}, tvxcli::Json::object()};
    std::string const text = tvxcli::jsonText(doc);

    tvxcli::Json const back = tvxcli::Json::parse(text);
    ASSERT_EQ(back["floats"].size(), floats.size());
    for (std::size_t i = 0; i < floats.size(); ++i) {
        double const d = back["floats"][i].get<double>();
        ASSERT_EQ(static_cast<float>(d), floats[i]) << i;
        // No more digits than a float needs: 9 significant at most.
        char nine[32];
        std::snprintf(nine, sizeof nine, "%.9g", d);
        ASSERT_EQ(std::strtod(nine, nullptr), d) << i;
    }
    EXPECT_TRUE(std::signbit(back["floats"][5].get<double>()));
    EXPECT_NE(text.find("\"floats\": [0.1, 3.4028235e+38, 1e-45, -2.5, 0.2779047, -0.0, "), std::string::npos);
    EXPECT_NE(text.find("\"times\": [13540.605, 0.0, 0.25]"), std::string::npos) << text.substr(0, 400);
    EXPECT_EQ(back["text"], doc["text"]);
    EXPECT_EQ(back["nested"][1], doc["nested"][1]);
    EXPECT_TRUE(back["nested"][0][1].is_null()); // NaN is no JSON number
    EXPECT_EQ(text.back(), '\n');

    tvxcli::Json const pose = tvxcli::poseJson(tvxcli::parsePose("1 2 3 0 0 0.5", "p"));
    EXPECT_EQ(pose["translation"], tvxcli::Json({1.0, 2.0, 3.0}));
    EXPECT_EQ(pose["angles"], tvxcli::Json({0.0, 0.0, 0.5}));
    ASSERT_EQ(pose["matrix"].size(), 16u);
    EXPECT_EQ(pose["matrix"][1].get<double>(), -std::sin(0.5));
}

TEST(Plot, TicksAndDrawing)
{
    std::vector<double> const t = tvxcli::niceTicks(0.0, 2.57, 6);
    ASSERT_FALSE(t.empty());
    EXPECT_EQ(t.front(), 0.0);
    EXPECT_NEAR(t[1] - t[0], 0.5, 1e-12);
    EXPECT_LE(t.back(), 2.57);
    EXPECT_GT(t.back() + 0.5, 2.57);
    std::vector<double> const u = tvxcli::niceTicks(-0.013, 0.021, 5);
    for (std::size_t i = 1; i < u.size(); ++i)
        EXPECT_NEAR(u[i] - u[i - 1], 0.005, 1e-15);
    EXPECT_TRUE(tvxcli::niceTicks(1.0, 1.0, 5).empty());

    // Contact splits the curve in two; titles are escaped.
    std::vector<tvxcli::PlotSample> samples;
    for (int i = 0; i <= 10; ++i)
        samples.push_back({i / 10.0, std::fabs(i - 5.0) - 1.5, std::fabs(i - 5.0) <= 1.5});
    tvxcli::PlotText const text{"A <&> B", "t", "clearance"};
    std::string const svg = tvxcli::renderClearancePlot(samples, text);
    EXPECT_NE(svg.find("A &lt;&amp;&gt; B"), std::string::npos);
    EXPECT_EQ(svg.find("A <&> B"), std::string::npos);
    std::size_t polylines = 0;
    for (std::size_t at = svg.find("<polyline"); at != std::string::npos; at = svg.find("<polyline", at + 1))
        ++polylines;
    EXPECT_EQ(polylines, 2u);
    EXPECT_NE(svg.find(">min 0.5<"), std::string::npos);
    // Every contact sample and nothing else is shaded.
    std::size_t bands = 0;
    for (std::size_t at = svg.find("<rect x="); at != std::string::npos; at = svg.find("<rect x=", at + 1))
        ++bands;
    EXPECT_EQ(bands, 3u + 1u); // three contact steps and the frame
    EXPECT_THROW(tvxcli::renderClearancePlot({}, text), std::invalid_argument);
    // A single sample in contact still draws.
    EXPECT_NE(tvxcli::renderClearancePlot({{0.0, 0.0, true}}, text).find("</svg>"), std::string::npos);
}

} // namespace
