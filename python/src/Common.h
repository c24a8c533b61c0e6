#pragma once

// What the binding's source files share: the holder of every library object
// (the library hands out boost::shared_ptr and refers back weakly, so a
// Python reference is one more owner and can never dangle), the mesh as
// Python sees it, and the conversions of poses and query types.

#include <tvx/analysis/CtvxAnalysis.h>

#include <qar/CqarMat4.h>

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <boost/shared_ptr.hpp>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

PYBIND11_DECLARE_HOLDER_TYPE(T, boost::shared_ptr<T>)

class CtvxPolyhedron;
class CtvxPolyhedronData;

namespace tvxpy {

namespace py = pybind11;

// A triangle mesh: the library's shared point and triangle arrays, and the
// polyhedron that holds their OBB tree once it is built, so that every
// polyhedron, query and batch over the mesh adopts that one tree.
struct Mesh {
    boost::shared_ptr<CtvxPolyhedronData> data;
    boost::shared_ptr<CtvxPolyhedron> keeper;
    std::uint64_t keeperRevision = 0;
    std::string source; // the file it was read from, or empty
    std::string name;   // the part's name in that file when read as parts, else empty
    // The tree builder's opt-in principal axes
    // (CtvxPolyhedronOBBTreeFactory::scaleFreeAxes) for this mesh's tree.
    bool scaleFreeAxes = false;

    // Builds the tree (without the GIL) unless built at this revision.
    void ensureTree();
    // The points, the triangles and the tree if one is built at this
    // revision, as stored (what a cache of meshes counts against its bound).
    std::size_t bytes() const;
};

// Holds the tree builder's process-wide principal-axes setting at one value
// while the binding builds trees or looks them up (the library reads the
// setting at both), so that a mesh's setting never reaches another thread's
// build. Scopes of the same setting run together, on any number of
// threads; a scope of the other setting waits, without the GIL, until every
// scope in flight has ended. The first scope in sets the value, the last
// one out puts back the value it found. Made and ended with the GIL held.
// Builds that a host makes from C++ in the same process, outside the
// binding, are not covered. A thread already holding a scope of the other
// setting (a batch's progress callback) gets a RuntimeError, not a wait for
// itself.
class AxesScope {
public:
    explicit AxesScope(bool scaleFreeAxes);
    ~AxesScope();
    AxesScope(AxesScope const&) = delete;
    AxesScope& operator=(AxesScope const&) = delete;
};

// "first", "all", "exact", "estimated"; ValueError otherwise.
CtvxAnalysis::EAnalysisType parseType(std::string const& name);

// One rigid placement from a (4, 4) matrix or a (6,) vector tx ty tz rx ry
// rz (the tool's convention); None gives the identity. TypeError for
// anything but real numbers, ValueError for other shapes, numbers that are
// not finite, or a matrix that is not rigid. what names the argument.
CqarMat4 placementOf(py::handle pose, char const* what);

// Many poses, (N, 4, 4) or (N, 6), as N row-major 4x4 blocks; the same
// checks, naming the first bad pose.
std::vector<double> posesOf(py::handle poses, char const* what);

py::array_t<double> matrixArray(CqarMat4 const& m);

void bindScene(py::module_& m);
void bindBatch(py::module_& m);

} // namespace tvxpy
