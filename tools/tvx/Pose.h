#pragma once

// Placements given on the command line, and the straight motion between two
// of them.
//
// A pose is "tx ty tz rx ry rz": a translation and three angles in radians.
// The rotation is R = Rz(rz) * Ry(ry) * Rx(rx), applied to column vectors, so
// a point is turned about x first, then y, then z (all fixed world axes), and
// then translated. "tx ty tz" alone is a pure translation.

#include <qar/CqarMat4.h>

#include <string>

namespace tvxcli {

struct Pose {
    double translation[3] = {0.0, 0.0, 0.0};
    double angles[3] = {0.0, 0.0, 0.0}; // rx, ry, rz in radians
};

// A rigid motion as a unit quaternion (w, x, y, z) and a translation.
struct RigidMotion {
    double q[4] = {1.0, 0.0, 0.0, 0.0};
    double t[3] = {0.0, 0.0, 0.0};
};

// Parses "tx ty tz [rx ry rz]" (spaces or commas). Throws UsageError naming
// option (e.g. "--pose-b") when malformed.
Pose parsePose(std::string const& text, std::string const& option);

// Parses 16 numbers, a row-major 4x4 matrix, and checks it is rigid: bottom
// row 0 0 0 1 and an orthonormal rotation part with determinant +1 (each
// product within kRigidTolerance). Throws UsageError otherwise.
CqarMat4 parseRigidMatrix(std::string const& text, std::string const& option);

// Rz * Ry * Rx with the translation in the last column.
CqarMat4 poseMatrix(Pose const& pose);

RigidMotion poseMotion(Pose const& pose);
CqarMat4 motionMatrix(RigidMotion const& motion);

// The motion at t in [0, 1]: translation interpolated linearly, rotation by
// spherical linear interpolation along the shorter arc (constant angular
// speed about one fixed axis).
RigidMotion interpolate(RigidMotion const& from, RigidMotion const& to, double t);

// Deviation allowed from R^T R = I in a matrix given as text: 16 printed
// numbers carry rounding of the order of their last printed digit.
constexpr double kRigidTolerance = 1.0e-6;

} // namespace tvxcli
