#pragma once

// The commands of the tvx tool and the options they share.
//
// A command is a class in its own <Name>Command.cpp: it says what it is
// (CommandText), adds its own options to the subcommand that the tool makes
// for it, and runs once they are parsed. It is registered by one line in the
// table of main.cpp. Parsing, --help, --version and every usage message are
// the tool's (main.cpp, on CLI11); what all commands share (--json, the
// reader's limits) and what several share (placements of A and B, poses,
// numbers) is defined once, here.

#include "Cli.h"
#include "Pose.h"

#include <tools/import/MeshImport.h>

#include <qar/CqarMat4.h>

#include <CLI/CLI.hpp>

#include <memory>
#include <string>

namespace tvxcli {

// What the tool's help shows of a command.
struct CommandText {
    char const* name;
    // One line in the list of commands.
    char const* summary;
    // The usage line after "usage: tvx ".
    char const* usage;
    // The paragraphs after the usage line.
    char const* description;
    // What exit status 1 means for this command.
    char const* failure;
};

// Options of every command.
struct ToolOptions {
    bool json = false;
    std::string readerSeconds;
    std::string readerMemory;
    // --scale-free-axes: the tree builder's opt-in principal axes
    // (CtvxPolyhedronOBBTreeFactory::scaleFreeAxes), set for the whole run
    // before the command reads any mesh.
    bool scaleFreeAxes = false;

    // The importer's options: --reader-seconds and --reader-memory, or the
    // environment's TVX_READER_SECONDS and TVX_READER_MEMORY, or the
    // importer's defaults. Throws UsageError on a malformed value.
    tvxio::ImportOptions importOptions(bool keepParts) const;
};

class Command {
public:
    virtual ~Command() = default;
    virtual CommandText const& text() const = 0;
    // Adds the command's own options and positionals.
    virtual void addOptions(CLI::App& app) = 0;
    // Runs once the options are parsed: returns an exit status or throws
    // one of the errors of Cli.h. Every option is checked before any file
    // is read.
    virtual int run(ToolOptions const& tool) = 0;
};

// An option kept as text, converted and checked by the command when it runs,
// so that every conversion message has one form ("--steps: '0' is not ...").
struct TextOption {
    std::string value;
    CLI::Option* option = nullptr;

    bool given() const { return option != nullptr && option->count() > 0; }
    std::string name() const { return option != nullptr ? option->get_name() : std::string(); }
};

CLI::Option* addText(CLI::App& app, std::string const& name, TextOption& target, std::string const& description,
                     std::string const& valueName);

// --view FILE.html, in the Output group: the page of ViewPage.h.
CLI::Option* addViewOption(CLI::App& app, TextOption& target);

// A finite number; with nonNegative, also >= 0.
double numberOf(TextOption const& o, double fallback, bool nonNegative = false);
// A whole number in [lo, hi].
long wholeOf(TextOption const& o, long fallback, long lo, long hi);
// A pose in any of its forms (Pose.h); warns about angles past a full turn.
Pose poseOf(TextOption const& o, Pose const& fallback = Pose());

// How the tool's help describes a pose, once for every command that takes one.
extern char const* const kPoseHelp;

// The placement and tolerance of one of two meshes, A or B:
// --pose-a/--matrix-a/--tolerance-a and the same for b.
struct SideOptions {
    char side; // 'a' or 'b'
    TextOption pose;
    TextOption matrix;
    TextOption tolerance;

    explicit SideOptions(char s) : side(s) {}
    // frame: how the placement is meant, after "placement of B" (such as
    // " in the moving frame").
    void add(CLI::App& app, std::string const& whose, std::string const& frame = std::string());
    // The pose (identity when neither option is given).
    Pose placement() const;
    double toleranceValue() const;
};

// Two mesh files A and B with their placements and tolerances, and
// --keep-parts: the arguments that query and sweep share.
struct MeshPairOptions {
    std::string fileA, fileB;
    SideOptions a{'a'}, b{'b'};
    bool keepParts = false;

    // roleA, roleB: what each file is, for the help ("the fixed mesh
    // file"); frameB as for SideOptions::add; withKeepParts: whether the
    // command can keep the meshes of a file apart.
    void add(CLI::App& app, std::string const& roleA, std::string const& roleB,
             std::string const& frameB = std::string(), bool withKeepParts = true);
};

// The registration of a command: its factory, defined in its own file.
using CommandFactory = std::unique_ptr<Command> (*)();

} // namespace tvxcli
