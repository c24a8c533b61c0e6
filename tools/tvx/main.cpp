// tvx: collision and clearance queries between mesh files from the shell.
//
// Every subcommand lives in its own <Name>Command.cpp and has one line in the
// table below.

#include "Cli.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <vector>

namespace {

using namespace tvxcli;

Command const kCommands[] = {
    {"info", "read a mesh, build its tree, and report its size and soundness", runInfo},
    {"query", "place two meshes and ask whether they touch and how close they come", runQuery},
    {"sweep", "move the second mesh along a straight motion and follow the clearance", runSweep},
    {"batch", "answer one query at many poses of the second mesh, on every core", runBatch},
    {"plan", "find a collision-free motion of a mesh robot among mesh obstacles", runPlan},
};

void printUsage(std::FILE* to)
{
    std::fprintf(to,
                 "usage: tvx <command> [options]\n"
                 "\n"
                 "Collision detection and exact minimum distance between rigid triangle meshes.\n"
                 "Meshes are read from OBJ, STL (ASCII or binary), PLY, OFF and the other formats\n"
                 "of the mesh reader, also gzipped (file.ply.gz).\n"
                 "\n"
                 "commands:\n");
    for (Command const& c : kCommands)
        std::fprintf(to, "  %-8s %s\n", c.name, c.summary);
    std::fprintf(to,
                 "\n"
                 "'tvx <command> --help' describes a command.\n"
                 "exit status: 0 success, 1 a query could not run, 2 bad usage or input.\n");
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        printUsage(stderr);
        return kExitUsage;
    }
    std::string const name = argv[1];
    if (name == "--help" || name == "-h" || name == "help") {
        printUsage(stdout);
        return kExitOk;
    }
    Command const* command = nullptr;
    for (Command const& c : kCommands)
        if (name == c.name)
            command = &c;
    if (command == nullptr) {
        std::fprintf(stderr, "tvx: unknown command '%s' (try 'tvx --help')\n", name.c_str());
        return kExitUsage;
    }
    std::vector<std::string> const args(argv + 2, argv + argc);
    try {
        return command->run(args);
    } catch (UsageError const& e) {
        std::fprintf(stderr, "tvx %s: %s (try 'tvx %s --help')\n", command->name, e.what(), command->name);
        return kExitUsage;
    } catch (InputError const& e) {
        std::fprintf(stderr, "tvx: %s\n", e.what());
        return kExitUsage;
    } catch (QueryError const& e) {
        std::fprintf(stderr, "tvx: %s\n", e.what());
        return kExitQueryFailed;
    } catch (std::bad_alloc const&) {
        std::fprintf(stderr, "tvx %s: out of memory\n", command->name);
        return kExitQueryFailed;
    } catch (std::exception const& e) {
        std::fprintf(stderr, "tvx %s: %s\n", command->name, e.what());
        return kExitQueryFailed;
    }
}
