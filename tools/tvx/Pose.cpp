#include "Pose.h"

#include "Args.h"
#include "Cli.h"

#include <cmath>
#include <vector>

namespace tvxcli {

Pose parsePose(std::string const& text, std::string const& option)
{
    std::vector<std::string> const parts = splitList(text);
    if (parts.size() != 3 && parts.size() != 6)
        throw UsageError(option + ": expected \"tx ty tz rx ry rz\" (or \"tx ty tz\"), got " +
                         std::to_string(parts.size()) + " numbers in '" + text + "'");
    double v[6] = {0, 0, 0, 0, 0, 0};
    for (std::size_t i = 0; i < parts.size(); ++i)
        if (!parseNumber(parts[i], v[i]))
            throw UsageError(option + ": '" + parts[i] + "' is not a finite number");
    Pose p;
    for (int i = 0; i < 3; ++i) {
        p.translation[i] = v[i];
        p.angles[i] = v[i + 3];
    }
    return p;
}

CqarMat4 parseRigidMatrix(std::string const& text, std::string const& option)
{
    std::vector<std::string> const parts = splitList(text);
    if (parts.size() != 16)
        throw UsageError(option + ": expected 16 numbers (a row-major 4x4 matrix), got " +
                         std::to_string(parts.size()));
    double v[16];
    for (int i = 0; i < 16; ++i)
        if (!parseNumber(parts[static_cast<std::size_t>(i)], v[i]))
            throw UsageError(option + ": '" + parts[static_cast<std::size_t>(i)] + "' is not a finite number");
    if (v[12] != 0.0 || v[13] != 0.0 || v[14] != 0.0 || v[15] != 1.0)
        throw UsageError(option + ": the bottom row must be 0 0 0 1");
    for (int a = 0; a < 3; ++a) {
        for (int b = 0; b < 3; ++b) {
            double dot = 0.0;
            for (int r = 0; r < 3; ++r)
                dot += v[r * 4 + a] * v[r * 4 + b];
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
            m(r, c) = v[r * 4 + c];
    return m;
}

namespace {

void multiply3(double const a[3][3], double const b[3][3], double out[3][3])
{
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            out[r][c] = a[r][0] * b[0][c] + a[r][1] * b[1][c] + a[r][2] * b[2][c];
}

void quatMultiply(double const a[4], double const b[4], double out[4])
{
    out[0] = a[0] * b[0] - a[1] * b[1] - a[2] * b[2] - a[3] * b[3];
    out[1] = a[0] * b[1] + a[1] * b[0] + a[2] * b[3] - a[3] * b[2];
    out[2] = a[0] * b[2] - a[1] * b[3] + a[2] * b[0] + a[3] * b[1];
    out[3] = a[0] * b[3] + a[1] * b[2] - a[2] * b[1] + a[3] * b[0];
}

} // namespace

CqarMat4 poseMatrix(Pose const& pose)
{
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

RigidMotion poseMotion(Pose const& pose)
{
    double const hx = 0.5 * pose.angles[0], hy = 0.5 * pose.angles[1], hz = 0.5 * pose.angles[2];
    double const qx[4] = {std::cos(hx), std::sin(hx), 0, 0};
    double const qy[4] = {std::cos(hy), 0, std::sin(hy), 0};
    double const qz[4] = {std::cos(hz), 0, 0, std::sin(hz)};
    double zy[4];
    RigidMotion m;
    quatMultiply(qz, qy, zy);
    quatMultiply(zy, qx, m.q);
    for (int i = 0; i < 3; ++i)
        m.t[i] = pose.translation[i];
    return m;
}

CqarMat4 motionMatrix(RigidMotion const& motion)
{
    double const w = motion.q[0], x = motion.q[1], y = motion.q[2], z = motion.q[3];
    double const n = w * w + x * x + y * y + z * z;
    double const s = n > 0.0 ? 2.0 / n : 0.0;
    CqarMat4 m;
    m(0, 0) = 1.0 - s * (y * y + z * z);
    m(0, 1) = s * (x * y - w * z);
    m(0, 2) = s * (x * z + w * y);
    m(1, 0) = s * (x * y + w * z);
    m(1, 1) = 1.0 - s * (x * x + z * z);
    m(1, 2) = s * (y * z - w * x);
    m(2, 0) = s * (x * z - w * y);
    m(2, 1) = s * (y * z + w * x);
    m(2, 2) = 1.0 - s * (x * x + y * y);
    for (int i = 0; i < 3; ++i)
        m(i, 3) = motion.t[i];
    return m;
}

RigidMotion interpolate(RigidMotion const& from, RigidMotion const& to, double t)
{
    RigidMotion out;
    for (int i = 0; i < 3; ++i)
        out.t[i] = from.t[i] + (to.t[i] - from.t[i]) * t;
    double b[4] = {to.q[0], to.q[1], to.q[2], to.q[3]};
    double dot = from.q[0] * b[0] + from.q[1] * b[1] + from.q[2] * b[2] + from.q[3] * b[3];
    // q and -q are one rotation: take the sign that makes the arc the shorter.
    if (dot < 0.0) {
        for (double& v : b)
            v = -v;
        dot = -dot;
    }
    double wa, wb;
    if (dot > 0.9995) {
        // Nearly equal rotations: sin(theta) is too small to divide by, and
        // the straight blend (renormalised by motionMatrix) is as accurate.
        wa = 1.0 - t;
        wb = t;
    } else {
        double const theta = std::acos(dot);
        double const sinTheta = std::sin(theta);
        wa = std::sin((1.0 - t) * theta) / sinTheta;
        wb = std::sin(t * theta) / sinTheta;
    }
    for (int i = 0; i < 4; ++i)
        out.q[i] = wa * from.q[i] + wb * b[i];
    return out;
}

} // namespace tvxcli
