#pragma once

// Exact geometric predicates on single-precision points, and the contact
// decision of two triangles built on them.
//
// Every predicate first evaluates in double precision with an error bound
// (the float inputs are exact in double, and a degree-3 polynomial of them
// can neither overflow nor underflow there: |x| < 2^128 gives products below
// 2^387, and the smallest nonzero product of differences is 2^-447, both far
// inside double's range). When the value is farther from zero than its
// bound the sign is certain; otherwise the polynomial is expanded into
// monomials of the raw coordinates, each an exact sum of at most two
// doubles, and the sign of their sum is found exactly by expansion
// arithmetic (error-free two-sum and two-product). The answers are therefore
// exact for every finite float input, whatever the magnitudes, and the
// exact stage runs only for configurations that are degenerate or within
// about 1e-15 of it relative to their own magnitudes.
//
// `ioExpansions`, where a function takes it, counts the exact evaluations
// that ran; callers use it to report how often the exact stage is reached.
class CtvxExactPredicates {
public:
    // Sign of the determinant | a-d ; b-d ; c-d | (rows): positive, zero or
    // negative as d lies on one side of the plane through a, b, c, on it, or
    // on the other. Zero also when a, b, c are collinear.
    static int orient3d(float const* a, float const* b, float const* c, float const* d,
                        unsigned long& ioExpansions);

    // Sign of | a-c ; b-c | in the coordinate plane (i, j): which side of
    // the line a b the point c lies on, seen along the third axis.
    static int orient2d(float const* a, float const* b, float const* c, int i, int j, unsigned long& ioExpansions);

    // True when the closed triangles p and q (rows are vertices) share a
    // point. Degenerate triangles are taken for what they are: a triangle
    // with collinear vertices is the segment they span, one with three equal
    // vertices is that point.
    static bool trianglesIntersect(float const (*p)[3], float const (*q)[3], unsigned long& ioExpansions);

private:
    CtvxExactPredicates() = delete;
};
