#pragma once

// What every part of the tvx tool shares: exit statuses, the error kinds
// that end a command, and the wording helpers of its messages.

#include <cstddef>
#include <stdexcept>
#include <string>

namespace tvxcli {

// Exit statuses of the tool, written out in every command's help.
enum ExitStatus : int {
    kExitOk = 0,
    // The arguments were fine but a query could not run or gave no answer
    // (or, per command: the tree validator refused, no path was found).
    kExitQueryFailed = 1,
    // Bad usage or bad input (options, poses, mesh files, files that cannot
    // be written).
    kExitUsage = 2,
};

// Bad command line: reported as "tvx <command>: <message> (try 'tvx
// <command> --help')", exit status 2.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Bad input (a mesh file that cannot be used, an output that cannot be
// written): reported as "tvx: <message>", exit status 2.
class InputError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A query that could not run: "tvx: <message>", exit status 1.
class QueryError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// "1 triangle", "3 triangles"; the plural form when it is not noun + "s".
std::string plural(std::size_t n, std::string const& noun, std::string const& nounPlural = std::string());

// Prints "tvx: warning: <message>" on standard error.
void warn(std::string const& message);

// Writes text to a file, replacing it. Throws InputError "<path>: cannot be
// written (<reason>)" when it cannot be opened, written or closed.
void writeFile(std::string const& path, std::string const& text);

// A size in bytes: a positive number with an optional binary multiple, "K",
// "M", "G" or "T" (also "KiB", "GB", ...: all powers of 1024), any case.
// Returns false on anything else, or on zero.
bool parseByteSize(std::string const& text, std::size_t& out);

} // namespace tvxcli
