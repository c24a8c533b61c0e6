#pragma once

// Helpers shared by the tree tests of this folder: reaching a poly's tree,
// restoring the builder's settings, and walking a tree's shape
// independently of the library's own validator.

#include <tests/support/Meshes.h>
#include <tests/support/TestPoly.h>

#include <tvx/bvtree/CtvxOBB.h>
#include <tvx/bvtree/CtvxPolyhedronOBBTree.h>
#include <tvx/bvtree/CtvxPolyhedronOBBTreeFactory.h>
#include <tvx/progress/CtvxProgressDelegate.h>

#include <boost/shared_ptr.hpp>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

namespace tvxtest {

inline CtvxPolyhedronOBBTree* treeOf(CtvxPoly const& poly)
{
    CtvxPolyhedronBVTree* tree = nullptr;
    if (poly.getBoundingVolumes(tree) != 0)
        return nullptr;
    return dynamic_cast<CtvxPolyhedronOBBTree*>(tree);
}

inline boost::shared_ptr<TestPoly> builtPoly(Mesh const& mesh,
                                             boost::shared_ptr<CtvxProgressDelegate> delegate =
                                                 boost::shared_ptr<CtvxProgressDelegate>())
{
    boost::shared_ptr<TestPoly> poly = TestPoly::create(mesh);
    poly->buildBV(delegate, CtvxPoly::BV_OBB_TREE);
    return poly;
}

// Restores the process-wide builder settings when a test ends, also when it
// ends early on a failed assertion, so later tests build with the defaults.
struct FactorySettingsGuard {
    FactorySettingsGuard() = default;
    FactorySettingsGuard(FactorySettingsGuard const&) = delete;
    FactorySettingsGuard& operator=(FactorySettingsGuard const&) = delete;
    ~FactorySettingsGuard()
    {
        CtvxPolyhedronOBBTreeFactory::conservativeBoxes(true);
        CtvxPolyhedronOBBTreeFactory::algoObbPlacement(CtvxPolyhedronOBBTreeFactory::OBB_PLACEMENT_DEFAULT);
        CtvxPolyhedronOBBTreeFactory::scaleFreeAxes(false);
    }
};

// What a walk of the tree finds, checked against the rules of the builder
// without using any of its code.
struct TreeShape {
    std::string error; // empty when the shape is as the builder promises
    int depth = 0;
    // Post-order of the boxes (first child first) with the position of each
    // box's first triangle in the leaf order: what didBuildNode must report.
    std::vector<unsigned int> postOrderFirsts;
    std::vector<int> leafOrder;
};

inline TreeShape walkTree(CtvxPolyhedronOBBTree const& tree, unsigned int n)
{
    TreeShape shape;
    std::ostringstream why;
    int const boxes = tree.countObbs();
    int const expected = n >= 2 ? static_cast<int>(n) - 1 : 0;
    if (boxes != expected)
        why << boxes << " boxes for " << n << " triangles; ";
    std::vector<int> parentCount(static_cast<std::size_t>(boxes), 0);
    std::vector<int> triangleCount(n, 0);
    for (int b = 0; b < boxes; ++b) {
        CtvxOBB const* box = tree.getObb(b);
        int const c1 = box->getChild1Rank();
        int const c2 = box->getChild2Rank();
        for (int c : {c1, c2}) {
            if (c > 0) {
                if (c <= b || c >= boxes)
                    why << "box " << b << " has child " << c << "; ";
                else
                    ++parentCount[static_cast<std::size_t>(c)];
            } else if (static_cast<unsigned int>(-c) >= n) {
                why << "box " << b << " codes triangle " << -c << "; ";
            } else {
                ++triangleCount[static_cast<std::size_t>(-c)];
            }
        }
        if (c1 > 0 && c2 > 0 && c2 != c1 + 1)
            why << "box " << b << " children " << c1 << ", " << c2 << " not consecutive; ";
    }
    for (int b = 1; b < boxes; ++b)
        if (parentCount[static_cast<std::size_t>(b)] != 1)
            why << "box " << b << " has " << parentCount[static_cast<std::size_t>(b)] << " parents; ";
    if (boxes > 0)
        for (unsigned int t = 0; t < n; ++t)
            if (triangleCount[t] != 1)
                why << "triangle " << t << " coded " << triangleCount[t] << " times; ";
    shape.error = why.str();
    if (!shape.error.empty() || boxes == 0)
        return shape;

    // Iterative walk (trees may be deep): enter a box, then leave it after
    // both children; a triangle appends itself to the leaf order.
    enum Kind { BOX, TRIANGLE, LEAVE };
    struct Item {
        Kind kind;
        int value;
        int depth;
        unsigned int first;
    };
    auto child = [](int code, int depth) {
        return code > 0 ? Item{BOX, code, depth, 0} : Item{TRIANGLE, -code, depth, 0};
    };
    std::vector<Item> stack{{BOX, 0, 1, 0}};
    while (!stack.empty()) {
        Item const it = stack.back();
        stack.pop_back();
        if (it.kind == LEAVE) {
            shape.postOrderFirsts.push_back(it.first);
            continue;
        }
        if (it.kind == TRIANGLE) {
            shape.leafOrder.push_back(it.value);
            continue;
        }
        if (it.depth > shape.depth)
            shape.depth = it.depth;
        CtvxOBB const* box = tree.getObb(it.value);
        stack.push_back({LEAVE, it.value, it.depth, static_cast<unsigned int>(shape.leafOrder.size())});
        stack.push_back(child(box->getChild2Rank(), it.depth + 1));
        stack.push_back(child(box->getChild1Rank(), it.depth + 1));
    }
    return shape;
}

} // namespace tvxtest
