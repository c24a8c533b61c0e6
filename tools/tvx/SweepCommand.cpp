// tvx sweep A B: the clearance along a straight motion of B, one query per
// step with one analysis kept across steps, so that each query starts from
// the closest pair of the step before.

#include "Args.h"
#include "Bodies.h"
#include "Cli.h"
#include "JsonWriter.h"
#include "Pose.h"
#include "SvgPlot.h"

#include <tvx/analysis/CtvxAnalysis.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace tvxcli {

namespace {

char const kSweepHelp[] =
    "usage: tvx sweep A B --from POSE --to POSE [--steps N] [options]\n"
    "\n"
    "Moves B from one pose to another and answers a distance query at each of\n"
    "the N + 1 poses t = 0, 1/N, ..., 1. The translation moves in a straight\n"
    "line and the rotation turns at constant speed about one axis (spherical\n"
    "interpolation, the shorter way round). One analysis serves every step, so\n"
    "each query tries the closest triangles of the step before first.\n"
    "Prints a table (step, t, clearance, contact, microseconds).\n"
    "\n"
    "options:\n"
    "  --from \"tx ty tz rx ry rz\"   pose of B at t = 0 (radians, Rz*Ry*Rx)\n"
    "  --to \"tx ty tz rx ry rz\"     pose of B at t = 1\n"
    "  --steps N                    number of steps (default 50, at most 1000000)\n"
    "  --pose-a \"tx ty tz rx ry rz\" placement of A (default: identity)\n"
    "  --tolerance-a T, --tolerance-b T   tolerances (>= 0, default 0)\n"
    "  --type exact|estimated       distance query (default exact)\n"
    "  --plot FILE.svg              write an SVG plot of the clearance\n"
    "  --keep-parts                 keep the meshes of a file as separate parts\n"
    "  --json                       print the table as JSON\n"
    "\n"
    "exit status: 0 answered, 1 a step gave no answer, 2 bad usage or input.\n";

struct Step {
    int index;
    double t;
    QueryOutcome outcome;
};

} // namespace

