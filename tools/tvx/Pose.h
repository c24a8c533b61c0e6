#pragma once

// Placements given on the command line, and the motion between two of them.
//
// A pose is written in one of three forms:
//   "tx ty tz"                a translation;
//   "tx ty tz rx ry rz"       a translation and three angles in radians; the
//                             rotation is R = Rz(rz) * Ry(ry) * Rx(rx) acting
//                             on column vectors, so a point is turned about x
//                             first, then y, then z (all fixed world axes),
//                             and then translated;
//   16 numbers                a rigid 4x4 matrix, row by row.
// Numbers are separated by spaces or commas.

#include <qar/CqarMat4.h>

#include <string>
#include <vector>

namespace tvxcli {

struct Pose {
    double translation[3] = {0.0, 0.0, 0.0};
    // rx, ry, rz in radians: as given, or read back from a matrix (each
    // then within [-pi, pi], ry within [-pi/2, pi/2]).
    double angles[3] = {0.0, 0.0, 0.0};
    // A pose given as a matrix keeps it, so that it places exactly as given
    // rather than through its angles.
    bool hasMatrix = false;
    CqarMat4 matrix;
};

// Parses any of the three forms. Throws UsageError naming option (e.g.
// "--pose-b") when malformed or, for a matrix, not rigid.
Pose parsePose(std::string const& text, std::string const& option);

// Parses the matrix form only (16 numbers).
Pose parseMatrixPose(std::string const& text, std::string const& option);

// The placement: the kept matrix, or Rz*Ry*Rx with the translation in the
// last column.
CqarMat4 poseMatrix(Pose const& pose);

// A rigid matrix as a pose: its translation, the angles of its rotation
// (Rz*Ry*Rx), and the matrix itself.
Pose poseOfMatrix(CqarMat4 const& m);

// The motion of a sweep at t in [0, 1]: translation and each of the three
// angles interpolated linearly, so that a turn given as 6 radians turns six
// radians the way it was given, whatever the shorter way round. The ends are
// the given poses exactly.
Pose interpolate(Pose const& from, Pose const& to, double t);

// Messages for angles of more than a full turn, the likely sign of degrees
// given for radians ("--to: rz = 90 is more than a full turn ...").
std::vector<std::string> angleWarnings(Pose const& pose, std::string const& option);

// Deviation allowed from R^T R = I in a matrix given as text: 16 printed
// numbers carry rounding of the order of their last printed digit.
constexpr double kRigidTolerance = 1.0e-6;

// Parses a finite decimal number taking the whole text; returns false if it
// does not.
bool parseNumber(std::string const& text, double& out);

// Splits on spaces, tabs, newlines and commas, dropping empty pieces.
std::vector<std::string> splitList(std::string const& text);

} // namespace tvxcli
