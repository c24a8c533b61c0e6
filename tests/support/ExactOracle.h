#pragma once

#include <gmpxx.h>

#include <array>

namespace tvxtest {

// Exact answers about triangles with rational coordinates (GMP), the oracle
// of the triangle-pair differential tests.
//
// It shares no method with the library: the squared distance of two
// triangles is the least squared distance of an edge of one to the other
// triangle, found by solving the small least-squares problems of each
// feature pair exactly (barycentric and segment parameters as rationals,
// clamped to their domains), and an edge that crosses a triangle's plane is
// located by its exact crossing point and that point's barycentric
// coordinates. Degenerate triangles (collinear or repeated vertices) are
// the segments or points they span. Every answer is exact; the only rounding
// is the final conversion of a squared distance to double.
struct QPoint {
    mpq_class x, y, z;
};
using QTri = std::array<QPoint, 3>;

// A float triangle (rows are vertices), exactly.
QTri exactTri(float const (*t)[3]);

// The triangle placed by the affine map m (row-major 3x4: rotation block in
// columns 0..2, translation in column 3), computed exactly from the doubles.
QTri placedTri(float const (*t)[3], double const (&m)[3][4]);

// Exact squared distance of two triangles (0 when they share a point).
mpq_class squaredDistance(QTri const& a, QTri const& b);

// The same, rounded to double, and whether the triangles share a point.
struct ExactAnswer {
    bool touch = false;
    double distance = 0.0; // the square root of the exact squared distance, in double
};
ExactAnswer exactAnswer(QTri const& a, QTri const& b);

// Exact squared distance of a point to a triangle.
mpq_class squaredDistance(QPoint const& p, QTri const& t);

} // namespace tvxtest
