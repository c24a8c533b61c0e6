// The pages of `tvx query|sweep|plan --view` read back as a browser reads
// them: the scene JSON and the base64, zlib-packed arrays taken out of the
// HTML and decoded here, the meshes compared with the files read by the
// importer in-process, the triangles in contact with an all-pairs brute
// force in double, the clearances, closest points and poses with the tool's
// own --json of the same run. What the browser draws from them is checked
// end to end by scripts/check-view.sh.

#include "MeshFiles.h"
#include "ToolRun.h"

#include <tests/support/Meshes.h>
#include <tests/support/ReferenceGeometry.h>

#include <tools/import/MeshImport.h>
#include <tools/tvx/Pose.h>
#include <tools/tvx/ViewPage.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <set>

namespace {

using tvxtest::describe;
using tvxtest::Json;
using tvxtest::parseJson;
using tvxtest::TempDir;
using tvxtest::ToolRun;
using tvxtest::tvx;
using tvxtest::write;

std::string decodeBase64(std::string const& text)
{
    std::string out;
    unsigned bits = 0, count = 0;
    for (char c : text) {
        char const* at = std::strchr("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/", c);
        if (c == '=' || c == '\0' || at == nullptr)
            continue;
        bits = bits << 6 | static_cast<unsigned>(at - "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/");
        count += 6;
        if (count >= 8) {
            count -= 8;
            out += static_cast<char>((bits >> count) & 255u);
        }
    }
    return out;
}

struct Page {
    std::string html;
    Json scene;
    std::string arrays; // inflated