int runSweep(std::vector<std::string> const& argv)
{
    Args const args(argv, {{"from", true},
                           {"to", true},
                           {"steps", true},
                           {"pose-a", true},
                           {"tolerance-a", true},
                           {"tolerance-b", true},
                           {"type", true},
                           {"plot", true},
                           {"keep-parts", false},
                           {"json", false}});
    if (args.helpAsked()) {
        std::fputs(kSweepHelp, stdout);
        return kExitOk;
    }
    if (args.positional().size() != 2)
        throw UsageError("expected two mesh files, got " + std::to_string(args.positional().size()) + " arguments");
    if (!args.has("from") || !args.has("to"))
        throw UsageError("--from and --to are required");
    RigidMotion const from = poseMotion(parsePose(args.value("from"), "--from"));
    RigidMotion const to = poseMotion(parsePose(args.value("to"), "--to"));
    int const steps = static_cast<int>(args.integer("steps", 50, 1, 1000000));
    CqarMat4 const placeA = args.has("pose-a") ? poseMatrix(parsePose(args.value("pose-a"), "--pose-a")) : CqarMat4();
    double const tolA = args.number("tolerance-a", 0.0);
    double const tolB = args.number("tolerance-b", 0.0);
    if (tolA < 0.0 || tolB < 0.0)
        throw UsageError("tolerances must not be negative");
    CtvxAnalysis::EAnalysisType type = CtvxAnalysis::EXACT_DISTANCE;
    if (args.has("type")) {
        if (!parseType(args.value("type"), type) ||
            (type != CtvxAnalysis::EXACT_DISTANCE && type != CtvxAnalysis::ESTIMATED_DISTANCE))
            throw UsageError("--type: '" + args.value("type") + "' is not one of exact, estimated");
    }
    std::string const plotPath = args.value("plot");
    if (args.has("plot") && plotPath.empty())
        throw UsageError("--plot needs a file name");
    bool const keepParts = args.has("keep-parts");

    Body const a = loadBody(args.positional()[0], keepParts);
    Body const b = loadBody(args.positional()[1], keepParts);
    place(a, placeA);
    a.object->setTolerance(tolA);
    b.object->setTolerance(tolB);

    boost::shared_ptr<CtvxAnalysis> analysis = CtvxAnalysis::create();
    setLists(*analysis, a, b);
    analysis->setAnalysisType(type);

    std::vector<Step> table;
    table.reserve(static_cast<std::size_t>(steps) + 1);
    bool unanswered = false;
    for (int i = 0; i <= steps; ++i) {
        double const t = static_cast<double>(i) / steps;
        place(b, motionMatrix(interpolate(from, to, t)));
        table.push_back(Step{i, t, runQuery(*analysis, type, a, b, 0)});
        if (!table.back().outcome.hasClearance)
            unanswered = true;
    }

    // Summary figures.
    Step const* closest = nullptr;
    int contacts = 0;
    int firstContact = -1;
    double totalMicros = 0.0;
    for (Step const& s : table) {
        totalMicros += s.outcome.microseconds;
        if (s.outcome.contact) {
            ++contacts;
            if (firstContact < 0)
                firstContact = s.index;
        } else if (s.outcome.hasClearance && (closest == nullptr || s.outcome.clearance < closest->outcome.clearance)) {
            closest = &s;
        }
    }

    if (!plotPath.empty()) {
        std::vector<PlotSample> samples;
        for (Step const& s : table)
            if (s.outcome.hasClearance)
                samples.push_back(PlotSample{s.t, s.outcome.clearance, s.outcome.contact});
        if (samples.empty())
            throw QueryError("no step has an answer to plot");
        PlotText text;
        text.title = "Clearance of " + std::filesystem::path(b.path).filename().string() + " moving past " +
                     std::filesystem::path(a.path).filename().string();
        text.xLabel = "position along the motion t (" + std::to_string(steps) + " steps)";
        text.yLabel = type == CtvxAnalysis::EXACT_DISTANCE ? "clearance" : "clearance (lower bound)";
        std::ofstream out(plotPath, std::ios::binary | std::ios::trunc);
        if (!out)
            throw InputError(plotPath + ": cannot be written");
        out << renderClearancePlot(samples, text);
        out.close();
        if (!out)
            throw InputError(plotPath + ": cannot be written");
    }

    if (args.has("json")) {
        JsonWriter j;
        j.beginObject()
            .field("a", a.path)
            .field("b", b.path)
            .field("type", typeName(type))
            .field("steps", steps)
            .key("table")
            .beginArray();
        for (Step const& s : table) {
            j.beginObject().field("step", s.index).field("t", s.t).field("contact", s.outcome.contact).key("clearance");
            if (s.outcome.hasClearance)
                j.value(s.outcome.clearance);
            else
                j.null();
            j.field("exact", s.outcome.exact).field("microseconds", s.outcome.microseconds).endObject();
        }
        j.endArray();
        j.key("min_clearance");
        if (closest != nullptr)
            j.value(closest->outcome.clearance);
        else
            j.null();
        j.field("min_step", closest != nullptr ? closest->index : -1)
            .field("contact_steps", contacts)
            .field("first_contact_step", firstContact)
            .field("total_microseconds", totalMicros);
        if (!plotPath.empty())
            j.field("plot", plotPath);
        j.endObject();
        std::printf("%s\n", j.str().c_str());
    } else {
        std::printf("A: %s  %zu triangles   B: %s  %zu triangles   (trees %.1f ms)\n", a.path.c_str(), a.triangles,
                    b.path.c_str(), b.triangles, (a.buildSeconds + b.buildSeconds) * 1e3);
        std::printf("%6s %8s %15s %8s %9s\n", "step", "t", "clearance", "contact", "us");
        for (Step const& s : table) {
            std::string const c = s.outcome.contact ? "0" : s.outcome.hasClearance ? fmt(s.outcome.clearance, 8) : "-";
            std::printf("%6d %8.4f %15s %8s %9.0f\n", s.index, s.t, c.c_str(), s.outcome.contact ? "yes" : "no",
                        s.outcome.microseconds);
        }
        if (closest != nullptr)
            std::printf("smallest clearance %s at step %d (t = %.4f)\n", fmt(closest->outcome.clearance).c_str(),
                        closest->index, closest->t);
        if (contacts > 0)
            std::printf("contact at %d of %d steps, first at step %d\n", contacts, steps + 1, firstContact);
        else
            std::printf("no contact along the motion\n");
        std::printf("query time %.0f us in all, %.1f us a step\n", totalMicros, totalMicros / (steps + 1));
        if (!plotPath.empty())
            std::printf("plot written to %s\n", plotPath.c_str());
    }
    if (unanswered) {
        std::fprintf(stderr, "tvx: some steps found no distance\n");
        return kExitQueryFailed;
    }
    return kExitOk;
}

} // namespace tvxcli
