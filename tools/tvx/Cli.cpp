#include "Cli.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace tvxcli {

std::string plural(std::size_t n, std::string const& noun, std::string const& nounPlural)
{
    return std::to_string(n) + " " + (n == 1 ? noun : nounPlural.empty() ? noun + "s" : nounPlural);
}

void warn(std::string const& message)
{
    std::fprintf(stderr, "tvx: warning: %s\n", message.c_str());
}

void writeFile(std::string const& path, std::string const& text)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr)
        throw InputError(path + ": cannot be written (" + std::strerror(errno) + ")");
    bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    int error = ok ? 0 : errno;
    // Written data may wait in the buffer until the file is closed: a full
    // disk shows only then.
    if (std::fclose(f) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (!ok)
        throw InputError(path + ": cannot be written (" + std::strerror(error) + ")");
}

bool parseByteSize(std::string const& text, std::size_t& out)
{
    char* end = nullptr;
    errno = 0;
    double const v = std::strtod(text.c_str(), &end);
    if (text.empty() || end == text.c_str() || errno == ERANGE || !std::isfinite(v) || !(v > 0.0))
        return false;
    std::string unit;
    for (char const* c = end; *c != '\0'; ++c)
        unit += static_cast<char>(std::toupper(static_cast<unsigned char>(*c)));
    double scale = 1.0;
    if (!unit.empty()) {
        std::string const prefixes = "KMGT";
        std::size_t const p = prefixes.find(unit[0]);
        std::string const rest = unit.substr(1);
        if (unit == "B")
            scale = 1.0;
        else if (p == std::string::npos || !(rest.empty() || rest == "B" || rest == "IB"))
            return false;
        else
            scale = std::pow(1024.0, static_cast<double>(p + 1));
    }
    double const bytes = std::floor(v * scale);
    // Past 2^63 bytes no address space exists to limit.
    if (bytes < 1.0 || bytes > 9.2e18)
        return false;
    out = static_cast<std::size_t>(bytes);
    return true;
}

} // namespace tvxcli
