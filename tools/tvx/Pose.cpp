#include "Pose.h"

#include "Cli.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace tvxcli {

namespace {

void multiply3(double const a[3][3], double const b[3][3], double out[3][3])
{
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            out[r][c] = a[r][0] * b[0][c] + a[r][1] * b[1][c] + a[r][2] * b[2][c];
}

std::vector<double> numbersOf(std::string const& text, std::string const& option)
{
    std::vector<std::string> const parts = splitList(text);
    std::vector<double> v(parts.size());
    for (std::size_t i = 0; i < parts.size(); ++i)
        if (!parseNumber(parts[i], v[i]))
            throw UsageError(option + ": '" + parts[i] + "' is not a finite number");
    return v;
}

Pose matrixPose(std::vector<double> const& v, std::string const& option)
{
    if (v[12] != 0.0 || v[13] != 0.0 || v[14] != 0.0 || v[15] != 1.0)
        throw UsageError(option + ": the bottom row must be 0 0 0 1");
    for (int a = 0; a < 3; ++a) {
        for (int b = 0; b < 3; ++b) {
            double dot = 0.0;
            for (int r = 0; r < 3; ++r)
                dot += v[static_cast<std::size_t>(r * 4 + a)] * v[static_cast<std::size_t>(r * 4 + b)];
            if (std::fabs(dot - (a == b ? 1.0 : 0.0)) > kRigidTolerance)
                throw UsageError(option + ": not a rigid transform (the rotation part is not orthonormal)");
        }
    }
    double const det = v[0] * (v[5] * v[10] - v[6] * v[9]) - v[1] * (v[4] * v[10] - v[6] * v[8]) +
                       v[2] * (v[4] * v[9] - v[5] * v[8]);
    if (det < 0.0)
        throw UsageError(option + ": not a rigid transform (it mirrors)");
    CqarMat4 m;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            m(r, c) = v[static_cast<std::size_t>(r * 4 + c)];
    return poseOfMatrix(m);
}

} // namespace

Pose parsePose(std::string const& text, std::string const& option)
{
    std::vector<double> const v = numbersOf(text, option);
    if (v.size() == 16)
        return matrixPose(v, option);
    if (v.size() != 3 && v.size() != 6)
        throw UsageError(option + ": expected \"tx ty tz\", \"tx ty tz rx ry rz\" or 16 matrix numbers, got " +
                         plural(v.size(), "number") + " in '" + text + "'");
    Pose p;
    for (std::size_t i = 0; i < 3; ++i) {
        p.translation[i] = v[i];
        p.angles[i] = v.size() == 6 ? v[i + 3] : 0.0;
    }
    return p;
}

Pose parseMatrixPose(std::string const& text, std::string const& option)
{
    std::vector<double> const v = numbersOf(text, option);
    if (v.size() != 16)
        throw UsageError(option + ": expected 16 numbers (a row-major 4x4 matrix), got " +
                         std::to_string(v.size()));
    return matrixPose(v, option);
}

CqarMat4 poseMatrix(Pose const& pose)
{
    if (pose.hasMatrix)
        return pose.matrix;
    double const cx = std::cos(pose.angles[0]), sx = std::sin(pose.angles[0]);
    double const cy = std::cos(pose.angles[1]), sy = std::sin(pose.angles[1]);
    double const cz = std::cos(pose.angles[2]), sz = std::sin(pose.angles[2]);
    double const rx[3][3] = {{1, 0, 0}, {0, cx, -sx}, {0, sx, cx}};
    double const ry[3][3] = {{cy, 0, sy}, {0, 1, 0}, {-sy, 0, cy}};
    double const rz[3][3] = {{cz, -sz, 0}, {sz, cz, 0}, {0, 0, 1}};
    double zy[3][3], r[3][3];
    multiply3(rz, ry, zy);
    multiply3(zy, rx, r);
    CqarMat4 m;
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j)
            m(i, j) = r[i][j];
        m(i, 3) = pose.translation[i];
    }
    return m;
}

Pose poseOfMatrix(CqarMat4 const& m)
{
    Pose p;
    for (int k = 0; k < 3; ++k)
        p.translation[k] = m(k, 3);
    // R = Rz Ry Rx has -sin(ry) in row 2, column 0; the clamp absorbs the
    // rounding that can carry a rigid matrix's entry just past 1.
    double const s = std::max(-1.0, std::min(1.0, -m(2, 0)));
    p.angles[1] = std::asin(s);
    p.angles[0] = std::atan2(m(2, 1), m(2, 2));
    p.angles[2] = std::atan2(m(1, 0), m(0, 0));
    p.hasMatrix = true;
    p.matrix = m;
    return p;
}

Pose interpolate(Pose const& from, Pose const& to, double t)
{
    if (t <= 0.0)
        return from;
    if (t >= 1.0)
        return to;
    Pose out;
    for (int i = 0; i < 3; ++i) {
        out.translation[i] = from.translation[i] + (to.translation[i] - from.translation[i]) * t;
        out.angles[i] = from.angles[i] + (to.angles[i] - from.angles[i]) * t;
    }
    return out;
}

std::vector<std::string> angleWarnings(Pose const& pose, std::string const& option)
{
    static char const* const names[3] = {"rx", "ry", "rz"};
    std::vector<std::string> out;
    for (int i = 0; i < 3; ++i) {
        // A full turn itself, written as 6.2832, is no sign of degrees: the
        // margin lets the printed value of 2 pi through.
        if (std::fabs(pose.angles[i]) > 2.0 * M_PI + 1.0e-6) {
            char text[200];
            std::snprintf(text, sizeof text,
                          "%s: %s = %.9g is more than a full turn; angles are in radians (%.9g degrees would be %.9g)",
                          option.c_str(), names[i], pose.angles[i], pose.angles[i], pose.angles[i] * M_PI / 180.0);
            out.emplace_back(text);
        }
    }
    return out;
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
