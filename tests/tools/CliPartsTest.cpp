// The tool's parts that do not touch the library: option parsing, poses and
// their interpolation, the JSON writer and the SVG plot.

#include "JsonReader.h"

#include <tests/support/Random.h>

#include <tools/tvx/Args.h>
#include <tools/tvx/Cli.h>
#include <tools/tvx/JsonWriter.h>
#include <tools/tvx/Pose.h>
#include <tools/tvx/SvgPlot.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

namespace {

using tvxcli::JsonWriter;

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

TEST(CliPose, RotationTurnsAboutXThenYThenZThenMoves)
{
    double const h = M_PI / 2;
    // A quarter about z alone: x goes to y.
    expectPoint(apply(tvxcli::poseMatrix(tvxcli::parsePose("0 0 0 0 0 1.5707963267948966", "p")), 1, 0, 0), 0, 1, 0);
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
    // Translation after the rotation.
    expectPoint(apply(tvxcli::poseMatrix(tvxcli::parsePose("1, 2, 3, 0, 0, 1.5707963267948966", "p")), 1, 0, 0), 1, 3,
                3);
    expectPoint(apply(tvxcli::poseMatrix(tvxcli::parsePose("-1 2.5 3", "p")), 0, 0, 0), -1, 2.5, 3);
}

TEST(CliPose, QuaternionFormAndInterpolation)
{
    tvxtest::Random rng(77);
    for (int i = 0; i < 200; ++i) {
        tvxcli::Pose p;
        for (int k = 0; k < 3; ++k) {
            p.translation[k] = rng.uniform(-10, 10);
            p.angles[k] = rng.uniform(-7, 7);
        }
        CqarMat4 const a = tvxcli::poseMatrix(p);
        CqarMat4 const b = tvxcli::motionMatrix(tvxcli::poseMotion(p));
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 4; ++c)
                ASSERT_NEAR(a(r, c), b(r, c), 1e-14) << "pose " << i;
    }
    // Constant speed about one axis: halfway from 0 to 2 rad about z is 1 rad.
    tvxcli::RigidMotion const from = tvxcli::poseMotion(tvxcli::parsePose("0 0 0 0 0 0", "f"));
    tvxcli::RigidMotion const to = tvxcli::poseMotion(tvxcli::parsePose("4 0 -2 0 0 2", "t"));
    CqarMat4 const mid = tvxcli::motionMatrix(tvxcli::interpolate(from, to, 0.5));
    expectPoint(apply(mid, 1, 0, 0), 2 + std::cos(1.0), std::sin(1.0), -1);
    expectPoint(apply(tvxcli::motionMatrix(tvxcli::interpolate(from, to, 0.25)), 1, 0, 0), 1 + std::cos(0.5),
                std::sin(0.5), -0.5);
    // The ends are the poses themselves.
    expectPoint(apply(tvxcli::motionMatrix(tvxcli::interpolate(from, to, 1.0)), 1, 0, 0), 4 + std::cos(2.0),
                std::sin(2.0), -2);
    // The shorter way round: from +0.1 to -0.1 rad (given as 2 pi - 0.1)
    // passes through 0, not through pi.
    tvxcli::RigidMotion const a = tvxcli::poseMotion(tvxcli::parsePose("0 0 0 0 0 0.1", "a"));
    tvxcli::RigidMotion const b = tvxcli::poseMotion(tvxcli::parsePose("0 0 0 0 0 6.183185307179586", "b"));
    expectPoint(apply(tvxcli::motionMatrix(tvxcli::interpolate(a, b, 0.5)), 1, 0, 0), 1, 0, 0, 1e-9);
}

TEST(CliPose, MalformedPosesAndMatricesAreRefused)
{
    for (char const* bad : {"", "1 2", "1 2 3 4", "1 2 3 4 5 6 7", "1 x 3", "nan 0 0", "1e999 0 0", "0x 0 0"})
        EXPECT_THROW(tvxcli::parsePose(bad, "--pose-b"), tvxcli::UsageError) << bad;
    try {
        tvxcli::parsePose("1 2 3 4", "--from");
        ADD_FAILURE();
    } catch (tvxcli::UsageError const& e) {
        EXPECT_EQ(std::string(e.what()).rfind("--from: ", 0), 0u) << e.what();
    }
    // A rotation printed with 9 digits is rigid enough; scaled, sheared,
    // mirrored or projective ones are not.
    CqarMat4 const m = tvxcli::parseRigidMatrix(
        "0.707106781 -0.707106781 0 1  0.707106781 0.707106781 0 2  0 0 1 3  0 0 0 1", "--matrix-b");
    EXPECT_EQ(m(1, 3), 2.0);
    EXPECT_EQ(m(0, 1), -0.707106781);
    for (char const* bad : {"1 0 0 0 0 1 0 0 0 0 1 0 0 0 0", "1.001 0 0 0 0 1 0 0 0 0 1 0 0 0 0 1",
                            "1 0.01 0 0 0 1 0 0 0 0 1 0 0 0 0 1", "1 0 0 0 0 1 0 0 0 0 -1 0 0 0 0 1",
                            "1 0 0 0 0 1 0 0 0 0 1 0 0 0.5 0 1", "1 0 0 0 0 1 0 0 0 0 1 0 0 0 0 2"})
        EXPECT_THROW(tvxcli::parseRigidMatrix(bad, "--matrix-b"), tvxcli::UsageError) << bad;
}

