#pragma once

#include <tvx/bvtree/CtvxTreeFactory.h>

#include <boost/shared_ptr.hpp>

class CtvxObjectOBB;
class CtvxPolyhedronOBBTree;

// Builds the OBB tree of a triangle set, top down.
//
// A box is fitted to a range of triangles (principal axes by default, or
// axis-aligned), the range is split at the middle of the box along its
// longest axis, and both parts are built in turn until single triangles
// remain, which are coded in their parent box. The first box fitted fixes
// the tree's storage scale. The set's own box is made from the root. One
// factory serves one build: CtvxPoly::buildBV() creates it, calls build()
// and drops it. build() reports each finished box to the delegate, in
// post-order, with the position of the box's first triangle in the final
// order of the leaves; the root comes last, with 0.
//
// Stored boxes are binary16: rounding the centre and the quaternion can move
// and turn a box by more than the 1 % margin of the fit (a flat box has no
// margin at all across its plane). Unless conservativeBoxes(false) is set,
// the builder therefore checks each box as the queries decode it and rounds
// its half lengths up just enough that it contains its triangles; axes,
// centres and splits are unchanged. The set's own box gets the same check.
class TVX_API CtvxPolyhedronOBBTreeFactory : public CtvxTreeFactory {
public:
    enum EAlgoObbPlacement {
        OBB_PLACEMENT_AABB_LIKE = 0,
        OBB_PLACEMENT_DEFAULT = 1
    };

    static boost::shared_ptr<CtvxPolyhedronOBBTreeFactory> create();

    void build(boost::shared_ptr<CtvxPoly>& poly, boost::shared_ptr<CtvxProgressDelegate>& delegate) override;
    ~CtvxPolyhedronOBBTreeFactory() override;

    // The fit used by every factory of the process. The library never
    // changes it; the setter is for tests and tools, and an unknown value
    // selects the default fit.
    static EAlgoObbPlacement algoObbPlacement();
    static void algoObbPlacement(EAlgoObbPlacement algo);
    // Whether boxes are enlarged to survive their binary16 rounding (on by
    // default). Switching it off reproduces the boxes as first fitted, for
    // measurements.
    static bool conservativeBoxes();
    static void conservativeBoxes(bool on);
    // Opt-in (off by default): the principal axes solved to a stop relative
    // to each range's scatter, so that the boxes of a set in small units,
    // a mesh a fraction of a unit across, are as flat as those of the same
    // set scaled up; off, a range whose scatter is below 1e-5 keeps the
    // set's own axes. Trees built with it differ from the default ones, and
    // with them which contact pair a first-contact query reports first, the
    // order of all contacts and, between pairs at exactly the same distance,
    // the closest points; distances are the same.
    static bool scaleFreeAxes();
    static void scaleFreeAxes(bool on);

protected:
    CtvxPolyhedronOBBTreeFactory() = default;
    void init(boost::shared_ptr<CtvxPolyhedronOBBTreeFactory>& self);

private:
    // Gives the poly its own box (null for a poly without triangles),
    // replacing the one it had, if tree is still the poly's tree.
    static void handOver(CtvxPoly& poly, CtvxPolyhedronOBBTree const& tree, CtvxObjectOBB* box);

    static EAlgoObbPlacement m_algoObbPlacement;
    static bool s_conservativeBoxes;
    static bool s_scaleFreeAxes;
};
