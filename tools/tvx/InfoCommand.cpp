// tvx info MESH: what a mesh file holds and what its OBB tree costs.

#include "Bodies.h"
#include "Command.h"
#include "JsonOutput.h"

#include <tvx/bvtree/CtvxOBB.h>
#include <tvx/bvtree/CtvxPolyhedronBVTree.h>
#include <tvx/bvtree/CtvxPolyhedronOBBTree.h>
#include <tvx/bvtree/CtvxTreeValidator.h>
#include <tvx/geometry/CtvxPoly.h>

#include <chrono>
#include <cstdio>

namespace tvxcli {

namespace {

CommandText const kText = {
    "info",
    "read a mesh, build its tree, and report its size and soundness",
    "info MESH [options]",
    "Reads MESH, builds its OBB tree and reports: triangles and points (after\n"
    "joining equal positions), what was dropped (points, lines, degenerate\n"
    "triangles), the bounds, the tree's boxes, depth, bytes and bytes per\n"
    "triangle, its scale, the import and build times, and the tree validator's\n"
    "verdict.\n",
    "the tree validator rejected the tree",
};

class InfoCommand : public Command {
public:
    CommandText const& text() const override { return kText; }

    void addOptions(CLI::App& app) override
    {
        app.add_option("MESH", m_path, "the mesh file")->required()->type_name("FILE");
        app.add_flag("--keep-parts", m_keepParts,
                     "keep each mesh of the file as its own polyhedron, in one assembly regrouped into one tree");
    }

    int run(ToolOptions const& tool) override
    {
        Body const body = loadBody(m_path, tool.importOptions(m_keepParts));

        boost::shared_ptr<CtvxPoly> const poly = body.treeOwner();
        CtvxPolyhedronBVTree* bvTree = nullptr;
        CtvxPolyhedronOBBTree const* tree = nullptr;
        if (poly && poly->getBoundingVolumes(bvTree) == 0)
            tree = dynamic_cast<CtvxPolyhedronOBBTree const*>(bvTree);
        if (tree == nullptr)
            throw QueryError(body.path + ": no OBB tree was built");

        CtvxTreeValidator::Report report;
        auto const t0 = std::chrono::steady_clock::now();
        int const valid = CtvxTreeValidator::create()->validate(poly, report);
        double const validateSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();

        long long const boxes = tree->countObbs();
        long long const bytes = boxes * static_cast<long long>(sizeof(CtvxOBB));
        double const perTriangle =
            body.triangles > 0 ? static_cast<double>(bytes) / static_cast<double>(body.triangles) : 0.0;
        std::string const verdict = report.verdict.empty() ? (valid == 0 ? "sound" : "rejected") : report.verdict;

        if (tool.json) {
            Json j;
            j["mesh"] = meshJson(body);
            j["file_vertices"] = body.fileVertices;
            j["dropped_points_and_lines"] = body.droppedPointsAndLines;
            j["dropped_degenerate"] = body.droppedDegenerate;
            j["bounds"] = {{"min", floatTriple(body.lo)}, {"max", floatTriple(body.hi)}};
            j["tree"] = {{"boxes", boxes},
                         {"depth", tree->depth()},
                         {"bytes", bytes},
                         {"bytes_per_triangle", perTriangle},
                         {"scale", shortestFloat(static_cast<float>(tree->scale()))}};
            j["validator"] = {{"sound", valid == 0},
                              {"boxes_checked", report.boxesChecked},
                              {"failures", report.failures},
                              {"shape_errors", report.shapeErrors},
                              {"worst_excess", report.worstExcess},
                              {"verdict", verdict},
                              {"validate_ms", milliseconds(validateSeconds)}};
            printJson(j);
        } else {
            std::printf("file         %s (%s)\n", body.path.c_str(), body.format.c_str());
            if (body.polyhedra.size() > 1 || m_keepParts)
                std::printf("parts        %zu\n", body.polyhedra.size());
            std::printf("triangles    %zu\n", body.triangles);
            std::printf("points       %zu (the file has %s before equal positions are joined)\n", body.points,
                        plural(body.fileVertices, "vertex", "vertices").c_str());
            if (body.droppedPointsAndLines > 0 || body.droppedDegenerate > 0)
                std::printf("dropped      %s, %s\n", plural(body.droppedPointsAndLines, "point or line", "points and lines").c_str(),
                            plural(body.droppedDegenerate, "degenerate triangle").c_str());
            std::printf("bounds       (%s, %s, %s) to (%s, %s, %s)\n", fmt(body.lo[0], 7).c_str(),
                        fmt(body.lo[1], 7).c_str(), fmt(body.lo[2], 7).c_str(), fmt(body.hi[0], 7).c_str(),
                        fmt(body.hi[1], 7).c_str(), fmt(body.hi[2], 7).c_str());
            std::printf("tree boxes   %lld\n", boxes);
            std::printf("tree depth   %d\n", tree->depth());
            std::printf("tree bytes   %lld (%.1f per triangle)\n", bytes, perTriangle);
            std::printf("tree scale   %s\n", fmt(tree->scale()).c_str());
            std::printf("import       %s\n", msText(body.importSeconds).c_str());
            std::printf("tree build   %s\n", msText(body.buildSeconds).c_str());
            std::printf("validator    %s (%s)\n", verdict.c_str(), msText(validateSeconds).c_str());
        }
        return valid == 0 ? kExitOk : kExitQueryFailed;
    }

private:
    std::string m_path;
    bool m_keepParts = false;
};

} // namespace

std::unique_ptr<Command> makeInfoCommand()
{
    return std::make_unique<InfoCommand>();
}

} // namespace tvxcli
