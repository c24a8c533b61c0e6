#pragma once

class CqarVect3;
class CtvxObbBuildSet;
class CtvxObbRoundingMend;

// Axis-aligned bounds of the vertices of a range.
struct CtvxObbBounds {
    float lo[3];
    float hi[3];
};

// The passes of the tree build over a range of positions of a
// CtvxObbBuildSet (first, count): bounds, the scatter about their centre,
// extents along given axes, and the pass that splits the range. Each is
// written once against the lanes of CtvxLanes.h.
//
// Where the set allows it (CtvxObbBuildSet::orderFree()), extremes are
// gathered side by side, the three vertices of a triangle in three lanes,
// which gives the very floats of the plain fold in range order (the in-order
// versions here are that fold, and the fallback for NaN, -0 and huge
// coordinates). Sums are always taken in range order, lane by lane, because
// float addition does not reassociate.
struct CtvxObbRangePasses {
    // In range order, the first vertex initialising both bounds; an empty
    // range gives zeros.
    static void boundsInOrder(CtvxObbBuildSet const& set, int first, int count, CtvxObbBounds& b);
    // Side by side; only for an order-free set and a non-empty range.
    static void boundsSideBySide(CtvxObbBuildSet const& set, int first, int count, CtvxObbBounds& b);
    // The bounds the fits use: side by side where the set allows it.
    static void bounds(CtvxObbBuildSet const& set, int first, int count, CtvxObbBounds& b);

    // The symmetric scatter matrix about the centre of b (not the mean):
    // one term per vertex of every triangle, unweighted, summed in range
    // order.
    static void scatter(CtvxObbBuildSet const& set, int first, int count, CtvxObbBounds const& b,
                        float (*scatter)[3]);

    // Extents along the columns of axes: dims[0] the minimum projections,
    // dims[1] the maxima. In range order, the first vertex initialising
    // both; an empty range gives zeros.
    static void extentsInOrder(CtvxObbBuildSet const& set, int first, int count, float const (*axes)[3],
                               float (*dims)[3]);
    // Side by side; only for an order-free set, axes of components at most
    // 2 and a non-empty range.
    static void extentsSideBySide(CtvxObbBuildSet const& set, int first, int count, float const (*axes)[3],
                                  float (*dims)[3]);
    // The extents the fits use: side by side where set and axes allow it.
    static void extents(CtvxObbBuildSet const& set, int first, int count, float const (*axes)[3], float (*dims)[3]);

    // Reorders the range so that the triangles whose centroid lies strictly
    // below splitValue along axis (or is NaN) come first, in the order they
    // were met, and returns how many they are; when they are none or all,
    // the range is cut in the middle of its order instead (count / 2). On
    // the way, each triangle goes to mend when not null, and when parts is
    // not null and the set is order-free, parts[0] and parts[1] receive the
    // bounds of the two parts.
    static int split(CtvxObbBuildSet& set, int first, int count, CqarVect3 const& axis, double splitValue,
                     CtvxObbRoundingMend* mend, CtvxObbBounds* parts);
};
