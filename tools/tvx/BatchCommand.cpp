// tvx batch A B --poses FILE: one query type at many poses of B, on every
// core, through the batch engine.

#include "Bodies.h"
#include "Command.h"
#include "JsonOutput.h"
#include "ProgressBar.h"

#include <batch/CtvxBatchBody.h>
#include <batch/CtvxBatchQuery.h>

#include <tvx/geometry/CtvxPolyhedron.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <unistd.h>

namespace tvxcli {

namespace {

CommandText const kText = {
    "batch",
    "answer one query at many poses of the second mesh, on every core",
    "batch A B --poses FILE [options]",
    "Runs one query between meshes A and B at every pose of B in FILE, on a pool\n"
    "of threads, and writes one row per pose in input order. Each pose is answered\n"
    "as 'tvx query' answers it, whatever the thread count.\n"
    "\n"
    "Poses, one a line (blank lines and lines starting with # are skipped):\n"
    "  CSV: tx,ty,tz,rx,ry,rz (as --pose-b reads them; spaces also separate), or\n"
    "       the 12 numbers of a row-major 3x4 rigid matrix; a header line first\n"
    "       is allowed\n"
    "  JSON Lines: [tx, ty, tz, rx, ry, rz], or [12 or 16 numbers] of a row-major\n"
    "       rigid matrix, or {\"pose\": [...]} / {\"matrix\": [...]} of the same\n"
    "  (the form is told by the first character of the first pose line)\n"
    "B is placed at each pose times its own --pose-b (identity by default).\n"
    "\n"
    "Rows: index, contact, clearance (0 in contact for the distance types, none\n"
    "for the contact types), exact, the closest points on A and on B (when exact),\n"
    "the number of triangle pairs in contact, and whether the query examined every\n"
    "pair (complete); numbers as --json prints them.\n"
    "CSV writes nan where JSON Lines writes null. --json writes JSON Lines. A\n"
    "progress bar is drawn on standard error when it is a terminal.\n",
    "a distance query found no distance at some pose, or a query was incomplete",
};

struct PoseSource {
    std::string name;
    std::size_t line = 0;
};

[[noreturn]] void badLine(PoseSource const& src, std::string const& why)
{
    throw InputError(src.name + ":" + std::to_string(src.line) + ": " + why);
}

// The numbers of a JSON Lines pose: an array of numbers, alone or as the
// value of "pose" or "matrix" in an object. Returns whether it was "pose".
bool jsonNumbers(std::string const& text, PoseSource const& src, std::vector<double>& out)
{
    Json line;
    try {
        line = Json::parse(text);
    } catch (Json::parse_error const& e) {
        badLine(src, std::string("not JSON (") + e.what() + ")");
    }
    bool asPose = false;
    Json const* numbers = &line;
    if (line.is_object()) {
        if (line.size() != 1 || !(line.contains("pose") || line.contains("matrix")))
            badLine(src, "expected [numbers], {\"pose\": [...]} or {\"matrix\": [...]}");
        asPose = line.contains("pose");
        numbers = &line.begin().value();
    }
    if (!numbers->is_array())
        badLine(src, "expected [numbers], {\"pose\": [...]} or {\"matrix\": [...]}");
    for (Json const& item : *numbers) {
        if (!item.is_number() || !std::isfinite(item.get<double>()))
            badLine(src, "'" + item.dump() + "' is not a finite number");
        out.push_back(item.get<double>());
    }
    return asPose;
}

// Reads every pose of B as a row-major 4x4, each times inFrame.
std::vector<double> readPoses(std::string const& path, CqarMat4 const& inFrame)
{
    std::ifstream file;
    std::istream* in = &std::cin;
    if (path != "-") {
        file.open(path);
        if (!file)
            throw InputError(path + ": cannot open the poses");
        in = &file;
    }
    PoseSource src{path == "-" ? "<stdin>" : path, 0};
    std::vector<double> poses;
    std::string text;
    int form = 0; // 0 unknown, 1 CSV, 2 JSON Lines
    bool firstPoseLine = true;
    while (std::getline(*in, text)) {
        ++src.line;
        std::size_t const start = text.find_first_not_of(" \t\r");
        if (start == std::string::npos || text[start] == '#')
            continue;
        if (form == 0)
            form = text[start] == '[' || text[start] == '{' ? 2 : 1;
        std::vector<double> v;
        bool asPose = false;
        if (form == 2) {
            asPose = jsonNumbers(text, src, v);
        } else {
            std::vector<std::string> const parts = splitList(text);
            double x;
            if (firstPoseLine && !parts.empty() && !parseNumber(parts[0], x)) {
                firstPoseLine = false; // a header
                continue;
            }
            for (std::string const& p : parts) {
                if (!parseNumber(p, x))
                    badLine(src, "'" + p + "' is not a finite number");
                v.push_back(x);
            }
        }
        firstPoseLine = false;
        CqarMat4 m;
        if (v.size() == 6) {
            Pose p;
            for (std::size_t k = 0; k < 3; ++k) {
                p.translation[k] = v[k];
                p.angles[k] = v[k + 3];
            }
            m = poseMatrix(p);
        } else if ((v.size() == 12 || v.size() == 16) && !asPose) {
            double rows[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
            std::copy(v.begin(), v.end(), rows);
            if (!CtvxBatchBody::isRigid(rows))
                badLine(src, "not a rigid placement (rotation orthonormal within 1e-6 with determinant +1" +
                                 std::string(v.size() == 16 ? ", bottom row 0 0 0 1)" : ")"));
            for (int r = 0; r < 4; ++r)
                for (int c = 0; c < 4; ++c)
                    m(r, c) = rows[4 * r + c];
        } else {
            badLine(src, "expected 6 numbers tx ty tz rx ry rz or 12 of a 3x4 matrix, got " +
                             std::to_string(v.size()));
        }
        CqarMat4 const placed = m * inFrame;
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 4; ++c)
                poses.push_back(placed(r, c));
    }
    return poses;
}

// A number of a CSV row as the JSON prints it; nan where JSON has null.
std::string csvNumber(double v)
{
    return std::isfinite(v) ? Json(v).dump() : std::string("nan");
}

std::string row(bool jsonl, std::size_t index, CtvxBatchResult const& r, bool distanceType)
{
    bool const hasClearance = distanceType && r.status == CtvxBatchResult::ANSWERED;
    double const clearance = !hasClearance ? std::nan("") : r.contact ? 0.0 : shortestFloat(static_cast<float>(r.clearance));
    if (jsonl) {
        Json j;
        j["index"] = index;
        j["contact"] = r.contact;
        j["clearance"] = hasClearance ? Json(clearance) : Json(nullptr);
        j["exact"] = r.exact;
        j["closest"] = r.exact ? Json{{"a", {r.closestA[0], r.closestA[1], r.closestA[2]}},
                                      {"b", {r.closestB[0], r.closestB[1], r.closestB[2]}}}
                               : Json(nullptr);
        j["pair_count"] = r.pairCount;
        j["complete"] = r.status != CtvxBatchResult::INCOMPLETE;
        return j.dump() + "\n";
    }
    std::string line = std::to_string(index) + "," + (r.contact ? "1" : "0") + "," + csvNumber(clearance) + "," +
                       (r.exact ? "1" : "0");
    for (double const* p : {r.closestA, r.closestB})
        for (int k = 0; k < 3; ++k)
            line += "," + csvNumber(p[k]);
    return line + "," + std::to_string(r.pairCount) + (r.status == CtvxBatchResult::INCOMPLETE ? ",0\n" : ",1\n");
}

bool endsWith(std::string const& s, std::string const& tail)
{
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

class BatchCommand : public Command {
public:
    CommandText const& text() const override { return kText; }

    void addOptions(CLI::App& app) override
    {
        m_meshes.add(app, "the fixed mesh file", "the mesh placed at each pose", " in the frame of each pose", false);
        addText(app, "--poses", m_poses, "the poses of B (- reads standard input)", "FILE")->required();
        addText(app, "--type", m_type, "the query (default exact)", "first|all|exact|estimated");
        addText(app, "--threads", m_threads, "worker threads (default: one per core)", "K");
        addText(app, "--out", m_out, "where the rows go (default: standard output)", "FILE")->group("Output");
        addText(app, "--format", m_format,
                "of the rows (default: jsonl with --json or when --out ends in .jsonl or .ndjson, else csv)",
                "csv|jsonl")
            ->group("Output");
    }

    int run(ToolOptions const& tool) override
    {
        CtvxAnalysis::EAnalysisType type = CtvxAnalysis::EXACT_DISTANCE;
        if (m_type.given() && !parseType(m_type.value, type))
            throw UsageError("--type: '" + m_type.value + "' is not one of first, all, exact, estimated");
        unsigned int const threads = static_cast<unsigned int>(wholeOf(m_threads, 0, 1, 4096));
        std::string const outPath = m_out.given() ? m_out.value : "-";
        bool const jsonByName = endsWith(outPath, ".jsonl") || endsWith(outPath, ".ndjson");
        std::string const format = m_format.given() ? m_format.value : tool.json || jsonByName ? "jsonl" : "csv";
        if (format != "csv" && format != "jsonl")
            throw UsageError("--format: '" + format + "' is not csv or jsonl");
        if (tool.json && format != "jsonl")
            throw UsageError("--json writes JSON Lines, not --format " + format);
        Pose const placeA = m_meshes.a.placement();
        Pose const inFrameB = m_meshes.b.placement();
        double const tolA = m_meshes.a.toleranceValue();
        double const tolB = m_meshes.b.toleranceValue();
        tvxio::ImportOptions const import = tool.importOptions(false);

        std::vector<double> const poses = readPoses(m_poses.value, poseMatrix(inFrameB));
        std::size_t const n = poses.size() / 16;
        // The trees are built here, once, with the tool's progress bar; the
        // batch's workers adopt them.
        Body const a = loadBody(m_meshes.fileA, import);
        Body const b = loadBody(m_meshes.fileB, import);
        boost::shared_ptr<CtvxBatchBody> bodyA = CtvxBatchBody::create();
        boost::shared_ptr<CtvxBatchBody> bodyB = CtvxBatchBody::create();
        bodyA->addPart(a.polyhedra.front()->polyData(), CqarMat4(), tolA);
        bodyB->addPart(b.polyhedra.front()->polyData(), CqarMat4(), tolB);
        boost::shared_ptr<CtvxBatchQuery> query = CtvxBatchQuery::create(bodyA, bodyB);
        query->analysisType(type);
        query->threads(threads);
        query->placementA(poseMatrix(placeA));

        bool const bar = ::isatty(2) != 0 && n > 0;
        ProgressBar progress("poses", static_cast<unsigned int>(std::min<std::size_t>(n + 1, 0xffffffffu)), bar);
        std::size_t shown = 0;
        query->progress([&](std::size_t done, std::size_t) {
            for (; shown < done; ++shown)
                progress.didBuildNode(0);
            return true;
        });
        std::vector<CtvxBatchResult> results(n);
        int const rc = query->run(poses.data(), n, results.data());
        progress.finish();
        if (rc != 0)
            throw QueryError(query->error());

        std::FILE* out = stdout;
        if (outPath != "-") {
            out = std::fopen(outPath.c_str(), "w");
            if (!out)
                throw InputError(outPath + ": cannot be written (" + std::strerror(errno) + ")");
        }
        bool const jsonl = format == "jsonl";
        bool const distanceType = type == CtvxAnalysis::EXACT_DISTANCE || type == CtvxAnalysis::ESTIMATED_DISTANCE;
        if (!jsonl)
            std::fputs("index,contact,clearance,exact,closest_a_x,closest_a_y,closest_a_z,closest_b_x,closest_b_y,"
                       "closest_b_z,pair_count,complete\n",
                       out);
        std::size_t unanswered = 0, incomplete = 0;
        for (std::size_t i = 0; i < n; ++i) {
            std::fputs(row(jsonl, i, results[i], distanceType).c_str(), out);
            unanswered += results[i].status == CtvxBatchResult::NO_ANSWER;
            incomplete += results[i].status == CtvxBatchResult::INCOMPLETE;
        }
        // A full disk shows at the latest when the file is closed.
        bool written = std::ferror(out) == 0;
        int error = written ? 0 : errno;
        if (out != stdout && std::fclose(out) != 0 && written) {
            written = false;
            error = errno;
        }
        // Standard output is checked by the tool, once, for every command.
        if (!written && out != stdout)
            throw InputError(outPath + ": cannot be written (" + std::strerror(error) + ")");
        if (incomplete > 0)
            throw QueryError("the query was incomplete at " + std::to_string(incomplete) + " of " +
                             plural(n, "pose") + ": geometry without an OBB tree was not examined");
        if (unanswered > 0)
            throw QueryError("a distance query found no distance at " + std::to_string(unanswered) + " of " +
                             plural(n, "pose"));
        return kExitOk;
    }

private:
    MeshPairOptions m_meshes;
    TextOption m_poses, m_type, m_threads, m_out, m_format;
};

} // namespace

std::unique_ptr<Command> makeBatchCommand()
{
    return std::make_unique<BatchCommand>();
}

} // namespace tvxcli
