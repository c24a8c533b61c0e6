// tvx: collision and clearance queries between mesh files from the shell.
//
// The command line is parsed by CLI11 here, once for every command: the help
// of the tool and of each command, --version, and every usage message come
// from this file; what a command adds is in its <Name>Command.cpp.

#include "Command.h"

#include <tvx/bvtree/CtvxPolyhedronOBBTreeFactory.h>

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <map>
#include <new>
#include <sstream>
#include <string>
#include <vector>

namespace tvxcli {

// The commands, in the order of the tool's help. A new command is its own
// <Name>Command.cpp defining its factory, and one line here.
std::unique_ptr<Command> makeInfoCommand();
std::unique_ptr<Command> makeQueryCommand();
std::unique_ptr<Command> makeSweepCommand();
std::unique_ptr<Command> makeBatchCommand();
std::unique_ptr<Command> makePlanCommand();

CommandFactory const kCommands[] = {
    makeInfoCommand,
    makeQueryCommand,
    makeSweepCommand,
    makeBatchCommand,
    makePlanCommand,
};

} // namespace tvxcli

namespace {

using namespace tvxcli;

char const kToolDescription[] =
    "Collision detection and exact minimum distance between rigid triangle meshes.\n"
    "Meshes are read from OBJ, STL (ASCII or binary), PLY, OFF and the other formats\n"
    "of the mesh reader, also gzipped (file.ply.gz), in a child process limited in\n"
    "time and memory (--reader-seconds, --reader-memory).\n";

char const kUnits[] = "Lengths are those of the mesh files; angles are in radians; times are in\n"
                      "milliseconds, in the text and in the JSON (keys ending in _ms).\n";

char const kReading[] =
    "Mesh files are read in a child process allowed 2 s of processor time and 1 s\n"
    "more a megabyte of file (8 s a megabyte gzipped), and a quarter of the\n"
    "machine's memory: --reader-seconds and --reader-memory, or the environment's\n"
    "TVX_READER_SECONDS and TVX_READER_MEMORY, change the limits.\n";

char const kTrees[] =
    "--scale-free-axes is for meshes about 1 unit across or smaller (a mesh in\n"
    "metres of a small part, a scan in small units): their boxes deep in the tree\n"
    "come out flatter and distance queries run faster. Distances are unchanged;\n"
    "which contact is reported first, and the order of contacts, may differ.\n";

std::string exitStatusText(char const* failure)
{
    return std::string("exit status: 0 answered, 1 ") + failure + ", 2 bad usage or bad input\n" +
           "(options, poses, mesh files, a file that cannot be written).\n";
}

// CLI11's layout with the usage line first, in the tool's words.
class HelpFormatter : public CLI::Formatter {
public:
    std::map<CLI::App const*, std::string> usage;
    std::map<CLI::App const*, std::string> summary;

    std::string make_subcommand(CLI::App const* sub) const override
    {
        std::ostringstream out;
        CLI::detail::format_help(out, sub->get_name(), summary.at(sub), column_width_);
        return out.str();
    }

    std::string make_help(CLI::App const* app, std::string name, CLI::AppFormatMode mode) const override
    {
        if (mode == CLI::AppFormatMode::Sub)
            return make_expanded(app);
        std::string out = make_usage(app, name);
        std::string const description = app->get_description();
        if (!description.empty())
            out += "\n" + description;
        out += make_positionals(app);
        out += make_groups(app, mode);
        out += make_subcommands(app, mode);
        out += "\n" + make_footer(app);
        return out;
    }

    std::string make_usage(CLI::App const* app, std::string) const override
    {
        auto const it = usage.find(app);
        return "usage: tvx" + (it != usage.end() ? " " + it->second : std::string(" <command> [options]")) + "\n";
    }
};

struct Tool {
    CLI::App app{kToolDescription, "tvx"};
    std::shared_ptr<HelpFormatter> formatter = std::make_shared<HelpFormatter>();
    ToolOptions options;
    std::vector<std::unique_ptr<Command>> commands;
    std::vector<CLI::App*> subcommands;