    // Array `handle` of the scene, of the given stored type, as numbers.
    std::vector<double> numbers(Json const& handle) const
    {
        Json const& a = scene.at("arrays").at(handle.get<std::size_t>());
        std::string const type = a.at("type");
        std::size_t const count = a.at("count"), offset = a.at("offset");
        std::size_t const size = type == "f64" ? 8 : type == "u8" ? 1 : type == "u16" ? 2 : 4;
        EXPECT_EQ(offset % size, 0u) << type;
        EXPECT_LE(offset + count * size, arrays.size());
        std::vector<double> out;
        char const* p = arrays.data() + offset;
        for (std::size_t i = 0; i < count; ++i, p += size) {
            if (type == "f32" || type == "f64") {
                float f;
                double d;
                std::memcpy(type == "f32" ? static_cast<void*>(&f) : static_cast<void*>(&d), p, size);
                out.push_back(type == "f32" ? static_cast<double>(f) : d);
            } else {
                std::uint32_t v = 0;
                std::memcpy(&v, p, size); // little-endian, as the browser reads it
                out.push_back(v);
            }
        }
        return out;
    }
    std::string type(Json const& handle) const { return scene.at("arrays").at(handle.get<std::size_t>()).at("type"); }
};

std::string between(std::string const& html, std::string const& open)
{
    std::size_t const from = html.find(open);
    EXPECT_NE(from, std::string::npos) << open;
    std::size_t const to = html.find("</script>", from);
    return from == std::string::npos ? std::string() : html.substr(from + open.size(), to - from - open.size());
}

Page readPage(std::string const& path)
{
    Page p;
    p.html = tvxtest::readText(path);
    p.scene = Json::parse(between(p.html, "<script type=\"application/json\" id=\"tvx-scene\">"));
    std::string const packed = decodeBase64(between(p.html, "<script type=\"application/octet-stream\" id=\"tvx-arrays\">"));
    std::string reason;
    EXPECT_EQ(tvxio::gunzip(packed.data(), packed.size(), std::size_t(1) << 30, p.arrays, reason), 0) << reason;
    EXPECT_EQ(p.arrays.size(), p.scene.at("bytes").get<std::size_t>());
    return p;
}

// Opened from disk the page loads nothing: no address of another host
// stands where a page or a script would load or fetch it.
void expectSelfContained(std::string const& html)
{
    for (std::size_t at = html.find("://"); at != std::string::npos; at = html.find("://", at + 3)) {
        std::string const before = html.substr(at < 24 ? 0 : at - 24, at < 24 ? at : 24);
        for (char const* loader : {"src=", "href=", "import(", "from ", "fetch(", "url(", "@import"})
            EXPECT_EQ(before.find(loader), std::string::npos) << html.substr(at < 60 ? 0 : at - 60, 120);
    }
    EXPECT_NE(html.find("Permission is hereby granted"), std::string::npos) << "three.js's licence notice";
}

// The file as the importer reads it, and the page's mesh, point for point.
void expectMeshOfFile(Page const& page, Json const& mesh, std::string const& file)
{
    tvxio::ImportedMesh m;
    std::string error;
    ASSERT_EQ(tvxio::importMesh(file, {}, m, error), 0) << error;
    std::vector<double> const points = page.numbers(mesh.at("points"));
    std::vector<double> const corners = page.numbers(mesh.at("triangles"));
    ASSERT_EQ(points.size(), m.parts.at(0).points.size());
    ASSERT_EQ(corners.size(), m.parts[0].triangles.size());
    for (std::size_t i = 0; i < points.size(); ++i)
        ASSERT_EQ(points[i], static_cast<double>(m.parts[0].points[i])) << i;
    for (std::size_t i = 0; i < corners.size(); ++i)
        ASSERT_EQ(corners[i], m.parts[0].triangles[i]) << i;
    // The smallest unsigned type that holds every point rank.
    std::size_t const n = m.parts[0].countPoints();
    EXPECT_EQ(page.type(mesh.at("triangles")), n <= 256 ? "u8" : n <= 65536 ? "u16" : "u32");
}

std::vector<tvxtest::Tri> placedTriangles(tvxtest::Mesh const& mesh, std::vector<double> const& m)
{
    std::vector<tvxtest::Tri> out;
    for (auto const& t : mesh.triangles) {
        tvxtest::Tri tri;
        for (std::size_t k = 0; k < 3; ++k) {
            // Through float, as the file holds the points.
            double p[3];
            for (int c = 0; c < 3; ++c)
                p[c] = static_cast<float>(mesh.points[t[k]][static_cast<std::size_t>(c)]);
            tri[k] = tvxtest::Vec3(m[0] * p[0] + m[1] * p[1] + m[2] * p[2] + m[3],
                                   m[4] * p[0] + m[5] * p[1] + m[6] * p[2] + m[7],
                                   m[8] * p[0] + m[9] * p[1] + m[10] * p[2] + m[11]);
        }
        out.push_back(tri);
    }
    return out;
}

// The triangles of each side that cross one of the other side, by brute force.
std::array<std::set<double>, 2> crossing(std::vector<tvxtest::Tri> const& a, std::vector<tvxtest::Tri> const& b)
{
    std::array<std::set<double>, 2> out;
    for (std::size_t i = 0; i < a.size(); ++i)
        for (std::size_t j = 0; j < b.size(); ++j)
            if (tvxtest::trianglesIntersect(a[i], b[j])) {
                out[0].insert(static_cast<double>(i));
                out[1].insert(static_cast<double>(j));
            }
    return out;
}

std::set<double> asSet(std::vector<double> const& v)
{
    return std::set<double>(v.begin(), v.end());
}

std::vector<double> const kIdentity = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

class ToolView : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!tvxcli::viewAvailable()) {
            // Built without three.js: --view says how to get it, and fails.
            ToolRun const r = tvx(dir, {"plan", "--demo", "--view", dir.file("v.html")});
            EXPECT_EQ(r.status, 2) << describe(r);
            EXPECT_NE(r.err.find("scripts/fetch-three.sh"), std::string::npos) << describe(r);
            GTEST_SKIP() << "built without three.js (scripts/fetch-three.sh)";
        }
    }
    TempDir dir;
};

