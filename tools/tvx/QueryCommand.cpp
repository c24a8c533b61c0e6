// tvx query A B: contact and clearance between two placed meshes.

#include "Bodies.h"
#include "Command.h"
#include "JsonOutput.h"
#include "ViewScene.h"

#include <tvx/analysis/CtvxAnalysis.h>

#include <cstdio>
#include <limits>

namespace tvxcli {

namespace {

CommandText const kText = {
    "query",
    "place two meshes and ask whether they touch and how close they come",
    "query A B [options]",
    "Places meshes A and B and runs the four queries of the library on them (or\n"
    "the one named by --type): first collision, all collisions, exact distance\n"
    "with the two closest points, and estimated distance (a lower bound).\n"
    "The clearance is the distance between the surfaces minus both tolerances;\n"
    "0 means contact.\n",
    "a distance query gave no answer (meshes farther apart than 1e13), or a query\n"
    "was incomplete (geometry without an OBB tree was not examined)",
};

Json outcomeJson(QueryOutcome const& q, bool keepParts)
{
    Json pairs = Json::array();
    for (TrianglePairInfo const& p : q.pairs) {
        Json pair = {{"a", p.triangleA}, {"b", p.triangleB}};
        if (keepParts) {
            pair["part_a"] = p.partA;
            pair["part_b"] = p.partB;
        }
        pairs.push_back(std::move(pair));
    }
    Json j;
    j["type"] = typeName(q.type);
    j["contact"] = q.contact;
    j["pair_count"] = q.pairCount;
    j["pairs"] = std::move(pairs);
    j["clearance"] = q.hasClearance ? Json(shortestFloat(q.clearance)) : Json(nullptr);
    j["exact"] = q.exact;
    if (q.exact) {
        j["closest"] = {{"a", {q.closestA[0], q.closestA[1], q.closestA[2]}},
                        {"b", {q.closestB[0], q.closestB[1], q.closestB[2]}}};
    } else {
        j["closest"] = nullptr;
    }
    j["complete"] = q.complete;
    j["query_ms"] = milliseconds(q.seconds);
    return j;
}

std::string pointText(double const p[3])
{
    return "(" + fmt(p[0], 7) + ", " + fmt(p[1], 7) + ", " + fmt(p[2], 7) + ")";
}

// How the text output and the view's facts sum up one query:
// "contact, 161 triangle pairs", "clearance 0.2779 (exact)".
std::string outcomeSummary(QueryOutcome const& q)
{
    bool const distanceType = q.type == CtvxAnalysis::EXACT_DISTANCE || q.type == CtvxAnalysis::ESTIMATED_DISTANCE;
    if (q.contact) {
        std::string s = "contact";
        if (!distanceType || q.pairCount > 0)
            s += ", " + plural(q.pairCount, "triangle pair");
        return s;
    }
    if (distanceType && q.hasClearance) {
        if (q.type == CtvxAnalysis::EXACT_DISTANCE)
            return "clearance " + fmt(q.clearance) + (q.exact ? " (exact)" : "");
        return "clearance >= " + fmt(q.clearance) + " (lower bound)";
    }
    return distanceType ? "no answer" : "no contact";
}

void printOutcomeText(QueryOutcome const& q, bool keepParts)
{
    std::printf("%-19s%s", typeTitle(q.type), outcomeSummary(q).c_str());
    if (!q.complete)
        std::printf(" (incomplete)");
    std::printf("   [%s]\n", msText(q.seconds).c_str());
    for (TrianglePairInfo const& p : q.pairs) {
        if (keepParts)
            std::printf("    A %s#%d  x  B %s#%d\n", p.partA.c_str(), p.triangleA, p.partB.c_str(), p.triangleB);
        else
            std::printf("    A triangle %d  x  B triangle %d\n", p.triangleA, p.triangleB);
    }
    if (q.pairCount > q.pairs.size())
        std::printf("    ... and %zu more\n", q.pairCount - q.pairs.size());
    if (q.exact)
        std::printf("    closest points  A %s  B %s\n", pointText(q.closestA).c_str(), pointText(q.closestB).c_str());
}

// The two meshes as placed, the triangles in contact in any query, and the
// closest points of the exact distance.
ViewPage viewOf(Body const& a, Body const& b, Pose const& placeA, Pose const& placeB,
                std::vector<QueryOutcome> const& outcomes, std::vector<TrianglePairInfo> const& pairs)
{
    ViewPage page("query", shortName(a) + " and " + shortName(b));
    std::vector<int> const meshesA =
        addBodyMeshes(page, a, "A: " + shortName(a), "a", kViewColourA, poseMatrix(placeA));
    std::vector<int> const meshesB =
        addBodyMeshes(page, b, "B: " + shortName(b), "b", kViewColourB, poseMatrix(placeB));
    Json& meshes = page.scene()["meshes"];
    for (int side = 0; side < 2; ++side) {
        Body const& body = side == 0 ? a : b;
        std::vector<int> const& ranks = side == 0 ? meshesA : meshesB;
        std::vector<std::vector<std::uint32_t>> const contact = contactTriangles(pairs, side, body.polyhedra.size());
        for (std::size_t p = 0; p < ranks.size(); ++p)
            if (!contact[p].empty())
                meshes[static_cast<std::size_t>(ranks[p])]["contact"] =
                    page.addIndices(contact[p], body.polyhedra[p]->countTriangles());
    }
    Json facts = Json::array();
    for (Body const* body : {&a, &b})
        facts.push_back(std::string(body == &a ? "A: " : "B: ") + shortName(*body) + ", " +
                        plural(body->triangles, "triangle"));
    page.scene()["closest"] = nullptr;
    for (QueryOutcome const& q : outcomes) {
        facts.push_back(std::string(typeTitle(q.type)) + ": " + outcomeSummary(q));
        if (q.type == CtvxAnalysis::EXACT_DISTANCE && q.exact)
            page.scene()["closest"] = {{"a", {q.closestA[0], q.closestA[1], q.closestA[2]}},
                                       {"b", {q.closestB[0], q.closestB[1], q.closestB[2]}},
                                       {"clearance", shortestFloat(q.clearance)},
                                       {"exact", true}};
    }
    page.scene()["facts"] = std::move(facts);
    return page;
}

class QueryCommand : public Command {
public:
    CommandText const& text() const override { return kText; }

