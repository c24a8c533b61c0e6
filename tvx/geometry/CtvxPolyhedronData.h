#pragma once

#include <tvx/tvxExport.h>
#include <tvx/math/CtvxPoint.h>
#include <tvx/math/CtvxTriangle.h>

#include <qar/CqarVect3.h>

#include <boost/shared_ptr.hpp>
#include <boost/weak_ptr.hpp>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class CtvxPoly;
struct CtvxTreeShelf;

// The raw mesh: an array of single-precision points and an array of
// triangles that name points by rank.
//
// Create one with create(), append points and triangles (ranks are handed out
// from 0 in order of addition and never change), and hand it to one or more
// polyhedra, which see it through their own points transform. It applies no
// transform and checks no rank: triangles may name points that are added
// later. Both arrays are contiguous, 12 bytes an element. When memory runs
// out while appending or reserving, the standard exception propagates and
// the arrays keep their previous contents; an array cannot grow past the
// 2^32 - 1 elements that its 32-bit ranks can address (std::length_error).
// The polyhedra that see a mesh through the same points transform share one
// OBB tree, built by the first of them to become a collision entity and kept
// here (weakly) for the others; revision() tells whether the mesh changed
// since a tree was built over it. Adding a point or a triangle marks every
// tree built over the mesh stale (CtvxPoly::isBVStale), and the scene boxes
// around those trees with it, so no query answers from a tree that misses
// triangles: each is rebuilt at its next use. Appending to a mesh while
// another thread reads it (queries or builds over it) is a data race.
class TVX_API CtvxPolyhedronData {
public:
    static boost::shared_ptr<CtvxPolyhedronData> create();

    CtvxPolyhedronData(CtvxPolyhedronData const&) = delete;
    CtvxPolyhedronData& operator=(CtvxPolyhedronData const&) = delete;
    virtual ~CtvxPolyhedronData();

    virtual unsigned int countTriangles() const;
    virtual unsigned int countPoints() const;
    // Writes the triangle's three points, in stored order, into points[0..2].
    // The readers check their ranks: a triangle or a point past the end
    // (a triangle may name points not added yet) reads as zeros.
    virtual void getTriangle(unsigned int rank, CqarPoint3* const points) const;
    virtual void getTriangle(unsigned int rank, unsigned int& p1, unsigned int& p2, unsigned int& p3) const;
    virtual void getPoint(unsigned int rank, CqarPoint3& point) const;
    virtual void getPoint(unsigned int rank, float& x, float& y, float& z) const;
    virtual std::string const& className() const;
    // Releases spare capacity; counts, contents and ranks stay as they are.
    virtual void optimizeMemory();

    void addPoint(float x, float y, float z, unsigned int& rank);
    void addPoint(CqarPoint3 const& point, unsigned int& rank);
    void addTriangle(unsigned int p1, unsigned int p2, unsigned int p3, unsigned int& rank);
    void reserveNPoints(unsigned int n);
    void reserveNTriangles(unsigned int n);

    // Contiguous read access for code that walks the whole mesh.
    CtvxPoint const* points() const { return m_points.data(); }
    CtvxTriangle const* triangles() const { return m_triangles.data(); }

    // Changes with every point or triangle added (reserving and releasing
    // capacity leave it alone): a tree built at one revision holds exactly
    // the triangles of that revision.
    std::uint64_t revision() const { return m_revision; }

    // The trees shared over this mesh and the sets to mark stale on an
    // addition; its type is internal to the library (read by its tests).
    CtvxTreeShelf& treeShelf() const { return *m_treeShelf; }

protected:
    CtvxPolyhedronData();

private:
    // Looks up and fills the shelf of shared trees.
    friend class CtvxPolyhedron;
    // A group's tree is built over its members' meshes.
    friend class CtvxPolyhedronGroup;

    void invariant() const {}
    // Registers set to be marked stale by the next addition.
    void watch(boost::weak_ptr<CtvxPoly> const& set);
    // After an addition: marks the registered sets stale, empties the list.
    void changed();

    static std::string const m_className;

    std::vector<CtvxPoint> m_points;
    std::vector<CtvxTriangle> m_triangles;
    std::uint64_t m_revision = 0;
    std::unique_ptr<CtvxTreeShelf> m_treeShelf;
    // Whether the shelf lists sets to mark stale: read on every addition
    // without taking the shelf's lock (appending concurrently with a build
    // over the mesh is outside the contract anyway).
    bool m_isWatched = false;
};
