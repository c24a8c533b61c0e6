#pragma once

#include <batch/tvxBatchExport.h>

#include <qar/CqarMat4.h>

#include <boost/shared_ptr.hpp>

#include <cstdint>
#include <vector>

class CtvxPolyhedron;
class CtvxPolyhedronData;
class CtvxProgressDelegate;

// A rigid body of a batch: one mesh, or several meshes placed in the body's
// frame, each with its tolerance.
//
// Create it with create(), add parts, and hand it to a CtvxBatchQuery (one
// body may serve several batches, also as both of their sides). The OBB
// tree of each part's mesh is built once, by buildTrees() or by the first
// batch that runs, and shared read-only by the polyhedra that every worker
// thread makes over the same mesh; the body keeps one polyhedron per part
// to hold those trees. Its meshes must not change while a batch runs; one
// that changed between batches gets a new tree at the next.
class TVXBATCH_API CtvxBatchBody {
public:
    static boost::shared_ptr<CtvxBatchBody> create();

    CtvxBatchBody(CtvxBatchBody const&) = delete;
    CtvxBatchBody& operator=(CtvxBatchBody const&) = delete;
    ~CtvxBatchBody();

    // Adds a mesh placed by a rigid placement in the body's frame, with a
    // tolerance. Returns -1 and adds nothing for a null mesh, a placement
    // that is not rigid (within kRigidTolerance) or not finite, or a
    // tolerance that is negative or not finite.
    int addPart(boost::shared_ptr<CtvxPolyhedronData> const& mesh, CqarMat4 const& placement, double tolerance);
    int addPart(boost::shared_ptr<CtvxPolyhedronData> const& mesh) { return addPart(mesh, CqarMat4(), 0.0); }

    unsigned int countParts() const { return static_cast<unsigned int>(m_parts.size()); }
    boost::shared_ptr<CtvxPolyhedronData> partMesh(unsigned int rank) const { return m_parts[rank].mesh; }
    CqarMat4 const& partPlacement(unsigned int rank) const { return m_parts[rank].placement; }
    double partTolerance(unsigned int rank) const { return m_parts[rank].tolerance; }

    // Builds the tree of every part not built yet (the delegate, which may
    // be empty, hears of each). Called from one thread at a time.
    void buildTrees(boost::shared_ptr<CtvxProgressDelegate>& delegate);

    // Deviation allowed from R^T R = I in a placement: poses read from text
    // carry the rounding of their last printed digit.
    static constexpr double kRigidTolerance = 1.0e-6;
    // Whether the 16 numbers (row-major) are a finite rigid placement.
    static bool isRigid(double const* rowMajor16);
    static bool isRigid(CqarMat4 const& m);

protected:
    CtvxBatchBody() = default;

private:
    struct Part {
        boost::shared_ptr<CtvxPolyhedronData> mesh;
        CqarMat4 placement;
        double tolerance = 0.0;
        // Made a collision entity by buildTrees(); its tree is the one the
        // workers' polyhedra adopt.
        boost::shared_ptr<CtvxPolyhedron> keeper;
        // The mesh's revision when the keeper's tree was built.
        std::uint64_t keeperRevision = 0;
    };
    void invariant() const {}

    std::vector<Part> m_parts;
};
