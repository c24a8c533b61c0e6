#include "JsonOutput.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace tvxcli {

double shortestFloat(float v)
{
    if (!std::isfinite(v))
        return static_cast<double>(v);
    // 9 significant digits always read back to the float; fewer often do.
    char buf[32];
    for (int digits = 1; digits <= 9; ++digits) {
        std::snprintf(buf, sizeof buf, "%.*g", digits, static_cast<double>(v));
        if (std::strtof(buf, nullptr) == v)
            break;
    }
    return std::strtod(buf, nullptr);
}

double milliseconds(double seconds)
{
    return std::round(seconds * 1.0e6) / 1.0e3;
}

Json poseJson(Pose const& pose)
{
    CqarMat4 const m = poseMatrix(pose);
    Json matrix = Json::array();
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            matrix.push_back(m(r, c));
    Json j;
    j["translation"] = {pose.translation[0], pose.translation[1], pose.translation[2]};
    j["angles"] = {pose.angles[0], pose.angles[1], pose.angles[2]};
    j["matrix"] = std::move(matrix);
    return j;
}

Json floatTriple(double const v[3])
{
    return {shortestFloat(static_cast<float>(v[0])), shortestFloat(static_cast<float>(v[1])),
            shortestFloat(static_cast<float>(v[2]))};
}

namespace {

// nlohmann/json puts every item of an array on its own line; an array of
// numbers (a point, a matrix) reads better on one. Only whitespace changes:
// strings are copied as they are, escapes and all.
std::string numberArraysOnOneLine(std::string const& text)
{
    std::string out;
    out.reserve(text.size());
    bool inString = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char const c = text[i];
        if (inString) {
            out += c;
            if (c == '\\' && i + 1 < text.size())
                out += text[++i];
            else if (c == '"')
                inString = false;
            continue;
        }
        if (c == '"') {
            inString = true;
            out += c;
            continue;
        }
        if (c == '[') {
            std::size_t const close = text.find_first_of("[]{}\"", i + 1);
            if (close != std::string::npos && text[close] == ']') {
                std::string items;
                for (std::size_t k = i + 1; k < close; ++k) {
                    char const d = text[k];
                    if (d == '\n' || d == ' ')
                        continue;
                    items += d;
                    if (d == ',')
                        items += ' ';
                }
                out += '[' + items + ']';
                i = close;
                continue;
            }
        }
        out += c;
    }
    return out;
}

} // namespace

std::string jsonText(Json const& doc)
{
    // Strings from files (names, reader messages) may hold bytes that are not
    // UTF-8: replaced rather than ending the output half written.
    return numberArraysOnOneLine(doc.dump(2, ' ', false, Json::error_handler_t::replace)) + "\n";
}

void printJson(Json const& doc)
{
    std::string const text = jsonText(doc);
    std::fwrite(text.data(), 1, text.size(), stdout);
}

} // namespace tvxcli
