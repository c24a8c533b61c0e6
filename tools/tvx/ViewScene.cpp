#include "ViewScene.h"

#include "Cli.h"

#include <tvx/geometry/CtvxPolyhedron.h>

#include <algorithm>
#include <filesystem>

namespace tvxcli {

char const* const kViewColourA = "#3d7fd9";
char const* const kViewColourB = "#2fa35a";

char const* obstacleColour(std::size_t rank)
{
    static char const* const colours[] = {"#3d7fd9", "#7b61c9", "#2a9db3", "#8a93a3"};
    return colours[rank % 4];
}

Json matrixJson(CqarMat4 const& m)
{
    Json j = Json::array();
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            j.push_back(m(r, c));
    return j;
}

void appendMatrix(std::vector<double>& out, CqarMat4 const& m)
{
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            out.push_back(m(r, c));
}

std::vector<int> addBodyMeshes(ViewPage& page, Body const& body, std::string const& label, char const* role,
                               char const* colour, CqarMat4 const& placement)
{
    std::vector<int> ranks;
    Json& meshes = page.scene()["meshes"];
    for (std::size_t p = 0; p < body.polyhedra.size(); ++p) {
        CtvxPolyhedron const& poly = *body.polyhedra[p];
        // The points as the file gave them (a polyhedron reads its points
        // back through the inverse of any points transform).
        std::vector<float> points(3 * static_cast<std::size_t>(poly.countPoints()));
        for (unsigned int i = 0; i < poly.countPoints(); ++i)
            poly.getPoint(i, points[3 * i], points[3 * i + 1], points[3 * i + 2]);
        std::vector<std::uint32_t> corners(3 * static_cast<std::size_t>(poly.countTriangles()));
        for (unsigned int t = 0; t < poly.countTriangles(); ++t)
            poly.getTriangle(t, corners[3 * t], corners[3 * t + 1], corners[3 * t + 2]);
        Json mesh;
        mesh["label"] = label;
        mesh["colour"] = colour;
        mesh["role"] = role;
        mesh["part"] = body.partNames[p];
        mesh["points"] = page.addFloats(points);
        mesh["triangles"] = page.addIndices(corners, poly.countPoints());
        mesh["matrix"] = matrixJson(placement);
        mesh["contact"] = nullptr;
        meshes.push_back(std::move(mesh));
        ranks.push_back(static_cast<int>(meshes.size()) - 1);
    }
    return ranks;
}

std::vector<std::vector<std::uint32_t>> contactTriangles(std::vector<TrianglePairInfo> const& pairs, int side,
                                                         std::size_t parts)
{
    std::vector<std::vector<std::uint32_t>> out(parts);
    for (TrianglePairInfo const& p : pairs) {
        int const part = side == 0 ? p.partIndexA : p.partIndexB;
        int const triangle = side == 0 ? p.triangleA : p.triangleB;
        if (part >= 0 && static_cast<std::size_t>(part) < parts && triangle >= 0)
            out[static_cast<std::size_t>(part)].push_back(static_cast<std::uint32_t>(triangle));
    }
    for (std::vector<std::uint32_t>& ranks : out) {
        std::sort(ranks.begin(), ranks.end());
        ranks.erase(std::unique(ranks.begin(), ranks.end()), ranks.end());
    }
    return out;
}

std::string shortName(Body const& body)
{
    return body.path.empty() ? body.format : std::filesystem::path(body.path).filename().string();
}

void writeView(std::string const& path, ViewPage const& page)
{
    writeFile(path, page.render());
}

} // namespace tvxcli
