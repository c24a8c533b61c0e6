#pragma once

#include <tvx/bvtree/internal/CtvxObbRangePasses.h>

class CqarPoint3;
class CqarVect3;
class CtvxOBB;
class CtvxObbBuildSet;

// A range of the build waiting for its box: its bounds, and its principal
// axes once solved (columns of axes).
struct CtvxObbPart {
    int first;
    int count;
    CtvxObbBounds bounds;
    bool hasAxes;
    float axes[3][3];
};

// The box fits of the tree build, and the split each proposes.
//
// The default fit turns a range's principal axes (the eigenvectors of its
// scatter about the centre of its bounds, largest spread first) and its
// extents along them into a box enlarged by 1 %, and proposes to split at
// the middle of the box along its longest axis. The axis-aligned fit is the
// bounds themselves, split across the longest side. A lone triangle gets a
// flat box along its longest edge. Boxes are written with the CtvxOBB
// setters (binary16); the default fit's first box fixes the tree's scale.
struct CtvxObbFits {
    // The principal axes of up to CtvxObbEigen::kMaxProblems parts, solved
    // together; each part's bounds must be set. scaleFree: the solve's
    // stop relative to each scatter (CtvxObbEigen::solve).
    static void principalAxes(CtvxObbBuildSet const& set, CtvxObbPart* const* parts, int n,
                              bool scaleFree = false);

    // The default box from its axes and the extents along them (dims[0]
    // the minima, dims[1] the maxima). With fixScale, storedScale is first
    // set so that the box's farthest reach from the origin maps to half the
    // binary16 range; lengths are stored times storedScale when that is at
    // most 1. The split proposal is axis 0 through the box's centre.
    static void boxFromAxes(float const (*axes)[3], float const (*dims)[3], bool fixScale, float& storedScale,
                            CtvxOBB& box, CqarVect3& axis, double& splitValue);

    // The axis-aligned box of the bounds, unscaled, split at its centre as
    // stored across its longest side (ties favour y over x and z).
    static void axisAlignedBox(CtvxObbBounds const& b, CtvxOBB& box, CqarVect3& axis, double& splitValue);

    // Axes of one triangle (in double): axis 0 along its longest edge,
    // axis 2 against its normal, right-handed; the identity for three equal
    // vertices, and a normal across a coordinate axis for a needle.
    static void triangleAxes(CqarPoint3 const* p, float (*axes)[3]);
    // The flat box of one triangle on those axes, unenlarged and unscaled.
    static void oneTriangleBox(CqarPoint3 const* p, CtvxOBB& box);
};