TEST(CliArgs, OptionsValuesAndPositionals)
{
    std::vector<tvxcli::OptionSpec> const optionTable = {{"steps", true}, {"json", false}, {"pose-b", true}};
    tvxcli::Args const a({"a.obj", "--steps=7", "--pose-b", "-1 0 0", "-5", "--json", "--", "--not-an-option"},
                         optionTable);
    EXPECT_EQ(a.positional(), (std::vector<std::string>{"a.obj", "-5", "--not-an-option"}));
    EXPECT_EQ(a.integer("steps", 0, 1, 100), 7);
    EXPECT_EQ(a.value("pose-b"), "-1 0 0");
    EXPECT_TRUE(a.has("json"));
    EXPECT_FALSE(a.helpAsked());
    EXPECT_EQ(a.number("missing", 2.5), 2.5);
    EXPECT_THROW(a.integer("steps", 0, 10, 100), tvxcli::UsageError);
    EXPECT_TRUE(tvxcli::Args({"-h"}, optionTable).helpAsked());

    EXPECT_THROW(tvxcli::Args({"--bogus"}, optionTable), tvxcli::UsageError);
    EXPECT_THROW(tvxcli::Args({"--steps"}, optionTable), tvxcli::UsageError);
    EXPECT_THROW(tvxcli::Args({"--json=yes"}, optionTable), tvxcli::UsageError);
    EXPECT_THROW(tvxcli::Args({"--steps", "1", "--steps", "2"}, optionTable), tvxcli::UsageError);
    EXPECT_THROW(tvxcli::Args({"--steps", "1.5"}, optionTable).integer("steps", 0, 0, 9), tvxcli::UsageError);
    EXPECT_THROW(tvxcli::Args({"--steps", "99999999999999999999"}, optionTable).integer("steps", 0, 0, 9),
                 tvxcli::UsageError);
    EXPECT_THROW(tvxcli::Args({"--steps", "inf"}, optionTable).number("steps", 0), tvxcli::UsageError);
}

TEST(CliJson, DocumentsReadBackExactly)
{
    tvxtest::Random rng(5);
    std::vector<double> doubles = {0.1, -0.0, 1e-310, 1.7976931348623157e308, 123456789012345678.0, 1.0 / 3.0};
    std::vector<float> floats = {0.1f, 3.4028235e38f, 1e-45f, -2.5f};
    for (int i = 0; i < 500; ++i) {
        doubles.push_back(rng.uniform(-1, 1) * std::pow(10.0, rng.uniform(-30, 30)));
        floats.push_back(rng.uniformf(-1000, 1000));
    }
    JsonWriter j;
    j.beginObject().field("text", std::string("quote \" backslash \\ tab \t newline \n bell \x07 end"));
    j.key("doubles").beginArray();
    for (double d : doubles)
        j.value(d);
    j.endArray().key("floats").beginArray();
    for (float f : floats)
        j.value(f);
    j.endArray();
    double const three[3] = {1.5, std::numeric_limits<double>::quiet_NaN(), -2};
    j.key("inline").numbers(three, 3);
    j.key("nan").value(std::numeric_limits<double>::quiet_NaN());
    j.key("empty").beginObject().endObject();
    j.key("nested").beginArray().beginArray().endArray().value(true).null().value(-42).endArray();
    j.endObject();

    tvxtest::Json const doc = tvxtest::JsonParser::parse(j.str());
    EXPECT_EQ(doc["text"].str(), "quote \" backslash \\ tab \t newline \n bell \x07 end");
    ASSERT_EQ(doc["doubles"].items.size(), doubles.size());
    for (std::size_t i = 0; i < doubles.size(); ++i)
        EXPECT_EQ(doc["doubles"][i].num(), doubles[i]) << i;
    EXPECT_TRUE(std::signbit(doc["doubles"][1].num()));
    for (std::size_t i = 0; i < floats.size(); ++i)
        EXPECT_EQ(static_cast<float>(doc["floats"][i].num()), floats[i]) << i;
    EXPECT_EQ(doc["inline"][0].num(), 1.5);
    EXPECT_TRUE(doc["inline"][1].isNull());
    EXPECT_TRUE(doc["nan"].isNull());
    EXPECT_TRUE(doc["empty"].fields.empty());
    EXPECT_EQ(doc["nested"][3].num(), -42);
    EXPECT_EQ(JsonWriter::shortest(0.1), "0.1");
}

TEST(CliJson, MisuseIsCaughtRatherThanWritten)
{
    EXPECT_THROW(JsonWriter().beginObject().value(1), std::logic_error);      // value without a key
    EXPECT_THROW(JsonWriter().beginArray().key("k"), std::logic_error);       // key in an array
    EXPECT_THROW(JsonWriter().beginArray().endObject(), std::logic_error);    // wrong closer
    EXPECT_THROW(JsonWriter().beginObject().key("k").endObject(), std::logic_error); // dangling key
    EXPECT_THROW(JsonWriter().value(1).value(2), std::logic_error);           // two documents
    EXPECT_THROW(JsonWriter().beginObject().str(), std::logic_error);         // not closed
    EXPECT_THROW(JsonWriter().str(), std::logic_error);                       // nothing written
}

TEST(CliPlot, TicksAndDrawing)
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
