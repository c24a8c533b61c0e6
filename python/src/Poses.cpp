// Poses and query types as Python hands them over.

#include "Common.h"

#include <batch/CtvxBatchBody.h>
#include <tools/tvx/Pose.h>

#include <cmath>

namespace tvxpy {

CtvxAnalysis::EAnalysisType parseType(std::string const& name)
{
    if (name == "first")
        return CtvxAnalysis::FIRST_COLLISION;
    if (name == "all")
        return CtvxAnalysis::ALL_COLLISIONS;
    if (name == "exact")
        return CtvxAnalysis::EXACT_DISTANCE;
    if (name == "estimated")
        return CtvxAnalysis::ESTIMATED_DISTANCE;
    throw py::value_error("type must be one of 'first', 'all', 'exact', 'estimated', not '" + name + "'");
}

namespace {

// The array as C-ordered doubles, after checking that it holds real numbers
// (booleans, complex numbers and objects are refused, not converted).
py::array_t<double, py::array::c_style> realArray(py::handle obj, char const* what)
{
    py::array const raw = py::array::ensure(obj);
    if (!raw)
        throw py::type_error(std::string(what) + " must be an array of numbers");
    char const kind = raw.dtype().kind();
    if (kind != 'f' && kind != 'i' && kind != 'u')
        throw py::type_error(std::string(what) + " must hold real numbers, not " +
                             std::string(py::str(raw.dtype())));
    return py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(raw);
}

// Writes the 16 numbers of pose i of a (N, 4, 4) or (N, 6) array.
void poseAt(double const* src, bool angles, std::size_t i, double* out, char const* what)
{
    std::size_t const width = angles ? 6 : 16;
    for (std::size_t k = 0; k < width; ++k)
        if (!std::isfinite(src[i * width + k]))
            throw py::value_error(std::string(what) + ": pose " + std::to_string(i) + " has a number that is not finite");
    if (angles) {
        tvxcli::Pose p;
        for (int k = 0; k < 3; ++k) {
            p.translation[k] = src[i * 6 + static_cast<std::size_t>(k)];
            p.angles[k] = src[i * 6 + 3 + static_cast<std::size_t>(k)];
        }
        CqarMat4 const m = tvxcli::poseMatrix(p);
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 4; ++c)
                out[4 * r + c] = m(r, c);
        return;
    }
    for (std::size_t k = 0; k < 16; ++k)
        out[k] = src[i * 16 + k];
    if (!CtvxBatchBody::isRigid(out))
        throw py::value_error(std::string(what) + ": pose " + std::to_string(i) +
                              " is not a rigid placement (rotation orthonormal within 1e-6 with determinant +1, "
                              "bottom row 0 0 0 1)");
}

} // namespace

CqarMat4 placementOf(py::handle pose, char const* what)
{
    if (pose.is_none())
        return CqarMat4();
    py::array_t<double, py::array::c_style> const a = realArray(pose, what);
    bool const matrix = a.ndim() == 2 && a.shape(0) == 4 && a.shape(1) == 4;
    bool const angles = a.ndim() == 1 && a.shape(0) == 6;
    if (!matrix && !angles)
        throw py::value_error(std::string(what) + " must be a (4, 4) rigid matrix or 6 numbers tx ty tz rx ry rz");
    double v[16];
    poseAt(a.data(), angles, 0, v, what);
    CqarMat4 m;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            m(r, c) = v[4 * r + c];
    return m;
}

std::vector<double> posesOf(py::handle poses, char const* what)
{
    py::array_t<double, py::array::c_style> const a = realArray(poses, what);
    bool const matrices = a.ndim() == 3 && a.shape(1) == 4 && a.shape(2) == 4;
    bool const angles = a.ndim() == 2 && a.shape(1) == 6;
    if (!matrices && !angles)
        throw py::value_error(std::string(what) + " must be an (N, 4, 4) array of rigid matrices or an (N, 6) array "
                              "tx ty tz rx ry rz");
    std::size_t const n = static_cast<std::size_t>(a.shape(0));
    std::vector<double> out(16 * n);
    for (std::size_t i = 0; i < n; ++i)
        poseAt(a.data(), angles, i, out.data() + 16 * i, what);
    return out;
}

py::array_t<double> matrixArray(CqarMat4 const& m)
{
    py::array_t<double> out({4, 4});
    auto v = out.mutable_unchecked<2>();
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            v(r, c) = m(r, c);
    return out;
}

} // namespace tvxpy
