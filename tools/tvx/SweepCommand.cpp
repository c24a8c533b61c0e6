// tvx sweep A B: the clearance along a motion of B, one query per step with
// one analysis kept across steps, so that each query starts from the closest
// pair of the step before.

#include "Bodies.h"
#include "Command.h"
#include "JsonOutput.h"
#include "SvgPlot.h"
#include "ViewScene.h"

#include <tvx/analysis/CtvxAnalysis.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <limits>

namespace tvxcli {

namespace {

CommandText const kText = {
    "sweep",
    "move the second mesh along a motion and follow the clearance",
    "sweep A B --from POSE --to POSE [options]",
    "Moves B from one pose to another and answers a distance query at each of\n"
    "the N + 1 poses t = 0, 1/N, ..., 1. The pose at t has the translation and\n"
    "each of the three angles interpolated linearly, from + t * (to - from): a\n"
    "turn given as 6 radians turns six radians the way it is given, not the\n"
    "shorter way round; a turn about one axis is at constant speed, and several\n"
    "angles changing at once turn about an axis that moves along the way. A pose\n"
    "given as a matrix moves by the angles read from it (each within half a\n"
    "turn). B is placed at the pose of t times its own --pose-b, so --pose-b\n"
    "places B in the moving frame (to turn it about its centre, for instance).\n"
    "One analysis serves every step, so each query tries the closest triangles\n"
    "of the step before first.\n"
    "After the table of steps it reports contact first (the first and the last\n"
    "step in contact), then the smallest clearance over the steps apart.\n",
    "a step gave no answer, or was incomplete",
};

struct Step {
    int index;
    double t;
    QueryOutcome outcome;
};

struct Summary {
    int contacts = 0;
    int firstContact = -1;
    int lastContact = -1;
    // The smallest clearance of the steps not in contact.
    Step const* closestApart = nullptr;
    double totalSeconds = 0.0;
};

Summary summarise(std::vector<Step> const& table)
{
    Summary s;
    for (Step const& step : table) {
        s.totalSeconds += step.outcome.seconds;
        if (step.outcome.contact) {
            ++s.contacts;
            if (s.firstContact < 0)
                s.firstContact = step.index;
            s.lastContact = step.index;
        } else if (step.outcome.hasClearance &&
                   (s.closestApart == nullptr || step.outcome.clearance < s.closestApart->outcome.clearance)) {
            s.closestApart = &step;
        }
    }
    return s;
}

// The lines after the table: contact first, then the smallest clearance
// apart. The text output and the view's facts.
std::vector<std::string> summaryLines(Summary const& s, int steps)
{
    std::vector<std::string> lines;
    std::string const of = " of " + std::to_string(steps + 1) + " steps";
    if (s.contacts == 0)
        lines.push_back("no contact along the motion");
    else if (s.contacts == 1)
        lines.push_back("contact at step " + std::to_string(s.firstContact) + " (1" + of + ")");
    else if (s.lastContact - s.firstContact + 1 == s.contacts)
        lines.push_back("contact at steps " + std::to_string(s.firstContact) + " to " + std::to_string(s.lastContact) +
                        " (" + std::to_string(s.contacts) + of + ")");
    else
        lines.push_back("contact at " + std::to_string(s.contacts) + of + ", the first at step " +
                        std::to_string(s.firstContact) + ", the last at step " + std::to_string(s.lastContact));
    if (s.closestApart != nullptr) {
        char t[32];
        std::snprintf(t, sizeof t, "%.4f", s.closestApart->t);
        lines.push_back("smallest clearance apart " + fmt(s.closestApart->outcome.clearance) + " at step " +
                        std::to_string(s.closestApart->index) + " (t = " + t + ")");
    } else {
        lines.push_back("no step apart");
    }
    return lines;
}

// A and B along the motion: B's placement, the clearance, the closest points
// and the triangles in contact at every step. The sweep's own queries stop
// at the first contact; the view asks a second analysis for all contacts at
// the steps in contact, so that the sweep's answers stay as they are.
ViewPage viewOf(Body const& a, Body const& b, Pose const& placeA, std::vector<Step> const& table,
                std::vector<CqarMat4> const& placements, Summary const& s, int steps,
                CtvxAnalysis::EAnalysisType type)
{
    ViewPage page("sweep", shortName(b) + " moving past " + shortName(a));
    int const start = s.firstContact >= 0 ? s.firstContact : s.closestApart != nullptr ? s.closestApart->index : 0;
    addBodyMeshes(page, a, "A: " + shortName(a), "a", kViewColourA, poseMatrix(placeA));
    std::vector<int> const moving =
        addBodyMeshes(page, b, "B: " + shortName(b), "b", kViewColourB, placements[static_cast<std::size_t>(start)]);

    std::vector<double> t, matrices, closest;
    std::vector<float> clearance;
    std::vector<std::uint8_t> contact;
    double const none = std::numeric_limits<double>::quiet_NaN();
    // Per part of A then of B: where each step's triangles begin, and them.
    std::size_t const partsA = a.polyhedra.size();
    std::vector<std::vector<std::uint32_t>> offsets(partsA + b.polyhedra.size()), ranks(offsets.size());
    boost::shared_ptr<CtvxAnalysis> all = CtvxAnalysis::create();
    setLists(*all, a, b);
    for (Step const& step : table) {
        QueryOutcome const& q = step.outcome;
        CqarMat4 const& m = placements[static_cast<std::size_t>(step.index)];
        t.push_back(step.t);
        clearance.push_back(q.hasClearance ? q.clearance : std::numeric_limits<float>::quiet_NaN());
        contact.push_back(q.contact ? 1 : 0);
        appendMatrix(matrices, m);
        for (int k = 0; k < 3; ++k)
            closest.push_back(q.exact ? q.closestA[k] : none);
        for (int k = 0; k < 3; ++k)
            closest.push_back(q.exact ? q.closestB[k] : none);
        std::vector<TrianglePairInfo> pairs;
        if (q.contact) {
            place(b, m);
            pairs = runQuery(*all, CtvxAnalysis::ALL_COLLISIONS, a, b, std::numeric_limits<std::size_t>::max()).pairs;
        }
        for (int side = 0; side < 2; ++side) {
            std::size_t const parts = side == 0 ? partsA : b.polyhedra.size();
            std::vector<std::vector<std::uint32_t>> const touched = contactTriangles(pairs, side, parts);
            for (std::size_t p = 0; p < parts; ++p) {
                std::size_t const k = side == 0 ? p : partsA + p;
                offsets[k].push_back(static_cast<std::uint32_t>(ranks[k].size()));
                ranks[k].insert(ranks[k].end(), touched[p].begin(), touched[p].end());
            }
        }
    }
    Json contacts = Json::array();
    for (std::size_t k = 0; k < offsets.size(); ++k) {
        offsets[k].push_back(static_cast<std::uint32_t>(ranks[k].size()));
        std::size_t const mesh = k; // the meshes of A, then those of B, in order
        std::size_t const triangles =
            k < partsA ? a.polyhedra[k]->countTriangles() : b.polyhedra[k - partsA]->countTriangles();
        contacts.push_back({{"mesh", mesh},
                            {"offsets", page.addIndices(offsets[k], std::numeric_limits<std::uint32_t>::max())},
                            {"triangles", page.addIndices(ranks[k], triangles)}});
    }
    Json& sw = page.scene()["sweep"];
    sw["moving"] = moving;
    sw["steps"] = table.size();
    sw["start"] = start;
    sw["t"] = page.addDoubles(t);
    sw["clearance"] = page.addFloats(clearance);
    sw["contact"] = page.addBytes(contact);
    sw["matrices"] = page.addDoubles(matrices);
    sw["closest"] = page.addDoubles(closest);
    sw["contacts"] = std::move(contacts);
    page.scene()["closest"] = nullptr;
    Json facts = Json::array({"A: " + shortName(a) + ", " + plural(a.triangles, "triangle") + ", fixed",
                              "B: " + shortName(b) + ", " + plural(b.triangles, "triangle") + ", moving",
                              plural(static_cast<std::size_t>(steps), "step") + ", " + typeTitle(type)});
    for (std::string const& line : summaryLines(s, steps))
        facts.push_back(line);
    page.scene()["facts"] = std::move(facts);
    return page;
}

bool endsInSvg(std::string const& path)
{
    std::string ext = std::filesystem::path(path).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext == ".svg";
}

void writePlot(std::string const& path, std::vector<Step> const& table, Body const& a, Body const& b, int steps,
               CtvxAnalysis::EAnalysisType type)
{
    std::vector<PlotSample> samples;
    for (Step const& s : table)
        if (s.outcome.hasClearance)
            samples.push_back(PlotSample{s.t, s.outcome.clearance, s.outcome.contact});
    if (samples.empty())
        throw QueryError("no step has an answer to plot");
    PlotText text;
    text.title = "Clearance of " + std::filesystem::path(b.path).filename().string() + " moving past " +
                 std::filesystem::path(a.path).filename().string();
    text.xLabel = "position along the motion t (" + plural(static_cast<std::size_t>(steps), "step") + ")";
    text.yLabel = type == CtvxAnalysis::EXACT_DISTANCE ? "clearance" : "clearance (lower bound)";
    writeFile(path, renderClearancePlot(samples, text));
}

class SweepCommand : public Command {
public:
    CommandText const& text() const override { return kText; }

