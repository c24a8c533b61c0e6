#pragma once

#include <tests/support/Random.h>

#include <array>
#include <vector>

namespace tvxtest {

// A triangle mesh in double precision, independent of the library's classes
// so that references and fixtures do not depend on the code under test.
// Triangles name points by rank and are wound counter-clockwise seen from
// outside for the closed shapes.
struct Mesh {
    std::vector<std::array<double, 3>> points;
    std::vector<std::array<unsigned, 3>> triangles;
};

// Geodesic sphere centred at the origin: the icosahedron subdivided s times,
// points pushed onto the sphere. 20 * 4^s triangles.
Mesh makeIcosphere(int subdivisions, double radius);
// Latitude-longitude sphere centred at the origin, poles on the z axis:
// 2 * slices * (stacks - 1) triangles (slices >= 3, stacks >= 2).
Mesh makeUVSphere(int slices, int stacks, double radius);
// Torus around the z axis, centred at the origin: 2 * nMajor * nMinor
// triangles.
Mesh makeTorus(int nMajor, int nMinor, double R, double r);
// Flat grid in the plane z = 0 covering [-sizeX/2, sizeX/2] x
// [-sizeY/2, sizeY/2]: 2 * nx * ny triangles.
Mesh makeGrid(int nx, int ny, double sizeX, double sizeY);
// Box [-hx, hx] x [-hy, hy] x [-hz, hz]: 12 triangles.
Mesh makeBox(double hx, double hy, double hz);
// Closed thin cylinder along x from -length/2 to length/2, n sides, capped
// by fans around the two axis points: 4 * n triangles.
Mesh makeNeedle(int n, double length, double radius);
// n independent triangles. Each has a centre uniform in the cube
// [-extent/2, extent/2]^3 and vertices uniform in the ball of radius
// maxEdge/2 around it, so no edge is longer than maxEdge. Points are not
// shared.
Mesh makeSoup(Random& rng, int n, double extent, double maxEdge);
// A strip of n triangles along x in the plane z = 0, between y = 0 and
// y = step, each column of width step.
Mesh makeStrip(int n, double step);

// n copies of the same unit right triangle over three shared points.
Mesh makeIdenticalTriangles(int n);

// Small triangles along x at positions growing by a ratio above 2, so the
// middle of any range's box lies below its last triangle alone and every
// split peels that one off: a chain n - 1 deep. (Squares of the coordinates
// must stay finite in float for the fit, which bounds n to about 100.)
Mesh makeGeometricChain(int n, double ratio);

// p -> scale * p + translation for every point.
void transformMesh(Mesh& m, double scale, std::array<double, 3> const& translation);

} // namespace tvxtest
