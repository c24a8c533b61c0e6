#pragma once

// What every subcommand of the tvx tool shares: exit statuses, the error
// kinds that end a command, and the table entry a subcommand registers.

#include <stdexcept>
#include <string>
#include <vector>

namespace tvxcli {

// Exit statuses of the tool.
enum ExitStatus : int {
    kExitOk = 0,
    // The arguments were fine but a query could not run or gave no answer.
    kExitQueryFailed = 1,
    // Bad usage or bad input (options, poses, mesh files).
    kExitUsage = 2,
};

// Bad command line: reported as "tvx <command>: <message>" with a pointer to
// --help, exit status 2.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Bad input (a mesh file that cannot be used): reported as "tvx: <message>",
// exit status 2.
class InputError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A query that could not run: "tvx: <message>", exit status 1.
class QueryError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One subcommand: its name, a one-line summary for the tool's help, and the
// function that runs it on the arguments after its name. The function prints
// its own --help and returns an exit status; it may throw the errors above.
struct Command {
    char const* name;
    char const* summary;
    int (*run)(std::vector<std::string> const& args);
};

int runInfo(std::vector<std::string> const& args);
int runQuery(std::vector<std::string> const& args);
int runSweep(std::vector<std::string> const& args);
int runPlan(std::vector<std::string> const& args);
int runBatch(std::vector<std::string> const& args);

} // namespace tvxcli
