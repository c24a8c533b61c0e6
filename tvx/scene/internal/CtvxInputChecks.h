#pragma once

#include <qar/CqarMat4.h>

#include <string>

// The checks applied where values enter the scene: placements, geometry
// transforms and scale factors, tolerances. A refused value is logged through
// CqarLogManager and the previous state is kept, so that a bad value never
// reaches a query, where it would turn into contact with everything or into
// answers that differ between query types.
namespace CtvxInputChecks {

// How far the columns of a placement's rotation may stray from orthonormal:
// each entry of R^T R may differ from the identity's by this much. It
// absorbs rotations rounded to single precision (about 1e-7 an entry) or
// printed with seven significant digits, and it is the rotation slack the
// enclosing-box test already grants (CtvxProximityKernels::RotationSlack),
// so a placement accepted here cannot make overlapping boxes look apart.
constexpr double kRigidTolerance = 1.0e-6;

// Largest translation component accepted in a placement. Queries narrow
// relative placements to single precision; keeping every component below
// 1e30 keeps differences and products of placements, even composed down a
// chain of a million assemblies, far inside float's range (3.4e38).
constexpr double kMaxTranslation = 1.0e30;

// Null when m is a rigid placement (finite elements, bottom row 0 0 0 1,
// orthonormal rotation within kRigidTolerance, no mirroring, translation
// within kMaxTranslation); otherwise why not.
char const* placementFault(CqarMat4 const& m);

// Null when m can serve as a points transform (finite elements, bottom row
// 0 0 0 1, an inverse with finite elements); otherwise why not. Points
// transforms need not be rigid: scaling geometry is what they are for.
char const* pointsTransformFault(CqarMat4 const& m);

// Null when scaling geometry by factor about centre keeps it usable (a
// finite factor above 0, a finite centre); otherwise why not. A factor of 0
// collapses the geometry onto the centre, and a negative one mirrors it.
char const* scaleFault(CqarPoint3 const& centre, double factor);

// A tolerance is added to box half-lengths and subtracted from distances in
// single precision: it must be a finite float, and not negative.
bool isSoundTolerance(double t);

// Logs "who: what" through CqarLogManager.
void refuse(std::string const& who, std::string const& what);

// A value as messages print it: enough digits to tell it from its
// neighbours, "nan" and "inf" as such.
std::string number(double value);

} // namespace CtvxInputChecks
