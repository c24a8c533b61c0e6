#pragma once

#include <tvx/math/CtvxPoint.h>
#include <tvx/math/CtvxTriangle.h>

#include <qar/CqarMat4.h>

class CtvxPoly;

// The stored floats of the library's own polyhedron, read as its
// getTriangle() hands them out narrowed back to float, but without a virtual
// call and two conversions per coordinate: the tree builder reads every
// triangle this way once, a tree descent every triangle it reaches.
//
// It exists only for a CtvxPolyhedron (exactly that class: a host's subclass
// may read its triangles otherwise) with mesh data and triangles, whose
// points transform acts as the identity on points; of() returns an empty one
// (valid() false) for anything else, and the caller reads through
// getTriangle(). Valid while the polyhedron and its data are neither edited
// nor replaced.
class CtvxDirectMesh {
public:
    static CtvxDirectMesh of(CtvxPoly const& poly);
    // The mesh's points where of() gives a valid direct mesh, null
    // otherwise; `count` receives their number. Each read as vertices()
    // reads it (coordinate()), they hold every vertex of every triangle,
    // and the points no triangle names yet.
    static CtvxPoint const* pointsOf(CtvxPoly const& poly, unsigned int& count);
    static float coordinate(float stored) { return stored + 0.0f; }

    // True when a product with m adds only zeros to each coordinate of a
    // point: a unit diagonal, zero (of either sign) elsewhere in the rotation
    // block, and a translation of +0. The translation is the last term
    // summed and decides the sign of a zero result, so a -0 translation
    // keeps a -0 coordinate that +0 would turn into +0. The bottom row takes
    // no part in a point product.
    static bool actsAsIdentityOnPoints(CqarMat4 const& m);

    bool valid() const { return m_triangles != nullptr; }
    unsigned int countTriangles() const { return m_count; }

    // The three vertices of triangle `rank`, nine floats, vertex after
    // vertex. Through the identity the polyhedron widens each stored float
    // to double and adds the +0 translation, which turns -0 into +0 and
    // leaves every other value as it is; adding 0.0f does the same.
    void vertices(unsigned int rank, float* out) const
    {
        unsigned int idx[3];
        m_triangles[rank].getPoints(idx[0], idx[1], idx[2]);
        for (int k = 0; k < 3; ++k) {
            CtvxPoint const& p = m_points[idx[k]];
            out[3 * k] = p.X() + 0.0f;
            out[3 * k + 1] = p.Y() + 0.0f;
            out[3 * k + 2] = p.Z() + 0.0f;
        }
    }
    void triangle(unsigned int rank, float (&out)[3][3]) const { vertices(rank, &out[0][0]); }

private:
    CtvxPoint const* m_points = nullptr;
    CtvxTriangle const* m_triangles = nullptr;
    unsigned int m_count = 0;
};
