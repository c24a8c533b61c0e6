#pragma once

#include <tests/support/Meshes.h>
#include <tests/support/RecordingDelegate.h>

#include <tvx/analysis/CtvxAnalysis.h>
#include <tvx/progress/CtvxProgressDelegate.h>

#include <qar/CqarMat4.h>

#include <boost/shared_ptr.hpp>

#include <array>
#include <initializer_list>
#include <string>
#include <vector>

class CtvxPolyhedronData;
class CtvxPolyhedron;
class CtvxObject;
class CtvxCollisionList;

namespace tvxtest {

// The mesh stored as polyhedron data (points narrowed to float).
boost::shared_ptr<CtvxPolyhedronData> makePolyData(Mesh const& mesh);
// A polyhedron over a fresh copy of the mesh.
boost::shared_ptr<CtvxPolyhedron> makePolyhedron(Mesh const& mesh);
// A polyhedron filled through its own addPoint and addTriangle, as a host
// fills one: each point (narrowed to float) passes the identity points
// transform on its way in, which turns a -0 coordinate into +0.
boost::shared_ptr<CtvxPolyhedron> polyhedronOf(Mesh const& mesh);
// A box of half lengths (hx, hy, hz), placed at (x, y, z) relative to its
// parent (or the world), made a collision entity.
boost::shared_ptr<CtvxPolyhedron> makeBoxEntity(double hx, double hy, double hz, double x = 0, double y = 0,
                                                double z = 0);

// A rigid transform in double precision, p -> R p + t, kept apart from the
// library's matrix types so that references do not run through them. With
// a uniform scale folded into R it also serves as a similarity.
struct Affine {
    double r[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    double t[3] = {0, 0, 0};

    static Affine rotation(double ax, double ay, double az, double angle);
    static Affine translation(double x, double y, double z);
    std::array<double, 3> apply(std::array<double, 3> const& p) const;
    Affine operator*(Affine const& b) const;
    // Inverse assuming R is a rotation times a uniform scale.
    Affine inverseSimilarity() const;
    // Inverse of any invertible R (cofactors over the determinant): after
    // thousands of compositions a placement is a rotation only to rounding,
    // and the transpose would not undo it as exactly as the library does.
    Affine inverse() const;
    double maxAbs() const;
};

Affine randomRigid(Random& rng, double maxTranslation);

// A collision list of the objects, in order, and an analysis of two lists.
boost::shared_ptr<CtvxCollisionList> listOf(std::initializer_list<boost::shared_ptr<CtvxObject>> objects);
boost::shared_ptr<CtvxAnalysis> analysisOf(boost::shared_ptr<CtvxCollisionList> const& l1,
                                           boost::shared_ptr<CtvxCollisionList> const& l2,
                                           CtvxAnalysis::EAnalysisType type);

// The transform as the utility library's matrix (bottom row 0 0 0 1).
CqarMat4 toQar(Affine const& a);
// A translation, and a rotation by angle a about z, as the utility library's
// matrices.
CqarMat4 translationMat(double x, double y, double z);
CqarMat4 rotationZMat(double a);

} // namespace tvxtest
