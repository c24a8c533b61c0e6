#pragma once

#include <tests/support/Random.h>
#include <tests/support/ReferenceGeometry.h>

#include <iosfwd>

namespace tvxtest {

// Families of random triangle pairs for differential tests and benchmarks of
// the triangle kernels. Each family aims at a different way of going wrong:
// general position, nearly parallel planes, exactly coplanar triangles,
// vertex-on-face touching (within the rounding of the touching point),
// crossing, shared vertex, shared edge, degenerate triangles (repeated,
// collinear or nearly collinear vertices, single points), large coordinates
// far from the origin, and tiny triangles near the origin. The last three
// aim at the contact decision: slivers and needles crossing or grazing a
// triangle, vertices brought within rounding of another triangle's vertex or
// edge, and any of the others scaled by 1e-4 to 1e4 and moved up to 1e5 from
// the origin.
enum class PairFamily {
    General,
    NearParallel,
    Coplanar,
    Touching,
    Crossing,
    SharedVertex,
    SharedEdge,
    Degenerate,
    Large,
    Tiny,
    Sliver,
    NearVertex,
    Scaled,
};

constexpr int PairFamilyCount = 13;

char const* familyName(PairFamily f);

// Fills s and t (rows are vertices) with a pair of the family.
void makeTrianglePair(Random& rng, PairFamily f, float (&s)[3][3], float (&t)[3][3]);

// A random rotation (uniform over rotations), row-major.
void randomRotation(Random& rng, double (&R)[3][3]);

// Writes a float triangle so that it can be pasted into a test:
// {{x, y, z}, {x, y, z}, {x, y, z}} with every float exact.
void printTriangle(std::ostream& s, float const (*t)[3]);

} // namespace tvxtest
