#pragma once

#include <tvx/bvtree/CtvxPolyhedronBVTree.h>
#include <tvx/bvtree/CtvxPolyhedronOBBTreeFactory.h>
#include <tvx/geometry/CtvxPoly.h>
#include <tvx/scene/CtvxObjectOBB.h>

#include <qar/CqarMat4.h>

#include <boost/shared_ptr.hpp>
#include <boost/weak_ptr.hpp>

#include <cstdint>
#include <cstring>
#include <mutex>
#include <unordered_map>
#include <vector>

// The trees built over one mesh, kept so that every polyhedron that sees the
// mesh the same way hands out the same tree instead of building its own.
//
// A tree is a function of the stored floats, of the points transform they
// are read through and of the builder's three process-wide settings; nothing
// else enters it. An entry records all of these, and a polyhedron whose key
// matches adopts the entry's tree (read-only from then on) and a copy of its
// own box. Entries hold their tree weakly: the tree dies with the last
// polyhedron that holds it, and dead entries are dropped at the next lookup,
// so the shelf never holds more entries than there are distinct live trees.
//
// The mutex is held across lookup and build, so that polyhedra of several
// threads sharing one mesh build its tree once and never read a tree under
// construction. It is recursive because a progress delegate may make another
// polyhedron of the same mesh a collision entity from inside the build; that
// nested call finds no finished entry and builds a tree of its own.
struct CtvxTreeShelf {
    struct Key {
        std::uint64_t revision = 0;
        double transform[16] = {};
        CtvxPolyhedronOBBTreeFactory::EAlgoObbPlacement placement = CtvxPolyhedronOBBTreeFactory::OBB_PLACEMENT_DEFAULT;
        bool conservative = true;
        bool scaleFree = false;

        // Bit patterns, not values: a -0 translation reads zero coordinates
        // as +0 and builds boxes of other signs than +0 would, and a NaN
        // never equals itself by value.
        bool operator==(Key const& o) const
        {
            return revision == o.revision && placement == o.placement && conservative == o.conservative &&
                   scaleFree == o.scaleFree && std::memcmp(transform, o.transform, sizeof transform) == 0;
        }
    };

    struct Entry {
        Key key;
        boost::weak_ptr<CtvxPolyhedronBVTree> tree;
        // The polyhedron's own box as the builder left it; null for a mesh
        // without triangles.
        boost::shared_ptr<CtvxObjectOBB const> box;
    };

    static Key keyOf(std::uint64_t revision, CqarMat4 const& pointsTransform)
    {
        Key k;
        k.revision = revision;
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 4; ++c)
                k.transform[r * 4 + c] = pointsTransform(r, c);
        k.placement = CtvxPolyhedronOBBTreeFactory::algoObbPlacement();
        k.conservative = CtvxPolyhedronOBBTreeFactory::conservativeBoxes();
        k.scaleFree = CtvxPolyhedronOBBTreeFactory::scaleFreeAxes();
        return k;
    }

    // The live entry of that key, or null; drops dead entries on the way.
    Entry const* find(Key const& key)
    {
        Entry const* found = nullptr;
        for (std::size_t i = 0; i < entries.size();) {
            if (entries[i].tree.expired()) {
                entries[i] = entries.back();
                entries.pop_back();
                continue;
            }
            if (entries[i].key == key)
                found = &entries[i];
            ++i;
        }
        return found;
    }

    std::recursive_mutex mutex;
    std::vector<Entry> entries;
    // The triangle sets whose trees were built over this mesh as it is (a
    // polyhedron's own, or a regrouped assembly's group with a member on
    // it). The first point or triangle added marks them all stale and
    // empties the list; a set enters it again with its next build.
    std::vector<boost::weak_ptr<CtvxPoly>> watchers;
    // Where each set of the list sits in it, by address: a set watched again
    // (rebuilt, or one of many instances of the mesh) is found without a
    // scan of the list. An address may be that of a set that died since;
    // its entry then is expired and passes to the set now living there.
    std::unordered_map<CtvxPoly const*, std::size_t> watcherRank;
    // Live entries left by the last sweep of the expired ones: the next
    // sweep waits for the list to double, so that sweeping costs a bounded
    // number of steps per set added.
    std::size_t watchersAtSweep = 0;
    // Entries looked at by watches and sweeps, over the shelf's life: a
    // count of the list's upkeep, read by the tests to see it stays linear
    // in the watches made.
    std::size_t watcherSteps = 0;
};
