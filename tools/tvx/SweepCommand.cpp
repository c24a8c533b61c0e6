// tvx sweep A B: the clearance along a motion of B, one query per step with
// one analysis kept across steps, so that each query starts from the closest
// pair of the step before.

#include "Bodies.h"
#include "Command.h"
#include "JsonOutput.h"
#include "SvgPlot.h"

#include <tvx/analysis/CtvxAnalysis.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>

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
    "a step gave no answer",
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
        bool unanswered = false;
        for (int i = 0; i <= steps; ++i) {
            double const t = static_cast<double>(i) / steps;
            place(b, poseMatrix(interpolate(from, to, t)) * inMovingFrame);
            table.push_back(Step{i, t, runQuery(*analysis, type, a, b, 0)});
            unanswered = unanswered || !table.back().outcome.hasClearance;
        }
        Summary const s = summarise(table);
        if (!plotPath.empty())
            writePlot(plotPath, table, a, b, steps, type);

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
            if (s.contacts == 0)
                std::printf("no contact along the motion\n");
            else if (s.contacts == 1)
                std::printf("contact at step %d (1 of %d steps)\n", s.firstContact, steps + 1);
            else if (s.lastContact - s.firstContact + 1 == s.contacts)
                std::printf("contact at steps %d to %d (%d of %d steps)\n", s.firstContact, s.lastContact, s.contacts,
                            steps + 1);
            else
                std::printf("contact at %d of %d steps, the first at step %d, the last at step %d\n", s.contacts,
                            steps + 1, s.firstContact, s.lastContact);
            if (s.closestApart != nullptr)
                std::printf("smallest clearance apart %s at step %d (t = %.4f)\n",
                            fmt(s.closestApart->outcome.clearance).c_str(), s.closestApart->index, s.closestApart->t);
            else
                std::printf("no step apart\n");
            std::printf("query time %s in all, %s a step\n", msText(s.totalSeconds).c_str(),
                        msText(s.totalSeconds / (steps + 1)).c_str());
            if (!plotPath.empty())
                std::printf("plot written to %s\n", plotPath.c_str());
        }
        // After the answers, which stand for the steps that have one.
        if (unanswered)
            throw QueryError("some steps found no distance");
        return kExitOk;
    }

private:
    MeshPairOptions m_meshes;
    TextOption m_from, m_to, m_steps, m_type, m_plot;
};

} // namespace

std::unique_ptr<Command> makeSweepCommand()
{
    return std::make_unique<SweepCommand>();
}

} // namespace tvxcli
