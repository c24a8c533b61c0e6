#pragma once

// Runs the built tvx tool as a user does, for the tool's tests: arguments
// quoted for the shell, standard output and error captured apart, and JSON
// read with nlohmann/json (strict RFC 8259: no trailing commas, no comments,
// no NaN), so that output a script could not parse fails the test.

#include "MeshFiles.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace tvxtest {

using Json = nlohmann::json;

struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
};

inline std::string shellQuote(std::string const& s)
{
    std::string q = "'";
    for (char c : s) {
        if (c == '\'')
            q += "'\\''";
        else
            q += c;
    }
    return q + "'";
}

// Runs the tool with the arguments, and with the environment variables in
// env ("NAME=value") set for it alone.
inline ToolRun tvx(TempDir const& dir, std::vector<std::string> const& args,
                   std::vector<std::string> const& env = {})
{
    std::string cmd;
    for (std::string const& e : env)
        cmd += e + " ";
    cmd += shellQuote(TVX_TOOL_PATH);
    for (std::string const& a : args)
        cmd += " " + shellQuote(a);
    std::string const outPath = dir.file("stdout.txt"), errPath = dir.file("stderr.txt");
    cmd += " >" + shellQuote(outPath) + " 2>" + shellQuote(errPath) + " </dev/null";
    int const raw = std::system(cmd.c_str());
    ToolRun r;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = readText(outPath);
    r.err = readText(errPath);
    return r;
}

inline std::string describe(ToolRun const& r)
{
    return "status " + std::to_string(r.status) + "\n--- stdout\n" + r.out + "--- stderr\n" + r.err;
}

inline std::string write(TempDir const& dir, std::string const& name, std::string const& bytes)
{
    std::string const path = dir.file(name);
    writeText(path, bytes);
    return path;
}

// Parses stdout as JSON, failing the test with the output if it does not.
inline Json parseJson(ToolRun const& r)
{
    try {
        return Json::parse(r.out);
    } catch (std::exception const& e) {
        ADD_FAILURE() << e.what() << "\n" << describe(r);
        return Json();
    }
}

} // namespace tvxtest
