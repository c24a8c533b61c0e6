// tvx info MESH: what a mesh file holds and what its OBB tree costs.

#include "Args.h"
#include "Bodies.h"
#include "Cli.h"
#include "JsonWriter.h"

#include <tvx/bvtree/CtvxOBB.h>
#include <tvx/bvtree/CtvxPolyhedronBVTree.h>
#include <tvx/bvtree/CtvxPolyhedronOBBTree.h>
#include <tvx/bvtree/CtvxTreeValidator.h>
#include <tvx/geometry/CtvxPoly.h>

#include <chrono>
#include <cstdio>

namespace tvxcli {

namespace {

char const kInfoHelp[] =
    "usage: tvx info MESH [--keep-parts] [--json]\n"
    "\n"
    "Reads MESH, builds its OBB tree and reports: triangles and points (after\n"
    "joining equal positions), what was dropped (points, lines, degenerate\n"
    "triangles), the tree's boxes, depth, bytes and bytes per triangle, its\n"
    "scale, the import and build times, and the tree validator's verdict.\n"
    "\n"
    "options:\n"
    "  --keep-parts  keep each mesh of the file as its own polyhedron, in one\n"
    "                assembly regrouped into one tree\n"
    "  --json        print the report as JSON\n"
    "\n"
    "exit status: 0 sound tree, 1 the validator rejected the tree, 2 bad usage or input.\n";

} // namespace

int runInfo(std::vector<std::string> const& argv)
{
    Args const args(argv, {{"keep-parts", false}, {"json", false}});
    if (args.helpAsked()) {
        std::fputs(kInfoHelp, stdout);
        return kExitOk;
    }
    if (args.positional().size() != 1)
        throw UsageError("expected one mesh file, got " + std::to_string(args.positional().size()) + " arguments");

    Body const body = loadBody(args.positional()[0], args.has("keep-parts"));

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
    double const perTriangle = body.triangles > 0 ? static_cast<double>(bytes) / static_cast<double>(body.triangles) : 0.0;

    if (args.has("json")) {
        JsonWriter j;
        j.beginObject()
            .field("file", body.path)
            .field("format", body.format)
            .field("parts", static_cast<unsigned long long>(body.polyhedra.size()))
            .field("triangles", static_cast<unsigned long long>(body.triangles))
            .field("points", static_cast<unsigned long long>(body.points))
            .field("file_vertices", static_cast<unsigned long long>(body.fileVertices))
            .field("dropped_points_and_lines", static_cast<unsigned long long>(body.droppedPointsAndLines))
            .field("dropped_degenerate", static_cast<unsigned long long>(body.droppedDegenerate))
            .key("bounds")
            .beginObject()
            .key("min")
            .numbers(body.lo, 3)
            .key("max")
            .numbers(body.hi, 3)
            .endObject()
            .field("tree_boxes", boxes)
            .field("tree_depth", tree->depth())
            .field("tree_bytes", bytes)
            .field("tree_bytes_per_triangle", perTriangle)
            .field("tree_scale", tree->scale())
            .field("import_seconds", body.importSeconds)
            .field("build_seconds", body.buildSeconds)
            .field("validate_seconds", validateSeconds)
            .key("validator")
            .beginObject()
            .field("sound", valid == 0)
            .field("boxes_checked", report.boxesChecked)
            .field("failures", report.failures)
            .field("shape_errors", report.shapeErrors)
            .field("worst_excess", report.worstExcess)
            .field("verdict", report.verdict)
            .endObject()
            .endObject();
        std::printf("%s\n", j.str().c_str());
    } else {
        std::printf("file         %s (%s)\n", body.path.c_str(), body.format.c_str());
        if (body.polyhedra.size() > 1 || args.has("keep-parts"))
            std::printf("parts        %zu\n", body.polyhedra.size());
        std::printf("triangles    %zu\n", body.triangles);
        std::printf("points       %zu (the file has %zu vertices before equal positions are joined)\n",
                    body.points, body.fileVertices);
        if (body.droppedPointsAndLines > 0 || body.droppedDegenerate > 0)
            std::printf("dropped      %zu points and lines, %zu degenerate triangles\n", body.droppedPointsAndLines,
                        body.droppedDegenerate);
        std::printf("bounds       (%s, %s, %s) to (%s, %s, %s)\n", fmt(body.lo[0], 7).c_str(),
                    fmt(body.lo[1], 7).c_str(), fmt(body.lo[2], 7).c_str(), fmt(body.hi[0], 7).c_str(),
                    fmt(body.hi[1], 7).c_str(), fmt(body.hi[2], 7).c_str());
        std::printf("tree boxes   %lld\n", boxes);
        std::printf("tree depth   %d\n", tree->depth());
        std::printf("tree bytes   %lld (%.1f per triangle)\n", bytes, perTriangle);
        std::printf("tree scale   %s\n", fmt(tree->scale()).c_str());
        std::printf("import       %.1f ms\n", body.importSeconds * 1e3);
        std::printf("tree build   %.1f ms\n", body.buildSeconds * 1e3);
        std::printf("validator    %s (%.1f ms)\n", report.verdict.empty() ? (valid == 0 ? "sound" : "rejected") : report.verdict.c_str(),
                    validateSeconds * 1e3);
    }
    return valid == 0 ? kExitOk : kExitQueryFailed;
}

} // namespace tvxcli