    Tool()
    {
        formatter->column_width(36);
        formatter->label("Positionals", "Arguments");
        formatter->label("Subcommands", "Commands");
        app.formatter(formatter);
        app.set_version_flag("--version", std::string("tvx ") + TVX_VERSION, "print the version and exit");
        app.set_help_flag("-h,--help", "print this help and exit");
        app.require_subcommand(1);
        app.footer(std::string("'tvx <command> --help' describes a command.\n") + kUnits + exitStatusText("a query could not run"));
        for (CommandFactory make : kCommands) {
            commands.push_back(make());
            Command& c = *commands.back();
            CommandText const& text = c.text();
            CLI::App* sub = app.add_subcommand(text.name, text.summary);
            sub->formatter(formatter);
            sub->set_help_flag("-h,--help", "print this help and exit");
            formatter->usage[sub] = text.usage;
            formatter->summary[sub] = text.summary;
            sub->description(text.description);
            c.addOptions(*sub);
            sub->add_flag("--json", options.json, "print the answers as one JSON document")->group("Output");
            sub->add_option("--reader-seconds", options.readerSeconds, "processor time of the mesh reader")
                ->type_name("S")
                ->group("Reading");
            sub->add_option("--reader-memory", options.readerMemory, "memory of the mesh reader, as 512M or 4G")
                ->type_name("SIZE")
                ->group("Reading");
            // Every command builds trees: info and plan as much as the queries.
            sub->add_flag("--scale-free-axes", options.scaleFreeAxes,
                          "fit each box's axes to its own scale: tighter trees for meshes about 1 unit across or "
                          "smaller")
                ->group("Trees");
            // The command's own notes (such as how a pose is written), then
            // what every command shares.
            std::string const own = sub->get_footer();
            sub->footer((own.empty() ? own : own + "\n") + kReading + "\n" + kTrees + "\n" + kUnits + exitStatusText(text.failure));
            subcommands.push_back(sub);
        }
    }

    // The subcommand named on the command line, once parsing has begun.
    CLI::App* chosen() const
    {
        for (CLI::App* s : subcommands)
            if (s->parsed())
                return s;
        return nullptr;
    }

    int usageError(std::string const& message) const
    {
        CLI::App const* sub = chosen();
        if (sub == nullptr) {
            std::fprintf(stderr, "tvx: %s (try 'tvx --help')\n", message.c_str());
        } else {
            std::string const name = sub->get_name();
            std::fprintf(stderr, "tvx %s: %s (try 'tvx %s --help')\n", name.c_str(), message.c_str(), name.c_str());
        }
        return kExitUsage;
    }

    int main(int argc, char** argv)
    {
        if (argc < 2) {
            std::fputs(app.help().c_str(), stderr);
            return kExitUsage;
        }
        std::string const first = argv[1];
        if (first == "help") {
            std::fputs(app.help().c_str(), stdout);
            return kExitOk;
        }
        if (first.empty() || first[0] != '-') {
            bool known = false;
            for (CLI::App* s : subcommands)
                known = known || s->get_name() == first;
            if (!known) {
                std::fprintf(stderr, "tvx: unknown command '%s' (try 'tvx --help')\n", first.c_str());
                return kExitUsage;
            }
        }
        try {
            app.parse(argc, argv);
        } catch (CLI::CallForHelp const&) {
            std::fputs(app.help().c_str(), stdout);
            return kExitOk;
        } catch (CLI::CallForVersion const& e) {
            std::printf("%s\n", e.what());
            return kExitOk;
        } catch (CLI::ParseError const& e) {
            return usageError(e.what());
        }
        CLI::App const* sub = chosen();
        Command& command = *commands[static_cast<std::size_t>(
            std::find(subcommands.begin(), subcommands.end(), sub) - subcommands.begin())];
        std::string const name = sub->get_name();
        // Only when asked, so that a run without the option leaves the
        // builder exactly as the library starts it.
        if (options.scaleFreeAxes)
            CtvxPolyhedronOBBTreeFactory::scaleFreeAxes(true);
        try {
            return command.run(options);
        } catch (UsageError const& e) {
            return usageError(e.what());
        } catch (InputError const& e) {
            std::fprintf(stderr, "tvx: %s\n", e.what());
            return kExitUsage;
        } catch (QueryError const& e) {
            std::fprintf(stderr, "tvx: %s\n", e.what());
            return kExitQueryFailed;
        } catch (std::bad_alloc const&) {
            std::fprintf(stderr, "tvx %s: out of memory\n", name.c_str());
            return kExitQueryFailed;
        } catch (std::exception const& e) {
            std::fprintf(stderr, "tvx %s: %s\n", name.c_str(), e.what());
            return kExitQueryFailed;
        }
    }
};

} // namespace

int main(int argc, char** argv)
{
    int status = Tool().main(argc, argv);
    // An answer that did not reach its reader (a full disk, a closed pipe)
    // is not an answer.
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "tvx: standard output cannot be written (%s)\n", std::strerror(errno));
        if (status == kExitOk)
            status = kExitUsage;
    }
    return status;
}