    void addOptions(CLI::App& app) override
    {
        m_meshes.add(app, "the first mesh file", "the second mesh file");
        addText(app, "--type", m_type, "run this query only", "first|all|exact|estimated");
        addText(app, "--max-pairs", m_maxPairs, "contacting triangle pairs listed (default 5)", "N");
        addViewOption(app, m_view);
    }

    int run(ToolOptions const& tool) override
    {
        Pose const placeA = m_meshes.a.placement();
        Pose const placeB = m_meshes.b.placement();
        double const tolA = m_meshes.a.toleranceValue();
        double const tolB = m_meshes.b.toleranceValue();
        bool const keepParts = m_meshes.keepParts;
        std::vector<CtvxAnalysis::EAnalysisType> types = {CtvxAnalysis::FIRST_COLLISION, CtvxAnalysis::ALL_COLLISIONS,
                                                          CtvxAnalysis::EXACT_DISTANCE,
                                                          CtvxAnalysis::ESTIMATED_DISTANCE};
        if (m_type.given()) {
            CtvxAnalysis::EAnalysisType t;
            if (!parseType(m_type.value, t))
                throw UsageError("--type: '" + m_type.value + "' is not one of first, all, exact, estimated");
            types = {t};
        }
        std::size_t const maxPairs = static_cast<std::size_t>(wholeOf(m_maxPairs, 5, 0, 1000000000L));
        if (m_view.given())
            checkViewPath(m_view.value);
        tvxio::ImportOptions const import = tool.importOptions(keepParts);

        Body const a = loadBody(m_meshes.fileA, import);
        Body const b = loadBody(m_meshes.fileB, import);
        place(a, poseMatrix(placeA));
        place(b, poseMatrix(placeB));
        a.object->setTolerance(tolA);
        b.object->setTolerance(tolB);

        boost::shared_ptr<CtvxAnalysis> analysis = CtvxAnalysis::create();
        setLists(*analysis, a, b);
        std::vector<QueryOutcome> outcomes;
        // The view paints every triangle in contact; the output lists maxPairs.
        std::vector<TrianglePairInfo> viewPairs;
        bool unanswered = false, incomplete = false;
        for (CtvxAnalysis::EAnalysisType t : types) {
            std::size_t const listed = m_view.given() ? std::numeric_limits<std::size_t>::max() : maxPairs;
            outcomes.push_back(runQuery(*analysis, t, a, b, listed));
            std::vector<TrianglePairInfo>& pairs = outcomes.back().pairs;
            if (m_view.given())
                viewPairs.insert(viewPairs.end(), pairs.begin(), pairs.end());
            if (pairs.size() > maxPairs)
                pairs.resize(maxPairs);
            incomplete = incomplete || !outcomes.back().complete;
            if ((t == CtvxAnalysis::EXACT_DISTANCE || t == CtvxAnalysis::ESTIMATED_DISTANCE) &&
                !outcomes.back().hasClearance)
                unanswered = true;
        }

        if (tool.json) {
            Json j;
            j["a"] = sideJson(a, placeA, tolA);
            j["b"] = sideJson(b, placeB, tolB);
            j["queries"] = Json::array();
            for (QueryOutcome const& q : outcomes)
                j["queries"].push_back(outcomeJson(q, keepParts));
            j["view"] = m_view.given() ? Json(m_view.value) : Json(nullptr);
            printJson(j);
        } else {
            printSideText("A", a, tolA);
            printSideText("B", b, tolB);
            for (QueryOutcome const& q : outcomes)
                printOutcomeText(q, keepParts);
        }
        // Written after the answers, which a file that cannot be written
        // costs its message and status, not the answers.
        if (m_view.given()) {
            std::fflush(stdout);
            writeView(m_view.value, viewOf(a, b, placeA, placeB, outcomes, viewPairs));
            if (!tool.json)
                std::printf("view written to %s\n", m_view.value.c_str());
        }
        if (incomplete)
            throw QueryError("a query was incomplete: geometry without an OBB tree was not examined");
        if (unanswered)
            throw QueryError("a distance query found no distance (are the meshes farther apart than 1e13?)");
        return kExitOk;
    }

private:
    MeshPairOptions m_meshes;
    TextOption m_type, m_maxPairs, m_view;
};

} // namespace

std::unique_ptr<Command> makeQueryCommand()
{
    return std::make_unique<QueryCommand>();
}

} // namespace tvxcli
