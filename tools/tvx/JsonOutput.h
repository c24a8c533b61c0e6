#pragma once

// The tool's --json output: one document a command, written through
// nlohmann/json with keys in the order they are set, and the shapes that
// every command shares built here, once.
//
// Numbers read back to what the tool holds: doubles print as their shortest
// round-trip text; the library's single-precision answers (clearances, mesh
// coordinates) print as the shortest text that reads back to the same float,
// so that 0.1f prints as 0.1, not 0.100000001; times are in milliseconds,
// rounded to the whole microsecond, so that a sum of steps prints as
// 13540.605, not 13540.605000000001. Non-finite numbers print as null.
//
// A pose is {"translation": [tx, ty, tz], "angles": [rx, ry, rz],
// "matrix": [16 numbers, row by row]}.

#include "Pose.h"

#include <nlohmann/json.hpp>

namespace tvxcli {

using Json = nlohmann::ordered_json;

// The double nearest the shortest decimal text of v that reads back to v as
// a float (v itself when it is not finite).
double shortestFloat(float v);

// Seconds as milliseconds, to the whole microsecond.
double milliseconds(double seconds);

Json poseJson(Pose const& pose);

// Three floats of stored geometry, each as shortestFloat.
Json floatTriple(double const v[3]);

// The document as printed: indented two spaces a level, arrays of numbers on
// one line, a newline at the end.
std::string jsonText(Json const& doc);

// jsonText on standard output.
void printJson(Json const& doc);

} // namespace tvxcli
