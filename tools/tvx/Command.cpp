#include "Command.h"

#include <cerrno>
#include <cstdlib>

namespace tvxcli {

char const* const kPoseHelp =
    "A POSE is \"tx ty tz\" (a translation), \"tx ty tz rx ry rz\" (then three angles\n"
    "in radians: the rotation is Rz*Ry*Rx, so about x first, then y, then z, all\n"
    "fixed axes, then the translation), or 16 numbers: a rigid 4x4 matrix row by\n"
    "row. Spaces or commas separate the numbers. An angle of more than a full turn\n"
    "(2 pi) is warned about: it is likely degrees.\n";

CLI::Option* addText(CLI::App& app, std::string const& name, TextOption& target, std::string const& description,
                     std::string const& valueName)
{
    target.option = app.add_option(name, target.value, description)->type_name(valueName);
    return target.option;
}

CLI::Option* addViewOption(CLI::App& app, TextOption& target)
{
    return addText(app, "--view", target, "write an interactive 3D view, one HTML file that opens in a browser",
                   "FILE.html")
        ->group("Output");
}

double numberOf(TextOption const& o, double fallback, bool nonNegative)
{
    if (!o.given())
        return fallback;
    double v = 0.0;
    if (!parseNumber(o.value, v))
        throw UsageError(o.name() + ": '" + o.value + "' is not a finite number");
    if (nonNegative && v < 0.0)
        throw UsageError(o.name() + ": '" + o.value + "' is negative");
    return v;
}

long wholeOf(TextOption const& o, long fallback, long lo, long hi)
{
    if (!o.given())
        return fallback;
    std::string const& t = o.value;
    char* end = nullptr;
    errno = 0;
    long const v = std::strtol(t.c_str(), &end, 10);
    if (t.empty() || end == nullptr || *end != '\0' || errno == ERANGE || v < lo || v > hi)
        throw UsageError(o.name() + ": '" + t + "' is not a whole number from " + std::to_string(lo) + " to " +
                         std::to_string(hi));
    return v;
}

Pose poseOf(TextOption const& o, Pose const& fallback)
{
    if (!o.given())
        return fallback;
    Pose const p = parsePose(o.value, o.name());
    for (std::string const& w : angleWarnings(p, o.name()))
        warn(w);
    return p;
}

void SideOptions::add(CLI::App& app, std::string const& whose, std::string const& frame)
{
    std::string const s(1, side);
    std::string const group = "Placement of " + std::string(1, static_cast<char>(side - 'a' + 'A'));
    addText(app, "--pose-" + s, pose, "placement of " + whose + frame + " (default: identity)", "POSE")->group(group);
    addText(app, "--matrix-" + s, matrix, "placement of " + whose + frame + " as a rigid 4x4 matrix", "\"16 numbers\"")
        ->group(group);
    addText(app, "--tolerance-" + s, tolerance, "tolerance of " + whose + " (>= 0, default 0)", "T")->group(group);
}

Pose SideOptions::placement() const
{
    if (matrix.given() && pose.given())
        throw UsageError(pose.name() + " and " + matrix.name() + " both place " +
                         std::string(1, static_cast<char>(side - 'a' + 'A')) + "; give one");
    if (matrix.given())
        return parseMatrixPose(matrix.value, matrix.name());
    return poseOf(pose);
}

double SideOptions::toleranceValue() const
{
    return numberOf(tolerance, 0.0, true);
}

void MeshPairOptions::add(CLI::App& app, std::string const& roleA, std::string const& roleB,
                          std::string const& frameB, bool withKeepParts)
{
    app.add_option("A", fileA, roleA)->required()->type_name("FILE");
    app.add_option("B", fileB, roleB)->required()->type_name("FILE");
    a.add(app, "A");
    b.add(app, "B", frameB);
    if (withKeepParts)
        app.add_flag("--keep-parts", keepParts, "keep the meshes of a file as separate parts");
    app.footer(kPoseHelp);
}

tvxio::ImportOptions ToolOptions::importOptions(bool keepParts) const
{
    tvxio::ImportOptions options;
    options.keepParts = keepParts;
    // The option wins over the environment; each message names its source.
    auto source = [](std::string const& option, std::string const& given, char const* variable, std::string& name) {
        if (!given.empty()) {
            name = option;
            return given;
        }
        char const* env = std::getenv(variable);
        name = variable;
        return std::string(env != nullptr ? env : "");
    };
    std::string name;
    std::string const seconds = source("--reader-seconds", readerSeconds, "TVX_READER_SECONDS", name);
    if (!seconds.empty()) {
        double v = 0.0;
        if (!parseNumber(seconds, v) || !(v > 0.0))
            throw UsageError(name + ": '" + seconds + "' is not a positive number of seconds");
        options.readerSeconds = v;
    }
    std::string const memory = source("--reader-memory", readerMemory, "TVX_READER_MEMORY", name);
    if (!memory.empty() && !parseByteSize(memory, options.readerMemoryBytes))
        throw UsageError(name + ": '" + memory + "' is not a size in bytes (such as 512M or 4G)");
    return options;
}

} // namespace tvxcli
