#pragma once

#include <array>
#include <iosfwd>

namespace tvxtest {

// Reference geometry in double precision, for checking the library's single-
// precision kernels and, through an all-pairs loop, whole queries.
//
// Every routine here works by a different method from the kernels it checks:
// distances are minima over all feature pairs (vertex-face, edge-edge,
// vertex-solid) rather than early-exit searches, intersections are decided
// by explicit edge-piercing tests, and degenerate triangles (repeated or
// collinear vertices) fall back to their edges, so a zero-area triangle is
// handled as the segment or point it is. Inputs are usually floats widened
// to double; the answers are then exact up to double rounding (relative
// 1e-15), far below the single-precision bounds the tests state.

struct Vec3 {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;

    Vec3() = default;
    Vec3(double ax, double ay, double az) : x(ax), y(ay), z(az) {}
    explicit Vec3(float const* p) : x(p[0]), y(p[1]), z(p[2]) {}

    double operator[](int i) const { return i == 0 ? x : (i == 1 ? y : z); }
    Vec3 operator+(Vec3 const& o) const { return {x + o.x, y + o.y, z + o.z}; }
    Vec3 operator-(Vec3 const& o) const { return {x - o.x, y - o.y, z - o.z}; }
    Vec3 operator*(double s) const { return {x * s, y * s, z * s}; }
};

double dot(Vec3 const& a, Vec3 const& b);
Vec3 cross(Vec3 const& a, Vec3 const& b);
double norm(Vec3 const& a);
double distance(Vec3 const& a, Vec3 const& b);

// A triangle: three vertices, in order.
using Tri = std::array<Vec3, 3>;

// A float triangle (rows are vertices) widened to double.
Tri toTri(float const (*t)[3]);

// True when the triangle has (numerically) no area: its normal is shorter
// than 1e-12 times the square of its longest edge. Such a triangle is
// treated as its three edges.
bool isDegenerate(Tri const& t);

// Closest point to p on segment a..b (a point when a == b).
Vec3 closestOnSegment(Vec3 const& p, Vec3 const& a, Vec3 const& b);

// Distance between segments a0..a1 and b0..b1, with closest points (either
// may be null). Parallel and zero-length segments are handled.
double segmentDistance(Vec3 const& a0, Vec3 const& a1, Vec3 const& b0, Vec3 const& b1, Vec3* outP = nullptr,
                       Vec3* outQ = nullptr);

// Distance from p to the (solid, flat) triangle t, with the closest point.
double pointTriangleDistance(Vec3 const& p, Tri const& t, Vec3* outClosest = nullptr);

// True when segment a..b crosses the plane of the non-degenerate triangle t
// at a point of t (a segment lying in the plane is not reported here; its
// contact shows through vertex-face and edge-edge distances).
bool segmentPiercesTriangle(Vec3 const& a, Vec3 const& b, Tri const& t, Vec3* outPoint = nullptr);

// Distance between the segment a..b and the triangle t.
double segmentTriangleDistance(Vec3 const& a, Vec3 const& b, Tri const& t);

// Distance between two triangles with a closest point on each (p on a, q on
// b; the same point when they intersect). Either pointer may be null.
double triangleDistance(Tri const& a, Tri const& b, Vec3* outP = nullptr, Vec3* outQ = nullptr);

// True when the two triangles share a point.
bool trianglesIntersect(Tri const& a, Tri const& b);

// An oriented box: centre, axes (axis[i] is unit box axis i in world
// coordinates) and half-lengths.
struct Box {
    Vec3 centre;
    Vec3 axis[3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    double half[3] = {0, 0, 0};
};

// A box centred at the origin with the world axes.
Box axisBox(double hx, double hy, double hz);

// Box with half-lengths h placed by the rotation R (R[i][j], row i, column
// j: column j is box axis j) and the translation T.
Box placedBox(double const* h, double const (&R)[3][3], double const* T);

Vec3 closestOnBox(Vec3 const& p, Box const& b);
double pointBoxDistance(Vec3 const& p, Box const& b);
bool segmentIntersectsBox(Vec3 const& a, Vec3 const& b, Box const& box);

// Distance between two solid boxes (0 when they overlap).
double boxDistance(Box const& a, Box const& b);

// Distance between a solid box and a triangle (0 when they meet).
double boxTriangleDistance(Box const& box, Tri const& t);

std::ostream& operator<<(std::ostream& s, Vec3 const& v);

} // namespace tvxtest