TEST_F(ToolView, QueryPageHoldsTheMeshesTheContactsAndTheClosestPoints)
{
    tvxtest::Mesh const sphere = tvxtest::makeIcosphere(3, 1.0); // 642 points: ranks in 16 bits
    tvxtest::Mesh const box = tvxtest::makeBox(0.5, 0.5, 0.5);   // 8 points: in 8 bits
    std::string const a = write(dir, "sphere.ply", tvxtest::plyBinaryBytes(sphere));
    std::string const b = write(dir, "box.obj", tvxtest::objText(box));
    std::string const view = dir.file("q.html");
    for (char const* pose : {"0.9 0.3 0.2 0.3 0.2 0.1", "2.5 0.4 -0.3 0.3 -0.2 1.1"}) {
        SCOPED_TRACE(pose);
        ToolRun const r = tvx(dir, {"query", a, b, "--pose-b", pose, "--view", view, "--json", "--max-pairs", "1"});
        ASSERT_EQ(r.status, 0) << describe(r);
        Json const doc = parseJson(r);
        EXPECT_EQ(doc.at("view"), view);
        Page const page = readPage(view);
        expectSelfContained(page.html);
        Json const& meshes = page.scene.at("meshes");
        ASSERT_EQ(meshes.size(), 2u);
        expectMeshOfFile(page, meshes[0], a);
        expectMeshOfFile(page, meshes[1], b);
        EXPECT_EQ(meshes[0].at("matrix").get<std::vector<double>>(), kIdentity);
        std::vector<double> const placeB = meshes[1].at("matrix").get<std::vector<double>>();
        EXPECT_EQ(placeB, doc.at("b").at("pose").at("matrix").get<std::vector<double>>());

        // Every triangle in contact, though the output lists one pair.
        std::array<std::set<double>, 2> const ref = crossing(placedTriangles(sphere, kIdentity), placedTriangles(box, placeB));
        Json const& exact = doc.at("queries").at(2);
        if (doc.at("queries").at(1).at("contact").get<bool>()) {
            EXPECT_GT(ref[0].size(), 1u);
            EXPECT_EQ(asSet(page.numbers(meshes[0].at("contact"))), ref[0]);
            EXPECT_EQ(asSet(page.numbers(meshes[1].at("contact"))), ref[1]);
            EXPECT_TRUE(page.scene.at("closest").is_null());
        } else {
            EXPECT_TRUE(ref[0].empty());
            EXPECT_TRUE(meshes[0].at("contact").is_null() && meshes[1].at("contact").is_null());
            Json const& closest = page.scene.at("closest");
            EXPECT_EQ(closest.at("a"), exact.at("closest").at("a"));
            EXPECT_EQ(closest.at("b"), exact.at("closest").at("b"));
            EXPECT_EQ(closest.at("clearance"), exact.at("clearance"));
        }
    }
}

TEST_F(ToolView, SweepPageFollowsEveryStep)
{
    tvxtest::Mesh const sphere = tvxtest::makeIcosphere(2, 1.0);
    tvxtest::Mesh const box = tvxtest::makeBox(0.5, 0.5, 0.5);
    std::string const a = write(dir, "sphere.off", tvxtest::offText(sphere));
    std::string const b = write(dir, "box.ply", tvxtest::plyAsciiText(box));
    std::string const view = dir.file("s.HTM");
    int const steps = 12;
    ToolRun const r = tvx(dir, {"sweep", a, b, "--from", "3 0.1 0", "--to", "-3 0.1 0 0 0 0.5", "--steps",
                                std::to_string(steps), "--view", view, "--json"});
    ASSERT_EQ(r.status, 0) << describe(r);
    Json const doc = parseJson(r);
    Page const page = readPage(view);
    Json const& sw = page.scene.at("sweep");
    ASSERT_EQ(sw.at("steps").get<int>(), steps + 1);
    EXPECT_EQ(sw.at("start"), doc.at("contact").at("first_step"));
    std::vector<double> const t = page.numbers(sw.at("t")), clearance = page.numbers(sw.at("clearance")),
                              contact = page.numbers(sw.at("contact")), matrices = page.numbers(sw.at("matrices")),
                              closest = page.numbers(sw.at("closest"));
    ASSERT_EQ(matrices.size(), 16u * static_cast<std::size_t>(steps + 1));
    ASSERT_EQ(sw.at("contacts").size(), 2u);
    std::vector<double> offsets[2], ranks[2];
    for (std::size_t side = 0; side < 2; ++side) {
        EXPECT_EQ(sw.at("contacts")[side].at("mesh").get<std::size_t>(), side);
        offsets[side] = page.numbers(sw.at("contacts")[side].at("offsets"));
        ranks[side] = page.numbers(sw.at("contacts")[side].at("triangles"));
        ASSERT_EQ(offsets[side].size(), static_cast<std::size_t>(steps + 2));
    }
    int contacts = 0;
    for (std::size_t i = 0; i <= static_cast<std::size_t>(steps); ++i) {
        SCOPED_TRACE(i);
        Json const& row = doc.at("table").at(i);
        EXPECT_EQ(t[i], row.at("t").get<double>());
        EXPECT_EQ(contact[i] != 0, row.at("contact").get<bool>());
        EXPECT_EQ(static_cast<float>(clearance[i]), static_cast<float>(row.at("clearance").get<double>()));
        // B moves on the line from (3, 0.1, 0) to (-3, 0.1, 0), turning about z.
        std::vector<double> const m(matrices.begin() + 16 * static_cast<long>(i), matrices.begin() + 16 * static_cast<long>(i + 1));
        double const angle = 0.5 * t[i];
        EXPECT_NEAR(m[3], 3.0 - 6.0 * t[i], 1e-12);
        EXPECT_NEAR(m[7], 0.1, 1e-12);
        EXPECT_NEAR(m[0], std::cos(angle), 1e-12);
        EXPECT_NEAR(m[4], std::sin(angle), 1e-12);
        EXPECT_EQ(m[10], 1.0);
        std::array<std::set<double>, 2> const ref = crossing(placedTriangles(sphere, kIdentity), placedTriangles(box, m));
        for (std::size_t side = 0; side < 2; ++side)
            EXPECT_EQ(std::set<double>(ranks[side].begin() + static_cast<long>(offsets[side][i]),
                                       ranks[side].begin() + static_cast<long>(offsets[side][i + 1])),
                      ref[side]);
        contacts += contact[i] != 0 ? 1 : 0;
        if (contact[i] == 0) {
            // The closest points of the step, the clearance apart.
            double d2 = 0.0;
            for (std::size_t k = 0; k < 3; ++k)
                d2 += std::pow(closest[6 * i + k] - closest[6 * i + 3 + k], 2);
            EXPECT_NEAR(std::sqrt(d2), clearance[i], 2e-6 * (1.0 + clearance[i]));
        } else {
            EXPECT_TRUE(std::isnan(closest[6 * i]));
        }
    }
    EXPECT_GT(contacts, 0);
    EXPECT_LT(contacts, steps + 1);
}

