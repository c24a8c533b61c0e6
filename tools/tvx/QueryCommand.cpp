// tvx query A B: contact and clearance between two placed meshes.

#include "Args.h"
#include "Bodies.h"
#include "Cli.h"
#include "JsonWriter.h"
#include "Pose.h"

#include <tvx/analysis/CtvxAnalysis.h>

#include <cstdio>

namespace tvxcli {

namespace {

char const kQueryHelp[] =
    "usage: tvx query A B [options]\n"
    "\n"
    "Places meshes A and B and runs the four queries of the library on them (or\n"
    "the one named by --type): first collision, all collisions, exact distance\n"
    "with the two closest points, and estimated distance (a lower bound).\n"
    "The clearance is the distance between the surfaces minus both tolerances;\n"
    "0 means contact.\n"
    "\n"
    "options:\n"
    "  --pose-a \"tx ty tz rx ry rz\"  placement of A (default: identity)\n"
    "  --pose-b \"tx ty tz rx ry rz\"  placement of B (default: identity)\n"
    "        angles in radians; the rotation is Rz*Ry*Rx (about x first, then\n"
    "        y, then z, all fixed axes), then the translation; \"tx ty tz\" alone\n"
    "        is a translation\n"
    "  --matrix-a \"16 numbers\"        placement of A as a row-major rigid 4x4\n"
    "  --matrix-b \"16 numbers\"        placement of B as a row-major rigid 4x4\n"
    "  --tolerance-a T, --tolerance-b T   tolerances (>= 0, default 0)\n"
    "  --type first|all|exact|estimated   run one query only\n"
    "  --max-pairs N                  contacting triangle pairs listed (default 5)\n"
    "  --keep-parts                   keep the meshes of a file as separate parts\n"
    "  --json                         print the answers as JSON\n"
    "\n"
    "exit status: 0 answered, 1 a query gave no answer, 2 bad usage or input.\n";

CqarMat4 placementOf(Args const& args, char const* side)
{
    std::string const pose = std::string("pose-") + side;
    std::string const matrix = std::string("matrix-") + side;
    if (args.has(pose) && args.has(matrix))
        throw UsageError("--" + pose + " and --" + matrix + " both place " + side + "; give one");
    if (args.has(matrix))
        return parseRigidMatrix(args.value(matrix), "--" + matrix);
    if (args.has(pose))
        return poseMatrix(parsePose(args.value(pose), "--" + pose));
    return CqarMat4();
}

double toleranceOf(Args const& args, char const* side)
{
    std::string const name = std::string("tolerance-") + side;
    double const t = args.number(name, 0.0);
    if (t < 0.0)
        throw UsageError("--" + name + " must not be negative");
    return t;
}

void writeBodyJson(JsonWriter& j, Body const& body, CqarMat4 const& placement, double tolerance)
{
    j.beginObject()
        .field("file", body.path)
        .field("format", body.format)
        .field("triangles", static_cast<unsigned long long>(body.triangles))
        .field("points", static_cast<unsigned long long>(body.points))
        .field("parts", static_cast<unsigned long long>(body.polyhedra.size()))
        .field("tolerance", tolerance)
        .key("placement");
    double m[16];
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            m[4 * r + c] = placement(r, c);
    j.numbers(m, 16).endObject();
}

void writeOutcomeJson(JsonWriter& j, QueryOutcome const& q, bool keepParts)
{
    j.beginObject().field("type", typeName(q.type)).field("contact", q.contact).field("pair_count", q.pairCount);
    j.key("pairs").beginArray();
    for (TrianglePairInfo const& p : q.pairs) {
        j.beginObject().field("a", p.triangleA).field("b", p.triangleB);
        if (keepParts)
            j.field("part_a", p.partA).field("part_b", p.partB);
        j.endObject();
    }
    j.endArray();
    j.key("clearance");
    if (q.hasClearance)
        j.value(q.clearance);
    else
        j.null();
    j.field("exact", q.exact);
    j.key("closest");
    if (q.exact) {
        j.beginObject().key("a").numbers(q.closestA, 3).key("b").numbers(q.closestB, 3).endObject();
    } else {
        j.null();
    }
    j.field("microseconds", q.microseconds).endObject();
}

std::string pointText(double const p[3])
{
    return "(" + fmt(p[0], 7) + ", " + fmt(p[1], 7) + ", " + fmt(p[2], 7) + ")";
}

void printBodyText(char const* side, Body const& body, double tolerance)
{
    std::printf("%s: %s  %zu triangles, %zu points", side, body.path.c_str(), body.triangles, body.points);
    if (body.polyhedra.size() > 1)
        std::printf(", %zu parts", body.polyhedra.size());
    if (tolerance > 0.0)
        std::printf(", tolerance %s", fmt(tolerance).c_str());
    std::printf("  (tree %.1f ms)\n", body.buildSeconds * 1e3);
}

void printOutcomeText(QueryOutcome const& q, bool keepParts)
{
    std::printf("%-19s", typeTitle(q.type));
    bool const distanceType = q.type == CtvxAnalysis::EXACT_DISTANCE || q.type == CtvxAnalysis::ESTIMATED_DISTANCE;
    if (q.contact) {
        std::printf("contact");
        if (!distanceType || q.pairCount > 0)
            std::printf(", %u triangle pair%s", q.pairCount, q.pairCount == 1 ? "" : "s");
    } else if (distanceType && q.hasClearance) {
        if (q.type == CtvxAnalysis::EXACT_DISTANCE)
            std::printf("clearance %s%s", fmt(q.clearance).c_str(), q.exact ? " (exact)" : "");
        else
            std::printf("clearance >= %s (lower bound)", fmt(q.clearance).c_str());
    } else if (distanceType) {
        std::printf("no answer");
    } else {
        std::printf("no contact");
    }
    std::printf("   [%.0f us]\n", q.microseconds);
    if (!q.pairs.empty()) {
        for (TrianglePairInfo const& p : q.pairs) {
            if (keepParts)
                std::printf("    A %s#%d  x  B %s#%d\n", p.partA.c_str(), p.triangleA, p.partB.c_str(), p.triangleB);
            else
                std::printf("    A triangle %d  x  B triangle %d\n", p.triangleA, p.triangleB);
        }
        if (q.pairCount > q.pairs.size())
            std::printf("    ... and %zu more\n", q.pairCount - q.pairs.size());
    }
    if (q.exact)
        std::printf("    closest points  A %s  B %s\n", pointText(q.closestA).c_str(), pointText(q.closestB).c_str());
}

} // namespace

int runQuery(std::vector<std::string> const& argv)
{
    Args const args(argv, {{"pose-a", true},
                           {"pose-b", true},
                           {"matrix-a", true},
                           {"matrix-b", true},
                           {"tolerance-a", true},
                           {"tolerance-b", true},
                           {"type", true},
                           {"max-pairs", true},
                           {"keep-parts", false},
                           {"json", false}});
    if (args.helpAsked()) {
        std::fputs(kQueryHelp, stdout);
        return kExitOk;
    }
    if (args.positional().size() != 2)
        throw UsageError("expected two mesh files, got " + std::to_string(args.positional().size()) + " arguments");

    // Every option is checked before any file is read.
    CqarMat4 const placeA = placementOf(args, "a");
    CqarMat4 const placeB = placementOf(args, "b");
    double const tolA = toleranceOf(args, "a");
    double const tolB = toleranceOf(args, "b");
    std::vector<CtvxAnalysis::EAnalysisType> types = {CtvxAnalysis::FIRST_COLLISION, CtvxAnalysis::ALL_COLLISIONS,
                                                      CtvxAnalysis::EXACT_DISTANCE,
                                                      CtvxAnalysis::ESTIMATED_DISTANCE};
    if (args.has("type")) {
        CtvxAnalysis::EAnalysisType t;
        if (!parseType(args.value("type"), t))
            throw UsageError("--type: '" + args.value("type") + "' is not one of first, all, exact, estimated");
        types = {t};
    }
    std::size_t const maxPairs = static_cast<std::size_t>(args.integer("max-pairs", 5, 0, 1000000000L));
    bool const keepParts = args.has("keep-parts");
    bool const json = args.has("json");

    Body const a = loadBody(args.positional()[0], keepParts);
    Body const b = loadBody(args.positional()[1], keepParts);
    place(a, placeA);
    place(b, placeB);
    a.object->setTolerance(tolA);
    b.object->setTolerance(tolB);

    boost::shared_ptr<CtvxAnalysis> analysis = CtvxAnalysis::create();
    setLists(*analysis, a, b);
    std::vector<QueryOutcome> outcomes;
    bool unanswered = false;
    for (CtvxAnalysis::EAnalysisType t : types) {
        outcomes.push_back(runQuery(*analysis, t, a, b, maxPairs));
        QueryOutcome const& q = outcomes.back();
        if ((t == CtvxAnalysis::EXACT_DISTANCE || t == CtvxAnalysis::ESTIMATED_DISTANCE) && !q.hasClearance)
            unanswered = true;
    }

    if (json) {
        JsonWriter j;
        j.beginObject().key("a");
        writeBodyJson(j, a, placeA, tolA);
        j.key("b");
        writeBodyJson(j, b, placeB, tolB);
        j.key("queries").beginArray();
        for (QueryOutcome const& q : outcomes)
            writeOutcomeJson(j, q, keepParts);
        j.endArray().endObject();
        std::printf("%s\n", j.str().c_str());
    } else {
        printBodyText("A", a, tolA);
        printBodyText("B", b, tolB);
        for (QueryOutcome const& q : outcomes)
            printOutcomeText(q, keepParts);
    }
    if (unanswered) {
        std::fprintf(stderr, "tvx: a distance query found no distance (are the meshes farther apart than 1e13?)\n");
        return kExitQueryFailed;
    }
    return kExitOk;
}

} // namespace tvxcli
