#pragma once

// One symmetric 3x3 eigen problem: the scatter matrix of a range of
// triangles, whose eigenvectors are the range's principal axes.
struct CtvxEigenProblem {
    // The matrix; only the diagonal and the upper off-diagonal entries are
    // read, and the off-diagonal ones are destroyed.
    float a[3][3];
    // Eigenvalues, and the eigenvectors as the columns of v.
    float d[3];
    float v[3][3];
    // Sweeps run before the stop test held, or -1 after the last sweep
    // without it (d and v then hold the last iterate).
    int sweeps;
};

// The eigen solves of the tree build.
//
// solve() runs the cyclic Jacobi method in float on up to kMaxProblems
// problems at once, one a lane (CtvxLanes.h): each rotation is a long chain
// of divisions and square roots, and the solves of sibling boxes overlap
// their chains. A lane gives exactly what the method gives for its problem
// alone: its operations are those of the plain method in the plain order,
// branches become masks, and a lane whose solve has stopped keeps its
// values. axesFromEigen() turns a solution into the axes of a box.
struct CtvxObbEigen {
    static int const kMaxProblems = 4;

    // The solve stops once the off-diagonal mass is at most 1e-5 (compared
    // in double). With scaleFree, at most 1e-5 of the starting diagonal's
    // mass where that is below 1: the scatter of a range scales with the
    // square of its size, so the fixed stop leaves every range small enough
    // in the set's units unrotated, its box along the set's axes (on a bunny
    // 0.15 units across, the boxes of a few triangles come out four to ten
    // times as thick as principal axes make them). Above 1 both stops are
    // the same.
    static void solve(CtvxEigenProblem* problems, int n, bool scaleFree = false);

    // Axis 0 the eigenvector of the largest eigenvalue, axis 1 the second,
    // axis 2 their cross product; the axes are the columns of axes. With
    // d0 == d1, index 1 counts as the larger; index 2 leads only when
    // strictly larger than both, and comes second when at least the smaller.
    static void axesFromEigen(float const* d, float const (*v)[3], float (*axes)[3]);
};