TEST_F(ToolView, PlanPageShowsTheRobotAtTheWaypointsAndTheScaleItWasPlannedAt)
{
    std::string const view = dir.file("p.html");
    ToolRun const r = tvx(dir, {"plan", "--demo", "--optimize", "--view", view, "--json"});
    ASSERT_EQ(r.status, 0) << describe(r);
    Json const doc = parseJson(r);
    Page const page = readPage(view);
    Json const& plan = page.scene.at("plan");
    EXPECT_TRUE(plan.at("path").get<bool>());
    EXPECT_EQ(plan.at("scale"), doc.at("shrink").at("scale_reached"));
    EXPECT_LT(plan.at("scale").get<double>(), 1.0);
    std::vector<double> const poses = page.numbers(plan.at("poses"));
    Json const& waypoints = doc.at("path").at("waypoints");
    ASSERT_EQ(poses.size(), 16 * waypoints.size());
    for (std::size_t i = 0; i < waypoints.size(); ++i)
        EXPECT_EQ(std::vector<double>(poses.begin() + 16 * static_cast<long>(i), poses.begin() + 16 * static_cast<long>(i + 1)),
                  waypoints[i].at("matrix").get<std::vector<double>>());
    // Four obstacle boxes, then the peg of half sizes 0.5 x 0.2 x 0.2.
    Json const& meshes = page.scene.at("meshes");
    ASSERT_EQ(meshes.size(), 5u);
    EXPECT_EQ(plan.at("robot"), Json::array({4}));
    std::vector<double> const peg = page.numbers(meshes[4].at("points"));
    ASSERT_EQ(peg.size(), 24u);
    for (std::size_t i = 0; i < peg.size(); ++i)
        EXPECT_EQ(std::fabs(peg[i]), static_cast<double>(static_cast<float>(i % 3 == 0 ? 0.5 : 0.2))) << i;
}

TEST_F(ToolView, AnUnwritablePageCostsStatusTwoAfterTheAnswers)
{
    std::string const box = write(dir, "box.obj", tvxtest::objText(tvxtest::makeBox(0.5, 0.5, 0.5)));
    ToolRun const r = tvx(dir, {"query", box, box, "--pose-b", "3 0 0", "--view", "/dev/full"});
    EXPECT_EQ(r.status, 2) << describe(r);
    EXPECT_NE(r.out.find("exact distance     clearance 2 (exact)"), std::string::npos) << describe(r);
    EXPECT_EQ(r.err, "tvx: /dev/full: cannot be written (No space left on device)\n");
}

} // namespace
