// tvx batch A B --poses FILE: one query type at many poses of B, on every
// core, through the batch engine.

#include "Args.h"
#include "Bodies.h"
#include "Cli.h"
#include "JsonWriter.h"
#include "Pose.h"
#include "ProgressBar.h"

#include <batch/CtvxBatchBody.h>
#include <batch/CtvxBatchQuery.h>

#include <tvx/geometry/CtvxPolyhedron.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <unistd.h>

namespace tvxcli {

namespace {

char const kBatchHelp[] =
    "usage: tvx batch A B --poses FILE [options]\n"
    "\n"
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
    "\n"
    "options:\n"
    "  --poses FILE                   the poses of B (- reads standard input)\n"
    "  --type first|all|exact|estimated   the query (default exact)\n"
    "  --threads K                    worker threads (default: one per core)\n"
    "  --out FILE                     where the rows go (default: standard output)\n"
    "  --format csv|jsonl             of the rows (default: jsonl when --out ends\n"
    "                                 in .jsonl or .ndjson, else csv)\n"
    "  --pose-a \"tx ty tz rx ry rz\", --matrix-a \"16 numbers\"   placement of A\n"
    "  --tolerance-a T, --tolerance-b T   tolerances (>= 0, default 0)\n"
    "\n"
    "Rows: index, contact, clearance (0 in contact for the distance types, empty\n"
    "for the contact types), exact, the closest points on A and on B (when exact)\n"
    "and the number of triangle pairs in contact. CSV writes nan where JSON writes\n"
    "null. A progress bar is drawn on standard error when it is a terminal.\n"
    "\n"
    "exit status: 0 answered, 1 a distance query found no distance at some pose,\n"
    "2 bad usage or input.\n";

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
    std::size_t open = text.find('[');
    std::size_t const close = text.rfind(']');
    if (open == std::string::npos || close == std::string::npos || close < open)
        badLine(src, "expected an array of numbers");
    std::string head = text.substr(0, open);
    std::string tail = text.substr(close + 1);
    bool asPose = false;
    auto const blank = [](std::string const& s) {
        for (char c : s)
            if (!std::isspace(static_cast<unsigned char>(c)))
                return false;
        return true;
    };
    if (!blank(head) || !blank(tail)) {
        // {"pose": [...]} or {"matrix": [...]}
        std::string key;
        std::size_t const q1 = head.find('"'), q2 = q1 == std::string::npos ? q1 : head.find('"', q1 + 1);
        if (q2 != std::string::npos)
            key = head.substr(q1 + 1, q2 - q1 - 1);
        std::string const brace = head.substr(0, q1 == std::string::npos ? 0 : q1);
        std::string const colon = q2 == std::string::npos ? "" : head.substr(q2 + 1);
        bool const shaped = brace.find('{') != std::string::npos && blank(brace.substr(brace.find('{') + 1)) &&
                            colon.find(':') != std::string::npos && blank(colon.substr(colon.find(':') + 1)) &&
                            tail.find('}') != std::string::npos && blank(tail.substr(tail.find('}') + 1)) &&
                            blank(tail.substr(0, tail.find('}')));
        if (!shaped || (key != "pose" && key != "matrix"))
            badLine(src, "expected [numbers], {\"pose\": [...]} or {\"matrix\": [...]}");
        asPose = key == "pose";
    }
    std::string const inner = text.substr(open + 1, close - open - 1);
    std::string item;
    std::stringstream ss(inner);
    while (std::getline(ss, item, ',')) {
        double v;
        std::size_t a = item.find_first_not_of(" \t\r"), b = item.find_last_not_of(" \t\r");
        if (a == std::string::npos || !parseNumber(item.substr(a, b - a + 1), v))
            badLine(src, "'" + item + "' is not a finite number");
        out.push_back(v);
    }
    return asPose;
}

// Reads every pose of B as a row-major 4x4.
std::vector<double> readPoses(std::string const& path)
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
        double m[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
        if (v.size() == 6) {
            Pose p;
            for (int k = 0; k < 3; ++k) {
                p.translation[k] = v[static_cast<std::size_t>(k)];
                p.angles[k] = v[static_cast<std::size_t>(k) + 3];
            }
            CqarMat4 const pm = poseMatrix(p);
            for (int r = 0; r < 4; ++r)
                for (int c = 0; c < 4; ++c)
                    m[4 * r + c] = pm(r, c);
        } else if ((v.size() == 12 || v.size() == 16) && !asPose) {
            for (std::size_t k = 0; k < v.size(); ++k)
                m[k] = v[k];
            if (!CtvxBatchBody::isRigid(m))
                badLine(src, "not a rigid placement (rotation orthonormal within 1e-6 with determinant +1" +
                                 std::string(v.size() == 16 ? ", bottom row 0 0 0 1)" : ")"));
        } else {
            badLine(src, "expected 6 numbers tx ty tz rx ry rz or 12 of a 3x4 matrix, got " +
                             std::to_string(v.size()));
        }
        poses.insert(poses.end(), m, m + 16);
    }
    return poses;
}

std::string csvNumber(double v)
{
    return std::isfinite(v) ? JsonWriter::shortest(v) : std::string("nan");
}

