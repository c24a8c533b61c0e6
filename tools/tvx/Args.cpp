#include "Args.h"

#include "Cli.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace tvxcli {

Args::Args(std::vector<std::string> const& args, std::vector<OptionSpec> const& optionTable)
{
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string const& a = args[i];
        if (optionsEnded || a.size() < 2 || a[0] != '-' || (a[1] != '-' && a != "-h")) {
            // A lone "-" or a negative number is a positional argument.
            m_positional.push_back(a);
            continue;
        }
        if (a == "--") {
            optionsEnded = true;
            continue;
        }
        if (a == "--help" || a == "-h") {
            m_help = true;
            continue;
        }
        std::string name = a.substr(2);
        std::string value;
        bool inlineValue = false;
        std::size_t const eq = name.find('=');
        if (eq != std::string::npos) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
            inlineValue = true;
        }
        OptionSpec const* option = nullptr;
        for (OptionSpec const& s : optionTable)
            if (name == s.name)
                option = &s;
        if (option == nullptr)
            throw UsageError("unknown option --" + name);
        if (m_values.count(name) != 0)
            throw UsageError("option --" + name + " given twice");
        if (option->takesValue) {
            if (!inlineValue) {
                if (i + 1 >= args.size())
                    throw UsageError("option --" + name + " needs a value");
                value = args[++i];
            }
        } else if (inlineValue) {
            throw UsageError("option --" + name + " takes no value");
        }
        m_values[name] = value;
    }
}

std::string Args::value(std::string const& name, std::string const& fallback) const
{
    auto const it = m_values.find(name);
    return it == m_values.end() ? fallback : it->second;
}

double Args::number(std::string const& name, double fallback) const
{
    auto const it = m_values.find(name);
    if (it == m_values.end())
        return fallback;
    double v = 0.0;
    if (!parseNumber(it->second, v))
        throw UsageError("--" + name + ": '" + it->second + "' is not a finite number");
    return v;
}

long Args::integer(std::string const& name, long fallback, long lo, long hi) const
{
    auto const it = m_values.find(name);
    if (it == m_values.end())
        return fallback;
    std::string const& t = it->second;
    char* end = nullptr;
    errno = 0;
    long const v = std::strtol(t.c_str(), &end, 10);
    if (t.empty() || end == nullptr || *end != '\0' || errno == ERANGE || v < lo || v > hi)
        throw UsageError("--" + name + ": '" + t + "' is not a whole number from " + std::to_string(lo) + " to " +
                         std::to_string(hi));
    return v;
}

bool parseNumber(std::string const& text, double& out)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    double const v = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || *end != '\0' || errno == ERANGE || !std::isfinite(v))
        return false;
    out = v;
    return true;
}

std::vector<std::string> splitList(std::string const& text)
{
    std::vector<std::string> parts;
    std::string cur;
    for (char c : text) {
        if (c == ' ' || c == '\t' || c == ',' || c == '\n') {
            if (!cur.empty())
                parts.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    if (!cur.empty())
        parts.push_back(cur);
    return parts;
}

} // namespace tvxcli
