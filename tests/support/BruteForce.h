#pragma once

#include <tests/support/Meshes.h>
#include <tests/support/ReferenceGeometry.h>
#include <tests/support/SceneFixtures.h>

#include <set>
#include <utility>
#include <vector>

class CtvxVirtualPolyhedron;

namespace tvxtest {

// One triangle of a scene in world coordinates, with what a query result
// must name for it: the polyhedron that owns it and its rank there.
struct WorldTriangle {
    Tri tri;
    Vec3 lo, hi;
    CtvxVirtualPolyhedron const* owner = nullptr;
    int rank = -1;
    double tolerance = 0.0;
};

// The activated geometry of one side of a query, as a flat list.
struct WorldSide {
    std::vector<WorldTriangle> triangles;
    // Add a mesh as the library stores it (points rounded to float), placed
    // by world, owned by owner.
    void add(Mesh const& mesh, Affine const& world, CtvxVirtualPolyhedron const* owner, double tolerance);
    // The largest coordinate magnitude of the side in the world.
    double reach() const;
};

typedef std::pair<CtvxVirtualPolyhedron const*, int> TriangleKey;
typedef std::pair<TriangleKey, TriangleKey> TrianglePairKey;

// The all-pairs answer between two sides, in double precision. Pairs are
// culled only by their bounding boxes, which never overestimate a distance,
// so the answer is that of the full all-pairs loop.
struct BruteForceAnswer {
    // Clearance: minimum over pairs of distance minus both tolerances.
    double clearance = 1e300;
    Vec3 closest1, closest2;
    // Pairs whose clearance is below -band: in contact beyond doubt.
    std::set<TrianglePairKey> sureContacts;
    // Pairs whose clearance lies within [-band, band]: at the boundary,
    // where single-precision rounding may decide either way.
    std::set<TrianglePairKey> boundaryContacts;
};

// For two crossing triangles, how far one must move to part them (the
// smallest overlap over their separating-axis candidates); 0 when they do not
// cross robustly (touching, degenerate).
double penetrationDepth(Tri const& a, Tri const& b);

BruteForceAnswer bruteForce(WorldSide const& a, WorldSide const& b, double band);

// Distance from p to the nearest triangle of the side.
double distanceToSide(Vec3 const& p, WorldSide const& side);

} // namespace tvxtest
