#pragma once

// A small command-line parser: long options with or without a value
// ("--steps 20" or "--steps=20"), positional arguments, and --help.

#include <map>
#include <string>
#include <vector>

namespace tvxcli {

struct OptionSpec {
    char const* name;    // without the leading dashes
    bool takesValue;
};

class Args {
public:
    // Throws UsageError on an unknown option, a missing value or a repeated
    // option. "--help" and "-h" are always known and take no value.
    Args(std::vector<std::string> const& args, std::vector<OptionSpec> const& optionTable);

    bool helpAsked() const { return m_help; }
    bool has(std::string const& name) const { return m_values.count(name) != 0; }
    // The value of an option that takes one; fallback when absent.
    std::string value(std::string const& name, std::string const& fallback = std::string()) const;
    std::vector<std::string> const& positional() const { return m_positional; }

    // Typed values; throw UsageError naming the option when malformed.
    double number(std::string const& name, double fallback) const;
    long integer(std::string const& name, long fallback, long lo, long hi) const;

private:
    bool m_help = false;
    std::map<std::string, std::string> m_values;
    std::vector<std::string> m_positional;
};

// Parses a finite decimal number taking the whole text; returns false if it
// does not.
bool parseNumber(std::string const& text, double& out);

// Splits on spaces, tabs and commas, dropping empty pieces.
std::vector<std::string> splitList(std::string const& text);

} // namespace tvxcli
