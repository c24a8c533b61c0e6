#pragma once

#include <tvx/bvtree/CtvxPolyhedronOBBTreeFactory.h>

#include <qar/CqarMat4.h>

#include <cstdint>
#include <vector>

class CtvxPoly;

namespace tvxtest {

// A box of the reference build, laid out as the library's 28-byte box record
// (two 32-bit codes, then the quaternion x, y, z, w, the centre and the
// three half lengths as binary16 patterns), so that whole trees can be
// compared byte for byte.
struct ReferenceBox {
    std::int32_t child1;
    std::int32_t child2;
    std::uint16_t rotation[4];
    std::uint16_t translation[3];
    std::uint16_t halfLengths[3];
};
static_assert(sizeof(ReferenceBox) == 28, "same layout as a tree box");

// Everything a tree build leaves behind.
struct ReferenceTree {
    std::vector<ReferenceBox> boxes;
    float storedScale = 1.0f;
    int depth = 0;
    // didBuildNode arguments, in call order.
    std::vector<unsigned int> reports;
    // The set's own box (absent for 0 triangles).
    bool hasOwnBox = false;
    CqarMat4 ownPosition;
    float ownHalfLengths[3] = {0.0f, 0.0f, 0.0f};
};

// The OBB tree builder written plainly, as the reference for the library's
// builder, which must give exactly this tree: plain recursion, every vertex
// read through CtvxPoly::getTriangle, one pass per quantity in range order,
// a single-matrix Jacobi solve, the fits and the rounding mend spelled out.
// It shares with the library only pieces that have one plain form there and
// tests of their own: the binary16 conversion (Binary16Test), the box of a
// lone triangle and the choice of axes among eigenvectors (ObbFitTest). It reads the process-wide fit choice,
// rounding mend switch and scale-free axes of CtvxPolyhedronOBBTreeFactory, and decodes stored
// boxes through CtvxOBB as the queries do.
ReferenceTree buildReferenceTree(CtvxPoly const& poly);

// The cyclic Jacobi method of the reference build on one symmetric 3x3
// matrix (diagonal and upper off-diagonal entries read, the latter
// destroyed): eigenvalues to d, eigenvectors to the columns of v. Returns
// the number of sweeps run before the stop test held, or -1 after 50. The
// stop: an off-diagonal mass below 1e-5; with scaleFree (the opt-in of
// CtvxPolyhedronOBBTreeFactory::scaleFreeAxes), at most 1e-5 times the
// starting diagonal's absolute mass where that is below 1.
int referenceJacobi(float (*a)[3], float* d, float (*v)[3], bool scaleFree = false);

} // namespace tvxtest