void writeRow(std::FILE* out, bool jsonl, std::size_t index, CtvxBatchResult const& r, bool distanceType)
{
    // The clearance is a float of the library: 9 digits read it back.
    bool const hasClearance = distanceType && r.status == CtvxBatchResult::ANSWERED;
    std::string const clearance = !hasClearance ? "" : r.contact ? "0" : fmt(r.clearance, 9);
    if (jsonl) {
        std::string line = "{\"index\":" + std::to_string(index) + ",\"contact\":" + (r.contact ? "true" : "false") +
                           ",\"clearance\":" + (clearance.empty() ? "null" : clearance) +
                           ",\"exact\":" + (r.exact ? "true" : "false") + ",\"closest\":";
        if (r.exact) {
            line += "{\"a\":[" + JsonWriter::shortest(r.closestA[0]) + "," + JsonWriter::shortest(r.closestA[1]) +
                    "," + JsonWriter::shortest(r.closestA[2]) + "],\"b\":[" + JsonWriter::shortest(r.closestB[0]) +
                    "," + JsonWriter::shortest(r.closestB[1]) + "," + JsonWriter::shortest(r.closestB[2]) + "]}";
        } else {
            line += "null";
        }
        line += ",\"pair_count\":" + std::to_string(r.pairCount) + "}\n";
        std::fputs(line.c_str(), out);
        return;
    }
    std::string line = std::to_string(index) + "," + (r.contact ? "1" : "0") + "," +
                       (clearance.empty() ? "nan" : clearance) + "," + (r.exact ? "1" : "0");
    for (double const* p : {r.closestA, r.closestB})
        for (int k = 0; k < 3; ++k)
            line += "," + csvNumber(p[k]);
    line += "," + std::to_string(r.pairCount) + "\n";
    std::fputs(line.c_str(), out);
}

bool endsWith(std::string const& s, std::string const& tail)
{
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

} // namespace

int runBatch(std::vector<std::string> const& argv)
{
    Args const args(argv, {{"poses", true},
                           {"type", true},
                           {"threads", true},
                           {"out", true},
                           {"format", true},
                           {"pose-a", true},
                           {"matrix-a", true},
                           {"tolerance-a", true},
                           {"tolerance-b", true}});
    if (args.helpAsked()) {
        std::fputs(kBatchHelp, stdout);
        return kExitOk;
    }
    if (args.positional().size() != 2)
        throw UsageError("expected two mesh files, got " + std::to_string(args.positional().size()) + " arguments");
    if (!args.has("poses"))
        throw UsageError("--poses FILE is required");
    CtvxAnalysis::EAnalysisType type = CtvxAnalysis::EXACT_DISTANCE;
    if (args.has("type") && !parseType(args.value("type"), type))
        throw UsageError("--type: '" + args.value("type") + "' is not one of first, all, exact, estimated");
    unsigned int const threads = static_cast<unsigned int>(args.integer("threads", 0, 1, 4096));
    std::string const outPath = args.value("out", "-");
    std::string format = args.value("format", endsWith(outPath, ".jsonl") || endsWith(outPath, ".ndjson") ? "jsonl"
                                                                                                          : "csv");
    if (format != "csv" && format != "jsonl")
        throw UsageError("--format: '" + format + "' is not csv or jsonl");
    if (args.has("pose-a") && args.has("matrix-a"))
        throw UsageError("--pose-a and --matrix-a both place a; give one");
    CqarMat4 placeA;
    if (args.has("matrix-a"))
        placeA = parseRigidMatrix(args.value("matrix-a"), "--matrix-a");
    else if (args.has("pose-a"))
        placeA = poseMatrix(parsePose(args.value("pose-a"), "--pose-a"));
    double const tolA = args.number("tolerance-a", 0.0);
    double const tolB = args.number("tolerance-b", 0.0);
    if (tolA < 0.0 || tolB < 0.0)
        throw UsageError("tolerances must not be negative");

    std::vector<double> const poses = readPoses(args.value("poses"));
    std::size_t const n = poses.size() / 16;
    // The trees are built here, once, with the tool's progress bar; the
    // batch's workers adopt them.
    Body const a = loadBody(args.positional()[0], false);
    Body const b = loadBody(args.positional()[1], false);
    boost::shared_ptr<CtvxBatchBody> bodyA = CtvxBatchBody::create();
    boost::shared_ptr<CtvxBatchBody> bodyB = CtvxBatchBody::create();
    bodyA->addPart(a.polyhedra.front()->polyData(), CqarMat4(), tolA);
    bodyB->addPart(b.polyhedra.front()->polyData(), CqarMat4(), tolB);
    boost::shared_ptr<CtvxBatchQuery> query = CtvxBatchQuery::create(bodyA, bodyB);
    query->analysisType(type);
    query->threads(threads);
    query->placementA(placeA);

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
            throw InputError(outPath + ": cannot write the results");
    }
    bool const jsonl = format == "jsonl";
    bool const distanceType = type == CtvxAnalysis::EXACT_DISTANCE || type == CtvxAnalysis::ESTIMATED_DISTANCE;
    if (!jsonl)
        std::fputs("index,contact,clearance,exact,closest_a_x,closest_a_y,closest_a_z,closest_b_x,closest_b_y,"
                   "closest_b_z,pair_count\n",
                   out);
    std::size_t unanswered = 0;
    for (std::size_t i = 0; i < n; ++i) {
        writeRow(out, jsonl, i, results[i], distanceType);
        unanswered += results[i].status == CtvxBatchResult::NO_ANSWER;
    }
    bool const written = std::ferror(out) == 0;
    if (out != stdout && std::fclose(out) != 0)
        throw InputError(outPath + ": cannot write the results");
    if (!written)
        throw InputError(outPath + ": cannot write the results");
    if (unanswered > 0) {
        std::fprintf(stderr, "tvx: a distance query found no distance at %zu of %zu poses\n", unanswered, n);
        return kExitQueryFailed;
    }
    return kExitOk;
}

} // namespace tvxcli