    void addOptions(CLI::App& app) override
    {
        m_meshes.add(app, "the fixed mesh file", "the moving mesh file", " in the moving frame");
        addText(app, "--from", m_from, "pose of the motion at t = 0", "POSE")->required()->group("Motion");
        addText(app, "--to", m_to, "pose of the motion at t = 1", "POSE")->required()->group("Motion");
        addText(app, "--steps", m_steps, "number of steps (default 50, at most 1000000)", "N")->group("Motion");
        addText(app, "--type", m_type, "distance query (default exact)", "exact|estimated");
        addText(app, "--plot", m_plot, "write an SVG plot of the clearance", "FILE.svg")->group("Output");
        addViewOption(app, m_view);
    }

    int run(ToolOptions const& tool) override
    {
        Pose const from = poseOf(m_from);
        Pose const to = poseOf(m_to);
        int const steps = static_cast<int>(wholeOf(m_steps, 50, 1, 1000000));
        Pose const placeA = m_meshes.a.placement();
        Pose const placeB = m_meshes.b.placement();
        double const tolA = m_meshes.a.toleranceValue();
        double const tolB = m_meshes.b.toleranceValue();
        CtvxAnalysis::EAnalysisType type = CtvxAnalysis::EXACT_DISTANCE;
        if (m_type.given() && (!parseType(m_type.value, type) ||
                               (type != CtvxAnalysis::EXACT_DISTANCE && type != CtvxAnalysis::ESTIMATED_DISTANCE)))
            throw UsageError("--type: '" + m_type.value + "' is not one of exact, estimated");
        std::string const plotPath = m_plot.given() ? m_plot.value : std::string();
        if (m_plot.given() && !endsInSvg(plotPath))
            throw UsageError("--plot: '" + plotPath + "' does not end in .svg (the plot is written as SVG)");
        if (m_view.given())
            checkViewPath(m_view.value);
        tvxio::ImportOptions const import = tool.importOptions(m_meshes.keepParts);

        Body const a = loadBody(m_meshes.fileA, import);
        Body const b = loadBody(m_meshes.fileB, import);
        place(a, poseMatrix(placeA));
        a.object->setTolerance(tolA);
        b.object->setTolerance(tolB);
        CqarMat4 const inMovingFrame = poseMatrix(placeB);

        boost::shared_ptr<CtvxAnalysis> analysis = CtvxAnalysis::create();
        setLists(*analysis, a, b);
        std::vector<Step> table;
        table.reserve(static_cast<std::size_t>(steps) + 1);
        std::vector<CqarMat4> placements;
        bool unanswered = false, incomplete = false;
        for (int i = 0; i <= steps; ++i) {
            double const t = static_cast<double>(i) / steps;
            CqarMat4 const placement = poseMatrix(interpolate(from, to, t)) * inMovingFrame;
            place(b, placement);
            if (m_view.given())
                placements.push_back(placement);
            table.push_back(Step{i, t, runQuery(*analysis, type, a, b, 0)});
            unanswered = unanswered || !table.back().outcome.hasClearance;
            incomplete = incomplete || !table.back().outcome.complete;
        }
        Summary const s = summarise(table);
        if (!plotPath.empty())
            writePlot(plotPath, table, a, b, steps, type);
        if (m_view.given())
            writeView(m_view.value, viewOf(a, b, placeA, table, placements, s, steps, type));

        if (tool.json) {
            Json j;
            j["a"] = sideJson(a, placeA, tolA);
            j["b"] = sideJson(b, placeB, tolB);
            j["motion"] = {{"from", poseJson(from)}, {"to", poseJson(to)}, {"steps", steps}};
            j["type"] = typeName(type);
            j["contact"] = s.contacts == 0 ? Json(nullptr)
                                           : Json{{"steps", s.contacts},
                                                  {"first_step", s.firstContact},
                                                  {"last_step", s.lastContact}};
            j["smallest_clearance_apart"] = s.closestApart == nullptr
                                                ? Json(nullptr)
                                                : Json{{"clearance", shortestFloat(s.closestApart->outcome.clearance)},
                                                       {"step", s.closestApart->index},
                                                       {"t", s.closestApart->t}};
            Json rows = Json::array();
            for (Step const& step : table) {
                QueryOutcome const& q = step.outcome;
                rows.push_back({{"step", step.index},
                                {"t", step.t},
                                {"contact", q.contact},
                                {"clearance", q.hasClearance ? Json(shortestFloat(q.clearance)) : Json(nullptr)},
                                {"exact", q.exact},
                                {"query_ms", milliseconds(q.seconds)}});
            }
            j["table"] = std::move(rows);
            j["total_query_ms"] = milliseconds(s.totalSeconds);
            j["plot"] = plotPath.empty() ? Json(nullptr) : Json(plotPath);
            j["view"] = m_view.given() ? Json(m_view.value) : Json(nullptr);
            printJson(j);
        } else {
            printSideText("A", a, tolA);
            printSideText("B", b, tolB);
            std::printf("%6s %8s %15s %8s %10s\n", "step", "t", "clearance", "contact", "ms");
            for (Step const& step : table) {
                QueryOutcome const& q = step.outcome;
                std::string const c = q.contact ? "0" : q.hasClearance ? fmt(q.clearance, 8) : "-";
                std::printf("%6d %8.4f %15s %8s %10.3f\n", step.index, step.t, c.c_str(), q.contact ? "yes" : "no",
                            q.seconds * 1.0e3);
            }
            for (std::string const& line : summaryLines(s, steps))
                std::printf("%s\n", line.c_str());
            std::printf("query time %s in all, %s a step\n", msText(s.totalSeconds).c_str(),
                        msText(s.totalSeconds / (steps + 1)).c_str());
            if (!plotPath.empty())
                std::printf("plot written to %s\n", plotPath.c_str());
            if (m_view.given())
                std::printf("view written to %s\n", m_view.value.c_str());
        }
        // After the answers, which stand for the steps that have one.
        if (incomplete)
            throw QueryError("some steps were incomplete: geometry without an OBB tree was not examined");
        if (unanswered)
            throw QueryError("some steps found no distance");
        return kExitOk;
    }

private:
    MeshPairOptions m_meshes;
    TextOption m_from, m_to, m_steps, m_type, m_plot, m_view;
};

} // namespace

std::unique_ptr<Command> makeSweepCommand()
{
    return std::make_unique<SweepCommand>();
}

} // namespace tvxcli
